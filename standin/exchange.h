#pragma once
// Carries out checked transactions against the books and the order table, and answers each
// with the terminal's reply: status, TRANS_NAME, DESCRIPTION and the order named.
#include <cstdint>
#include <string>
#include <vector>

#include "book_memory.h"
#include "order_book.h"
#include "order_desk.h"
#include "securities.h"
#include "transaction.h"

namespace standin {

// Rejections a user asks for, to practise with or to test against; 0 turns each off.
struct ExchangeRules {
    double priceBandPercent = 0;    // status 4: further than this from the best price of the order's side
    std::uint32_t maxQuantity = 0;  // status 6: more lots than this
    std::uint32_t rejectEvery = 0;  // status 4: every Nth new order
};

struct Outcome {
    std::int32_t status = 3;
    std::string transName;    // Windows-1251
    std::string description;  // Windows-1251
    std::uint64_t orderNumber = 0;
    std::vector<DeskOrder> changed;  // orders whose state the transaction changed
    std::size_t header = SIZE_MAX;   // the chain position of the book it changed, if any
    std::vector<Fill> fills;         // what it traded in that book
};

class Exchange {
public:
    // `books` is indexed by chain position, like `chain`.
    Exchange(const std::vector<Security>& securities, const std::vector<BookMemory::Header>& chain,
             std::vector<OrderBook>& books, ExchangeRules rules);

    // An order the user placed in the terminal before this start: it rests in the book already.
    void addRestingOrder(std::size_t header, bool sell, std::uint32_t intPrice, std::uint32_t quantity);

    Outcome execute(const CheckedTransaction& checked);
    // After the market moved book `header`: the orders filled by it.
    std::vector<DeskOrder> settle(std::size_t header);

    const OrderDesk& desk() const { return desk_; }
    // The TRANS_NAME of a transaction with this ACTION (Windows-1251).
    static std::string transName(const std::string& action);

private:
    Outcome newOrder(const Transaction& t, std::size_t header);
    Outcome killOrder(const Transaction& t, std::size_t header);
    Outcome killAll(const Transaction& t, std::size_t header);
    Outcome moveOrder(const Transaction& t, std::size_t header);
    // The order a KILL_ORDER or MOVE_ORDERS names, active and of the transaction's security; else
    // the refusal.
    DeskOrder* activeOrder(const Transaction& t, Outcome& refusal);
    // The best price of one side, or of the other when that side is empty; 0 for an empty book.
    std::uint32_t referencePrice(std::size_t header, bool sell) const;

    const std::vector<Security>& securities_;
    const std::vector<BookMemory::Header>& chain_;
    std::vector<OrderBook>& books_;
    ExchangeRules rules_;
    OrderDesk desk_;
    std::uint64_t newOrders_ = 0;
};

}  // namespace standin
