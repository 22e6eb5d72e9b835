#include <cstdio>

#include "core/main_view.h"
#include "core/session.h"
#include "platform/memory_regions.h"
#include "secs/security_list.h"
#include "settings/ini_file.h"

namespace velmora {

bool Session::domBaseScanOffered() const {
    const TerminalWatch& watch = terminal.watch();
    return !scriptMode() && terminal.process() != nullptr && watch.notRead &&
           !watch.lost && watch.notReadCause.empty() && SecurityList != nullptr;
}

DomBaseScanResult Session::ScanAttachedTerminal(const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
    DomBaseScanResult result;
    ProcessHandle* process = terminal.process();
    if (!process || !SecurityList) return result;
    const std::vector<MemoryRegion> regions = listReadableRegions(terminal.processId());
    if (regions.empty()) {
        log.LogMessage("DOMBASE scan: the memory map of process " + std::to_string(terminal.processId()) +
                           " cannot be read",
                       1);
        return result;
    }
    DomBaseScanOptions options;
    options.maxCandidates = 5;
    options.progress = progress;
    result = ScanForDomBase(*process, regions, *SecurityList, "info.exe", log, options);
    log.LogMessage("DOMBASE scan: " + std::to_string(result.candidates.size()) + " candidates in " +
                       std::to_string(result.bytesScanned) + " bytes of process " +
                       std::to_string(terminal.processId()),
                   1);
    return result;
}

void Session::UseDomBase(TerminalAddress base, MainView& view) {
    char text[16];
    std::snprintf(text, sizeof text, "$%08X", base);
    settings.DOMBASE = static_cast<std::int32_t>(base);
    // Written in place: every other line of the user's file stays as it is.
    WriteProfileString(SettingsPath, "TECH", "DOMBASE", text);
    log.LogMessage(std::string("DOMBASE=") + text + " taken from the scan and written into " + SettingsPath, 1);
    RefreshQuoteTables(view);
}

}  // namespace velmora
