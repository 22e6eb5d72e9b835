#include "orders/order_entry.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "core/main_view.h"
#include "core/program.h"
#include "core/terminal_watch.h"
#include "ladder/price_text.h"
#include "orders/stop_orders.h"
#include "platform/clock.h"
#include "secs/security_list.h"
#include "settings/normalized_text.h"
#include "trans/transactions.h"

namespace velmora {

namespace {

constexpr int Buy = 0;
constexpr int Sell = 1;

// The best price of one side, priced for the current security; none when that side is empty.
std::optional<double> BestPrice(Program& program, bool bid) {
    TQuoteRecord* row = bid ? program.CurrentQuoteTable->BestBid() : program.CurrentQuoteTable->BestAsk();
    if (!row) return std::nullopt;
    row->CalcPrice(*program.CurrentSecurity);
    return row->Price;
}

double Offset(Program& program, std::int32_t steps) { return program.CurrentSecurity->stepOffset(steps); }

void OrderAtEditorPrice(Program& program, MainView& view, int operation) {
    if (!OrderAllowed(program, view, operation == Buy ? "acBUY" : "acSELL")) return;
    if (!program.instrumentChosen()) return;
    std::optional<double> price = ReadPriceText(view.priceText());
    if (!price) return;
    SendNewOrder(program, operation, view.contractCount(), *price);
}

// A best price moved up or down by `steps` price steps.
void OrderFromBest(Program& program, MainView& view, const char* command, bool fromBid, bool up, std::int32_t steps,
                   int operation) {
    if (!OrderAllowed(program, view, command)) return;
    if (!program.instrumentChosen()) return;
    std::optional<double> best = BestPrice(program, fromBid);
    if (!best) return;
    double offset = Offset(program, steps);
    SendNewOrder(program, operation, view.contractCount(), up ? *best + offset : *best - offset);
}

void LeftClick(Program& program, MainView& view, bool shift, int column, int row, double price) {
    const LadderGrid& grid = program.ladder;
    std::int32_t quantity = view.contractCount();
    // Checked once, so a Shift+click above the limit shows one box, not one for the order and one for the stop.
    if (column != LadderGrid::PriceColumn && !QuantityAllowed(program, quantity, "ladder click")) return;
    switch (column) {
        case LadderGrid::PriceColumn:
            view.setPriceText(grid.cell(row, LadderGrid::PriceColumn));
            break;
        // The stop is priced before sending: a box the send opens runs ticks whose
        // discovery may leave no current security.
        case LadderGrid::SellQuantity: {
            double limit = price + Offset(program, view.limitOrderShift());
            double stop = limit - Offset(program, view.limitStopShift());
            SendNewOrder(program, Buy, quantity, limit);
            if (shift) AddStopOrder(program, Sell, stop, quantity);
            break;
        }
        case LadderGrid::BuyQuantity: {
            double limit = price - Offset(program, view.limitOrderShift());
            double stop = limit + Offset(program, view.limitStopShift());
            SendNewOrder(program, Sell, quantity, limit);
            if (shift) AddStopOrder(program, Buy, stop, quantity, true);
            break;
        }
        case LadderGrid::Stop: {
            // An offer row gets a buy stop, a bid row a sell stop.
            bool bidRow = TrimmedText(grid.cell(row, LadderGrid::SellQuantity)).empty();
            AddStopOrder(program, bidRow ? Sell : Buy, price, quantity);
            break;
        }
        default:
            break;
    }
}

void RightClick(Program& program, int column, int row) {
    const LadderGrid& grid = program.ladder;
    int lastRow = grid.rowCount() - 1;
    if (column != LadderGrid::Stop || row == 0 || row >= lastRow || !program.StopOrders) return;
    if (grid.cell(row, LadderGrid::Stop).empty() || grid.cell(row + 1, LadderGrid::PriceColumn).empty()) return;
    std::optional<double> upper = ReadPriceText(grid.cell(row, LadderGrid::PriceColumn));
    std::optional<double> lower = ReadPriceText(grid.cell(row + 1, LadderGrid::PriceColumn));
    if (!upper || !lower) return;
    program.StopOrders->RemoveFirstInRange(*upper, *lower, program.log);
}

// A price cell as ShowStopQuantities reads it: blanks trimmed, a comma allowed.
std::optional<double> StopRangeBound(const std::string& text) {
    std::string_view trimmed = TrimmedText(text);
    if (trimmed.empty()) return std::nullopt;
    return ReadPriceText(trimmed);
}

}  // namespace

void BuyAtEditorPrice(Program& program, MainView& view) { OrderAtEditorPrice(program, view, Buy); }

void SellAtEditorPrice(Program& program, MainView& view) { OrderAtEditorPrice(program, view, Sell); }

void MarketBuy(Program& program, MainView& view) {
    OrderFromBest(program, view, "acMarketBUY", false, true, program.settings.MarketSpread, Buy);
}

void MarketSell(Program& program, MainView& view) {
    OrderFromBest(program, view, "acMarketSell", true, false, program.settings.MarketSpread, Sell);
}

void MarketPlusBuy(Program& program, MainView& view) {
    OrderFromBest(program, view, "acMarketPlusBuy", true, true, view.limitOrderShift(), Buy);
}

void MarketPlusSell(Program& program, MainView& view) {
    OrderFromBest(program, view, "acMarketPlusSell", false, false, view.limitOrderShift(), Sell);
}

void ClearAllOrders(Program& program, MainView& view) {
    if (!KillAllAllowed(program, view)) return;
    if (!program.instrumentChosen()) return;
    SendKillAll(program);
}

void ClearAllStops(Program& program) {
    if (program.StopOrders) program.StopOrders->Clear();
}

void SetStop(Program& program, MainView& view) {
    if (!StopAllowed(program, view, "acSetStop")) return;
    if (!program.instrumentChosen()) return;
    std::optional<double> bid = BestPrice(program, true);
    std::optional<double> ask = BestPrice(program, false);
    if (!bid || !ask) return;
    std::optional<double> price = ReadPriceText(view.priceText());
    if (!price) return;
    if (*price < *bid || *price > *ask)
        AddStopOrder(program, *price <= *bid ? Sell : Buy, *price, view.contractCount());
}

void LadderMouseDown(Program& program, MainView& view, MouseButton button, bool shift, int column,
                     int row) {
    if (button == MouseButton::Left && row > 0) {
        const bool placesOrder = column == LadderGrid::SellQuantity || column == LadderGrid::BuyQuantity;
        if (placesOrder && !OrderAllowed(program, view, "ladder click")) return;
        if (column == LadderGrid::Stop && !StopAllowed(program, view, "ladder click")) return;
    }
    if (!program.instrumentChosen()) return;
    if (row < 0 || row >= program.ladder.rowCount() || column < 0 || column >= LadderGrid::ColumnCount)
        return;
    if (button == MouseButton::Right) {
        RightClick(program, column, row);
        return;
    }
    if (button != MouseButton::Left || row == 0) return;
    std::optional<double> price = ReadPriceText(program.ladder.cell(row, LadderGrid::PriceColumn));
    if (!price) return;
    LeftClick(program, view, shift, column, row, *price);
}

void PriceStep(Program& program, MainView& view, bool up) {
    if (!program.instrumentChosen()) return;
    std::optional<double> price = ReadPriceText(view.priceText());
    if (!price) return;
    const TSecShareRecord& security = *program.CurrentSecurity;
    double step = security.priceStep();
    double moved = up ? *price + step : *price - step;
    view.setPriceText(FormatFixed(moved, security.Decimals, program.log.locale().decimalSeparator()));
}

void AddStopOrder(Program& program, std::uint8_t Direction, double Price, std::int32_t Quantity,
                  bool spacedDirection) {
    if (!program.StopOrders || !QuantityAllowed(program, Quantity, "stop")) return;
    auto stop = std::make_unique<TStopOrder>();
    stop->Direction = Direction;
    stop->Price = Price;
    stop->Quantity = Quantity;
    program.StopOrders->append(std::move(stop));
    if (program.log.enabled(2))
        program.log.LogMessage("added stop order " +
                                   FormatGeneral(Price, program.log.locale().decimalSeparator()) + "; " +
                                   std::to_string(Quantity) + (spacedDirection ? "; " : ";") +
                                   std::to_string(Direction),
                               2);
}

void CheckStopOrders(Program& program) {
    // Stale rows must not fire anything.
    if (!program.instrumentChosen() || !program.StopOrders || !program.watch.ladderLive()) return;
    // Prices, not rows: sending may open a message box whose event loop runs a tick
    // that replaces the rows and fires or clears stops.
    std::optional<double> ask = BestPrice(program, false);
    std::optional<double> bid = BestPrice(program, true);
    TStopOrders& stops = *program.StopOrders;
    // Backwards, so deleting a fired stop leaves the positions still to examine valid.
    for (int i = stops.Count() - 1; i >= 0; i = std::min(i - 1, stops.Count() - 1)) {
        const TStopOrder& stop = *stops.items[static_cast<std::size_t>(i)];
        if (stop.Direction == Buy && bid && stop.Price <= *bid)
            FireStopOrder(program, i, *bid);
        else if (stop.Direction == Sell && ask && stop.Price >= *ask)
            FireStopOrder(program, i, *ask);
    }
}

void FireStopOrder(Program& program, int Index, double TriggerPrice) {
    if (!program.CurrentSecurity || !program.StopOrders) return;
    auto& items = program.StopOrders->items;
    if (Index < 0 || Index >= static_cast<int>(items.size())) return;
    auto position = items.begin() + Index;
    // Gone before it is sent: a refused order does not bring the stop back.
    std::unique_ptr<TStopOrder> stop = std::move(*position);
    items.erase(position);
    double offset = Offset(program, program.settings.MarketSpread);
    double price = stop->Direction == Buy ? TriggerPrice + offset : TriggerPrice - offset;
    SendNewOrder(program, stop->Direction, stop->Quantity, price);
}

void ShowStopQuantities(Program& program) {
    LadderGrid& grid = program.ladder;
    for (int r = 1; r <= grid.rowCount() - 2; ++r) {
        std::optional<double> upper = StopRangeBound(grid.cell(r, LadderGrid::PriceColumn));
        std::optional<double> lower =
            upper ? StopRangeBound(grid.cell(r + 1, LadderGrid::PriceColumn)) : std::nullopt;
        std::int32_t quantity =
            (upper && lower && program.StopOrders) ? program.StopOrders->QuantityInRange(*upper, *lower) : 0;
        if (quantity != 0)
            grid.setCell(r, LadderGrid::Stop, std::to_string(quantity));
        else
            grid.clearCell(r, LadderGrid::Stop);
    }
}

}  // namespace velmora
