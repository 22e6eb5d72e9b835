#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "process_memory.h"
#include "support/fakes.h"
#include "support/standin_process.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t unreadable = 0xFFFFFFFF;

// The header addresses in chain order from the head word, stopping at a header seen before.
std::vector<std::uint32_t> headers(const ProcessMemory& memory, std::uint32_t base) {
    std::vector<std::uint32_t> found;
    std::set<std::uint32_t> seen;
    for (std::uint32_t header = memory.wordOr(base, 0); header != 0 && header != unreadable && seen.insert(header).second;
         header = memory.wordOr(header, 0))
        found.push_back(header);
    return found;
}

struct Entry {
    bool readable = false;
    std::uint32_t price = 0, sell = 0, ownSell = 0, buy = 0, ownBuy = 0;
};

Entry entry(const ProcessMemory& memory, std::uint32_t address) {
    std::uint32_t words[9];
    Entry e;
    if (!memory.read(address, words, sizeof words)) return e;
    return {true, words[0], words[3], words[4], words[7], words[8]};
}

// Whether the memory shows fault `kind` at chain position `position` with `detail`, as the
// stand-in announced it: checked by walking the memory, not by trusting the announcement.
bool shows(const ProcessMemory& memory, std::uint32_t base, const std::string& kind, std::size_t position,
           std::size_t detail) {
    auto chain = headers(memory, base);
    if (position >= chain.size()) return false;
    std::uint32_t header = chain[position];
    std::uint32_t next = memory.wordOr(header, unreadable);
    std::uint32_t array = memory.wordOr(header + 8, unreadable);
    std::uint32_t count = memory.wordOr(header + 12, unreadable);
    auto pointer = [&](std::size_t i) { return memory.wordOr(array + 4 * static_cast<std::uint32_t>(i), unreadable); };
    if (kind == "loop") return detail <= position && next == chain[detail];
    if (kind == "unmapped-array") return array != 0 && !memory.readable(array);
    if (kind == "empty-count") return count == 0;
    if (kind == "empty-array") return pointer(0) == 0;
    if (kind == "unmapped-entry") return pointer(detail) != 0 && !memory.readable(pointer(detail));
    if (kind == "both-sides") {
        Entry e = entry(memory, pointer(detail));
        return e.readable && e.sell != 0 && e.buy != 0;
    }
    if (kind == "own-both-sides") {
        Entry e = entry(memory, pointer(detail));
        return e.readable && e.ownSell != 0 && e.ownBuy != 0;
    }
    if (kind == "broken-order") {
        Entry first = entry(memory, pointer(detail)), second = entry(memory, pointer(detail + 1));
        return first.readable && second.readable && first.price > second.price;
    }
    if (kind == "torn") {
        Entry first = entry(memory, pointer(0));
        return first.readable && first.price != 0 && first.sell == 0 && first.buy == 0;
    }
    return false;
}

TEST(HostileTerminalTest, ProducesEveryKindOfFaultAndKeepsServing) {
    TempFolder folder;
    StandinProcess terminal(StandinProcess::serving(
        folder.path(), {"--hostile", "--seed", "11", "--rate", "50", "--fault-every", "250", "--fault-hold", "200",
                        "--report-faults"}));
    ProcessMemory memory(terminal.pid());
    const std::set<std::string> all = {"torn",           "loop",       "unmapped-array", "unmapped-entry", "empty-count",
                                       "empty-array",    "both-sides", "own-both-sides", "broken-order"};
    std::set<std::string> announced, seen;
    // Every kind comes once a round; three rounds leave room for a check that came too late.
    for (int i = 0; i < 27 && seen != all; ++i) {
        auto line = terminal.readLine(3s);
        ASSERT_TRUE(line.has_value()) << "no fault within 3 s";
        std::istringstream in(*line);
        std::string word, kind;
        std::size_t position = 0, detail = 0;
        in >> word >> kind >> position >> detail;
        ASSERT_EQ(word, "FAULT") << *line;
        announced.insert(kind);
        if (shows(memory, terminal.domBase(), kind, position, detail)) seen.insert(kind);
    }
    EXPECT_EQ(announced, all);
    EXPECT_EQ(seen, all);

    // Between faults the chain is whole again: the stand-in repairs what it broke.
    EXPECT_FALSE(terminal.waitForExit(0ms).has_value()) << "still running";
    bool whole = false;
    for (int i = 0; i < 100 && !whole; ++i, std::this_thread::sleep_for(10ms))
        whole = headers(memory, terminal.domBase()).size() == 12;
    EXPECT_TRUE(whole);
    int status = terminal.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(HostileTerminalTest, SameSeedBringsTheSameFaultsInTheSameOrder) {
    auto faults = [](const std::string& seed) {
        TempFolder folder;
        StandinProcess terminal(StandinProcess::serving(
            folder.path(), {"--hostile", "--static", "--seed", seed, "--fault-every", "20", "--fault-hold", "10",
                            "--faults", "loop,empty-count,unmapped-array,torn", "--report-faults"}));
        std::vector<std::string> kinds;
        for (int i = 0; i < 8; ++i) {
            auto line = terminal.readLine(2s);
            if (!line) break;
            std::istringstream in(*line);
            std::string word, kind, position;
            in >> word >> kind >> position;  // the level depends on the market, the rest on the seed
            kinds.push_back(kind + " " + position);
        }
        return kinds;
    };
    auto first = faults("21");
    ASSERT_EQ(first.size(), 8u);
    EXPECT_EQ(faults("21"), first);
    std::set<std::string> kinds;
    for (const auto& f : first) kinds.insert(f.substr(0, f.find(' ')));
    EXPECT_EQ(kinds, (std::set<std::string>{"loop", "empty-count", "unmapped-array", "torn"}));
}

// The process id from a supervised child's "PID=" line.
pid_t childPid(StandinProcess& supervisor) {
    for (auto line = supervisor.readLine(5s); line; line = supervisor.readLine(5s))
        if (line->rfind("PID=", 0) == 0) return static_cast<pid_t>(std::stol(line->substr(4)));
    return -1;
}

TEST(HostileTerminalTest, SupervisorRestartsTheTerminalAsAFreshProcess) {
    TempFolder folder;
    StandinProcess supervisor(StandinProcess::serving(folder.path(), {"--static", "--restart-every", "0.6"}));
    pid_t first = childPid(supervisor);
    ASSERT_GT(first, 0);
    EXPECT_NE(first, supervisor.pid());
    ProcessMemory old(first);
    std::uint32_t head = old.wordOr(supervisor.domBase(), 0);
    ASSERT_NE(head, 0u);

    pid_t second = childPid(supervisor);
    ASSERT_GT(second, 0);
    EXPECT_NE(second, first);
    // The old terminal is gone for good: its memory reads fail, not stale bytes.
    EXPECT_EQ(kill(first, 0), -1);
    EXPECT_FALSE(old.readable(supervisor.domBase()));
    // The new one serves the same folder at the same address.
    ProcessMemory fresh(second);
    EXPECT_EQ(fresh.wordOr(supervisor.domBase(), 0), head);
    EXPECT_EQ(headers(fresh, supervisor.domBase()).size(), 12u);

    int status = supervisor.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(kill(second, 0), -1) << "the stop reached the child";
}

TEST(HostileTerminalTest, SupervisorGivesUpWhenTheTerminalCannotServe) {
    TempFolder folder;
    StandinProcess first(StandinProcess::serving(folder.path(), {"--static"}));
    StandinProcess supervisor(std::string(VELMORA_BIN_DIR) + "/info.exe",
                              StandinProcess::serving(folder.path(), {"--static", "--restart-every", "0.2"}));
    auto status = supervisor.waitForExit(5s);
    ASSERT_TRUE(status.has_value()) << "no restart loop";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1);
}

struct Mapping {
    std::uint64_t start = 0, end = 0;
    std::string path;
};

std::vector<Mapping> mappings(pid_t pid) {
    std::vector<Mapping> found;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode, path;
        fields >> range >> perms >> offset >> device >> inode >> path;
        auto dash = range.find('-');
        found.push_back({std::stoull(range.substr(0, dash), nullptr, 16), std::stoull(range.substr(dash + 1), nullptr, 16), path});
    }
    return found;
}

TEST(HostileTerminalTest, RandomBaseLiesInTheImageAtASeededOffsetAndDecoysPointIntoTheChain) {
    TempFolder one, two, three;
    StandinProcess a(StandinProcess::serving(one.path(), {"--static", "--random-base", "--seed", "1"}));
    StandinProcess b(StandinProcess::serving(two.path(), {"--static", "--random-base", "--seed", "2"}));
    StandinProcess c(StandinProcess::serving(three.path(),
                                             {"--static", "--random-base", "--seed", "1", "--decoys", "--decoy-megabytes", "6"}));
    EXPECT_NE(a.domBase(), b.domBase());
    EXPECT_EQ(a.domBase(), c.domBase()) << "the seed decides the offset";

    // In the executable's mapping or its zero-filled data right after it.
    auto maps = mappings(c.pid());
    bool inImage = false;
    for (std::size_t i = 0; i < maps.size(); ++i) {
        bool image = maps[i].path.find("info.exe") != std::string::npos ||
                     (i > 0 && maps[i].path.empty() && maps[i - 1].end == maps[i].start &&
                      maps[i - 1].path.find("info.exe") != std::string::npos);
        if (image && c.domBase() >= maps[i].start && c.domBase() < maps[i].end) inImage = true;
    }
    EXPECT_TRUE(inImage) << std::hex << c.domBase();

    ProcessMemory memory(c.pid());
    auto chain = headers(memory, c.domBase());
    ASSERT_EQ(chain.size(), 12u);
    // Stray words that point at the second header, well beyond the chain's own next word.
    std::uint64_t lowReadable = 0;
    int strays = 0;
    std::vector<std::uint32_t> words(1 << 16);
    for (const Mapping& m : maps) {
        if (m.end > (1ull << 32) || m.path == "[vvar]" || m.path == "[vsyscall]") continue;
        for (std::uint64_t at = m.start; at < m.end; at += words.size() * 4) {
            std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(words.size() * 4, m.end - at));
            if (!memory.read(static_cast<std::uint32_t>(at), words.data(), bytes)) continue;
            lowReadable += bytes;
            strays += static_cast<int>(std::count(words.begin(), words.begin() + bytes / 4, chain[1]));
        }
    }
    EXPECT_GE(lowReadable, 6u << 20);
    EXPECT_GE(strays, 5);
}

}  // namespace
}  // namespace velmora::testing
