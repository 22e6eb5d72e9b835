#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/process_access.h"

namespace velmora {

class Program;
class MainView;

// Appends every running process whose executable name contains `name`, compared
// trimmed and with a..z upper-cased; does not clear `list`.
void FindProcesses(ProcessAccess& processes, const std::string& name, std::vector<ProcessEntry>& list);

// Finds "info.exe", waiting for it with "Запустите QUIK..." when it is not running,
// and opens the first match. Returns early, opening nothing, when AppClosing is set.
void FindTerminal(Program& program, MainView& view);
void WaitForTerminal(Program& program, MainView& view, std::vector<ProcessEntry>& list);

// Looks once, without waiting: the first "info.exe" that opens and is still running, with its id;
// empty when there is none.
std::unique_ptr<ProcessHandle> OpenRunningTerminal(ProcessAccess& processes, std::uint32_t& processId);

// Two upper-case hex digits per byte, no separators; "" for count <= 0.
std::string BufferToHex(const void* buffer, int count);

}  // namespace velmora
