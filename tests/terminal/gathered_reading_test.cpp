// The book read in three reads against the reader it replaced, which read 496 bytes at the
// header and the array and each entry on its own: on the same memory of a live process
// they must give the same rows, the same answer and the same log lines at every level.
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
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
constexpr std::size_t holePage = 40;  // unmapped: reads that touch it fail
constexpr TerminalAddress headerAt = regionAt;
constexpr TerminalAddress arrayAt = regionAt + 0x200;
constexpr TerminalAddress entriesAt = regionAt + pageSize;
constexpr TerminalAddress holeAt = regionAt + holePage * pageSize;

std::uint32_t word(const std::uint8_t* bytes, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, bytes + offset, 4);
    return value;
}

std::string hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// The reader as it was, kept here to compare against.
bool readEntryByEntry(ProcessHandle* process, TQuoteTable& table, Log& log) {
    if (log.enabled(5)) log.LogMessage("GetNewQuotes...", 5);
    bool consistent = true, sellSeen = false, havePrevious = false;
    std::uint32_t previousPrice = 0;
    table.Clear();
    std::uint8_t buffer[496] = {};
    bool ok = process->read(table.RecordAddress, buffer, 496);
    if (log.enabled(11)) {
        log.LogMessage(ok ? "ReadMem RES:True" : "ReadMem RES:False", 11);
        log.LogMessage("BUF[aQuoteTable.RecordAddress $" + hex8(table.RecordAddress) + "]:" + BufferToHex(buffer, 496),
                       11);
    }
    if (!ok) return false;
    auto count = static_cast<std::int32_t>(word(buffer, 0x0C));
    if (log.enabled(5)) log.LogMessage("QuotesCnt:" + std::to_string(count), 5);
    ok = process->read(table.TableAddress, buffer, 496);
    if (log.enabled(11)) {
        log.LogMessage(ok ? "ReadMem RES:True" : "ReadMem RES:False", 11);
        log.LogMessage("BUF[aQuoteTable.TableAddress $" + hex8(table.TableAddress) + "]:" + BufferToHex(buffer, 496),
                       11);
    }
    if (!ok) return false;
    std::uint32_t previousPointer = 0;
    for (int i = 0; i < count && i < 124; ++i) {
        std::uint32_t pointer = word(buffer, static_cast<std::size_t>(i) * 4);
        if (pointer == 0 || (i > 0 && pointer == previousPointer)) break;
        previousPointer = pointer;
        TQuoteRecord row;
        if (row.GetQuote(process, pointer, log) != 0 || row.IntPrice == 0 || row.Quantity == 0) break;
        if (row.Direction == 1) sellSeen = true;
        else if (sellSeen) consistent = false;
        if (havePrevious && row.IntPrice < previousPrice) consistent = false;
        previousPrice = row.IntPrice;
        havePrevious = true;
        table.rows.push_back(row);
    }
    if (table.rows.empty()) consistent = false;
    return consistent;
}

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

    // The old reader, the new one with gathered reads, and the new one reading one by one agree.
    void expectSameAsBefore(const char* name, TerminalAddress header = headerAt, TerminalAddress array = arrayAt) {
        OneByOne oneByOne(*self);
        for (int threshold : {1, 5, 11}) {
            SCOPED_TRACE(std::string(name) + " at level " + std::to_string(threshold));
            Outcome before = run(readEntryByEntry, oneByOne, threshold, header, array);
            EXPECT_EQ(run(GetNewQuotes, *self, threshold, header, array), before);
            EXPECT_EQ(run(GetNewQuotes, oneByOne, threshold, header, array), before);
        }
    }
};

TEST_F(GatheredReadingTest, RowsAnswerAndLogLinesAreThoseOfTheEntryByEntryReader) {
    // Entries side by side are read as one block; 1.5 KiB apart they span more than 64 KiB.
    for (TerminalAddress stride : {TerminalAddress{36}, TerminalAddress{0x600}}) {
        clear();
        book(headerAt, arrayAt, 124, entries(124, stride), ladder(124));
        expectSameAsBefore("a full book");

        clear();
        auto pointers = entries(124, stride);
        pointers[60] = holeAt + 0x100;
        book(headerAt, arrayAt, 124, pointers, ladder(124));
        expectSameAsBefore("an unreadable entry in the middle");

        clear();
        pointers = entries(124, stride);
        pointers[0] = holeAt;
        book(headerAt, arrayAt, 124, pointers, ladder(124));
        expectSameAsBefore("the first entry unreadable");

        clear();
        book(headerAt, arrayAt, 200, entries(124, stride), ladder(124));
        expectSameAsBefore("more entries than the array holds");

        auto torn = ladder(10);
        std::swap(torn[2], torn[7]);
        clear();
        book(headerAt, arrayAt, 10, entries(10, stride), torn);
        expectSameAsBefore("a bid after an ask");

        torn = ladder(10);
        torn[4] = {5004, 3, 1, 4, 0};
        clear();
        book(headerAt, arrayAt, 10, entries(10, stride), torn);
        expectSameAsBefore("both sides quoted mid-book");

        torn = ladder(10);
        torn[5].ownSell = 1;
        torn[5].ownBuy = 1;
        clear();
        book(headerAt, arrayAt, 10, entries(10, stride), torn);
        expectSameAsBefore("own quantities on both sides");

        pointers = entries(10, stride);
        pointers[6] = pointers[5];
        clear();
        book(headerAt, arrayAt, 10, pointers, ladder(10));
        expectSameAsBefore("a repeated pointer");

        pointers = entries(10, stride);
        pointers[3] = 0;
        clear();
        book(headerAt, arrayAt, 10, pointers, ladder(10));
        expectSameAsBefore("a zero pointer");
    }
    for (std::int32_t count : {0, -3}) {
        clear();
        book(headerAt, arrayAt, count, entries(5, 36), ladder(5));
        expectSameAsBefore("no entries");
    }
    clear();
    book(headerAt, arrayAt, 5, entries(5, 36), ladder(5));
    expectSameAsBefore("an unreadable array", headerAt, holeAt);
    expectSameAsBefore("an unreadable header", holeAt, arrayAt);
}

TEST_F(GatheredReadingTest, HeaderAndArrayNearTheEndOfTheirMappingAreReadByTheirOwnSize) {
    // The old reader's 496 bytes run into the unmapped page; the book's own bytes do not.
    const TerminalAddress header = holeAt - 16;
    const TerminalAddress array = header - 4 * 6;
    clear();
    book(header, array, 6, entries(6, 36), ladder(6));
    OneByOne oneByOne(*self);
    for (int threshold : {1, 5, 11}) {
        SCOPED_TRACE(threshold);
        Outcome before = run(readEntryByEntry, oneByOne, threshold, header, array);
        EXPECT_FALSE(before.consistent);
        EXPECT_TRUE(before.rows.empty());
        Outcome now = run(GetNewQuotes, *self, threshold, header, array);
        EXPECT_TRUE(now.consistent);
        ASSERT_EQ(now.rows.size(), 6u);
        EXPECT_EQ(now.rows[0].substr(0, 46), "BUY  Quantity:10; IntPrice:5000; SelfQuantity:");
        EXPECT_EQ(run(GetNewQuotes, oneByOne, threshold, header, array), now);
    }
}

}  // namespace
