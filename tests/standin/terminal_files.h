#pragma once
// Small readers of what the stand-in terminal writes, shared by its tests.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/fakes.h"

namespace velmora::testing {

struct SecRecord {
    std::string ticker;  // whole bytes, zero bytes included
    std::int32_t step = 0;
    std::int32_t decimals = 0;
    std::string isin;
    std::string classCode;
    std::string baseContract;
    bool hasBase = false;
    std::string names;  // the two name strings, for byte checks
};

// Reads every record of a securities file; throws on anything out of bounds.
inline std::vector<SecRecord> parseSecFile(const std::string& bytes, int version) {
    std::size_t at = 32;
    auto word = [&]() {
        if (at + 4 > bytes.size()) throw std::runtime_error("cut short");
        std::uint32_t value;
        std::memcpy(&value, bytes.data() + at, 4);
        at += 4;
        return static_cast<std::int32_t>(value);
    };
    auto text = [&]() {
        auto length = static_cast<std::size_t>(word());
        if (at + length > bytes.size()) throw std::runtime_error("string past the end");
        std::string value = bytes.substr(at, length);
        at += length;
        return value;
    };
    auto skip = [&](std::size_t count) {
        if (at + count > bytes.size()) throw std::runtime_error("block past the end");
        at += count;
    };
    auto peekZero = [&]() {
        std::int32_t value = word();
        if (value != 0) at -= 4;
        return value == 0;
    };
    std::vector<SecRecord> records;
    while (bytes.size() >= 60 && at <= bytes.size() - 60) {
        SecRecord r;
        word();
        r.ticker = text();
        text();
        text();
        r.step = word();
        r.names = text();
        r.names += text();
        r.decimals = word();
        word();
        word();
        if (!peekZero()) {
            r.isin = text();
            if (version == 2) text();
            r.classCode = text();
            skip(32);
            text();
            text();
            skip(8);
        } else {
            peekZero();
            r.classCode = text();
            skip(32);
            text();
            text();
            skip(4);
            r.hasBase = !peekZero();
            if (r.hasBase) r.baseContract = text();
        }
        records.push_back(r);
    }
    if (at != bytes.size()) throw std::runtime_error("bytes left after the last record");
    return records;
}

inline std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string content = readFile(path);
    std::size_t start = 0;
    for (auto end = content.find("\r\n"); end != std::string::npos; end = content.find("\r\n", start)) {
        lines.push_back(content.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Waits until the file holds at least `count` CR LF ended lines (or the time is up).
inline std::vector<std::string> waitForLines(const std::string& path, std::size_t count,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(2)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto lines = fileLines(path);
        if (lines.size() >= count || std::chrono::steady_clock::now() >= deadline) return lines;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

inline void appendText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << text;
}

}  // namespace velmora::testing
