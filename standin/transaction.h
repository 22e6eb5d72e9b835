#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "securities.h"

namespace standin {

struct Transaction {
    enum class Kind { NewOrder, KillAll };
    Kind kind = Kind::NewOrder;
    std::int64_t transId = 0;
    std::size_t securityIndex = 0;
    bool sell = false;
    std::uint32_t quantity = 0;
    std::uint32_t intPrice = 0;
};

// A transaction text checked as the terminal checks it: either a transaction to carry
// out or the reason for refusing it, plus the TRANS_ID text for the reply.
struct CheckedTransaction {
    std::optional<Transaction> transaction;
    std::string transIdText;
    std::string refusal;
};

CheckedTransaction checkTransaction(const std::string& text, const std::vector<Security>& securities);

// Reply lines, without their line end.
std::string acceptedReply(const Transaction& t, const Security& security, std::uint64_t orderNumber,
                          std::uint32_t traded, std::uint32_t resting);
std::string killReply(const Transaction& t, const Security& security, std::uint32_t removed);
std::string refusedReply(const CheckedTransaction& checked);

}  // namespace standin
