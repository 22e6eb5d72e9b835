#include "ladder/price_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace velmora {

namespace {

constexpr std::uint32_t maxDecimals = 18;

// Qt sets the C library's number locale from the environment, so a conversion that
// follows it would write and read "100,05" under a Russian locale: every conversion
// here goes through to_chars / from_chars, which never look at the locale.
void replacePoint(std::string& text, char separator) {
    if (separator == '.') return;
    for (char& c : text)
        if (c == '.') c = separator;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string FormatFixed(long double value, std::uint32_t decimals, char separator) {
    if (decimals > maxDecimals) decimals = maxDecimals;
    if (!std::isfinite(value)) return "0";
    // Round to 10 significant digits first, as the ladder's fixed format does. In double: the
    // Windows C++ library converts long double through printf and strtold, which follow the locale,
    // and 10 digits fit a double.
    const double exact = static_cast<double>(value);
    char scientific[64];
    auto written = std::to_chars(scientific, scientific + sizeof scientific, exact, std::chars_format::scientific, 9);
    double rounded = exact;
    std::from_chars(scientific, written.ptr, rounded, std::chars_format::scientific);
    char text[128];
    written = std::to_chars(text, text + sizeof text, rounded, std::chars_format::fixed, static_cast<int>(decimals));
    if (written.ec != std::errc()) return "0";
    std::string result(text, written.ptr);
    if (result.size() > 1 && result[0] == '-' && result.find_first_not_of("0.", 1) == std::string::npos)
        result.erase(0, 1);  // no "-0.00"
    replacePoint(result, separator);
    return result;
}

std::string PriceText(std::int64_t ticks, std::uint32_t decimals, char separator) {
    if (decimals > maxDecimals) decimals = maxDecimals;
    const std::uint64_t magnitude =
        ticks < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(ticks) : static_cast<std::uint64_t>(ticks);
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
    const auto length = static_cast<std::size_t>(end - digits);
    const std::size_t integerDigits = length > decimals ? length - decimals : 1;
    std::string text;
    text.reserve(integerDigits + decimals + 2);
    if (ticks < 0) text += '-';
    text.append(integerDigits + decimals - length, '0');
    text.append(digits, end);
    if (decimals > 0) text.insert(text.size() - decimals, 1, separator);
    return text;
}

std::optional<std::int64_t> PriceTicks(double price, std::uint32_t decimals) {
    if (!std::isfinite(price) || decimals > maxDecimals) return std::nullopt;
    // The fixed form rounds exactly as a transaction's price text always has; the point dropped,
    // its digits are the ticks.
    char text[400];
    auto written = std::to_chars(text, text + sizeof text, price, std::chars_format::fixed, static_cast<int>(decimals));
    if (written.ec != std::errc()) return std::nullopt;
    char* end = written.ptr;
    if (decimals > 0) {
        char* point = end - decimals - 1;
        std::copy(point + 1, end, point);
        --end;
    }
    std::int64_t ticks = 0;
    auto [stop, error] = std::from_chars(text, end, ticks);
    if (error != std::errc() || stop != end) return std::nullopt;
    return ticks;
}

double TicksValue(std::int64_t ticks, std::uint32_t decimals) {
    if (decimals > maxDecimals) decimals = maxDecimals;
    double scale = 1;
    for (std::uint32_t i = 0; i < decimals; ++i) scale *= 10;
    return static_cast<double>(ticks) / scale;
}

std::string FormatGeneral(double value, char separator) {
    char text[64];
    auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    std::string result(text, written.ptr);
    for (char& c : result)
        if (c == 'e') c = 'E';
    replacePoint(result, separator);
    return result;
}

std::optional<double> ReadPriceText(std::string_view text) {
    std::string number(text);
    if (auto comma = number.find(','); comma != std::string::npos) number[comma] = '.';
    std::size_t start = 0;
    while (start < number.size() && number[start] == ' ') ++start;
    const bool plus = start < number.size() && number[start] == '+';
    if (plus) ++start;
    // Only the plain decimal form: no hexadecimal, infinity or NaN spellings.
    bool digitSeen = false;
    for (std::size_t i = start; i < number.size(); ++i) {
        char c = number[i];
        if (isDigit(c)) digitSeen = true;
        else if (c != '.' && c != '+' && c != '-' && c != 'e' && c != 'E') return std::nullopt;
    }
    if (!digitSeen) return std::nullopt;
    const char* begin = number.data() + start;
    const char* end = number.data() + number.size();
    if (plus && *begin == '-') return std::nullopt;  // from_chars takes no "+" itself
    double value = 0;
    auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace velmora
