#include "terminal/position_text.h"

#include <charconv>
#include <cmath>

#include "terminal/script_link.h"

namespace velmora {

namespace {

double tenTo(std::uint32_t decimals) {
    double scale = 1;
    for (std::uint32_t i = 0; i < decimals && i < 18; ++i) scale *= 10;
    return scale;
}

double ticksValue(std::int64_t ticks, std::uint32_t decimals) { return static_cast<double>(ticks) / tenTo(decimals); }

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

// A stock's position comes in shares, a futures position in contracts.
bool inShares(const ScriptInstrument& instrument) { return !instrument.position->futures && instrument.lotSize > 1; }

double lotsHeld(const ScriptInstrument& instrument) {
    const double held = instrument.position->position;
    return inShares(instrument) ? held / static_cast<double>(instrument.lotSize) : held;
}

// Futures: each price step is worth the step price per contract. Stocks: a point is worth a
// point per share. None where that cannot be told.
std::optional<double> profitInMoney(const ScriptInstrument& instrument, double close) {
    const LinkPosition& position = *instrument.position;
    const double points = close - position.averagePrice;
    if (!position.futures) return points * position.position;
    if (!instrument.stepPrice || instrument.security.IntPriceStep == 0) return std::nullopt;
    const double step = ticksValue(instrument.security.IntPriceStep, instrument.security.Decimals);
    return points / step * *instrument.stepPrice * position.position;
}

}  // namespace

std::optional<PositionMark> PositionMarkOf(const ScriptInstrument& instrument) {
    if (!instrument.position || !instrument.securityKnown || instrument.position->position == 0) return std::nullopt;
    const double ticks = std::round(instrument.position->averagePrice * tenTo(instrument.security.Decimals));
    if (!(ticks > 0 && ticks < 9e15)) return std::nullopt;
    return PositionMark{static_cast<std::int64_t>(ticks), instrument.position->position > 0};
}

std::optional<std::int64_t> PositionLots(const ScriptInstrument& instrument) {
    if (!instrument.position) return std::nullopt;
    const double lots = std::trunc(lotsHeld(instrument));
    // Also false for a NaN.
    if (!(std::fabs(lots) < 1e18)) return std::nullopt;
    return static_cast<std::int64_t>(lots);
}

PositionLine PositionText(const ScriptInstrument& instrument, char separator) {
    if (!instrument.position) return {};
    const LinkPosition& position = *instrument.position;
    const int decimals = instrument.securityKnown ? static_cast<int>(instrument.security.Decimals) : -1;
    const bool shares = inShares(instrument);
    const double lots = lotsHeld(instrument);
    PositionLine line;
    if (shares && position.position != 0)
        line.detail = number(position.position, -1, separator) + " акций, в лоте " + std::to_string(instrument.lotSize);
    std::string& text = line.text;
    text = "Позиция: " + number(lots, -1, separator);
    if (position.position == 0) return line;
    text += " по " + number(position.averagePrice, decimals, separator);
    if (position.futures && position.varMargin) text += ", вар. маржа " + number(*position.varMargin, 2, separator);
    // A long position closes at the best bid, a short one at the best offer.
    if (instrument.bookKnown) {
        const TQuoteTable& book = instrument.table;
        if (const TQuoteRecord* opposite = position.position > 0 ? book.BestBid() : book.BestAsk()) {
            const double close = ticksValue(opposite->IntPrice, instrument.security.Decimals);
            const double profit = (close - position.averagePrice) * lots;
            text += ", прибыль " + number(profit, decimals, separator) + " пт";
            if (const std::optional<double> money = profitInMoney(instrument, close))
                text += " = " + number(*money, 2, separator) + " руб.";
        }
    }
    return line;
}

}  // namespace velmora
