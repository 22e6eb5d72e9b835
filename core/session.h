#pragma once
#include <cstdint>
#include <functional>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ladder/ladder_grid.h"
#include "orders/order_entry.h"
#include "orders/order_tracking.h"
#include "settings/log.h"
#include "settings/settings.h"
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
struct TerminalTaken;
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
class Session : public OrderSource {
public:
    explicit Session(Platform platform);
    ~Session();
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

    // Reads sec.dat into SecurityList, a bad file logged as at start-up; false, logged, when the
    // file is missing. Throws ProgramError when it cannot be read at all.
    bool ReadSecurityList();
    // acRefreshQuoteTables: one discovery pass, refilling the chooser and re-pointing the shown book.
    void RefreshQuoteTables(InstrumentChooser& chooser);
    // cbSecNameChange: the user picked an instrument.
    void SecNameChange(MainView& view);
    // RefreshDOM of the shown book onto the ladder.
    bool RefreshDOM();
    // First thing in a tick: notices that the terminal process has ended, and while it is lost
    // looks for a terminal again on every rediscovery tick, reloading what depends on it as
    // start-up does but without waiting or boxes. Answers whether the terminal can be read.
    bool WatchTerminal(MainView& view);

    // The window's "Найти адрес": offered while the book of the attached terminal does not read
    // (a wrong DOMBASE); the scan of its memory, best candidates first; the one the user took.
    bool domBaseScanOffered() const;
    DomBaseScanResult ScanAttachedTerminal(const std::function<void(std::uint64_t, std::uint64_t)>& progress);
    void UseDomBase(TerminalAddress base, MainView& view);

    // The sender's commands on the shown security, priced in its ticks; nothing while there is none.
    void SendNewOrder(Side side, std::int32_t Quantity, std::int64_t price);
    void SendKillAll();

    bool instrumentChosen() const { return discovery.chosen() && discovery.security() != nullptr; }

    // BookSource SCRIPT (core/script_source.cpp). The window calls PollScriptLink whenever the
    // link's handle is readable (or on a short timer where it has none): it reads what came and
    // repaints the ladder at once when the shown book changed.
    bool scriptMode() const { return script != nullptr; }
    void PollScriptLink(MainView& view);
    int scriptReadableHandle() const { return script ? script->readableHandle() : -1; }
    // The script's orders, trades and replies since the last call, in arrival order.
    std::vector<LinkEvent> takeScriptEvents();
    // The clock of the link's liveness; tests set their own.
    std::function<LinkTime()> linkNow = [] { return std::chrono::steady_clock::now(); };
    std::unique_ptr<ScriptLink> script;

    Platform platform;
    Log log;
    Settings settings;

    std::string ProgramDir;  // with its trailing separator
    std::string SettingsPath;
    std::string SecFilePath;

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

    std::string terminalNotice_;
    std::string followedClass_;
    std::string followedTicker_;

    // OrderSource
    TQuoteTable* shownTable() override { return discovery.table(); }
    const TSecShareRecord* shownSecurity() override { return discovery.security(); }
    TStopOrders* stops() override { return StopOrders.get(); }
    const TSecShareList* securities() override;
    // The delivery OutputWay names.
    OrderDelivery& delivery() override;

private:
    // The tracker and the library's order subscription follow the instrument shown.
    void followShownInstrument();
    bool findTerminalAgain(MainView& view);
    // Logs which terminal was taken; one not in QuikPath is said in the panel once the ladder is live.
    void noteTerminalTaken(const TerminalTaken& taken);
    void noteTerminalLost();
    bool loadSecs(MainView& view);
    void openScriptLink(MainView& view);
    bool watchScript(MainView& view);
    void updateScriptWatch(MainView& view, LinkTime now);
    bool refreshScriptDOM();
    void refreshScriptChooser(InstrumentChooser& chooser);
    void chooseScriptInstrument(int index);
    void showScriptPosition(MainView& view);

    std::vector<InstrumentItem> scriptOffered_;
    ScriptInstrument* scriptShown_ = nullptr;
    std::uint64_t scriptShownVersion_ = 0;
    std::string scriptPositionShown_;
};

}  // namespace velmora
