#include "platform/program_location.h"

#include <filesystem>
#include <system_error>

namespace velmora {

char pathSeparator() { return '/'; }

std::string executableFolder() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    // Without /proc the current folder is the only guess left.
    if (error || !exe.has_parent_path()) return "./";
    std::string folder = exe.parent_path().string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

bool fileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace velmora
