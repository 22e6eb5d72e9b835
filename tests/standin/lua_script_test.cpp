// velmora.lua in the stand-in's Lua host, driven from Velmora's side of the link: a slot's request,
// its FIFO and its command file, written here as Velmora writes them.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
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

Fields words(const std::string& line) {
    Fields fields;
    std::string word;
    std::istringstream in(line);
    while (in >> word) fields.push_back(word);
    return fields;
}

std::string epochMs(std::chrono::milliseconds shift = 0ms) {
    auto now = std::chrono::system_clock::now().time_since_epoch() + shift;
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// Velmora's end of a stream: a FIFO read line by line.
class StreamReader {
public:
    explicit StreamReader(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
    ~StreamReader() {
        if (fd_ >= 0) close(fd_);
    }

    std::optional<std::string> line(std::chrono::milliseconds timeout = 3s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (auto end = pending_.find('\n'); end != std::string::npos) {
                std::string text = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return text;
            }
            if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
            if (fill() == 0) std::this_thread::sleep_for(5ms);  // no writer now
        }
    }

    // The lines up to and including the next of `kind` (and `detail` in its second field, if
    // given); empty when none came in time.
    std::vector<Fields> until(const std::string& kind, const std::string& detail = "",
                              std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::vector<Fields> lines;
        while (auto text = line(std::chrono::duration_cast<std::chrono::milliseconds>(
                   deadline - std::chrono::steady_clock::now()))) {
            lines.push_back(split(*text));
            if (!lines.back().empty() && lines.back()[0] == kind && (detail.empty() || (lines.back().size() > 1 && lines.back()[1] == detail)))
                return lines;
        }
        return {};
    }

    Fields next(const std::string& kind, const std::string& detail = "") {
        auto lines = until(kind, detail);
        return lines.empty() ? Fields{} : lines.back();
    }

    // True once the writer has closed its end, with everything it wrote read.
    bool ends(std::chrono::milliseconds timeout = 3s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline)
            if (fill() == 0) return true;
        return false;
    }

private:
    // What read() answered: 0 when no writer has the FIFO open.
    ssize_t fill() {
        pollfd wait{fd_, POLLIN, 0};
        poll(&wait, 1, 50);
        char buffer[65536];
        ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got > 0) pending_.append(buffer, static_cast<std::size_t>(got));
        return got;
    }

    int fd_;
    std::string pending_;
};

std::size_t count(const std::vector<Fields>& lines, const Fields& prefix) {
    std::size_t found = 0;
    for (const Fields& line : lines)
        if (line.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), line.begin())) ++found;
    return found;
}

// One Velmora in slot `k` of the link folder, for one run: its request, FIFO and command file.
class Slot {
public:
    Slot(const TempFolder& link, int k, std::string run) : link_(link), k_(std::to_string(k)), run_(std::move(run)) {
        mkfifo(fifo().c_str(), 0600);
        stream = std::make_unique<StreamReader>(fifo());
    }
    std::string fifo() const { return link_.file("velmora-" + k_ + "-" + run_ + ".fifo"); }
    std::string commands() const { return link_.file("velmora-" + k_ + "-" + run_ + ".cmd"); }
    std::string requestPath() const { return link_.file("velmora-" + k_ + ".txt"); }

    // Written whole and renamed over the old one, as Velmora does.
    void request(const std::string& want) {
        writeFile(requestPath() + ".new", "velmora-link 2\r\nrun=" + run_ + "\r\nstream=" + fifo() + "\r\nwant=" + want +
                                              "\r\ncommands=" + commands() + "\r\n");
        std::filesystem::rename(requestPath() + ".new", requestPath());
    }
    void startCommands(int generation = 1) {
        writeFile(commands(), "velmora-commands\t2\t" + run_ + "\t" + std::to_string(generation) + "\r\n");
    }
    static std::string commandLine(int seq, const std::string& link, const std::string& madeAt,
                                   const std::string& text) {
        return std::to_string(seq) + "\t" + link + "\t" + madeAt + "\t" + text + "\r\n";
    }
    void command(int seq, const std::string& text) { appendText(commands(), commandLine(seq, link, epochMs(), text)); }

    // Reads up to the stream's hello and keeps its link id.
    Fields hello() {
        Fields fields = stream->next("velmora-link");
        if (fields.size() == 5) link = fields[4];
        return fields;
    }
    // The answer to command `seq`.
    Fields answer(int seq) { return stream->next("cmd", std::to_string(seq)); }

    std::unique_ptr<StreamReader> stream;
    std::string link;

private:
    const TempFolder& link_;
    std::string k_;
    std::string run_;
};

const std::string buySiZ6 = "ACCOUNT=DEMO1; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=NEW_ORDER; TYPE=L; OPERATION=B; ";

// Each case runs once per Lua the stand-in is built with.
class LuaScript : public ::testing::TestWithParam<const char*> {
protected:
    std::unique_ptr<StandinProcess> startTerminal(std::vector<std::string> extra, const std::string& hosted = script) {
        setenv("VELMORA_LINK_FOLDER", link.path().c_str(), 1);
        std::vector<std::string> arguments{"--folder", quik.path(), "--static", "--script", hosted};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        auto terminal = std::make_unique<StandinProcess>(std::string(VELMORA_BIN_DIR) + "/" + GetParam(), arguments);
        auto first = terminal->readLine(10s);
        EXPECT_TRUE(first && first->rfind("DOMBASE=", 0) == 0) << first.value_or("(nothing)");
        return terminal;
    }
    // The stand-in's stdout lines up to the first that starts with `prefix`; empty when none came.
    static std::vector<std::string> outputUntil(StandinProcess& terminal, const std::string& prefix) {
        std::vector<std::string> lines;
        while (auto text = terminal.readLine(3s)) {
            lines.push_back(*text);
            if (text->rfind(prefix, 0) == 0) return lines;
        }
        return {};
    }

    TempFolder quik;
    TempFolder link;
};

TEST_P(LuaScript, GreetsWithRunLinkAndAccountsThenSendsBooksOrdersTradesRepliesAndPositions) {
    auto terminal = startTerminal({"--dump-books", "--trade-accounts", "DEMO1=|SPBFUT|SPBOPT|,DEMO3=SPBFUT"});
    BookDump books = readBookDump(*terminal);
    Slot slot(link, 3, "00000000000000a1");
    slot.request("SPBFUT:SiZ6, TQBR:LKOH");

    const Fields hello = slot.hello();
    ASSERT_EQ(hello.size(), 5u);
    EXPECT_EQ(Fields(hello.begin(), hello.begin() + 4), (Fields{"velmora-link", "2", "2.0", "00000000000000a1"}));
    EXPECT_TRUE(hello[4].size() > 2 && hello[4].substr(hello[4].size() - 2) == ".1") << hello[4];
    auto lines = slot.stream->until("order");
    EXPECT_EQ(count(lines, {"account", "DEMO1", "|SPBFUT|SPBOPT|"}), 1u);
    EXPECT_EQ(count(lines, {"account", "DEMO3", "SPBFUT"}), 1u);
    EXPECT_EQ(count(lines, {"sec", "SPBFUT", "SiZ6", "0", "1", "1", "Si-12.26"}), 1u);
    EXPECT_EQ(count(lines, {"sec", "TQBR", "LKOH", "1", "0.5", "1", "LKOH"}), 1u);
    std::string bids, offers;
    for (const BookLevel& level : books.at("SiZ6")) {
        std::string& side = level.side == 'B' ? bids : offers;
        side += (side.empty() ? "" : ",") + std::to_string(level.price) + ":" + std::to_string(level.quantity);
    }
    EXPECT_EQ(count(lines, {"book", "SPBFUT", "SiZ6", bids, offers}), 1u);
    // The order resting from before the start, so Velmora knows it.
    EXPECT_EQ(lines.back(), (Fields{"order", "5000001", "0", "9", "SPBFUT", "SiZ6", "92347", "2", "2"}));

    // A buy through the best ask fills at once: order, trade and reply, then the position.
    appendText(quik.file("quik.tri"), "TRANS_ID=21;" + buySiZ6 + "PRICE=92351;QUANTITY=2\n");
    lines = slot.stream->until("pos");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(count(lines, {"order", "5000002", "21", "8", "SPBFUT", "SiZ6", "92351", "2", "0"}), 1u);
    EXPECT_EQ(count(lines, {"reply", "21", "3", "5000002", "SPBFUT", "SiZ6"}), 1u);
    bool traded = false;
    for (const Fields& line : lines)
        traded = traded || (line[0] == "trade" && Fields(line.begin() + 2, line.end()) ==
                                                      Fields{"5000002", "21", "0", "SPBFUT", "SiZ6", "92351", "2"});
    EXPECT_TRUE(traded);
    EXPECT_EQ(lines.back(), (Fields{"pos", "SPBFUT", "SiZ6", "F", "2", "92351", "0"}));
    readBookDump(*terminal);
    auto hasBook = [](const std::vector<Fields>& lines, const std::string& level) {
        for (const Fields& line : lines)
            if (line.size() == 5 && line[0] == "book" && line[2] == "SiZ6" &&
                (line[3] + "," + line[4] + ",").find(level + ",") != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(hasBook(lines, "92351:18"));

    // Sold back, the position goes flat; a stock's position comes from depo_limits.
    const std::string sell = "ACCOUNT=DEMO1;CLASSCODE=SPBFUT;SECCODE=SiZ6;ACTION=NEW_ORDER;TYPE=L;OPERATION=S;";
    appendText(quik.file("quik.tri"), "TRANS_ID=22;" + sell + "PRICE=92350;QUANTITY=2\n");
    lines = slot.stream->until("pos");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), (Fields{"pos", "SPBFUT", "SiZ6", "F", "0", "0", "0"}));
    EXPECT_TRUE(hasBook(lines, "92350:14")) << "each change of the book is sent";
    readBookDump(*terminal);
    appendText(quik.file("quik.tri"), "TRANS_ID=23;ACCOUNT=DEMO2;CLASSCODE=TQBR;SECCODE=LKOH;ACTION=NEW_ORDER;TYPE=L;"
                                      "OPERATION=B;PRICE=7124.0;QUANTITY=3\n");
    EXPECT_EQ(slot.stream->next("pos"), (Fields{"pos", "TQBR", "LKOH", "S", "3", "7124", ""}));
    readBookDump(*terminal);

    // The server lost and back: alive says so, and every book comes again.
    writeFile(quik.file("server.off"), "");
    EXPECT_FALSE(slot.stream->until("alive", "0").empty());
    std::filesystem::remove(quik.file("server.off"));
    EXPECT_FALSE(slot.stream->until("alive", "1").empty());
    std::set<std::string> booksAgain;
    for (int i = 0; i < 2; ++i) booksAgain.insert(slot.stream->next("book").at(2));
    EXPECT_EQ(booksAgain, (std::set<std::string>{"SiZ6", "LKOH"}));

    int status = terminal->stop(5s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "main() ended and the terminal with it";
    EXPECT_EQ(slot.stream->next("bye"), Fields{"bye"});
}

TEST_P(LuaScript, ServesEachSlotOnItsOwnAndOrdersBooksWhileAnySlotWantsThem) {
    auto terminal = startTerminal({"--report-script"});
    Slot first(link, 1, "00000000000000b1"), second(link, 2, "00000000000000b2");
    first.request("SPBFUT:SiZ6");
    second.request("TQBR:LKOH");
    EXPECT_EQ(first.hello()[3], "00000000000000b1");
    EXPECT_EQ(second.hello()[3], "00000000000000b2");
    auto firstLines = first.stream->until("book");
    auto secondLines = second.stream->until("book");
    ASSERT_FALSE(firstLines.empty());
    ASSERT_FALSE(secondLines.empty());
    EXPECT_EQ(Fields(firstLines.back().begin(), firstLines.back().begin() + 3), (Fields{"book", "SPBFUT", "SiZ6"}));
    EXPECT_EQ(Fields(secondLines.back().begin(), secondLines.back().begin() + 3), (Fields{"book", "TQBR", "LKOH"}));
    EXPECT_EQ(count(secondLines, {"sec", "SPBFUT"}), 0u);

    // The first drops SiZ6 for LKOH: SiZ6 is no longer ordered, LKOH stays.
    first.request("TQBR:LKOH");
    EXPECT_FALSE(first.stream->until("book", "TQBR").empty());
    auto output = outputUntil(*terminal, "SCRIPT UNSUBSCRIBE");
    ASSERT_FALSE(output.empty());
    EXPECT_EQ(output.back(), "SCRIPT UNSUBSCRIBE SPBFUT SiZ6");
    EXPECT_EQ(std::count(output.begin(), output.end(), "SCRIPT SUBSCRIBE TQBR LKOH"), 1);

    // The second's request goes: its stream closes at once. The first's run changes: its old
    // stream closes, a new one greets with the new run, and the old run's command file goes.
    std::filesystem::remove(second.requestPath());
    EXPECT_TRUE(second.stream->ends());
    writeFile(first.commands(), "velmora-commands\t2\t00000000000000b1\t1\r\n");
    Slot again(link, 1, "00000000000000b3");
    again.request("TQBR:LKOH");
    EXPECT_TRUE(first.stream->ends());
    const Fields hello = again.hello();
    ASSERT_EQ(hello.size(), 5u);
    EXPECT_EQ(hello[3], "00000000000000b3");
    EXPECT_EQ(hello[4].substr(hello[4].size() - 2), ".2") << "the slot's second stream";
    EXPECT_FALSE(again.stream->until("book", "TQBR").empty());
    EXPECT_FALSE(std::filesystem::exists(first.commands()));


    // LKOH stayed ordered while the first wanted it; with the last request gone, nothing is.
    again.request("TQBR:LKOH,SPBFUT:SiZ6");
    output = outputUntil(*terminal, "SCRIPT SUBSCRIBE SPBFUT SiZ6");
    ASSERT_FALSE(output.empty());
    EXPECT_EQ(std::count(output.begin(), output.end(), "SCRIPT UNSUBSCRIBE TQBR LKOH"), 0);
    std::filesystem::remove(again.requestPath());
    EXPECT_TRUE(again.stream->ends());
    std::set<std::string> dropped;
    for (int i = 0; i < 2; ++i) {
        output = outputUntil(*terminal, "SCRIPT UNSUBSCRIBE");
        if (!output.empty()) dropped.insert(output.back());
    }
    EXPECT_EQ(dropped, (std::set<std::string>{"SCRIPT UNSUBSCRIBE TQBR LKOH", "SCRIPT UNSUBSCRIBE SPBFUT SiZ6"}));
}

TEST_P(LuaScript, SendsEachFreshCommandOnceAndAnswersEveryOther) {
    auto terminal = startTerminal({});
    Slot slot(link, 1, "00000000000000c1");
    slot.startCommands();
    slot.request("SPBFUT:SiZ6");
    slot.hello();
    ASSERT_FALSE(slot.link.empty());

    slot.command(1, "TRANS_ID=101; " + buySiZ6 + "QUANTITY=1; PRICE=92340; ");
    slot.command(2, "TRANS_ID=102; " + buySiZ6 + "QUANTITY=1; PRICE=92340; FOO=1; ");
    appendText(slot.commands(), Slot::commandLine(3, "another.1", epochMs(), "TRANS_ID=103; " + buySiZ6 + "QUANTITY=1; PRICE=92340;"));
    appendText(slot.commands(), Slot::commandLine(4, slot.link, epochMs(-5s), "TRANS_ID=104; " + buySiZ6 + "QUANTITY=1; PRICE=92340;"));
    slot.command(5, "TRANS_ID=105; ACCOUNT=DEMO1; ACCOUNT=DEMO2; ");
    slot.command(6, "TRANS_ID=106; acc\x7f\x01ount=DEMO1; ");
    slot.command(7, "TRANS_ID=107; ACCOUNT=DE\x01MO1; ");
    appendText(slot.commands(), "x\t" + slot.link + "\t" + epochMs() + "\tTRANS_ID=108;\r\n");
    // Half a line waits for the rest.
    appendText(slot.commands(), "9\t" + slot.link + "\t" + epochMs() + "\tTRANS_ID=109; " + buySiZ6);

    auto lines = slot.stream->until("cmd", "7");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(count(lines, {"cmd", "1", "sent", "101", ""}), 1u);
    EXPECT_EQ(count(lines, {"cmd", "2", "refused", "102", "unknown key FOO"}), 1u);
    EXPECT_EQ(count(lines, {"cmd", "3", "stale", "103", "another link"}), 1u);
    EXPECT_EQ(count(lines, {"cmd", "4", "stale", "104"}), 1u);
    EXPECT_EQ(count(lines, {"cmd", "5", "bad", "105", "ACCOUNT twice"}), 1u);
    // Control characters in what goes back are blanks, so that Velmora takes the line.
    EXPECT_EQ(count(lines, {"cmd", "6", "bad", "106", "not a KEY=VALUE pair: acc  ount=DEMO1"}), 1u);
    EXPECT_EQ(count(lines, {"cmd", "7", "bad", "107", "a control character in ACCOUNT"}), 1u);
    EXPECT_EQ(count(lines, {"cmd"}), 7u);
    EXPECT_EQ(slot.stream->next("cmd"), (Fields{"cmd", "", "bad", "", "no seq"}));
    appendText(slot.commands(), "QUANTITY=2; PRICE=92339;\r\n");
    EXPECT_EQ(slot.answer(9), (Fields{"cmd", "9", "sent", "109", ""}));
    EXPECT_EQ(slot.stream->next("reply", "109").at(2), "3") << "taken whole, with its quantity";

    // Orders move on the futures market; a stock's order cannot be moved (status 10).
    slot.command(10, "TRANS_ID=110; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=MOVE_ORDERS; MODE=0; "
                     "FIRST_ORDER_NUMBER=5000002; FIRST_ORDER_NEW_PRICE=92338; ");
    slot.command(11, "TRANS_ID=111; ACCOUNT=DEMO2; CLASSCODE=TQBR; SECCODE=LKOH; ACTION=NEW_ORDER; TYPE=L; "
                     "OPERATION=B; QUANTITY=1; PRICE=7100.0; ");
    slot.command(12, "TRANS_ID=112; CLASSCODE=TQBR; SECCODE=LKOH; ACTION=MOVE_ORDERS; MODE=1; "
                     "FIRST_ORDER_NUMBER=5000005; FIRST_ORDER_NEW_PRICE=7099.0; FIRST_ORDER_NEW_QUANTITY=1; ");
    lines = slot.stream->until("reply", "112");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(count(lines, {"reply", "110", "3", "5000004", "SPBFUT", "SiZ6"}), 1u);
    EXPECT_EQ(count(lines, {"order", "5000002", "101", "10", "SPBFUT", "SiZ6", "92340", "1", "1"}), 1u);
    EXPECT_EQ(count(lines, {"order", "5000004", "110", "9", "SPBFUT", "SiZ6", "92338", "1", "1"}), 1u);
    EXPECT_EQ(count(lines, {"reply", "111", "3", "5000005"}), 1u);
    EXPECT_EQ(Fields(lines.back().begin(), lines.back().begin() + 4), (Fields{"reply", "112", "10", ""}));

    // A new generation from the start: a seq taken before is not taken again.
    slot.startCommands(2);
    slot.command(1, "TRANS_ID=101; " + buySiZ6 + "QUANTITY=1; PRICE=92340; ");
    slot.command(13, "TRANS_ID=113; " + buySiZ6 + "QUANTITY=1; PRICE=92341; ");
    lines = slot.stream->until("reply", "113");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(count(lines, {"cmd"}), 1u);
    EXPECT_EQ(count(lines, {"cmd", "13", "sent", "113"}), 1u);
    EXPECT_EQ(count(lines, {"reply", "101"}), 0u);
    EXPECT_EQ(count(lines, {"order", "5000006", "113"}), 1u) << "the next order number: nothing sent in between";
}

TEST_P(LuaScript, AScriptStartedAgainSendsNoCommandOfItsEarlierStart) {
    Slot slot(link, 1, "00000000000000d1");
    slot.startCommands();
    slot.request("SPBFUT:SiZ6");
    std::string earlierLink;
    {
        auto terminal = startTerminal({});
        slot.hello();
        earlierLink = slot.link;
        slot.command(1, "TRANS_ID=201; " + buySiZ6 + "QUANTITY=1; PRICE=92340; ");
        EXPECT_EQ(slot.answer(1)[2], "sent");
        terminal->stop(5s);
        EXPECT_FALSE(slot.stream->until("bye").empty());
    }
    // Made for the earlier start and never read by it.
    slot.command(2, "TRANS_ID=202; " + buySiZ6 + "QUANTITY=1; PRICE=92340; ");

    auto terminal = startTerminal({});
    slot.hello();
    EXPECT_NE(slot.link, earlierLink);
    auto lines = slot.stream->until("cmd", "2");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(count(lines, {"cmd", "1", "stale", "201", "another link"}), 1u);
    EXPECT_EQ(count(lines, {"cmd", "2", "stale", "202", "another link"}), 1u);
    slot.command(3, "TRANS_ID=203; " + buySiZ6 + "QUANTITY=1; PRICE=92340; ");
    lines = slot.stream->until("reply", "203");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(count(lines, {"reply", "203", "3", "5000002"}), 1u) << "the terminal's first order since its start";
    EXPECT_EQ(count(lines, {"reply", "201"}) + count(lines, {"reply", "202"}), 0u);
}

TEST_P(LuaScript, TellsWhatItsQueueDroppedAndEachErrorOnce) {
    auto terminal = startTerminal({"--report-script", "--script-fault", "getSecurityInfo"});
    Slot slot(link, 1, "00000000000000e1");
    slot.request("SPBFUT:SiZ6");
    slot.hello();
    auto lines = slot.stream->until("order");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(count(lines, {"sec"}), 0u);
    EXPECT_EQ(count(lines, {"book"}), 1u);

    // One look at the file brings more callbacks than the queue holds; the last order's book is
    // among those lost, so every book comes again after the count of what was lost.
    std::string flood;
    for (int i = 0; i < 5000; ++i)
        flood += "TRANS_ID=" + std::to_string(1000 + i) +
                 ";ACCOUNT=DEMO2;CLASSCODE=TQBR;SECCODE=MOEX;ACTION=NEW_ORDER;TYPE=L;OPERATION=B;PRICE=100.00;"
                 "QUANTITY=1\n";
    flood += "TRANS_ID=9000;" + buySiZ6 + "PRICE=92344;QUANTITY=7\n";
    writeFile(quik.file("quik.tri.new"), flood);
    std::filesystem::rename(quik.file("quik.tri.new"), quik.file("quik.tri"));
    lines = slot.stream->until("book");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(count(lines, {"order"}), 5000u);
    EXPECT_EQ(count(lines, {"reply"}), 5000u);
    EXPECT_EQ(count(lines, {"dropped", "quote", "1"}), 1u);
    EXPECT_EQ(count(lines, {"dropped", "order", "1"}), 1u);
    EXPECT_EQ(count(lines, {"dropped", "reply", "1"}), 1u);
    EXPECT_NE(lines.back()[3].find("92344:7"), std::string::npos) << lines.back()[3];
    appendText(quik.file("quik.tri"), "TRANS_ID=9001;" + buySiZ6 + "PRICE=92344;QUANTITY=1\n");
    EXPECT_NE(slot.stream->next("book").at(3).find("92344:8"), std::string::npos) << "its changes come again";


    // Another instrument wanted and dropped again: its sec fails too, after the first was told.
    slot.request("SPBFUT:SiZ6,TQBR:LKOH");
    auto output = outputUntil(*terminal, "SCRIPT SUBSCRIBE TQBR LKOH");
    slot.request("SPBFUT:SiZ6");
    auto more = outputUntil(*terminal, "SCRIPT UNSUBSCRIBE TQBR LKOH");
    ASSERT_FALSE(output.empty() || more.empty());
    output.insert(output.end(), more.begin(), more.end());
    std::vector<std::string> messages;
    for (const std::string& text : output)
        if (text.rfind("SCRIPT MESSAGE", 0) == 0) messages.push_back(text);
    ASSERT_EQ(messages.size(), 1u) << "told once, though it failed on every look";
    EXPECT_NE(messages[0].find("getSecurityInfo: the terminal failed to answer"), std::string::npos) << messages[0];
}

TEST_P(LuaScript, SendsTheTapeOfWantedInstrumentsOnlyAsTheTerminalPlaysIt) {
    auto terminal = startTerminal({"--report-script", "--trade-rate", "40"});
    Slot slot(link, 1, "00000000000000f1");
    slot.request("SPBFUT:SiZ6");
    ASSERT_FALSE(outputUntil(*terminal, "SCRIPT SUBSCRIBE SPBFUT SiZ6").empty());
    slot.hello();
    // An order through the best offer trades on the tape too.
    appendText(quik.file("quik.tri"), "TRANS_ID=31;" + buySiZ6 + "PRICE=92351;QUANTITY=2\n");

    // What the stand-in played from the subscription on: SiZ6's trades with others' among them, which
    // must not reach the stream, so its first tape lines are SiZ6's in the same order.
    std::vector<Fields> played;
    bool others = false, bought = false;
    while (!(others && bought && played.size() >= 4)) {
        auto output = outputUntil(*terminal, "SCRIPT TAPE");
        ASSERT_FALSE(output.empty()) << played.size() << " trades of SiZ6 played";
        const Fields trade = words(output.back());
        ASSERT_EQ(trade.size(), 7u) << output.back();
        if (trade[3] != "SiZ6") {
            others = true;
            continue;
        }
        played.push_back(Fields(trade.begin() + 2, trade.end()));
        bought = bought || played.back() == Fields{"SPBFUT", "SiZ6", "92351", "2", "2"};
    }
    double lastNumber = 0;
    for (const Fields& trade : played) {
        const Fields tape = slot.stream->next("tape");
        ASSERT_EQ(tape.size(), 8u);
        EXPECT_EQ((Fields{tape[1], tape[2], tape[5], tape[6], tape[4]}), trade);
        EXPECT_GT(std::stod(tape[3]), lastNumber) << "trade numbers rise";
        lastNumber = std::stod(tape[3]);
        EXPECT_TRUE(std::regex_match(tape[7], std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{3}"))) << tape[7];
    }
}

TEST_P(LuaScript, SendsTheStepPriceWhereTheTerminalHasOneAndAgainWhenItMoves) {
    {
        auto terminal = startTerminal({"--step-price", "12.5", "--step-price-every", "2500"});
        Slot slot(link, 1, "0000000000000101");
        slot.request("SPBFUT:SiZ6,TQBR:LKOH");
        slot.hello();
        auto lines = slot.stream->until("order");
        EXPECT_EQ(count(lines, {"sec", "SPBFUT", "SiZ6", "0", "1", "1", "Si-12.26", "12.5"}), 1u);
        EXPECT_EQ(count(lines, {"sec", "TQBR", "LKOH", "1", "0.5", "1", "LKOH", ""}), 1u) << "a stock has none";
        const Fields moved = slot.stream->next("sec");
        ASSERT_EQ(moved.size(), 8u);
        EXPECT_EQ(moved[2], "SiZ6");
        EXPECT_NE(moved[7], "12.5");
        EXPECT_GT(std::stod(moved[7]), 0);
    }
    // A terminal that fails to answer leaves the field empty, and the rest of the line stands.
    Slot slot(link, 1, "0000000000000102");
    slot.request("SPBFUT:SiZ6");
    auto terminal = startTerminal({"--script-fault", "getParamEx"});
    slot.hello();
    EXPECT_EQ(slot.stream->next("sec"), (Fields{"sec", "SPBFUT", "SiZ6", "0", "1", "1", "Si-12.26", ""}));
}

// The host's own sendTransaction, called as the terminal's manual has it.
TEST_P(LuaScript, TheHostSendsOnlyATableOfKnownKeysAndStringValues) {
    const std::string probe = link.file("probe.lua");
    writeFile(probe, R"(
local stop = false
function OnStop() stop = true return 1000 end
function OnTransReply(r) message(string.format("reply %d %d", r.trans_id, r.status)) end
function main()
    message("number: " .. sendTransaction({ TRANS_ID = 5, ACTION = "KILL_ALL_ORDERS" }))
    message("text: " .. sendTransaction("TRANS_ID=5;"))
    message("key: " .. sendTransaction({ "TRANS_ID=5" }))
    message("unknown: " .. sendTransaction({ TRANS_ID = "5", NEW_KEY = "1" }))
    message("sent: [" .. sendTransaction({ TRANS_ID = "7", ACCOUNT = "DEMO1", CLASSCODE = "SPBFUT",
        SECCODE = "SiZ6", ACTION = "NEW_ORDER", TYPE = "L", OPERATION = "B", QUANTITY = "1", PRICE = "92340" }) .. "]")
    while not stop do sleep(10) end
end
)");
    auto terminal = startTerminal({"--report-script"}, probe);
    auto output = outputUntil(*terminal, "SCRIPT MESSAGE reply");
    EXPECT_EQ(output, (std::vector<std::string>{
                          "SCRIPT MESSAGE number: the value of TRANS_ID is not a string",
                          "SCRIPT MESSAGE text: sendTransaction takes a table",
                          "SCRIPT MESSAGE key: a key that is not a string",
                          "SCRIPT MESSAGE unknown: unknown key NEW_KEY",
                          "SCRIPT sendTransaction ACCOUNT=DEMO1;ACTION=NEW_ORDER;CLASSCODE=SPBFUT;OPERATION=B;"
                          "PRICE=92340;QUANTITY=1;SECCODE=SiZ6;TRANS_ID=7;TYPE=L;",
                          "SCRIPT MESSAGE sent: []",
                          "SCRIPT MESSAGE reply 7 3",
                      }))
        << "nothing refused reaches the exchange, so the first reply is the sent one's";
    EXPECT_FALSE(std::filesystem::exists(quik.file("quik.tro"))) << "a script's transaction answers through OnTransReply";
}

INSTANTIATE_TEST_SUITE_P(Lua, LuaScript, ::testing::Values("info.exe", "info-lua51.exe"),
                         [](const auto& info) { return std::string(info.index == 0 ? "Lua54" : "Lua51"); });

// As the demo runs it: a moving market with its own tape, the futures' own step prices.
TEST(LuaScriptOnMovingMarket, CarriesTheTapeAndTheStepPrice) {
    TempFolder quik, link;
    setenv("VELMORA_LINK_FOLDER", link.path().c_str(), 1);
    StandinProcess terminal(std::string(VELMORA_BIN_DIR) + "/info.exe",
                            {"--folder", quik.path(), "--script", script, "--rate", "20"});
    ASSERT_TRUE(terminal.readLine(10s).value_or("").rfind("DOMBASE=", 0) == 0);
    Slot slot(link, 1, "0000000000000201");
    slot.request("SPBFUT:RIZ6");
    slot.hello();
    EXPECT_EQ(count(slot.stream->until("book"), {"sec", "SPBFUT", "RIZ6", "0", "10", "1", "RTS-12.26", "13.2517"}), 1u);
    for (int i = 0; i < 3; ++i) {
        const Fields tape = slot.stream->next("tape");
        ASSERT_EQ(tape.size(), 8u);
        EXPECT_EQ((Fields{tape[1], tape[2]}), (Fields{"SPBFUT", "RIZ6"}));
        EXPECT_TRUE(tape[4] == "1" || tape[4] == "2") << tape[4];
        EXPECT_EQ(std::stol(tape[5]) % 10, 0) << "on the price step: " << tape[5];
        EXPECT_GT(std::stol(tape[6]), 0);
    }
}

// The shipped script must compile under both interpreters the terminals embed.
TEST(LuaScriptSyntax, CompilesUnderLua51And54) {
    for (const char* compiler : {"luac5.1", "luac5.4"}) {
        std::string command = std::string(compiler) + " -p '" + script + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << compiler;
    }
}

}  // namespace
}  // namespace velmora::testing
