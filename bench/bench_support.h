#pragma once
// What the window-driving benchmarks share: a platform that offers no terminal of its own and
// no library, boxes printed instead of shown, and the percentile of a run.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_sink.h"
#include "platform/process_access.h"
#include "platform/trans_library.h"

namespace velmora::bench {

inline std::string readText(const std::string& path) {
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, count);
        std::fclose(file);
    }
    return text;
}

// A value of the link's request file ("key=value" lines).
inline std::string requestValue(const std::string& request, const std::string& key) {
    const std::size_t at = request.find("\r\n" + key + "=");
    if (at == std::string::npos) return {};
    const std::size_t start = at + key.size() + 3;
    return request.substr(start, request.find("\r\n", start) - start);
}

inline std::int64_t steadyNow() { return std::chrono::steady_clock::now().time_since_epoch().count(); }

struct NoProcesses : ProcessAccess {
    std::vector<ProcessEntry> listProcesses() override { return {}; }
    std::unique_ptr<ProcessHandle> open(std::uint32_t) override { return nullptr; }
};

struct NoLibrary : TransLibrary {
    bool available() const override { return false; }
    std::string loadError() const override { return {}; }
    std::int32_t connect(char*, std::int32_t*, char*, std::uint32_t) override { return 1; }
    std::int32_t disconnect(std::int32_t*, char*, std::uint32_t) override { return 1; }
    std::int32_t sendAsyncTransaction(char*, std::int32_t*, char*, std::uint32_t) override { return 1; }
};

struct CountedMessages : MessageSink {
    int shown = 0;
    void show(const std::string& text) override {
        ++shown;
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
};

// 0 for no values.
inline double percentile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

}  // namespace velmora::bench
