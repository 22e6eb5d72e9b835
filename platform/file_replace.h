#pragma once
#include <string>

namespace velmora {

// Moves `from` over `to` in one step, so a reader of `to` sees the old file or the new one, never
// part of either. False when it could not.
bool replaceFile(const std::string& from, const std::string& to);

}  // namespace velmora
