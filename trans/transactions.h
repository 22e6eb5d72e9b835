#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "terminal/side.h"
#include "trans/order_delivery.h"
#include "trans/reply_line.h"

namespace velmora {

class Log;
class MessageSink;
class TSecShareList;
class TransactionText;
struct Settings;
struct TSecShareRecord;

// The counter's start value from the clock: hundredths of a second since
// 1909-12-28, kept within the terminal's TRANS_ID range 1..2147483647.
std::int32_t SeedTransId(const LocalDateTime& now);

// A transaction formed, numbered and given to a delivery, and what the delivery answered.
struct SentTransaction {
    std::int32_t transId = 0;
    DeliveryResult delivery;
};

// Builds the transactions, numbers them and hands them to a delivery. Each send answers the
// transaction it formed, or nothing when it was refused before it had a number.
class OrderSender {
public:
    OrderSender(const Settings& settings, Log& log, MessageSink& messages)
        : settings_(settings), log_(log), messages_(messages) {}

    std::int32_t TransIdCounter = 0;
    // Programs on one terminal number from blocks apart, so their TRANS_IDs never meet: block
    // 1 to 15 of 2^27 numbers, the counter started at `seed` within it; block 0 is the whole range.
    void useTransIdBlock(int block, std::int32_t seed);
    // The counter's value, then advances it (the block's end wraps to its start).
    std::int32_t NextTransId();
    // The number NextTransId() gives next.
    std::int32_t peekTransId() const;

    // Whether `quantity` is within MaxOrderQuantity (0 or less: no limit). When not, logs why and
    // shows "Количество N больше допустимого M"; `what` names the order or stop in the log.
    bool QuantityAllowed(std::int32_t quantity, const char* what);

    // Build, log ("formed order: " at level 2) and deliver. `price` in ticks of the security.
    std::optional<SentTransaction> SendNewOrder(OrderDelivery& delivery, const TSecShareRecord& security, Side side,
                                                std::int32_t Quantity, std::int64_t price);
    // `securities` finds an option's underlying futures contract.
    std::optional<SentTransaction> SendKillAll(OrderDelivery& delivery, const TSecShareRecord& security,
                                               const TSecShareList* securities);
    // Moves the one order `orderNumber` to `price` (ticks), its quantity kept: the futures market only.
    std::optional<SentTransaction> SendMoveOrder(OrderDelivery& delivery, const TSecShareRecord& security,
                                                 std::uint64_t orderNumber, std::int64_t price);
    // Cancels the one order `orderNumber`.
    std::optional<SentTransaction> SendKillOrder(OrderDelivery& delivery, const TSecShareRecord& security,
                                                 std::uint64_t orderNumber);

private:
    TransactionText head(OrderDelivery& delivery, const TSecShareRecord& security);
    std::optional<SentTransaction> deliver(OrderDelivery& delivery, const TransactionText& transaction,
                                           std::int32_t transId);

    const Settings& settings_;
    Log& log_;
    MessageSink& messages_;
    std::int32_t lowestTransId_ = 1;
    std::int32_t highestTransId_ = maxTransId;
};

}  // namespace velmora
