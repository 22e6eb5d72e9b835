// Stand-in for a definition that main does not have yet; weak, so the real one
// wins as soon as it is linked. Remove once it lands.
#include <cstdio>
#include <string>

#include "terminal/process_finder.h"

namespace velmora {

__attribute__((weak)) std::string BufferToHex(const void* buffer, int count) {
    std::string text;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    char pair[3];
    for (int i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        text += pair;
    }
    return text;
}

}  // namespace velmora
