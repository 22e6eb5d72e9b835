#include "orders/order_entry.h"

#include "ladder_fixture.h"

namespace velmora::testing {
namespace {

class OrderEntryTest : public LadderFixture {
protected:
    void click(int column, int row, bool shift = false, MouseButton button = MouseButton::Left) {
        LadderMouseDown(program, view, button, shift, column, row);
    }
    std::string stopCell(int row) const { return program.ladder.cell(row, LadderGrid::Stop); }
};

TEST_F(OrderEntryTest, EditorOrdersTakeTheTypedPriceOrNothing) {
    view.price = "1234,5";
    BuyAtEditorPrice(program, view);
    SellAtEditorPrice(program, view);
    for (std::string refused : {"1234.5 ", "", "12,34,5"}) {
        view.price = refused;
        BuyAtEditorPrice(program, view);
    }
    program.clearCurrent();
    view.price = "100";
    SellAtEditorPrice(program, view);
    EXPECT_EQ(sentTails(), (Texts{"QUANTITY=4; PRICE=1234.50; OPERATION=B; ", "QUANTITY=4; PRICE=1234.50; OPERATION=S; "}));
}

TEST_F(OrderEntryTest, MarketCommandsMoveFromTheBestPricesAndNeedTheirSide) {
    program.settings.MarketSpread = 2;
    view.orderShift = 1;
    MarketBuy(program, view);
    MarketSell(program, view);
    MarketPlusBuy(program, view);
    MarketPlusSell(program, view);
    program.settings.MarketSpread = 0;
    MarketBuy(program, view);
    setBook({10000}, {});
    MarketBuy(program, view);
    MarketPlusSell(program, view);
    EXPECT_EQ(sentTails(), (Texts{"QUANTITY=4; PRICE=100.15; OPERATION=B; ", "QUANTITY=4; PRICE=99.90; OPERATION=S; ",
                                  "QUANTITY=4; PRICE=100.05; OPERATION=B; ", "QUANTITY=4; PRICE=100.00; OPERATION=S; ",
                                  "QUANTITY=4; PRICE=100.05; OPERATION=B; "}));
}

TEST_F(OrderEntryTest, QuantityColumnsSendShiftedOrdersAndShiftAddsTheProtectiveStop) {
    click(LadderGrid::SellQuantity, 3);
    click(LadderGrid::SellQuantity, 3, true);
    click(LadderGrid::BuyQuantity, 2, true);
    EXPECT_EQ(sentTails(), (Texts{"QUANTITY=4; PRICE=100.10; OPERATION=B; ", "QUANTITY=4; PRICE=100.10; OPERATION=B; ",
                                  "QUANTITY=4; PRICE=99.95; OPERATION=S; "}));
    EXPECT_EQ(stops(), (Texts{"1@99.95 x4", "0@100.1 x4"}));
    EXPECT_TRUE(logged("added stop order 99.95; 4;1"));
    EXPECT_TRUE(logged("added stop order 100.1; 4; 0"));
}

TEST_F(OrderEntryTest, StopAndPriceColumnsAndTheClicksThatDoNothing) {
    click(LadderGrid::Stop, 2, true);  // an offer row: buy stop
    click(LadderGrid::Stop, 4);        // a bid row: sell stop
    click(LadderGrid::PriceColumn, 4);
    click(LadderGrid::PriceColumn, 0);  // header
    click(LadderGrid::SellQuantity, 6);  // no price
    click(LadderGrid::OwnSell, 3, true);
    click(LadderGrid::OwnBuy, 3);
    click(LadderGrid::SellQuantity, 3, false, MouseButton::Other);
    click(LadderGrid::SellQuantity, 9);
    program.clearCurrent();
    click(LadderGrid::SellQuantity, 3);
    EXPECT_EQ(view.price, "99.95");
    EXPECT_TRUE(transLibrary.sent.empty());
    EXPECT_EQ(stops(), (Texts{"0@100.05 x4", "1@99.95 x4"}));
}

TEST_F(OrderEntryTest, StopColumnShowsTotalsOfEachRowsRange) {
    program.ladder.setCell(3, LadderGrid::PriceColumn, "100,00");
    for (double price : {99.97, 99.98, 99.95, 100.20, 99.90}) AddStopOrder(program, 1, price, price > 99.96 ? 1 : 5);
    ShowStopQuantities(program);
    EXPECT_EQ(stopCell(1), "");   // 100.20 is above the top row
    EXPECT_EQ(stopCell(3), "2");  // (99.95, 100.00]
    EXPECT_EQ(stopCell(4), "5");
    EXPECT_EQ(stopCell(5), "");  // no priced row below

    ClearAllStops(program);
    ShowStopQuantities(program);
    for (int r = 0; r < program.ladder.rowCount(); ++r) EXPECT_EQ(stopCell(r), "") << r;
}

TEST_F(OrderEntryTest, RightClickInTheStopColumnRemovesTheFirstStopOfTheRow) {
    AddStopOrder(program, 1, 99.98, 2);
    AddStopOrder(program, 1, 99.98, 3);
    AddStopOrder(program, 1, 99.90, 1);
    program.ladder.setCell(6, LadderGrid::PriceColumn, "99.85");
    ShowStopQuantities(program);
    program.ladder.setCell(6, LadderGrid::Stop, "1");
    click(LadderGrid::Stop, 3, false, MouseButton::Right);
    click(LadderGrid::Stop, 6, false, MouseButton::Right);  // last row
    click(LadderGrid::Stop, 1, false, MouseButton::Right);  // empty stop cell
    EXPECT_EQ(stops(), (Texts{"1@99.98 x3", "1@99.9 x1"}));
}

TEST_F(OrderEntryTest, PriceStepAndSetStop) {
    locale.decimal = ',';
    view.price = "0.03";
    PriceStep(program, view, false);
    PriceStep(program, view, false);
    EXPECT_EQ(view.price, "-0,07");
    view.price = "";
    PriceStep(program, view, true);
    EXPECT_EQ(view.price, "");

    for (std::string price : {"99.95", "100,10", "100.00", "100.02", "100.05", "x"}) {
        view.price = price;
        SetStop(program, view);
    }
    setBook({10000}, {});
    view.price = "101";
    SetStop(program, view);
    EXPECT_EQ(stops(), (Texts{"1@99.95 x4", "0@100.1 x4"}));
}

TEST_F(OrderEntryTest, KillAllNeedsAnInstrumentClearingStopsDoesNot) {
    ClearAllOrders(program, view);
    AddStopOrder(program, 1, 99.0, 1);
    program.clearCurrent();
    ClearAllOrders(program, view);
    ClearAllStops(program);
    ASSERT_EQ(transLibrary.sent.size(), 1u);
    EXPECT_NE(transLibrary.sent[0].find("ACTION=KILL_ALL_FUTURES_ORDERS; "), std::string::npos);
    EXPECT_EQ(program.StopOrders->Count(), 0);
}

TEST_F(OrderEntryTest, MaxOrderQuantityRefusesOrdersAndStopsAboveItWithOneBoxEach) {
    program.settings.MaxOrderQuantity = 4;
    view.price = "100";
    BuyAtEditorPrice(program, view);  // at the limit
    view.contracts = 5;
    BuyAtEditorPrice(program, view);
    click(LadderGrid::SellQuantity, 3, true);  // order and its stop: one refusal
    AddStopOrder(program, 1, 99.0, 5);
    EXPECT_EQ(sentTails(), (Texts{"QUANTITY=4; PRICE=100.00; OPERATION=B; "}));
    EXPECT_TRUE(stops().empty());
    EXPECT_EQ(sink.shown, (Texts(3, "Количество 5 больше допустимого 4")));
    EXPECT_TRUE(logged("order refused: quantity 5 is above MaxOrderQuantity 4"));
    EXPECT_TRUE(logged("stop refused: quantity 5 is above MaxOrderQuantity 4"));

    program.settings.MaxOrderQuantity = 0;
    view.contracts = 1000000;
    MarketBuy(program, view);
    EXPECT_EQ(sentTails().back(), "QUANTITY=1000000; PRICE=100.05; OPERATION=B; ");
}

TEST_F(OrderEntryTest, ANotLiveLadderRefusesWhatIsPricedFromItButNotCancelling) {
    AddStopOrder(program, 0, 100.0, 1);  // would fire at the best bid 100.00
    program.watch.notRead = true;
    view.price = "100";
    BuyAtEditorPrice(program, view);
    MarketSell(program, view);
    click(LadderGrid::SellQuantity, 3);
    click(LadderGrid::Stop, 3);
    SetStop(program, view);
    CheckStopOrders(program);
    click(LadderGrid::PriceColumn, 4);  // copying a price sends nothing
    ClearAllOrders(program, view);
    ASSERT_EQ(transLibrary.sent.size(), 1u);
    EXPECT_NE(transLibrary.sent[0].find("ACTION=KILL_ALL_FUTURES_ORDERS; "), std::string::npos);
    EXPECT_EQ(stops().size(), 1u);
    EXPECT_EQ(view.price, "99.95");
    EXPECT_EQ(view.caption, "Стакан не читается (проверьте DOMBASE): стоп не выставлен");
    EXPECT_TRUE(logged("refused acMarketSell: order book not read"));
    EXPECT_TRUE(logged("refused acSetStop: order book not read"));

    program.watch.lost = true;
    ClearAllOrders(program, view);
    EXPECT_EQ(transLibrary.sent.size(), 1u);
    EXPECT_TRUE(sink.shown.empty());
}

}  // namespace
}  // namespace velmora::testing
