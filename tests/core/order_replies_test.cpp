// What became of each order, against a stand-in terminal that answers in the terminal's own
// formats: its results file in mode TRI, its library's callbacks in mode DLL.
#include <gtest/gtest.h>

#include <string>

#include "core/session.h"
#include "ladder/ladder_grid.h"
#include "support/standin_session.h"

namespace velmora {
namespace {

using testing::FakeTransLibrary;
using testing::occurrences;
using testing::standinLibrary;
using testing::startsWith;

class OrderRepliesTest : public testing::StandinSessionTest {
protected:
    void start(const std::string& outputWay, std::vector<std::string> extra, TransLibrary& library,
               const std::string& section = "FORTS") {
        startTerminal(outputWay, 2, std::move(extra));
        WriteProfileString(app.file("Velmora.ini"), "COMMON", "SECTION", section);
        WriteProfileString(app.file("Velmora.ini"), "TECH", "ReplyTimeout", "1");
        startProgram(static_cast<std::uint32_t>(terminal->pid()), library);
        ASSERT_TRUE(view.timerEnabled) << logText();
        tick();
        ASSERT_TRUE(session->instrumentChosen());
    }
    std::string lastTransId() const { return std::to_string(session->nextTransId() - 1); }
    void buyAt(const std::string& price, int quantity) {
        view.contracts = quantity;
        view.price = price;
        runLogic([&] { session->BuyAtEditorPrice(view); });
    }
    void click(int column, int row) {
        runLogic([&] { session->LadderMouseDown(view, MouseButton::Left, false, column, row); });
    }
    int rowOfPrice(const std::string& price) const {
        for (int row = 1; row < session->ladder().rowCount(); ++row)
            if (session->ladder().cell(row, LadderGrid::PriceColumn) == price) return row;
        return -1;
    }
    // Closed as the window closes it, before the library goes: a library freed while connected
    // joins its reader thread under the Windows loader lock and never returns.
    void TearDown() override {
        if (session) runLogic([&] { session->DoneAll(); });
    }
    std::unique_ptr<testing::RecordingLibrary> library;
};

TEST_F(OrderRepliesTest, FileModeShowsRejectionsListsAcceptedOrdersAndCancelsAtAPrice) {
    FakeTransLibrary unused;
    start("TRI", {"--price-band", "1"}, unused);

    buyAt("90000", 1);
    const std::string rejected = lastTransId();
    const std::string rejection = "Заявка " + rejected + " отклонена: Цена 90000 дальше 1%";
    ASSERT_TRUE(tickUntil([&] { return startsWith(view.caption, rejection) && view.infoVisible; })) << view.caption;
    EXPECT_NE(logText().find("transaction " + rejected + " rejected: status 4, Цена 90000 дальше 1%"),
              std::string::npos);
    // The ladder is told where, to flash that row.
    const std::vector<PendingQuantity> rejections = session->takeRejections();
    ASSERT_EQ(rejections.size(), 1u);
    EXPECT_EQ(rejections[0].price, 90000);

    const std::string price = buyAtBestBid(3);
    // The next order takes the rejection away. The order shows at once, marked as unanswered.
    EXPECT_FALSE(view.infoVisible);
    EXPECT_EQ(session->ladder().cell(21, LadderGrid::OwnBuy), "3");
    EXPECT_TRUE(session->ladder().look(21, LadderGrid::OwnBuy).marks & CellLook::Pending);
    ASSERT_TRUE(tickUntil([&] { return view.ownOrders.size() == 1; })) << logText();
    const OwnOrder order = view.ownOrders[0];
    EXPECT_EQ(order.number, 5000002u);
    EXPECT_EQ(order.side, Side::Buy);
    EXPECT_DOUBLE_EQ(order.price, std::stod(price));
    EXPECT_EQ(order.balance, 3);
    EXPECT_TRUE(tickUntil([&] {
        return session->ladder().cell(21, LadderGrid::OwnBuy) == "3" &&
               !(session->ladder().look(21, LadderGrid::OwnBuy).marks & CellLook::Pending);
    }));
    EXPECT_NE(logText().find("reply to transaction " + lastTransId() + ": status 3, (160) Заявка на покупку N "
                             "5000002 зарегистрирована., order 5000002"),
              std::string::npos);

    // The order placed by hand before this start has no number here: nothing is sent for it.
    const int byHand = rowOfPrice("92347");
    ASSERT_GT(byHand, 0);
    EXPECT_EQ(session->ladder().cell(byHand, LadderGrid::OwnBuy), "2");
    const std::int32_t before = session->nextTransId();
    click(LadderGrid::OwnBuy, byHand);
    EXPECT_EQ(session->nextTransId(), before);
    EXPECT_EQ(view.caption, "Номер заявки неизвестен: снимите её в терминале");

    ASSERT_TRUE(tickUntil([&] { return session->ladder().cell(21, LadderGrid::OwnBuy) == "3"; }));
    click(LadderGrid::OwnBuy, 21);
    EXPECT_NE(logText().find("formed order: TRANS_ID=" + lastTransId() +
                             "; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=KILL_ORDER; ORDER_KEY=5000002; "),
              std::string::npos);
    EXPECT_TRUE(tickUntil(
        [&] { return view.ownOrders.empty() && session->ladder().cell(21, LadderGrid::OwnBuy).empty(); }));
    EXPECT_EQ(session->ladder().cell(byHand, LadderGrid::OwnBuy), "2");
}

// Whether the terminal moves the order or answers that it cannot, it ends alone at its new price.
TEST_F(OrderRepliesTest, AnOrderDraggedToAnotherRowRestsThereWithItsQuantity) {
    FakeTransLibrary unused;
    start("TRI", {}, unused);
    buyAtBestBid(3);
    // Shown at once as unanswered; movable once the terminal has placed it.
    ASSERT_TRUE(tickUntil([&] {
        return session->ladder().cell(21, LadderGrid::OwnBuy) == "3" && view.ownOrders.size() == 1;
    })) << logText();
    const std::string target = session->ladder().cell(22, LadderGrid::PriceColumn);
    runLogic([&] { session->MoveOrders(view, LadderGrid::OwnBuy, 21, 22); });
    EXPECT_TRUE(tickUntil([&] {
        const LadderGrid& ladder = session->ladder();
        return ladder.cell(22, LadderGrid::OwnBuy) == "3" && ladder.cell(21, LadderGrid::OwnBuy).empty() &&
               view.ownOrders.size() == 1 && std::to_string(view.ownOrders[0].price) == target &&
               view.ownOrders[0].balance == 3;
    })) << logText();
}

TEST_F(OrderRepliesTest, AWithheldReplyIsToldAfterTheTimeOut) {
    FakeTransLibrary unused;
    start("TRI", {"--withhold-replies"}, unused);
    buyAtBestBid(1);
    const std::string silent = lastTransId();
    ASSERT_TRUE(tickUntil([&] { return view.caption == "Нет ответа терминала на заявку " + silent; })) << view.caption;
    const std::string log = logText();
    EXPECT_EQ(occurrences(log, "no reply to transaction " + silent + " within 1 s"), 1u) << log;
}

TEST_F(OrderRepliesTest, LibraryModeFollowsOrdersByCallbackAndKillAllOnMicexCancelsEachOne) {
    library = standinLibrary();
    ASSERT_TRUE(library->available()) << library->loadError();
    start("DLL", {"--price-band", "1"}, *library, "MICEX");
    ASSERT_TRUE(session->libraryConnected()) << logText();

    buyAt("90000", 1);
    const std::string rejected = lastTransId();
    ASSERT_TRUE(tickUntil([&] { return startsWith(view.caption, "Заявка " + rejected + " отклонена: Цена 90000"); }))
        << view.caption << logText();

    buyAtBestBid(1);
    buyAtBestBid(2);
    // The library reports every order of the instrument, the one placed by hand before this start too.
    ASSERT_TRUE(tickUntil([&] { return view.ownOrders.size() == 3; })) << logText();
    EXPECT_EQ(view.ownOrders[0].number, 5000003u);  // newest first
    EXPECT_EQ(view.ownOrders[1].number, 5000002u);
    EXPECT_EQ(view.ownOrders[2].number, 5000001u);
    EXPECT_EQ(view.ownOrders[2].balance, 2);

    runLogic([&] { session->ClearAllOrders(view); });
    // Sent is not done: the count of cancels done follows their answers.
    EXPECT_EQ(view.caption, "Отправлено снятий: 3");
    EXPECT_TRUE(tickUntil([&] { return view.caption == "Снято заявок: 3"; })) << view.caption;
    const std::string log = logText();
    EXPECT_EQ(occurrences(log, "ACTION=KILL_ORDER; ORDER_KEY="), 3u) << log;
    EXPECT_EQ(occurrences(log, "KILL_ALL_ORDERS"), 0u);
    EXPECT_TRUE(tickUntil([&] {
        return view.ownOrders.empty() && session->ladder().cell(21, LadderGrid::OwnBuy).empty() &&
               session->ladder().cell(rowOfPrice("92347"), LadderGrid::OwnBuy).empty();
    })) << logText();
    runLogic([&] { session->ClearAllOrders(view); });
    EXPECT_EQ(view.caption, "Нет известных заявок") << logText();
}

}  // namespace
}  // namespace velmora
