#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "platform/memory_regions.h"
#include "platform/process_access.h"
#include "secs/sec_file_reader.h"
#include "secs/sec_file_builder.h"
#include "settings/log.h"
#include "support/fakes.h"
#include "support/standin_process.h"
#include "terminal/dombase_scan.h"
#include "tools/scan_command.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

std::string hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::vector<std::string> crlfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    if (at < text.size()) lines.push_back(text.substr(at));
    return lines;
}

TEST(VelmoraScanTest, TheStandinsBaseRanksFirstAmongItsDecoys) {
    FakeClock clock;
    FakeLocale locale;
    RecordingMessageSink messages;
    Log log(clock, locale, messages);
    log.LogThreshold = -1;
    std::set<std::uint32_t> bases;
    for (const char* seed : {"5", "6"}) {
        SCOPED_TRACE(seed);
        TempFolder folder;
        StandinProcess terminal(
            StandinProcess::serving(folder.path(), {"--static", "--random-base", "--decoys", "--seed", seed}));
        bases.insert(terminal.domBase());
        std::string secBytes = readFile(folder.file("sec.dat"));
        SecFileStream stream{reinterpret_cast<const std::uint8_t*>(secBytes.data()), secBytes.size(), 0};
        auto securities = FStreamReadSecShareList(stream, 1, log);
        ASSERT_TRUE(securities);

        auto process = makeSystemProcessAccess()->open(static_cast<std::uint32_t>(terminal.pid()));
        ASSERT_TRUE(process);
        auto regions = listReadableRegions(static_cast<std::uint32_t>(terminal.pid()));
        auto result = ScanForDomBase(*process, regions, *securities, "info.exe", log);

        ASSERT_FALSE(result.candidates.empty());
        const DomBaseCandidate& best = result.candidates.front();
        EXPECT_EQ(hex8(best.base), hex8(terminal.domBase()));
        EXPECT_TRUE(best.inImage);
        EXPECT_EQ(best.books, 10);
        EXPECT_EQ(best.headers, 12);
        EXPECT_EQ(best.tickers.size(), 10u);
        EXPECT_GT(result.bytesScanned, 4u << 20) << "the decoy megabytes were read";
        // The strays into the chain's second header come, with one book less, after it.
        bool strayBelow = false;
        for (std::size_t i = 1; i < result.candidates.size(); ++i)
            strayBelow |= !result.candidates[i].inImage && result.candidates[i].books == 9;
        EXPECT_TRUE(strayBelow);
    }
    EXPECT_EQ(bases.size(), 2u);
}

TEST(VelmoraScanTest, TheToolPrintsTheBaseAndWritesItIntoTheIniKeepingEveryOtherLine) {
    TempFolder folder;
    StandinProcess terminal(StandinProcess::serving(folder.path(), {"--random-base", "--decoys", "--seed", "9"}));
    // Windows-1251 bytes, a comment, odd spacing, other sections and keys after DOMBASE.
    const std::vector<std::string> before = {
        "; \xcd\xe0\xf1\xf2\xf0\xee\xe9\xea\xe8",
        "[COMMON]",
        "QuikPath=" + folder.path(),
        "ACCOUNT=\xd1\xd7\xc5\xd2-1",
        "",
        "[TECH]",
        "DOMBASE=0",
        "ReadSecVersion=1",
        "  Extra = kept as is  ",
        "[ALARMS]",
        "Alarm1=09:59:00;\xcf\xee\xf0\xe0",
    };
    std::string text;
    for (const auto& line : before) text += line + "\r\n";
    writeFile(folder.file("Velmora.ini"), text);

    StandinProcess scan(std::string(VELMORA_BIN_DIR) + "/velmora-scan",
                        {"--ini", folder.file("Velmora.ini"), "--pid", std::to_string(terminal.pid()), "--write-ini",
                         "--quiet", "--top", "3"});
    std::vector<std::string> output;
    for (auto line = scan.readLine(20s); line; line = scan.readLine(20s)) output.push_back(*line);
    auto status = scan.waitForExit(5s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    ASSERT_EQ(output.size(), 5u);
    EXPECT_EQ(output[1].rfind("DOMBASE=" + hex8(terminal.domBase()) + "  image ", 0), 0u) << output[1];
    EXPECT_EQ(output[4], "wrote DOMBASE=" + hex8(terminal.domBase()) + " into " + folder.file("Velmora.ini"));

    auto after = crlfLines(readFile(folder.file("Velmora.ini")));
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(after[i], i == 6 ? "DOMBASE=" + hex8(terminal.domBase()) : before[i]) << i;
}

// Runs the tool's logic with the given processes; answers the exit code and what it wrote.
struct CommandRun {
    int code = 0;
    std::string out, err;
};

CommandRun run(ProcessAccess& processes, std::function<std::vector<MemoryRegion>(std::uint32_t)> regions,
        const std::vector<std::string>& arguments) {
    std::ostringstream out, err;
    ScanEnvironment environment{processes, std::move(regions), "/nonexistent/Velmora.ini", out, err};
    CommandRun result;
    result.code = RunScanCommand(arguments, environment);
    result.out = out.str();
    result.err = err.str();
    return result;
}

TEST(VelmoraScanTest, WithoutATerminalOrAChainTheToolSaysSoAndExitsWithOne) {
    TempFolder folder;
    SecFileBuilder secFile;
    secFile.record(SecRecordBytes{}, 1);
    writeFile(folder.file("sec.dat"), std::string(secFile.bytes.begin(), secFile.bytes.end()));
    const std::vector<std::string> quik = {"--quik", folder.path(), "--version", "1", "--quiet"};

    FakeProcessAccess nothingRunning;
    nothingRunning.processes = {{7, "bash"}};
    auto noRegions = [](std::uint32_t) { return std::vector<MemoryRegion>{}; };
    CommandRun r = run(nothingRunning, noRegions, quik);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no terminal (info.exe) is running"), std::string::npos) << r.err;
    EXPECT_TRUE(nothingRunning.opened.empty());

    // A terminal whose memory holds no chain at all.
    FakeProcessAccess empty;
    empty.processes = {{42, "INFO.EXE"}};
    empty.memory.map(0x10000, 0x10000);
    for (TerminalAddress a = 0x10000; a < 0x20000; a += 4) empty.memory.writeWord(a, a * 2654435761u);
    r = run(empty, [](std::uint32_t) { return std::vector<MemoryRegion>{{0x10000, 0x20000, ""}}; }, quik);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(empty.opened, std::vector<std::uint32_t>{42});
    EXPECT_NE(r.err.find("no order-book chain found in 65536 bytes of process 42"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");

    // A process id that names no process: the real platform answers.
    auto system = makeSystemProcessAccess();
    auto withPid = quik;
    withPid.insert(withPid.end(), {"--pid", "2147483646"});
    r = run(*system, listReadableRegions, withPid);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot read the memory of process 2147483646"), std::string::npos) << r.err;

    // No folder known, and arguments that make no sense.
    r = run(empty, noRegions, {"--quiet"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("set QuikPath in /nonexistent/Velmora.ini or give --quik"), std::string::npos) << r.err;
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--pid", "12x"}, {"--pid"}, {"--version", "3"}, {"--top", "0"}, {"--bogus"}})
        EXPECT_EQ(run(empty, noRegions, bad).code, 2) << bad.front();
}

}  // namespace
}  // namespace velmora::testing
