#include "orders/stop_orders.h"

#include <limits>

#include "trans/order_fixture.h"

namespace velmora::testing {
namespace {

using StopOrdersTest = OrderFixture;

TEST_F(StopOrdersTest, RangesAreOpenBelowAndClosedAboveAndRemovalTakesTheOldest) {
    TStopOrders& stops = *desk.StopOrders;
    for (TStopOrder stop :
         {TStopOrder{Side::Buy, 10000, 2}, TStopOrder{Side::Sell, 9995, 1}, TStopOrder{Side::Sell, 9995, 4}})
        stops.append(std::make_unique<TStopOrder>(stop));
    EXPECT_EQ(stops.QuantityInRange(10000, 9995), 2);
    EXPECT_EQ(stops.QuantityInRange(9995, 9990), 5);

    locale.decimal = ',';
    stops.RemoveFirstInRange(9995, 9990, 2, desk.log);
    stops.RemoveFirstInRange(9990, 9985, 2, desk.log);
    ASSERT_EQ(stops.Count(), 2);
    EXPECT_EQ(stops.items[1]->Quantity, 4);
    EXPECT_EQ(logLines(), Texts{"clearing stop order:99,95; 1; 1"});

    stops.append(std::make_unique<TStopOrder>(TStopOrder{Side::Buy, 9999, std::numeric_limits<std::int32_t>::max()}));
    EXPECT_EQ(stops.QuantityInRange(10000, 9995), std::numeric_limits<std::int32_t>::max());
}

}  // namespace
}  // namespace velmora::testing
