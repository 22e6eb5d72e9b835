#pragma once
#include <string>
#include <string_view>

namespace velmora {

// A mode setting (OutputWay, SECTION) as it is compared: leading and trailing blanks
// and control characters removed, a..z upper-cased.
std::string NormalizedModeText(std::string_view text);

}  // namespace velmora
