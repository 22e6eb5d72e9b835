#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/fakes.h"
#include "support/standin_process.h"
#include "terminal_files.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;
using Fields = std::vector<std::string>;

const std::string script = std::string(VELMORA_SOURCE_DIR) + "/lua/velmora.lua";

Fields split(const std::string& line) {
    Fields fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t')) fields.push_back(field);
    if (!line.empty() && line.back() == '\t') fields.push_back("");
    return fields;
}

// Velmora's end of the stream: a FIFO read line by line.
class StreamReader {
public:
    explicit StreamReader(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
    ~StreamReader() {
        if (fd_ >= 0) close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }

    std::optional<std::string> line(std::chrono::milliseconds timeout = 3s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (auto end = pending_.find('\n'); end != std::string::npos) {
                std::string text = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return text;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd wait{fd_, POLLIN, 0};
            poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
            char buffer[4096];
            ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got > 0) pending_.append(buffer, static_cast<std::size_t>(got));
            else std::this_thread::sleep_for(5ms);  // no writer now
        }
    }

    // The lines up to and including the next of `kind`; empty when none came in time.
    std::vector<Fields> until(const std::string& kind, std::chrono::milliseconds timeout = 3s) {
        std::vector<Fields> lines;
        while (auto text = line(timeout)) {
            lines.push_back(split(*text));
            if (lines.back()[0] == kind) return lines;
        }
        return {};
    }

    Fields next(const std::string& kind) {
        auto lines = until(kind);
        return lines.empty() ? Fields{} : lines.back();
    }

private:
    int fd_;
    std::string pending_;
};

void writeRequest(const TempFolder& folder, const std::string& want) {
    writeFile(folder.file("velmora-link.txt"),
              "velmora-link 1\r\nstream=" + folder.file("velmora-link.fifo") + "\r\nwant=" + want + "\r\n");
}

std::size_t indexOf(const std::vector<Fields>& lines, const std::string& kind) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i][0] == kind) return i;
    return SIZE_MAX;
}

// Each case runs once per Lua the stand-in is built with.
class LuaScript : public ::testing::TestWithParam<const char*> {
protected:
    std::unique_ptr<StandinProcess> startTerminal(std::vector<std::string> extra) {
        std::vector<std::string> arguments{"--folder", folder.path(), "--static", "--script", script};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        auto terminal = std::make_unique<StandinProcess>(std::string(VELMORA_BIN_DIR) + "/" + GetParam(), arguments);
        auto first = terminal->readLine(10s);
        EXPECT_TRUE(first && first->rfind("DOMBASE=", 0) == 0) << first.value_or("(nothing)");
        return terminal;
    }
    std::string fifo() const { return folder.file("velmora-link.fifo"); }

    TempFolder folder;
};

TEST_P(LuaScript, SendsBooksOrdersTradesRepliesAndPositionsThenBye) {
    auto terminal = startTerminal({"--dump-books"});
    BookDump books = readBookDump(*terminal);
    ASSERT_EQ(mkfifo(fifo().c_str(), 0600), 0);
    StreamReader stream(fifo());
    ASSERT_TRUE(stream.isOpen());
    writeRequest(folder, "SPBFUT:SiZ6");

    auto hello = stream.line();
    ASSERT_TRUE(hello);
    EXPECT_EQ(split(*hello), (Fields{"velmora-link", "1", "1.0"}));
    EXPECT_EQ(stream.next("sec"), (Fields{"sec", "SPBFUT", "SiZ6", "0", "1", "1", "Si-12.26"}));

    std::string bids, offers;
    for (const BookLevel& level : books.at("SiZ6")) {
        std::string& side = level.side == 'B' ? bids : offers;
        side += (side.empty() ? "" : ",") + std::to_string(level.price) + ":" + std::to_string(level.quantity);
    }
    EXPECT_EQ(stream.next("book"), (Fields{"book", "SPBFUT", "SiZ6", bids, offers}));
    // The order resting from before the start, so Velmora knows it.
    EXPECT_EQ(stream.next("order"), (Fields{"order", "5000001", "0", "9", "SPBFUT", "SiZ6", "92347", "2", "2"}));

    // A buy through the best ask fills at once: order, trade and reply, then the position.
    const std::string order = "ACTION=NEW_ORDER;CLASSCODE=SPBFUT;SECCODE=SiZ6;ACCOUNT=DEMO1;TYPE=L;";
    appendText(folder.file("quik.tri"), "TRANS_ID=21;" + order + "OPERATION=B;PRICE=92351;QUANTITY=2\n");
    auto lines = stream.until("pos");
    ASSERT_FALSE(lines.empty());
    const std::size_t placed = indexOf(lines, "order"), traded = indexOf(lines, "trade"), replied = indexOf(lines, "reply");
    ASSERT_LT(placed, lines.size());
    ASSERT_LT(traded, lines.size());
    ASSERT_LT(replied, lines.size());
    EXPECT_LT(placed, replied);
    EXPECT_EQ(lines[placed], (Fields{"order", "5000002", "21", "8", "SPBFUT", "SiZ6", "92351", "2", "0"}));
    EXPECT_EQ(Fields(lines[traded].begin() + 2, lines[traded].end()),
              (Fields{"5000002", "21", "0", "SPBFUT", "SiZ6", "92351", "2"}));
    EXPECT_EQ(Fields(lines[replied].begin(), lines[replied].begin() + 6),
              (Fields{"reply", "21", "3", "5000002", "SPBFUT", "SiZ6"}));
    EXPECT_EQ(lines.back(), (Fields{"pos", "SPBFUT", "SiZ6", "F", "2", "92351", "0"}));

    // A sell into the bid takes one back; a resting buy is active.
    appendText(folder.file("quik.tri"), "TRANS_ID=22;" + order + "OPERATION=S;PRICE=92350;QUANTITY=1\n");
    EXPECT_EQ(stream.next("pos"), (Fields{"pos", "SPBFUT", "SiZ6", "F", "1", "92351", "-1"}));
    appendText(folder.file("quik.tri"), "TRANS_ID=23;" + order + "OPERATION=B;PRICE=92340;QUANTITY=1\n");
    EXPECT_EQ(stream.next("order"), (Fields{"order", "5000004", "23", "9", "SPBFUT", "SiZ6", "92340", "1", "1"}));
    EXPECT_EQ(stream.next("reply")[1], "23");

    int status = terminal->stop(5s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "main() ended and the terminal with it";
    EXPECT_EQ(stream.next("bye"), Fields{"bye"});
}

TEST_P(LuaScript, WaitsForTheStreamAndGreetsEachNewReader) {
    auto terminal = startTerminal({});
    writeRequest(folder, "SPBFUT:SiZ6");
    std::this_thread::sleep_for(1200ms);
    EXPECT_FALSE(std::filesystem::exists(fifo())) << "no plain file made where the FIFO belongs";
    EXPECT_FALSE(terminal->waitForExit(0ms));

    ASSERT_EQ(mkfifo(fifo().c_str(), 0600), 0);
    {
        StreamReader stream(fifo());
        auto hello = stream.line(4s);
        ASSERT_TRUE(hello);
        EXPECT_EQ(split(*hello)[0], "velmora-link");
        EXPECT_FALSE(stream.next("alive").empty());
    }
    // Velmora started again, a while later as a program takes: the new reader gets a fresh hello,
    // not the rest of the old stream.
    std::this_thread::sleep_for(1s);
    StreamReader again(fifo());
    auto hello = again.line(5s);
    ASSERT_TRUE(hello);
    EXPECT_EQ(split(*hello)[0], "velmora-link");
    EXPECT_FALSE(again.next("book").empty());
}

INSTANTIATE_TEST_SUITE_P(Lua, LuaScript, ::testing::Values("info.exe", "info-lua51.exe"),
                         [](const auto& info) { return std::string(info.index == 0 ? "Lua54" : "Lua51"); });

// The shipped script must compile under both interpreters the terminals embed.
TEST(LuaScriptSyntax, CompilesUnderLua51And54) {
    for (const char* compiler : {"luac5.1", "luac5.4"}) {
        std::string command = std::string(compiler) + " -p '" + script + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << compiler;
    }
}

}  // namespace
}  // namespace velmora::testing
