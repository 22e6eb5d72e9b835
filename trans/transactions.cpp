#include "trans/transactions.h"

#include <cmath>
#include <filesystem>
#include <optional>
#include <string_view>

#include "ladder/price_text.h"
#include "platform/message_sink.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "trans/reply_line.h"
#include "settings/normalized_text.h"
#include "settings/settings.h"
#include "trans/order_delivery.h"

namespace velmora {

namespace {

// A value holding one of these would end its pair early or start a forged one.
std::optional<char> forbiddenCharacter(std::string_view value) {
    for (char c : value)
        if (c == '\r' || c == '\n' || c == '\0' || c == ';') return c;
    return std::nullopt;
}

std::string characterName(char c) {
    switch (c) {
        case '\r': return "CR";
        case '\n': return "LF";
        case '\0': return "NUL";
        default: return "\";\"";
    }
}

}  // namespace

// Collects the values of one transaction and the first reason not to send it.
class TransactionText {
public:
    // The last pair of a text goes without the separator after it.
    enum class Pair { Separated, Last };
    void add(std::string_view key, std::string_view value, Pair pair = Pair::Separated) {
        if (!refusal_)
            if (auto bad = forbiddenCharacter(value))
                refusal_ = std::string(key) + " holds " + characterName(*bad);
        text_ += key;
        text_ += '=';
        text_ += value;
        if (pair == Pair::Separated) text_ += "; ";
    }
    void addLiteral(std::string_view pairs) { text_ += pairs; }
    // A transaction well formed that its delivery cannot take: numbered, not sent, told in the panel.
    void undeliverable(std::string why) { undeliverable_ = std::move(why); }
    const std::string& text() const { return text_; }
    const std::optional<std::string>& refusal() const { return refusal_; }
    const std::optional<std::string>& undeliverable() const { return undeliverable_; }

private:
    std::string text_;
    std::optional<std::string> refusal_;
    std::optional<std::string> undeliverable_;
};

std::int32_t SeedTransId(const LocalDateTime& now) {
    double hundredths = (toDayCount(now) - 3650.0) * 8640000.0;
    double rounded = std::floor(hundredths);
    double fraction = hundredths - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0)) rounded += 1.0;
    auto value = static_cast<std::int64_t>(rounded);
    // The terminal takes TRANS_ID from 1 to 2147483647 only.
    auto seed = static_cast<std::int32_t>(static_cast<std::uint64_t>(value) & 0x7FFFFFFFu);
    return seed == 0 ? 1 : seed;
}

void OrderSender::useTransIdBlock(int block, std::int32_t seed) {
    constexpr std::int32_t blockBits = 27;
    if (block < 1 || block > 15) {
        lowestTransId_ = 1;
        highestTransId_ = maxTransId;
        TransIdCounter = seed;
        return;
    }
    lowestTransId_ = block << blockBits;
    highestTransId_ = lowestTransId_ + ((1 << blockBits) - 1);
    TransIdCounter = lowestTransId_ + (seed & ((1 << blockBits) - 1));
}

std::int32_t OrderSender::peekTransId() const { return TransIdCounter < 1 ? lowestTransId_ : TransIdCounter; }

std::int32_t OrderSender::NextTransId() {
    if (TransIdCounter < 1) TransIdCounter = lowestTransId_;
    std::int32_t id = TransIdCounter;
    TransIdCounter = id >= highestTransId_ ? lowestTransId_ : id + 1;
    return id;
}

bool OrderSender::QuantityAllowed(std::int32_t quantity, const char* what) {
    const std::int32_t limit = settings_.MaxOrderQuantity;
    if (limit <= 0 || quantity <= limit) return true;
    log_.LogMessage(std::string(what) + " refused: quantity " + std::to_string(quantity) +
                        " is above MaxOrderQuantity " + std::to_string(limit),
                    1);
    messages_.show("Количество " + std::to_string(quantity) + " больше допустимого " + std::to_string(limit));
    return false;
}

TransactionText OrderSender::head(OrderDelivery& delivery, const TSecShareRecord& security) {
    TransactionText transaction;
    transaction.add("TRANS_ID", std::to_string(NextTransId()));
    AccountChoice account = delivery.accountFor(settings_.ACCOUNT, security.ClassCode);
    transaction.add("ACCOUNT", account.account);
    if (!account.refusal.empty()) transaction.undeliverable(std::move(account.refusal));
    transaction.add("CLASSCODE", security.ClassCode);
    transaction.add("SECCODE", security.Ticker);
    return transaction;
}

std::optional<SentTransaction> OrderSender::deliver(OrderDelivery& delivery, const TransactionText& transaction,
                                                   std::int32_t transId) {
    if (transaction.refusal()) {
        // The raw text may hold line breaks; the reason says enough.
        log_.LogMessage("transaction not sent: " + *transaction.refusal(), 1);
        messages_.show("Заявка не отправлена: " + *transaction.refusal());
        return std::nullopt;
    }
    if (log_.enabled(2)) log_.LogMessage("formed order: " + transaction.text(), 2);
    if (const auto& why = transaction.undeliverable()) {
        log_.LogMessage("transaction " + std::to_string(transId) + " not sent: " + *why, 1);
        return SentTransaction{transId, {false, *why}};
    }
    return SentTransaction{transId, delivery.deliver(transaction.text())};
}

std::optional<SentTransaction> OrderSender::SendNewOrder(OrderDelivery& delivery, const TSecShareRecord& security,
                                                         Side side, std::int32_t Quantity, std::int64_t price) {
    if (!QuantityAllowed(Quantity, "order")) return std::nullopt;
    const std::int32_t transId = peekTransId();
    TransactionText transaction = head(delivery, security);
    transaction.addLiteral("ACTION=NEW_ORDER; TYPE=L; ");
    transaction.add("QUANTITY", std::to_string(Quantity));
    transaction.add("PRICE", PriceText(price, security.Decimals, '.'));
    transaction.addLiteral(side == Side::Sell ? "OPERATION=S; " : "OPERATION=B; ");
    return deliver(delivery, transaction, transId);
}

std::optional<SentTransaction> OrderSender::SendKillAll(OrderDelivery& delivery, const TSecShareRecord& security,
                                                        const TSecShareList* securities) {
    const std::int32_t transId = peekTransId();
    TransactionText transaction = head(delivery, security);
    std::string section = NormalizedText(settings_.SECTION);
    if (section == "FORTS") {
        transaction.addLiteral("ACTION=KILL_ALL_FUTURES_ORDERS; ");
        // An option names the base contract of its underlying futures contract, when listed.
        const TSecShareRecord* underlying = nullptr;
        if (security.ClassCode == "SPBOPT" && securities) underlying = securities->FindByTicker(security.BaseContract);
        if (underlying)
            transaction.add("BASE_CONTRACT", underlying->BaseContract, TransactionText::Pair::Last);
        else
            transaction.add("BASE_CONTRACT", security.BaseContract);
    } else if (section == "MICEX") {
        transaction.addLiteral("ACTION=KILL_ALL_ORDERS; ");
    }
    return deliver(delivery, transaction, transId);
}

namespace {

// What a transaction on one order by its number starts with: no account, the order names it.
TransactionText oneOrderHead(std::int32_t transId, const TSecShareRecord& security) {
    TransactionText transaction;
    transaction.add("TRANS_ID", std::to_string(transId));
    transaction.add("CLASSCODE", security.ClassCode);
    transaction.add("SECCODE", security.Ticker);
    return transaction;
}

}  // namespace

std::optional<SentTransaction> OrderSender::SendMoveOrder(OrderDelivery& delivery, const TSecShareRecord& security,
                                                          std::uint64_t orderNumber, std::int64_t price) {
    const std::int32_t transId = NextTransId();
    TransactionText transaction = oneOrderHead(transId, security);
    transaction.addLiteral("ACTION=MOVE_ORDERS; MODE=0; ");
    transaction.add("FIRST_ORDER_NUMBER", std::to_string(orderNumber));
    transaction.add("FIRST_ORDER_NEW_PRICE", PriceText(price, security.Decimals, '.'));
    return deliver(delivery, transaction, transId);
}

std::optional<SentTransaction> OrderSender::SendKillOrder(OrderDelivery& delivery, const TSecShareRecord& security,
                                                          std::uint64_t orderNumber) {
    const std::int32_t transId = NextTransId();
    TransactionText transaction = oneOrderHead(transId, security);
    transaction.addLiteral("ACTION=KILL_ORDER; ");
    transaction.add("ORDER_KEY", std::to_string(orderNumber));
    return deliver(delivery, transaction, transId);
}

}  // namespace velmora
