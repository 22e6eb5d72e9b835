#pragma once
#include <string>

namespace velmora {

// The platform's folder separator: "\" on Windows, "/" elsewhere.
char pathSeparator();

// Folder of the running executable, with its trailing separator.
std::string executableFolder();

bool fileExists(const std::string& path);

}  // namespace velmora
