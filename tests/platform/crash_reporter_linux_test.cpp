#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/crash_reporter.h"
#include "support/fakes.h"

// The probes install the reporter and crash; these tests check what they leave and how they end.
namespace velmora {
namespace {

struct Ending {
    bool bySignal = false;
    int signal = 0;
    int exitCode = 0;
    std::string output;  // what the probe printed
};

Ending runProbe(const std::string& session, const std::string& folder, const std::string& mode) {
    const std::string path = std::string(VELMORA_BIN_DIR) + "/" + session;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDERR_FILENO);
        close(pipeEnds[0]);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(path.c_str(), path.c_str(), folder.c_str(), mode.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    Ending ending;
    char chunk[512];
    for (ssize_t count; (count = read(pipeEnds[0], chunk, sizeof chunk)) > 0;) ending.output.append(chunk, count);
    close(pipeEnds[0]);
    int status = 0;
    // A hung handler shows as a probe that does not end: give it a minute, then fail the test.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << session << " " << mode << " hung";
            return ending;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ending.bySignal = WIFSIGNALED(status);
    ending.signal = ending.bySignal ? WTERMSIG(status) : 0;
    ending.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ending;
}

std::vector<std::string> reportsIn(const std::string& folder) {
    std::vector<std::string> reports;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.path().filename().string().rfind(CrashReportPrefix, 0) == 0) reports.push_back(entry.path().string());
    return reports;
}

int framesIn(const std::string& report, const std::string& module) {
    std::regex frame("\r\n  #[0-9]+ 0x[0-9A-F]+ [^\r]*/" + module + "\\+0x");
    return static_cast<int>(std::distance(std::sregex_iterator(report.begin(), report.end(), frame), std::sregex_iterator()));
}

struct Crash {
    const char* mode;
    int signal;
    const char* signalLine;
    const char* detail;  // one more line the report must hold
};

class CrashReportTest : public ::testing::TestWithParam<Crash> {};

TEST_P(CrashReportTest, CrashLeavesOneReportAndEndsByItsSignal) {
    const Crash& crash = GetParam();
    testing::TempFolder folder;
    Ending ending = runProbe("crash_probe", folder.path(), crash.mode);
    ASSERT_TRUE(ending.bySignal) << "exit code " << ending.exitCode;
    EXPECT_EQ(ending.signal, crash.signal);

    std::vector<std::string> reports = reportsIn(folder.path());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(std::regex_match(std::filesystem::path(reports[0]).filename().string(),
                                 std::regex("Velmora-crash-[0-9]{8}-[0-9]{6}\\.txt")));
    std::string report = testing::readFile(reports[0]);
    EXPECT_NE(report.find("\r\nVersion: " VELMORA_VERSION "\r\n"), std::string::npos);
    EXPECT_TRUE(std::regex_search(report, std::regex("\r\nTime: 20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}")));
    EXPECT_NE(report.find(crash.signalLine), std::string::npos) << report.substr(0, 400);
    EXPECT_NE(report.find(crash.detail), std::string::npos) << report.substr(0, 600);
    EXPECT_TRUE(std::regex_search(report, std::regex("\r\nRegisters:\r\n  [RE]IP=0x[0-9A-F]+")));
    // Two frames are the handler's; the rest lead to where it failed, in the probe itself.
    EXPECT_GE(framesIn(report, "crash_probe"), 3) << report.substr(0, 2000);
    EXPECT_TRUE(std::regex_search(report, std::regex("\r\nMemory map \\(/proc/self/maps\\):\r\n[0-9a-f]+-[0-9a-f]+ r")));
    EXPECT_TRUE(std::regex_search(report, std::regex("r-xp [^\r]*/crash_probe\r\n")));
    EXPECT_EQ(report.find("\n\n"), std::string::npos) << "every line ends in CR LF";
}

INSTANTIATE_TEST_SUITE_P(
    Crashes, CrashReportTest,
    ::testing::Values(Crash{"null-write", SIGSEGV, "\r\nSignal: 11 SIGSEGV, code 1 SEGV_MAPERR", "\r\nFault address: 0x0000000000000000\r\n"},
                      Crash{"divide-by-zero", SIGFPE, "\r\nSignal: 8 SIGFPE, code 1 FPE_INTDIV", "\r\nFault address: 0x"},
                      Crash{"stack-overflow", SIGSEGV, "\r\nSignal: 11 SIGSEGV", "\r\nBacktrace of the faulting thread"},
                      Crash{"abort", SIGABRT, "\r\nSignal: 6 SIGABRT", " abort+0x"},
                      Crash{"throw", SIGABRT, "\r\nSignal: 6 SIGABRT",
                            "\r\nException: uncaught exception std::runtime_error: order book vanished\r\n"},
                      Crash{"thread-null-write", SIGSEGV, "\r\nSignal: 11 SIGSEGV", "libstdc++"}),
    [](const ::testing::TestParamInfo<Crash>& info) {
        std::string name = info.param.mode;
        std::erase(name, '-');
        return name;
    });

TEST(CrashReportStormTest, ThreadsFaultingTogetherWriteOneReport) {
    testing::TempFolder folder;
    Ending ending = runProbe("crash_probe", folder.path(), "storm");
    EXPECT_TRUE(ending.bySignal && ending.signal == SIGSEGV);
    EXPECT_EQ(reportsIn(folder.path()).size(), 1u);
}

TEST(CrashReportStormTest, UnwritableFolderStillEndsBySignal) {
    // Root writes into a read-only folder anyway; /proc takes no new file from anyone.
    testing::TempFolder readOnly;
    ASSERT_EQ(chmod(readOnly.path().c_str(), 0555), 0);
    for (const std::string& folder : {readOnly.path(), std::string("/proc/")}) {
        Ending ending = runProbe("crash_probe", folder, "null-write");
        EXPECT_TRUE(ending.bySignal && ending.signal == SIGSEGV) << folder;
    }
    chmod(readOnly.path().c_str(), 0755);
}

TEST(CrashReportStormTest, NextStartFindsTheReportOnce) {
    testing::TempFolder folder;
    EXPECT_EQ(runProbe("crash_probe", folder.path(), "pending").output, "pending: none\n");
    runProbe("crash_probe", folder.path(), "null-write");
    std::vector<std::string> reports = reportsIn(folder.path());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(runProbe("crash_probe", folder.path(), "pending").output.rfind("pending: " + reports[0] + " at 20", 0), 0u);
    EXPECT_EQ(runProbe("crash_probe", folder.path(), "pending").output, "pending: none\n");
}

#ifdef VELMORA_CRASH_WINDOW_PROBE
TEST(CrashReportWindowTest, FaultInsideASlotOfAWindowIsReported) {
    testing::TempFolder folder;
    Ending ending = runProbe("crash_window_probe", folder.path(), "slot-null-write");
    EXPECT_TRUE(ending.bySignal && ending.signal == SIGSEGV) << ending.exitCode;
    std::vector<std::string> reports = reportsIn(folder.path());
    ASSERT_EQ(reports.size(), 1u);
    std::string report = testing::readFile(reports[0]);
    EXPECT_NE(report.find("\r\nSignal: 11 SIGSEGV"), std::string::npos);
    // The slot's frame, then Qt's button click that called it.
    EXPECT_GE(framesIn(report, "crash_window_probe"), 3);
    EXPECT_NE(report.find("_ZN15QAbstractButton7clickedEb+"), std::string::npos);
}

TEST(CrashReportWindowTest, ExceptionEscapingASlotIsReportedWithItsText) {
    // Qt calls a slot through code that may not throw, so the exception ends the program where it is
    // thrown: std::terminate, with the slot still on the stack.
    testing::TempFolder folder;
    Ending ending = runProbe("crash_window_probe", folder.path(), "slot-throw");
    EXPECT_TRUE(ending.bySignal && ending.signal == SIGABRT) << ending.exitCode;
    std::vector<std::string> reports = reportsIn(folder.path());
    ASSERT_EQ(reports.size(), 1u);
    std::string report = testing::readFile(reports[0]);
    EXPECT_NE(report.find("\r\nException: uncaught exception std::runtime_error: stop price is not a number\r\n"),
              std::string::npos);
    EXPECT_NE(report.find("_ZN15QAbstractButton7clickedEb+"), std::string::npos);
}
#endif

}  // namespace
}  // namespace velmora
