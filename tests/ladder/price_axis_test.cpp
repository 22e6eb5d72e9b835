#include "ladder/price_axis.h"

#include <gtest/gtest.h>

#include "ladder/ladder_grid.h"
#include "ladder/ladder_refresh.h"
#include "secs/security_list.h"
#include "settings/log.h"
#include "support/fakes.h"
#include "terminal/quote_table.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

// The rows hold their prices while the book moves inside them, and while the pointer is over the
// ladder even when the market leaves them (the marker says where); re-centring waits for the
// pointer to leave.
TEST(PriceAxis, RowsStayPutUnderThePointerAndReCentreOnceItLeaves) {
    PriceAxis axis;
    axis.setShape(5, 11);
    axis.follow(100, 105, false);
    ASSERT_TRUE(axis.placed());
    EXPECT_EQ(axis.rowOf(105), 4);
    EXPECT_EQ(axis.rowOf(100), 5);
    EXPECT_EQ(axis.rowOf(102), std::nullopt);  // off the step's grid

    axis.follow(110, 115, false);  // inside: nothing moves
    EXPECT_EQ(axis.rowOf(100), 5);
    axis.follow(150, 155, true);  // gone above, pointer over: held
    EXPECT_EQ(axis.rowOf(100), 5);
    EXPECT_EQ(axis.away(), PriceAxis::Away::Above);
    axis.follow(10, 15, true);
    EXPECT_EQ(axis.away(), PriceAxis::Away::Below);
    axis.pointerLeft();
    EXPECT_EQ(axis.rowOf(10), 5);
    EXPECT_EQ(axis.away(), PriceAxis::Away::None);

    axis.scroll(2);
    EXPECT_EQ(axis.rowOf(10), 7);
    axis.follow(10, 15, false);  // still on the rows: the scroll stays
    EXPECT_EQ(axis.rowOf(10), 7);
    axis.center(10, 40);  // a wide spread: its middle in the middle row
    EXPECT_EQ(axis.rowOf(25), 5);
    axis.center(std::nullopt, 7);  // one side only
    EXPECT_EQ(axis.rowOf(7), 5);
    EXPECT_EQ(axis.priceOf(10), std::nullopt);  // below one tick
}

// Every row carries its price (an empty one too, for a click); a level's quantities and own
// quantities stand on the row of its price, a crossed price shows both sides; a book of 10 000
// levels a side is only looked at where the rows are.
TEST(PriceAxis, TheBookStandsOnTheRowsOfItsPrices) {
    FakeClock clock;
    FakeLocale locale;
    RecordingMessageSink sink;
    Log log(clock, locale, sink);
    TSecShareRecord security;
    security.IntPriceStep = 5;
    security.Decimals = 1;
    TQuoteTable table;
    const auto level = [&](Side side, std::uint32_t price, std::uint32_t quantity, std::uint32_t own = 0) {
        TQuoteRecord row;
        row.setSide(side);
        row.IntPrice = price;
        row.Quantity = quantity;
        row.SelfQuantity = own;
        table.rows.push_back(row);
    };
    for (std::uint32_t i = 0; i < 10000; ++i) level(Side::Buy, 1000 + i * 5, 1);
    table.rows.back().SelfQuantity = 2;                 // the best bid, 50995
    table.rows[table.rows.size() - 3].Quantity = 0;     // left as the terminal gave it
    level(Side::Sell, 51005, 3);
    for (std::uint32_t i = 1; i < 10000; ++i) level(Side::Sell, 51005 + i * 10, 4);
    PriceAxis axis;
    axis.setShape(5, 8);
    axis.follow(50995, 51005, false);
    LadderGrid grid(9);
    ShowQuoteTableOnAxis(grid, 9, table, security, axis, log);
    const auto row = [&](int r) {
        return grid.cell(r, LadderGrid::OwnSell) + "|" + grid.cell(r, LadderGrid::SellQuantity) + "|" +
               grid.cell(r, LadderGrid::PriceColumn) + "|" + grid.cell(r, LadderGrid::BuyQuantity) + "|" +
               grid.cell(r, LadderGrid::OwnBuy);
    };
    EXPECT_EQ(row(1), "||5102.0||");
    EXPECT_EQ(row(2), "|4|5101.5||");
    EXPECT_EQ(row(3), "||5101.0||");
    EXPECT_EQ(row(4), "|3|5100.5||");
    EXPECT_EQ(row(5), "||5100.0||");
    EXPECT_EQ(row(6), "||5099.5|1|2");
    EXPECT_EQ(row(7), "||5099.0|1|");
    EXPECT_EQ(row(8), "||5098.5|0|");
    EXPECT_EQ(grid.rowPrice(5), 51000);

    // A change off the rows writes nothing.
    grid.takeChangedCells();
    table.rows.back().Quantity = 5;
    axis.follow(50995, 51005, true);
    ShowQuoteTableOnAxis(grid, 9, table, security, axis, log);
    const std::vector<LadderGrid::CellRef> changed = grid.takeChangedCells();
    EXPECT_EQ(changed.size(), 0u);

    // Crossed (an auction): one price on both sides.
    table.Clear();
    level(Side::Buy, 51005, 7);
    level(Side::Sell, 51005, 8);
    ShowQuoteTableOnAxis(grid, 9, table, security, axis, log);
    EXPECT_EQ(row(4), "|8|5100.5|7|");
    EXPECT_EQ(row(6), "||5099.5||");
}

}  // namespace
