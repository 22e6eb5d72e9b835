#include "exchange.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace standin {

namespace {

std::string ru(const char* utf8) {
    return toWindows1251(utf8);
}

}  // namespace

std::string Exchange::transName(const std::string& action) {
    if (action == "NEW_ORDER") return ru("Ввод заявки");
    if (action == "KILL_ORDER") return ru("Снять заявку");
    if (action == "KILL_ALL_ORDERS") return ru("Снять все заявки");
    if (action == "KILL_ALL_FUTURES_ORDERS") return ru("Снять все заявки по фьючерсам");
    if (action == "MOVE_ORDERS") return ru("Переставить заявки");
    return action;
}

namespace {

Outcome rejected(std::int32_t status, std::string description) {
    Outcome outcome;
    outcome.status = status;
    outcome.description = std::move(description);
    return outcome;
}

}  // namespace

Exchange::Exchange(const std::vector<Security>& securities, const std::vector<BookMemory::Header>& chain,
                   std::vector<OrderBook>& books, ExchangeRules rules)
    : securities_(securities), chain_(chain), books_(books), rules_(rules) {}

void Exchange::addRestingOrder(std::size_t header, bool sell, std::uint32_t intPrice, std::uint32_t quantity) {
    desk_.add(0, static_cast<std::size_t>(chain_[header].securityIndex), sell, intPrice, quantity, quantity);
}

Outcome Exchange::execute(const CheckedTransaction& checked) {
    Outcome outcome;
    if (!checked.transaction) {
        outcome = rejected(checked.refusalStatus, checked.refusal);
    } else {
        const Transaction& t = *checked.transaction;
        std::size_t header = SIZE_MAX;
        for (std::size_t i = 0; i < chain_.size(); ++i)
            if (chain_[i].hasBook && static_cast<std::size_t>(chain_[i].securityIndex) == t.securityIndex) header = i;
        switch (t.kind) {
        case Transaction::Kind::NewOrder: outcome = newOrder(t, header); break;
        case Transaction::Kind::KillOrder: outcome = killOrder(t, header); break;
        case Transaction::Kind::KillAll: outcome = killAll(t, header); break;
        case Transaction::Kind::MoveOrder: outcome = moveOrder(t, header); break;
        }
    }
    outcome.transName = transName(checked.action);
    return outcome;
}

Outcome Exchange::newOrder(const Transaction& t, std::size_t header) {
    const Security& security = securities_[t.securityIndex];
    if (rules_.maxQuantity > 0 && t.quantity > rules_.maxQuantity)
        return rejected(6, ru("Превышен лимит: количество ") + std::to_string(t.quantity) + ru(" больше ") +
                               std::to_string(rules_.maxQuantity));
    if (rules_.priceBandPercent > 0 && header != SIZE_MAX) {
        std::uint32_t reference = referencePrice(header, t.sell);
        double distance = std::fabs(static_cast<double>(t.intPrice) - reference);
        if (reference > 0 && distance * 100 > rules_.priceBandPercent * reference) {
            char band[32];
            std::string percent(band, std::to_chars(band, band + sizeof band, rules_.priceBandPercent).ptr);
            return rejected(4, ru("Цена ") + priceText(t.intPrice, security.decimals) + ru(" дальше ") + percent +
                                   ru("% от лучшей цены ") + priceText(reference, security.decimals));
        }
    }
    if (rules_.rejectEvery > 0 && ++newOrders_ % rules_.rejectEvery == 0)
        return rejected(4, ru("Заявка отклонена биржей (отклоняется каждая ") + std::to_string(rules_.rejectEvery) +
                               ru("-я)"));

    Outcome outcome;
    std::uint32_t resting = t.quantity;
    if (header != SIZE_MAX) {
        OrderResult placed = books_[header].placeOrder(t.sell, t.intPrice, t.quantity);
        resting = placed.resting;
        outcome.fills = std::move(placed.fills);
    }
    const DeskOrder& order = desk_.add(t.transId, t.securityIndex, t.sell, t.intPrice, t.quantity, resting);
    outcome.orderNumber = order.number;
    outcome.changed.push_back(order);
    outcome.description = ru(t.sell ? "(160) Заявка на продажу N " : "(160) Заявка на покупку N ") +
                          std::to_string(order.number) + ru(" зарегистрирована.");
    if (header != SIZE_MAX) {
        outcome.header = header;
        // A new order may trade against the user's own orders on the other side.
        auto filled = settle(header);
        outcome.changed.insert(outcome.changed.end(), filled.begin(), filled.end());
    }
    return outcome;
}

DeskOrder* Exchange::activeOrder(const Transaction& t, Outcome& refusal) {
    DeskOrder* order = desk_.find(t.orderKey);
    const std::string named = ru("Заявка N ") + std::to_string(t.orderKey);
    if (!order || order->securityIndex != t.securityIndex)
        refusal = rejected(5, ru("Не найдена заявка N ") + std::to_string(t.orderKey) + ru(" по инструменту ") +
                                  securities_[t.securityIndex].code());
    else if (order->state == DeskOrder::Filled)
        refusal = rejected(4, named + ru(" уже исполнена, снимать нечего"));
    else if (order->state == DeskOrder::Cancelled)
        refusal = rejected(4, named + ru(" уже снята"));
    else
        return order;
    return nullptr;
}

Outcome Exchange::killOrder(const Transaction& t, std::size_t header) {
    Outcome outcome;
    DeskOrder* order = activeOrder(t, outcome);
    if (!order) return outcome;
    if (header != SIZE_MAX) books_[header].removeOwn(order->sell, order->intPrice, order->balance);
    order->state = DeskOrder::Cancelled;
    outcome.orderNumber = order->number;
    outcome.header = header;
    outcome.changed.push_back(*order);
    outcome.description = ru("Заявка N ") + std::to_string(order->number) + ru(" снята, неисполненный остаток ") +
                          std::to_string(order->balance) + ".";
    return outcome;
}

// As the futures exchange moves an order: the old one is withdrawn and a new one, with a number
// of its own, placed at the new price; the reply names the new one.
Outcome Exchange::moveOrder(const Transaction& t, std::size_t header) {
    Outcome outcome;
    DeskOrder* found = activeOrder(t, outcome);
    if (!found) return outcome;
    if (t.moveMode == 2 && found->balance != t.quantity)
        return rejected(4, ru("Заявка N ") + std::to_string(found->number) + ru(": остаток ") +
                               std::to_string(found->balance) + ru(" не равен ") + std::to_string(t.quantity) +
                               ru(", заявка не перемещена"));
    found->state = DeskOrder::Cancelled;
    const DeskOrder old = *found;  // `found` goes stale once the desk grows
    if (header != SIZE_MAX) books_[header].removeOwn(old.sell, old.intPrice, old.balance);
    const std::uint32_t quantity = t.moveMode == 0 ? old.balance : t.quantity;
    std::uint32_t resting = quantity;
    if (header != SIZE_MAX) {
        OrderResult placed = books_[header].placeOrder(old.sell, t.intPrice, quantity);
        resting = placed.resting;
        outcome.fills = std::move(placed.fills);
    }
    const DeskOrder& moved = desk_.add(t.transId, t.securityIndex, old.sell, t.intPrice, quantity, resting);
    outcome.orderNumber = moved.number;
    outcome.header = header;
    outcome.changed = {old, moved};
    outcome.description = ru("Заявка N ") + std::to_string(old.number) + ru(" перемещена, новый номер ") +
                          std::to_string(moved.number) + ".";
    if (header != SIZE_MAX) {
        auto filled = settle(header);
        outcome.changed.insert(outcome.changed.end(), filled.begin(), filled.end());
    }
    return outcome;
}

Outcome Exchange::killAll(const Transaction& t, std::size_t header) {
    if (header != SIZE_MAX) books_[header].killOwn();
    Outcome outcome;
    outcome.header = header;
    outcome.changed = desk_.cancelAll(t.securityIndex);
    outcome.description = ru("Снято заявок: ") + std::to_string(outcome.changed.size()) + ".";
    return outcome;
}

std::vector<DeskOrder> Exchange::settle(std::size_t header) {
    return desk_.fillDownTo(static_cast<std::size_t>(chain_[header].securityIndex), books_[header].rows());
}

std::uint32_t Exchange::referencePrice(std::size_t header, bool sell) const {
    std::uint32_t bestBid = 0, bestAsk = 0;
    for (const BookRow& row : books_[header].rows()) {
        if (!row.sell) bestBid = row.price;
        else if (bestAsk == 0) bestAsk = row.price;
    }
    std::uint32_t own = sell ? bestAsk : bestBid;
    return own != 0 ? own : (sell ? bestBid : bestAsk);
}

}  // namespace standin
