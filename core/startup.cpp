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
#include "trans/terminal_config.h"
#include "trans/transactions.h"

namespace velmora {

namespace {

const char* const wrongPathText = "Неверно указан путь к QUIK в ini-файле  !!!";

std::vector<std::uint8_t> loadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ProgramError("Cannot open file \"" + path + "\"");
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw ProgramError("Cannot read file \"" + path + "\"");
    return bytes;
}

}  // namespace

// Answers false when the program must end: the securities file is missing.
bool Session::loadSecs(MainView& view) {
    if (!fileExists(SecFilePath)) {
        log.LogMessage(std::string(wrongPathText) + " " + SecFilePath, 1);
        // The text as it always was, then the file looked for: the path is what to mend.
        platform.messages.show(std::string(wrongPathText) + "\n" + SecFilePath);
        // A missing file is a failure, not a clean exit: end with a non-zero code.
        view.quit(1);
        return false;
    }
    view.setInfoCaption("Загрузка списка инструментов...");
    view.setInfoVisible(true);
    view.processPendingEvents();
    ReadSecurityList();
    view.setInfoVisible(false);
    return true;
}

bool Session::ReadSecurityList() {
    const std::string& path = SecFilePath;
    if (!fileExists(path)) {
        log.LogMessage(wrongPathText, 1);
        return false;
    }
    std::vector<std::uint8_t> bytes = loadWholeFile(path);
    SecFileStream stream{bytes.data(), bytes.size(), 0};
    std::string& cause = terminal.watch().notReadCause;
    cause.clear();
    try {
        SecurityList = FStreamReadSecShareList(stream, settings.ReadSecVersion, log);
        if (SecurityList && SecurityList->Count() == 0)
            cause = bytes.empty() ? "файл пуст" : "в нём нет инструментов (ReadSecVersion=" +
                                                     std::to_string(settings.ReadSecVersion) + "?)";
    } catch (const std::exception& error) {
        SecurityList.reset();
        log.LogMessage(std::string("Сбой при чтении списка инструментов :") + error.what(), 1);
        cause = std::string(error.what()) + " (ReadSecVersion=" + std::to_string(settings.ReadSecVersion) + ")";
    }
    return true;
}

void Session::InitAll(MainView& view) {
    try {
        log.LogMessage("InitAll...", 5);
        CycleNum = 0;
        library.forget();
        sender.TransIdCounter = SeedTransId(platform.clock.now());
        AppClosing = false;
        discovery.reset();
        script.reset();
        SecurityList.reset();
        Alarms.reset();
        StopOrders.reset();

        if (ProgramDir.empty()) ProgramDir = executableFolder();
        SettingsPath = ProgramDir + "Velmora.ini";

        StopOrders = std::make_unique<TStopOrders>();
        Alarms = std::make_unique<TAlarms>();

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
            return;
        }
        settings.TRIFileName = settings.QuikPath + "quik.tri";
        log.LogThreshold = settings.LogLevel;
        log.LogPath = ProgramDir + "Velmora.log";
        log.LogMessage("Starting...", 1, true, true);
        std::vector<std::string> startupNotices;
        for (const StartupValueFix& fix : FixStartupValues(settings)) {
            log.LogMessage(fix.logLine, 1);
            if (!fix.panelText.empty()) startupNotices.push_back(fix.panelText);
        }
        if (settings.RefreshInterval < shortestRefreshInterval || settings.RefreshInterval > longestRefreshInterval) {
            log.LogMessage("[TECH] RefreshInterval должен быть от 10 до 1000 мс; обновление стакана каждые 100 мс", 1);
            settings.RefreshInterval = defaultRefreshInterval;
        }

        if (settings.ConfigureQUIK) ConfigureTerminalFileMode(settings);
        if (settings.outputMode == OutputMode::TRI) fileDelivery.emptyExchangeFiles();
        tracking.start(settings.outputMode == OutputMode::TRI   ? ReplySource::File
                       : settings.outputMode == OutputMode::DLL ? ReplySource::Library
                                                                : ReplySource::None,
                       settings.QuikPath + "quik.tro", settings.ReplyTimeout);
        tracking.setPanel(&view);
        followedClass_.clear();
        followedTicker_.clear();
        SecFilePath = settings.QuikPath + "sec.dat";

        if (settings.bookSourceUnknown)
            log.LogMessage("[COMMON] BookSource=" + settings.BookSourceText +
                               " is neither MEMORY nor SCRIPT; the books are read from memory",
                           1);
        const bool fromScript = settings.bookSource == BookSource::Script;

        log.LogMessage("CheckMainStartupSettings...", 4);
        if (!fromScript) {
            std::uint32_t processId = terminal.processId();
            TerminalTaken taken;
            std::unique_ptr<ProcessHandle> process =
                FindTerminal(platform.processes, view, AppClosing, processId, settings.QuikPath, taken);
            if (AppClosing) return;
            terminal.attach(processId, std::move(process));
            noteTerminalTaken(taken);
        }

        ladder.setRowCount(settings.DOMRowCount);
        view.ApplySettingsToWindow();
        view.WriteLadderHeader();

        if (settings.outputMode == OutputMode::DLL) library.connect();

        if (fromScript) {
            openScriptLink(view);
        } else {
            log.LogMessage("LoadSecs...", 4);
            if (!loadSecs(view)) return;

            log.LogMessage("Load QuoteTables...", 4);
            RefreshQuoteTables(view);
            log.LogMessage("found QuoteTables:" + std::to_string(discovery.tables().size()), 4);
        }

        // Orders that go nowhere must not look sent: a typo here is easy to miss.
        if (settings.outputMode == OutputMode::LogOnly) {
            log.LogMessage("orders are only logged: OutputWay \"" + settings.OutputWay + "\" is neither TRI nor DLL", 1);
            startupNotices.insert(startupNotices.begin(), "Заявки не отправляются: OutputWay не TRI и не DLL");
        }
        if (!startupNotices.empty()) {
            std::string text;
            for (const std::string& notice : startupNotices) text += (text.empty() ? "" : "\n") + notice;
            view.setInfoCaption(text);
            view.setInfoVisible(true);
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
        discovery.reset();
        // Its request file goes with it: the script stops sending.
        script.reset();
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
        const bool terminalThere = WatchTerminal(view);
        followShownInstrument();
        tracking.poll();
        if (scriptMode()) tracking.applyScriptEvents(takeScriptEvents());
        if (instrumentChosen() && terminalThere) {
            const bool read = RefreshDOM();
            terminal.watch().noteBookRead(log, view, read);
            if (!terminalNotice_.empty() && terminal.watch().ladderLive()) {
                view.setInfoCaption(terminalNotice_);
                view.setInfoVisible(true);
                terminalNotice_.clear();
            }
            // The script's books carry no own quantities; its order reports say what the book would.
            if (read && !scriptMode() && discovery.table()) tracking.noteBook(*discovery.table());
            orders.ShowStopQuantities();
            orders.CheckStopOrders();
        } else if (terminalThere) {
            terminal.watch().noteNoBookShown(log, view, !settings.DefaultContract.empty());
        }
        const std::int32_t interval = settings.RefreshInterval;
        const bool rediscover = CycleNum % TicksIn(rediscoveryPeriod, interval) == 0;
        if (rediscover) RefreshQuoteTables(view);
        if (Alarms)
            ShowAlarm(*Alarms, platform.clock.now(), CycleNum, TicksIn(alarmBlinkPhase, interval),
                      LastAlarmText, view);
        // The retry compares the stored text exactly, unlike start-up.
        if (settings.OutputWay == "DLL" && rediscover && !library.connected() && !terminal.watch().lost)
            library.connect();
        if (tracking.takeOrdersChanged()) {
            view.showOwnOrders(tracking.tracker().activeOrders());
            // The script's ladder shows own quantities from the orders: repaint it.
            scriptShownVersion_ = 0;
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
