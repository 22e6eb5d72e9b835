#include "settings/startup_values.h"

#include <iterator>

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
    for (std::size_t i = 0; i < std::size(hotkeyKeys); ++i)
        for (std::size_t j = i + 1; j < std::size(hotkeyKeys); ++j) {
            const std::int32_t code = s.*hotkeyKeys[i].field;
            if (code != 0 && code == s.*hotkeyKeys[j].field)
                fixes.push_back({"[HOTKEYS] " + std::string(hotkeyKeys[i].key) + " and " + hotkeyKeys[j].key +
                                     " are the same key " + std::to_string(code) + ": only one of them can answer it",
                                 "Одна клавиша у двух действий: " + std::string(hotkeyKeys[i].key) + " и " +
                                     hotkeyKeys[j].key,
                                 1});
        }
    return fixes;
}

}  // namespace velmora
