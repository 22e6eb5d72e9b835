// Scan speed of the DOMBASE search over a large terminal memory: words that look like a
// heap (numbers, small counts, pointers into the memory) with one true chain planted in it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "platform/clock.h"
#include "platform/message_sink.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "terminal/dombase_scan.h"

namespace {

using velmora::TerminalAddress;

constexpr TerminalAddress memoryStart = 0x10000000;

class SilentMessages : public velmora::MessageSink {
public:
    void show(const std::string&) override {}
};

// One contiguous readable range in this process, addressed as the terminal's.
class HeapImage : public velmora::ProcessHandle {
public:
    explicit HeapImage(std::size_t size) : size_(size), bytes_(std::make_unique_for_overwrite<std::uint8_t[]>(size)) {
        std::uint64_t state = 42;
        auto next = [&state] {
            std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            return z ^ (z >> 31);
        };
        auto* words = reinterpret_cast<std::uint32_t*>(bytes_.get());
        for (std::size_t i = 0; i < size / 4; ++i) {
            std::uint64_t r = next();
            std::uint32_t high = static_cast<std::uint32_t>(r >> 32);
            switch (r & 3) {
            case 0:
            case 1: words[i] = high; break;
            case 2: words[i] = high % 20; break;
            default: words[i] = memoryStart + static_cast<std::uint32_t>(high % (size / 4)) * 4;
            }
        }
        plantChain(static_cast<TerminalAddress>(memoryStart + size / 2));
    }

    bool read(TerminalAddress address, void* destination, std::size_t count) override {
        if (address < memoryStart || address - memoryStart > size_ || count > size_ - (address - memoryStart))
            return false;
        std::memcpy(destination, bytes_.get() + (address - memoryStart), count);
        return true;
    }

    TerminalAddress head() const { return head_; }
    std::size_t size() const { return size_; }

private:
    void put(TerminalAddress address, std::uint32_t value) { std::memcpy(bytes_.get() + (address - memoryStart), &value, 4); }

    void plantChain(TerminalAddress at) {
        const int books = 10;
        for (int i = 0; i < books; ++i) {
            TerminalAddress header = at + 0x1000 + static_cast<TerminalAddress>(i) * 0x400;
            TerminalAddress array = at + 0x8000 + static_cast<TerminalAddress>(i) * 0x400;
            put(header, i + 1 < books ? header + 0x400 : 0);
            put(header + 4, static_cast<std::uint32_t>(i));
            put(header + 8, array);
            put(header + 12, 4);
            for (std::uint32_t level = 0; level < 4; ++level) {
                TerminalAddress entry = at + 0x10000 + static_cast<TerminalAddress>(i) * 0x200 + level * 36;
                put(array + 4 * level, entry);
                for (std::uint32_t word = 0; word < 9; ++word) put(entry + 4 * word, 0);
                put(entry, 1000 + level);
                put(entry + (level < 2 ? 0x1C : 0x0C), 5);
            }
            put(array + 16, 0);
        }
        head_ = at;
        put(head_, at + 0x1000);
    }

    std::size_t size_;
    std::unique_ptr<std::uint8_t[]> bytes_;
    TerminalAddress head_ = 0;
};

void ScanLargeMemory(benchmark::State& state) {
    static std::unique_ptr<HeapImage> image;
    const std::size_t size = static_cast<std::size_t>(state.range(0)) << 20;
    if (!image || image->size() != size) image = std::make_unique<HeapImage>(size);

    velmora::TSecShareList securities;
    for (int i = 0; i < 15; ++i) {
        auto record = std::make_unique<velmora::TSecShareRecord>();
        record->Ticker = "S" + std::to_string(i);
        securities.append(std::move(record));
    }
    auto clock = velmora::makeSystemClock();
    auto locale = velmora::makeSystemLocaleFormats();
    SilentMessages messages;
    velmora::Log log(*clock, *locale, messages);
    log.LogThreshold = -1;
    // The head's page plays the terminal's image; random words may point at the chain too.
    const std::uint64_t head = image->head();
    const std::vector<velmora::MemoryRegion> regions = {
        {memoryStart, head, ""}, {head, head + 0x1000, "info.exe"}, {head + 0x1000, memoryStart + size, ""}};

    for (auto _ : state) {
        auto result = velmora::ScanForDomBase(*image, regions, securities, "info.exe", log);
        if (result.candidates.empty() || result.candidates.front().base != image->head())
            state.SkipWithError("the planted chain did not rank first");
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}
BENCHMARK(ScanLargeMemory)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
