#include "core/program.h"

#include "core/main_view.h"
#include "ladder/ladder_refresh.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/alarms.h"
#include "terminal/quote_discovery.h"

namespace velmora {

Program::Program(Platform platform_)
    : platform(platform_), log(platform_.clock, platform_.locale, platform_.messages) {}

Program::~Program() = default;

const TSecShareList* Program::securities() { return SecurityList.get(); }

void BuyAtEditorPrice(Program& program, MainView& view) { program.orders.BuyAtEditorPrice(view); }
void SellAtEditorPrice(Program& program, MainView& view) { program.orders.SellAtEditorPrice(view); }
void MarketBuy(Program& program, MainView& view) { program.orders.MarketBuy(view); }
void MarketSell(Program& program, MainView& view) { program.orders.MarketSell(view); }
void MarketPlusBuy(Program& program, MainView& view) { program.orders.MarketPlusBuy(view); }
void MarketPlusSell(Program& program, MainView& view) { program.orders.MarketPlusSell(view); }
void ClearAllOrders(Program& program, MainView& view) { program.orders.ClearAllOrders(view); }
void ClearAllStops(Program& program) { program.orders.ClearAllStops(); }
void SetStop(Program& program, MainView& view) { program.orders.SetStop(view); }
void LadderMouseDown(Program& program, MainView& view, MouseButton button, bool shift, int column, int row) {
    program.orders.LadderMouseDown(view, button, shift, column, row);
}
void PriceStep(Program& program, MainView& view, bool up) { program.orders.PriceStep(view, up); }
void AddStopOrder(Program& program, std::uint8_t Direction, double Price, std::int32_t Quantity,
                  bool spacedDirection) {
    program.orders.AddStopOrder(Direction, Price, Quantity, spacedDirection);
}
void CheckStopOrders(Program& program) { program.orders.CheckStopOrders(); }
void FireStopOrder(Program& program, int Index, double TriggerPrice) {
    program.orders.FireStopOrder(Index, TriggerPrice);
}
void ShowStopQuantities(Program& program) { program.orders.ShowStopQuantities(); }

OrderDelivery& Program::delivery() {
    switch (settings.outputMode) {
        case OutputMode::TRI: return fileDelivery;
        case OutputMode::DLL: return library;
        case OutputMode::LogOnly: break;
    }
    return logOnly;
}

void SendNewOrder(Program& program, int Operation, std::int32_t Quantity, double Price) {
    if (program.CurrentSecurity)
        program.sender.SendNewOrder(program.delivery(), *program.CurrentSecurity, Operation, Quantity, Price);
}

void SendKillAll(Program& program) {
    if (program.CurrentSecurity)
        program.sender.SendKillAll(program.delivery(), *program.CurrentSecurity, program.SecurityList.get());
}

bool RefreshDOM(Program& program) {
    return RefreshDOM(program.ladder, program.settings.DOMRowCount, program.CurrentQuoteTable, program.CurrentSecurity,
                      program.TerminalProcess.get(), program.log);
}

void RefreshQuoteTables(Program& program, MainView& view) {
    if (!program.quoteTables) program.quoteTables = std::make_unique<TQuoteTables>();
    RefreshQuoteTables(*program.quoteTables, program.CurrentQuoteTable, program.CurrentSecurity,
                       program.TerminalProcess.get(), static_cast<TerminalAddress>(program.settings.DOMBASE),
                       program.SecurityList.get(), program.settings.DefaultContract, view, program.log);
}

void SecNameChange(Program& program, MainView& view) {
    if (program.log.enabled(5)) program.log.LogMessage("Changing sec...", 5);
    std::vector<InstrumentItem> items = view.instrumentItems();
    int selected = view.selectedInstrumentIndex();
    const std::string stopsTicker = program.CurrentSecurity ? program.CurrentSecurity->Ticker : std::string();
    program.clearCurrent();
    if (selected >= 0 && selected < static_cast<int>(items.size())) {
        const InstrumentItem& item = items[static_cast<std::size_t>(selected)];
        program.settings.DefaultContract = item.ticker;
        if (program.quoteTables)
            TableAt(*program.quoteTables, item.tablePosition, program.SecurityList.get(), program.CurrentQuoteTable,
                    program.CurrentSecurity);
    }
    if (program.instrumentChosen() && program.log.enabled(5)) {
        program.log.LogMessage("QuoteTable:" + program.CurrentQuoteTable->Description(), 5);
        program.log.LogMessage("SecRec:" + SecShareDescription(*program.CurrentSecurity), 5);
    }
    view.setPriceText("");
    // Local stops are kept only for the instrument shown; the user must see that they went.
    if (program.StopOrders && program.StopOrders->Count() > 0) {
        const std::string text =
            "Сняты стопы по " + stopsTicker + ": " + std::to_string(program.StopOrders->Count());
        program.StopOrders->Clear();
        program.log.LogMessage(text, 1);
        view.showNotice(text);
    }
}

bool QuantityAllowed(Program& program, std::int32_t quantity, const char* what) {
    return program.sender.QuantityAllowed(quantity, what);
}

}  // namespace velmora
