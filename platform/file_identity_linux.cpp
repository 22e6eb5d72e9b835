#include <sys/stat.h>

#include "platform/file_identity.h"

namespace velmora {

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace velmora
