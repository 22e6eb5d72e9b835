#include "terminal_link.h"

#include <cstdint>
#include <cstdio>

#include "system.h"

namespace standin {

std::string linkName(const std::string& canonical) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (unsigned char c : folderKey(canonical)) {
        hash ^= c;
        hash *= 0x100000001B3ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "velmora-standin-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

std::string linkGreeting(const std::string& canonical) {
    return "VELMORA-STANDIN " + folderKey(canonical);
}

}  // namespace standin
