#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/script_channel.h"
#include "ladder/ladder_grid.h"
#include "orders/order_entry.h"
#include "orders/order_tracking.h"
#include "settings/log.h"
#include "settings/settings.h"
#include "terminal/book_source.h"
#include "terminal/position_text.h"
#include "terminal/dombase_scan.h"
#include "terminal/quote_discovery.h"
#include "terminal/script_link.h"
#include "terminal/terminal_link.h"
#include "trans/order_delivery.h"
#include "trans/transactions.h"

namespace velmora {

class Clock;
class LocaleFormats;
class MainView;
class MessageSink;
class ProcessAccess;
class TransLibrary;
class TAlarms;
class TStopOrders;
class TSecShareList;

// What the platform provides; owned elsewhere (the window's main or a test).
struct Platform {
    ProcessAccess& processes;
    Clock& clock;
    LocaleFormats& locale;
    MessageSink& messages;
    TransLibrary& transLibrary;
};

// One run of the program: creates the components and wires them to each other, and runs
// start-up, the refresh tick and shutdown over them. Touched only from the window's thread.
// Boxes are only queued on `platform.messages`; the window shows them once a command or tick
// has returned, so nothing runs under a command that could free what it holds.
class Session : public OrderSource, private BookSourceEvents {
public:
    explicit Session(Platform platform);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Start-up, run once from the window's own queue after the window exists.
    void InitAll(MainView& view);
    // Shutdown, run as the window is destroyed.
    void DoneAll();
    // One tick of the refresh timer.
    void RefreshTick(MainView& view);
    // The window was closed: a pending wait for the terminal ends, the timer stops at its next tick.
    void FormClose() { AppClosing = true; }

    // acRefreshQuoteTables: the instruments offered again, the shown book re-pointed.
    void RefreshQuoteTables(InstrumentChooser& chooser);
    // cbSecNameChange: the user picked an instrument.
    void SecNameChange(MainView& view);
    // Reads the shown book again and maps it onto the ladder.
    bool RefreshDOM();

    // Books that arrive between ticks: the window calls PollBooks whenever the handle is readable
    // (or on a short timer where there is none); a changed shown book is repainted at once.
    bool booksArriveBetweenTicks() const { return books_->arrivesBetweenTicks(); }
    int booksReadableHandle() const { return books_->readableHandle(); }
    void PollBooks(MainView& view);
    // The clock of the script link's liveness; tests set their own.
    std::function<LinkTime()> linkNow = [] { return std::chrono::steady_clock::now(); };
    // Where the books come from, as start-up chose.
    const BookSource& books() const { return *books_; }

    // The window's "Найти адрес": offered while the book of the attached terminal does not read
    // (a wrong DOMBASE); the scan of its memory, best candidates first; the one the user took.
    bool domBaseScanOffered() const { return books_->domBaseScanOffered(); }
    std::string domBaseScanTarget() const { return books_->domBaseScanTarget(); }
    DomBaseScanResult ScanAttachedTerminal(const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
        return books_->scanForDomBase(progress);
    }
    void UseDomBase(TerminalAddress base, MainView& view);

    // The sender's commands on the shown security, priced in its ticks; nothing while there is none.
    void SendNewOrder(Side side, std::int32_t Quantity, std::int64_t price);
    void SendKillAll();

    bool instrumentChosen() const { return books_->shownBook() != nullptr && books_->shownSecurity() != nullptr; }

    Platform platform;
    Log log;
    Settings settings;

    std::string ProgramDir;  // with its trailing separator
    std::string SettingsPath;

    bool AppClosing = false;
    std::uint32_t CycleNum = 0;

    FileDelivery fileDelivery{settings, log};
    LibraryDelivery library{platform.transLibrary, settings, log};
    LogOnlyDelivery logOnly{log};
    OrderSender sender{settings, log, platform.messages};
    OrderTracking tracking{log, platform.transLibrary, platform.clock};

    TerminalLink terminal;
    QuoteDiscovery discovery;
    LadderGrid ladder;

    // Created by start-up, freed by shutdown.
    std::unique_ptr<TStopOrders> StopOrders;
    std::unique_ptr<TAlarms> Alarms;
    std::unique_ptr<TSecShareList> SecurityList;
    std::string LastAlarmText;

    OrderEntry orders{settings, log, terminal.watch(), ladder, sender, tracking, *this};

    // OrderSource
    TQuoteTable* shownTable() override { return books_->shownBook(); }
    const TSecShareRecord* shownSecurity() override { return books_->shownSecurity(); }
    TStopOrders* stops() override { return StopOrders.get(); }
    const TSecShareList* securities() override { return books_->securities(); }
    // The delivery OutputWay names.
    OrderDelivery& delivery() override;

private:
    // BookSourceEvents
    void terminalProcessLost() override;
    void terminalTakenAgain() override;

    std::unique_ptr<BookSource> memoryBooks();
    // Start-up's steps.
    bool loadSettings(MainView& view, std::vector<std::string>& notices);
    void prepareOrders(MainView& view);
    void chooseBookSource();
    // Maps the shown book onto the ladder.
    void showShownBook();
    // The tracker and the library's order subscription follow the instrument shown.
    void followShownInstrument();
    void showPosition(MainView& view);
    // While the shown book is crossed (an exchange's auction) the panel says so.
    void showAuction(MainView& view);

    ScriptChannel script_{log, [this] { return linkNow(); }};
    std::unique_ptr<BookSource> books_;
    std::string followedClass_;
    std::string followedTicker_;
    PositionLine positionShown_;
    bool auctionShown_ = false;
};

}  // namespace velmora
