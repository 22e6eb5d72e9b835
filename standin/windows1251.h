#pragma once
#include <string>

namespace standin {

// UTF-8 text of ASCII and Cyrillic letters in the terminal's encoding; throws on anything else,
// so it takes the program's own texts only.
std::string toWindows1251(const std::string& utf8);

}  // namespace standin
