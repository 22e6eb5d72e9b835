#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "securities.h"

namespace standin {

struct Transaction {
    enum class Kind { NewOrder, KillOrder, KillAll, MoveOrder };
    Kind kind = Kind::NewOrder;
    std::int64_t transId = 0;
    std::size_t securityIndex = 0;
    bool sell = false;
    std::uint32_t quantity = 0;
    std::uint32_t intPrice = 0;
    std::uint64_t orderKey = 0;  // the order a KILL_ORDER cancels or a MOVE_ORDERS moves
    int moveMode = 0;            // MOVE_ORDERS: 0 price only, 1 price and quantity, 2 only at that quantity
};

// A transaction text checked as the terminal checks it: either a transaction to carry
// out or the reason for refusing it (Windows-1251, with the reply's status), plus the
// TRANS_ID and ACTION texts for the reply.
struct CheckedTransaction {
    std::optional<Transaction> transaction;
    std::string transIdText;
    std::string action;
    std::string refusal;
    std::int32_t refusalStatus = 5;
};

CheckedTransaction checkTransaction(const std::string& text, const std::vector<Security>& securities);

// A price of integer units as the terminal prints it, with the security's decimals.
std::string priceText(std::uint32_t intPrice, int decimals);

}  // namespace standin
