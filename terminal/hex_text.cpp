#include "terminal/hex_text.h"

namespace velmora {

std::string BufferToHex(const void* buffer, int count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    if (count <= 0) return text;
    text.reserve(static_cast<std::size_t>(count) * 2);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    for (int i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace velmora
