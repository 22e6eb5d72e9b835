// Mode SCRIPT for real: the stand-in terminal runs velmora.lua under its Lua host, and the
// Session reads the books, orders and the position the script sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "core/session.h"
#include "ladder/ladder_grid.h"
#include "support/standin_session.h"

namespace velmora {
namespace {

using testing::FakeTransLibrary;
using testing::readBookDump;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;
using testing::FakeView;

class ScriptEndToEndTest : public testing::StandinSessionTest {
protected:
    void startWithScript() {
        startTerminal("TRI", 2, {"--script", VELMORA_SOURCE_DIR "/lua/velmora.lua", "--dump-books"});
        WriteProfileString(app.file("Velmora.ini"), "COMMON", "BookSource", "SCRIPT");
        WriteProfileString(app.file("Velmora.ini"), "SCRIPT", "Instruments", "SPBFUT:SiZ6");
        startProgram(static_cast<std::uint32_t>(terminal->pid()), unused);
        ASSERT_TRUE(session->booksArriveBetweenTicks()) << logText();
    }
    // As the window runs it: the stream read as it comes, the timer's ticks between.
    bool runUntil(const std::function<bool()>& ready, int rounds = 200) {
        for (int i = 0; i < rounds; ++i) {
            runLogic([&] { session->PollBooks(view); });
            if (i % 10 == 0) tick();
            if (ready()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    FakeTransLibrary unused;
};

TEST_F(ScriptEndToEndTest, TheLadderOrdersAndPositionComeFromTheScriptAndItsRestartIsFollowed) {
    startWithScript();
    ASSERT_TRUE(runUntil([&] { return view.ladderLive && session->instrumentChosen(); })) << logText();
    EXPECT_TRUE(session->terminal().process() == nullptr);
    const auto books = readBookDump(*terminal);
    ASSERT_TRUE(books.count("SiZ6"));
    // Level by level: every level of the stand-in's book on its row, with its side.
    for (const auto& level : books.at("SiZ6")) {
        bool shown = false;
        for (int row = 1; row < session->ladder().rowCount(); ++row)
            if (session->ladder().cell(row, LadderGrid::PriceColumn) == std::to_string(level.price))
                shown = session->ladder().cell(row, level.side == 'S' ? LadderGrid::SellQuantity
                                                                    : LadderGrid::BuyQuantity) ==
                        std::to_string(level.quantity);
        EXPECT_TRUE(shown) << level.side << " " << level.price << " " << level.quantity;
    }

    // An order through quik.tri, its fate from the script's reports too.
    buyAtBestBid(1);
    EXPECT_TRUE(runUntil([&] {
        for (const OwnOrder& order : view.ownOrders)
            if (order.number == 5000002u) return true;
        return false;
    })) << logText();

    // The host's book has no own quantities: the ladder shows those of the orders reported.
    EXPECT_TRUE(runUntil([&] { return session->ladder().cell(21, LadderGrid::OwnBuy) == "1"; }))
        << session->ladder().cell(21, LadderGrid::OwnBuy);

    // A buy across the best ask trades: the position line follows.
    runLogic([&] { session->MarketBuy(view); });
    EXPECT_TRUE(runUntil([&] { return view.position.rfind("Позиция: 1 по ", 0) == 0; })) << view.position;

    // No base contract comes from the host: the kill-all cancels the orders it reported, one by one.
    runLogic([&] { session->ClearAllOrders(view); });
    EXPECT_EQ(view.caption, "Отправлено снятий: 2");
    EXPECT_TRUE(runUntil([&] { return view.ownOrders.empty() && view.caption == "Снято заявок: 2"; }))
        << view.caption << logText();

    // The script stopped: the ladder is lost at once; another terminal with the script is followed.
    terminal->stop();
    EXPECT_TRUE(runUntil([&] { return !view.ladderLive; }));
    // The kill-all's outcome, while it holds, stays below.
    EXPECT_TRUE(testing::startsWith(view.caption, "Нет связи со скриптом velmora.lua")) << view.caption;
    terminal = serve(quik, {"--script", VELMORA_SOURCE_DIR "/lua/velmora.lua"});
    EXPECT_TRUE(runUntil([&] { return view.ladderLive; })) << logText();
}

// Orders through the script: no file, no library; the account is the terminal's one for the
// class, and the orders' fate comes back on the link.
TEST_F(ScriptEndToEndTest, OrdersGoThroughTheScriptWithTheAccountTheTerminalListsForTheClass) {
    startTerminal("TRI", 2,
                  {"--script", VELMORA_SOURCE_DIR "/lua/velmora.lua", "--trade-accounts", "A1=|SPBFUT|SPBOPT|,A2=|TQBR|"});
    for (const auto& [key, value] : {std::pair<const char*, const char*>{"BookSource", "SCRIPT"},
                                     {"OutputWay", "SCRIPT"},
                                     {"ACCOUNT", ""}})
        WriteProfileString(app.file("Velmora.ini"), "COMMON", key, value);
    WriteProfileString(app.file("Velmora.ini"), "SCRIPT", "Instruments", "SPBFUT:SiZ6");
    startProgram(static_cast<std::uint32_t>(terminal->pid()), unused);
    ASSERT_TRUE(runUntil([&] { return view.ladderLive && session->instrumentChosen(); })) << logText();

    // Beside the order the terminal has resting from before.
    buyAtBestBid(1);
    EXPECT_TRUE(runUntil([&] { return view.ownOrders.size() == 2; })) << view.caption << logText();
    EXPECT_NE(logText().find("account A1 taken for class SPBFUT"), std::string::npos) << logText();
    EXPECT_EQ(readFile(quik.file("quik.tri")).find("NEW_ORDER"), std::string::npos);
    runLogic([&] { session->ClearAllOrders(view); });
    EXPECT_TRUE(runUntil([&] { return view.ownOrders.empty(); })) << view.caption << logText();
}

// The position the script reports is closed: the order resting from before cancelled, then a
// sell of the position's size.
TEST_F(ScriptEndToEndTest, FlattenClosesThePositionTheScriptReports) {
    startWithScript();
    ASSERT_TRUE(runUntil([&] { return view.ladderLive && view.ownOrders.size() == 1; })) << logText();
    view.contracts = 2;
    runLogic([&] { session->MarketBuy(view); });
    ASSERT_TRUE(runUntil([&] { return view.position.rfind("Позиция: 2 по ", 0) == 0; })) << view.position;
    runLogic([&] { session->Flatten(view); });
    EXPECT_TRUE(runUntil([&] { return view.position == "Позиция: 0" && view.ownOrders.empty(); }))
        << view.position << logText();
}

// What the ladder shows beside the book: each quantity's bar against the largest, the volume the
// tape traded at each price and its last trade, the position's entry row and its profit in money.
TEST_F(ScriptEndToEndTest, BarsTheTapeAndThePositionShowOnTheLadder) {
    startTerminal("TRI", 2,
                  {"--script", VELMORA_SOURCE_DIR "/lua/velmora.lua", "--trade-rate", "40", "--step-price", "2.5"});
    WriteProfileString(app.file("Velmora.ini"), "COMMON", "BookSource", "SCRIPT");
    WriteProfileString(app.file("Velmora.ini"), "SCRIPT", "Instruments", "SPBFUT:SiZ6");
    startProgram(static_cast<std::uint32_t>(terminal->pid()), unused);
    ASSERT_TRUE(runUntil([&] { return view.ladderLive && session->instrumentChosen(); })) << logText();
    const LadderGrid& ladder = session->ladder();

    std::int64_t largest = 0;
    for (int row = 1; row < ladder.rowCount(); ++row)
        for (const int column : {LadderGrid::SellQuantity, LadderGrid::BuyQuantity}) {
            const std::string& text = ladder.cell(row, column);
            EXPECT_EQ(ladder.look(row, column).bar, text.empty() ? 0 : std::stoll(text)) << row;
            if (!text.empty()) largest = std::max<std::int64_t>(largest, std::stoll(text));
        }
    EXPECT_GT(largest, 0);
    EXPECT_EQ(ladder.barScale(LadderGrid::SellQuantity), largest);

    // The tape: volumes on the rows of their prices, one row marked with the last trade's size.
    auto lastTradeRow = [&] {
        for (int row = 1; row < ladder.rowCount(); ++row)
            if (ladder.look(row, LadderGrid::Volume).marks & CellLook::LastTrade) return row;
        return -1;
    };
    ASSERT_TRUE(runUntil([&] { return lastTradeRow() > 0; })) << logText();
    const int last = lastTradeRow();
    EXPECT_FALSE(ladder.cell(last, LadderGrid::Volume).empty());
    EXPECT_GE(std::stoll(ladder.cell(last, LadderGrid::Volume)), ladder.look(last, LadderGrid::Volume).size);
    EXPECT_GT(ladder.look(last, LadderGrid::Volume).size, 0);

    // A long position: its entry row marked; its profit in money from the step price.
    view.contracts = 2;
    runLogic([&] { session->MarketBuy(view); });
    ASSERT_TRUE(runUntil([&] { return view.position.rfind("Позиция: 2 по ", 0) == 0; })) << view.position;
    // SiZ6 steps by 1: each point is one step of 2.5.
    const std::size_t points = view.position.find("прибыль ");
    const std::size_t money = view.position.find(" пт = ");
    ASSERT_TRUE(points != std::string::npos && money != std::string::npos) << view.position;
    auto number = [](std::string text) {
        std::replace(text.begin(), text.end(), ',', '.');
        return std::stod(text);
    };
    EXPECT_DOUBLE_EQ(number(view.position.substr(money + std::string(" пт = ").size())),
                     2.5 * number(view.position.substr(points + std::string("прибыль ").size())))
        << view.position;
    EXPECT_TRUE(runUntil([&] {
        for (int row = 1; row < ladder.rowCount(); ++row)
            if (ladder.look(row, LadderGrid::PriceColumn).marks & CellLook::PositionLong) return true;
        return false;
    }));

    // Reset: every volume gone at once.
    runLogic([&] { session->ResetVolume(); });
    for (int row = 1; row < ladder.rowCount(); ++row) EXPECT_EQ(ladder.cell(row, LadderGrid::Volume), "") << row;
    EXPECT_NE(logText().find("traded volumes reset"), std::string::npos);
}

// Two programs on one terminal and one script, each its own folder and instrument: each shows its
// own book live; one ending, and another started in its place at once, disturbs neither.
TEST_F(ScriptEndToEndTest, TwoProgramsOnOneScriptEachShowTheirOwnBookLive) {
    startWithScript();
    ASSERT_TRUE(runUntil([&] { return view.ladderLive && session->instrumentChosen(); })) << logText();
    const auto startOther = [&](TempFolder& folder, FakeView& otherView) {
        writeFile(folder.file("Velmora.ini"), readFile(app.file("Velmora.ini")));
        WriteProfileString(folder.file("Velmora.ini"), "SCRIPT", "Instruments", "SPBFUT:RIZ6");
        WriteProfileString(folder.file("Velmora.ini"), "DEFAULT", "DefaultContract", "RIZ6");
        auto other = std::make_unique<Session>(Platform{*processes, *clock, *locale, messages, unused},
                                               SessionOptions{folder.path()});
        other->InitAll(otherView);
        return other;
    };
    TempFolder otherApp, thirdApp;
    FakeView otherView, thirdView;
    std::unique_ptr<Session> other = startOther(otherApp, otherView);
    const auto bothLive = [&](Session& second, FakeView& secondView) {
        return runUntil([&] {
            second.PollBooks(secondView);
            second.RefreshTick(secondView);
            return view.ladderLive && secondView.ladderLive && second.shownInstrument() &&
                   second.shownInstrument()->Ticker == "RIZ6" && session->shownInstrument()->Ticker == "SiZ6";
        });
    };
    EXPECT_TRUE(bothLive(*other, otherView)) << cp1251ToUtf8(readFile(otherApp.file("Velmora.log")));

    other->DoneAll();
    other.reset();
    std::unique_ptr<Session> third = startOther(thirdApp, thirdView);
    EXPECT_TRUE(bothLive(*third, thirdView)) << cp1251ToUtf8(readFile(thirdApp.file("Velmora.log")));
    // A second later the first still is live: nothing of the others' ending reached it.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_TRUE(runUntil([&] { return view.ladderLive; }, 5));
}

}  // namespace
}  // namespace velmora
