#include "orders/order_mover.h"

#include <algorithm>
#include <limits>

#include "ladder/ladder_grid.h"
#include "ladder/price_text.h"
#include "orders/order_entry.h"
#include "orders/order_tracking.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "settings/normalized_text.h"
#include "terminal/terminal_watch.h"
#include "trans/transactions.h"

namespace velmora {

namespace {

constexpr int notSupported = 10;

// The classes whose exchange moves an order in one transaction.
bool movesOrders(const std::string& classCode) { return classCode == "SPBFUT" || classCode == "SPBOPT"; }

std::int32_t lotsOf(std::int64_t balance) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(balance, 0, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

std::string OrderMover::priceText(std::int64_t price) const {
    const TSecShareRecord* security = source_.shownSecurity();
    return PriceText(price, security ? security->Decimals : 0, log_.locale().decimalSeparator());
}

void OrderMover::MoveOrders(OrderEditors& view, int column, int pressedRow, int releasedRow) {
    if (column != LadderGrid::OwnSell && column != LadderGrid::OwnBuy) return;
    if (pressedRow == releasedRow || std::min(pressedRow, releasedRow) < 1 ||
        std::max(pressedRow, releasedRow) >= ladder_.rowCount())
        return;
    if (!watch_.orderAllowed(log_, view, "order move")) return;
    const TSecShareRecord* security = source_.shownSecurity();
    const std::optional<std::int64_t> from = ladder_.rowPrice(pressedRow);
    const std::optional<std::int64_t> to = ladder_.rowPrice(releasedRow);
    if (!security || !source_.shownTable() || !from || !to) return;
    if (*to <= 0) {
        log_.LogMessage("order move refused: price " + priceText(*to) + " is not above zero", 1);
        return;
    }
    const Side side = column == LadderGrid::OwnSell ? Side::Sell : Side::Buy;
    const OrderTracker& tracker = tracking_.tracker();
    const std::vector<std::uint64_t> numbers = tracker.activeAt(side, *from);
    if (numbers.empty() && !TrimmedText(ladder_.cell(pressedRow, column)).empty())
        view.showNotice("Номер заявки неизвестен: переставьте её в терминале");
    for (std::uint64_t number : numbers) {
        // Moved already: a second move would chase the first one's answer.
        if (std::any_of(moves_.begin(), moves_.end(), [&](const Move& move) { return move.number == number; }))
            continue;
        start({Step::Moving, 0, number, side, *from, *to, security->ClassCode, security->Ticker},
              tracker.order(number)->balance);
    }
}

void OrderMover::start(Move move, std::int64_t balance) {
    const bool oneTransaction = movesOrders(move.classCode);
    // Checked before the cancel: the new order must not be refused once the old one is gone.
    if (!oneTransaction && !sender_.QuantityAllowed(lotsOf(balance), "order move")) return;
    log_.LogMessage("moving order " + std::to_string(move.number) + " from " + priceText(move.from) + " to " +
                        priceText(move.to) + (oneTransaction ? "" : " by a cancel and a new order"),
                    1);
    if (send(move, oneTransaction ? Step::Moving : Step::Cancelling)) moves_.push_back(std::move(move));
}

bool OrderMover::send(Move& move, Step step) {
    const TSecShareRecord* security = source_.shownSecurity();
    if (!security) return false;
    const std::optional<SentTransaction> sent =
        step == Step::Moving ? sender_.SendMoveOrder(source_.delivery(), *security, move.number, move.to)
                             : sender_.SendKillOrder(source_.delivery(), *security, move.number);
    tracking_.noteSent(sent, step == Step::Moving ? TransKind::MoveOrder : TransKind::KillOrder, move.side,
                       step == Step::Moving ? move.to : move.from, 0, move.number);
    if (!sent || !sent->delivery.handedOver) return false;
    move.step = step;
    move.transId = static_cast<std::uint32_t>(sent->transId);
    // Nothing answers an order that is only logged.
    return tracking_.tracker().transaction(move.transId) != nullptr;
}

void OrderMover::poll() {
    moves_.erase(std::remove_if(moves_.begin(), moves_.end(), [this](Move& move) { return advance(move); }),
                 moves_.end());
}

bool OrderMover::advance(Move& move) {
    const TrackedTransaction* sent = tracking_.tracker().transaction(move.transId);
    if (!sent) return true;
    const TSecShareRecord* shown = source_.shownSecurity();
    const bool sameInstrument = shown && shown->ClassCode == move.classCode && shown->Ticker == move.ticker;
    const std::string order = "order " + std::to_string(move.number);
    const bool cancelDone = move.step == Step::Cancelling &&
                            (sent->state == TransState::Executed || sent->state == TransState::Accepted);
    // The new order belongs to the instrument the cancel was sent on; the user has left it.
    if (!sameInstrument && (sent->state == TransState::Sent || cancelDone)) {
        log_.LogMessage("move of " + order + " given up: the instrument shown changed", 1);
        if (move.step == Step::Cancelling)
            tracking_.showRefusal("Заявка " + std::to_string(move.number) +
                                  " снимается, новая не будет выставлена: сменился инструмент");
        return true;
    }
    switch (sent->state) {
        case TransState::Sent:
            return false;
        case TransState::NoReply:
            // The tracker has told the silence; a late cancel must not be followed by an order
            // placed at a moment the user no longer expects.
            log_.LogMessage("move of " + order + " given up: no answer to transaction " +
                                std::to_string(move.transId),
                            1);
            return true;
        case TransState::Rejected:
            // The tracker has shown the terminal's text, unless the move falls back.
            if (move.step == Step::Moving && (sent->statusesSeen & (1u << notSupported)) != 0 && sameInstrument) {
                log_.LogMessage("MOVE_ORDERS not supported for " + move.classCode + ": " + order +
                                    " is cancelled and placed again",
                                1);
                const OwnOrder* known = tracking_.tracker().order(move.number);
                if (!known || !sender_.QuantityAllowed(lotsOf(known->balance), "order move")) return true;
                return !send(move, Step::Cancelling);
            }
            return true;
        case TransState::Accepted:
        case TransState::Executed:
            break;
    }
    if (move.step == Step::Moving) return true;
    const OwnOrder* known = tracking_.tracker().order(move.number);
    const std::int64_t balance = known ? known->balance : 0;
    if (balance <= 0) {
        log_.LogMessage(order + " cancelled with nothing left: no new order", 1);
        return true;
    }
    if (watch_.lost) {
        log_.LogMessage(order + " cancelled, no new order: the terminal is lost", 1);
        tracking_.showRefusal("Заявка " + std::to_string(move.number) +
                              " снята, новая не выставлена: нет связи с терминалом");
        return true;
    }
    const std::int32_t quantity = lotsOf(balance);
    tracking_.noteSent(sender_.SendNewOrder(source_.delivery(), *shown, move.side, quantity, move.to),
                       TransKind::NewOrder, move.side, move.to, quantity, 0);
    return true;
}

}  // namespace velmora
