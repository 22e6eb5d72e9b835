#include "core/startup.h"

#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/main_view.h"
#include "core/program.h"
#include "settings/program_error.h"
#include "core/terminal_recovery.h"
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

// Answers false when the program must end: the securities file is missing.
bool LoadSecs(Program& program, MainView& view, const std::string& path) {
    if (!fileExists(path)) {
        program.log.LogMessage(wrongPathText, 1);
        program.platform.messages.show(wrongPathText);
        // A missing file is a failure, not a clean exit: end with a non-zero code.
        view.quit(1);
        return false;
    }
    view.setInfoCaption("Загрузка списка инструментов...");
    view.setInfoVisible(true);
    view.processPendingEvents();
    ReadSecurityList(program);
    view.setInfoVisible(false);
    return true;
}

}  // namespace

bool ReadSecurityList(Program& program) {
    Log& log = program.log;
    const std::string& path = program.SecFilePath;
    if (!fileExists(path)) {
        log.LogMessage(wrongPathText, 1);
        return false;
    }
    std::vector<std::uint8_t> bytes = loadWholeFile(path);
    SecFileStream stream{bytes.data(), bytes.size(), 0};
    try {
        program.SecurityList = FStreamReadSecShareList(stream, program.settings.ReadSecVersion, log);
    } catch (const std::exception& error) {
        program.SecurityList.reset();
        log.LogMessage(std::string("Сбой при чтении списка инструментов :") + error.what(), 1);
    }
    return true;
}

void InitAll(Program& program, MainView& view) {
    Log& log = program.log;
    try {
        log.LogMessage("InitAll...", 5);
        program.CycleNum = 0;
        program.library.forget();
        program.sender.TransIdCounter = SeedTransId(program.platform.clock.now());
        program.AppClosing = false;
        program.clearCurrent();
        program.SecurityList.reset();
        program.Alarms.reset();
        program.quoteTables.reset();
        program.StopOrders.reset();

        if (program.ProgramDir.empty()) program.ProgramDir = executableFolder();
        program.SettingsPath = program.ProgramDir + "Velmora.ini";

        program.quoteTables = std::make_unique<TQuoteTables>();
        program.StopOrders = std::make_unique<TStopOrders>();
        program.Alarms = std::make_unique<TAlarms>();

        log.LogMessage("LoadConf...", 4);
        Settings& settings = program.settings;
        LoadConf(program.SettingsPath, settings, *program.Alarms);
        settings.TRIFileName = settings.QuikPath + "quik.tri";
        log.LogThreshold = settings.LogLevel;
        log.LogPath = program.ProgramDir + "Velmora.log";
        log.LogMessage("Starting...", 1, true, true);
        if (settings.RefreshInterval < shortestRefreshInterval || settings.RefreshInterval > longestRefreshInterval) {
            log.LogMessage("[TECH] RefreshInterval должен быть от 10 до 1000 мс; обновление стакана каждые 100 мс", 1);
            settings.RefreshInterval = defaultRefreshInterval;
        }

        if (settings.ConfigureQUIK) ConfigureTerminalFileMode(settings);
        if (settings.outputMode == OutputMode::TRI) program.fileDelivery.emptyExchangeFiles();
        program.SecFilePath = settings.QuikPath + "sec.dat";

        log.LogMessage("CheckMainStartupSettings...", 4);
        {
            std::uint32_t processId = program.TerminalProcessId;
            std::unique_ptr<ProcessHandle> process =
                FindTerminal(program.platform.processes, view, program.AppClosing, processId);
            if (program.AppClosing) return;
            program.TerminalProcessId = processId;
            program.TerminalProcess = std::move(process);
        }

        program.ladder.setRowCount(settings.DOMRowCount);
        view.ApplySettingsToWindow();
        view.WriteLadderHeader();

        if (settings.outputMode == OutputMode::DLL) program.library.connect();

        log.LogMessage("LoadSecs...", 4);
        if (!LoadSecs(program, view, program.SecFilePath)) return;

        log.LogMessage("Load QuoteTables...", 4);
        RefreshQuoteTables(program, view);
        log.LogMessage("found QuoteTables:" + std::to_string(program.quoteTables->size()), 4);

        view.setRefreshTimerEnabled(true);
    } catch (const std::exception& error) {
        // A settings error comes before the log's path is known; record it beside the program
        // anyway, but a log that cannot be written then shows no box.
        if (!log.LogPath.empty()) {
            log.LogMessage(std::string("InitAll exception:") + error.what(), 1);
        } else if (!program.ProgramDir.empty()) {
            log.LogPath = program.ProgramDir + "Velmora.log";
            log.LogWithoutBoxes(std::string("InitAll exception:") + error.what(), 1);
        }
    }
}

void DoneAll(Program& program) {
    Log& log = program.log;
    try {
        log.LogMessage("Closing Velmora...", 1);
        if (program.settings.outputMode == OutputMode::DLL) program.library.disconnect();
        program.clearCurrent();
        program.Alarms.reset();
        program.quoteTables.reset();
        program.StopOrders.reset();
        program.SecurityList.reset();
    } catch (const std::exception& error) {
        log.LogMessage(std::string("DoneAll exception:") + error.what(), 1);
    }
}

void FormClose(Program& program) { program.AppClosing = true; }

void RefreshTick(Program& program, MainView& view) {
    if (program.AppClosing) {
        view.setRefreshTimerEnabled(false);
        return;
    }
    // A nested tick would run discovery under this one and free the table it is reading.
    if (program.TickRunning) return;
    program.TickRunning = true;
    struct TickEnd {
        bool& running;
        ~TickEnd() { running = false; }
    } tickEnd{program.TickRunning};
    try {
        const bool terminalThere = WatchTerminal(program, view);
        if (program.instrumentChosen() && terminalThere) {
            program.watch.noteBookRead(program.log, view, RefreshDOM(program));
            ShowStopQuantities(program);
            CheckStopOrders(program);
        } else if (terminalThere) {
            program.watch.noteNoBookShown(program.log, view, !program.settings.DefaultContract.empty());
        }
        const std::int32_t interval = program.settings.RefreshInterval;
        const bool rediscover = program.CycleNum % TicksIn(rediscoveryPeriod, interval) == 0;
        if (rediscover) RefreshQuoteTables(program, view);
        if (program.Alarms)
            ShowAlarm(*program.Alarms, program.platform.clock.now(), program.CycleNum, TicksIn(alarmBlinkPhase, interval),
                      program.LastAlarmText, view);
        // The retry compares the stored text exactly, unlike start-up.
        if (program.settings.OutputWay == "DLL" && rediscover && !program.library.connected() && !program.watch.lost)
            program.library.connect();
        if (program.log.enabled(4)) program.log.LogMessage("CycleNum=" + std::to_string(program.CycleNum), 4);
        ++program.CycleNum;
    } catch (const std::exception& error) {
        // The tick ends here; the next one runs with the same CycleNum.
        program.log.LogMessage(std::string("RefreshTick exception: ") + error.what(), 1);
    }
    view.ladderChanged();
}

}  // namespace velmora
