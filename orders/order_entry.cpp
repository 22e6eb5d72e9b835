#include "orders/order_entry.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "ladder/ladder_grid.h"
#include "ladder/price_text.h"
#include "orders/order_tracking.h"
#include "orders/stop_orders.h"
#include "settings/info_panel.h"
#include "platform/clock.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "settings/normalized_text.h"
#include "settings/settings.h"
#include "terminal/quote_table.h"
#include "trans/transactions.h"

namespace velmora {

namespace {

using BestOf = OrderEntry::BestOf;
using PriceMove = OrderEntry::PriceMove;

// The best price of one side; none when that side is empty.
std::optional<std::int64_t> BestPrice(const TQuoteTable& table, BestOf side) {
    const TQuoteRecord* row = side == BestOf::Bid ? table.BestBid() : table.BestAsk();
    if (!row) return std::nullopt;
    return row->IntPrice;
}

// `price` moved by `steps` price steps; held at the ends of the range of ticks, so that a wild
// shift or typed price cannot wrap round to another price.
std::int64_t StepsAway(std::int64_t price, const TSecShareRecord& security, std::int64_t steps) {
    const std::int64_t offset = static_cast<std::int64_t>(security.IntPriceStep) * steps;
    std::int64_t moved = 0;
    if (!__builtin_add_overflow(price, offset, &moved)) return moved;
    return offset > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

std::int64_t Up(std::int32_t steps) { return steps; }
std::int64_t Down(std::int32_t steps) { return -static_cast<std::int64_t>(steps); }

}  // namespace

void OrderEntry::SendNewOrder(Side side, std::int32_t quantity, std::int64_t price) {
    const TSecShareRecord* security = source_.shownSecurity();
    if (!security) return;
    // A mistyped or stale price; no book this program trades in quotes at zero or below.
    if (price <= 0) {
        const std::string text =
            FormatGeneral(TicksValue(price, security->Decimals), log_.locale().decimalSeparator());
        log_.LogMessage("order refused: price " + text + " is not above zero", 1);
        tracking_.showRefusal("Заявка не отправлена: цена " + text + " не больше нуля");
        return;
    }
    std::optional<SentTransaction> sent = sender_.SendNewOrder(source_.delivery(), *security, side, quantity, price);
    tracking_.noteSent(sent, TransKind::NewOrder, side, price, quantity, 0);
}

void OrderEntry::SendKillAll(InfoPanel* panel) {
    const TSecShareRecord* security = source_.shownSecurity();
    if (!security) return;
    // The library refuses KILL_ALL_ORDERS, and a futures kill-all without its base contract
    // (a security the script host described) is refused too: the known orders go one by one.
    const std::string section = NormalizedText(settings_.SECTION);
    if ((settings_.outputMode == OutputMode::DLL && section == "MICEX") ||
        (section == "FORTS" && security->BaseContract.empty())) {
        const std::vector<OwnOrder> active = tracking_.tracker().activeOrders();
        std::vector<std::uint32_t> handedOver;
        for (const OwnOrder& order : active) {
            security = source_.shownSecurity();
            if (!security) break;
            const std::optional<SentTransaction> sent = sender_.SendKillOrder(source_.delivery(), *security, order.number);
            tracking_.noteSent(sent, TransKind::KillOrder, order.side, order.price, 0, order.number);
            if (sent && sent->delivery.handedOver) handedOver.push_back(static_cast<std::uint32_t>(sent->transId));
        }
        // Sent is not cancelled: the outcome follows once the terminal has answered each.
        if (active.empty() && panel) panel->showNotice("Нет известных заявок");
        tracking_.noteCancels(handedOver);
        return;
    }
    tracking_.noteSent(sender_.SendKillAll(source_.delivery(), *security, source_.securities()), TransKind::KillAll,
                       Side::Buy, 0, 0, 0);
}

std::optional<std::int64_t> OrderEntry::typedPrice(const OrderEditors& view) {
    const TSecShareRecord* security = source_.shownSecurity();
    std::optional<double> typed = ReadPriceText(view.priceText());
    if (!security || !typed) return std::nullopt;
    return PriceTicks(*typed, security->Decimals);
}

void OrderEntry::cancelAt(InfoPanel& panel, int column, int row, std::int64_t price) {
    const Side side = column == LadderGrid::OwnSell ? Side::Sell : Side::Buy;
    const std::vector<std::uint64_t> numbers = tracking_.tracker().activeAt(side, price);
    if (numbers.empty()) {
        if (!TrimmedText(ladder_.cell(row, column)).empty())
            panel.showNotice("Номер заявки неизвестен: снимите её в терминале");
        return;
    }
    for (std::uint64_t number : numbers) {
        const TSecShareRecord* security = source_.shownSecurity();
        if (!security) return;
        tracking_.noteSent(sender_.SendKillOrder(source_.delivery(), *security, number), TransKind::KillOrder, side,
                           price, 0, number);
    }
}

void OrderEntry::orderAtEditorPrice(OrderEditors& view, Side side) {
    if (!watch_.orderAllowed(log_, view, side == Side::Buy ? "acBUY" : "acSELL")) return;
    if (!instrumentChosen()) return;
    std::optional<std::int64_t> price = typedPrice(view);
    if (!price) return;
    SendNewOrder(side, view.contractCount(), *price);
}

std::optional<std::int64_t> OrderEntry::priceFromBest(const char* command, BestOf from, PriceMove move,
                                                      std::int32_t steps) {
    // In an auction the best prices cross: priced through them an order could trade anywhere.
    if (source_.shownTable()->Crossed()) {
        log_.LogMessage(std::string(command) + " refused: the book is crossed (an auction)", 1);
        tracking_.showRefusal("Стакан пересечён (аукцион): рыночная заявка не отправлена");
        return std::nullopt;
    }
    std::optional<std::int64_t> best = BestPrice(*source_.shownTable(), from);
    if (!best) {
        log_.LogMessage(
            std::string(command) + " refused: no " + (from == BestOf::Bid ? "bids" : "asks") + " in the book", 1);
        return std::nullopt;
    }
    return StepsAway(*best, *source_.shownSecurity(), move == PriceMove::Up ? Up(steps) : Down(steps));
}

// A best price moved up or down by `steps` price steps.
void OrderEntry::orderFromBest(OrderEditors& view, const char* command, BestOf from, PriceMove move,
                               std::int32_t steps, Side side) {
    if (!watch_.orderAllowed(log_, view, command)) return;
    if (!instrumentChosen()) return;
    if (std::optional<std::int64_t> price = priceFromBest(command, from, move, steps))
        SendNewOrder(side, view.contractCount(), *price);
}

// The order goes right after the cancels, without waiting for their answers: the terminal takes
// transactions in the order they were sent, so the cancels come first, and waiting would hold the
// position open for a round trip just when the user wants out. It closes the position known now.
void OrderEntry::orderAgainstPosition(OrderEditors& view, const char* command, PositionMultiple multiple) {
    if (!watch_.orderAllowed(log_, view, command)) return;
    if (!instrumentChosen()) return;
    const std::optional<std::int64_t> position = source_.shownPositionLots();
    if (!position || *position == 0) {
        log_.LogMessage(std::string(command) + " refused: " + (position ? "no position" : "the position is not known"),
                        1);
        tracking_.showRefusal(position ? "Позиции нет" : "Позиция неизвестна");
        return;
    }
    const Side side = *position > 0 ? Side::Sell : Side::Buy;
    const std::int64_t lots = (*position > 0 ? *position : -*position) * static_cast<std::int64_t>(multiple);
    const auto quantity =
        static_cast<std::int32_t>(std::min<std::int64_t>(lots, std::numeric_limits<std::int32_t>::max()));
    // Checked before anything goes: a refused order must not leave the cancels behind alone.
    if (!sender_.QuantityAllowed(quantity, command)) return;
    const std::int32_t spread = settings_.MarketSpread;
    const std::optional<std::int64_t> price =
        side == Side::Buy ? priceFromBest(command, BestOf::Ask, PriceMove::Up, spread)
                          : priceFromBest(command, BestOf::Bid, PriceMove::Down, spread);
    if (!price) return;
    log_.LogMessage(std::string(command) + ": position " + std::to_string(*position) + ", " +
                        (side == Side::Buy ? "buying " : "selling ") + std::to_string(quantity),
                    1);
    SendKillAll(nullptr);
    SendNewOrder(side, quantity, *price);
}

void OrderEntry::leftClick(OrderEditors& view, bool shift, int column, int row, std::int64_t price) {
    const LadderGrid& grid = ladder_;
    std::int32_t quantity = view.contractCount();
    // Checked once, so a Shift+click above the limit shows one box, not one for the order and one for the stop.
    if (column == LadderGrid::OwnSell || column == LadderGrid::OwnBuy) {
        cancelAt(view, column, row, price);
        return;
    }
    if (column != LadderGrid::PriceColumn && !sender_.QuantityAllowed(quantity, "ladder click")) return;
    const TSecShareRecord& security = *source_.shownSecurity();
    switch (column) {
        case LadderGrid::PriceColumn:
            view.setPriceText(grid.cell(row, LadderGrid::PriceColumn));
            break;
        // The stop is priced before sending: a box the send opens runs ticks whose
        // discovery may leave no current security.
        case LadderGrid::SellQuantity: {
            const std::int64_t limit = StepsAway(price, security, Up(view.limitOrderShift()));
            const std::int64_t stop = StepsAway(limit, security, Down(view.limitStopShift()));
            SendNewOrder(Side::Buy, quantity, limit);
            if (shift) AddStopOrder(Side::Sell, stop, quantity);
            break;
        }
        case LadderGrid::BuyQuantity: {
            const std::int64_t limit = StepsAway(price, security, Down(view.limitOrderShift()));
            const std::int64_t stop = StepsAway(limit, security, Up(view.limitStopShift()));
            SendNewOrder(Side::Sell, quantity, limit);
            if (shift) AddStopOrder(Side::Buy, stop, quantity, DirectionSeparator::SemicolonSpace);
            break;
        }
        case LadderGrid::Stop: {
            // An offer row gets a buy stop, a bid row a sell stop.
            bool bidRow = TrimmedText(grid.cell(row, LadderGrid::SellQuantity)).empty();
            AddStopOrder(bidRow ? Side::Sell : Side::Buy, price, quantity);
            break;
        }
        default:
            break;
    }
}

void OrderEntry::rightClick(int column, int row) {
    const LadderGrid& grid = ladder_;
    int lastRow = grid.rowCount() - 1;
    TStopOrders* stops = source_.stops();
    if (column != LadderGrid::Stop || row == 0 || row >= lastRow || !stops) return;
    if (grid.cell(row, LadderGrid::Stop).empty()) return;
    std::optional<std::int64_t> upper = grid.rowPrice(row);
    std::optional<std::int64_t> lower = grid.rowPrice(row + 1);
    if (!upper || !lower) return;
    stops->RemoveFirstInRange(*upper, *lower, source_.shownSecurity()->Decimals, log_);
}

void OrderEntry::BuyAtEditorPrice(OrderEditors& view) { orderAtEditorPrice(view, Side::Buy); }

void OrderEntry::SellAtEditorPrice(OrderEditors& view) { orderAtEditorPrice(view, Side::Sell); }

void OrderEntry::MarketBuy(OrderEditors& view) {
    orderFromBest(view, "acMarketBUY", BestOf::Ask, PriceMove::Up, settings_.MarketSpread, Side::Buy);
}

void OrderEntry::MarketSell(OrderEditors& view) {
    orderFromBest(view, "acMarketSell", BestOf::Bid, PriceMove::Down, settings_.MarketSpread, Side::Sell);
}

void OrderEntry::MarketPlusBuy(OrderEditors& view) {
    orderFromBest(view, "acMarketPlusBuy", BestOf::Bid, PriceMove::Up, view.limitOrderShift(), Side::Buy);
}

void OrderEntry::MarketPlusSell(OrderEditors& view) {
    orderFromBest(view, "acMarketPlusSell", BestOf::Ask, PriceMove::Down, view.limitOrderShift(), Side::Sell);
}

void OrderEntry::ClearAllOrders(OrderEditors& view) {
    if (!watch_.killAllAllowed(log_, view)) return;
    if (!instrumentChosen()) return;
    SendKillAll(&view);
}

void OrderEntry::Flatten(OrderEditors& view) { orderAgainstPosition(view, "acFlatten", PositionMultiple::Once); }

void OrderEntry::Reverse(OrderEditors& view) { orderAgainstPosition(view, "acReverse", PositionMultiple::Twice); }

void OrderEntry::ClearAllStops() {
    if (TStopOrders* stops = source_.stops()) stops->Clear();
}

void OrderEntry::SetStop(OrderEditors& view) {
    if (!watch_.stopAllowed(log_, view, "acSetStop")) return;
    if (!instrumentChosen()) return;
    const TQuoteTable& table = *source_.shownTable();
    std::optional<std::int64_t> bid = BestPrice(table, BestOf::Bid);
    std::optional<std::int64_t> ask = BestPrice(table, BestOf::Ask);
    if (!bid || !ask) return;
    std::optional<std::int64_t> price = typedPrice(view);
    if (!price) return;
    if (*price < *bid || *price > *ask)
        AddStopOrder(*price <= *bid ? Side::Sell : Side::Buy, *price, view.contractCount());
}

void OrderEntry::LadderMouseDown(OrderEditors& view, MouseButton button, bool shift, int column, int row) {
    if (button == MouseButton::Left && row > 0) {
        const bool placesOrder = column == LadderGrid::SellQuantity || column == LadderGrid::BuyQuantity ||
                                 column == LadderGrid::OwnSell || column == LadderGrid::OwnBuy;
        if (placesOrder && !watch_.orderAllowed(log_, view, "ladder click")) return;
        if (column == LadderGrid::Stop && !watch_.stopAllowed(log_, view, "ladder click")) return;
    }
    if (!instrumentChosen()) return;
    if (row < 0 || row >= ladder_.rowCount() || column < 0 || column >= LadderGrid::ColumnCount) return;
    if (button == MouseButton::Right) {
        rightClick(column, row);
        return;
    }
    if (button != MouseButton::Left || row == 0) return;
    std::optional<std::int64_t> price = ladder_.rowPrice(row);
    if (!price) return;
    leftClick(view, shift, column, row, *price);
}

void OrderEntry::PriceStep(OrderEditors& view, PriceMove move) {
    if (!instrumentChosen()) return;
    std::optional<std::int64_t> price = typedPrice(view);
    if (!price) return;
    const TSecShareRecord& security = *source_.shownSecurity();
    const std::int64_t moved = StepsAway(*price, security, move == PriceMove::Up ? Up(1) : Down(1));
    view.setPriceText(PriceText(moved, security.Decimals, log_.locale().decimalSeparator()));
}

void OrderEntry::AddStopOrder(Side side, std::int64_t Price, std::int32_t Quantity, DirectionSeparator separator) {
    TStopOrders* stops = source_.stops();
    if (!stops || !sender_.QuantityAllowed(Quantity, "stop")) return;
    // The quantity's box runs an event loop; the list is looked up again.
    stops = source_.stops();
    if (!stops) return;
    auto stop = std::make_unique<TStopOrder>();
    stop->side = side;
    stop->Price = Price;
    stop->Quantity = Quantity;
    stops->append(std::move(stop));
    const TSecShareRecord* security = source_.shownSecurity();
    const double shown = TicksValue(Price, security ? security->Decimals : 0);
    if (log_.enabled(2))
        log_.LogMessage("added stop order " + FormatGeneral(shown, log_.locale().decimalSeparator()) + "; " +
                            std::to_string(Quantity) +
                            (separator == DirectionSeparator::SemicolonSpace ? "; " : ";") + StopSideDigit(side),
                        2);
}

void OrderEntry::CheckStopOrders() {
    // Stale rows must not fire anything.
    if (!instrumentChosen() || !source_.stops() || !watch_.ladderLive()) return;
    // An auction's crossed prices are no trades: they fire nothing until the book opens.
    if (source_.shownTable()->Crossed()) return;
    // Prices, not rows: sending may open a message box whose event loop runs a tick
    // that replaces the rows and fires or clears stops.
    std::optional<std::int64_t> ask = BestPrice(*source_.shownTable(), BestOf::Ask);
    std::optional<std::int64_t> bid = BestPrice(*source_.shownTable(), BestOf::Bid);
    // Backwards, so deleting a fired stop leaves the positions still to examine valid.
    for (int i = source_.stops() ? source_.stops()->Count() - 1 : -1; i >= 0;) {
        const TStopOrder& stop = *source_.stops()->items[static_cast<std::size_t>(i)];
        if (stop.side == Side::Buy && bid && stop.Price <= *bid)
            FireStopOrder(i, *bid);
        else if (stop.side == Side::Sell && ask && stop.Price >= *ask)
            FireStopOrder(i, *ask);
        TStopOrders* stops = source_.stops();
        if (!stops) break;
        i = std::min(i - 1, stops->Count() - 1);
    }
}

void OrderEntry::FireStopOrder(int Index, std::int64_t TriggerPrice) {
    const TSecShareRecord* security = source_.shownSecurity();
    TStopOrders* stops = source_.stops();
    if (!security || !stops) return;
    std::unique_ptr<TStopOrder> stop = stops->take(Index);
    if (!stop) return;
    // Gone before it is sent: a refused order does not bring the stop back.
    const std::int32_t spread = settings_.MarketSpread;
    SendNewOrder(stop->side, stop->Quantity,
                 StepsAway(TriggerPrice, *security, stop->side == Side::Buy ? Up(spread) : Down(spread)));
}

void OrderEntry::ShowStopQuantities() {
    LadderGrid& grid = ladder_;
    const TStopOrders* stops = source_.stops();
    for (int r = 1; r <= grid.rowCount() - 2; ++r) {
        std::optional<std::int64_t> upper = grid.rowPrice(r);
        std::optional<std::int64_t> lower = upper ? grid.rowPrice(r + 1) : std::nullopt;
        std::int32_t quantity = (upper && lower && stops) ? stops->QuantityInRange(*upper, *lower) : 0;
        if (quantity != 0)
            grid.setCell(r, LadderGrid::Stop, std::to_string(quantity));
        else
            grid.clearCell(r, LadderGrid::Stop);
    }
}

}  // namespace velmora
