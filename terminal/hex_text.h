#pragma once
#include <string>

namespace velmora {

// Two upper-case hex digits per byte, no separators; "" for count <= 0.
std::string BufferToHex(const void* buffer, int count);

}  // namespace velmora
