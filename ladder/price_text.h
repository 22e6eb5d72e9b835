#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// Fixed-point text with exactly `decimals` digits after `separator` (none and no
// separator for 0), rounded to 10 significant digits, no digit grouping.
std::string FormatFixed(long double value, std::uint32_t decimals, char separator);

// The text of a price in whole ticks (units of 10^-decimals): its digits with `separator`
// `decimals` places from the right (no separator for 0), a "-" below zero. Decimals above 18
// count as 18.
std::string PriceText(std::int64_t ticks, std::uint32_t decimals, char separator);

// The whole ticks nearest `price`, rounded as a fixed format with `decimals` places rounds
// it; none when it is not finite or does not fit.
std::optional<std::int64_t> PriceTicks(double price, std::uint32_t decimals);

// A price in ticks as a number, for the log's general form.
double TicksValue(std::int64_t ticks, std::uint32_t decimals);

// General form with up to 15 significant digits, as the log writes prices.
std::string FormatGeneral(double value, char separator);

// A price typed or shown: the first "," becomes "."; then a decimal number with
// optional sign and exponent, leading blanks allowed, nothing after it.
std::optional<double> ReadPriceText(std::string_view text);

}  // namespace velmora
