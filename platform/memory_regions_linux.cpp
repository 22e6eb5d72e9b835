#include "platform/memory_regions.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace velmora {

std::vector<MemoryRegion> listReadableRegions(std::uint32_t processId) {
    std::vector<MemoryRegion> regions;
    std::ifstream maps("/proc/" + std::to_string(processId) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        // start-end perms offset dev inode [path]
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode, path;
        fields >> range >> perms >> offset >> device >> inode;
        std::getline(fields, path);
        auto first = path.find_first_not_of(' ');
        path = first == std::string::npos ? std::string() : path.substr(first);
        if (perms.empty() || perms[0] != 'r') continue;
        auto dash = range.find('-');
        if (dash == std::string::npos) continue;
        MemoryRegion region;
        region.start = std::stoull(range.substr(0, dash), nullptr, 16);
        region.end = std::stoull(range.substr(dash + 1), nullptr, 16);
        // The kernel's own pages read as failures through /proc/<pid>/mem.
        if (path == "[vvar]" || path == "[vsyscall]") continue;
        region.file = path.empty() || path[0] == '[' ? std::string() : path;
        regions.push_back(std::move(region));
    }
    return regions;
}

}  // namespace velmora
