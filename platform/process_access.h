#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// Addresses inside the terminal are 32-bit: it is a 32-bit program.
using TerminalAddress = std::uint32_t;

struct ProcessEntry {
    std::uint32_t id = 0;
    std::string exeName;  // as the platform reports it
};

// A process opened for reading its memory. Bound to that process: once it has
// exited, every read fails, even if its id is reused.
class ProcessHandle {
public:
    virtual ~ProcessHandle() = default;
    // Reads exactly `count` bytes at `address`; false (and `destination` possibly
    // partly written) when any byte of the range cannot be read.
    virtual bool read(TerminalAddress address, void* destination, std::size_t count) = 0;
    // Whether the process has ended, asked of the process itself rather than guessed from
    // failed reads: a wrong address fails reads of a live process too. A copy or image of
    // memory never ends.
    virtual bool exited() { return false; }
};

class ProcessAccess {
public:
    virtual ~ProcessAccess() = default;
    virtual std::vector<ProcessEntry> listProcesses() = 0;
    // Empty on failure.
    virtual std::unique_ptr<ProcessHandle> open(std::uint32_t processId) = 0;
};

std::unique_ptr<ProcessAccess> makeSystemProcessAccess();

}  // namespace velmora
