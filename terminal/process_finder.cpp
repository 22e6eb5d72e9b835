#include "terminal/process_finder.h"

#include "core/main_view.h"
#include "core/program.h"
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

void WaitForTerminal(Program& program, MainView& view, std::vector<ProcessEntry>& list) {
    view.setInfoCaption("Запустите QUIK...");
    view.setInfoVisible(true);
    do {
        FindProcesses(program.platform.processes, terminalExecutable, list);
        view.pause(100);
    } while (!program.AppClosing && list.empty());
    view.setInfoVisible(false);
}

void FindTerminal(Program& program, MainView& view) {
    std::vector<ProcessEntry> list;
    FindProcesses(program.platform.processes, terminalExecutable, list);
    if (list.empty()) WaitForTerminal(program, view, list);
    if (program.AppClosing) return;
    program.TerminalProcessId = list.front().id;
    program.TerminalProcess = program.platform.processes.open(program.TerminalProcessId);
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

std::string BufferToHex(const void* buffer, int count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    if (count <= 0) return text;
    text.reserve(static_cast<std::size_t>(count) * 2);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    for (int i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace velmora
