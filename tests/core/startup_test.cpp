#include "core/startup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/program.h"
#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/alarms.h"
#include "platform/text_encoding.h"
#include "support/fake_view.h"
#include "support/fakes.h"

namespace velmora {
namespace {

using testing::FakeClock;
using testing::FakeLocale;
using testing::FakeProcessAccess;
using testing::FakeTransLibrary;
using testing::FakeView;
using testing::readFile;
using testing::RecordingMessageSink;
using testing::TempFolder;
using testing::writeFile;

constexpr TerminalAddress base = 0x00401000;

// A program folder and a terminal folder with an empty securities file and a terminal whose chain is empty.
class StartupTest : public ::testing::Test {
protected:
    StartupTest() : program(Platform{processes, clock, locale, messages, library}) {
        program.ProgramDir = programFolder.path();
        processes.processes = {{7, "explorer.exe"}, {42, "info.exe"}};
        processes.memory.writeWord(base, 0);
        writeFile(quikFolder.file("sec.dat"), std::string(32, '\0'));
    }

    void writeIni(const std::string& extra) {
        writeFile(programFolder.file("Velmora.ini"),
                  "[COMMON]\r\nQuikPath=" + quikFolder.path() + "\r\nLogLevel=4\r\n" + extra +
                      "[TECH]\r\nDOMBASE=$401000\r\n[POSITION]\r\nDOMRowCount=41\r\n");
    }

    std::string logText() const { return readFile(programFolder.file("Velmora.log")); }

    TempFolder programFolder, quikFolder;
    FakeProcessAccess processes;
    FakeClock clock;
    FakeLocale locale;
    RecordingMessageSink messages;
    FakeTransLibrary library;
    Program program;
    FakeView view;
};

TEST_F(StartupTest, RunsEveryStepInOrderAndStartsTheTimer) {
    writeIni("OutputWay=TRI\r\n");
    writeFile(quikFolder.file("quik.tri"), "TRANS_ID=1; stale\r\n");
    InitAll(program, view);

    std::string log = logText();
    auto at = [&](const std::string& text) { return log.find(text); };
    ASSERT_NE(at("Starting..."), std::string::npos) << log;
    EXPECT_LT(at("Starting..."), at("CheckMainStartupSettings..."));
    EXPECT_LT(at("CheckMainStartupSettings..."), at("LoadSecs..."));
    EXPECT_LT(at("LoadSecs..."), at("Load QuoteTables..."));
    EXPECT_NE(at("found QuoteTables:0"), std::string::npos);
    EXPECT_EQ(log.find("InitAll exception:"), std::string::npos);

    EXPECT_EQ(program.TerminalProcessId, 42u);
    ASSERT_TRUE(program.TerminalProcess);
    ASSERT_TRUE(program.SecurityList);
    EXPECT_EQ(program.SecurityList->Count(), 0);
    EXPECT_EQ(program.settings.TRIFileName, quikFolder.file("quik.tri"));
    EXPECT_EQ(readFile(quikFolder.file("quik.tri")), "\r\n");
    EXPECT_EQ(readFile(quikFolder.file("quik.trr")), "\r\n");
    EXPECT_EQ(view.calls, (std::vector<std::string>{"ApplySettingsToWindow", "WriteLadderHeader", "timer on"}));
    EXPECT_EQ(program.ladder.rowCount(), 41);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(StartupTest, BadDombaseStopsBeforeStartingAndLeavesTheTimerOff) {
    writeFile(programFolder.file("Velmora.ini"), "[TECH]\r\nDOMBASE=zz\r\n");
    InitAll(program, view);
    std::string log = logText();
    EXPECT_EQ(log.find("Starting..."), std::string::npos);
    EXPECT_NE(log.find("InitAll exception:"), std::string::npos);
    EXPECT_FALSE(view.timerEnabled);
    EXPECT_EQ(processes.listCalls, 0);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(StartupTest, SettingsErrorWithALogThatCannotBeOpenedShowsNoBox) {
    writeFile(programFolder.file("Velmora.ini"), "[TECH]\r\nDOMBASE=zz\r\n");
    std::filesystem::create_directory(programFolder.file("Velmora.log"));
    InitAll(program, view);
    EXPECT_FALSE(view.timerEnabled);
    EXPECT_TRUE(messages.shown.empty()) << messages.shown.size() << " boxes, first: " << messages.shown.front();
}

TEST_F(StartupTest, MissingSecuritiesFileEndsWithNonZeroCode) {
    writeIni("");
    std::remove(quikFolder.file("sec.dat").c_str());
    InitAll(program, view);
    const std::string text = "Неверно указан путь к QUIK в ini-файле  !!!";
    ASSERT_EQ(messages.shown, std::vector<std::string>{text});
    EXPECT_EQ(view.exitCode, 1);
    EXPECT_FALSE(view.timerEnabled);
    DoneAll(program);
    EXPECT_NE(logText().find("Closing Velmora..."), std::string::npos);
}

TEST_F(StartupTest, ClosingTheWindowWhileWaitingEndsStartUp) {
    writeIni("OutputWay=dll\r\n");
    processes.processes = {{7, "explorer.exe"}};
    int polls = 0;
    view.onEvents = [&] {
        if (++polls == 3) FormClose(program);
    };
    InitAll(program, view);
    EXPECT_TRUE(program.AppClosing);
    EXPECT_FALSE(program.TerminalProcess);
    EXPECT_TRUE(processes.opened.empty());
    EXPECT_EQ(view.settingsApplied, 0);
    EXPECT_TRUE(library.connectTexts.empty());
    EXPECT_FALSE(view.infoVisible);

    DoneAll(program);
    EXPECT_EQ(library.disconnects, 1);  // the library is told even though it never connected
    EXPECT_NE(logText().find("Closing Velmora..."), std::string::npos);
}

TEST_F(StartupTest, LogLevelZeroWritesNoLogButStillEmptiesExchangeFiles) {
    writeIni("OutputWay= tri \r\n");
    std::string ini = readFile(programFolder.file("Velmora.ini"));
    ini.replace(ini.find("LogLevel=4"), 10, "LogLevel=0");
    writeFile(programFolder.file("Velmora.ini"), ini);
    writeFile(programFolder.file("Velmora.log"), "previous run\r\n");
    writeFile(quikFolder.file("quik.tro"), "old reply\r\n");
    InitAll(program, view);
    EXPECT_EQ(logText(), "previous run\r\n");
    EXPECT_EQ(readFile(quikFolder.file("quik.tro")), "\r\n");
    EXPECT_TRUE(view.timerEnabled);
}

class TickTest : public StartupTest {
protected:
    void start(const std::string& extra) {
        writeIni(extra);
        InitAll(program, view);
        ASSERT_TRUE(view.timerEnabled) << logText();
    }
};

TEST_F(TickTest, DiscoveryRunsOnTheFirstTickAndEveryFiftieth) {
    start("");
    processes.memory.readCount = 0;
    for (int tick = 0; tick < 101; ++tick) RefreshTick(program, view);
    // One read of the chain head per pass: ticks 0, 50 and 100.
    EXPECT_EQ(processes.memory.readCount, 3);
    EXPECT_EQ(program.CycleNum, 101u);
}

TEST_F(TickTest, DiscoveryAndLibraryRetryKeepTheirFiveSecondsAtAnyRefreshInterval) {
    library.connectResult = 3;
    writeIni("OutputWay=DLL\r\n");
    std::string ini = readFile(programFolder.file("Velmora.ini"));
    ini.replace(ini.find("DOMBASE"), 0, "RefreshInterval=16\r\n");
    writeFile(programFolder.file("Velmora.ini"), ini);
    InitAll(program, view);
    ASSERT_TRUE(view.timerEnabled);
    EXPECT_EQ(program.settings.RefreshInterval, 16);
    processes.memory.readCount = 0;
    // 313 ticks of 16 ms are 5.008 s: passes on ticks 0 and 313 only.
    for (int tick = 0; tick < 314; ++tick) RefreshTick(program, view);
    EXPECT_EQ(processes.memory.readCount, 2);
    EXPECT_EQ(library.connectTexts.size(), 3u);
    EXPECT_EQ(program.CycleNum, 314u);
}

TEST_F(TickTest, RefreshIntervalOutsideTenToThousandGivesTheDefaultAndALogLine) {
    for (std::string text : {"9", "1001", "fast", "-100", "10", "1000"}) {
        writeIni("");
        std::string ini = readFile(programFolder.file("Velmora.ini"));
        ini.replace(ini.find("DOMBASE"), 0, "RefreshInterval=" + text + "\r\n");
        writeFile(programFolder.file("Velmora.ini"), ini);
        writeFile(programFolder.file("Velmora.log"), "");
        InitAll(program, view);
        const bool allowed = text == "10" || text == "1000";
        EXPECT_EQ(program.settings.RefreshInterval, allowed ? std::stoi(text) : 100) << text;
        EXPECT_EQ(logText().find("RefreshInterval") == std::string::npos, allowed) << text;
    }
}

TEST_F(TickTest, ClosedWindowStopsTheTimerWithoutCounting) {
    start("");
    RefreshTick(program, view);
    FormClose(program);
    RefreshTick(program, view);
    EXPECT_FALSE(view.timerEnabled);
    EXPECT_EQ(program.CycleNum, 1u);
}

TEST_F(TickTest, LibraryRetryNeedsOutputWayExactlyDll) {
    library.connectResult = 3;
    start("OutputWay=DLL\r\n");
    EXPECT_EQ(library.connectTexts.size(), 1u);
    for (int tick = 0; tick < 51; ++tick) RefreshTick(program, view);
    EXPECT_EQ(library.connectTexts.size(), 3u);  // start-up, tick 0, tick 50
    library.connectResult = 0;
    for (int tick = 0; tick < 50; ++tick) RefreshTick(program, view);
    EXPECT_TRUE(program.library.connected());
    EXPECT_EQ(library.connectTexts.size(), 4u);
}

TEST_F(TickTest, LowerCaseDllConnectsAtStartButIsNeverRetried) {
    library.connectResult = 3;
    start("OutputWay=dll\r\n");
    for (int tick = 0; tick < 120; ++tick) RefreshTick(program, view);
    EXPECT_EQ(library.connectTexts.size(), 1u);
}

TEST_F(TickTest, AlarmBlinksInTheInfoPanel) {
    writeIni(utf8ToCp1251("[ALARMS]\r\nALARM1=09:00 10:00 Обед\r\n"));  // the file is Windows-1251
    InitAll(program, view);
    ASSERT_TRUE(view.timerEnabled) << logText();
    for (int tick = 0; tick < 10; ++tick) RefreshTick(program, view);
    EXPECT_FALSE(view.infoVisible);
    RefreshTick(program, view);
    EXPECT_TRUE(view.infoVisible);
    EXPECT_EQ(view.caption, " Обед");
    clock.time.hour = 10;
    clock.time.minute = 1;
    RefreshTick(program, view);
    EXPECT_FALSE(view.infoVisible);
}

}  // namespace
}  // namespace velmora
