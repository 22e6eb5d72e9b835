#pragma once
// The abstract local socket behind a link name: no file, gone with the process.
#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "terminal_link.h"

namespace standin {

struct LinkAddress {
    sockaddr_un address{};
    socklen_t length = 0;
};

inline LinkAddress linkAddress(const std::string& canonical) {
    std::string name = linkName(canonical);
    LinkAddress link;
    link.address.sun_family = AF_UNIX;
    link.address.sun_path[0] = '\0';
    std::memcpy(link.address.sun_path + 1, name.data(), name.size());
    link.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return link;
}

}  // namespace standin
