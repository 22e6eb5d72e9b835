#include "ladder_fixture.h"

namespace velmora::testing {
namespace {

using StopCheckTest = LadderFixture;

TEST_F(StopCheckTest, StopsFireWhenReachedPricedMarketSpreadStepsThrough) {
    desk.settings.MarketSpread = 3;
    desk.orders.AddStopOrder(Side::Buy, 10010, 1);
    desk.orders.AddStopOrder(Side::Sell, 9995, 2);
    desk.orders.CheckStopOrders();
    setBook({10000, 10010}, {10015});
    desk.orders.CheckStopOrders();
    setBook({9990}, {9995, 10000});
    desk.orders.CheckStopOrders();
    EXPECT_EQ(sentTails(), (Texts{"QUANTITY=1; PRICE=100.25; OPERATION=B; ", "QUANTITY=2; PRICE=99.80; OPERATION=S; "}));
    EXPECT_TRUE(stops().empty());
}

TEST_F(StopCheckTest, SeveralStopsFireNewestFirstAtTheBestPricesWithSpreadZero) {
    desk.orders.AddStopOrder(Side::Buy, 10000, 1);
    desk.orders.AddStopOrder(Side::Sell, 10005, 2);
    desk.orders.AddStopOrder(Side::Buy, 10005, 4);  // above the best bid: waits
    desk.orders.AddStopOrder(Side::Buy, 9995, 3);
    desk.orders.CheckStopOrders();
    EXPECT_EQ(sentTails(), (Texts{"QUANTITY=3; PRICE=100.00; OPERATION=B; ", "QUANTITY=2; PRICE=100.05; OPERATION=S; ",
                                  "QUANTITY=1; PRICE=100.00; OPERATION=B; "}));
    EXPECT_EQ(stops(), Texts{"0@100.05 x4"});
}

TEST_F(StopCheckTest, AStopWaitsWhileItsSideIsEmptyAndIsGoneOnceFired) {
    desk.orders.AddStopOrder(Side::Buy, 100, 1);
    desk.orders.AddStopOrder(Side::Sell, 100000, 2);
    transLibrary.isAvailable = false;  // fired all the same, though not delivered
    setBook({}, {10005});
    desk.orders.CheckStopOrders();
    desk.orders.AddStopOrder(Side::Sell, 100000, 3);
    setBook({10000}, {});
    desk.orders.CheckStopOrders();
    EXPECT_EQ(stops(), Texts{"1@1000 x3"});
    Texts lines = logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("formed order: ", 0) == 0; }),
              2);
    EXPECT_TRUE(logged("formed order: TRANS_ID=1001; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=T1; "
                       "ACTION=NEW_ORDER; TYPE=L; QUANTITY=2; PRICE=100.05; OPERATION=S; "));
}

}  // namespace
}  // namespace velmora::testing
