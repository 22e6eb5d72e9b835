#pragma once
#include <cstdint>

namespace velmora {

class Program;
class MainView;

enum class MouseButton { Left, Right, Other };

// The order commands of the main window. Each refuses silently (no instrument,
// empty side, a price that is not a number), and with a log line and a caption while
// the ladder is not live (terminal lost, book not read).
void BuyAtEditorPrice(Program& program, MainView& view);      // acBUY
void SellAtEditorPrice(Program& program, MainView& view);     // acSELL
void MarketBuy(Program& program, MainView& view);             // acMarketBUY
void MarketSell(Program& program, MainView& view);            // acMarketSell
void MarketPlusBuy(Program& program, MainView& view);         // acMarketPlusBuy
void MarketPlusSell(Program& program, MainView& view);        // acMarketPlusSell
void ClearAllOrders(Program& program, MainView& view);        // acClearAllOrders
void ClearAllStops(Program& program);                         // acClearAllStops
void SetStop(Program& program, MainView& view);               // acSetStop

// sgDOMMouseDown on the ladder cell (column, row); row 0 is the header.
void LadderMouseDown(Program& program, MainView& view, MouseButton button, bool shift, int column,
                     int row);

// sbPrice: one price step up or down in lePrice.
void PriceStep(Program& program, MainView& view, bool up);

// Stop routines: AddStopOrder logs "added stop order ..." at level 2;
// `spacedDirection` writes "; " before the direction instead of ";".
void AddStopOrder(Program& program, std::uint8_t Direction, double Price, std::int32_t Quantity,
                  bool spacedDirection = false);
void CheckStopOrders(Program& program);
void FireStopOrder(Program& program, int Index, double TriggerPrice);
void ShowStopQuantities(Program& program);

}  // namespace velmora
