#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>

#include <filesystem>

#include "core/session.h"
#include "ladder/ladder_grid.h"
#include "platform/text_encoding.h"
#include "support/fake_platform.h"
#include "support/fake_view.h"

namespace velmora {
namespace {

using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

// Mode SCRIPT with no terminal process and no sec.dat: everything comes through the FIFO,
// written here by hand as velmora.lua would.
class ScriptModeTest : public ::testing::Test, protected testing::FakePlatform {
protected:
    ScriptModeTest() : session(platform()) {
        session.ProgramDir = programFolder.path();
        session.linkNow = [this] { return now; };
        writeFile(programFolder.file("Velmora.ini"),
                  "[COMMON]\r\nQuikPath=" + quikFolder.path() +
                      "\r\nBookSource=script\r\nOutputWay=TRI\r\nLogLevel=1\r\n[SCRIPT]\r\n"
                      "Instruments=SPBFUT:SiZ6, TQBR:SBER\r\n[DEFAULT]\r\nDefaultContract=SiZ6\r\n"
                      "[POSITION]\r\nDOMRowCount=11\r\n");
    }
    ~ScriptModeTest() override {
        if (writer >= 0) ::close(writer);
    }

    void connectWriter() {
        writer = ::open((quikFolder.path() + "velmora-link.fifo").c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(writer, 0);
    }
    void send(const std::string& lines) {
        const std::string bytes = utf8ToCp1251(lines);
        ASSERT_EQ(::write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        session.PollScriptLink(view);
    }
    void tick(std::chrono::milliseconds later) {
        now += later;
        session.RefreshTick(view);
    }
    // Rows 1.. of the ladder as "price sell buy".
    std::vector<std::string> ladderRows() const {
        std::vector<std::string> rows;
        for (int r = 1; r < session.ladder.rowCount() - 1; ++r)
            if (!session.ladder.cell(r, LadderGrid::PriceColumn).empty())
                rows.push_back(session.ladder.cell(r, LadderGrid::PriceColumn) + " " +
                               session.ladder.cell(r, LadderGrid::SellQuantity) + " " +
                               session.ladder.cell(r, LadderGrid::BuyQuantity));
        return rows;
    }
    std::string trades() const { return readFile(quikFolder.file("quik.tri")); }

    TempFolder programFolder, quikFolder;
    Session session;
    testing::FakeView view;
    LinkTime now{std::chrono::seconds(1000)};
    int writer = -1;
};

const char* const lostCaption = "Нет связи со скриптом velmora.lua";

TEST_F(ScriptModeTest, TheLadderFollowsTheScriptsBooksAndItsComingAndGoing) {
    session.InitAll(view);
    ASSERT_TRUE(session.scriptMode());
    EXPECT_EQ(session.terminal.process(), nullptr);
    EXPECT_EQ(readFile(quikFolder.file("velmora-link.txt")),
              "velmora-link 1\r\nstream=" + quikFolder.path() + "velmora-link.fifo\r\nwant=SPBFUT:SiZ6,TQBR:SBER\r\n");
    ASSERT_EQ(view.items.size(), 2u);
    EXPECT_EQ(view.items[static_cast<std::size_t>(view.selected)].ticker, "SiZ6");
    EXPECT_FALSE(view.ladderLive);
    EXPECT_EQ(view.caption, lostCaption);
    EXPECT_TRUE(view.timerEnabled);

    connectWriter();
    send("velmora-link\t1\ttest\nalive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi-12.26\n");
    EXPECT_FALSE(view.ladderLive);  // no book yet
    const int repaints = view.ladderRepaints;
    send("book\tSPBFUT\tSiZ6\t95100:3,95090:4\t95120:1,95110:2\n");
    EXPECT_GT(view.ladderRepaints, repaints);  // at once, not on the next tick
    EXPECT_TRUE(view.ladderLive);
    EXPECT_EQ(ladderRows(), (std::vector<std::string>{"95120 1 ", "95110 2 ", "95100  3", "95090  4"}));

    // Bad lines change nothing, a price off the security's decimals included.
    send("book\tSPBFUT\tSiZ6\t95100:3,95100:4\t\nbook\tSPBFUT\tSiZ6\t95100.5:1\t\n");
    EXPECT_EQ(ladderRows().size(), 4u);
    EXPECT_EQ(session.script->droppedLines(), 2u);
    // The script's order reports fill "Заявки", whoever placed the order.
    send("order\t77\t0\t1\tSPBFUT\tSiZ6\t95100\t1\t1\norder\t78\t0\t5\tSPBFUT\tSiZ6\t95120\t2\t2\n");
    tick(std::chrono::milliseconds(10));
    ASSERT_EQ(view.ownOrders.size(), 2u);
    EXPECT_EQ(view.ownOrders[1].number, 77u);
    EXPECT_EQ(view.ownOrders[0].side, Side::Sell);
    send("order\t78\t0\t2\tSPBFUT\tSiZ6\t95120\t2\t2\n");  // cancelled
    tick(std::chrono::milliseconds(10));
    ASSERT_EQ(view.ownOrders.size(), 1u);
    EXPECT_EQ(view.ownOrders[0].number, 77u);

    send("pos\tSPBFUT\tSiZ6\tF\t-2\t95130\t40.5\n");
    EXPECT_EQ(view.position, "Позиция: -2 по 95130, вар. маржа 40.50, прибыль 40 пт");
    session.orders.MarketBuy(view);
    EXPECT_NE(trades().find("CLASSCODE=SPBFUT; SECCODE=SiZ6;"), std::string::npos) << trades();

    // Quiet for 2 s: lost, orders refused; any line brings it back.
    tick(std::chrono::milliseconds(1900));
    EXPECT_TRUE(view.ladderLive);
    tick(std::chrono::milliseconds(200));
    EXPECT_FALSE(view.ladderLive);
    EXPECT_EQ(view.caption, lostCaption);
    const std::string sent = trades();
    session.orders.MarketBuy(view);
    EXPECT_EQ(trades(), sent);
    send("alive\t1\nbook\tSPBFUT\tSiZ6\t95100:5\t95110:2\n");
    EXPECT_TRUE(view.ladderLive);
    EXPECT_EQ(ladderRows(), (std::vector<std::string>{"95110 2 ", "95100  5"}));

    // bye: lost at once; the script gone and started again is followed.
    send("bye\n");
    EXPECT_FALSE(view.ladderLive);
    ::close(writer);
    writer = -1;
    tick(std::chrono::milliseconds(10));
    connectWriter();
    send("velmora-link\t1\ttest\n");
    tick(std::chrono::milliseconds(10));
    EXPECT_FALSE(view.ladderLive);  // the old book proves nothing
    send("book\tSPBFUT\tSiZ6\t95105:1\t95115:1\n");
    EXPECT_TRUE(view.ladderLive);
    EXPECT_EQ(ladderRows(), (std::vector<std::string>{"95115 1 ", "95105  1"}));

    session.DoneAll();
    EXPECT_FALSE(std::filesystem::exists(quikFolder.file("velmora-link.txt")));
}

// A hostile stream for a while: random bytes, cut lines, lines that almost parse, between good
// books. Nothing crashes, and the ladder only ever shows a good book, whole.
TEST_F(ScriptModeTest, AHostileStreamNeverShowsABadBook) {
    session.InitAll(view);
    connectWriter();
    send("velmora-link\t1\ttest\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\n");
    std::mt19937 random(20261210);
    const std::vector<std::string> good = {"book\tSPBFUT\tSiZ6\t95100:3,95090:4\t95120:1,95110:2\n",
                                           "book\tSPBFUT\tSiZ6\t95105:1\t95115:6\n"};
    const std::vector<std::vector<std::string>> shown = {{"95120 1 ", "95110 2 ", "95100  3", "95090  4"},
                                                         {"95115 6 ", "95105  1"}};
    const std::vector<std::string> nearMisses = {
        "book\tSPBFUT\tSiZ6\t95100:-3\t95120:1\n", "book\tSPBFUT\tSiZ6\t95130:1\t95120:1\n",
        "book\tSPBFUT\tSiZ6\t95100:3\t95120:1e400\n", "book\tSPBFUT\tSiZ6\t9a5100:3\t\n",
        "order\t\t\t\t\n", "pos\tSPBFUT\tSiZ6\tF\tnan\t1\t\n", "book\tSPBFUT\tSiZ6\t95100:3:4\t\n"};
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        switch (random() % 3) {
            case 0: bytes = nearMisses[random() % nearMisses.size()]; break;
            case 1:
                for (int i = 0; i < 200; ++i) bytes += static_cast<char>(random() % 256);
                bytes += '\n';
                break;
            default: {
                const std::size_t pick = random() % good.size();
                bytes = good[pick];
                ASSERT_EQ(::write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
                session.PollScriptLink(view);
                ASSERT_EQ(ladderRows(), shown[pick]) << round;
                continue;
            }
        }
        ASSERT_EQ(::write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        const std::vector<std::string> before = ladderRows();
        session.PollScriptLink(view);
        ASSERT_EQ(ladderRows(), before) << round;
    }
    EXPECT_GT(session.script->droppedLines(), 1000u);
}

}  // namespace
}  // namespace velmora
