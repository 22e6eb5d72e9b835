// Own orders dragged from one ladder row to another, the script's reports and replies written by
// hand: one MOVE_ORDERS on the futures market, elsewhere a cancel and only then a new order.
#include <gtest/gtest.h>

#include <string>

#include "support/script_session.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using testing::occurrences;

class OrderMoveTest : public testing::ScriptModeTest {
protected:
    void SetUp() override {
        session.InitAll(view);
        connectWriter();
        send(hello() + "alive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\nsec\tTQBR\tSBER\t2\t0.01\t10\tSber\n"
                       "book\tSPBFUT\tSiZ6\t95100:3,95090:4\t95120:1,95110:2\n"
                       "book\tTQBR\tSBER\t300:5\t301:5,302:5\n");
        ASSERT_TRUE(view.ladderLive);
    }
    void show(const std::string& ticker) {
        for (std::size_t i = 0; i < view.items.size(); ++i)
            if (view.items[i].ticker == ticker) view.selected = static_cast<int>(i);
        session.SecNameChange(view);
        tick(10ms);
    }
    void drag(int column, const std::string& from, const std::string& to) {
        session.MoveOrders(view, column, rowOf(from), rowOf(to));
    }
    int rowOf(const std::string& price) const { return testing::rowOf(session.ladder(), price); }
    std::string own(int column, const std::string& price) const { return session.ladder().cell(rowOf(price), column); }
    std::string lastId() const { return std::to_string(session.nextTransId() - 1); }
    // The script's lines, then the tick that takes them.
    void hear(const std::string& lines) {
        send("alive\t1\n" + lines);
        tick(10ms);
    }
};

TEST_F(OrderMoveTest, OnTheFuturesMarketOneMoveOrdersAndWhereNotSupportedACancelThenTheBalance) {
    hear("order\t77\t0\t1\tSPBFUT\tSiZ6\t95100\t3\t2\n");
    ASSERT_EQ(own(LadderGrid::OwnBuy, "95100"), "2");

    // Pressed and released on one row, or outside the own orders' columns: nothing goes.
    session.MoveOrders(view, LadderGrid::OwnBuy, rowOf("95100"), rowOf("95100"));
    drag(LadderGrid::BuyQuantity, "95100", "95090");
    EXPECT_EQ(occurrences(trades(), "TRANS_ID="), 0u);

    drag(LadderGrid::OwnBuy, "95100", "95090");
    const std::string moveId = lastId();
    EXPECT_NE(trades().find("TRANS_ID=" + moveId + "; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=MOVE_ORDERS; MODE=0; "
                                                   "FIRST_ORDER_NUMBER=77; FIRST_ORDER_NEW_PRICE=95090;"),
              std::string::npos)
        << trades();
    EXPECT_NE(logText().find("moving order 77 from 95100 to 95090"), std::string::npos) << logText();
    hear("order\t77\t0\t2\tSPBFUT\tSiZ6\t95100\t3\t2\norder\t78\t" + moveId +
         "\t1\tSPBFUT\tSiZ6\t95090\t2\t2\nreply\t" + moveId + "\t3\t78\tSPBFUT\tSiZ6\tЗаявка перемещена\n");
    ASSERT_EQ(view.ownOrders.size(), 1u);
    EXPECT_EQ(view.ownOrders[0].number, 78u);
    EXPECT_EQ(view.ownOrders[0].price, 95090);
    EXPECT_EQ(own(LadderGrid::OwnBuy, "95090"), "2");
    EXPECT_EQ(own(LadderGrid::OwnBuy, "95100"), "");

    // Status 10: cancelled instead, and the new order waits for the cancel to be done.
    drag(LadderGrid::OwnBuy, "95090", "95100");
    hear("reply\t" + lastId() + "\t10\t\tSPBFUT\tSiZ6\tНе поддерживается\n");
    const std::string cancelId = lastId();
    EXPECT_NE(
        trades().find("TRANS_ID=" + cancelId + "; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=KILL_ORDER; ORDER_KEY=78;"),
        std::string::npos)
        << trades();
    tick(10ms);
    EXPECT_EQ(occurrences(trades(), "NEW_ORDER"), 0u);
    // Filled in part before the cancel: only the balance goes again.
    hear("order\t78\t" + moveId + "\t2\tSPBFUT\tSiZ6\t95090\t2\t1\nreply\t" + cancelId +
         "\t3\t78\tSPBFUT\tSiZ6\tЗаявка снята\n");
    EXPECT_NE(trades().find("ACTION=NEW_ORDER; TYPE=L; QUANTITY=1; PRICE=95100; OPERATION=B;"), std::string::npos)
        << trades();
    EXPECT_EQ(occurrences(trades(), "NEW_ORDER"), 1u);
}

TEST_F(OrderMoveTest, OnAStockMarketTheNewOrderGoesOnlyOnceItsCancelIsDone) {
    show("SBER");
    hear("order\t90\t0\t5\tTQBR\tSBER\t301\t4\t4\norder\t91\t0\t5\tTQBR\tSBER\t302\t1\t1\n");
    ASSERT_EQ(own(LadderGrid::OwnSell, "301.00"), "4");

    // A cancel refused (the order filled meanwhile, its report still to come): the terminal's
    // text, and no order.
    drag(LadderGrid::OwnSell, "302.00", "301.00");
    hear("reply\t" + lastId() + "\t4\t\tTQBR\tSBER\tЗаявка N 91 уже исполнена\n");
    EXPECT_EQ(view.caption, "Заявка " + lastId() + " отклонена: Заявка N 91 уже исполнена");
    hear("order\t91\t0\t4\tTQBR\tSBER\t302\t1\t0\n");

    drag(LadderGrid::OwnSell, "301.00", "302.00");
    const std::string cancelId = lastId();
    EXPECT_NE(trades().find("ACTION=KILL_ORDER; ORDER_KEY=90;"), std::string::npos) << trades();
    EXPECT_EQ(occurrences(trades(), "MOVE_ORDERS"), 0u);
    tick(10ms);
    EXPECT_EQ(occurrences(trades(), "NEW_ORDER"), 0u);
    hear("reply\t" + cancelId + "\t3\t90\tTQBR\tSBER\tЗаявка снята\n");
    EXPECT_NE(trades().find("ACTION=NEW_ORDER; TYPE=L; QUANTITY=4; PRICE=302.00; OPERATION=S;"), std::string::npos)
        << trades();
    hear("reply\t" + lastId() + "\t3\t94\tTQBR\tSBER\tЗаявка зарегистрирована\n");
    EXPECT_EQ(own(LadderGrid::OwnSell, "302.00"), "4");
    EXPECT_EQ(own(LadderGrid::OwnSell, "301.00"), "");

    // No answer within the time-out: a late one sends nothing either.
    hear("order\t92\t0\t5\tTQBR\tSBER\t301\t1\t1\n");
    drag(LadderGrid::OwnSell, "301.00", "302.00");
    const std::string silentId = lastId();
    for (int second = 0; second < 6; ++second) {
        send("alive\t1\n");
        tick(1s);
    }
    EXPECT_EQ(view.caption, "Нет ответа терминала на заявку " + silentId);
    hear("reply\t" + silentId + "\t3\t92\tTQBR\tSBER\tЗаявка снята\n");

    // The instrument changed while the cancel was on its way: said, and no order.
    hear("order\t93\t0\t5\tTQBR\tSBER\t301\t1\t1\n");
    drag(LadderGrid::OwnSell, "301.00", "302.00");
    const std::string leftId = lastId();
    show("SiZ6");
    hear("reply\t" + leftId + "\t3\t93\tTQBR\tSBER\tЗаявка снята\n");
    EXPECT_EQ(view.caption, "Заявка 93 снимается, новая не будет выставлена: сменился инструмент");
    EXPECT_EQ(occurrences(trades(), "NEW_ORDER"), 1u) << trades();
    EXPECT_EQ(occurrences(trades(), "KILL_ORDER"), 4u) << trades();
}

}  // namespace
}  // namespace velmora
