#include "terminal_link.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace standin {

LinkAddress linkAddress(const std::string& canonical) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (unsigned char c : canonical) {
        hash ^= c;
        hash *= 0x100000001B3ull;
    }
    char name[64];
    int length = std::snprintf(name, sizeof name, "velmora-standin-%016llx", static_cast<unsigned long long>(hash));
    LinkAddress link;
    link.address.sun_family = AF_UNIX;
    link.address.sun_path[0] = '\0';  // abstract: no file, gone with the process
    std::memcpy(link.address.sun_path + 1, name, static_cast<std::size_t>(length));
    link.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<std::size_t>(length));
    return link;
}

std::string linkGreeting(const std::string& canonical) {
    return "VELMORA-STANDIN " + canonical;
}

}  // namespace standin
