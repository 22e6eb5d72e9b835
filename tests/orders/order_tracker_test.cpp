#include "orders/order_tracker.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Numbers = std::vector<std::uint64_t>;

TransReply reply(std::uint32_t transId, int status, std::uint64_t orderNumber = 0, std::string text = "") {
    return TransReply{transId, status, orderNumber, "", std::move(text)};
}

std::vector<std::uint64_t> numbers(const std::vector<OwnOrder>& orders) {
    Numbers result;
    for (const OwnOrder& order : orders) result.push_back(order.number);
    return result;
}

class OrderTrackerTest : public ::testing::Test {
protected:
    OrderTracker tracker{"SPBFUT", "T1", 5};

    void sendNew(std::uint32_t transId, Side side, std::int64_t price, std::int64_t quantity, TrackerTime at) {
        tracker.noteSent(transId, TransKind::NewOrder, side, price, quantity, 0, at);
    }
    void accept(std::uint32_t transId, std::uint64_t number, TrackerTime at) {
        tracker.applyReply(reply(transId, 0), at);
        ASSERT_EQ(tracker.applyReply(reply(transId, 3, number), at).kind, ReplyOutcome::Accepted);
    }
};

TEST_F(OrderTrackerTest, SentThenAcceptedRejectedOrCancelledEachByItsOwnTransId) {
    sendNew(11, Side::Buy, 10005, 3, 1s);
    sendNew(12, Side::Sell, 10100, 2, 2s);
    sendNew(13, Side::Buy, 9995, 1, 3s);
    EXPECT_EQ(tracker.applyReply(reply(11, 0), 1s).kind, ReplyOutcome::Nothing);
    accept(11, 501, 1s);
    accept(12, 502, 2s);
    ReplyOutcome rejected = tracker.applyReply(reply(13, 6, 0, "нет средств"), 3s);
    EXPECT_EQ(rejected.kind, ReplyOutcome::Rejected);
    EXPECT_TRUE(rejected.known);
    EXPECT_EQ(rejected.status, 6);
    EXPECT_EQ(rejected.text, "нет средств");
    EXPECT_EQ(tracker.transaction(13)->state, TransState::Rejected);
    // A later line for a settled transaction changes nothing.
    EXPECT_EQ(tracker.applyReply(reply(11, 4), 4s).kind, ReplyOutcome::Nothing);
    EXPECT_EQ(tracker.transaction(11)->state, TransState::Accepted);

    EXPECT_EQ(numbers(tracker.activeOrders()), (Numbers{502, 501}));
    EXPECT_EQ(tracker.activeAt(Side::Buy, 10005), Numbers{501});
    EXPECT_TRUE(tracker.activeAt(Side::Sell, 10005).empty());
    EXPECT_TRUE(tracker.activeAt(Side::Buy, 10010).empty());
    EXPECT_EQ(tracker.order(501)->balance, 3);

    // A cancel of 501 that fails leaves it; one that is executed cancels it alone.
    tracker.noteSent(14, TransKind::KillOrder, Side::Buy, 0, 0, 501, 5s);
    EXPECT_EQ(tracker.applyReply(reply(14, 4, 0, "не найдена"), 5s).kind, ReplyOutcome::Rejected);
    tracker.noteSent(15, TransKind::KillOrder, Side::Buy, 0, 0, 501, 6s);
    EXPECT_EQ(tracker.applyReply(reply(15, 3), 6s).kind, ReplyOutcome::Executed);
    EXPECT_EQ(tracker.order(501)->state, OwnOrderState::Cancelled);
    EXPECT_EQ(numbers(tracker.activeOrders()), Numbers{502});

    // A kill-all cancels what was there when it was sent, not an order accepted after.
    tracker.noteSent(16, TransKind::KillAll, Side::Buy, 0, 0, 0, 7s);
    sendNew(17, Side::Buy, 10000, 1, 8s);
    accept(17, 503, 8s);
    EXPECT_EQ(tracker.applyReply(reply(16, 3), 9s).kind, ReplyOutcome::Executed);
    EXPECT_EQ(numbers(tracker.activeOrders()), Numbers{503});

    // The library refused to send it at all.
    sendNew(18, Side::Sell, 10100, 1, 10s);
    ReplyOutcome unsent = tracker.applySendFailure(18, 6, "QUIK not connected");
    EXPECT_EQ(unsent.kind, ReplyOutcome::Rejected);
    EXPECT_EQ(tracker.transaction(18)->state, TransState::Rejected);
}

TEST_F(OrderTrackerTest, ForeignRepliesAreReportedAsRejectionsOnlyAndTouchNoRecord) {
    sendNew(21, Side::Buy, 10000, 1, 1s);
    ReplyOutcome foreign = tracker.applyReply(reply(99, 5, 0, "нет прав"), 1s);
    EXPECT_EQ(foreign.kind, ReplyOutcome::Rejected);
    EXPECT_FALSE(foreign.known);
    EXPECT_EQ(foreign.transId, 99u);
    EXPECT_EQ(tracker.applyReply(reply(98, 3, 700), 1s).kind, ReplyOutcome::Nothing);
    EXPECT_EQ(tracker.transaction(21)->state, TransState::Sent);
    EXPECT_EQ(tracker.transaction(99), nullptr);
    EXPECT_TRUE(tracker.activeOrders().empty());
}

TEST_F(OrderTrackerTest, NoReplyAfterTheTimeOutOnceAndALateReplyStillCounts) {
    sendNew(31, Side::Buy, 10000, 1, 10s);
    sendNew(32, Side::Buy, 10000, 1, 12s);
    accept(32, 601, 12s);
    EXPECT_TRUE(tracker.expire(14999ms).empty());
    EXPECT_EQ(tracker.expire(15s), std::vector<std::uint32_t>{31});
    EXPECT_TRUE(tracker.expire(60s).empty());
    EXPECT_EQ(tracker.transaction(31)->state, TransState::NoReply);
    accept(31, 602, 61s);

    OrderTracker patient{"SPBFUT", "T1", 0};
    patient.noteSent(1, TransKind::NewOrder, Side::Buy, 1, 1, 0, 0s);
    EXPECT_TRUE(patient.expire(std::chrono::hours(24)).empty());
}

TEST_F(OrderTrackerTest, FileModeAnOrderIsGoneAfterTheBookShowsNoOwnQuantityForTwoSeconds) {
    sendNew(41, Side::Sell, 10100, 2, 0s);
    sendNew(42, Side::Buy, 10000, 2, 0s);
    accept(41, 701, 0s);
    accept(42, 702, 0s);
    const std::vector<BookOwnQuantity> both{{Side::Sell, 10100, 2}, {Side::Buy, 10000, 2}};
    // Only a bid of own quantity at 101 (the wrong side) and nothing at 100: both unseen from 1 s.
    const std::vector<BookOwnQuantity> neither{{Side::Buy, 10100, 2}, {Side::Buy, 10000, 0}};
    tracker.applyBook(neither, 1s);
    tracker.applyBook({{Side::Sell, 10100, 1}}, 2s);  // 701 seen again
    tracker.applyBook(neither, 2500ms);
    tracker.applyBook(neither, 2999ms);
    EXPECT_EQ(numbers(tracker.activeOrders()), (Numbers{702, 701}));
    tracker.applyBook(neither, 3s);
    EXPECT_EQ(tracker.order(702)->state, OwnOrderState::Gone);
    tracker.applyBook(both, 4s);  // a book that shows it again does not bring it back
    EXPECT_EQ(numbers(tracker.activeOrders()), Numbers{701});
    tracker.applyBook(neither, 5s);
    tracker.applyBook(neither, 7s);
    EXPECT_TRUE(tracker.activeOrders().empty());
}

TEST_F(OrderTrackerTest, LibraryOrderEventsOfTheInstrumentSetStateAndBalance) {
    sendNew(51, Side::Buy, 10000, 5, 1s);
    tracker.applyOrder({0, 51, 801, "SPBFUT", "T1", 10000, 5, Side::Buy, 1}, 1s);  // before its reply
    accept(51, 801, 1s);
    tracker.applyOrder({0, 51, 801, "SPBFUT", "T1", 10000, 2, Side::Buy, 1}, 2s);
    EXPECT_EQ(tracker.order(801)->balance, 2);
    EXPECT_EQ(tracker.order(801)->quantity, 5);
    tracker.applyOrder({0, 0, 802, "SPBFUT", "T1", 10100, 4, Side::Sell, 1}, 3s);  // placed by hand
    tracker.applyOrder({1, 0, 803, "SPBFUT", "T2", 10100, 4, Side::Sell, 1}, 3s);  // another instrument
    tracker.applyOrder({2, 0, 804, "SPBFUT", "T1", 9900, 1, Side::Buy, 1}, 3s);   // from before this start
    EXPECT_EQ(numbers(tracker.activeOrders()), (Numbers{802, 801, 804}));
    EXPECT_EQ(tracker.activeAt(Side::Sell, 10100), Numbers{802});
    tracker.applyOrder({0, 0, 802, "SPBFUT", "T1", 10100, 4, Side::Sell, 2}, 4s);
    tracker.applyOrder({0, 51, 801, "SPBFUT", "T1", 10000, 0, Side::Buy, 3}, 4s);
    EXPECT_EQ(tracker.order(802)->state, OwnOrderState::Cancelled);
    EXPECT_EQ(tracker.order(801)->state, OwnOrderState::Filled);
    EXPECT_EQ(numbers(tracker.activeOrders()), Numbers{804});
}

// Whether the exchange keeps a moved order's number is not known: either way it rests at the new
// price with its balance, once.
TEST_F(OrderTrackerTest, AMovedOrderTakesItsNewPriceUnderItsOwnNumberOrANewOne) {
    sendNew(71, Side::Sell, 10100, 2, 1s);
    accept(71, 701, 1s);
    tracker.noteSent(72, TransKind::MoveOrder, Side::Sell, 10200, 0, 701, 2s);
    EXPECT_EQ(tracker.applyReply(reply(72, 3, 701), 2s).kind, ReplyOutcome::Executed);
    EXPECT_EQ(numbers(tracker.activeOrders()), Numbers{701});
    EXPECT_EQ(tracker.activeAt(Side::Sell, 10200), Numbers{701});
    tracker.noteSent(73, TransKind::MoveOrder, Side::Sell, 10300, 0, 701, 3s);
    tracker.applyReply(reply(73, 3, 702), 3s);
    EXPECT_EQ(numbers(tracker.activeOrders()), Numbers{702});
    EXPECT_EQ(tracker.activeAt(Side::Sell, 10300), Numbers{702});
    EXPECT_EQ(tracker.order(702)->balance, 2);
}

// Half a step of tolerance, with no step known, was relative to the price: neighbouring ticks of
// a large price were one price, and a click cancelled both orders.
TEST_F(OrderTrackerTest, NeighbouringTicksOfALargePriceAreTwoPrices) {
    sendNew(61, Side::Buy, 10000000001, 1, 1s);
    sendNew(62, Side::Buy, 10000000002, 1, 1s);
    accept(61, 901, 1s);
    accept(62, 902, 1s);
    EXPECT_EQ(tracker.activeAt(Side::Buy, 10000000002), Numbers{902});
}

}  // namespace
}  // namespace velmora
