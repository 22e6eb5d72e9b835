#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

struct ScriptInstrument;

// The line above the ladder and its tooltip.
struct PositionLine {
    std::string text;
    std::string detail;

    bool operator==(const PositionLine&) const = default;
};

// "Позиция: N по P, вар. маржа M" (futures) or "Позиция: N по P", then the open profit at the best
// opposite price, in price points times lots, and in money where it can be told: futures by the
// step price the script sent, stocks by the shares held. A stock's position comes in shares and is shown in
// lots, the shares in the detail. Empty before the script has sent the position.
PositionLine PositionText(const ScriptInstrument& instrument, char decimalSeparator);

// Where the position was entered: its average price in ticks (rounded to the nearest), and its way.
struct PositionMark {
    std::int64_t price = 0;
    bool isLong = true;
    bool operator==(const PositionMark&) const = default;
};
// None while flat, before the script has sent the position, or before its security.
std::optional<PositionMark> PositionMarkOf(const ScriptInstrument& instrument);

// The position in whole lots, as an order's quantity counts, long above zero; none before the
// script has sent it. Shares short of a lot are left out: no order of lots closes them.
std::optional<std::int64_t> PositionLots(const ScriptInstrument& instrument);

}  // namespace velmora
