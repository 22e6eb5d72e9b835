#pragma once
// The stand-in as the terminal's Lua host shows it to a script: its books, order table, trades,
// replies and positions, and the callbacks that tell of their changes.
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "book_memory.h"
#include "lua_host.h"
#include "order_book.h"
#include "order_desk.h"
#include "securities.h"

namespace standin {

// A final reply as a script's OnTransReply gets it.
struct ScriptReply {
    std::int64_t transId = 0;
    std::int32_t status = 0;
    std::uint64_t orderNumber = 0;
    std::string description;      // Windows-1251
    std::size_t securityIndex = SIZE_MAX;  // none when the text named no known security
};

// A row of the terminal's trade_accounts: the account and the classes it trades ("|SPBFUT|SPBOPT|").
struct TradeAccount {
    std::string id;
    std::string classCodes;
};

class ScriptFeed : public HostTerminal {
public:
    // With `report`, what the script asks of the host is printed to stdout as "SCRIPT <what>".
    // `stepPrice`, when above 0, is every futures' step price instead of its own.
    ScriptFeed(std::string workingFolder, const std::vector<Security>& securities,
               const std::vector<BookMemory::Header>& chain, const std::vector<OrderBook>& books,
               const OrderDesk& desk, std::vector<TradeAccount> accounts, bool report, double stepPrice);

    void start(const std::string& scriptPath, const std::vector<std::string>& failing) {
        host_.start(scriptPath, failing);
    }
    std::unique_lock<std::mutex> hold() { return host_.hold(); }
    void stop() { host_.stop(2); }

    // The caller holds the lock for these.
    void bookChanged(std::size_t header);
    // Orders as they now are: each is told, and what each filled since last told is a trade.
    void ordersChanged(const std::vector<DeskOrder>& changed);
    void replied(const ScriptReply& reply);
    // An anonymous trade of the exchange's tape: OnAllTrade, and "SCRIPT TAPE ..." when reporting.
    void tape(std::size_t securityIndex, const Fill& fill);
    // The futures' step prices move a little, as the exchange's dollar rate does.
    void walkStepPrices(std::mt19937& random);
    // The terminal lost its server or has it again: OnDisconnected or OnConnected on a change.
    void setConnected(bool connected);
    // The transactions the script sent since the last call, in order.
    std::vector<std::string> takeTransactions() { return std::exchange(transactions_, {}); }

    std::string workingFolder() const override { return workingFolder_; }
    bool connected() const override { return connected_; }
    std::optional<Quotes> quotes(const std::string& classCode, const std::string& secCode) const override;
    std::optional<HostRecord> securityInfo(const std::string& classCode, const std::string& secCode) const override;
    std::vector<std::string> classSecurities(const std::string& classCode) const override;
    std::vector<HostRecord> tableRows(const std::string& name) const override;
    std::optional<std::string> parameter(const std::string& classCode, const std::string& secCode,
                                         const std::string& name) const override;
    void transaction(const std::string& text) override;
    void told(const std::string& what) override;

private:
    // The net position of one security from the trades, at the average price of its opening.
    struct Position {
        double net = 0;
        double average = 0;
        double lastPrice = 0;
        double bought = 0;
        double sold = 0;
    };

    std::size_t securityIndex(const std::string& classCode, const std::string& secCode) const;
    double price(const DeskOrder& order) const;
    HostRecord orderRecord(const DeskOrder& order) const;
    void addTrade(const DeskOrder& order, std::uint32_t quantity);

    std::string workingFolder_;
    const std::vector<Security>& securities_;
    const std::vector<BookMemory::Header>& chain_;
    const std::vector<OrderBook>& books_;
    const OrderDesk& desk_;
    std::map<std::uint64_t, std::uint32_t> toldBalances_;  // order number -> balance last told
    std::map<std::size_t, Position> positions_;             // by security index
    std::uint64_t nextTradeNumber_ = 7000001;
    std::uint64_t nextTapeNumber_ = 9000001;
    std::map<std::size_t, double> stepPrices_;           // futures by security index
    std::map<std::size_t, std::uint32_t> lastPrices_;    // the tape's last price by security index
    std::vector<TradeAccount> accounts_;
    bool report_ = false;
    bool connected_ = true;
    std::vector<std::string> transactions_;
    LuaHost host_;  // last: it stops before what it reads goes
};

}  // namespace standin
