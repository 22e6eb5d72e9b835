#include "platform/text_encoding.h"

#include <array>
#include <cstdint>

namespace velmora {

namespace {

// Unicode code points of Windows-1251 bytes 0x80..0xFF (0x98, unassigned, kept as U+0098).
constexpr std::array<std::uint16_t, 128> upperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

char toCp1251(std::uint32_t code) {
    if (code < 0x80) return static_cast<char>(code);
    if (code >= 0x0410 && code <= 0x044F) return static_cast<char>(0xC0 + (code - 0x0410));
    for (std::size_t i = 0; i < upperHalf.size(); ++i)
        if (upperHalf[i] == code) return static_cast<char>(0x80 + i);
    return '?';
}

}  // namespace

std::string cp1251ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) out += c;
        else appendUtf8(out, upperHalf[byte - 0x80]);
    }
    return out;
}

char32_t NextCodePoint(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    char32_t code = 0;
    std::size_t length = 1;
    if (lead < 0x80) {
        code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        code = lead & 0x1F;
        length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
        code = lead & 0x0F;
        length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
        code = lead & 0x07;
        length = 4;
    } else {
        ++at;
        return InvalidCodePoint;
    }
    if (at + length > text.size()) {
        at = text.size();
        return InvalidCodePoint;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return InvalidCodePoint;
        }
        code = (code << 6) | (next & 0x3F);
    }
    at += length;
    return code;
}

std::string utf8ToCp1251(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const char32_t code = NextCodePoint(text, at);
        out += code == InvalidCodePoint ? '?' : toCp1251(code);
    }
    return out;
}

}  // namespace velmora
