#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace velmora {

// The integer forms of the settings file: decimal, or hexadecimal after "$", "x",
// "X", "0x" or "0X"; leading blanks and a sign allowed; the value must fit 32 bits.
std::optional<std::int32_t> ParseInteger(std::string_view text);

// ParseInteger, or `fallback` when the text is empty or not a number.
std::int32_t IntegerOr(std::string_view text, std::int32_t fallback);

// ParseInteger, or a ProgramError naming the text when it is empty or not a number.
std::int32_t StrictInteger(std::string_view text);

}  // namespace velmora
