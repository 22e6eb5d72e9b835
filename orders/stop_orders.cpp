#include "orders/stop_orders.h"

#include <algorithm>
#include <limits>
#include <string>

#include "ladder/price_text.h"
#include "platform/clock.h"
#include "settings/log.h"

namespace velmora {

const char* StopSideDigit(Side side) { return side == Side::Sell ? "1" : "0"; }

std::int32_t TStopOrders::QuantityInRange(std::int64_t Upper, std::int64_t Lower) const {
    // Quantities run up to 10^9 each: sum wide, show at most the 32-bit limit.
    std::int64_t total = 0;
    for (const auto& stop : items)
        if (Lower < stop->Price && stop->Price <= Upper) total += stop->Quantity;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(total, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

std::unique_ptr<TStopOrder> TStopOrders::take(int index) {
    if (index < 0 || index >= Count()) return nullptr;
    auto position = items.begin() + index;
    std::unique_ptr<TStopOrder> stop = std::move(*position);
    items.erase(position);
    return stop;
}

void TStopOrders::RemoveFirstInRange(std::int64_t Upper, std::int64_t Lower, std::uint32_t decimals, Log& log) {
    for (auto it = items.begin(); it != items.end(); ++it) {
        const TStopOrder& stop = **it;
        if (!(Lower < stop.Price && stop.Price <= Upper)) continue;
        if (log.enabled(2))
            log.LogMessage("clearing stop order:" +
                               FormatGeneral(TicksValue(stop.Price, decimals), log.locale().decimalSeparator()) + "; " +
                               std::to_string(stop.Quantity) + "; " + StopSideDigit(stop.side),
                           2);
        items.erase(it);
        return;
    }
}

}  // namespace velmora
