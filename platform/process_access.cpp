#include "platform/process_access.h"

#include <algorithm>

namespace velmora {

std::size_t ProcessHandle::readMany(const ReadRange* ranges, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (!read(ranges[i].address, ranges[i].destination, ranges[i].count)) return i;
    return count;
}

std::uint64_t spanOf(const ReadRange* ranges, std::size_t count, TerminalAddress& lowest) {
    if (count == 0) return 0;
    std::uint64_t low = ranges[0].address;
    std::uint64_t high = 0;
    for (std::size_t i = 0; i < count; ++i) {
        low = std::min<std::uint64_t>(low, ranges[i].address);
        high = std::max<std::uint64_t>(high, std::uint64_t{ranges[i].address} + ranges[i].count);
    }
    if (high > std::uint64_t{1} << 32) return 0;
    lowest = static_cast<TerminalAddress>(low);
    return high - low;
}

}  // namespace velmora
