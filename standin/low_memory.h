#pragma once
#include <cstddef>

namespace standin {

// Maps `size` zero-filled read-write bytes below 2 GiB, where a 32-bit reader can point:
// the first free of 0x10000000, 0x20000000, ... so that addresses repeat between runs.
void* mapLow(std::size_t size);

}  // namespace standin
