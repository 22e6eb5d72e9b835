#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "settings/info_panel.h"
#include "platform/process_access.h"

namespace velmora {

// What the wait for the terminal needs of the window: its panel, and a pause that keeps the window
// answering.
class TerminalWaitView : public virtual InfoPanel {
public:
    // Waits about `milliseconds`, processing window messages meanwhile.
    virtual void pause(int milliseconds) = 0;
};

// Appends every running process whose executable name contains `name`, compared
// trimmed and with a..z upper-cased; does not clear `list`.
void FindProcesses(ProcessAccess& processes, const std::string& name, std::vector<ProcessEntry>& list);

// Which terminal was taken, for the log and the panel.
struct TerminalTaken {
    std::uint32_t id = 0;
    std::string path;  // its executable, where known
    bool inQuikPath = false;
    int running = 0;  // terminals found running, this one included
};

// Whether the executable `exePath` lies in the folder `folder`, compared as Windows compares paths
// (a..z without case, "/" as ""); a Windows path on drive Z: is also taken as Wine's view of "/".
bool ExecutableInFolder(const std::string& exePath, const std::string& folder);

// Finds "info.exe", waiting for it with "Запустите QUIK..." when it is not running, and opens it,
// its id in `processId`: the first one whose executable lies in `quikPath`, else the first one
// (`taken` says which). Ended processes are passed over. Returns early, opening nothing, once
// `closing` is set.
std::unique_ptr<ProcessHandle> FindTerminal(ProcessAccess& processes, TerminalWaitView& view, const bool& closing,
                                            std::uint32_t& processId, const std::string& quikPath,
                                            TerminalTaken& taken);
void WaitForTerminal(ProcessAccess& processes, TerminalWaitView& view, const bool& closing,
                     std::vector<ProcessEntry>& list);

// Looks once, without waiting: the "info.exe" that opens and is still running, preferred as
// FindTerminal prefers it, with its id; empty when there is none.
std::unique_ptr<ProcessHandle> OpenRunningTerminal(ProcessAccess& processes, std::uint32_t& processId,
                                                   const std::string& quikPath, TerminalTaken& taken);

}  // namespace velmora
