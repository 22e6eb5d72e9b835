#pragma once
#include <cstdint>

namespace velmora {

// The refresh timer's interval in milliseconds when [TECH] RefreshInterval is missing or outside its range.
constexpr std::int32_t defaultRefreshInterval = 100;
constexpr std::int32_t shortestRefreshInterval = 10;
constexpr std::int32_t longestRefreshInterval = 1000;

// How many ticks of `refreshInterval` milliseconds come closest to `milliseconds`; at least one.
// What happens "every 50 ticks" at 100 ms keeps its 5 s at any interval.
constexpr std::uint32_t TicksIn(std::uint32_t milliseconds, std::int32_t refreshInterval) {
    const auto interval = static_cast<std::uint32_t>(refreshInterval > 0 ? refreshInterval : defaultRefreshInterval);
    const std::uint32_t ticks = (milliseconds + interval / 2) / interval;
    return ticks > 0 ? ticks : 1;
}

// Discovery and the library retry.
constexpr std::uint32_t rediscoveryPeriod = 5000;
// An active alarm's text: this long hidden, then this long shown.
constexpr std::uint32_t alarmBlinkPhase = 1000;

}  // namespace velmora
