#include "terminal/process_finder.h"

#include "settings/normalized_text.h"

namespace velmora {

namespace {

const char* const terminalExecutable = "info.exe";

}  // namespace

void FindProcesses(ProcessAccess& processes, const std::string& name, std::vector<ProcessEntry>& list) {
    std::string wanted = NormalizedText(name);
    // An empty name would match every process.
    if (wanted.empty()) return;
    for (ProcessEntry& entry : processes.listProcesses())
        if (NormalizedText(entry.exeName).find(wanted) != std::string::npos) list.push_back(std::move(entry));
}

void WaitForTerminal(ProcessAccess& processes, TerminalWaitView& view, const bool& closing,
                     std::vector<ProcessEntry>& list) {
    view.setInfoCaption("Запустите QUIK...");
    view.setInfoVisible(true);
    do {
        FindProcesses(processes, terminalExecutable, list);
        view.pause(100);
    } while (!closing && list.empty());
    view.setInfoVisible(false);
}

std::unique_ptr<ProcessHandle> FindTerminal(ProcessAccess& processes, TerminalWaitView& view, const bool& closing,
                                            std::uint32_t& processId) {
    std::vector<ProcessEntry> list;
    FindProcesses(processes, terminalExecutable, list);
    if (list.empty()) WaitForTerminal(processes, view, closing, list);
    if (closing) return nullptr;
    processId = list.front().id;
    return processes.open(processId);
}

std::unique_ptr<ProcessHandle> OpenRunningTerminal(ProcessAccess& processes, std::uint32_t& processId) {
    std::vector<ProcessEntry> list;
    FindProcesses(processes, terminalExecutable, list);
    // An ended terminal may still be listed until its parent collects it.
    for (const ProcessEntry& entry : list) {
        std::unique_ptr<ProcessHandle> handle = processes.open(entry.id);
        if (handle && !handle->exited()) {
            processId = entry.id;
            return handle;
        }
    }
    return nullptr;
}

}  // namespace velmora
