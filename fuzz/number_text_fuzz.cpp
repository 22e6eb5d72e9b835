#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ladder/price_text.h"
#include "settings/number_text.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (auto price = ReadPriceText(text); price && !std::isfinite(*price)) __builtin_trap();
    if (auto number = ParseInteger(text)) {
        // A number read back from its decimal form is the same number.
        if (ParseInteger(std::to_string(*number)) != number) __builtin_trap();
    }
    if (size >= 8) {
        std::uint32_t intPrice = data[0] | (data[1] << 8) | (data[2] << 16) | (std::uint32_t(data[3]) << 24);
        std::uint32_t decimals = data[4] % 19;
        std::string shown = PriceText(intPrice, decimals, data[5] & 1 ? ',' : '.');
        auto back = ReadPriceText(shown);
        if (!back) __builtin_trap();
        // A shown price typed back is the same ticks.
        if (PriceTicks(*back, decimals) != std::int64_t{intPrice}) __builtin_trap();
    }
    return 0;
}
