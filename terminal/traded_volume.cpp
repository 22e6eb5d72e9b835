#include "terminal/traded_volume.h"

#include <algorithm>

namespace velmora {

TapeSide TapeSideOf(std::uint32_t flags) {
    const bool sell = (flags & 1u) != 0;
    const bool buy = (flags & 2u) != 0;
    if (sell == buy) return TapeSide::Unknown;
    return buy ? TapeSide::Buy : TapeSide::Sell;
}

TapeSide VolumeAtPrice::leader() const {
    if (buys > sells && buys >= unknown) return TapeSide::Buy;
    if (sells > buys && sells >= unknown) return TapeSide::Sell;
    return TapeSide::Unknown;
}

bool TradedVolume::add(std::uint64_t tradeNumber, std::int64_t price, std::int64_t quantity, TapeSide side) {
    // The terminal numbers an instrument's trades upwards; one told twice counts once.
    if (tradeNumber != 0) {
        if (tradeNumber <= lastNumber_) return false;
        lastNumber_ = tradeNumber;
    }
    auto found = byPrice_.find(price);
    if (found == byPrice_.end()) {
        if (byPrice_.size() >= maxPrices) return false;
        found = byPrice_.emplace(price, VolumeAtPrice{}).first;
    }
    VolumeAtPrice& volume = found->second;
    std::int64_t& sum = side == TapeSide::Buy ? volume.buys : side == TapeSide::Sell ? volume.sells : volume.unknown;
    sum = std::min(sum + std::clamp<std::int64_t>(quantity, 0, maxVolume), maxVolume);
    last_ = LastTrade{price, quantity, side};
    ++version_;
    return true;
}

const VolumeAtPrice* TradedVolume::at(std::int64_t price) const {
    const auto found = byPrice_.find(price);
    return found == byPrice_.end() ? nullptr : &found->second;
}

void TradedVolume::reset() {
    byPrice_.clear();
    ++version_;
}

}  // namespace velmora
