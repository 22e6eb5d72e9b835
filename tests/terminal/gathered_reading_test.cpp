// The book read in three reads (header, pointer array, all entries gathered) from the memory of
// a live process: the rows, the answer and the log lines each case must give, and the same
// again when every gathered read falls back to one read per entry.
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "settings/log.h"
#include "support/fakes.h"
#include "terminal/book_layout.h"
#include "terminal/log_lines.h"
#include "terminal/hex_text.h"
#include "terminal/quote_table.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

constexpr std::uintptr_t regionAt = 0x31000000;
constexpr std::size_t pageSize = 4096;
constexpr std::size_t regionPages = 64;
constexpr std::size_t holePage = 56;  // unmapped: reads that touch it fail; past the widest book
constexpr TerminalAddress headerAt = regionAt;
constexpr TerminalAddress arrayAt = regionAt + 0x200;
constexpr TerminalAddress entriesAt = regionAt + pageSize;
constexpr TerminalAddress holeAt = regionAt + holePage * pageSize;

// What a case must give: the answer, the rows kept, and how many entries were looked at (each
// logs four lines at level 5 and one more dump at level 11).
struct Expected {
    bool accepted;
    std::size_t rows;
    std::size_t entriesRead;
};

// Only the one-range read: every gathered read falls to the one-by-one default.
class OneByOne : public ProcessHandle {
public:
    explicit OneByOne(ProcessHandle& inner) : inner_(inner) {}
    bool read(TerminalAddress address, void* destination, std::size_t count) override {
        return inner_.read(address, destination, count);
    }

private:
    ProcessHandle& inner_;
};

struct Outcome {
    bool consistent = false;
    std::vector<std::string> rows;  // each row's fields and raw bytes
    std::vector<std::string> lines;

    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << (outcome.consistent ? "accepted" : "rejected") << ", " << outcome.rows.size() << " rows, "
         << outcome.lines.size() << " log lines";
}

class GatheredReadingTest : public ::testing::Test {
protected:
    FakeClock clock;
    FakeLocale locale;
    RecordingMessageSink sink;
    TempFolder folder;
    std::unique_ptr<ProcessAccess> access = makeSystemProcessAccess();
    std::unique_ptr<ProcessHandle> self = access->open(static_cast<std::uint32_t>(::getpid()));
    bool mapped = false;

    GatheredReadingTest() {
        void* at = ::mmap(reinterpret_cast<void*>(regionAt), regionPages * pageSize, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        mapped = at == reinterpret_cast<void*>(regionAt);
        if (mapped) ::munmap(reinterpret_cast<void*>(holeAt), pageSize);
    }
    ~GatheredReadingTest() override {
        if (mapped) ::munmap(reinterpret_cast<void*>(regionAt), regionPages * pageSize);
    }

    void SetUp() override {
        ASSERT_TRUE(mapped);
        ASSERT_TRUE(self);
    }

    static void put(TerminalAddress at, std::uint32_t value) { std::memcpy(reinterpret_cast<void*>(at), &value, 4); }
    static void clear() {
        std::memset(reinterpret_cast<void*>(regionAt), 0, holePage * pageSize);
        std::memset(reinterpret_cast<void*>(holeAt + pageSize), 0, (regionPages - holePage - 1) * pageSize);
    }
    // Writes the header's count, the pointers and the levels at the given entry addresses.
    static void book(TerminalAddress header, TerminalAddress array, std::int32_t count,
                     const std::vector<TerminalAddress>& pointers, const std::vector<Level>& levels) {
        put(header + 0x0C, static_cast<std::uint32_t>(count));
        for (std::size_t i = 0; i < pointers.size(); ++i) {
            put(array + 4 * static_cast<TerminalAddress>(i), pointers[i]);
            if (i >= levels.size() || pointers[i] == 0 || (pointers[i] >= holeAt && pointers[i] < holeAt + pageSize))
                continue;
            put(pointers[i] + 0x00, levels[i].price);
            put(pointers[i] + 0x0C, levels[i].sell);
            put(pointers[i] + 0x10, levels[i].ownSell);
            put(pointers[i] + 0x1C, levels[i].buy);
            put(pointers[i] + 0x20, levels[i].ownBuy);
        }
    }
    static std::vector<TerminalAddress> entries(std::size_t count, TerminalAddress stride) {
        std::vector<TerminalAddress> addresses;
        for (std::size_t i = 0; i < count; ++i) addresses.push_back(entriesAt + static_cast<TerminalAddress>(i) * stride);
        return addresses;
    }
    static std::vector<Level> ladder(std::size_t count) {
        std::vector<Level> levels;
        for (std::size_t i = 0; i < count; ++i) {
            auto price = static_cast<std::uint32_t>(5000 + i);
            levels.push_back(i < count / 2 ? bid(price, 10 + static_cast<std::uint32_t>(i), i % 7 == 0 ? 2 : 0)
                                           : ask(price, 20 + static_cast<std::uint32_t>(i)));
        }
        return levels;
    }

    Outcome run(const std::function<bool(ProcessHandle*, TQuoteTable&, Log&)>& reader, ProcessHandle& handle,
                int threshold, TerminalAddress header = headerAt, TerminalAddress array = arrayAt) {
        static int runs = 0;
        Log log{clock, locale, sink};
        log.LogPath = folder.file("run" + std::to_string(++runs) + ".log");
        log.LogThreshold = threshold;
        TQuoteTable table;
        table.RecordAddress = header;
        table.TableAddress = array;
        Outcome outcome;
        outcome.consistent = reader(&handle, table, log);
        for (const auto& row : table.rows)
            outcome.rows.push_back(row.Description() + " " + std::to_string(row.Direction) + " " +
                                   BufferToHex(row.RawQuote.data(), 36));
        outcome.lines = logMessages(log.LogPath);
        return outcome;
    }

    // The gathered reads give what the case must; reading one by one gives the very same.
    void expect(const char* name, Expected expected, TerminalAddress header = headerAt,
                TerminalAddress array = arrayAt) {
        OneByOne oneByOne(*self);
        const bool headerRead = header != holeAt;
        for (int threshold : {1, 5, 11}) {
            SCOPED_TRACE(std::string(name) + " at level " + std::to_string(threshold));
            const Outcome gathered = run(GetNewQuotes, *self, threshold, header, array);
            EXPECT_EQ(gathered.consistent, expected.accepted);
            EXPECT_EQ(gathered.rows.size(), expected.rows);
            std::size_t lines = 0;
            if (threshold >= 5) lines = headerRead ? 2 + 4 * expected.entriesRead : 1;
            // The header's and the array's dumps, two lines each, and one per entry.
            if (threshold >= 11) lines += headerRead ? 4 + expected.entriesRead : 2;
            EXPECT_EQ(gathered.lines.size(), lines);
            EXPECT_EQ(run(GetNewQuotes, oneByOne, threshold, header, array), gathered);
        }
    }
};

TEST_F(GatheredReadingTest, EachBookGivesItsRowsAnswerAndLogLinesReadGatheredOrOneByOne) {
    // Entries side by side are read as one block; 1.5 KiB apart they span more than 64 KiB.
    for (TerminalAddress stride : {TerminalAddress{36}, TerminalAddress{0x600}}) {
        clear();
        book(headerAt, arrayAt, 124, entries(124, stride), ladder(124));
        expect("a full book", {true, 124, 124});

        clear();
        auto pointers = entries(124, stride);
        pointers[60] = holeAt + 0x100;
        book(headerAt, arrayAt, 124, pointers, ladder(124));
        expect("an unreadable entry in the middle", {true, 60, 61});

        clear();
        pointers = entries(124, stride);
        pointers[0] = holeAt;
        book(headerAt, arrayAt, 124, pointers, ladder(124));
        expect("the first entry unreadable", {false, 0, 1});

        clear();
        book(headerAt, arrayAt, 200, entries(124, stride), ladder(124));
        expect("more entries than the array holds", {true, 124, 124});

        auto torn = ladder(10);
        std::swap(torn[2], torn[7]);
        clear();
        book(headerAt, arrayAt, 10, entries(10, stride), torn);
        expect("a bid after an ask", {false, 10, 10});

        torn = ladder(10);
        torn[4] = {5004, 3, 1, 4, 0};
        clear();
        book(headerAt, arrayAt, 10, entries(10, stride), torn);
        expect("both sides quoted mid-book", {true, 4, 5});

        torn = ladder(10);
        torn[5].ownSell = 1;
        torn[5].ownBuy = 1;
        clear();
        book(headerAt, arrayAt, 10, entries(10, stride), torn);
        expect("own quantities on both sides", {true, 5, 6});

        pointers = entries(10, stride);
        pointers[6] = pointers[5];
        clear();
        book(headerAt, arrayAt, 10, pointers, ladder(10));
        expect("a repeated pointer", {true, 6, 6});

        pointers = entries(10, stride);
        pointers[3] = 0;
        clear();
        book(headerAt, arrayAt, 10, pointers, ladder(10));
        expect("a zero pointer", {true, 3, 3});
    }
    for (std::int32_t count : {0, -3}) {
        clear();
        book(headerAt, arrayAt, count, entries(5, 36), ladder(5));
        expect("no entries", {false, 0, 0});
    }
    clear();
    book(headerAt, arrayAt, 5, entries(5, 36), ladder(5));
    expect("an unreadable array", {false, 0, 0}, headerAt, holeAt);
    expect("an unreadable header", {false, 0, 0}, holeAt, arrayAt);
}

TEST_F(GatheredReadingTest, HeaderAndArrayNearTheEndOfTheirMappingAreReadByTheirOwnSize) {
    // 496 bytes from either would run into the unmapped page; the book's own bytes do not.
    const TerminalAddress header = holeAt - 16;
    const TerminalAddress array = header - 4 * 6;
    clear();
    book(header, array, 6, entries(6, 36), ladder(6));
    expect("header and array by the hole", {true, 6, 6}, header, array);
    const Outcome read = run(GetNewQuotes, *self, 1, header, array);
    ASSERT_EQ(read.rows.size(), 6u);
    EXPECT_EQ(read.rows[0].substr(0, 46), "BUY  Quantity:10; IntPrice:5000; SelfQuantity:");
    EXPECT_EQ(read.rows[5].rfind("SELL  Quantity:25; IntPrice:5005; SelfQuantity:0 1 ", 0), 0u) << read.rows[5];
}

}  // namespace
