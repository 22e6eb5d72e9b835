#include "core/terminal_watch.h"

#include <exception>
#include <memory>

#include "core/main_view.h"
#include "core/program.h"
#include "core/startup.h"
#include "settings/tick_period.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/normalized_text.h"
#include "terminal/process_finder.h"
#include "terminal/quote_discovery.h"

namespace velmora {

namespace {

const char* const lostCaption = "Нет связи с терминалом";
const char* const notReadCaption = "Стакан не читается (проверьте DOMBASE)";
const char* const awaitingCaption = "Терминал найден, загрузка стакана...";

const char* stateCaption(const TerminalWatch& watch) {
    if (watch.lost) return lostCaption;
    if (watch.notRead) return notReadCaption;
    return awaitingCaption;
}

const char* stateReason(const TerminalWatch& watch) {
    if (watch.lost) return "terminal lost";
    if (watch.notRead) return "order book not read";
    return "order book not read yet since the terminal was found again";
}

void showCaption(const TerminalWatch& watch, MainView& view) {
    if (view.infoCaption() != watch.caption) view.setInfoCaption(watch.caption);
    view.setInfoVisible(true);
}

// After a change of state: the ladder's look and pnlInfo follow it.
void applyLook(TerminalWatch& watch, MainView& view, bool wasLive) {
    const bool live = watch.ladderLive();
    if (live != wasLive) view.setLadderLive(live);
    if (live) {
        // Only its own caption goes; an alarm's stays.
        if (!wasLive && view.infoCaption() == watch.caption) view.setInfoVisible(false);
        watch.caption.clear();
        return;
    }
    watch.caption = stateCaption(watch);
    showCaption(watch, view);
}

void terminalLost(Program& program) {
    TerminalWatch& watch = program.watch;
    watch.lost = true;
    watch.notRead = false;
    watch.awaitingRead = false;
    watch.failedReads = 0;
    watch.lostTicker = program.CurrentSecurity ? program.CurrentSecurity->Ticker : program.settings.DefaultContract;
    watch.lostClassCode = program.CurrentSecurity ? program.CurrentSecurity->ClassCode : std::string();
    program.log.LogMessage("terminal lost: process " + std::to_string(program.TerminalProcessId) +
                               (program.TerminalProcess ? " has ended" : " could not be opened") +
                               "; orders are refused until a terminal is found again",
                           1);
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
    watch.lost = false;
    watch.awaitingRead = true;
    watch.failedReads = 0;

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

bool refuse(Program& program, MainView& view, const char* command, const char* refusedText) {
    TerminalWatch& watch = program.watch;
    program.log.LogMessage(std::string("refused ") + command + ": " + stateReason(watch), 1);
    watch.caption = std::string(stateCaption(watch)) + ": " + refusedText;
    showCaption(watch, view);
    return false;
}

}  // namespace

bool WatchTerminal(Program& program, MainView& view) {
    TerminalWatch& watch = program.watch;
    if (!watch.lost && (!program.TerminalProcess || program.TerminalProcess->exited())) {
        const bool wasLive = watch.ladderLive();
        terminalLost(program);
        applyLook(watch, view, wasLive);
    }
    const bool lookAgain = program.CycleNum % TicksIn(rediscoveryPeriod, program.settings.RefreshInterval) == 0;
    if (watch.lost && lookAgain && findAgain(program, view)) applyLook(watch, view, false);
    // Re-shown every tick: an alarm blinking in the same panel hides it.
    if (!watch.ladderLive()) showCaption(watch, view);
    return !watch.lost;
}

void NoteBookRead(Program& program, MainView& view, bool accepted) {
    TerminalWatch& watch = program.watch;
    if (watch.lost) return;
    const bool wasLive = watch.ladderLive();
    if (accepted) {
        watch.failedReads = 0;
        if (wasLive) return;
        watch.notRead = false;
        watch.awaitingRead = false;
        program.log.LogMessage("order book read again: the ladder is live, orders allowed", 1);
        applyLook(watch, view, wasLive);
        return;
    }
    if (watch.notRead) return;
    if (++watch.failedReads < NotReadTicks) return;
    watch.notRead = true;
    program.log.LogMessage("order book not read for " + std::to_string(NotReadTicks) +
                               " ticks: orders are refused (check DOMBASE)",
                           1);
    applyLook(watch, view, wasLive);
}

void NoteNoBookShown(Program& program, MainView& view) {
    // Nothing wanted (a first run) is no failure; a wanted book that discovery did not find is.
    if (!program.settings.DefaultContract.empty()) NoteBookRead(program, view, false);
}

bool OrderAllowed(Program& program, MainView& view, const char* command) {
    if (program.watch.ladderLive()) return true;
    return refuse(program, view, command, "заявка не отправлена");
}

bool StopAllowed(Program& program, MainView& view, const char* command) {
    if (program.watch.ladderLive()) return true;
    return refuse(program, view, command, "стоп не выставлен");
}

bool KillAllAllowed(Program& program, MainView& view) {
    if (!program.watch.lost) return true;
    return refuse(program, view, "acClearAllOrders", "снятие заявок не отправлено");
}

}  // namespace velmora
