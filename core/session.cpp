#include "core/session.h"

#include "core/main_view.h"
#include "ladder/ladder_refresh.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/alarms.h"

namespace velmora {

Session::Session(Platform platform_)
    : platform(platform_), log(platform_.clock, platform_.locale, platform_.messages) {}

Session::~Session() = default;

const TSecShareList* Session::securities() { return SecurityList.get(); }

OrderDelivery& Session::delivery() {
    switch (settings.outputMode) {
        case OutputMode::TRI: return fileDelivery;
        case OutputMode::DLL: return library;
        case OutputMode::LogOnly: break;
    }
    return logOnly;
}

void Session::SendNewOrder(Side side, std::int32_t Quantity, std::int64_t price) {
    orders.SendNewOrder(side, Quantity, price);
}

void Session::SendKillAll() { orders.SendKillAll(nullptr); }

void Session::followShownInstrument() {
    const TSecShareRecord* shown = discovery.security();
    const std::string classCode = shown ? shown->ClassCode : std::string();
    const std::string ticker = shown ? shown->Ticker : std::string();
    if (classCode == followedClass_ && ticker == followedTicker_) return;
    followedClass_ = classCode;
    followedTicker_ = ticker;
    tracking.setInstrument(shown);
    if (shown && settings.outputMode == OutputMode::DLL) library.followOrders(classCode, ticker);
}

bool Session::RefreshDOM() {
    if (script) return refreshScriptDOM();
    return velmora::RefreshDOM(ladder, settings.DOMRowCount, discovery.table(), discovery.security(),
                               terminal.process(), log);
}

void Session::RefreshQuoteTables(InstrumentChooser& chooser) {
    if (script) return refreshScriptChooser(chooser);
    discovery.refresh(terminal.process(), static_cast<TerminalAddress>(settings.DOMBASE), SecurityList.get(),
                      settings.DefaultContract, chooser, log);
}

void Session::SecNameChange(MainView& view) {
    if (log.enabled(5)) log.LogMessage("Changing sec...", 5);
    const int selected = view.selectedInstrumentIndex();
    const std::string stopsTicker = discovery.security() ? discovery.security()->Ticker : std::string();
    const std::vector<InstrumentItem>& items = script ? scriptOffered_ : discovery.offered();
    if (selected >= 0 && selected < static_cast<int>(items.size()))
        settings.DefaultContract = items[static_cast<std::size_t>(selected)].ticker;
    if (script)
        chooseScriptInstrument(selected);
    else
        discovery.choose(selected, SecurityList.get());
    if (instrumentChosen() && log.enabled(5)) {
        log.LogMessage("QuoteTable:" + discovery.table()->Description(), 5);
        log.LogMessage("SecRec:" + SecShareDescription(*discovery.security()), 5);
    }
    view.setPriceText("");
    // Local stops are kept only for the instrument shown; the user must see that they went.
    if (StopOrders && StopOrders->Count() > 0) {
        const std::string text = "Сняты стопы по " + stopsTicker + ": " + std::to_string(StopOrders->Count());
        StopOrders->Clear();
        log.LogMessage(text, 1);
        view.showNotice(text);
    }
}

}  // namespace velmora
