#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

// Which file a path names now: a file replaced under the same name gets another identity.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Nothing when the path names no file that can be asked.
std::optional<FileIdentity> fileIdentity(const std::string& path);

}  // namespace velmora
