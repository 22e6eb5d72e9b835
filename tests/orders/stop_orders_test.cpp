#include "orders/stop_orders.h"

#include <limits>

#include "trans/program_fixture.h"

namespace velmora::testing {
namespace {

using StopOrdersTest = ProgramFixture;

void add(TStopOrders& stops, std::uint8_t direction, double price, std::int32_t quantity) {
    stops.append(std::make_unique<TStopOrder>(TStopOrder{direction, price, quantity}));
}

TEST_F(StopOrdersTest, RangesExcludeTheLowerBoundAndIncludeTheUpper) {
    TStopOrders& stops = *program.StopOrders;
    add(stops, 1, 99.95, 1);
    add(stops, 0, 100.00, 2);
    add(stops, 0, 99.97, 4);
    EXPECT_EQ(stops.QuantityInRange(100.00, 99.95), 6);
    EXPECT_EQ(stops.QuantityInRange(99.95, 99.90), 1);
    EXPECT_EQ(stops.QuantityInRange(99.90, 99.85), 0);

    add(stops, 0, 99.99, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(stops.QuantityInRange(100.00, 99.95), std::numeric_limits<std::int32_t>::max());
}

TEST_F(StopOrdersTest, RemoveFirstInRangeTakesTheOldestOneOnlyAndLogsIt) {
    TStopOrders& stops = *program.StopOrders;
    add(stops, 0, 100.05, 5);
    add(stops, 1, 99.95, 1);
    add(stops, 1, 99.95, 2);
    locale.decimal = ',';
    stops.RemoveFirstInRange(99.95, 99.90, program.log);
    ASSERT_EQ(stops.Count(), 2);
    EXPECT_EQ(stops.items[0]->Price, 100.05);
    EXPECT_EQ(stops.items[1]->Quantity, 2);
    EXPECT_TRUE(logged("clearing stop order:99,95; 1; 1"));

    stops.RemoveFirstInRange(99.90, 99.85, program.log);
    EXPECT_EQ(stops.Count(), 2);
}

}  // namespace
}  // namespace velmora::testing
