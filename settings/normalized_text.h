#pragma once
#include <string>
#include <string_view>

namespace velmora {

// A mode setting (OutputWay, SECTION) or a process name as it is compared: leading and
// trailing blanks and control characters removed, only a..z upper-cased (the rest stays byte text).
std::string NormalizedText(std::string_view text);

}  // namespace velmora
