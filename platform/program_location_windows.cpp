#include <windows.h>

#include <string>

#include "platform/program_location.h"

namespace velmora {

char pathSeparator() { return '\\'; }

std::string executableFolder() {
    // Grow the buffer until the whole path fits: installs can sit deeper than MAX_PATH.
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return ".\\";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? ".\\" : path.substr(0, slash + 1);
}

bool fileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace velmora
