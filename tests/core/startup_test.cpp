#include "core/session.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/session.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/alarms.h"
#include "platform/text_encoding.h"
#include "support/fake_view.h"
#include "support/fake_platform.h"
#include "secs/sec_file_builder.h"
#include "terminal/book_layout.h"

namespace velmora {
namespace {

using testing::FakeClock;
using testing::FakeLocale;
using testing::FakeProcessAccess;
using testing::FakeTransLibrary;
using testing::FakeView;
using testing::readFile;
using testing::RecordingMessageSink;
using testing::SecFileBuilder;
using testing::SecRecordBytes;
using testing::BookLayout;
using testing::TempFolder;
using testing::writeFile;

constexpr TerminalAddress base = 0x00401000;

// A program folder and a terminal folder with an empty securities file and a terminal whose chain is empty.
class StartupTest : public ::testing::Test, protected velmora::testing::FakePlatform {
protected:
    StartupTest() : session(platform(), SessionOptions{programFolder.path()}) {
        processAccess.processes = {{7, "explorer.exe"}, {42, "info.exe"}};
        processAccess.memory.writeWord(base, 0);
        writeFile(quikFolder.file("sec.dat"), std::string(32, '\0'));
    }

    void writeIni(const std::string& extra) {
        writeFile(programFolder.file("Velmora.ini"),
                  "[COMMON]\r\nQuikPath=" + quikFolder.path() + "\r\nLogLevel=4\r\n" + extra +
                      "[TECH]\r\nDOMBASE=$401000\r\n[POSITION]\r\nDOMRowCount=41\r\n");
    }

    std::string logText() const { return readFile(programFolder.file("Velmora.log")); }

    TempFolder programFolder, quikFolder;
    Session session;
    FakeView view;
};

TEST_F(StartupTest, RunsEveryStepInOrderAndStartsTheTimer) {
    writeIni("OutputWay=TRI\r\n");
    writeFile(quikFolder.file("quik.tri"), "TRANS_ID=1; stale\r\n");
    session.InitAll(view);

    std::string log = logText();
    auto at = [&](const std::string& text) { return log.find(text); };
    ASSERT_NE(at("Starting..."), std::string::npos) << log;
    EXPECT_LT(at("Starting..."), at("CheckMainStartupSettings..."));
    EXPECT_LT(at("CheckMainStartupSettings..."), at("LoadSecs..."));
    EXPECT_LT(at("LoadSecs..."), at("Load QuoteTables..."));
    EXPECT_NE(at("found QuoteTables:0"), std::string::npos);
    EXPECT_EQ(log.find("InitAll exception:"), std::string::npos);

    EXPECT_EQ(session.terminal().processId(), 42u);
    ASSERT_TRUE(session.terminal().process());
    ASSERT_TRUE(session.securityList());
    EXPECT_EQ(session.securityList()->Count(), 0);
    EXPECT_EQ(session.settings().TRIFileName, quikFolder.file("quik.tri"));
    EXPECT_EQ(readFile(quikFolder.file("quik.tri")), "\r\n");
    EXPECT_EQ(readFile(quikFolder.file("quik.trr")), "\r\n");
    EXPECT_EQ(view.calls, (std::vector<std::string>{"ApplySettingsToWindow", "WriteLadderHeader", "timer on"}));
    EXPECT_EQ(session.ladder().rowCount(), 41);
    EXPECT_TRUE(sink.shown.empty());
}

TEST_F(StartupTest, BadDombaseStopsBeforeStartingAndLeavesTheTimerOff) {
    writeFile(programFolder.file("Velmora.ini"), "[TECH]\r\nDOMBASE=zz\r\n");
    session.InitAll(view);
    std::string log = logText();
    EXPECT_EQ(log.find("Starting..."), std::string::npos);
    EXPECT_NE(log.find("InitAll exception:"), std::string::npos);
    EXPECT_FALSE(view.timerEnabled);
    EXPECT_EQ(processAccess.listCalls, 0);
    // Said in words that name the line to mend, and the program ends.
    EXPECT_EQ(sink.shown, std::vector<std::string>{"Неверное значение в Velmora.ini: [TECH] DOMBASE=zz (нужно целое число)"});
    EXPECT_EQ(view.exitCode, 1);
}

TEST_F(StartupTest, SettingsErrorWithALogThatCannotBeOpenedShowsOnlyItsOwnBox) {
    writeFile(programFolder.file("Velmora.ini"), "[DEFAULT]\r\nMaxOrderQuantity=-3\r\n");
    std::filesystem::create_directory(programFolder.file("Velmora.log"));
    session.InitAll(view);
    EXPECT_FALSE(view.timerEnabled);
    EXPECT_EQ(sink.shown, std::vector<std::string>{"Неверное значение в Velmora.ini: [DEFAULT] MaxOrderQuantity=-3 "
                                                   "(оно не может быть меньше нуля)"});
}

TEST_F(StartupTest, MissingSecuritiesFileEndsWithNonZeroCode) {
    writeIni("");
    std::remove(quikFolder.file("sec.dat").c_str());
    session.InitAll(view);
    // The path looked for goes with the text, on a line of its own.
    const std::string text = "Неверно указан путь к QUIK в ini-файле  !!!\n" + quikFolder.file("sec.dat");
    ASSERT_EQ(sink.shown, std::vector<std::string>{text});
    EXPECT_EQ(view.exitCode, 1);
    EXPECT_FALSE(view.timerEnabled);
    session.DoneAll();
    EXPECT_NE(logText().find("Closing Velmora..."), std::string::npos);
}

TEST_F(StartupTest, ClosingTheWindowWhileWaitingEndsStartUp) {
    writeIni("OutputWay=dll\r\n");
    processAccess.processes = {{7, "explorer.exe"}};
    int polls = 0;
    view.onEvents = [&] {
        if (++polls == 3) session.FormClose();
    };
    session.InitAll(view);
    EXPECT_TRUE(session.closing());
    EXPECT_FALSE(session.terminal().process());
    EXPECT_TRUE(processAccess.opened.empty());
    EXPECT_EQ(view.settingsApplied, 0);
    EXPECT_TRUE(transLibrary.connectTexts.empty());
    EXPECT_FALSE(view.infoVisible);

    session.DoneAll();
    EXPECT_EQ(transLibrary.disconnects, 1);  // the transLibrary is told even though it never connected
    EXPECT_NE(logText().find("Closing Velmora..."), std::string::npos);
}

TEST_F(StartupTest, LogLevelZeroWritesNoLogButStillEmptiesExchangeFiles) {
    writeIni("OutputWay= tri \r\n");
    std::string ini = readFile(programFolder.file("Velmora.ini"));
    ini.replace(ini.find("LogLevel=4"), 10, "LogLevel=0");
    writeFile(programFolder.file("Velmora.ini"), ini);
    writeFile(programFolder.file("Velmora.log"), "previous run\r\n");
    writeFile(quikFolder.file("quik.tro"), "old reply\r\n");
    session.InitAll(view);
    EXPECT_EQ(logText(), "previous run\r\n");
    EXPECT_EQ(readFile(quikFolder.file("quik.tro")), "\r\n");
    EXPECT_TRUE(view.timerEnabled);
}

class TickTest : public StartupTest {
protected:
    void start(const std::string& extra) {
        writeIni(extra);
        session.InitAll(view);
        ASSERT_TRUE(view.timerEnabled) << logText();
    }
};

TEST_F(TickTest, AnOutputWayThatIsNeitherModeSaysSoAtStartAndForEachOrder) {
    // SPBFUT T1 in the securities file, its empty book the chain's one.
    SecRecordBytes record;
    record.ticker = "T1";
    SecFileBuilder secFile;
    secFile.record(record, 1);
    writeFile(quikFolder.file("sec.dat"), std::string(secFile.bytes.begin(), secFile.bytes.end()));
    BookLayout layout{processAccess.memory};
    processAccess.memory.writeWord(base, 0x500000);
    layout.header(0x500000, 0, 0, 0x600000);
    layout.pointers(0x600000, {});
    start("OutputWay=TRl\r\n[DEFAULT]\r\nDefaultContract=T1\r\n");
    EXPECT_EQ(view.caption, "Заявки не отправляются: OutputWay не TRI, не DLL и не SCRIPT");
    EXPECT_TRUE(view.infoVisible);
    session.RefreshTick(view);
    ASSERT_TRUE(session.instrumentChosen()) << logText();
    const std::int32_t transId = session.nextTransId();
    session.SendNewOrder(Side::Buy, 1, 10000);
    EXPECT_EQ(view.caption, "Заявка " + std::to_string(transId) + " не отправлена: OutputWay не TRI, не DLL и не SCRIPT");
    const std::string log = logText();
    EXPECT_NE(log.find("orders are only logged: OutputWay \"TRl\" is neither TRI, DLL nor SCRIPT"), std::string::npos) << log;
    EXPECT_NE(log.find("transaction not delivered: OutputWay is neither TRI, DLL nor SCRIPT"), std::string::npos) << log;
}

TEST_F(TickTest, ValuesThatWouldSpoilTheWindowFallBackAndAreTold) {
    start("OutputWay=TRI\r\nMarketSpread=-1\r\n[DEFAULT]\r\nDefaultContractCnt=50\r\nMaxOrderQuantity=10\r\n"
          "[HOTKEYS]\r\nMARKETBUY=112\r\nCLEARALL=112\r\n[POSITION]\r\nDOMRowCount=100000000\r\nDOMRowHeight=0\r\n");
    EXPECT_EQ(session.settings().MarketSpread, 0);
    EXPECT_EQ(session.settings().DOMRowCount, 41);
    EXPECT_EQ(session.settings().DOMRowHeight, 15);
    EXPECT_EQ(session.settings().DefaultContractCnt, 10);
    EXPECT_EQ(session.ladder().rowCount(), 41);
    EXPECT_EQ(view.caption, "DefaultContractCnt=50 больше MaxOrderQuantity=10: взято 10\n"
                            "Одна клавиша у двух действий: MARKETBUY и CLEARALL");
    const std::string log = logText();
    for (const char* line : {"[COMMON] MarketSpread=-1 is outside 0..1000: 0 used",
                             "[POSITION] DOMRowCount=100000000 is outside 1..1000: 41 used",
                             "[DEFAULT] DefaultContractCnt=50 is above MaxOrderQuantity=10: 10 used",
                             "[HOTKEYS] MARKETBUY and CLEARALL are the same key 112"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

TEST_F(TickTest, ASecuritiesFileThatDidNotReadIsNamedNotDombase) {
    for (const std::string& bytes : {std::string(), std::string(32, '\0')}) {
        writeFile(quikFolder.file("sec.dat"), bytes);
        start("[DEFAULT]\r\nDefaultContract=SiZ6\r\n");
        for (int tick = 0; tick < NotReadTicks + 1; ++tick) session.RefreshTick(view);
        EXPECT_EQ(view.caption.rfind("Файл sec.dat не прочитан: ", 0), 0u) << view.caption;
        EXPECT_EQ(view.caption.find("DOMBASE"), std::string::npos) << view.caption;
    }
}

TEST_F(TickTest, DiscoveryRunsOnTheFirstTickAndEveryFiftieth) {
    start("");
    processAccess.memory.readCount = 0;
    for (int tick = 0; tick < 101; ++tick) session.RefreshTick(view);
    // One read of the chain head per pass: ticks 0, 50 and 100.
    EXPECT_EQ(processAccess.memory.readCount, 3);
    EXPECT_EQ(session.cycle(), 101u);
}

TEST_F(TickTest, DiscoveryAndLibraryRetryKeepTheirFiveSecondsAtAnyRefreshInterval) {
    transLibrary.connectResult = 3;
    writeIni("OutputWay=DLL\r\n");
    std::string ini = readFile(programFolder.file("Velmora.ini"));
    ini.replace(ini.find("DOMBASE"), 0, "RefreshInterval=16\r\n");
    writeFile(programFolder.file("Velmora.ini"), ini);
    session.InitAll(view);
    ASSERT_TRUE(view.timerEnabled);
    EXPECT_EQ(session.settings().RefreshInterval, 16);
    processAccess.memory.readCount = 0;
    // 313 ticks of 16 ms are 5.008 s: passes on ticks 0 and 313 only.
    for (int tick = 0; tick < 314; ++tick) session.RefreshTick(view);
    EXPECT_EQ(processAccess.memory.readCount, 2);
    EXPECT_EQ(transLibrary.connectTexts.size(), 3u);
    EXPECT_EQ(session.cycle(), 314u);
}

TEST_F(TickTest, RefreshIntervalOutsideTenToThousandGivesTheDefaultAndALogLine) {
    for (std::string text : {"9", "1001", "fast", "-100", "10", "1000"}) {
        writeIni("");
        std::string ini = readFile(programFolder.file("Velmora.ini"));
        ini.replace(ini.find("DOMBASE"), 0, "RefreshInterval=" + text + "\r\n");
        writeFile(programFolder.file("Velmora.ini"), ini);
        writeFile(programFolder.file("Velmora.log"), "");
        session.InitAll(view);
        const bool allowed = text == "10" || text == "1000";
        EXPECT_EQ(session.settings().RefreshInterval, allowed ? std::stoi(text) : 100) << text;
        EXPECT_EQ(logText().find("RefreshInterval") == std::string::npos, allowed) << text;
    }
}

TEST_F(TickTest, ClosedWindowStopsTheTimerWithoutCounting) {
    start("");
    session.RefreshTick(view);
    session.FormClose();
    session.RefreshTick(view);
    EXPECT_FALSE(view.timerEnabled);
    EXPECT_EQ(session.cycle(), 1u);
}

TEST_F(TickTest, LibraryRetryNeedsOutputWayExactlyDll) {
    transLibrary.connectResult = 3;
    start("OutputWay=DLL\r\n");
    EXPECT_EQ(transLibrary.connectTexts.size(), 1u);
    for (int tick = 0; tick < 51; ++tick) session.RefreshTick(view);
    EXPECT_EQ(transLibrary.connectTexts.size(), 3u);  // start-up, tick 0, tick 50
    transLibrary.connectResult = 0;
    for (int tick = 0; tick < 50; ++tick) session.RefreshTick(view);
    EXPECT_TRUE(session.libraryConnected());
    EXPECT_EQ(transLibrary.connectTexts.size(), 4u);
}

TEST_F(TickTest, LowerCaseDllConnectsAtStartButIsNeverRetried) {
    transLibrary.connectResult = 3;
    start("OutputWay=dll\r\n");
    for (int tick = 0; tick < 120; ++tick) session.RefreshTick(view);
    EXPECT_EQ(transLibrary.connectTexts.size(), 1u);
}

TEST_F(TickTest, AlarmBlinksInTheInfoPanel) {
    // Orders that go somewhere: no start-up notice under the alarm. The file is Windows-1251.
    writeIni(utf8ToCp1251("OutputWay=TRI\r\n[ALARMS]\r\nALARM1=09:00 10:00 Обед\r\n"));
    session.InitAll(view);
    ASSERT_TRUE(view.timerEnabled) << logText();
    for (int tick = 0; tick < 10; ++tick) session.RefreshTick(view);
    EXPECT_FALSE(view.infoVisible);
    session.RefreshTick(view);
    EXPECT_TRUE(view.infoVisible);
    EXPECT_EQ(view.caption, " Обед");
    clock.time.hour = 10;
    clock.time.minute = 1;
    session.RefreshTick(view);
    EXPECT_FALSE(view.infoVisible);
}

}  // namespace
}  // namespace velmora
