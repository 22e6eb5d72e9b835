// acFlatten and acReverse against the position the script sends, its lines written by hand.
#include <gtest/gtest.h>

#include <string>

#include "support/script_session.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using testing::occurrences;

class FlattenTest : public testing::ScriptModeTest {
protected:
    void SetUp() override {
        const std::string ini = programFolder.file("Velmora.ini");
        WriteProfileString(ini, "COMMON", "MarketSpread", "2");
        WriteProfileString(ini, "DEFAULT", "MaxOrderQuantity", "5");
        session.InitAll(view);
        connectWriter();
        send(hello() + "alive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\nsec\tTQBR\tSBER\t2\t0.01\t10\tSber\n"
                       "book\tSPBFUT\tSiZ6\t95100:3\t95110:2\nbook\tTQBR\tSBER\t300:5\t301:5\n"
                       "order\t77\t0\t1\tSPBFUT\tSiZ6\t95100\t1\t1\n");
        tick(10ms);
        ASSERT_TRUE(view.ladderLive);
    }
};

TEST_F(FlattenTest, TheOrdersAreCancelledThenThePositionTradedAcrossTheSpreadOrTheReasonWhyNot) {
    session.Flatten(view);
    EXPECT_EQ(view.caption, "Позиция неизвестна");
    send("pos\tSPBFUT\tSiZ6\tF\t0\t0\t\n");
    session.Reverse(view);
    EXPECT_EQ(view.caption, "Позиции нет");
    EXPECT_EQ(occurrences(trades(), "TRANS_ID="), 0u);

    // Twice a short of 3 is above MaxOrderQuantity: refused whole, the orders left alone.
    send("pos\tSPBFUT\tSiZ6\tF\t-3\t95130\t\n");
    session.Reverse(view);
    EXPECT_EQ(sink.shown, (std::vector<std::string>{"Количество 6 больше допустимого 5"}));
    EXPECT_EQ(occurrences(trades(), "TRANS_ID="), 0u);

    session.Flatten(view);
    const std::string sent = trades();
    const std::size_t cancel = sent.find("ACTION=KILL_ORDER; ORDER_KEY=77;");
    const std::size_t order = sent.find("ACTION=NEW_ORDER; TYPE=L; QUANTITY=3; PRICE=95112; OPERATION=B;");
    EXPECT_NE(cancel, std::string::npos) << sent;
    EXPECT_NE(order, std::string::npos) << sent;
    EXPECT_LT(cancel, order);

    // A stock's position comes in shares, an order counts lots; shares short of a lot stay.
    for (std::size_t i = 0; i < view.items.size(); ++i)
        if (view.items[i].ticker == "SBER") view.selected = static_cast<int>(i);
    session.SecNameChange(view);
    tick(10ms);
    send("pos\tTQBR\tSBER\tS\t25\t299.5\t\n");
    session.Reverse(view);
    EXPECT_NE(trades().find("SECCODE=SBER; ACTION=NEW_ORDER; TYPE=L; QUANTITY=4; PRICE=299.98; OPERATION=S;"),
              std::string::npos)
        << trades();

    send("bye\n");
    session.Flatten(view);
    EXPECT_EQ(view.caption, "Нет связи со скриптом velmora.lua: заявка не отправлена");
    EXPECT_EQ(occurrences(trades(), "NEW_ORDER"), 2u);
}

// A position told before the script was started again may have changed since: not known until
// it is told anew.
TEST_F(FlattenTest, APositionFromAnEarlierStreamIsNotKnown) {
    send("pos\tSPBFUT\tSiZ6\tF\t2\t95000\t\nbye\n");
    ::close(writer);
    writer = -1;
    tick(10ms);
    connectWriter();
    send(hello() + "alive\t1\nbook\tSPBFUT\tSiZ6\t95100:3\t95110:2\n");
    ASSERT_TRUE(view.ladderLive);
    session.Flatten(view);
    EXPECT_EQ(view.caption, "Позиция неизвестна");
    send("pos\tSPBFUT\tSiZ6\tF\t2\t95000\t\n");
    session.Flatten(view);
    EXPECT_NE(trades().find("QUANTITY=2; PRICE=95098; OPERATION=S;"), std::string::npos) << trades();
}

}  // namespace
}  // namespace velmora
