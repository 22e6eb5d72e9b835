#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

// Addresses inside the terminal are 32-bit: it is a 32-bit program.
using TerminalAddress = std::uint32_t;

struct ProcessEntry {
    ProcessEntry() = default;
    ProcessEntry(std::uint32_t processId, std::string name, std::string path = {}, bool hasEnded = false)
        : id(processId), exeName(std::move(name)), exePath(std::move(path)), ended(hasEnded) {}

    std::uint32_t id = 0;
    std::string exeName;  // as the platform reports it
    // The executable's full path where the platform tells it (a program under Wine: its
    // Windows path); empty when not known.
    std::string exePath;
    bool ended = false;  // listed, but no longer running (not yet collected by its parent)
};

struct ReadRange {
    TerminalAddress address = 0;
    void* destination = nullptr;
    std::size_t count = 0;
};

// The bytes from the lowest range start to the highest range end; 0 for no ranges or
// when that span leaves the terminal's 4 GiB.
std::uint64_t spanOf(const ReadRange* ranges, std::size_t count, TerminalAddress& lowest);

// Ranges within this span are read as one block and sliced: one copy of a few pages
// costs less than one call per range.
constexpr std::uint64_t gatheredSpanLimit = 64 * 1024;

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

    // Reads the ranges in order into their destinations and answers how many leading
    // ones were read whole: reading ends at the first range that cannot be read, and
    // nothing is promised about the destinations from that range on. The platforms
    // gather the ranges into as few system calls as they can; this one reads them
    // one by one.
    virtual std::size_t readMany(const ReadRange* ranges, std::size_t count);
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
