#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

// A readable range of another process's address space.
struct MemoryRegion {
    std::uint64_t start = 0;
    std::uint64_t end = 0;  // one past the last byte
    std::string file;       // the file mapped there (its path as the platform reports it), or empty
};

// The readable regions of a process, in address order; empty when it cannot be inspected.
std::vector<MemoryRegion> listReadableRegions(std::uint32_t processId);

}  // namespace velmora
