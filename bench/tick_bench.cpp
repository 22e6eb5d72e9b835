// The ladder refresh of one tick against the bare cost of its memory reads.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "ladder/ladder_grid.h"
#include "ladder/ladder_refresh.h"
#include "ladder/price_axis.h"
#include "platform/clock.h"
#include "platform/process_access.h"
#include "platform/message_sink.h"
#include "platform/trans_library.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "settings/settings.h"
#include "terminal/memory_book_source.h"
#include "terminal/quote_discovery.h"
#include "terminal/terminal_link.h"
#include "tests/support/quiet_platform.h"

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

// The components of a session's tick over the terminal's memory.
struct TickFixture : BookSourceEvents {
    quiet::QuietPlatform platform;
    Log log{platform.clock, platform.locale, platform.messages};
    Settings settings;
    TerminalLink terminal;
    QuoteDiscovery discovery;
    LadderGrid ladder;
    std::unique_ptr<TSecShareList> securities;
    MemoryBookSource books{settings, log, platform.processes, terminal, discovery, securities, *this};
    TSecShareRecord security;
    FlatMemory* memory;
    LadderMode mode;
    PriceAxis axis;

    explicit TickFixture(LadderMode ladderMode = LadderMode::Levels) : mode(ladderMode) {
        auto flat = std::make_unique<FlatMemory>();
        memory = flat.get();
        memory->book(10);
        terminal.attach(0, std::move(flat));
        log.LogThreshold = 1;
        settings.DOMRowCount = 41;
        security.Decimals = 2;
        security.IntPriceStep = 1;
        auto table = std::make_unique<TQuoteTable>();
        table->RecordAddress = headerAt;
        table->TableAddress = arrayAt;
        discovery.show(*table, security);
        discovery.tables().push_back(std::move(table));
        RefreshDOM();
        ladder.takeChangedCells();
    }

    // As the session's tick: the shown book read and mapped onto the ladder.
    void RefreshDOM() {
        books.readShownBook();
        const TQuoteTable& table = *discovery.table();
        if (mode == LadderMode::Levels) return ShowQuoteTable(ladder, settings.DOMRowCount, table, security, log);
        axis.setShape(security.IntPriceStep, settings.DOMRowCount - 1);
        const TQuoteRecord* bid = table.BestBid();
        const TQuoteRecord* ask = table.BestAsk();
        axis.follow(bid ? std::optional<std::int64_t>(bid->IntPrice) : std::nullopt,
                    ask ? std::optional<std::int64_t>(ask->IntPrice) : std::nullopt, false);
        ShowQuoteTableOnAxis(ladder, settings.DOMRowCount, table, security, axis, log);
    }
    void terminalProcessLost() override {}
    void terminalTakenAgain() override {}
};

// The usual tick: the book is read and checked, and no cell changes. Argument: 0 the ladder of
// levels, 1 the ladder of prices.
void BM_RefreshDOM_Unchanged(benchmark::State& state) {
    TickFixture fixture(state.range(0) == 0 ? LadderMode::Levels : LadderMode::Prices);
    for (auto _ : state) {
        fixture.RefreshDOM();
        benchmark::DoNotOptimize(fixture.ladder.cell(20, 2).data());
    }
}
BENCHMARK(BM_RefreshDOM_Unchanged)->Arg(0)->Arg(1);

// Every quantity on the ladder changes on every tick.
void BM_RefreshDOM_AllQuantitiesChange(benchmark::State& state) {
    TickFixture fixture(state.range(0) == 0 ? LadderMode::Levels : LadderMode::Prices);
    std::uint32_t base = 10;
    for (auto _ : state) {
        state.PauseTiming();
        base = base == 10 ? 1000 : 10;
        fixture.memory->book(base);
        fixture.ladder.takeChangedCells();
        state.ResumeTiming();
        fixture.RefreshDOM();
    }
}
BENCHMARK(BM_RefreshDOM_AllQuantitiesChange)->Arg(0)->Arg(1);

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

// The same book in another process, read through the system's process access: what a
// tick really costs. The child holds the bytes at a low fixed address, as the terminal would.
class LiveBook {
public:
    static constexpr TerminalAddress origin = 0x30000000;

    // `entryStride` above 36 spreads the entries, each moved to its own slot of that size.
    explicit LiveBook(std::size_t entryStride = entrySize) {
        FlatMemory flat;
        flat.book(10);
        if (entryStride != entrySize) {
            std::vector<std::uint8_t> packed(flat.bytes.begin() + entriesAt, flat.bytes.end());
            flat.bytes.resize(entriesAt + levels * entryStride);
            for (int i = 0; i < levels; ++i) {
                std::memcpy(flat.bytes.data() + entriesAt + i * entryStride, packed.data() + i * entrySize, entrySize);
                flat.word(arrayAt + 4 * static_cast<TerminalAddress>(i),
                          entriesAt + static_cast<TerminalAddress>(i * entryStride));
            }
        }
        // Shift every address of the flat image to where the child keeps it.
        for (int i = 0; i < levels; ++i) {
            std::uint32_t pointer;
            std::memcpy(&pointer, flat.bytes.data() + arrayAt + 4 * i, 4);
            flat.word(arrayAt + 4 * static_cast<TerminalAddress>(i), pointer + origin);
        }
        int ready[2];
        if (pipe(ready) != 0) std::abort();
        child_ = fork();
        if (child_ == 0) {
            void* at = mmap(reinterpret_cast<void*>(std::uintptr_t{origin}), flat.bytes.size(), PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
            if (at == MAP_FAILED) _exit(1);
            std::memcpy(at, flat.bytes.data(), flat.bytes.size());
            prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
            char go = 1;
            if (write(ready[1], &go, 1) != 1) _exit(1);
            pause();
            _exit(0);
        }
        char go = 0;
        if (read(ready[0], &go, 1) != 1) std::abort();
        close(ready[0]);
        close(ready[1]);
        access_ = makeSystemProcessAccess();
        handle = access_->open(static_cast<std::uint32_t>(child_));
        if (!handle) std::abort();
    }
    ~LiveBook() {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }

    std::unique_ptr<ProcessHandle> handle;

private:
    pid_t child_ = -1;
    std::unique_ptr<ProcessAccess> access_;
};

// state.range(0): bytes from one entry to the next; 36 packs the book into 4.5 KB, 4096 spreads
// it over half a megabyte, beyond one block read.
void BM_RefreshDOM_LiveProcess(benchmark::State& state) {
    LiveBook live(static_cast<std::size_t>(state.range(0)));
    TickFixture fixture;
    fixture.terminal.attach(0, std::move(live.handle));
    fixture.discovery.table()->RecordAddress = LiveBook::origin + headerAt;
    fixture.discovery.table()->TableAddress = LiveBook::origin + arrayAt;
    fixture.RefreshDOM();
    if (fixture.discovery.table()->Count() != levels) state.SkipWithError("the live book was not read");
    for (auto _ : state) fixture.RefreshDOM();
}
BENCHMARK(BM_RefreshDOM_LiveProcess)->Arg(entrySize)->Arg(4096);

// The floor for a live process: the same bytes in one system call.
void BM_ReadFloor_LiveProcessOneCall(benchmark::State& state) {
    LiveBook live;
    std::vector<std::uint8_t> bytes(entriesAt + levels * entrySize - headerAt);
    for (auto _ : state) {
        if (!live.handle->read(LiveBook::origin + headerAt, bytes.data(), bytes.size())) state.SkipWithError("read failed");
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ReadFloor_LiveProcessOneCall);

// What every tick adds to notice a terminal that has ended: one question to the live process.
void BM_TerminalExitedCheck_LiveProcess(benchmark::State& state) {
    LiveBook live;
    for (auto _ : state)
        if (live.handle->exited()) state.SkipWithError("the live process counts as ended");
}
BENCHMARK(BM_TerminalExitedCheck_LiveProcess);

}  // namespace

BENCHMARK_MAIN();
