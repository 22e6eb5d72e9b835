#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/info_panel.h"
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

// Finds "info.exe", waiting for it with "Запустите QUIK..." when it is not running, and opens the
// first match, its id in `processId`. Returns early, opening nothing, once `closing` is set.
std::unique_ptr<ProcessHandle> FindTerminal(ProcessAccess& processes, TerminalWaitView& view, const bool& closing,
                                            std::uint32_t& processId);
void WaitForTerminal(ProcessAccess& processes, TerminalWaitView& view, const bool& closing,
                     std::vector<ProcessEntry>& list);

// Looks once, without waiting: the first "info.exe" that opens and is still running, with its id;
// empty when there is none.
std::unique_ptr<ProcessHandle> OpenRunningTerminal(ProcessAccess& processes, std::uint32_t& processId);

}  // namespace velmora
