#include "low_memory.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

namespace standin {

void* mapLow(std::size_t size) {
    // Below 2 GiB, because settings read the address as a signed 32-bit number.
    for (std::uintptr_t address = 0x10000000; address + size <= 0x80000000; address += 0x10000000) {
        void* result = mmap(reinterpret_cast<void*>(address), size, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (result == reinterpret_cast<void*>(address)) return result;
        if (result != MAP_FAILED) munmap(result, size);  // old kernels take the address as a hint
    }
#ifdef MAP_32BIT
    void* result = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (result != MAP_FAILED) return result;
#endif
    throw std::runtime_error("cannot map memory below 4 GiB: " + std::string(std::strerror(errno)));
}

}  // namespace standin
