#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// Fixed-point text with exactly `decimals` digits after `separator` (none and no
// separator for 0), rounded to 10 significant digits, no digit grouping.
std::string FormatFixed(long double value, std::uint32_t decimals, char separator);

// The ladder's price text of an integer price: intPrice / 10^decimals.
std::string PriceText(std::uint32_t intPrice, std::uint32_t decimals, char separator);

// General form with up to 15 significant digits, as the log writes prices.
std::string FormatGeneral(double value, char separator);

// A price typed or shown: the first "," becomes "."; then a decimal number with
// optional sign and exponent, leading blanks allowed, nothing after it.
std::optional<double> ReadPriceText(std::string_view text);

}  // namespace velmora
