#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "terminal/side.h"
#include "terminal/terminal_watch.h"

namespace velmora {

class InfoPanel;
class LadderGrid;
class Log;
class OrderTracking;
class OrderDelivery;
class OrderSender;
class TQuoteTable;
class TSecShareList;
class TStopOrders;
struct Settings;
struct TSecShareRecord;

enum class MouseButton { Left, Right, Other };

// What the order commands read of the window: its editors, and the panel that says why a
// command was refused. A spin editor's value is its text as an integer, or the editor's
// minimum when it is not one.
class OrderEditors : public WatchView {
public:
    virtual std::string priceText() const = 0;
    virtual void setPriceText(const std::string& text) = 0;
    virtual int contractCount() const = 0;
    virtual int limitOrderShift() const = 0;
    virtual int limitStopShift() const = 0;
};

// What the commands act on, read afresh each time: a send can open a box whose event loop
// runs ticks that re-point or free any of it.
class OrderSource {
public:
    virtual ~OrderSource() = default;
    // The shown book and its security: both or neither.
    virtual TQuoteTable* shownTable() = 0;
    virtual const TSecShareRecord* shownSecurity() = 0;
    virtual TStopOrders* stops() = 0;
    virtual const TSecShareList* securities() = 0;
    virtual OrderDelivery& delivery() = 0;
    // The shown instrument's position in whole lots, long above zero; none while it is not known.
    virtual std::optional<std::int64_t> shownPositionLots() = 0;
};

// The order commands of the main window. Each refuses silently (no instrument, empty side, a
// price that is not a number), and with a log line and a caption while the ladder is not live
// (terminal lost, book not read).
class OrderEntry {
public:
    OrderEntry(const Settings& settings, Log& log, TerminalWatch& watch, LadderGrid& ladder, OrderSender& sender,
               OrderTracking& tracking, OrderSource& source)
        : settings_(settings),
          log_(log),
          watch_(watch),
          ladder_(ladder),
          sender_(sender),
          tracking_(tracking),
          source_(source) {}

    // Sends and tracks one limit order on the shown security; `price` in its ticks.
    void SendNewOrder(Side side, std::int32_t quantity, std::int64_t price);
    // The kill-all of the shown security; `panel` hears how many were cancelled where it is
    // done order by order.
    void SendKillAll(InfoPanel* panel);

    void BuyAtEditorPrice(OrderEditors& view);   // acBUY
    void SellAtEditorPrice(OrderEditors& view);  // acSELL
    void MarketBuy(OrderEditors& view);          // acMarketBUY
    void MarketSell(OrderEditors& view);         // acMarketSell
    void MarketPlusBuy(OrderEditors& view);      // acMarketPlusBuy
    void MarketPlusSell(OrderEditors& view);     // acMarketPlusSell
    void ClearAllOrders(OrderEditors& view);     // acClearAllOrders
    // The instrument's own orders cancelled as acClearAllOrders does, then one market-priced order
    // against the position: its size (acFlatten) or twice it (acReverse).
    void Flatten(OrderEditors& view);
    void Reverse(OrderEditors& view);
    void ClearAllStops();                        // acClearAllStops
    void SetStop(OrderEditors& view);            // acSetStop

    // sgDOMMouseDown on the ladder cell (column, row); row 0 is the header.
    void LadderMouseDown(OrderEditors& view, MouseButton button, bool shift, int column, int row);

    // Which best price an order starts from, and which way a price moves.
    enum class BestOf { Bid, Ask };
    enum class PriceMove { Up, Down };
    // sbPrice: one price step up or down in lePrice.
    void PriceStep(OrderEditors& view, PriceMove move);

    // Stop routines, prices in ticks: AddStopOrder logs "added stop order ..." at level 2, with
    // this before the direction.
    enum class DirectionSeparator { Semicolon, SemicolonSpace };
    void AddStopOrder(Side side, std::int64_t Price, std::int32_t Quantity,
                      DirectionSeparator separator = DirectionSeparator::Semicolon);
    void CheckStopOrders();
    void FireStopOrder(int Index, std::int64_t TriggerPrice);
    void ShowStopQuantities();

private:
    bool instrumentChosen() { return source_.shownTable() != nullptr && source_.shownSecurity() != nullptr; }
    // The editor's text as the user typed it, in ticks of the shown security.
    std::optional<std::int64_t> typedPrice(const OrderEditors& view);
    void cancelAt(InfoPanel& panel, int column, int row, std::int64_t price);
    void orderAtEditorPrice(OrderEditors& view, Side side);
    void orderFromBest(OrderEditors& view, const char* command, BestOf from, PriceMove move, std::int32_t steps,
                       Side side);
    // A best price moved `steps` price steps, as the market commands price; none, logged and told,
    // where the book gives none.
    std::optional<std::int64_t> priceFromBest(const char* command, BestOf from, PriceMove move, std::int32_t steps);
    enum class PositionMultiple { Once = 1, Twice = 2 };
    void orderAgainstPosition(OrderEditors& view, const char* command, PositionMultiple multiple);
    void leftClick(OrderEditors& view, bool shift, int column, int row, std::int64_t price);
    void rightClick(int column, int row);

    const Settings& settings_;
    Log& log_;
    TerminalWatch& watch_;
    LadderGrid& ladder_;
    OrderSender& sender_;
    OrderTracking& tracking_;
    OrderSource& source_;
};

}  // namespace velmora
