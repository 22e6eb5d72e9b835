#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "terminal/position_text.h"
#include "terminal/side.h"
#include "terminal/traded_volume.h"

namespace velmora {

// An own order sent and not yet answered by the terminal: shown in its column, marked pending.
struct PendingQuantity {
    Side side = Side::Buy;
    std::int64_t price = 0;  // in ticks
    std::int64_t quantity = 0;
};

// What the ladder shows beside the book, where it is known.
struct LadderExtras {
    std::vector<PendingQuantity> pending;
    std::optional<PositionMark> position;
    const TradedVolume* volume = nullptr;  // null: no tape, the volume column stays empty
};

}  // namespace velmora
