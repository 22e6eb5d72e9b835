#include <gtest/gtest.h>

#include "terminal/position_text.h"
#include "terminal/script_link.h"

namespace velmora {
namespace {

ScriptInstrument sber(double shares, double averagePrice) {
    ScriptInstrument instrument;
    instrument.securityKnown = true;
    instrument.security.Decimals = 2;
    instrument.lotSize = 10;
    instrument.position = LinkPosition{"TQBR", "SBER", false, shares, averagePrice, std::nullopt};
    instrument.bookKnown = true;
    instrument.book = LinkBook{"TQBR", "SBER", {{301.50, 40}}, {{301.60, 7}}};
    FillQuoteTable(*instrument.book, instrument.security, instrument.table);
    return instrument;
}

TEST(PositionTextTest, AStockPositionIsInLotsWithTheSharesInTheDetail) {
    // One lot of SBER: 10 shares at 301.26, closing at the best bid 301.50; in money a point per share.
    PositionLine line = PositionText(sber(10, 301.26), ',');
    EXPECT_EQ(line.text, "Позиция: 1 по 301,26, прибыль 0,24 пт = 2,40 руб.");
    EXPECT_EQ(line.detail, "10 акций, в лоте 10");

    // Short 3 lots, closing at the best offer 301.60.
    line = PositionText(sber(-30, 301.70), ',');
    EXPECT_EQ(line.text, "Позиция: -3 по 301,70, прибыль 0,30 пт = 3,00 руб.");
    EXPECT_EQ(line.detail, "-30 акций, в лоте 10");

    // A futures position is in contracts already.
    ScriptInstrument futures = sber(2, 301.26);
    futures.position->futures = true;
    EXPECT_EQ(PositionText(futures, ',').text, "Позиция: 2 по 301,26, прибыль 0,48 пт");
    EXPECT_EQ(PositionText(futures, ',').detail, "");

    // With the step price told: 0.24 a contract is 12 steps of 0.02, each worth 13.25, for two contracts.
    futures.security.IntPriceStep = 2;
    futures.stepPrice = 13.25;
    EXPECT_EQ(PositionText(futures, ',').text, "Позиция: 2 по 301,26, прибыль 0,48 пт = 318,00 руб.");
}

TEST(PositionTextTest, TheMarkIsAtTheAveragePriceInTicksAndItsSide) {
    ScriptInstrument held = sber(-30, 301.255);
    ASSERT_TRUE(PositionMarkOf(held));
    EXPECT_EQ(*PositionMarkOf(held), (PositionMark{30126, false}));
    held.position->position = 0;
    EXPECT_FALSE(PositionMarkOf(held));
}

}  // namespace
}  // namespace velmora
