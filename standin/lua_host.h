#pragma once
// Runs a script the way the terminal's Lua host does: top-level code and callbacks on the caller's
// thread, main() on a thread of its own, and one lock so that the two never run Lua at once.
// Built against Lua 5.1 or 5.4; nothing here names a version.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace standin {

// A field of a host table: the host gives numbers where its manual says numbers, strings elsewhere.
using HostValue = std::variant<double, std::string>;
using HostRecord = std::vector<std::pair<std::string, HostValue>>;

struct QuoteEntry {
    std::string price;
    std::string quantity;
};

struct Quotes {
    std::vector<QuoteEntry> bids;
    std::vector<QuoteEntry> offers;
};

// What the host's functions read. Called only with the host's lock held.
class HostTerminal {
public:
    virtual ~HostTerminal() = default;
    // The terminal's folder, without a trailing separator.
    virtual std::string workingFolder() const = 0;
    virtual bool connected() const = 0;
    // None for an instrument the terminal does not know.
    virtual std::optional<Quotes> quotes(const std::string& classCode, const std::string& secCode) const = 0;
    virtual std::optional<HostRecord> securityInfo(const std::string& classCode, const std::string& secCode) const = 0;
    virtual std::vector<std::string> classSecurities(const std::string& classCode) const = 0;
    // The rows of one of the terminal's tables ("orders", "futures_client_holding", ...); none when unknown.
    virtual std::vector<HostRecord> tableRows(const std::string& name) const = 0;
    // getParamEx(class, sec, name)'s value as text ("STEPPRICE", "LAST", ...); none when the
    // terminal has no value for it.
    virtual std::optional<std::string> parameter(const std::string&, const std::string&, const std::string&) const {
        return std::nullopt;
    }
    // A transaction the script handed to sendTransaction, checked already, as a text of KEY=VALUE;
    // pairs. It is carried out later, as one from the file or the library; the reply comes through
    // OnTransReply.
    virtual void transaction(const std::string& text) = 0;
    // What the script asked of the host that a test may want to see: "SUBSCRIBE class sec",
    // "UNSUBSCRIBE class sec", "MESSAGE text".
    virtual void told(const std::string&) {}
};

class LuaHost {
public:
    explicit LuaHost(HostTerminal& terminal);
    ~LuaHost();
    LuaHost(const LuaHost&) = delete;
    LuaHost& operator=(const LuaHost&) = delete;

    // Runs the script's top-level code and OnInit, then starts main(); throws when it cannot be loaded.
    // Each host function named in `failing` raises an error whenever it is called, as a terminal
    // that cannot answer.
    void start(const std::string& scriptPath, const std::vector<std::string>& failing = {});

    // Held by the terminal whenever it changes what the script can read and while it calls back.
    std::unique_lock<std::mutex> hold();

    // The callbacks; the caller holds the lock. None comes once main() has returned.
    void onQuote(const std::string& classCode, const std::string& secCode);
    void onOrder(const HostRecord& order);
    void onTrade(const HostRecord& trade);
    // An anonymous trade; `datetime` is its table of that name.
    void onAllTrade(const HostRecord& trade, const HostRecord& datetime);
    void onTransReply(const HostRecord& reply);
    void onConnected();
    void onDisconnected();

    // Whether the script ordered this instrument's book; the caller holds the lock.
    bool subscribed(const std::string& classCode, const std::string& secCode) const;

    // The terminal closes (flag 2) or the user stops the script (flag 1): OnClose when closing, then
    // OnStop, then main() is waited for as long as OnStop asked and killed after that. Takes the
    // lock itself.
    void stop(int flag);

    // True from start() until main() has returned.
    bool running() const;

    // "Lua 5.4.4" or the like: the interpreter this host was built with.
    static const char* luaRelease();

    // Named here so that the host's C functions can reach it; defined in the implementation only.
    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace standin
