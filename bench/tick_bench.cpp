// The ladder refresh of one tick against the bare cost of its memory reads.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/program.h"
#include "ladder/ladder_refresh.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/trans_library.h"
#include "secs/security_list.h"

namespace {

using namespace velmora;

constexpr TerminalAddress headerAt = 0x1000;
constexpr TerminalAddress arrayAt = 0x1200;
constexpr TerminalAddress entriesAt = 0x1400;
constexpr std::size_t entrySize = 36;
constexpr int levels = 124;

// One flat block of terminal memory; a read is a bounds check and a memcpy.
class FlatMemory : public ProcessHandle {
public:
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(entriesAt + levels * entrySize);

    bool read(TerminalAddress address, void* destination, std::size_t count) override {
        if (address + count > bytes.size()) return false;
        std::memcpy(destination, bytes.data() + address, count);
        return true;
    }
    void word(TerminalAddress address, std::uint32_t value) { std::memcpy(bytes.data() + address, &value, 4); }

    // Half bids, half asks, ascending from 100000; `quantityBase` varies the volumes.
    void book(std::uint32_t quantityBase) {
        word(headerAt + 0x0C, levels);
        for (int i = 0; i < levels; ++i) {
            TerminalAddress entry = entriesAt + static_cast<TerminalAddress>(i * entrySize);
            word(arrayAt + 4 * static_cast<TerminalAddress>(i), entry);
            word(entry + 0x00, 100000 + static_cast<std::uint32_t>(i));
            bool buy = i < levels / 2;
            word(entry + 0x0C, buy ? 0 : quantityBase + static_cast<std::uint32_t>(i));
            word(entry + 0x1C, buy ? quantityBase + static_cast<std::uint32_t>(i) : 0);
        }
    }
};

struct QuietClock : Clock {
    LocalDateTime now() override { return {}; }
};
struct PointLocale : LocaleFormats {
    char decimalSeparator() const override { return '.'; }
    char timeSeparator() const override { return ':'; }
    std::string formatDateTime(const LocalDateTime&) const override { return {}; }
};
struct NoMessages : MessageSink {
    void show(const std::string&) override {}
};
struct NoLibrary : TransLibrary {
    bool available() const override { return false; }
    std::string loadError() const override { return {}; }
    std::int32_t connect(char*, std::int32_t*, char*, std::uint32_t) override { return 1; }
    std::int32_t disconnect(std::int32_t*, char*, std::uint32_t) override { return 1; }
    std::int32_t sendAsyncTransaction(char*, std::int32_t*, char*, std::uint32_t) override { return 1; }
};
struct NoProcesses : ProcessAccess {
    std::vector<ProcessEntry> listProcesses() override { return {}; }
    std::unique_ptr<ProcessHandle> open(std::uint32_t) override { return nullptr; }
};

struct TickFixture {
    NoProcesses processes;
    QuietClock clock;
    PointLocale locale;
    NoMessages messages;
    NoLibrary library;
    Program program{Platform{processes, clock, locale, messages, library}};
    TSecShareRecord security;
    FlatMemory* memory;

    TickFixture() {
        auto flat = std::make_unique<FlatMemory>();
        memory = flat.get();
        memory->book(10);
        program.TerminalProcess = std::move(flat);
        program.log.LogThreshold = 1;
        program.settings.DOMRowCount = 41;
        security.Decimals = 2;
        program.quoteTables = std::make_unique<TQuoteTables>();
        auto table = std::make_unique<TQuoteTable>();
        table->RecordAddress = headerAt;
        table->TableAddress = arrayAt;
        program.CurrentQuoteTable = table.get();
        program.quoteTables->push_back(std::move(table));
        program.CurrentSecurity = &security;
        RefreshDOM(program);
        program.ladder.takeChangedCells();
    }
};

// The usual tick: the book is read and checked, and no cell changes.
void BM_RefreshDOM_Unchanged(benchmark::State& state) {
    TickFixture fixture;
    for (auto _ : state) {
        RefreshDOM(fixture.program);
        benchmark::DoNotOptimize(fixture.program.ladder.cell(20, 2).data());
    }
}
BENCHMARK(BM_RefreshDOM_Unchanged);

// Every quantity on the ladder changes on every tick.
void BM_RefreshDOM_AllQuantitiesChange(benchmark::State& state) {
    TickFixture fixture;
    std::uint32_t base = 10;
    for (auto _ : state) {
        state.PauseTiming();
        base = base == 10 ? 1000 : 10;
        fixture.memory->book(base);
        fixture.program.ladder.takeChangedCells();
        state.ResumeTiming();
        RefreshDOM(fixture.program);
    }
}
BENCHMARK(BM_RefreshDOM_AllQuantitiesChange);

// The floor: the same reads of the same bytes, with nothing done with them.
void BM_ReadFloor(benchmark::State& state) {
    FlatMemory memory;
    memory.book(10);
    std::uint8_t header[496];
    std::uint8_t array[496];
    std::uint8_t entry[entrySize];
    for (auto _ : state) {
        memory.read(headerAt, header, sizeof header);
        memory.read(arrayAt, array, sizeof array);
        for (int i = 0; i < levels; ++i) {
            std::uint32_t pointer;
            std::memcpy(&pointer, array + 4 * i, 4);
            memory.read(pointer, entry, sizeof entry);
            benchmark::DoNotOptimize(entry);
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ReadFloor);

}  // namespace

BENCHMARK_MAIN();
