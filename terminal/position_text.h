#pragma once
#include <string>

namespace velmora {

struct ScriptInstrument;

// The line above the ladder: "Позиция: N по P, вар. маржа M" (futures) or "Позиция: N по P",
// then the open profit at the best opposite price, in price points times lots. Empty before the
// script has sent the position.
std::string PositionText(const ScriptInstrument& instrument, char decimalSeparator);

}  // namespace velmora
