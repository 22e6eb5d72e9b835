#pragma once
#include <string>

namespace standin {

// The name of the channel through which the stand-in library reaches the stand-in serving a
// folder: "velmora-standin-" + 16 lower-case hex digits of the FNV-1a 64 hash of the folder's
// key, so a folder of any length fits. On Linux an abstract local socket, on Windows a pipe.
std::string linkName(const std::string& canonical);

// The first message a stand-in sends on a new connection; it names the folder it serves.
std::string linkGreeting(const std::string& canonical);

}  // namespace standin
