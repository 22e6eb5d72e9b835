#pragma once
#include <string>
#include <string_view>

namespace velmora {

// What a trim takes off the ends of a text.
enum class Blank { SpaceOrTab, SpaceOrControl };

// The text without the blanks around it. The settings file's names and values, the mode settings
// and the ladder's cells lose control characters too; the terminal's replies and the script's
// instrument list only spaces and tabs.
std::string_view TrimmedText(std::string_view text, Blank blank = Blank::SpaceOrControl);

// A mode setting (OutputWay, SECTION) or a process name as it is compared: leading and
// trailing blanks and control characters removed, only a..z upper-cased (the rest stays byte text).
std::string NormalizedText(std::string_view text);

}  // namespace velmora
