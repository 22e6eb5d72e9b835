#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/message_sink.h"
#include "secs/sec_file_reader.h"
#include "settings/log.h"

using namespace velmora;

namespace {

class NoClock : public Clock {
public:
    LocalDateTime now() override { return {}; }
};

class NoLocale : public LocaleFormats {
public:
    char decimalSeparator() const override { return '.'; }
    char timeSeparator() const override { return ':'; }
    std::string formatDateTime(const LocalDateTime&) const override { return {}; }
};

class NoMessages : public MessageSink {
public:
    void show(const std::string&) override {}
};

class FileBytes {
public:
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(32, 0);

    void int32(std::int32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> shift));
    }
    void string(const std::string& text) {
        int32(static_cast<std::int32_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
    void raw(std::size_t count) { bytes.insert(bytes.end(), count, 0x5A); }
};

// A file the size of a large terminal's: half long tails, half short tails.
std::vector<std::uint8_t> makeFile(int records) {
    FileBytes file;
    for (int i = 0; i < records; ++i) {
        std::string ticker = "TICK" + std::to_string(i);
        file.int32(i);
        file.string(ticker);
        file.string("\xD0\xE5\xE3\xE8\xF1\xF2\xF0\xE0\xF6\xE8\xFF " + ticker);
        file.string("");
        file.int32(10);
        file.string("extra one");
        file.string("extra two");
        file.int32(2);
        file.int32(0);
        file.int32(1);
        if (i % 2 == 0) {
            file.string("RU000A0JX0J2");
            file.string("tmp");
            file.string("TQBR");
            file.raw(32);
            file.string("smn");
            file.string("z2");
            file.raw(8);
        } else {
            file.int32(0);
            file.string("SPBFUT");
            file.raw(32);
            file.string("smn");
            file.string("z2");
            file.raw(4);
            file.string("RTS");
        }
    }
    return file.bytes;
}

void ReadFiftyThousandSecurities(benchmark::State& state) {
    const int records = 50000;
    std::vector<std::uint8_t> bytes = makeFile(records);
    NoClock clock;
    NoLocale locale;
    NoMessages messages;
    Log log(clock, locale, messages);
    log.LogThreshold = 1;
    for (auto _ : state) {
        SecFileStream stream{bytes.data(), bytes.size(), 0};
        auto list = FStreamReadSecShareList(stream, 2, log);
        if (!list || list->Count() != records) state.SkipWithError("records lost");
        benchmark::DoNotOptimize(list);
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(ReadFiftyThousandSecurities)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
