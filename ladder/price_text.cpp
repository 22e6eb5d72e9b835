#include "ladder/price_text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velmora {

namespace {

constexpr std::uint32_t maxDecimals = 18;

void replaceDot(std::string& text, char separator) {
    if (separator == '.') return;
    for (char& c : text)
        if (c == '.') c = separator;
}

}  // namespace

std::string FormatFixed(long double value, std::uint32_t decimals, char separator) {
    if (decimals > maxDecimals) decimals = maxDecimals;
    if (!std::isfinite(value)) return "0";
    // Round to 10 significant digits first, as the ladder's fixed format does.
    char scientific[64];
    std::snprintf(scientific, sizeof scientific, "%.9Le", value);
    long double rounded = std::strtold(scientific, nullptr);
    char text[128];
    std::snprintf(text, sizeof text, "%.*Lf", static_cast<int>(decimals), rounded);
    std::string result(text);
    if (result.size() > 1 && result[0] == '-' && result.find_first_not_of("0.", 1) == std::string::npos)
        result.erase(0, 1);  // no "-0.00"
    replaceDot(result, separator);
    return result;
}

std::string PriceText(std::uint32_t intPrice, std::uint32_t decimals, char separator) {
    if (decimals > maxDecimals) decimals = maxDecimals;
    long double value = static_cast<long double>(intPrice) / std::pow(10.0L, static_cast<long double>(decimals));
    return FormatFixed(value, decimals, separator);
}

std::string FormatGeneral(double value, char separator) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15G", value);
    std::string result(text);
    replaceDot(result, separator);
    return result;
}

std::optional<double> ReadPriceText(std::string_view text) {
    std::string number(text);
    if (auto comma = number.find(','); comma != std::string::npos) number[comma] = '.';
    std::size_t start = 0;
    while (start < number.size() && number[start] == ' ') ++start;
    // Only the plain decimal form: no hexadecimal, infinity or NaN spellings.
    bool digitSeen = false;
    for (std::size_t i = start; i < number.size(); ++i) {
        char c = number[i];
        if (std::isdigit(static_cast<unsigned char>(c))) digitSeen = true;
        else if (c != '.' && c != '+' && c != '-' && c != 'e' && c != 'E') return std::nullopt;
    }
    if (!digitSeen) return std::nullopt;
    const char* begin = number.c_str() + start;
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace velmora
