#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>

#include <filesystem>
#include <fstream>

#include "support/script_session.h"
#include "support/unwritable.h"

namespace velmora {
namespace {

using testing::readFile;
using testing::rowOf;
using testing::ScriptModeTest;
using testing::startsWith;
using testing::TempFolder;
using testing::writeFile;

const char* const lostCaption = "Нет связи со скриптом velmora.lua";

TEST_F(ScriptModeTest, TheLadderFollowsTheScriptsBooksAndItsComingAndGoing) {
    session.InitAll(view);
    ASSERT_TRUE(session.booksArriveBetweenTicks());
    EXPECT_EQ(session.terminal().process(), nullptr);
    EXPECT_EQ(readFile(requestPath()), expectedRequest("SPBFUT:SiZ6,TQBR:SBER"));
    ASSERT_EQ(view.items.size(), 2u);
    EXPECT_EQ(view.items[static_cast<std::size_t>(view.selected)].ticker, "SiZ6");
    EXPECT_FALSE(view.ladderLive);
    EXPECT_EQ(view.caption, lostCaption);
    EXPECT_TRUE(view.timerEnabled);

    connectWriter();
    send(hello() + "alive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi-12.26\n");
    EXPECT_FALSE(view.ladderLive);  // no book yet
    const int repaints = view.ladderRepaints;
    send("book\tSPBFUT\tSiZ6\t95100:3,95090:4\t95120:1,95110:2\n");
    EXPECT_GT(view.ladderRepaints, repaints);  // at once, not on the next tick
    EXPECT_TRUE(view.ladderLive);
    EXPECT_EQ(ladderRows(), (std::vector<std::string>{"95120 1 ", "95110 2 ", "95100  3", "95090  4"}));

    // Bad lines change nothing, a price off the security's decimals included.
    send("book\tSPBFUT\tSiZ6\t95100:3,95100:4\t\nbook\tSPBFUT\tSiZ6\t95100.5:1\t\n");
    EXPECT_EQ(ladderRows().size(), 4u);
    EXPECT_EQ(scriptLink().droppedLines(), 2u);
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
    session.MarketBuy(view);
    EXPECT_NE(trades().find("CLASSCODE=SPBFUT; SECCODE=SiZ6;"), std::string::npos) << trades();

    // Quiet for 2 s: lost, orders refused; any line brings it back.
    tick(std::chrono::milliseconds(1900));
    EXPECT_TRUE(view.ladderLive);
    tick(std::chrono::milliseconds(200));
    EXPECT_FALSE(view.ladderLive);
    EXPECT_EQ(view.caption, lostCaption);
    const std::string sent = trades();
    session.MarketBuy(view);
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
    send(hello());
    tick(std::chrono::milliseconds(10));
    EXPECT_FALSE(view.ladderLive);  // the old book proves nothing
    send("book\tSPBFUT\tSiZ6\t95105:1\t95115:1\n");
    EXPECT_TRUE(view.ladderLive);
    EXPECT_EQ(ladderRows(), (std::vector<std::string>{"95115 1 ", "95105  1"}));

    const std::string fifo = streamPath();
    session.DoneAll();
    EXPECT_FALSE(std::filesystem::exists(requestPath()));
    EXPECT_FALSE(std::filesystem::exists(fifo));
}

TEST_F(ScriptModeTest, ATerminalOffItsServerShowsNoLiveBookUntilABookAfterItIsBack) {
    session.InitAll(view);
    connectWriter();
    send(hello() + "alive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\n"
         "book\tSPBFUT\tSiZ6\t95100:3\t95110:2\n");
    ASSERT_TRUE(view.ladderLive);

    send("alive\t0\n");
    EXPECT_FALSE(view.ladderLive);
    EXPECT_EQ(view.caption, "Терминал не подключён к серверу");
    session.MarketBuy(view);
    session.LadderMouseDown(view, MouseButton::Left, false, LadderGrid::SellQuantity,
                                   rowOf(session.ladder(), "95110"));
    tick(std::chrono::milliseconds(100));
    EXPECT_EQ(trades().find("NEW_ORDER"), std::string::npos);
    // Books while it is away, and the last one before it came back, are not the market's.
    send("book\tSPBFUT\tSiZ6\t95101:3\t95111:2\nalive\t0\nalive\t1\n");
    tick(std::chrono::milliseconds(100));
    EXPECT_FALSE(view.ladderLive);
    send("book\tSPBFUT\tSiZ6\t95102:3\t95112:2\n");
    EXPECT_TRUE(view.ladderLive);
    session.MarketBuy(view);
    EXPECT_NE(trades().find("PRICE=95112;"), std::string::npos) << trades();
}

TEST_F(ScriptModeTest, ACrossedBookIsAnAuctionShownAsItIsWithLimitOrdersOnly) {
    session.InitAll(view);
    connectWriter();
    send(hello() + "alive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\n"
         "book\tSPBFUT\tSiZ6\t95130:1,95100:3\t95120:2\n");
    EXPECT_TRUE(view.ladderLive);
    EXPECT_EQ(ladderRows(), (std::vector<std::string>{"95120 2 ", "95130  1", "95100  3"}));
    EXPECT_EQ(view.caption, "Стакан пересечён: аукцион");
    EXPECT_TRUE(view.infoVisible);

    session.MarketBuy(view);
    session.MarketSell(view);
    EXPECT_EQ(trades().find("NEW_ORDER"), std::string::npos);
    EXPECT_EQ(view.caption, "Стакан пересечён (аукцион): рыночная заявка не отправлена");
    session.LadderMouseDown(view, MouseButton::Left, false, LadderGrid::SellQuantity,
                                   rowOf(session.ladder(), "95120"));
    EXPECT_NE(trades().find("PRICE=95121; OPERATION=B;"), std::string::npos) << trades();

    send("book\tSPBFUT\tSiZ6\t95100:3\t95120:2\n");
    tick(std::chrono::milliseconds(100));
    EXPECT_FALSE(view.infoVisible);
}

TEST_F(ScriptModeTest, BookLinesRejectedForASecondStopTheLadderUntilAGoodBook) {
    session.InitAll(view);
    connectWriter();
    send(hello() + "alive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\n"
         "book\tSPBFUT\tSiZ6\t95100:3\t95110:2\n");
    const std::string duplicate = "book\tSPBFUT\tSiZ6\t95100:3,95100:4\t95110:2\n";
    for (int i = 0; i < 10; ++i) {
        send("alive\t1\n" + duplicate);
        tick(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(view.ladderLive);  // a glitch under a second is no stale book
    tick(std::chrono::milliseconds(150));
    send(duplicate + "book\tTQBR\tSBER\t300:1\t301:1\n");  // another instrument's good book
    EXPECT_FALSE(view.ladderLive);
    EXPECT_EQ(view.caption, "Стакан не обновляется: строки скрипта отклонены");
    session.MarketBuy(view);
    EXPECT_EQ(trades().find("NEW_ORDER"), std::string::npos);

    send("book\tSPBFUT\tSiZ6\t95101:3\t95111:2\n");
    EXPECT_TRUE(view.ladderLive);
    tick(std::chrono::milliseconds(100));
    EXPECT_TRUE(view.ladderLive);
}

TEST_F(ScriptModeTest, DefaultContractIgnoresLetterCase) {
    writeFile(programFolder.file("Velmora.ini"),
              "[COMMON]\r\nQuikPath=" + quikFolder.path() +
                  "\r\nBookSource=SCRIPT\r\nOutputWay=TRI\r\n[SCRIPT]\r\nInstruments=SPBFUT:SiZ6,SPBFUT:GZZ6\r\n"
                  "[DEFAULT]\r\nDefaultContract=spbfut:gzz6\r\n");
    session.InitAll(view);
    EXPECT_EQ(readFile(requestPath()), expectedRequest("SPBFUT:SiZ6,SPBFUT:GZZ6"));
    ASSERT_GE(view.selected, 0);
    EXPECT_EQ(view.items[static_cast<std::size_t>(view.selected)].ticker, "GZZ6");
    connectWriter();
    send(hello() + "alive\t1\nsec\tSPBFUT\tGZZ6\t0\t1\t1\tGAZR\nbook\tSPBFUT\tGZZ6\t140:1\t141:1\n");
    EXPECT_TRUE(view.ladderLive);
    EXPECT_EQ(ladderRows(), (std::vector<std::string>{"141 1 ", "140  1"}));
}

// Whatever takes the FIFO's place while the program runs is never read; the panel says what is
// in the way, the script is told nothing (no request file, so it writes nowhere), and the link
// comes back by itself once the blocker goes.
TEST_F(ScriptModeTest, SomethingInTheStreamsPlaceIsToldAndTheLinkComesBackWhenItGoes) {
    session.InitAll(view);
    const std::string fifo = streamPath();
    const std::string request = requestPath();
    connectWriter();
    send(hello() + "sec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\nbook\tSPBFUT\tSiZ6\t95100:3\t95120:1\n");
    ASSERT_TRUE(view.ladderLive);

    ::close(writer);
    writer = -1;
    std::filesystem::remove(fifo);
    writeFile(fifo, hello() + "alive\t1\nbook\tSPBFUT\tSiZ6\t95105:1\t95115:1\n");
    const std::string reason = "на месте канала " + fifo + " обычный файл";
    for (int second = 0; second <= 120; ++second) {
        tick(std::chrono::seconds(1));
        ASSERT_FALSE(view.ladderLive);
        ASSERT_EQ(view.caption, std::string(lostCaption) + ": " + reason);
        ASSERT_FALSE(std::filesystem::exists(request));
    }
    EXPECT_EQ(ladderRows(), (std::vector<std::string>{"95120 1 ", "95100  3"}));
    const std::string log = logText();
    EXPECT_EQ(testing::occurrences(log, "link: " + reason + "; tried again every 5 s"), 3u) << log;
    EXPECT_EQ(testing::occurrences(log, "(11 repeats not logged since)"), 2u) << log;

    std::filesystem::remove(fifo);
    tick(std::chrono::seconds(5));
    EXPECT_TRUE(std::filesystem::exists(request));
    connectWriter();
    send(hello() + "book\tSPBFUT\tSiZ6\t95105:1\t95115:1\n");
    EXPECT_TRUE(view.ladderLive);
}

// A QuikPath this user may not write: one text in the user's language naming the file and why;
// the link, in the user's own folder, is not hindered.
TEST_F(ScriptModeTest, AnUnwritableQuikFolderIsToldOnceNamingTheFileAndWhy) {
    testing::Unwritable locked(quikFolder.path());
    if (testing::canCreateIn(quikFolder.path())) GTEST_SKIP() << "cannot take write access to a folder here";
    session.InitAll(view);
    EXPECT_EQ(sink.shown, (std::vector<std::string>{"Файл " + quikFolder.file("quik.tri") + " не очищен: нет доступа"}));
    EXPECT_EQ(view.caption, lostCaption);
    EXPECT_TRUE(std::filesystem::exists(requestPath()));
}

// The script is there but nothing asked of it can show: the panel and the log name the setting,
// and never DOMBASE, which this mode does not use.
TEST_F(ScriptModeTest, ABookThatCannotShowNamesTheSettingNotTheScriptOrDombase) {
    const std::pair<const char*, std::string> cases[] = {
        {"SPBFUT:SiZ6", "Инструмента GZZ6 нет среди [SCRIPT] Instruments"},
        {"", "[SCRIPT] Instruments не называет ни одного инструмента: показывать нечего"}};
    for (const auto& [instruments, caption] : cases) {
        WriteProfileString(programFolder.file("Velmora.ini"), "SCRIPT", "Instruments", instruments);
        WriteProfileString(programFolder.file("Velmora.ini"), "DEFAULT", "DefaultContract", "GZZ6");
        Session fresh(platform(), options());
        fresh.InitAll(view);
        const int script = ::open(streamPath().c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(script, 0);
        const std::string greeting = hello();
        ASSERT_EQ(::write(script, greeting.data(), greeting.size()), static_cast<ssize_t>(greeting.size()));
        for (int i = 0; i < 12; ++i) {
            now += std::chrono::milliseconds(100);
            fresh.RefreshTick(view);
        }
        ::close(script);
        EXPECT_FALSE(view.ladderLive);
        EXPECT_EQ(view.caption, caption);
        EXPECT_EQ(logText().find("DOMBASE"), std::string::npos) << logText();
        fresh.DoneAll();
    }
}

// The script goes quiet with an order unanswered: both are said. Its late answer, by the script
// and by the results file alike, replaces the silence once, in the panel and in the log.
TEST_F(ScriptModeTest, ALateAnswerReplacesTheSilenceToldBesideTheLostLink) {
    WriteProfileString(programFolder.file("Velmora.ini"), "COMMON", "LogLevel", "2");
    session.InitAll(view);
    connectWriter();
    send(hello() + "sec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\nbook\tSPBFUT\tSiZ6\t95100:3\t95120:1\n");
    session.MarketBuy(view);
    const std::string id = std::to_string(session.nextTransId() - 1);
    for (int second = 0; second < 6; ++second) tick(std::chrono::seconds(1));
    const std::string silence = "Нет ответа терминала на заявку " + id;
    EXPECT_EQ(view.caption, std::string(lostCaption) + "\n" + silence);

    const std::string text = "(160) Заявка на покупку N 42 зарегистрирована.";
    std::ofstream(quikFolder.file("quik.tro"), std::ios::app | std::ios::binary)
        << utf8ToCp1251("TRANS_ID=" + id + ";STATUS=3;TRANS_NAME=\"Ввод заявки\"; DESCRIPTION=\"" + text +
                        "\"; ORDER_NUMBER=42;\r\n");
    send("alive\t1\nreply\t" + id + "\t3\t42\tSPBFUT\tSiZ6\t" + text + "\n");
    tick(std::chrono::milliseconds(10));
    tick(std::chrono::milliseconds(10));
    EXPECT_TRUE(view.ladderLive);
    EXPECT_EQ(view.caption, "Заявка " + id + " принята терминалом с опозданием: " + text);
    EXPECT_EQ(testing::occurrences(logText(), "reply to transaction " + id + ": status 3"), 1u) << logText();
}

// A hostile stream for a while: random bytes, cut lines, lines that almost parse, between good
// books. Nothing crashes, and the ladder only ever shows a good book, whole.
TEST_F(ScriptModeTest, AHostileStreamNeverShowsABadBook) {
    session.InitAll(view);
    connectWriter();
    send(hello() + "sec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\n");
    std::mt19937 random(20261210);
    const std::vector<std::string> good = {"book\tSPBFUT\tSiZ6\t95100:3,95090:4\t95120:1,95110:2\n",
                                           "book\tSPBFUT\tSiZ6\t95105:1\t95115:6\n"};
    const std::vector<std::vector<std::string>> shown = {{"95120 1 ", "95110 2 ", "95100  3", "95090  4"},
                                                         {"95115 6 ", "95105  1"}};
    const std::vector<std::string> nearMisses = {
        "book\tSPBFUT\tSiZ6\t95100:-3\t95120:1\n", "book\tSPBFUT\tSiZ6\t95100:0\t95120:1\n",
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
                session.PollBooks(view);
                ASSERT_EQ(ladderRows(), shown[pick]) << round;
                continue;
            }
        }
        ASSERT_EQ(::write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        const std::vector<std::string> before = ladderRows();
        session.PollBooks(view);
        ASSERT_EQ(ladderRows(), before) << round;
    }
    EXPECT_GT(scriptLink().droppedLines(), 1000u);
}

// Orders through the script: one line each in this run's command file, on the stream they were
// made for; the account the terminal lists for the class, or none when that is not one; the
// script's refusals in the panel, and an answer given again by a restarted script changes nothing.
TEST_F(ScriptModeTest, OrdersGoToTheScriptWithTheAccountOfTheClassAndItsRefusalsAreShown) {
    WriteProfileString(programFolder.file("Velmora.ini"), "COMMON", "OutputWay", "SCRIPT");
    session.InitAll(view);
    const std::string commands = requestValue("commands");
    ASSERT_EQ(commands, linkFolder() + "velmora-1-" + requestValue("run") + ".cmd");
    const std::string header = "velmora-commands\t2\t" + requestValue("run") + "\t1\r\n";
    connectWriter();
    send(hello() + "alive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\nbook\tSPBFUT\tSiZ6\t95100:3\t95120:1\n"
                   "account\tA1\t|SPBFUT|\naccount\tA2\tSPBFUT|SPBOPT\n");
    const auto order = [&] {
        session.SendNewOrder(Side::Buy, 1, 95100);
        return std::to_string(session.nextTransId() - 1);
    };
    const std::string first = order();
    EXPECT_EQ(view.caption, "Заявка " + first +
                                " не отправлена: счёт не выбран: класс SPBFUT торгуется на счетах A1, A2; укажите ACCOUNT");
    EXPECT_EQ(readFile(commands), header);

    send("account\tA2\t|TQBR|\n");
    const std::string second = order();
    const std::string written = readFile(commands).substr(header.size());
    EXPECT_TRUE(startsWith(written, "1\tL1\t")) << written;
    EXPECT_NE(written.find("\tTRANS_ID=" + second + "; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=NEW_ORDER;"),
              std::string::npos)
        << written;
    EXPECT_TRUE(written.size() > 2 && written.compare(written.size() - 2, 2, "\r\n") == 0);
    EXPECT_NE(logText().find("account A1 taken for class SPBFUT"), std::string::npos);

    send("cmd\t1\trefused\t" + second + "\tНедостаточно средств\n");
    tick(std::chrono::milliseconds(10));
    EXPECT_EQ(view.caption, "Заявка " + second + " не отправлена: Недостаточно средств");
    const std::string third = order();
    send("cmd\t2\tstale\t" + third + "\tstream L0\n");
    tick(std::chrono::milliseconds(10));
    const std::string stale =
        "Заявка " + third + " не отправлена: скрипт получил её поздно или после разрыва связи (stream L0)";
    EXPECT_EQ(view.caption, stale);
    send("cmd\t1\tstale\t" + second + "\tstream L0\n");
    tick(std::chrono::milliseconds(10));
    EXPECT_EQ(view.caption, stale);

    session.DoneAll();
    EXPECT_FALSE(std::filesystem::exists(commands));
}

// Two runs on one machine keep apart: each its own slot, request and stream, TRANS_IDs from blocks
// apart; the second leaves the exchange files the first may be writing alone, and a stream that
// greets with the other run's id shows nothing.
TEST_F(ScriptModeTest, TwoRunsOnOneMachineKeepApart) {
    session.InitAll(view);
    const std::string order = "TRANS_ID=7; ACTION=NEW_ORDER;\r\n";
    writeFile(quikFolder.file("quik.tri"), order);
    TempFolder otherProgram;
    writeFile(otherProgram.file("Velmora.ini"), "[COMMON]\r\nQuikPath=" + quikFolder.path() +
                                                    "\r\nBookSource=SCRIPT\r\nOutputWay=TRI\r\n[SCRIPT]\r\n"
                                                    "Instruments=TQBR:SBER\r\n");
    Session other(platform(), SessionOptions{otherProgram.path()});
    testing::FakeView otherView;
    other.InitAll(otherView);

    EXPECT_EQ(readFile(requestPath()), expectedRequest("SPBFUT:SiZ6,TQBR:SBER"));
    const std::string otherRequest = readFile(linkFolder() + "velmora-2.txt");
    EXPECT_NE(otherRequest.find("\r\nwant=TQBR:SBER\r\n"), std::string::npos) << otherRequest;
    EXPECT_EQ(readFile(quikFolder.file("quik.tri")), order);
    EXPECT_EQ(session.nextTransId() >> 27, 1);
    EXPECT_EQ(other.nextTransId() >> 27, 2);

    connectWriter();
    send("velmora-link\t2\ttest\t" + requestValue(otherRequest, "run") +
         "\tL1\nalive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\nbook\tSPBFUT\tSiZ6\t95100:3\t95120:1\n");
    tick(std::chrono::milliseconds(10));
    EXPECT_FALSE(view.ladderLive);
    EXPECT_NE(logText().find("a stream of another run"), std::string::npos);
    other.DoneAll();
    EXPECT_FALSE(std::filesystem::exists(linkFolder() + "velmora-2.txt"));
    EXPECT_TRUE(std::filesystem::exists(requestPath()));
}

// The ladder of prices: rows a step apart around the spread. The book moving while the pointer is
// over the ladder moves no row (the band says where the market went) until the pointer leaves; a
// click on a row without a level orders at that row's price.
TEST_F(ScriptModeTest, ThePricesLadderHoldsItsRowsUnderThePointer) {
    WriteProfileString(programFolder.file("Velmora.ini"), "COMMON", "LadderMode", "prices");
    session.InitAll(view);
    connectWriter();
    send(hello() + "alive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\nbook\tSPBFUT\tSiZ6\t95100:3\t95102:1\n");
    const std::vector<std::string> around = {"95106  ", "95105  ", "95104  ", "95103  ", "95102 1 ",
                                             "95101  ", "95100  3", "95099  ", "95098  "};
    EXPECT_EQ(ladderRows(), around);

    session.setPointerOverLadder(true);
    send("book\tSPBFUT\tSiZ6\t95200:1\t95202:2\n");
    std::vector<std::string> held = around;
    held[4] = "95102  ";
    held[6] = "95100  ";
    EXPECT_EQ(ladderRows(), held);
    EXPECT_EQ(session.ladderAway(), PriceAxis::Away::Above);
    session.setPointerOverLadder(false);
    EXPECT_EQ(session.ladderAway(), PriceAxis::Away::None);
    EXPECT_EQ(ladderRows()[4], "95202 2 ");

    // Row 3 is 95204, where nobody offers: a buy there all the same.
    view.orderShift = 0;
    session.LadderMouseDown(view, MouseButton::Left, false, LadderGrid::SellQuantity, 3);
    EXPECT_NE(trades().find("PRICE=95204; OPERATION=B;"), std::string::npos) << trades();
    session.ScrollLadder(2);
    EXPECT_EQ(ladderRows()[0], "95208  ");
}

// A pipe may hand over the orders resting from before ahead of their instrument's sec line: they
// wait for it rather than being passed over, and show in the tab and on the ladder.
TEST_F(ScriptModeTest, OrdersThatComeBeforeTheirInstrumentAreKept) {
    session.InitAll(view);
    connectWriter();
    send(hello() + "alive\t1\norder\t76\t0\t9\tSPBFUT\tSiZ6\t95090\t2\t2\n");
    tick(std::chrono::milliseconds(10));
    send("sec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\nbook\tSPBFUT\tSiZ6\t95090:4\t95120:1\n");
    ASSERT_EQ(view.ownOrders.size(), 1u);
    EXPECT_EQ(view.ownOrders[0].number, 76u);
    EXPECT_EQ(session.ladder().cell(rowOf(session.ladder(), "95090"), LadderGrid::OwnBuy), "2");
}

// The tape: volumes add up per price (a trade told twice counts once), the last trade is marked
// with its side, and a tape silent for a minute while the book moves is told once.
TEST_F(ScriptModeTest, TheTapeAddsUpPerPriceAndItsSilenceIsToldOnce) {
    session.InitAll(view);
    connectWriter();
    send(hello() + "alive\t1\nsec\tSPBFUT\tSiZ6\t0\t1\t1\tSi\t1\n"
         "book\tSPBFUT\tSiZ6\t95100:3\t95110:2\n"
         "tape\tSPBFUT\tSiZ6\t11\t2\t95110\t4\t10:00:00.000\n"
         "tape\tSPBFUT\tSiZ6\t11\t2\t95110\t4\t10:00:00.000\n"
         "tape\tSPBFUT\tSiZ6\t12\t1\t95110\t1\t\n"
         "tape\tSPBFUT\tSiZ6\t13\t0\t95100\t6\t\n"
         "tape\tSPBFUT\tSiZ6\t14\t1\t95100\t2\t\n");
    ASSERT_TRUE(view.ladderLive);
    const LadderGrid& ladder = session.ladder();
    const int ask = rowOf(ladder, "95110"), bid = rowOf(ladder, "95100");
    EXPECT_EQ(ladder.cell(ask, LadderGrid::Volume), "5");
    EXPECT_EQ(ladder.look(ask, LadderGrid::Volume).marks, CellLook::BuysLead);
    // Neither side leads where the unknown traded most; the last trade was a sell of 2 here.
    EXPECT_EQ(ladder.cell(bid, LadderGrid::Volume), "8");
    EXPECT_EQ(ladder.look(bid, LadderGrid::Volume).marks, CellLook::LastTrade | CellLook::LastSell);
    EXPECT_EQ(ladder.look(bid, LadderGrid::Volume).size, 2);
    EXPECT_EQ(ladder.barScale(LadderGrid::Volume), 8);

    const std::string told = "no trades of SPBFUT:SiZ6 for 60 s while its book moves";
    for (int i = 0; i < 50; ++i) {
        send("alive\t1\nbook\tSPBFUT\tSiZ6\t95100:" + std::to_string(3 + i % 2) + "\t95110:2\n");
        tick(std::chrono::milliseconds(1500));
    }
    const std::string log = logText();
    ASSERT_NE(log.find(told), std::string::npos) << log;
    EXPECT_EQ(log.find(told), log.rfind(told));
}

}  // namespace
}  // namespace velmora
