#include "core/session.h"

#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/main_view.h"
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
    if (programDir_.empty()) programDir_ = executableFolder();
    settingsPath_ = programDir_ + "Velmora.ini";
    log_.LogMessage("LoadConf...", 4);
    try {
        LoadConf(settingsPath_, settings_, *alarms_);
    } catch (const ProgramError& error) {
        // Nothing could work on from here: say which value, and end rather than show a window
        // that only looks usable. The log's own failure must not add a box to it.
        log_.LogPath = programDir_ + "Velmora.log";
        log_.LogWithoutBoxes(std::string("InitAll exception:") + error.what(), 1);
        platform_.messages.show(error.what());
        view.quit(1);
        return false;
    }
    settings_.TRIFileName = settings_.QuikPath + "quik.tri";
    log_.LogThreshold = settings_.LogLevel;
    log_.LogPath = programDir_ + "Velmora.log";
    log_.LogMessage("Starting...", 1, Log::Time::Stamped, LineWrite::StartOver);
    for (const StartupValueFix& fix : FixStartupValues(settings_)) {
        log_.LogMessage(fix.logLine, fix.logLevel);
        if (!fix.panelText.empty()) notices.push_back(fix.panelText);
    }
    if (settings_.RefreshInterval < shortestRefreshInterval || settings_.RefreshInterval > longestRefreshInterval) {
        log_.LogMessage("[TECH] RefreshInterval должен быть от 10 до 1000 мс; обновление стакана каждые 100 мс", 1);
        settings_.RefreshInterval = defaultRefreshInterval;
    }
    return true;
}

// The terminal's files for delivery by file, and where the answers to orders come from.
void Session::prepareOrders(MainView& view) {
    if (settings_.ConfigureQUIK) ConfigureTerminalFileMode(settings_);
    // Another Velmora on the same folder may have an order in them the terminal has not taken yet.
    if (settings_.outputMode == OutputMode::TRI) {
        if (script_.anotherRunMayBeThere())
            log_.LogMessage("quik.tri, quik.tro and quik.trr left as they are: another Velmora may be using them", 1);
        else
            fileDelivery_.emptyExchangeFiles();
    }
    tracking_.start(settings_.outputMode == OutputMode::TRI      ? ReplySource::File
                   : settings_.outputMode == OutputMode::DLL    ? ReplySource::Library
                   : settings_.outputMode == OutputMode::Script ? ReplySource::Script
                                                               : ReplySource::None,
                   settings_.QuikPath + "quik.tro", settings_.ReplyTimeout);
    tracking_.setPanel(&view);
    followedClass_.clear();
    followedTicker_.clear();
}

// Where the books come from; nothing after this asks which.
void Session::chooseBookSource() {
    if (settings_.ladderModeUnknown)
        log_.LogMessage("[COMMON] LadderMode=" + settings_.LadderModeText +
                            " is neither LEVELS nor PRICES; the ladder shows the book's levels",
                        1);
    if (settings_.bookSourceUnknown)
        log_.LogMessage("[COMMON] BookSource=" + settings_.BookSourceText +
                           " is neither MEMORY nor SCRIPT; the books are read from memory",
                       1);
    const bool scriptBooks = settings_.bookSource == BookSourceKind::Script;
    const bool scriptOrders = settings_.outputMode == OutputMode::Script;
    if (scriptBooks || scriptOrders) script_.open(scriptOrders);
    if (scriptBooks)
        books_ = std::make_unique<ScriptBookSource>(settings_, log_, terminal_.watch(), [this] { return linkNow_(); },
                                                    script_.link());
    else
        books_ = memoryBooks();
}

void Session::InitAll(MainView& view) {
    try {
        log_.LogMessage("InitAll...", 5);
        cycleNum_ = 0;
        library_.forget();
        sender_.TransIdCounter = SeedTransId(platform_.clock.now());
        closing_ = false;
        books_->close();
        discovery_.reset();
        securityList_.reset();
        stopOrders_ = std::make_unique<TStopOrders>();
        alarms_ = std::make_unique<TAlarms>();

        std::vector<std::string> startupNotices;
        if (!loadSettings(view, startupNotices)) return;
        script_.takeSlot(settings_.bookSource == BookSourceKind::Script || settings_.outputMode == OutputMode::Script,
                         startupNotices);
        sender_.useTransIdBlock(script_.slot(), SeedTransId(platform_.clock.now()));
        prepareOrders(view);
        chooseBookSource();
        log_.LogMessage("CheckMainStartupSettings...", 4);
        if (!books_->attach(view, closing_)) return;

        ladder_.setRowCount(settings_.DOMRowCount);
        view.reservePositionLine(books_->reportsPositions());
        view.ApplySettingsToWindow();
        view.WriteLadderHeader();

        if (settings_.outputMode == OutputMode::DLL) library_.connect();

        const BookSourceLoad loaded = books_->load(view, view, [&view] { view.processPendingEvents(); });
        if (loaded.mustEnd) {
            platform_.messages.show(loaded.boxText);
            // A missing file is a failure, not a clean exit: end with a non-zero code.
            view.quit(1);
            return;
        }

        // Orders that go nowhere must not look sent: a typo here is easy to miss.
        if (settings_.outputMode == OutputMode::LogOnly) {
            log_.LogMessage("orders are only logged: OutputWay \"" + settings_.OutputWay + "\" is neither TRI, DLL nor SCRIPT", 1);
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
        if (!log_.LogPath.empty()) {
            log_.LogMessage(std::string("InitAll exception:") + error.what(), 1);
        } else if (!programDir_.empty()) {
            log_.LogPath = programDir_ + "Velmora.log";
            log_.LogWithoutBoxes(std::string("InitAll exception:") + error.what(), 1);
        }
    }
}

void Session::DoneAll() {
    try {
        log_.LogMessage("Closing Velmora...", 1);
        if (settings_.outputMode == OutputMode::DLL) library_.disconnect();
        books_->close();
        script_.release();
        alarms_.reset();
        stopOrders_.reset();
        securityList_.reset();
    } catch (const std::exception& error) {
        log_.LogMessage(std::string("DoneAll exception:") + error.what(), 1);
    }
}

void Session::RefreshTick(MainView& view) {
    if (closing_) {
        view.setRefreshTimerEnabled(false);
        return;
    }
    try {
        const std::int32_t interval = settings_.RefreshInterval;
        const bool rediscover = cycleNum_ % TicksIn(rediscoveryPeriod, interval) == 0;
        const bool terminalThere = books_->watch(view, view, rediscover);
        showPosition(view);
        followShownInstrument();
        tracking_.poll();
        if (script_.opened()) script_.link().poll(linkNow_());
        if (script_.opened() && instrumentChosen()) {
            followShownInstrument();
            tracking_.applyScriptEvents(script_.link().takeTradingEvents());
        }
        mover_.poll();
        if (instrumentChosen() && terminalThere) {
            const bool read = RefreshDOM();
            terminal_.watch().noteBookRead(log_, view, read);
            if (terminal_.watch().ladderLive()) {
                const std::string notice = books_->takeLiveNotice();
                if (!notice.empty()) view.post(PanelKind::TerminalNotice, notice);
            }
            // Books without own quantities take them from the orders, not the other way round.
            if (read && books_->ownQuantitiesInBooks()) tracking_.noteBook(*shownTable());
            orders_.ShowStopQuantities();
            orders_.CheckStopOrders();
            showAuction(view);
        } else if (terminalThere) {
            // Via the script, a list that names nothing is a book wanted that cannot come.
            terminal_.watch().noteNoBookShown(log_, view,
                                              !settings_.DefaultContract.empty() || books_->offersNothing());
        }
        if (rediscover) RefreshQuoteTables(view);
        if (alarms_)
            ShowAlarm(*alarms_, platform_.clock.now(), cycleNum_, TicksIn(alarmBlinkPhase, interval),
                      lastAlarmText_, view);
        // The retry compares the stored text exactly, unlike start-up.
        if (settings_.OutputWay == "DLL" && rediscover && !library_.connected() && !terminal_.watch().lost)
            library_.connect();
        if (tracking_.takeOrdersChanged()) {
            view.showOwnOrders(tracking_.tracker().activeOrders());
            books_->ownOrdersChanged();
        }
        if (log_.enabled(4)) log_.LogMessage("CycleNum=" + std::to_string(cycleNum_), 4);
        ++cycleNum_;
    } catch (const std::exception& error) {
        // The tick ends here; the next one runs with the same CycleNum.
        log_.LogMessage(std::string("RefreshTick exception: ") + error.what(), 1);
    }
    view.ladderChanged();
}

}  // namespace velmora
