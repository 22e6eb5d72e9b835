#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>

namespace velmora {

// The aggressor's side of an anonymous trade, from its flags: bit 0 a sell, bit 1 a buy.
// Neither or both is unknown, drawn neutral.
enum class TapeSide : std::uint8_t { Unknown, Buy, Sell };
TapeSide TapeSideOf(std::uint32_t flags);

struct VolumeAtPrice {
    std::int64_t buys = 0;
    std::int64_t sells = 0;
    std::int64_t unknown = 0;
    std::int64_t total() const { return buys + sells + unknown; }
    // The side that traded more here; Unknown when neither leads.
    TapeSide leader() const;
};

struct LastTrade {
    std::int64_t price = 0;  // in ticks
    std::int64_t quantity = 0;
    TapeSide side = TapeSide::Unknown;
};

// What the tape of one instrument has traded at each price (in ticks) since the start or the
// last reset, and its last trade. Bounded: a day trades far fewer prices than maxPrices.
class TradedVolume {
public:
    static constexpr std::size_t maxPrices = 100000;
    // Each side's sum stops here rather than overflow.
    static constexpr std::int64_t maxVolume = 1'000'000'000'000'000;

    // False when the trade was not counted: a number already seen, or no room for a new price.
    bool add(std::uint64_t tradeNumber, std::int64_t price, std::int64_t quantity, TapeSide side);
    const VolumeAtPrice* at(std::int64_t price) const;
    const std::optional<LastTrade>& last() const { return last_; }
    // The volumes start again from nothing; the last trade stays marked.
    void reset();
    // Changes with every trade counted and every reset.
    std::uint64_t version() const { return version_; }

private:
    std::unordered_map<std::int64_t, VolumeAtPrice> byPrice_;
    std::optional<LastTrade> last_;
    std::uint64_t lastNumber_ = 0;
    std::uint64_t version_ = 0;
};

}  // namespace velmora
