#include "terminal/process_finder.h"

#include <algorithm>

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
    view.post(PanelKind::Loading, "Запустите QUIK...");
    do {
        FindProcesses(processes, terminalExecutable, list);
        // A terminal that has ended is no terminal to wait for.
        list.erase(std::remove_if(list.begin(), list.end(), [](const ProcessEntry& entry) { return entry.ended; }),
                   list.end());
        view.pause(100);
    } while (!closing && list.empty());
    view.withdraw(PanelKind::Loading);
}

namespace {

std::string comparablePath(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return path;
}

// The terminals QuikPath names first, each group in list order; ended ones left out.
std::vector<ProcessEntry> preferred(std::vector<ProcessEntry> list, const std::string& quikPath) {
    list.erase(std::remove_if(list.begin(), list.end(), [](const ProcessEntry& entry) { return entry.ended; }),
               list.end());
    std::stable_partition(list.begin(), list.end(),
                          [&](const ProcessEntry& entry) { return ExecutableInFolder(entry.exePath, quikPath); });
    return list;
}

}  // namespace

bool ExecutableInFolder(const std::string& exePath, const std::string& folder) {
    if (exePath.empty() || folder.empty()) return false;
    std::string path = comparablePath(exePath);
    std::string wanted = comparablePath(folder);
    if (wanted.back() != '/') wanted += '/';
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    path.erase(slash + 1);
    if (path == wanted) return true;
    // Wine's Z: drive is the Unix root, where a Linux program beside the terminal names its folder.
    return path.rfind("z:/", 0) == 0 && path.substr(2) == wanted;
}

std::unique_ptr<ProcessHandle> FindTerminal(ProcessAccess& processes, TerminalWaitView& view, const bool& closing,
                                            std::uint32_t& processId, const std::string& quikPath,
                                            TerminalTaken& taken) {
    std::vector<ProcessEntry> list;
    FindProcesses(processes, terminalExecutable, list);
    list = preferred(std::move(list), quikPath);
    if (list.empty()) WaitForTerminal(processes, view, closing, list);
    if (closing) return nullptr;
    list = preferred(std::move(list), quikPath);
    if (list.empty()) return nullptr;
    processId = list.front().id;
    taken = {list.front().id, list.front().exePath, ExecutableInFolder(list.front().exePath, quikPath),
             static_cast<int>(list.size())};
    return processes.open(processId);
}

std::unique_ptr<ProcessHandle> OpenRunningTerminal(ProcessAccess& processes, std::uint32_t& processId,
                                                   const std::string& quikPath, TerminalTaken& taken) {
    std::vector<ProcessEntry> list;
    FindProcesses(processes, terminalExecutable, list);
    // An ended terminal may still be listed until its parent collects it.
    const std::vector<ProcessEntry> running = preferred(std::move(list), quikPath);
    for (const ProcessEntry& entry : running) {
        std::unique_ptr<ProcessHandle> handle = processes.open(entry.id);
        if (handle && !handle->exited()) {
            processId = entry.id;
            taken = {entry.id, entry.exePath, ExecutableInFolder(entry.exePath, quikPath),
                     static_cast<int>(running.size())};
            return handle;
        }
    }
    return nullptr;
}

}  // namespace velmora
