#include <windows.h>

#include "platform/file_identity.h"

namespace velmora {

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    // Shared every way, so the terminal writing the file is never in the way.
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    BOOL known = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    if (!known) return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

}  // namespace velmora
