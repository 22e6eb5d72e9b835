#include "ladder_fixture.h"

namespace velmora::testing {
namespace {

class StopCheckTest : public LadderFixture {
protected:
    void setBook(std::vector<std::uint32_t> bids, std::vector<std::uint32_t> asks) {
        table->Clear();
        for (std::uint32_t price : bids) addRow(0, price);
        for (std::uint32_t price : asks) addRow(1, price);
    }
    std::vector<std::int32_t> stopQuantities() const {
        std::vector<std::int32_t> quantities;
        for (const auto& stop : program.StopOrders->items) quantities.push_back(stop->Quantity);
        return quantities;
    }
};

TEST_F(StopCheckTest, StopsFireWhenReachedPricedMarketSpreadStepsThrough) {
    program.settings.MarketSpread = 3;
    AddStopOrder(program, 0, 100.10, 1);
    AddStopOrder(program, 1, 99.95, 2);
    CheckStopOrders(program);
    EXPECT_TRUE(transLibrary.sent.empty());

    setBook({10000, 10010}, {10015});
    CheckStopOrders(program);
    setBook({9990}, {9995, 10000});
    CheckStopOrders(program);
    EXPECT_EQ(sentTails(), (Tails{"QUANTITY=1; PRICE=100.25; OPERATION=B; ", "QUANTITY=2; PRICE=99.80; OPERATION=S; "}));
    EXPECT_EQ(program.StopOrders->Count(), 0);
}

TEST_F(StopCheckTest, SeveralStopsFireNewestFirstAtTheBestPricesWithSpreadZero) {
    AddStopOrder(program, 0, 100.00, 1);
    AddStopOrder(program, 1, 100.05, 2);
    AddStopOrder(program, 0, 100.05, 4);  // above the best bid: waits
    AddStopOrder(program, 0, 99.95, 3);
    CheckStopOrders(program);
    EXPECT_EQ(sentTails(), (Tails{"QUANTITY=3; PRICE=100.00; OPERATION=B; ", "QUANTITY=2; PRICE=100.05; OPERATION=S; ",
                                  "QUANTITY=1; PRICE=100.00; OPERATION=B; "}));
    EXPECT_EQ(stopQuantities(), std::vector<std::int32_t>{4});
}

TEST_F(StopCheckTest, AStopIsNotExaminedWhileItsSideOfTheBookIsEmpty) {
    AddStopOrder(program, 0, 1.00, 1);
    AddStopOrder(program, 1, 1000.00, 2);
    setBook({}, {10005});
    CheckStopOrders(program);
    EXPECT_EQ(sentTails(), Tails{"QUANTITY=2; PRICE=100.05; OPERATION=S; "});
    setBook({}, {});
    CheckStopOrders(program);
    program.clearCurrent();
    CheckStopOrders(program);
    EXPECT_EQ(stopQuantities(), std::vector<std::int32_t>{1});
}

TEST_F(StopCheckTest, AFiredStopIsGoneEvenWhenItsOrderIsNotDelivered) {
    transLibrary.isAvailable = false;
    AddStopOrder(program, 1, 100.05, 2);
    CheckStopOrders(program);
    EXPECT_EQ(program.StopOrders->Count(), 0);
    EXPECT_TRUE(loggedStartingWith("transaction not delivered: "));
}

}  // namespace
}  // namespace velmora::testing
