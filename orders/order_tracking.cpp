#include "orders/order_tracking.h"

#include <variant>

#include "ladder/price_text.h"
#include "platform/clock.h"
#include "settings/info_panel.h"
#include "platform/trans_library.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "terminal/quote_table.h"
#include "trans/reply_file_follower.h"

namespace velmora {

OrderTracking::OrderTracking(Log& log, TransLibrary& library, Clock& clock)
    : log_(log), library_(library), clock_(clock) {}

TrackerTime OrderTracking::now() const {
    return TrackerTime(static_cast<std::int64_t>(toDayCount(clock_.now()) * 86400000.0));
}

OrderTracking::~OrderTracking() = default;

void OrderTracking::start(ReplySource source, const std::string& replyFile, int replyTimeoutSeconds) {
    source_ = source;
    replyTimeoutSeconds_ = replyTimeoutSeconds;
    tracker_.setReplyTimeout(replyTimeoutSeconds);
    follower_.reset();
    if (source == ReplySource::File) follower_ = std::make_unique<ReplyFileFollower>(replyFile);
}

void OrderTracking::setInstrument(const TSecShareRecord* security) {
    if (security)
        tracker_.setInstrument(security->ClassCode, security->Ticker);
    else
        tracker_.setInstrument("", "");
    decimals_ = security ? security->Decimals : 0;
    ordersChanged_ = true;
}

void OrderTracking::showPanel(const std::string& text, TrackerTime now) {
    panelText_ = text;
    silentShown_ = 0;
    panelUntil_ = now + panelHold;
    if (panel_) panel_->post(PanelKind::OrderOutcome, text);
}

void OrderTracking::noteSent(const std::optional<SentTransaction>& sent, TransKind kind, Side side,
                             std::int64_t price, std::int64_t quantity, std::uint64_t orderKey) {
    const TrackerTime now = this->now();
    // The next order takes the last one's rejection away.
    if (!panelText_.empty() && panel_) panel_->withdraw(PanelKind::OrderOutcome);
    panelText_.clear();
    silentShown_ = 0;
    if (!sent) return;
    const auto transId = static_cast<std::uint32_t>(sent->transId);
    if (!sent->delivery.handedOver) {
        // Logged by the delivery already; the user is told here.
        tracker_.noteSent(transId, kind, side, price, quantity, orderKey, now);
        tracker_.applySendFailure(transId, -1, sent->delivery.failure);
        showPanel("Заявка " + std::to_string(transId) + " не отправлена: " + sent->delivery.failure, now);
        return;
    }
    // Nothing answers an order that is only logged: it would only run out.
    if (source_ == ReplySource::None) return;
    tracker_.noteSent(transId, kind, side, price, quantity, orderKey, now);
}

void OrderTracking::noteCancels(const std::vector<std::uint32_t>& transIds) {
    cancels_ = transIds;
    if (!transIds.empty()) showPanel("Отправлено снятий: " + std::to_string(transIds.size()), now());
}

void OrderTracking::tellCancelsDone(TrackerTime now) {
    if (cancels_.empty()) return;
    std::size_t done = 0, silent = 0;
    for (std::uint32_t transId : cancels_) {
        const TrackedTransaction* sent = tracker_.transaction(transId);
        if (sent && sent->state == TransState::Sent) return;
        if (sent && sent->state == TransState::Executed) ++done;
        if (sent && sent->state == TransState::NoReply) ++silent;
    }
    const std::size_t count = cancels_.size();
    cancels_.clear();
    showPanel("Снято заявок: " + std::to_string(done) + (done == count ? "" : " из " + std::to_string(count)) +
                  (silent == 0 ? "" : "; нет ответа терминала: " + std::to_string(silent)),
              now);
}

void OrderTracking::tell(const ReplyOutcome& outcome, TrackerTime now) {
    // A late answer takes the place of the silence told for it, lest the order be sent again.
    if (outcome.kind != ReplyOutcome::Nothing && outcome.transId == silentShown_ && outcome.kind != ReplyOutcome::Rejected)
        showPanel("Заявка " + std::to_string(outcome.transId) + " принята терминалом с опозданием" +
                      (outcome.text.empty() ? std::string() : ": " + outcome.text),
                  now);
    if (outcome.kind == ReplyOutcome::Rejected) {
        log_.LogMessage("transaction " + std::to_string(outcome.transId) + " rejected: status " +
                            std::to_string(outcome.status) + ", " + outcome.text,
                        1);
        if (outcome.known)
            showPanel("Заявка " + std::to_string(outcome.transId) + " отклонена: " + outcome.text, now);
        const TrackedTransaction* sent = outcome.known ? tracker_.transaction(outcome.transId) : nullptr;
        if (sent && (sent->kind == TransKind::NewOrder || sent->kind == TransKind::MoveOrder) &&
            rejections_.size() < 16)
            rejections_.push_back({sent->side, sent->price, sent->quantity});
        // Its unanswered quantity leaves the ladder.
        ordersChanged_ = true;
    }
    if (outcome.kind == ReplyOutcome::Accepted || outcome.kind == ReplyOutcome::Executed) ordersChanged_ = true;
}

std::vector<PendingQuantity> OrderTracking::takeRejections() {
    std::vector<PendingQuantity> taken;
    taken.swap(rejections_);
    return taken;
}

void OrderTracking::applyReply(const TransReply& reply, TrackerTime now) {
    // The same reply by the script and by the results file is logged once.
    if (log_.enabled(2) && !tracker_.repeatsReply(reply))
        log_.LogMessage("reply to transaction " + std::to_string(reply.transId) + ": status " +
                            std::to_string(reply.status) + ", " + reply.description +
                            (reply.orderNumber != 0 ? ", order " + std::to_string(reply.orderNumber) : std::string()),
                        2);
    tell(tracker_.applyReply(reply, now), now);
}

void OrderTracking::poll() {
    const TrackerTime now = this->now();
    if (follower_) {
        ReplyFileNews news = follower_->poll();
        for (const std::string& note : news.notes) log_.LogMessage("quik.tro: " + note, 1);
        for (const TransReply& reply : news.replies) applyReply(reply, now);
    } else if (source_ == ReplySource::Library) {
        LibraryEventBatch batch = library_.takeEvents();
        if (batch.dropped != 0 && !dropsTold_) {
            log_.LogMessage("library events lost to a full queue: " + std::to_string(batch.dropped), 1);
            dropsTold_ = true;
        }
        for (const LibraryEvent& event : batch.events) {
            if (const auto* reply = std::get_if<LibraryReply>(&event)) {
                // The library failed the transaction itself before the terminal gave it a status.
                if (reply->result != 0 && !IsFinalStatus(reply->replyCode)) {
                    log_.LogMessage("reply to transaction " + std::to_string(reply->transId) + ": result " +
                                        std::to_string(reply->result) + ", " + reply->message,
                                    2);
                    tell(tracker_.applySendFailure(reply->transId, reply->result, reply->message), now);
                } else {
                    applyReply({reply->transId, reply->replyCode, reply->orderNumber, "", reply->message}, now);
                }
            } else if (const auto* order = std::get_if<LibraryOrder>(&event)) {
                tracker_.applyOrder({order->mode, order->transId, order->number, order->classCode, order->secCode,
                                     reportedPrice(order->price, order->number), order->balance,
                                     order->isSell ? Side::Sell : Side::Buy, order->status},
                                    now);
                ordersChanged_ = true;
            }
        }
    }
    for (std::uint32_t transId : tracker_.expire(now)) {
        log_.LogMessage("no reply to transaction " + std::to_string(transId) + " within " +
                            std::to_string(replyTimeoutSeconds_) + " s",
                        1);
        showPanel("Нет ответа терминала на заявку " + std::to_string(transId), now);
        silentShown_ = transId;
    }
    tellCancelsDone(now);
    if (!panelText_.empty() && now >= panelUntil_) {
        if (panel_) panel_->withdraw(PanelKind::OrderOutcome);
        panelText_.clear();
        silentShown_ = 0;
    }
}

void OrderTracking::applyScriptEvents(const std::vector<LinkEvent>& events) {
    if (events.empty()) return;
    const TrackerTime now = this->now();
    for (const LinkEvent& event : events) {
        if (const auto* reply = std::get_if<LinkReply>(&event)) {
            applyReply({reply->transId, reply->status, reply->orderNumber, "", reply->message}, now);
        } else if (const auto* order = std::get_if<LinkOrder>(&event)) {
            OrderReport state;
            state.transId = order->transId;
            state.number = order->orderNumber;
            state.classCode = order->classCode;
            state.secCode = order->ticker;
            state.price = reportedPrice(order->price, order->orderNumber);
            state.balance = order->balance;
            state.side = (order->flags & 4u) != 0 ? Side::Sell : Side::Buy;
            state.status = (order->flags & 1u) ? 1 : (order->flags & 2u) ? 2 : 3;
            tracker_.applyOrder(state, now);
            ordersChanged_ = true;
        } else if (const auto* answer = std::get_if<LinkCommandAnswer>(&event)) {
            applyCommandAnswer(*answer, now);
        }
    }
    tellCancelsDone(now);
}

void OrderTracking::applyCommandAnswer(const LinkCommandAnswer& answer, TrackerTime now) {
    static constexpr const char* outcomes[] = {"sent", "refused by sendTransaction", "not sent, stale",
                                               "not sent, unreadable"};
    log_.LogMessage("velmora.lua: command " + std::to_string(answer.seq) + " (transaction " +
                        std::to_string(answer.transId) + ") " + outcomes[static_cast<int>(answer.outcome)] +
                        (answer.text.empty() ? std::string() : ": " + answer.text),
                    answer.outcome == CommandOutcome::Sent ? 3 : 1);
    if (answer.outcome == CommandOutcome::Sent) return;
    // An answer a later start of the script gave again changes nothing already known.
    const TrackedTransaction* sent = tracker_.transaction(answer.transId);
    if (!sent || sent->state != TransState::Sent) return;
    const std::string why = answer.outcome == CommandOutcome::Refused ? answer.text
                            : answer.outcome == CommandOutcome::Stale
                                ? "скрипт получил её поздно или после разрыва связи (" + answer.text + ")"
                                : "скрипт не разобрал её (" + answer.text + ")";
    tracker_.applySendFailure(answer.transId, -1, why);
    showPanel("Заявка " + std::to_string(answer.transId) + " не отправлена: " + why, now);
}

void OrderTracking::noteBook(const TQuoteTable& table) {
    if (source_ != ReplySource::File) return;
    const std::size_t before = tracker_.activeOrders().size();
    if (before == 0) return;
    bookOwn_.clear();
    for (const TQuoteRecord& level : table.rows)
        bookOwn_.push_back({level.side(), level.IntPrice, static_cast<std::int64_t>(level.SelfQuantity)});
    tracker_.applyBook(bookOwn_, now());
    if (tracker_.activeOrders().size() != before) ordersChanged_ = true;
}

std::int64_t OrderTracking::reportedPrice(double price, std::uint64_t orderNumber) {
    if (std::optional<std::int64_t> ticks = PriceTicks(price, decimals_)) return *ticks;
    log_.LogMessage("order " + std::to_string(orderNumber) + " reported at price " +
                        FormatGeneral(price, log_.locale().decimalSeparator()) + ", not a price here",
                    1);
    return 0;
}

bool OrderTracking::takeOrdersChanged() {
    const bool changed = ordersChanged_;
    ordersChanged_ = false;
    return changed;
}

void OrderTracking::fillOwnQuantities(TQuoteTable& table) const {
    for (TQuoteRecord& row : table.rows) {
        std::int64_t own = 0;
        for (std::uint64_t number : tracker_.activeAt(row.side(), row.IntPrice))
            own += std::max<std::int64_t>(0, tracker_.order(number)->balance);
        row.SelfQuantity = static_cast<std::uint32_t>(std::min<std::int64_t>(own, UINT32_MAX));
    }
}

}  // namespace velmora
