#include "ladder/ladder_refresh.h"

#include <gtest/gtest.h>

#include "support/book_parts.h"
#include "settings/program_error.h"
#include "ladder/price_text.h"
#include "secs/security_list.h"
#include "support/fake_platform.h"
#include "terminal/book_layout.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

constexpr TerminalAddress headerAt = 0x1000;
constexpr TerminalAddress arrayAt = 0x2000;
constexpr TerminalAddress entriesAt = 0x10000;

class ThrowingHandle : public ProcessHandle {
public:
    bool read(TerminalAddress, void*, std::size_t) override { throw ProgramError("read refused"); }
};

class LadderRefreshTest : public ::testing::Test, protected velmora::testing::FakePlatform {
protected:
    BookParts parts{platform()};
    BookLayout layout{processAccess.memory};
    TSecShareRecord security;

    LadderRefreshTest() {
        parts.terminal.attach(0, processAccess.open(1));
        parts.discovery.reset();
        auto table = std::make_unique<TQuoteTable>();
        table->RecordAddress = headerAt;
        table->TableAddress = arrayAt;
        parts.discovery.show(*table, security);
        parts.discovery.tables().push_back(std::move(table));
        parts.settings.DOMRowCount = 41;
    }

    // As the session's tick: the shown book read again and mapped onto the ladder.
    bool refreshDOM() {
        TQuoteTable* book = parts.books.shownBook();
        const TSecShareRecord* shown = parts.books.shownSecurity();
        if (!book || !shown) return false;
        const bool read = parts.books.readShownBook();
        ShowQuoteTable(parts.ladder, parts.settings.DOMRowCount, *book, *shown, parts.log);
        return read;
    }

    void refresh(const std::vector<Level>& levels) {
        layout.book(headerAt, arrayAt, entriesAt, levels);
        refreshDOM();
    }

    const std::string& cell(int row, int column) const { return parts.ladder.cell(row, column); }

    // The texts of columns 0..4 of a row, joined by "|".
    std::string row(int r) const {
        std::string text = cell(r, 0);
        for (int column = 1; column <= 4; ++column) text += "|" + cell(r, column);
        return text;
    }

    void expectEmptyRows(int from, int to) const {
        for (int r = from; r <= to; ++r) EXPECT_EQ(row(r), "||||") << "row " << r;
    }
};

TEST_F(LadderRefreshTest, SpreadSitsInTheMiddleOfFortyOneRows) {
    refresh({bid(98, 3), bid(99, 2), bid(100, 1), ask(101, 4), ask(102, 5)});
    EXPECT_EQ(row(19), "|5|102||");
    EXPECT_EQ(row(20), "|4|101||");
    EXPECT_EQ(row(21), "||100|1|");
    EXPECT_EQ(row(22), "||99|2|");
    EXPECT_EQ(row(23), "||98|3|");
    expectEmptyRows(1, 18);
    expectEmptyRows(24, 40);
}

TEST_F(LadderRefreshTest, FortyRowsShowTwentyAsksAndNineteenBids) {
    parts.settings.DOMRowCount = 40;
    std::vector<Level> levels;
    for (std::uint32_t i = 0; i < 30; ++i) levels.push_back(bid(100 + i, 1));
    for (std::uint32_t i = 0; i < 30; ++i) levels.push_back(ask(200 + i, 1));
    refresh(levels);
    EXPECT_EQ(parts.ladder.rowCount(), 40);
    EXPECT_EQ(cell(20, 2), "200");
    EXPECT_EQ(cell(1, 2), "219");
    EXPECT_EQ(cell(21, 2), "129");
    EXPECT_EQ(cell(39, 2), "111");
    for (int r = 1; r <= 20; ++r) EXPECT_EQ(cell(r, 3), "") << "row " << r;
    for (int r = 21; r <= 39; ++r) EXPECT_EQ(cell(r, 1), "") << "row " << r;
}

TEST_F(LadderRefreshTest, AsksOnlyKeepTheBestAskInItsRow) {
    refresh({ask(101, 4), ask(102, 5)});
    EXPECT_EQ(row(20), "|4|101||");
    EXPECT_EQ(row(19), "|5|102||");
    expectEmptyRows(21, 40);

    refresh({bid(100, 1)});
    EXPECT_EQ(row(21), "||100|1|");
    expectEmptyRows(1, 20);
}

TEST_F(LadderRefreshTest, OwnQuantitiesAppearAndVanish) {
    refresh({bid(100, 5, 2), ask(101, 4, 3)});
    EXPECT_EQ(row(20), "3|4|101||");
    EXPECT_EQ(row(21), "||100|5|2");
    refresh({bid(100, 5), ask(101, 4)});
    EXPECT_EQ(row(20), "|4|101||");
    EXPECT_EQ(row(21), "||100|5|");

    // A larger grid moves the boundary between ask and bid rows: row 21 turns
    // from a bid row into an ask row and must not keep the bid's own quantity.
    refresh({bid(100, 5, 2), ask(101, 4)});
    parts.settings.DOMRowCount = 43;
    refresh({bid(100, 5), ask(101, 4, 3)});
    EXPECT_EQ(row(21), "3|4|101||");
    EXPECT_EQ(row(22), "||100|5|");
}

TEST_F(LadderRefreshTest, IdenticalRefreshWritesNoCell) {
    refresh({bid(100, 5, 2), ask(101, 4)});
    EXPECT_FALSE(parts.ladder.takeChangedCells().empty());
    refreshDOM();
    EXPECT_TRUE(parts.ladder.takeChangedCells().empty());

    // The largest quantity stays, so no other bar changes.
    refresh({bid(100, 5, 2), ask(101, 3)});
    auto changed = parts.ladder.takeChangedCells();
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].row, 20);
    EXPECT_EQ(changed[0].column, LadderGrid::SellQuantity);
}

TEST_F(LadderRefreshTest, PriceTextUsesDecimalsAndTheSystemSeparator) {
    security.Decimals = 2;
    locale.decimal = ',';
    refresh({bid(12345, 1), ask(12350, 1)});
    EXPECT_EQ(cell(21, 2), "123,45");
    EXPECT_EQ(cell(20, 2), "123,50");
}

TEST_F(LadderRefreshTest, PriceColumnFollowsEveryPriceChangeAndOnlyThen) {
    const std::vector<std::vector<std::uint32_t>> books = {
        {1, 9, 10, 99, 100}, {2, 10, 11, 100, 1000}, {4294967291u, 4294967292u, 4294967293u, 4294967294u, 4294967295u},
        {1, 9, 10, 99, 100}};
    for (std::uint32_t decimals : {0u, 1u, 2u, 7u, 18u, 30u}) {
        for (char separator : {'.', ','}) {
            security.Decimals = decimals;
            locale.decimal = separator;
            for (const auto& prices : books) {
                std::vector<Level> levels;
                for (std::uint32_t price : prices) levels.push_back(bid(price, 1));
                refresh(levels);
                for (std::size_t i = 0; i < prices.size(); ++i)
                    EXPECT_EQ(cell(21 + static_cast<int>(i), 2), PriceText(prices[prices.size() - 1 - i], decimals, separator))
                        << decimals << " decimals";
                parts.ladder.takeChangedCells();
                refreshDOM();
                EXPECT_TRUE(parts.ladder.takeChangedCells().empty());
            }
        }
    }
}

TEST_F(LadderRefreshTest, RejectedOrFailedReadsRedrawTheLastBook) {
    TempFolder folder;
    parts.log.LogPath = folder.file("Velmora.log");
    parts.log.LogThreshold = 1;
    refresh({bid(100, 5), ask(101, 4)});
    parts.ladder.takeChangedCells();

    refresh({ask(101, 4), bid(100, 5)});  // torn: a bid after an ask
    parts.terminal.attach(0, std::make_unique<ThrowingHandle>());
    refreshDOM();
    EXPECT_EQ(row(20), "|4|101||");
    EXPECT_EQ(row(21), "||100|5|");
    EXPECT_TRUE(parts.ladder.takeChangedCells().empty());
    EXPECT_NE(readFile(parts.log.LogPath).find("QuoteTable.GetQuotes exception: read refused\r\n"),
              std::string::npos);
}

TEST_F(LadderRefreshTest, NothingWithoutAnInstrumentOrDataRows) {
    refresh({bid(100, 5), ask(101, 4)});
    parts.ladder.takeChangedCells();
    TQuoteTable& shown = *parts.discovery.table();
    parts.discovery.clearShown();
    processAccess.memory.readCount = 0;
    refresh({bid(90, 5), ask(91, 4)});
    EXPECT_EQ(processAccess.memory.readCount, 0);
    EXPECT_TRUE(parts.ladder.takeChangedCells().empty());

    parts.discovery.show(shown, security);
    parts.settings.DOMRowCount = 1;
    refresh({bid(90, 5), ask(91, 4)});
    EXPECT_EQ(parts.ladder.rowCount(), 1);
    EXPECT_TRUE(parts.ladder.takeChangedCells().empty());
    EXPECT_EQ(parts.discovery.table()->Count(), 2) << "the book is still read";
}

}  // namespace
