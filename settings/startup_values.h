#pragma once
#include <string>
#include <vector>

#include "settings/settings.h"

namespace velmora {

// A value of the ini that start-up replaced, and what to tell of it.
struct StartupValueFix {
    std::string logLine;
    std::string panelText;  // empty: the log says enough
    int logLevel = 1;       // 3 for a key the file lacks: its default was expected
};

// Puts values that would make the window unusable back to their defaults (a spread or a row
// count out of all reason), holds the default quantity to the order limit, and names hotkeys
// given to two actions.
std::vector<StartupValueFix> FixStartupValues(Settings& settings);

}  // namespace velmora
