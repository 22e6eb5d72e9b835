#include "windows1251.h"

#include <stdexcept>

namespace standin {

std::string toWindows1251(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            continue;
        }
        if (i + 1 >= utf8.size() || (byte & 0xE0) != 0xC0)
            throw std::invalid_argument("only two-byte UTF-8 letters are supported");
        unsigned code = ((byte & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu);
        if (code >= 0x410 && code <= 0x44F)
            out += static_cast<char>(0xC0 + (code - 0x410));
        else if (code == 0x401)
            out += '\xA8';
        else if (code == 0x451)
            out += '\xB8';
        else
            throw std::invalid_argument("letter outside Windows-1251 Cyrillic");
    }
    return out;
}

}  // namespace standin
