#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "terminal/side.h"

namespace velmora {

class Log;

// A local stop: the terminal never hears of it until it fires as a limit order.
struct TStopOrder {
    Side side = Side::Buy;
    std::int64_t Price = 0;  // in ticks
    std::int32_t Quantity = 0;
};

// How the log writes a stop's side: "0" buy, "1" sell.
const char* StopSideDigit(Side side);

// Owns its stops, in the order they were added.
class TStopOrders {
public:
    std::vector<std::unique_ptr<TStopOrder>> items;

    int Count() const { return static_cast<int>(items.size()); }
    void Clear() { items.clear(); }
    void append(std::unique_ptr<TStopOrder> stop) { items.push_back(std::move(stop)); }
    // Removes the stop at `index` and hands it over; null when there is none there.
    std::unique_ptr<TStopOrder> take(int index);
    // Sum of Quantity over stops with Lower < Price <= Upper.
    std::int32_t QuantityInRange(std::int64_t Upper, std::int64_t Lower) const;
    // Removes the first stop in that range, logging "clearing stop order:..." at level 2 with the
    // price at `decimals`.
    void RemoveFirstInRange(std::int64_t Upper, std::int64_t Lower, std::uint32_t decimals, Log& log);
};

}  // namespace velmora
