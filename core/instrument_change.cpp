#include "core/instrument_change.h"

#include <string>
#include <vector>

#include "core/main_view.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "settings/settings.h"
#include "terminal/book_source.h"
#include "terminal/quote_table.h"

namespace velmora {

void ChangeInstrument(BookSource& books, Settings& settings, TStopOrders* stops, Log& log, MainView& view) {
    if (log.enabled(5)) log.LogMessage("Changing sec...", 5);
    const int selected = view.selectedInstrumentIndex();
    const TSecShareRecord* before = books.shownSecurity();
    const std::string stopsTicker = before ? before->Ticker : std::string();
    const std::vector<InstrumentItem>& items = books.offered();
    if (selected >= 0 && selected < static_cast<int>(items.size()))
        settings.DefaultContract = items[static_cast<std::size_t>(selected)].ticker;
    books.choose(selected);
    if (books.shownBook() && books.shownSecurity() && log.enabled(5)) {
        log.LogMessage("QuoteTable:" + books.shownBook()->Description(), 5);
        log.LogMessage("SecRec:" + SecShareDescription(*books.shownSecurity()), 5);
    }
    view.setPriceText("");
    // Local stops are kept only for the instrument shown; the user must see that they went.
    if (stops && stops->Count() > 0) {
        const std::string text = "Сняты стопы по " + stopsTicker + ": " + std::to_string(stops->Count());
        stops->Clear();
        log.LogMessage(text, 1);
        view.showNotice(text);
    }
}

}  // namespace velmora
