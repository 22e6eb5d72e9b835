#include "orders/order_entry.h"

#include "ladder/ladder_refresh.h"
#include "ladder_fixture.h"

namespace velmora::testing {
namespace {

class OrderEntryTest : public LadderFixture {
protected:
    void click(int column, int row, bool shift = false, MouseButton button = MouseButton::Left) {
        desk.orders.LadderMouseDown(view, button, shift, column, row);
    }
    std::string stopCell(int row) const { return desk.ladder.cell(row, LadderGrid::Stop); }
};

TEST_F(OrderEntryTest, EditorOrdersTakeTheTypedPriceOrNothing) {
    view.price = "1234,5";
    desk.orders.BuyAtEditorPrice(view);
    desk.orders.SellAtEditorPrice(view);
    for (std::string refused : {"1234.5 ", "", "12,34,5", "0", "-5"}) {
        view.price = refused;
        desk.orders.BuyAtEditorPrice(view);
    }
    // A price of zero or below is refused in words, not sent.
    EXPECT_TRUE(logged("order refused: price -5 is not above zero"));
    EXPECT_EQ(view.caption, "Заявка не отправлена: цена -5 не больше нуля");
    desk.clearShown();
    view.price = "100";
    desk.orders.SellAtEditorPrice(view);
    EXPECT_EQ(sentTails(), (Texts{"QUANTITY=4; PRICE=1234.50; OPERATION=B; ", "QUANTITY=4; PRICE=1234.50; OPERATION=S; "}));
}

TEST_F(OrderEntryTest, MarketCommandsMoveFromTheBestPricesAndNeedTheirSide) {
    desk.settings.MarketSpread = 2;
    view.orderShift = 1;
    desk.orders.MarketBuy(view);
    desk.orders.MarketSell(view);
    desk.orders.MarketPlusBuy(view);
    desk.orders.MarketPlusSell(view);
    desk.settings.MarketSpread = 0;
    desk.orders.MarketBuy(view);
    setBook({10000}, {});
    desk.orders.MarketBuy(view);
    desk.orders.MarketPlusSell(view);
    EXPECT_TRUE(logged("acMarketBUY refused: no asks in the book"));
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

// The decimal symbol is the user's to choose; the row's text is only shown.
TEST_F(OrderEntryTest, AClickTradesAtItsRowsPriceWhateverSymbolItsTextShows) {
    locale.decimal = '\'';
    ShowQuoteTable(desk.ladder, 7, table, security(), desk.log);
    ASSERT_EQ(desk.ladder.cell(3, LadderGrid::PriceColumn), "100'05");
    click(LadderGrid::SellQuantity, 3);
    EXPECT_EQ(sentTails(), Texts{"QUANTITY=4; PRICE=100.15; OPERATION=B; "});
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
    desk.clearShown();
    click(LadderGrid::SellQuantity, 3);
    EXPECT_EQ(view.price, "99.95");
    EXPECT_TRUE(transLibrary.sent.empty());
    EXPECT_EQ(stops(), (Texts{"0@100.05 x4", "1@99.95 x4"}));
}

TEST_F(OrderEntryTest, StopColumnShowsTotalsOfEachRowsRange) {
    for (std::int64_t price : {9997, 9998, 9995, 10020, 9990})
        desk.orders.AddStopOrder(Side::Sell, price, price > 9996 ? 1 : 5);
    desk.orders.ShowStopQuantities();
    EXPECT_EQ(stopCell(1), "");   // 100.20 is above the top row
    EXPECT_EQ(stopCell(3), "2");  // (99.95, 100.00]
    EXPECT_EQ(stopCell(4), "5");
    EXPECT_EQ(stopCell(5), "");  // no priced row below

    desk.orders.ClearAllStops();
    desk.orders.ShowStopQuantities();
    for (int r = 0; r < desk.ladder.rowCount(); ++r) EXPECT_EQ(stopCell(r), "") << r;
}

TEST_F(OrderEntryTest, RightClickInTheStopColumnRemovesTheFirstStopOfTheRow) {
    desk.orders.AddStopOrder(Side::Sell, 9998, 2);
    desk.orders.AddStopOrder(Side::Sell, 9998, 3);
    desk.orders.AddStopOrder(Side::Sell, 9990, 1);
    desk.ladder.setCell(6, LadderGrid::PriceColumn, "99.85");
    desk.ladder.setRowPrice(6, 9985);
    desk.orders.ShowStopQuantities();
    desk.ladder.setCell(6, LadderGrid::Stop, "1");
    click(LadderGrid::Stop, 3, false, MouseButton::Right);
    click(LadderGrid::Stop, 6, false, MouseButton::Right);  // last row
    click(LadderGrid::Stop, 1, false, MouseButton::Right);  // empty stop cell
    EXPECT_EQ(stops(), (Texts{"1@99.98 x3", "1@99.9 x1"}));
}

TEST_F(OrderEntryTest, PriceStepAndSetStop) {
    locale.decimal = ',';
    view.price = "0.03";
    desk.orders.PriceStep(view, OrderEntry::PriceMove::Down);
    desk.orders.PriceStep(view, OrderEntry::PriceMove::Down);
    EXPECT_EQ(view.price, "-0,07");
    view.price = "";
    desk.orders.PriceStep(view, OrderEntry::PriceMove::Up);
    EXPECT_EQ(view.price, "");

    for (std::string price : {"99.95", "100,10", "100.00", "100.02", "100.05", "x"}) {
        view.price = price;
        desk.orders.SetStop(view);
    }
    setBook({10000}, {});
    view.price = "101";
    desk.orders.SetStop(view);
    EXPECT_EQ(stops(), (Texts{"1@99.95 x4", "0@100.1 x4"}));
}

TEST_F(OrderEntryTest, KillAllNeedsAnInstrumentClearingStopsDoesNot) {
    desk.orders.ClearAllOrders(view);
    desk.orders.AddStopOrder(Side::Sell, 9900, 1);
    desk.clearShown();
    desk.orders.ClearAllOrders(view);
    desk.orders.ClearAllStops();
    ASSERT_EQ(transLibrary.sent.size(), 1u);
    EXPECT_NE(transLibrary.sent[0].find("ACTION=KILL_ALL_FUTURES_ORDERS; "), std::string::npos);
    EXPECT_EQ(desk.StopOrders->Count(), 0);
}

TEST_F(OrderEntryTest, MaxOrderQuantityRefusesOrdersAndStopsAboveItWithOneBoxEach) {
    desk.settings.MaxOrderQuantity = 4;
    view.price = "100";
    desk.orders.BuyAtEditorPrice(view);  // at the limit
    view.contracts = 5;
    desk.orders.BuyAtEditorPrice(view);
    click(LadderGrid::SellQuantity, 3, true);  // order and its stop: one refusal
    desk.orders.AddStopOrder(Side::Sell, 9900, 5);
    EXPECT_EQ(sentTails(), (Texts{"QUANTITY=4; PRICE=100.00; OPERATION=B; "}));
    EXPECT_TRUE(stops().empty());
    EXPECT_EQ(sink.shown, (Texts(3, "Количество 5 больше допустимого 4")));
    EXPECT_TRUE(logged("order refused: quantity 5 is above MaxOrderQuantity 4"));
    EXPECT_TRUE(logged("stop refused: quantity 5 is above MaxOrderQuantity 4"));

    desk.settings.MaxOrderQuantity = 0;
    view.contracts = 1000000;
    desk.orders.MarketBuy(view);
    EXPECT_EQ(sentTails().back(), "QUANTITY=1000000; PRICE=100.05; OPERATION=B; ");
}

TEST_F(OrderEntryTest, ANotLiveLadderRefusesWhatIsPricedFromItButNotCancelling) {
    desk.orders.AddStopOrder(Side::Buy, 10000, 1);  // would fire at the best bid 100.00
    desk.terminal.watch().notRead = true;
    view.price = "100";
    desk.orders.BuyAtEditorPrice(view);
    desk.orders.MarketSell(view);
    click(LadderGrid::SellQuantity, 3);
    click(LadderGrid::Stop, 3);
    desk.orders.SetStop(view);
    desk.orders.CheckStopOrders();
    click(LadderGrid::PriceColumn, 4);  // copying a price sends nothing
    desk.orders.ClearAllOrders(view);
    ASSERT_EQ(transLibrary.sent.size(), 1u);
    EXPECT_NE(transLibrary.sent[0].find("ACTION=KILL_ALL_FUTURES_ORDERS; "), std::string::npos);
    EXPECT_EQ(stops().size(), 1u);
    EXPECT_EQ(view.price, "99.95");
    EXPECT_EQ(view.caption, "Стакан не читается (проверьте DOMBASE): стоп не выставлен");
    EXPECT_TRUE(logged("refused acMarketSell: order book not read"));
    EXPECT_TRUE(logged("refused acSetStop: order book not read"));

    desk.terminal.watch().lost = true;
    desk.orders.ClearAllOrders(view);
    EXPECT_EQ(transLibrary.sent.size(), 1u);
    EXPECT_TRUE(sink.shown.empty());
}

}  // namespace
}  // namespace velmora::testing
