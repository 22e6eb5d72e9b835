#pragma once
#include <string>
#include <vector>

#include "support/fakes.h"

namespace velmora::testing {

// The messages of a log file, each without its time stamp.
inline std::vector<std::string> logMessages(const std::string& path) {
    // "08.12.2026 09:30:05" and " [7]   " from FakeClock and FakeLocale.
    constexpr std::size_t stampLength = 26;
    std::string text = readFile(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start + stampLength, end - start - stampLength));
    return lines;
}

}  // namespace velmora::testing
