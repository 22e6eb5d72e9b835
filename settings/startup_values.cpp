#include "settings/startup_values.h"

#include <utility>

namespace velmora {

namespace {

constexpr std::int32_t defaultRowCount = 41;
constexpr std::int32_t defaultRowHeight = 15;
constexpr std::int32_t longestLadder = 1000;
constexpr std::int32_t widestMarketSpread = 1000;

void replace(std::vector<StartupValueFix>& fixes, const char* section, const char* key, std::int32_t& field,
             std::int32_t fallback, const char* range, bool absent = false) {
    if (absent)
        fixes.push_back({"[" + std::string(section) + "] " + key + " missing: " + std::to_string(fallback) + " used",
                         {}, 3});
    else
        fixes.push_back({"[" + std::string(section) + "] " + key + "=" + std::to_string(field) + " is outside " +
                             range + ": " + std::to_string(fallback) + " used",
                         {}, 1});
    field = fallback;
}

}  // namespace

std::vector<StartupValueFix> FixStartupValues(Settings& s) {
    std::vector<StartupValueFix> fixes;
    if (s.MarketSpread < 0 || s.MarketSpread > widestMarketSpread)
        replace(fixes, "COMMON", "MarketSpread", s.MarketSpread, Settings{}.MarketSpread, "0..1000");
    if (s.DOMRowCount <= 0 || s.DOMRowCount > longestLadder)
        replace(fixes, "POSITION", "DOMRowCount", s.DOMRowCount, defaultRowCount, "1..1000",
                s.positionKeyAbsent("DOMRowCount"));
    if (s.DOMRowHeight <= 0)
        replace(fixes, "POSITION", "DOMRowHeight", s.DOMRowHeight, defaultRowHeight, "1 and above",
                s.positionKeyAbsent("DOMRowHeight"));
    if (s.MaxOrderQuantity > 0 && s.DefaultContractCnt > s.MaxOrderQuantity) {
        const std::string both = "DefaultContractCnt=" + std::to_string(s.DefaultContractCnt) +
                                 " больше MaxOrderQuantity=" + std::to_string(s.MaxOrderQuantity);
        fixes.push_back({"[DEFAULT] DefaultContractCnt=" + std::to_string(s.DefaultContractCnt) +
                             " is above MaxOrderQuantity=" + std::to_string(s.MaxOrderQuantity) + ": " +
                             std::to_string(s.MaxOrderQuantity) + " used",
                         both + ": взято " + std::to_string(s.MaxOrderQuantity), 1});
        s.DefaultContractCnt = s.MaxOrderQuantity;
    }
    const std::pair<const char*, std::int32_t> hotkeys[] = {
        {"MARKETBUY", s.MARKETBUY},         {"MARKETSELL", s.MARKETSELL}, {"MARKETPLUSBUY", s.MARKETPLUSBUY},
        {"MARKETPLUSSELL", s.MARKETPLUSSELL}, {"CLEARALL", s.CLEARALL},     {"CLEARALLSTOPS", s.CLEARALLSTOPS}};
    for (std::size_t i = 0; i < std::size(hotkeys); ++i)
        for (std::size_t j = i + 1; j < std::size(hotkeys); ++j)
            if (hotkeys[i].second != 0 && hotkeys[i].second == hotkeys[j].second)
                fixes.push_back({"[HOTKEYS] " + std::string(hotkeys[i].first) + " and " + hotkeys[j].first +
                                     " are the same key " + std::to_string(hotkeys[i].second) +
                                     ": only one of them can answer it",
                                 "Одна клавиша у двух действий: " + std::string(hotkeys[i].first) + " и " +
                                     hotkeys[j].first,
                                 1});
    return fixes;
}

}  // namespace velmora
