#include "core/position_text.h"

#include <charconv>
#include <cmath>

#include "ladder/price_text.h"
#include "terminal/script_link.h"

namespace velmora {

namespace {

std::string number(double value, int decimals, char separator) {
    char text[64];
    const auto result = decimals < 0 ? std::to_chars(text, text + sizeof text, value)
                                     : std::to_chars(text, text + sizeof text, value, std::chars_format::fixed,
                                                     decimals);
    std::string shown(text, result.ptr);
    if (shown == "-0" || shown.find_first_not_of("-0.") == std::string::npos) shown.erase(0, shown[0] == '-');
    for (char& c : shown)
        if (c == '.') c = separator;
    return shown;
}

}  // namespace

std::string PositionText(const ScriptInstrument& instrument, char separator) {
    if (!instrument.position) return {};
    const LinkPosition& position = *instrument.position;
    const int decimals = instrument.securityKnown ? static_cast<int>(instrument.security.Decimals) : -1;
    std::string text = "Позиция: " + number(position.position, -1, separator);
    if (position.position == 0) return text;
    text += " по " + number(position.averagePrice, decimals, separator);
    if (position.futures && position.varMargin) text += ", вар. маржа " + number(*position.varMargin, 2, separator);
    // A long position closes at the best bid, a short one at the best offer.
    if (instrument.bookKnown) {
        const TQuoteTable& book = instrument.table;
        if (const TQuoteRecord* opposite = position.position > 0 ? book.BestBid() : book.BestAsk()) {
            const double close = TicksValue(opposite->IntPrice, instrument.security.Decimals);
            const double profit = (close - position.averagePrice) * position.position;
            text += ", прибыль " + number(profit, decimals, separator) + " пт";
        }
    }
    return text;
}

}  // namespace velmora
