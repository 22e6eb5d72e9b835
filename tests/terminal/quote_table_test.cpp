#include "terminal/quote_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "settings/log.h"
#include "support/fakes.h"
#include "terminal/book_layout.h"
#include "terminal/log_lines.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

constexpr TerminalAddress headerAt = 0x1000;
constexpr TerminalAddress arrayAt = 0x2000;
constexpr TerminalAddress entriesAt = 0x3000;

// Fills the whole destination with a plausible entry, then reports failure, as a
// read torn by the terminal freeing the page may.
class TornReadHandle : public ProcessHandle {
public:
    TornReadHandle(FakeMemory& memory, TerminalAddress failing) : memory_(memory), failing_(failing) {}
    bool read(TerminalAddress address, void* destination, std::size_t count) override {
        if (address != failing_) return memory_.read(address, destination, count);
        std::uint32_t words[9] = {101, 0, 0, 0, 0, 0, 0, 7, 0};
        std::memcpy(destination, words, std::min(count, sizeof words));
        return false;
    }

private:
    FakeMemory& memory_;
    TerminalAddress failing_;
};

class QuoteTableTest : public ::testing::Test {
protected:
    FakeClock clock;
    FakeLocale locale;
    RecordingMessageSink sink;
    Log log{clock, locale, sink};
    FakeMemory memory;
    FakeProcessHandle handle{memory};
    BookLayout layout{memory};
    TQuoteTable table;

    QuoteTableTest() {
        table.RecordAddress = headerAt;
        table.TableAddress = arrayAt;
    }

    std::vector<std::uint32_t> prices() const {
        std::vector<std::uint32_t> result;
        for (const auto& row : table.rows) result.push_back(row.IntPrice);
        return result;
    }

    // Reads an accepted book first, so a rejected read has rows to keep.
    void acceptBook(const std::vector<Level>& levels) {
        layout.book(headerAt, arrayAt, entriesAt, levels);
        table.GetQuotes(&handle, log);
        ASSERT_EQ(table.Count(), static_cast<int>(levels.size()));
    }

    int codeOf(const Level& level, TQuoteRecord& row) {
        layout.entry(entriesAt, level);
        return row.GetQuote(&handle, entriesAt, log);
    }
};

TEST_F(QuoteTableTest, EntryCodesFollowTheirOverrideOrder) {
    TQuoteRecord row;
    EXPECT_EQ(codeOf({100, 3, 0, 4, 0}, row), 1);       // both sides quoted
    EXPECT_EQ(codeOf({100, 0, 0, 0, 0}, row), 2);       // no side quoted
    EXPECT_EQ(codeOf({0, 3, 0, 4, 0}, row), 3);         // zero price beats both sides
    EXPECT_EQ(codeOf({0, 0, 0, 5, 0}, row), 3);
    EXPECT_EQ(codeOf({0, 3, 1, 4, 1}, row), 4);         // own on both sides beats everything
    EXPECT_EQ(codeOf({100, 0, 2, 5, 1}, row), 4);
    EXPECT_EQ(row.IntPrice, 0u) << "a rejected entry fills no field";
    EXPECT_EQ(row.Quantity, 0u);
    EXPECT_EQ(row.RawQuote[0x20], 1) << "the raw copy is taken whatever the code";
}

TEST_F(QuoteTableTest, EntryBecomesABuyOrSellRow) {
    TQuoteRecord row;
    ASSERT_EQ(codeOf({100, 0, 0, 5, 2}, row), 0);
    EXPECT_EQ(row.Direction, 0);
    EXPECT_EQ(row.IntPrice, 100u);
    EXPECT_EQ(row.Quantity, 5u);
    EXPECT_EQ(row.SelfQuantity, 2u);
    EXPECT_EQ(row.Description(), "BUY  Quantity:5; IntPrice:100; SelfQuantity:2");

    ASSERT_EQ(codeOf({101, 7, 3, 0, 0}, row), 0);
    EXPECT_EQ(row.Direction, 1);
    EXPECT_EQ(row.Quantity, 7u);
    EXPECT_EQ(row.SelfQuantity, 3u);
    EXPECT_EQ(row.Description(), "SELL  Quantity:7; IntPrice:101; SelfQuantity:3");

    // A later bad entry leaves the row as it was.
    EXPECT_EQ(codeOf({0, 1, 0, 0, 0}, row), 3);
    EXPECT_EQ(row.IntPrice, 101u);
    EXPECT_EQ(row.Direction, 1);
}

TEST_F(QuoteTableTest, FailedEntryReadTrustsNothingItDelivered) {
    layout.entry(entriesAt, bid(100, 5));
    TornReadHandle torn(memory, entriesAt + BookLayout::entryStride);
    TQuoteRecord row;
    EXPECT_NE(row.GetQuote(&torn, entriesAt + BookLayout::entryStride, log), 0);
    EXPECT_EQ(row.IntPrice, 0u);
    EXPECT_TRUE(std::all_of(row.RawQuote.begin(), row.RawQuote.end(), [](auto b) { return b == 0; }));

    EXPECT_NE(row.GetQuote(nullptr, entriesAt, log), 0) << "no process handle reads nothing";
}

TEST_F(QuoteTableTest, ReadingEndsAtARepeatedOrZeroPointerAndWithinTheBuffer) {
    layout.entry(entriesAt, bid(100, 1));
    layout.entry(entriesAt + 0x40, bid(101, 1));
    layout.header(headerAt, 0, 0, arrayAt, 3);

    layout.pointers(arrayAt, {entriesAt, entriesAt, entriesAt + 0x40});
    EXPECT_TRUE(GetNewQuotes(&handle, table, log));
    EXPECT_EQ(prices(), (std::vector<std::uint32_t>{100}));

    layout.pointers(arrayAt, {entriesAt, 0, entriesAt + 0x40});
    EXPECT_TRUE(GetNewQuotes(&handle, table, log));
    EXPECT_EQ(prices(), (std::vector<std::uint32_t>{100}));

    // N bounds the reading even when more valid pointers follow.
    layout.header(headerAt, 0, 0, arrayAt, 1);
    layout.pointers(arrayAt, {entriesAt, entriesAt + 0x40});
    EXPECT_TRUE(GetNewQuotes(&handle, table, log));
    EXPECT_EQ(table.Count(), 1);

    std::vector<Level> levels;
    for (std::uint32_t i = 0; i < 200; ++i) levels.push_back(bid(100 + i, 1));
    layout.book(headerAt, arrayAt, entriesAt, levels);
    memory.readCount = 0;
    EXPECT_TRUE(GetNewQuotes(&handle, table, log));
    EXPECT_EQ(table.Count(), 124);
    EXPECT_EQ(memory.readCount, 2 + 124) << "header, array and one read per entry used";
}

TEST_F(QuoteTableTest, BookOrderRulesDecideAcceptance) {
    layout.book(headerAt, arrayAt, entriesAt, {bid(100, 1), bid(101, 2), ask(102, 3), ask(103, 4)});
    table.GetQuotes(&handle, log);
    ASSERT_EQ(prices(), (std::vector<std::uint32_t>{100, 101, 102, 103}));
    EXPECT_EQ(table.BestBid()->IntPrice, 101u);
    EXPECT_EQ(table.BestAsk()->IntPrice, 102u);
    EXPECT_EQ(table.SellCount(), 2);

    layout.book(headerAt, arrayAt, entriesAt, {bid(100, 1), ask(101, 1), bid(102, 1)});
    table.GetQuotes(&handle, log);
    EXPECT_EQ(prices(), (std::vector<std::uint32_t>{100, 101, 102, 103})) << "a bid after an ask is torn";

    layout.book(headerAt, arrayAt, entriesAt, {bid(100, 1), bid(99, 1)});
    table.GetQuotes(&handle, log);
    EXPECT_EQ(prices(), (std::vector<std::uint32_t>{100, 101, 102, 103})) << "falling prices are torn";

    layout.book(headerAt, arrayAt, entriesAt, {bid(100, 1), bid(100, 2)});
    table.GetQuotes(&handle, log);
    EXPECT_EQ(prices(), (std::vector<std::uint32_t>{100, 100}));

    layout.book(headerAt, arrayAt, entriesAt, {});
    table.GetQuotes(&handle, log);
    EXPECT_EQ(table.Count(), 2) << "an empty book keeps the last one";
}

TEST_F(QuoteTableTest, BadEntryEndsTheReadingButKeepsTheRowsBefore) {
    layout.book(headerAt, arrayAt, entriesAt, {bid(100, 1), {101, 0, 2, 5, 1}, ask(102, 1)});
    table.GetQuotes(&handle, log);
    EXPECT_EQ(prices(), (std::vector<std::uint32_t>{100}));

    auto entries = layout.book(headerAt, arrayAt, entriesAt, {bid(100, 1), bid(101, 1), ask(102, 1)});
    TornReadHandle torn(memory, entries[1]);
    table.GetQuotes(&torn, log);
    EXPECT_EQ(prices(), (std::vector<std::uint32_t>{100}));
}

TEST_F(QuoteTableTest, FailedHeaderOrArrayReadRejectsTheRead) {
    acceptBook({bid(100, 1), ask(101, 1)});

    table.GetQuotes(nullptr, log);
    EXPECT_EQ(prices(), (std::vector<std::uint32_t>{100, 101}));

    // A header whose words are themselves entry addresses: were the array read's
    // failure ignored, the header would be taken for the pointer array.
    layout.entry(entriesAt + 0x400, bid(50, 1));
    layout.header(headerAt, entriesAt + 0x400, 0, arrayAt, 1);
    memory.unmap(arrayAt);
    table.GetQuotes(&handle, log);
    EXPECT_EQ(prices(), (std::vector<std::uint32_t>{100, 101}));

    memory.unmap(headerAt);
    layout.pointers(arrayAt, {entriesAt});
    table.GetQuotes(&handle, log);
    EXPECT_EQ(prices(), (std::vector<std::uint32_t>{100, 101}));
}

TEST_F(QuoteTableTest, BestPricesPreferTheFirstOfEqualPrices) {
    EXPECT_EQ(table.BestBid(), nullptr);
    EXPECT_EQ(table.BestAsk(), nullptr);
    acceptBook({bid(100, 1), bid(101, 2), bid(101, 3), ask(102, 4), ask(102, 5)});
    EXPECT_EQ(table.BestBid()->Quantity, 2u);
    EXPECT_EQ(table.BestAsk()->Quantity, 4u);

    acceptBook({ask(102, 4), ask(103, 5)});
    EXPECT_EQ(table.BestBid(), nullptr);
    EXPECT_EQ(table.BestAsk()->IntPrice, 102u);
}

TEST_F(QuoteTableTest, DescriptionListsAddressesAndRows) {
    table.NextAddress = 0xABC;
    table.SecIndex = -1;
    acceptBook({bid(100, 5, 2), ask(101, 7)});
    EXPECT_EQ(table.Description(),
              "RecAddress:00001000; QuoteTable Address: 00002000; NextAddress: 00000ABC; SecIndex: FFFFFFFF\r\n"
              "Items :\r\n"
              " 0. BUY  Quantity:5; IntPrice:100; SelfQuantity:2\r\n"
              " 1. SELL  Quantity:7; IntPrice:101; SelfQuantity:0\r\n");
}

TEST_F(QuoteTableTest, ReadingIsLoggedByLevel) {
    TempFolder folder;
    log.LogPath = folder.file("Velmora.log");
    layout.book(headerAt, arrayAt, entriesAt, {bid(100, 5, 2)});

    log.LogThreshold = 4;
    table.GetQuotes(&handle, log);
    EXPECT_TRUE(logMessages(log.LogPath).empty());

    log.LogThreshold = 11;
    table.GetQuotes(&handle, log);
    auto lines = logMessages(log.LogPath);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "GetNewQuotes...");
    EXPECT_EQ(lines[1], "ReadMem RES:True");
    EXPECT_EQ(lines[2].substr(0, 43), "BUF[aQuoteTable.RecordAddress $00001000]:00");
    EXPECT_EQ(lines[2].size(), 41u + 2 * 496);
    EXPECT_EQ(lines[3], "QuotesCnt:1");
    EXPECT_EQ(lines[5].substr(0, 46), "BUF[aQuoteTable.TableAddress $00002000]:003000");
    EXPECT_EQ(lines[6], "TQuoteRecord.GetQuote...");
    EXPECT_EQ(lines[8], "BUF[aQuoteAddress $00003000]:64000000" + std::string(48, '0') + "05000000" +
                            "02000000");
    EXPECT_EQ(lines[9], "TQuoteRecord.GetQuote Result: 0");
    EXPECT_EQ(lines[10], "TQuoteRecord:BUY  Quantity:5; IntPrice:100; SelfQuantity:2");
}

}  // namespace
