#include "terminal/process_finder.h"

#include <gtest/gtest.h>

#include "core/program.h"
#include "support/fake_view.h"
#include "support/fakes.h"
#include "terminal/hex_text.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

class ProcessFinderTest : public ::testing::Test {
protected:
    FakeProcessAccess processes;
    FakeClock clock;
    FakeLocale locale;
    RecordingMessageSink sink;
    FakeTransLibrary transLibrary;
    Program program{Platform{processes, clock, locale, sink, transLibrary}};
    FakeView view;

    void findTerminal() {
        std::uint32_t processId = program.TerminalProcessId;
        std::unique_ptr<ProcessHandle> process = FindTerminal(processes, view, program.AppClosing, processId);
        if (program.AppClosing) return;
        program.TerminalProcessId = processId;
        program.TerminalProcess = std::move(process);
    }
};

TEST_F(ProcessFinderTest, MatchesContainedNameWhateverItsCase) {
    processes.processes = {{1, "explorer.exe"}, {2, "INFO.EXE"}, {3, "xInfo.exe "}, {4, "info.ex"},
                           {5, " info.exe.bak"}, {6, "infoexe"}};
    std::vector<ProcessEntry> list{{99, "kept"}};
    FindProcesses(processes, " info.exe\t", list);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].exeName, "kept");
    EXPECT_EQ(list[1].id, 2u);
    EXPECT_EQ(list[2].id, 3u);
    EXPECT_EQ(list[2].exeName, "xInfo.exe ");  // as reported, not trimmed
    EXPECT_EQ(list[3].id, 5u);
}

TEST_F(ProcessFinderTest, OnlyLatinLettersAreCaseFolded) {
    // Cyrillic letters keep their case: "ф" does not match "Ф".
    processes.processes = {{7, "Фinfo.exe"}, {8, "ФINFO.EXE"}};
    std::vector<ProcessEntry> list;
    FindProcesses(processes, "фinfo.exe", list);
    ASSERT_EQ(list.size(), 0u);
    FindProcesses(processes, "Фinfo.EXE", list);
    ASSERT_EQ(list.size(), 2u);
}

TEST_F(ProcessFinderTest, FirstOfTwoTerminalsIsOpenedWithoutWaiting) {
    processes.processes = {{10, "sh"}, {20, "info.exe"}, {30, "INFO.EXE"}};
    findTerminal();
    EXPECT_EQ(program.TerminalProcessId, 20u);
    EXPECT_NE(program.TerminalProcess, nullptr);
    EXPECT_EQ(processes.opened, std::vector<std::uint32_t>{20});
    EXPECT_TRUE(view.captionsShown.empty());
    EXPECT_EQ(view.pauses, 0);
}

TEST_F(ProcessFinderTest, WaitShowsNoticeUntilTerminalAppears) {
    view.onEvents = [&] {
        EXPECT_TRUE(view.infoVisible);
        if (view.pauses == 3) processes.processes.push_back({42, "info.exe"});
    };
    findTerminal();
    EXPECT_EQ(view.captionsShown, std::vector<std::string>{"Запустите QUIK..."});
    EXPECT_FALSE(view.infoVisible);
    EXPECT_GE(processes.listCalls, 4);
    EXPECT_EQ(program.TerminalProcessId, 42u);
    EXPECT_EQ(processes.opened, std::vector<std::uint32_t>{42});
}

TEST_F(ProcessFinderTest, ClosingTheWindowEndsTheWaitWithoutOpening) {
    view.onEvents = [&] {
        if (view.pauses == 2) program.AppClosing = true;
    };
    findTerminal();
    EXPECT_EQ(view.pauses, 2);
    EXPECT_FALSE(view.infoVisible);
    EXPECT_TRUE(processes.opened.empty());
    EXPECT_EQ(program.TerminalProcessId, 0u);
    EXPECT_EQ(program.TerminalProcess, nullptr);
}

TEST(BufferToHex, TwoUpperCaseDigitsPerByte) {
    const std::uint8_t bytes[] = {0, 171, 255};
    EXPECT_EQ(BufferToHex(bytes, 3), "00ABFF");
    EXPECT_EQ(BufferToHex(bytes, 1), "00");
    EXPECT_EQ(BufferToHex(bytes, 0), "");
    EXPECT_EQ(BufferToHex(nullptr, -1), "");
}

}  // namespace
