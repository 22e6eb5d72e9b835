#include "orders/order_entry.h"

#include "ladder_fixture.h"

namespace velmora::testing {
namespace {

using OrderEntryTest = LadderFixture;

TEST_F(OrderEntryTest, EditorOrdersUseTheTypedPriceAsItIs) {
    view.price = "1234,5";
    BuyAtEditorPrice(program, view);
    SellAtEditorPrice(program, view);
    for (std::string refused : {"1234.5 ", "", "12,34,5", "цена"}) {
        view.price = refused;
        BuyAtEditorPrice(program, view);
    }
    program.clearCurrent();
    view.price = "100";
    SellAtEditorPrice(program, view);
    EXPECT_EQ(sentTails(), (Tails{"QUANTITY=4; PRICE=1234.50; OPERATION=B; ", "QUANTITY=4; PRICE=1234.50; OPERATION=S; "}));
}

TEST_F(OrderEntryTest, MarketCommandsCrossOrImproveTheBestPrices) {
    program.settings.MarketSpread = 2;
    view.orderShift = 1;
    MarketBuy(program, view);
    MarketSell(program, view);
    MarketPlusBuy(program, view);
    MarketPlusSell(program, view);
    program.settings.MarketSpread = 0;
    MarketBuy(program, view);
    EXPECT_EQ(sentTails(), (Tails{"QUANTITY=4; PRICE=100.15; OPERATION=B; ", "QUANTITY=4; PRICE=99.90; OPERATION=S; ",
                                  "QUANTITY=4; PRICE=100.05; OPERATION=B; ", "QUANTITY=4; PRICE=100.00; OPERATION=S; ",
                                  "QUANTITY=4; PRICE=100.05; OPERATION=B; "}));
}

TEST_F(OrderEntryTest, MarketCommandsNeedingAnEmptySideSendNothing) {
    table->rows.resize(3);  // bids only
    MarketBuy(program, view);
    MarketPlusSell(program, view);
    EXPECT_TRUE(transLibrary.sent.empty());
    MarketSell(program, view);
    EXPECT_EQ(transLibrary.sent.size(), 1u);

    table->Clear();
    MarketSell(program, view);
    MarketPlusBuy(program, view);
    EXPECT_EQ(transLibrary.sent.size(), 1u);
}

TEST_F(OrderEntryTest, QuantityColumnsSendShiftedOrdersAndShiftAddsTheProtectiveStop) {
    click(LadderGrid::SellQuantity, 3);
    click(LadderGrid::SellQuantity, 3, true);
    click(LadderGrid::BuyQuantity, 2);
    click(LadderGrid::BuyQuantity, 2, true);
    EXPECT_EQ(sentTails(), (Tails{"QUANTITY=4; PRICE=100.10; OPERATION=B; ", "QUANTITY=4; PRICE=100.10; OPERATION=B; ",
                                  "QUANTITY=4; PRICE=99.95; OPERATION=S; ", "QUANTITY=4; PRICE=99.95; OPERATION=S; "}));
    const TStopOrders& stops = *program.StopOrders;
    ASSERT_EQ(stops.Count(), 2);
    EXPECT_EQ(stops.items[0]->Direction, 1);
    EXPECT_DOUBLE_EQ(stops.items[0]->Price, 99.95);
    EXPECT_EQ(stops.items[0]->Quantity, 4);
    EXPECT_EQ(stops.items[1]->Direction, 0);
    EXPECT_DOUBLE_EQ(stops.items[1]->Price, 100.10);
    EXPECT_TRUE(logged("added stop order 99.95; 4;1"));
    EXPECT_TRUE(logged("added stop order 100.1; 4; 0"));
}

TEST_F(OrderEntryTest, StopAndPriceColumnsAndTheInertClicks) {
    click(LadderGrid::Stop, 2, true);  // an offer row: buy stop
    click(LadderGrid::Stop, 4);        // a bid row: sell stop
    click(LadderGrid::PriceColumn, 4);
    EXPECT_EQ(view.price, "99.95");

    click(LadderGrid::PriceColumn, 0);  // header
    click(LadderGrid::SellQuantity, 0);
    click(LadderGrid::SellQuantity, 6);  // no price
    click(LadderGrid::OwnSell, 3, true);
    click(LadderGrid::OwnBuy, 3);
    click(LadderGrid::SellQuantity, 3, false, MouseButton::Right);
    click(LadderGrid::SellQuantity, 3, false, MouseButton::Other);
    click(LadderGrid::SellQuantity, 9);
    program.clearCurrent();
    click(LadderGrid::SellQuantity, 3);

    EXPECT_EQ(view.price, "99.95");
    EXPECT_TRUE(transLibrary.sent.empty());
    const TStopOrders& stops = *program.StopOrders;
    ASSERT_EQ(stops.Count(), 2);
    EXPECT_EQ(stops.items[0]->Direction, 0);
    EXPECT_DOUBLE_EQ(stops.items[0]->Price, 100.05);
    EXPECT_EQ(stops.items[1]->Direction, 1);
    EXPECT_DOUBLE_EQ(stops.items[1]->Price, 99.95);
}

TEST_F(OrderEntryTest, StopColumnShowsTotalsByRowRange) {
    program.ladder.setCell(3, LadderGrid::PriceColumn, "100,00");
    AddStopOrder(program, 0, 99.97, 1);
    AddStopOrder(program, 1, 99.98, 2);
    AddStopOrder(program, 1, 99.95, 5);
    AddStopOrder(program, 0, 100.20, 7);  // above the top row: shown nowhere
    AddStopOrder(program, 1, 99.90, 8);   // lowest price shown: no row below it
    ShowStopQuantities(program);
    EXPECT_EQ(stopCell(1), "");
    EXPECT_EQ(stopCell(3), "3");
    EXPECT_EQ(stopCell(4), "5");
    EXPECT_EQ(stopCell(5), "");

    ClearAllStops(program);
    program.clearCurrent();
    ShowStopQuantities(program);
    for (int r = 0; r < program.ladder.rowCount(); ++r) EXPECT_EQ(stopCell(r), "") << r;
}

TEST_F(OrderEntryTest, RightClickInTheStopColumnRemovesTheFirstStopOfTheRow) {
    AddStopOrder(program, 1, 99.98, 2);
    AddStopOrder(program, 1, 99.98, 3);
    AddStopOrder(program, 1, 99.90, 1);
    program.ladder.setCell(6, LadderGrid::PriceColumn, "99.85");
    ShowStopQuantities(program);
    program.ladder.setCell(6, LadderGrid::Stop, "1");  // as if a row had been there

    click(LadderGrid::Stop, 3, false, MouseButton::Right);
    click(LadderGrid::Stop, 6, false, MouseButton::Right);  // last row
    click(LadderGrid::Stop, 1, false, MouseButton::Right);  // empty stop cell
    const TStopOrders& stops = *program.StopOrders;
    ASSERT_EQ(stops.Count(), 2);
    EXPECT_EQ(stops.items[0]->Quantity, 3);
    EXPECT_EQ(stops.items[1]->Quantity, 1);
}

TEST_F(OrderEntryTest, PriceStepWritesDecimalsDigitsWithTheLocaleSeparator) {
    locale.decimal = ',';
    view.price = "100,00";
    PriceStep(program, view, true);
    EXPECT_EQ(view.price, "100,05");
    view.price = "0.03";
    PriceStep(program, view, false);
    PriceStep(program, view, false);
    EXPECT_EQ(view.price, "-0,07");
    view.price = "";
    PriceStep(program, view, true);
    EXPECT_EQ(view.price, "");
}

TEST_F(OrderEntryTest, SetStopPlacesOnlyOutsideTheSpread) {
    for (std::string price : {"99.95", "100,10", "100.00", "100.02", "100.05", "x"}) {
        view.price = price;
        SetStop(program, view);
    }
    const TStopOrders& stops = *program.StopOrders;
    ASSERT_EQ(stops.Count(), 2);
    EXPECT_EQ(stops.items[0]->Direction, 1);
    EXPECT_DOUBLE_EQ(stops.items[0]->Price, 99.95);
    EXPECT_EQ(stops.items[1]->Direction, 0);
    EXPECT_DOUBLE_EQ(stops.items[1]->Price, 100.10);

    table->rows.resize(3);
    view.price = "101";
    SetStop(program, view);
    EXPECT_EQ(stops.Count(), 2);
}

TEST_F(OrderEntryTest, KillAllNeedsAnInstrumentClearingStopsDoesNot) {
    ClearAllOrders(program);
    ASSERT_EQ(transLibrary.sent.size(), 1u);
    EXPECT_NE(transLibrary.sent[0].find("ACTION=KILL_ALL_FUTURES_ORDERS; "), std::string::npos);
    AddStopOrder(program, 1, 99.0, 1);
    program.clearCurrent();
    ClearAllOrders(program);
    ClearAllStops(program);
    EXPECT_EQ(transLibrary.sent.size(), 1u);
    EXPECT_EQ(program.StopOrders->Count(), 0);
}

}  // namespace
}  // namespace velmora::testing
