#include "settings/number_text.h"

#include <cstdint>
#include <string>

#include "settings/program_error.h"

namespace velmora {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::int32_t> ParseInteger(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';

    bool hex = false;
    if (at < text.size() && (text[at] == '$' || text[at] == 'x' || text[at] == 'X')) {
        hex = true;
        ++at;
    } else if (at + 1 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X')) {
        hex = true;
        at += 2;
    }
    if (at == text.size()) return std::nullopt;

    // Hexadecimal runs to FFFFFFFF and is taken as the 32-bit pattern, so terminal
    // addresses above 2 GiB can be written; decimal must fit the signed range.
    const std::uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
    std::uint64_t magnitude = 0;
    for (; at < text.size(); ++at) {
        int digit = hex ? hexDigit(text[at]) : (text[at] >= '0' && text[at] <= '9' ? text[at] - '0' : -1);
        if (digit < 0) return std::nullopt;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
        if (magnitude > limit) return std::nullopt;
    }
    auto pattern = static_cast<std::uint32_t>(magnitude);
    if (negative) pattern = 0u - pattern;
    return static_cast<std::int32_t>(pattern);
}

std::int32_t IntegerOr(std::string_view text, std::int32_t fallback) {
    return ParseInteger(text).value_or(fallback);
}

std::int32_t StrictInteger(std::string_view text) {
    if (auto value = ParseInteger(text)) return *value;
    throw ProgramError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace velmora
