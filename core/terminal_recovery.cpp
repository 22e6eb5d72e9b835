#include <exception>
#include <memory>

#include "core/main_view.h"
#include "core/session.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/normalized_text.h"
#include "settings/tick_period.h"
#include "terminal/process_finder.h"

namespace velmora {

void Session::noteTerminalLost() {
    const TSecShareRecord* shown = discovery.security();
    terminal.watch().terminalLost(log, terminal.processId(), terminal.process() != nullptr,
                               shown ? shown->Ticker : settings.DefaultContract,
                               shown ? shown->ClassCode : std::string());
    // The library's link went with the terminal; a new terminal needs a new one.
    if (library.connected()) library.disconnect();
}

void Session::noteTerminalTaken(const TerminalTaken& taken) {
    if (taken.id == 0) return;
    const std::string path = taken.path.empty() ? std::string("path unknown") : taken.path;
    log.LogMessage("terminal process " + std::to_string(taken.id) + " taken: " + path +
                       (taken.inQuikPath ? std::string() : " (not in QuikPath " + settings.QuikPath + ")"),
                   1);
    // With two terminals running, orders priced from one book could land in the other's files.
    // Said once the ladder is live, so that start-up's own captions do not hide it. A lone
    // terminal elsewhere has no other book to be confused with: the log says it.
    terminalNotice_ = taken.inQuikPath || taken.running < 2 ? std::string()
                                       : "info.exe из папки QuikPath не найден: взят процесс " +
                                             std::to_string(taken.id) +
                                             (taken.path.empty() ? std::string() : " (" + taken.path + ")");
}

// Opens a running terminal and reloads what depends on it, as start-up does but without
// waiting or boxes. False when there is none yet or its securities cannot be read.
bool Session::findTerminalAgain(MainView& view) {
    std::uint32_t processId = 0;
    TerminalTaken taken;
    std::unique_ptr<ProcessHandle> process = OpenRunningTerminal(platform.processes, processId, settings.QuikPath, taken);
    if (!process) return false;
    TerminalWatch& watch = terminal.watch();
    log.LogMessage("terminal found again: process " + std::to_string(processId), 1);
    auto notTaken = [&] {
        log.LogMessage("terminal process " + std::to_string(processId) + " not taken: no securities; looking again", 1);
        return false;
    };

    // The securities may have changed with the terminal; nothing may point into the old list.
    discovery.clearShown();
    log.LogMessage("LoadSecs...", 4);
    try {
        if (!ReadSecurityList()) return notTaken();
    } catch (const std::exception& error) {
        log.LogMessage(std::string("Сбой при чтении списка инструментов :") + error.what(), 1);
        return notTaken();
    }
    terminal.attach(processId, std::move(process));
    noteTerminalTaken(taken);
    watch.terminalFound();

    // DefaultContract names the instrument shown before: every choice of the user sets it.
    log.LogMessage("Load QuoteTables...", 4);
    RefreshQuoteTables(view);
    log.LogMessage("found QuoteTables:" + std::to_string(discovery.tables().size()), 4);
    // Local stops belong to the instrument shown; another one under the same ticker does not inherit them.
    const TSecShareRecord* shown = discovery.security();
    if (shown && StopOrders && StopOrders->Count() > 0 &&
        (NormalizedText(shown->Ticker) != NormalizedText(watch.lostTicker) ||
         (!watch.lostClassCode.empty() && shown->ClassCode != watch.lostClassCode))) {
        log.LogMessage("local stops cleared: " + shown->Ticker + " is not the instrument they were set for", 1);
        StopOrders->Clear();
    }
    if (settings.outputMode == OutputMode::DLL) library.connect();
    return true;
}

bool Session::WatchTerminal(MainView& view) {
    if (script) return watchScript(view);
    TerminalWatch& watch = terminal.watch();
    if (!watch.lost && terminal.processGone()) {
        const bool wasLive = watch.ladderLive();
        noteTerminalLost();
        watch.applyLook(view, wasLive);
    }
    const bool lookAgain = CycleNum % TicksIn(rediscoveryPeriod, settings.RefreshInterval) == 0;
    if (watch.lost && lookAgain && findTerminalAgain(view)) watch.applyLook(view, false);
    // Re-shown every tick: an alarm blinking in the same panel hides it.
    watch.alsoShown = tracking.heldText();
    if (!watch.ladderLive()) watch.showCaption(view);
    return !watch.lost;
}

}  // namespace velmora
