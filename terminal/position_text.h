#pragma once
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

}  // namespace velmora
