#include "orders/order_tracker.h"

#include <algorithm>

namespace velmora {

OrderTracker::OrderTracker(std::string classCode, std::string ticker, int replyTimeoutSeconds)
    : classCode_(std::move(classCode)), ticker_(std::move(ticker)), replyTimeoutSeconds_(replyTimeoutSeconds) {}

void OrderTracker::setInstrument(std::string classCode, std::string ticker) {
    classCode_ = std::move(classCode);
    ticker_ = std::move(ticker);
    ++instrumentEpoch_;
    orders_.clear();
    unseenSince_.clear();
}

void OrderTracker::noteSent(std::uint32_t transId, TransKind kind, Side side, std::int64_t price,
                            std::int64_t quantity, std::uint64_t orderKey, TrackerTime now) {
    TrackedTransaction record;
    record.transId = transId;
    record.kind = kind;
    record.side = side;
    record.price = price;
    record.quantity = quantity;
    record.orderKey = orderKey;
    record.sentAt = now;
    record.instrumentEpoch = instrumentEpoch_;
    transactions_[transId] = std::move(record);
    if (kind == TransKind::NewOrder && unanswered_.size() < 10000) unanswered_.push_back(transId);
}

void OrderTracker::unansweredOrders(std::vector<PendingQuantity>& into) {
    std::erase_if(unanswered_, [this](std::uint32_t transId) {
        const auto found = transactions_.find(transId);
        return found == transactions_.end() || found->second.state != TransState::Sent;
    });
    for (const std::uint32_t transId : unanswered_) {
        const TrackedTransaction& sent = transactions_.at(transId);
        if (sent.instrumentEpoch == instrumentEpoch_ && sent.kind == TransKind::NewOrder)
            into.push_back({sent.side, sent.price, sent.quantity});
    }
}

ReplyOutcome OrderTracker::applyReply(const TransReply& reply, TrackerTime) {
    ReplyOutcome outcome;
    outcome.transId = reply.transId;
    outcome.status = reply.status;
    outcome.text = reply.description;
    outcome.orderNumber = reply.orderNumber;
    auto found = transactions_.find(reply.transId);
    outcome.known = found != transactions_.end();
    if (!outcome.known) {
        // Someone else's, or from before this start: worth a log line when it is a rejection.
        if (IsFinalStatus(reply.status) && !IsAcceptedStatus(reply.status)) outcome.kind = ReplyOutcome::Rejected;
        return outcome;
    }
    TrackedTransaction& sent = found->second;
    if (reply.status >= 0 && reply.status < 32) sent.statusesSeen |= 1u << reply.status;
    bool settled = sent.state == TransState::Accepted || sent.state == TransState::Executed ||
                   sent.state == TransState::Rejected;
    if (settled || !IsFinalStatus(reply.status)) {
        if (!settled) {
            sent.status = reply.status;
            sent.text = reply.description;
        }
        return outcome;
    }
    sent.status = reply.status;
    sent.text = reply.description;
    sent.orderNumber = reply.orderNumber;
    if (!IsAcceptedStatus(reply.status)) {
        sent.state = TransState::Rejected;
        outcome.kind = ReplyOutcome::Rejected;
    } else if (sent.kind == TransKind::NewOrder) {
        sent.state = TransState::Accepted;
        outcome.kind = ReplyOutcome::Accepted;
        orderAccepted(sent);
    } else if (sent.kind == TransKind::MoveOrder) {
        sent.state = TransState::Executed;
        outcome.kind = ReplyOutcome::Executed;
        orderMoved(sent);
    } else {
        sent.state = TransState::Executed;
        outcome.kind = ReplyOutcome::Executed;
        cancelExecuted(sent);
    }
    return outcome;
}

bool OrderTracker::repeatsReply(const TransReply& reply) const {
    auto found = transactions_.find(reply.transId);
    return found != transactions_.end() && reply.status >= 0 && reply.status < 32 &&
           (found->second.statusesSeen & (1u << reply.status)) != 0;
}

ReplyOutcome OrderTracker::applySendFailure(std::uint32_t transId, std::int32_t result, const std::string& message) {
    ReplyOutcome outcome{ReplyOutcome::Rejected, transId, result, message, 0, false};
    auto found = transactions_.find(transId);
    if (found == transactions_.end()) return outcome;
    outcome.known = true;
    // Told already: the send's own answer and the library's callback say the same.
    if (found->second.state == TransState::Rejected) return {};
    found->second.state = TransState::Rejected;
    found->second.status = result;
    found->second.text = message;
    return outcome;
}

void OrderTracker::orderAccepted(const TrackedTransaction& sent) {
    // Without its number the order cannot be cancelled alone; the book still shows it.
    if (sent.orderNumber == 0) return;
    placed(sent, sent.side, sent.quantity);
}

void OrderTracker::placed(const TrackedTransaction& sent, Side side, std::int64_t quantity) {
    auto [it, added] = orders_.try_emplace(sent.orderNumber);
    OwnOrder& order = it->second;
    if (added) {
        order.number = sent.orderNumber;
        order.balance = quantity;
        order.state = OwnOrderState::Active;
    }
    // A report of the order may have come first: what we sent is the better record, but for its balance.
    order.side = side;
    order.price = sent.price;
    order.quantity = quantity;
    order.transId = sent.transId;
    order.since = sent.sentAt;
}

void OrderTracker::cancelExecuted(const TrackedTransaction& sent) {
    if (sent.kind == TransKind::KillOrder) {
        auto found = orders_.find(sent.orderKey);
        if (found != orders_.end() && found->second.state == OwnOrderState::Active)
            found->second.state = OwnOrderState::Cancelled;
        return;
    }
    // A kill-all cancels what existed when it was sent, not an order placed after it.
    for (auto& [number, order] : orders_)
        if (order.state == OwnOrderState::Active && order.since <= sent.sentAt) order.state = OwnOrderState::Cancelled;
}

// Whether an exchange keeps the number of an order it moves is not known: a reply naming another
// number is a new order that takes the old one's place and balance.
void OrderTracker::orderMoved(const TrackedTransaction& sent) {
    auto old = orders_.find(sent.orderKey);
    if (old == orders_.end()) return;
    if (sent.orderNumber == 0 || sent.orderNumber == sent.orderKey) {
        old->second.price = sent.price;
        return;
    }
    const OwnOrder moved = old->second;
    if (moved.state == OwnOrderState::Active) old->second.state = OwnOrderState::Cancelled;
    placed(sent, moved.side, moved.balance);
}

void OrderTracker::applyOrder(const OrderReport& event, TrackerTime now) {
    if (event.classCode != classCode_ || event.secCode != ticker_ || event.number == 0) return;
    auto [it, added] = orders_.try_emplace(event.number);
    OwnOrder& order = it->second;
    if (added) {
        order.number = event.number;
        order.side = event.side;
        order.price = event.price;
        order.quantity = event.balance;
        order.transId = event.transId;
        // The initial load brings orders from before this start: older than anything sent since.
        order.since = event.mode == 0 ? now : TrackerTime{};
        auto sent = transactions_.find(event.transId);
        if (event.transId != 0 && sent != transactions_.end() && sent->second.kind == TransKind::NewOrder) {
            order.quantity = sent->second.quantity;
            order.since = sent->second.sentAt;
        }
    }
    order.balance = event.balance;
    order.state = event.status == 1   ? OwnOrderState::Active
                  : event.status == 2 ? OwnOrderState::Cancelled
                                      : OwnOrderState::Filled;
}

void OrderTracker::applyBook(const std::vector<BookOwnQuantity>& ownQuantities, TrackerTime now) {
    for (auto& entry : orders_) {
        const std::uint64_t number = entry.first;
        OwnOrder& order = entry.second;
        if (order.state != OwnOrderState::Active) {
            unseenSince_.erase(number);
            continue;
        }
        bool shown = std::any_of(ownQuantities.begin(), ownQuantities.end(), [&](const BookOwnQuantity& level) {
            return level.side == order.side && level.quantity > 0 && level.price == order.price;
        });
        if (shown) {
            unseenSince_.erase(number);
            continue;
        }
        auto [since, first] = unseenSince_.try_emplace(number, now);
        if (!first && now - since->second >= unseenLimit) {
            order.state = OwnOrderState::Gone;
            unseenSince_.erase(since);
        }
    }
}

std::vector<std::uint32_t> OrderTracker::expire(TrackerTime now) {
    std::vector<std::uint32_t> expired;
    if (replyTimeoutSeconds_ <= 0) return expired;
    const TrackerTime limit = std::chrono::seconds(replyTimeoutSeconds_);
    for (auto& [transId, sent] : transactions_) {
        if (sent.state != TransState::Sent || now - sent.sentAt < limit) continue;
        sent.state = TransState::NoReply;
        expired.push_back(transId);
    }
    return expired;
}

std::vector<OwnOrder> OrderTracker::activeOrders() const {
    std::vector<OwnOrder> active;
    for (const auto& [number, order] : orders_)
        if (order.state == OwnOrderState::Active) active.push_back(order);
    std::stable_sort(active.begin(), active.end(), [](const OwnOrder& a, const OwnOrder& b) {
        return a.since != b.since ? a.since > b.since : a.number > b.number;
    });
    return active;
}

std::vector<std::uint64_t> OrderTracker::activeAt(Side side, std::int64_t price) const {
    std::vector<std::uint64_t> numbers;
    for (const auto& [number, order] : orders_)
        if (order.state == OwnOrderState::Active && order.side == side && order.price == price)
            numbers.push_back(number);
    return numbers;
}

const TrackedTransaction* OrderTracker::transaction(std::uint32_t transId) const {
    auto found = transactions_.find(transId);
    return found == transactions_.end() ? nullptr : &found->second;
}

const OwnOrder* OrderTracker::order(std::uint64_t number) const {
    auto found = orders_.find(number);
    return found == orders_.end() ? nullptr : &found->second;
}

}  // namespace velmora
