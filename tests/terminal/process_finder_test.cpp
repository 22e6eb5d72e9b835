#include "terminal/process_finder.h"

#include <gtest/gtest.h>

#include "support/book_parts.h"
#include "support/fake_view.h"
#include "support/fake_platform.h"
#include "terminal/hex_text.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

class ProcessFinderTest : public ::testing::Test, protected velmora::testing::FakePlatform {
protected:
    BookParts parts{platform()};
    FakeView view;

    TerminalTaken taken;

    void findTerminal(const std::string& quikPath = "C:\\QUIK\\") {
        std::uint32_t processId = parts.terminal.processId();
        std::unique_ptr<ProcessHandle> process =
            FindTerminal(processAccess, view, parts.AppClosing, processId, quikPath, taken);
        if (parts.AppClosing) return;
        parts.terminal.attach(processId, std::move(process));
    }
};

TEST_F(ProcessFinderTest, MatchesContainedNameWhateverItsCase) {
    processAccess.processes = {{1, "explorer.exe"}, {2, "INFO.EXE"}, {3, "xInfo.exe "}, {4, "info.ex"},
                           {5, " info.exe.bak"}, {6, "infoexe"}};
    std::vector<ProcessEntry> list{{99, "kept"}};
    FindProcesses(processAccess, " info.exe\t", list);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].exeName, "kept");
    EXPECT_EQ(list[1].id, 2u);
    EXPECT_EQ(list[2].id, 3u);
    EXPECT_EQ(list[2].exeName, "xInfo.exe ");  // as reported, not trimmed
    EXPECT_EQ(list[3].id, 5u);
}

TEST_F(ProcessFinderTest, OnlyLatinLettersAreCaseFolded) {
    // Cyrillic letters keep their case: "ф" does not match "Ф".
    processAccess.processes = {{7, "Фinfo.exe"}, {8, "ФINFO.EXE"}};
    std::vector<ProcessEntry> list;
    FindProcesses(processAccess, "фinfo.exe", list);
    ASSERT_EQ(list.size(), 0u);
    FindProcesses(processAccess, "Фinfo.EXE", list);
    ASSERT_EQ(list.size(), 2u);
}

TEST_F(ProcessFinderTest, OfTwoTerminalsTheOneInQuikPathIsTakenAndAnEndedOneNever) {
    processAccess.processes = {{10, "info.exe", "C:\\Broker1\\info.exe"},
                               {20, "info.exe", "c:/quik/INFO.EXE", true},
                               {30, "info.exe", "C:\\QUIK\\info.exe"}};
    findTerminal();
    EXPECT_EQ(parts.terminal.processId(), 30u);
    EXPECT_TRUE(taken.inQuikPath);
    EXPECT_EQ(taken.path, "C:\\QUIK\\info.exe");
    // None in QuikPath: the first that runs, and `taken` says it is not QuikPath's.
    findTerminal("D:\\Other\\");
    EXPECT_EQ(parts.terminal.processId(), 10u);
    EXPECT_FALSE(taken.inQuikPath);

    // A Linux program beside a terminal under Wine names the folder as Unix sees it.
    EXPECT_TRUE(ExecutableInFolder("Z:\\home\\me\\quik\\info.exe", "/home/me/quik/"));
    EXPECT_TRUE(ExecutableInFolder("/opt/QUIK/info.exe", "/opt/QUIK"));
    EXPECT_FALSE(ExecutableInFolder("C:\\QUIK\\sub\\info.exe", "C:\\QUIK\\"));
    EXPECT_FALSE(ExecutableInFolder("", "C:\\QUIK\\"));
}

TEST_F(ProcessFinderTest, FirstOfTwoTerminalsIsOpenedWithoutWaiting) {
    processAccess.processes = {{10, "sh"}, {20, "info.exe"}, {30, "INFO.EXE"}};
    findTerminal();
    EXPECT_EQ(parts.terminal.processId(), 20u);
    EXPECT_NE(parts.terminal.process(), nullptr);
    EXPECT_EQ(processAccess.opened, std::vector<std::uint32_t>{20});
    EXPECT_TRUE(view.captionsShown.empty());
    EXPECT_EQ(view.pauses, 0);
}

TEST_F(ProcessFinderTest, WaitShowsNoticeUntilTerminalAppears) {
    view.onEvents = [&] {
        EXPECT_TRUE(view.infoVisible);
        if (view.pauses == 3) processAccess.processes.push_back({42, "info.exe"});
    };
    findTerminal();
    EXPECT_EQ(view.captionsShown, std::vector<std::string>{"Запустите QUIK..."});
    EXPECT_FALSE(view.infoVisible);
    EXPECT_GE(processAccess.listCalls, 4);
    EXPECT_EQ(parts.terminal.processId(), 42u);
    EXPECT_EQ(processAccess.opened, std::vector<std::uint32_t>{42});
}

TEST_F(ProcessFinderTest, ClosingTheWindowEndsTheWaitWithoutOpening) {
    view.onEvents = [&] {
        if (view.pauses == 2) parts.AppClosing = true;
    };
    findTerminal();
    EXPECT_EQ(view.pauses, 2);
    EXPECT_FALSE(view.infoVisible);
    EXPECT_TRUE(processAccess.opened.empty());
    EXPECT_EQ(parts.terminal.processId(), 0u);
    EXPECT_EQ(parts.terminal.process(), nullptr);
}

TEST(BufferToHex, TwoUpperCaseDigitsPerByte) {
    const std::uint8_t bytes[] = {0, 171, 255};
    EXPECT_EQ(BufferToHex(bytes, 3), "00ABFF");
    EXPECT_EQ(BufferToHex(bytes, 1), "00");
    EXPECT_EQ(BufferToHex(bytes, 0), "");
    EXPECT_EQ(BufferToHex(nullptr, -1), "");
}

}  // namespace
