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
// opposite price, in price points times lots. A stock's position comes in shares and is shown in
// lots, the shares in the detail. Empty before the script has sent the position.
PositionLine PositionText(const ScriptInstrument& instrument, char decimalSeparator);

// The position in whole lots, as an order's quantity counts, long above zero; none before the
// script has sent it. Shares short of a lot are left out: no order of lots closes them.
std::optional<std::int64_t> PositionLots(const ScriptInstrument& instrument);

}  // namespace velmora
