#pragma once
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/memory_regions.h"
#include "platform/process_access.h"

namespace velmora {

// What velmora-scan reaches outside itself, so that a test can hand in its own.
struct ScanEnvironment {
    ProcessAccess& processes;
    std::function<std::vector<MemoryRegion>(std::uint32_t)> regions;
    std::string defaultIni;  // the ini used without --ini
    std::ostream& out;
    std::ostream& err;
};

// Runs velmora-scan with its arguments (without the program name); answers the exit code:
// 0 found, 1 nothing found or nothing to scan, 2 bad arguments.
int RunScanCommand(const std::vector<std::string>& arguments, ScanEnvironment& environment);

}  // namespace velmora
