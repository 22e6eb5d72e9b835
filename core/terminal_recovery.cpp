#include "core/terminal_recovery.h"

#include <exception>
#include <memory>

#include "core/main_view.h"
#include "core/program.h"
#include "core/startup.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/normalized_text.h"
#include "settings/tick_period.h"
#include "terminal/process_finder.h"

namespace velmora {

namespace {

void terminalLost(Program& program) {
    const TSecShareRecord* shown = program.CurrentSecurity;
    program.watch.terminalLost(program.log, program.TerminalProcessId, program.TerminalProcess != nullptr,
                               shown ? shown->Ticker : program.settings.DefaultContract,
                               shown ? shown->ClassCode : std::string());
    // The library's link went with the terminal; a new terminal needs a new one.
    if (program.library.connected()) program.library.disconnect();
}

// Opens a running terminal and reloads what depends on it, as start-up does but without
// waiting or boxes. False when there is none yet or its securities cannot be read.
bool findAgain(Program& program, MainView& view) {
    std::uint32_t processId = 0;
    std::unique_ptr<ProcessHandle> process = OpenRunningTerminal(program.platform.processes, processId);
    if (!process) return false;
    Log& log = program.log;
    TerminalWatch& watch = program.watch;
    log.LogMessage("terminal found again: process " + std::to_string(processId), 1);
    auto notTaken = [&] {
        log.LogMessage("terminal process " + std::to_string(processId) + " not taken: no securities; looking again", 1);
        return false;
    };

    // The securities may have changed with the terminal; nothing may point into the old list.
    program.clearCurrent();
    log.LogMessage("LoadSecs...", 4);
    try {
        if (!ReadSecurityList(program)) return notTaken();
    } catch (const std::exception& error) {
        log.LogMessage(std::string("Сбой при чтении списка инструментов :") + error.what(), 1);
        return notTaken();
    }
    program.TerminalProcessId = processId;
    program.TerminalProcess = std::move(process);
    watch.terminalFound();

    // DefaultContract names the instrument shown before: every choice of the user sets it.
    log.LogMessage("Load QuoteTables...", 4);
    RefreshQuoteTables(program, view);
    log.LogMessage("found QuoteTables:" + std::to_string(program.quoteTables->size()), 4);
    // Local stops belong to the instrument shown; another one under the same ticker does not inherit them.
    const TSecShareRecord* shown = program.CurrentSecurity;
    if (shown && program.StopOrders && program.StopOrders->Count() > 0 &&
        (NormalizedText(shown->Ticker) != NormalizedText(watch.lostTicker) ||
         (!watch.lostClassCode.empty() && shown->ClassCode != watch.lostClassCode))) {
        log.LogMessage("local stops cleared: " + shown->Ticker + " is not the instrument they were set for", 1);
        program.StopOrders->Clear();
    }
    if (program.settings.outputMode == OutputMode::DLL) program.library.connect();
    return true;
}

}  // namespace

bool WatchTerminal(Program& program, MainView& view) {
    TerminalWatch& watch = program.watch;
    if (!watch.lost && (!program.TerminalProcess || program.TerminalProcess->exited())) {
        const bool wasLive = watch.ladderLive();
        terminalLost(program);
        watch.applyLook(view, wasLive);
    }
    const bool lookAgain = program.CycleNum % TicksIn(rediscoveryPeriod, program.settings.RefreshInterval) == 0;
    if (watch.lost && lookAgain && findAgain(program, view)) watch.applyLook(view, false);
    // Re-shown every tick: an alarm blinking in the same panel hides it.
    if (!watch.ladderLive()) watch.showCaption(view);
    return !watch.lost;
}

}  // namespace velmora
