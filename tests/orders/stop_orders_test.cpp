#include "orders/stop_orders.h"

#include <limits>

#include "trans/session_fixture.h"

namespace velmora::testing {
namespace {

using StopOrdersTest = SessionFixture;

TEST_F(StopOrdersTest, RangesAreOpenBelowAndClosedAboveAndRemovalTakesTheOldest) {
    TStopOrders& stops = *session.StopOrders;
    for (TStopOrder stop : {TStopOrder{Side::Buy, 100.00, 2}, TStopOrder{Side::Sell, 99.95, 1}, TStopOrder{Side::Sell, 99.95, 4}})
        stops.append(std::make_unique<TStopOrder>(stop));
    EXPECT_EQ(stops.QuantityInRange(100.00, 99.95), 2);
    EXPECT_EQ(stops.QuantityInRange(99.95, 99.90), 5);

    locale.decimal = ',';
    stops.RemoveFirstInRange(99.95, 99.90, session.log);
    stops.RemoveFirstInRange(99.90, 99.85, session.log);
    ASSERT_EQ(stops.Count(), 2);
    EXPECT_EQ(stops.items[1]->Quantity, 4);
    EXPECT_EQ(logLines(), Texts{"clearing stop order:99,95; 1; 1"});

    stops.append(std::make_unique<TStopOrder>(TStopOrder{Side::Buy, 99.99, std::numeric_limits<std::int32_t>::max()}));
    EXPECT_EQ(stops.QuantityInRange(100.00, 99.95), std::numeric_limits<std::int32_t>::max());
}

}  // namespace
}  // namespace velmora::testing
