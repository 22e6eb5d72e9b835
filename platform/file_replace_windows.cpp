#include <windows.h>

#include "platform/file_replace.h"

namespace velmora {

// The C library's rename refuses an existing target on Windows.
bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace velmora
