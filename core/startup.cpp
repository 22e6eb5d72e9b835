#include "core/session.h"

#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/main_view.h"
#include "core/session.h"
#include "settings/program_error.h"
#include "settings/tick_period.h"
#include "ladder/ladder_refresh.h"
#include "orders/order_entry.h"
#include "orders/stop_orders.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/program_location.h"
#include "secs/sec_file_reader.h"
#include "secs/security_list.h"
#include "settings/alarms.h"
#include "settings/startup_values.h"
#include "terminal/process_finder.h"
#include "terminal/quote_discovery.h"
#include "terminal/script_book_source.h"
#include "trans/terminal_config.h"
#include "trans/transactions.h"

namespace velmora {

// Settings, the log and the values that fall back; false, after a box and the exit asked of
// the window, when nothing could work on.
bool Session::loadSettings(MainView& view, std::vector<std::string>& notices) {
    if (ProgramDir.empty()) ProgramDir = executableFolder();
    SettingsPath = ProgramDir + "Velmora.ini";
    log.LogMessage("LoadConf...", 4);
    try {
        LoadConf(SettingsPath, settings, *Alarms);
    } catch (const ProgramError& error) {
        // Nothing could work on from here: say which value, and end rather than show a window
        // that only looks usable. The log's own failure must not add a box to it.
        log.LogPath = ProgramDir + "Velmora.log";
        log.LogWithoutBoxes(std::string("InitAll exception:") + error.what(), 1);
        platform.messages.show(error.what());
        view.quit(1);
        return false;
    }
    settings.TRIFileName = settings.QuikPath + "quik.tri";
    log.LogThreshold = settings.LogLevel;
    log.LogPath = ProgramDir + "Velmora.log";
    log.LogMessage("Starting...", 1, Log::Time::Stamped, LineWrite::StartOver);
    for (const StartupValueFix& fix : FixStartupValues(settings)) {
        log.LogMessage(fix.logLine, fix.logLevel);
        if (!fix.panelText.empty()) notices.push_back(fix.panelText);
    }
    if (settings.RefreshInterval < shortestRefreshInterval || settings.RefreshInterval > longestRefreshInterval) {
        log.LogMessage("[TECH] RefreshInterval должен быть от 10 до 1000 мс; обновление стакана каждые 100 мс", 1);
        settings.RefreshInterval = defaultRefreshInterval;
    }
    return true;
}

// The terminal's files for delivery by file, and where the answers to orders come from.
void Session::prepareOrders(MainView& view) {
    if (settings.ConfigureQUIK) ConfigureTerminalFileMode(settings);
    // Another Velmora on the same folder may have an order in them the terminal has not taken yet.
    if (settings.outputMode == OutputMode::TRI) {
        if (script_.anotherRunMayBeThere())
            log.LogMessage("quik.tri, quik.tro and quik.trr left as they are: another Velmora may be using them", 1);
        else
            fileDelivery.emptyExchangeFiles();
    }
    tracking.start(settings.outputMode == OutputMode::TRI      ? ReplySource::File
                   : settings.outputMode == OutputMode::DLL    ? ReplySource::Library
                   : settings.outputMode == OutputMode::Script ? ReplySource::Script
                                                               : ReplySource::None,
                   settings.QuikPath + "quik.tro", settings.ReplyTimeout);
    tracking.setPanel(&view);
    followedClass_.clear();
    followedTicker_.clear();
}

// Where the books come from; nothing after this asks which.
void Session::chooseBookSource() {
    if (settings.bookSourceUnknown)
        log.LogMessage("[COMMON] BookSource=" + settings.BookSourceText +
                           " is neither MEMORY nor SCRIPT; the books are read from memory",
                       1);
    const bool scriptBooks = settings.bookSource == BookSourceKind::Script;
    const bool scriptOrders = settings.outputMode == OutputMode::Script;
    if (scriptBooks || scriptOrders) script_.open(scriptOrders);
    if (scriptBooks)
        books_ = std::make_unique<ScriptBookSource>(settings, log, terminal.watch(), [this] { return linkNow(); },
                                                    script_.link());
    else
        books_ = memoryBooks();
}

void Session::InitAll(MainView& view) {
    try {
        log.LogMessage("InitAll...", 5);
        CycleNum = 0;
        library.forget();
        sender.TransIdCounter = SeedTransId(platform.clock.now());
        AppClosing = false;
        books_->close();
        discovery.reset();
        SecurityList.reset();
        StopOrders = std::make_unique<TStopOrders>();
        Alarms = std::make_unique<TAlarms>();

        std::vector<std::string> startupNotices;
        if (!loadSettings(view, startupNotices)) return;
        script_.takeSlot(settings.bookSource == BookSourceKind::Script || settings.outputMode == OutputMode::Script,
                         startupNotices);
        sender.useTransIdBlock(script_.slot(), SeedTransId(platform.clock.now()));
        prepareOrders(view);
        chooseBookSource();
        log.LogMessage("CheckMainStartupSettings...", 4);
        if (!books_->attach(view, AppClosing)) return;

        ladder.setRowCount(settings.DOMRowCount);
        view.ApplySettingsToWindow();
        view.WriteLadderHeader();

        if (settings.outputMode == OutputMode::DLL) library.connect();

        const BookSourceLoad loaded = books_->load(view, view, [&view] { view.processPendingEvents(); });
        if (loaded.mustEnd) {
            platform.messages.show(loaded.boxText);
            // A missing file is a failure, not a clean exit: end with a non-zero code.
            view.quit(1);
            return;
        }

        // Orders that go nowhere must not look sent: a typo here is easy to miss.
        if (settings.outputMode == OutputMode::LogOnly) {
            log.LogMessage("orders are only logged: OutputWay \"" + settings.OutputWay + "\" is neither TRI, DLL nor SCRIPT", 1);
            startupNotices.insert(startupNotices.begin(), "Заявки не отправляются: OutputWay не TRI, не DLL и не SCRIPT");
        }
        if (!startupNotices.empty()) {
            std::string text;
            for (const std::string& notice : startupNotices) text += (text.empty() ? "" : "\n") + notice;
            view.post(PanelKind::StartupProblem, text);
        }

        view.setRefreshTimerEnabled(true);
    } catch (const std::exception& error) {
        // A settings error comes before the log's path is known; record it beside the program
        // anyway, but a log that cannot be written then shows no box.
        if (!log.LogPath.empty()) {
            log.LogMessage(std::string("InitAll exception:") + error.what(), 1);
        } else if (!ProgramDir.empty()) {
            log.LogPath = ProgramDir + "Velmora.log";
            log.LogWithoutBoxes(std::string("InitAll exception:") + error.what(), 1);
        }
    }
}

void Session::DoneAll() {
    try {
        log.LogMessage("Closing Velmora...", 1);
        if (settings.outputMode == OutputMode::DLL) library.disconnect();
        books_->close();
        script_.release();
        Alarms.reset();
        StopOrders.reset();
        SecurityList.reset();
    } catch (const std::exception& error) {
        log.LogMessage(std::string("DoneAll exception:") + error.what(), 1);
    }
}

void Session::RefreshTick(MainView& view) {
    if (AppClosing) {
        view.setRefreshTimerEnabled(false);
        return;
    }
    try {
        const std::int32_t interval = settings.RefreshInterval;
        const bool rediscover = CycleNum % TicksIn(rediscoveryPeriod, interval) == 0;
        const bool terminalThere = books_->watch(view, view, rediscover);
        showPosition(view);
        followShownInstrument();
        tracking.poll();
        if (script_.opened()) {
            script_.link().poll(linkNow());
            tracking.applyScriptEvents(script_.link().takeTradingEvents());
        }
        if (instrumentChosen() && terminalThere) {
            const bool read = RefreshDOM();
            terminal.watch().noteBookRead(log, view, read);
            if (terminal.watch().ladderLive()) {
                const std::string notice = books_->takeLiveNotice();
                if (!notice.empty()) view.post(PanelKind::TerminalNotice, notice);
            }
            // Books without own quantities take them from the orders, not the other way round.
            if (read && books_->ownQuantitiesInBooks()) tracking.noteBook(*shownTable());
            orders.ShowStopQuantities();
            orders.CheckStopOrders();
            showAuction(view);
        } else if (terminalThere) {
            // Via the script, a list that names nothing is a book wanted that cannot come.
            terminal.watch().noteNoBookShown(log, view,
                                             !settings.DefaultContract.empty() || books_->offersNothing());
        }
        if (rediscover) RefreshQuoteTables(view);
        if (Alarms)
            ShowAlarm(*Alarms, platform.clock.now(), CycleNum, TicksIn(alarmBlinkPhase, interval),
                      LastAlarmText, view);
        // The retry compares the stored text exactly, unlike start-up.
        if (settings.OutputWay == "DLL" && rediscover && !library.connected() && !terminal.watch().lost)
            library.connect();
        if (tracking.takeOrdersChanged()) {
            view.showOwnOrders(tracking.tracker().activeOrders());
            books_->ownOrdersChanged();
        }
        if (log.enabled(4)) log.LogMessage("CycleNum=" + std::to_string(CycleNum), 4);
        ++CycleNum;
    } catch (const std::exception& error) {
        // The tick ends here; the next one runs with the same CycleNum.
        log.LogMessage(std::string("RefreshTick exception: ") + error.what(), 1);
    }
    view.ladderChanged();
}

}  // namespace velmora
