#pragma once
#include <string>
#include <string_view>

namespace velmora {

// The text without the blanks and control characters around it: how the settings file's
// names and values, the mode settings and the ladder's cells are trimmed alike.
std::string_view TrimmedText(std::string_view text);

// A mode setting (OutputWay, SECTION) or a process name as it is compared: leading and
// trailing blanks and control characters removed, only a..z upper-cased (the rest stays byte text).
std::string NormalizedText(std::string_view text);

}  // namespace velmora
