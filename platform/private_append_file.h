#pragma once
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

// A file made anew for this user alone (never one found in its place), taking records each
// appended with one write, so its reader never sees part of one unless the disk is full. Removed
// when this object goes.
class PrivateAppendFile {
public:
    virtual ~PrivateAppendFile() = default;
    virtual const std::string& path() const = 0;
    // False, with `error` set, when not all of `bytes` went.
    virtual bool append(std::string_view bytes, std::string& error) = 0;
};

// Null, with `error` set, when the file cannot be made (something already has its name).
std::unique_ptr<PrivateAppendFile> createPrivateAppendFile(const std::string& path, std::string& error);

}  // namespace velmora
