#pragma once
#include <string>

#include <sys/socket.h>
#include <sys/un.h>

#include "system.h"

namespace standin {

// The local socket through which the stand-in library reaches the stand-in serving a folder:
// an abstract name "\0velmora-standin-" + 16 hex digits of the FNV-1a 64 hash of the
// canonical folder, so any folder length fits.
struct LinkAddress {
    sockaddr_un address{};
    socklen_t length = 0;
};
LinkAddress linkAddress(const std::string& canonical);

// The first packet a stand-in sends on a new connection; it names the folder it serves.
std::string linkGreeting(const std::string& canonical);

}  // namespace standin
