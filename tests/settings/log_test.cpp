#include "settings/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/fakes.h"

namespace velmora {
namespace {

using testing::readFile;
using testing::writeFile;

class LogTest : public ::testing::Test {
protected:
    LogTest() { log.LogPath = folder.file("Velmora.log"); }

    testing::TempFolder folder;
    testing::FakeClock clock;
    testing::FakeLocale locale;
    testing::RecordingMessageSink messages;
    Log log{clock, locale, messages};
};

TEST_F(LogTest, WritesOnlyLevelsAtOrBelowTheThreshold) {
    log.LogThreshold = 1;
    log.LogMessage("zero", 0, Log::Time::Bare);
    log.LogMessage("one", 1, Log::Time::Bare);
    log.LogMessage("two", 2, Log::Time::Bare);
    EXPECT_EQ(readFile(log.LogPath), "zero\r\none\r\n");

    log.LogThreshold = -1;
    log.LogMessage("transaction", 0, Log::Time::Bare, LineWrite::Append, folder.file("quik.tri"));
    EXPECT_EQ(readFile(folder.file("quik.tri")), "");
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(LogTest, RewriteEmptiesTheFileAndLaterCallsAppend) {
    writeFile(log.LogPath, "old run\r\n");
    log.LogMessage("Starting...", 1, Log::Time::Bare, LineWrite::StartOver);
    log.LogMessage("next", 1, Log::Time::Bare);
    EXPECT_EQ(readFile(log.LogPath), "Starting...\r\nnext\r\n");

    // Emptying an exchange file leaves one empty line.
    std::string exchange = folder.file("quik.tro");
    writeFile(exchange, "answers\r\n");
    log.LogMessage("", 1, Log::Time::Bare, LineWrite::StartOver, exchange);
    EXPECT_EQ(readFile(exchange), "\r\n");
    EXPECT_EQ(readFile(log.LogPath), "Starting...\r\nnext\r\n");
}

TEST_F(LogTest, TimePrefixPadsTheMillisecondsToSevenCharacters) {
    const std::pair<int, const char*> cases[] = {
        {0, " [0]   "}, {7, " [7]   "}, {42, " [42]  "}, {999, " [999] "}};
    for (auto [milliseconds, stamp] : cases) {
        clock.time.millisecond = milliseconds;
        log.LogMessage("m", 1, Log::Time::Stamped, LineWrite::StartOver);
        EXPECT_EQ(readFile(log.LogPath), std::string("08.12.2026 09:30:05") + stamp + "m\r\n");
    }
}

TEST_F(LogTest, WritesWindows1251Bytes) {
    log.LogMessage("Сбой при чтении", 1, Log::Time::Bare);
    EXPECT_EQ(readFile(log.LogPath), "\xD1\xE1\xEE\xE9 \xEF\xF0\xE8 \xF7\xF2\xE5\xED\xE8\xE8\r\n");
}

TEST_F(LogTest, FailuresShowBoxesWithTheMessageAndReturn) {
    log.LogMessage("lost", 1, Log::Time::Stamped, LineWrite::Append, folder.file("missing/x.log"));
    // The open, the write and the close all fail: the first says it, once.
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"error rewriting message lost"}));
    EXPECT_FALSE(log.lastWriteSucceeded());

    // An existing path that cannot be opened as a file: same wording for append and rewrite.
    messages.shown.clear();
    log.LogMessage("a", 1, Log::Time::Bare, LineWrite::Append, folder.path());
    log.LogMessage("b", 1, Log::Time::Bare, LineWrite::StartOver, folder.path());
    EXPECT_EQ(messages.shown,
              (std::vector<std::string>{"error appending message a", "error appending message b"}));

    log.LogMessage("fine", 1);
    EXPECT_TRUE(log.lastWriteSucceeded());
}

TEST_F(LogTest, ARepeatingLineIsWrittenAtMostOnceAMinuteWithTheCountHeldBack) {
    for (int second = 0; second < 75; second += 5) {
        clock.time.second = second % 60;
        clock.time.minute = 30 + second / 60;
        log.LogRepeating("retry failed", 1);
        if (second == 30) log.LogRepeating("other failure", 1);
    }
    EXPECT_EQ(readFile(log.LogPath), "08.12.2026 09:30:00 [7]   retry failed\r\n"
                                     "08.12.2026 09:30:30 [7]   other failure\r\n"
                                     "08.12.2026 09:31:00 [7]   retry failed (11 repeats not logged since)\r\n");
}

TEST_F(LogTest, BeforeTheLogPathIsSetNothingIsWrittenOrShown) {
    log.LogPath.clear();
    log.LogMessage("InitAll exception:bad", 1);
    EXPECT_TRUE(messages.shown.empty());
}

// A modal box runs the event loop, so a refresh tick can log (and fail) while it is open.
class ReentrantSink : public MessageSink {
public:
    Log* log = nullptr;
    std::vector<std::string> shown;
    int depth = 0;
    int deepest = 0;

    void show(const std::string& text) override {
        shown.push_back(text);
        ++depth;
        deepest = std::max(deepest, depth);
        if (shown.size() < 50) log->LogMessage("tick", 1);
        --depth;
    }
};

TEST_F(LogTest, OneFailureBoxAtATimeAndOncePerFailure) {
    ReentrantSink sink;
    Log failing(clock, locale, sink);
    sink.log = &failing;
    failing.LogPath = folder.file("missing/Velmora.log");
    failing.LogMessage("first", 1);
    EXPECT_EQ(sink.deepest, 1);
    EXPECT_EQ(sink.shown, (std::vector<std::string>{"error rewriting message first"}));
    // The log still fails: told already. Once a line gets through, the next failure is told again.
    failing.LogMessage("second", 1);
    EXPECT_EQ(sink.shown.size(), 1u);
    std::filesystem::create_directory(folder.file("missing"));
    failing.LogMessage("third", 1);
    std::filesystem::remove_all(folder.file("missing"));
    failing.LogMessage("fourth", 1);
    EXPECT_EQ(sink.shown.size(), 2u);
}

}  // namespace
}  // namespace velmora
