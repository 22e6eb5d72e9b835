#pragma once
#include <cstdint>
#include <string>

#include "core/session.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/process_access.h"
#include "platform/trans_library.h"

namespace velmora::quiet {

// Platform parts that do nothing, for fuzz targets and benchmarks that exercise the logic alone.
struct QuietClock : Clock {
    LocalDateTime now() override { return {}; }
};
struct QuietLocale : LocaleFormats {
    char decimalSeparator() const override { return '.'; }
    char timeSeparator() const override { return ':'; }
    std::string formatDateTime(const LocalDateTime&) const override { return "01.01.2026 00:00:00"; }
};
struct QuietMessages : MessageSink {
    void show(const std::string&) override {}
};
struct NoProcesses : ProcessAccess {
    std::vector<ProcessEntry> listProcesses() override { return {}; }
    std::unique_ptr<ProcessHandle> open(std::uint32_t) override { return nullptr; }
};
struct NoLibrary : TransLibrary {
    bool available() const override { return false; }
    std::string loadError() const override { return "none"; }
    std::int32_t connect(char*, std::int32_t*, char*, std::uint32_t) override { return 1; }
    std::int32_t disconnect(std::int32_t*, char*, std::uint32_t) override { return 1; }
    std::int32_t sendAsyncTransaction(char*, std::int32_t*, char*, std::uint32_t) override { return 1; }
};

struct QuietPlatform {
    QuietClock clock;
    QuietLocale locale;
    QuietMessages messages;
    NoProcesses processes;
    NoLibrary library;
    Platform platform() { return Platform{processes, clock, locale, messages, library}; }
};

}  // namespace velmora::quiet
