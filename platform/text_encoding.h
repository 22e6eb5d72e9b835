#pragma once
#include <string>
#include <string_view>

namespace velmora {

// Files the terminal or the user reads are Windows-1251; text inside the program is
// UTF-8. Both conversions are lossless for every byte (0x98, unassigned in 1251,
// maps to U+0098). A UTF-8 character with no 1251 form becomes "?".
std::string cp1251ToUtf8(std::string_view bytes);
std::string utf8ToCp1251(std::string_view text);

// The character of the UTF-8 sequence at `at`, moving `at` past it. A byte that starts no
// valid sequence is passed over alone, a sequence cut short by the end of the text as a
// whole; both answer InvalidCodePoint.
constexpr char32_t InvalidCodePoint = 0xFFFFFFFF;
char32_t NextCodePoint(std::string_view text, std::size_t& at);

}  // namespace velmora
