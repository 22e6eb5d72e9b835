#pragma once
#include <memory>

#include "core/session.h"
#include "ladder/ladder_grid.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "settings/settings.h"
#include "terminal/memory_book_source.h"
#include "terminal/quote_discovery.h"
#include "terminal/terminal_link.h"

namespace velmora::testing {

// The components that find and read the terminal's books, as a session holds them, for the
// tests of one of them.
struct BookParts : BookSourceEvents {
    explicit BookParts(Platform platform)
        : log(platform.clock, platform.locale, platform.messages),
          books(settings, log, platform.processes, terminal, discovery, SecurityList, *this) {}

    // As the session's: the instruments offered again; both the book and its security shown.
    void RefreshQuoteTables(InstrumentChooser& chooser) { books.rediscover(chooser); }
    bool instrumentChosen() { return books.shownBook() != nullptr && books.shownSecurity() != nullptr; }

    void terminalProcessLost() override {}
    void terminalTakenAgain() override {}

    Log log;
    Settings settings;
    TerminalLink terminal;
    QuoteDiscovery discovery;
    LadderGrid ladder;
    std::unique_ptr<TSecShareList> SecurityList;
    std::unique_ptr<TStopOrders> StopOrders;
    bool AppClosing = false;
    MemoryBookSource books;
};

}  // namespace velmora::testing
