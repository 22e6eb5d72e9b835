#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "platform/text_encoding.h"
#include "support/fakes.h"
#include "process_memory.h"
#include "support/standin_process.h"
#include "terminal_files.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

struct Row {
    std::uint32_t price = 0;
    bool sell = false;
    std::uint32_t quantity = 0;
    std::uint32_t own = 0;
    bool operator==(const Row&) const = default;
};
using Books = std::map<std::string, std::vector<Row>>;

std::string code(const std::string& ticker) {
    return ticker.substr(0, ticker.find('\0'));
}

std::uint32_t word(const ProcessMemory& memory, std::uint32_t address) {
    std::uint32_t value = 0;
    EXPECT_TRUE(memory.read(address, &value, 4)) << std::hex << address;
    return value;
}

struct Chain {
    Books books;
    int headersWithoutBook = 0;
};

// Walks the chain from the head word, checking what every reader relies on.
Chain readChain(const ProcessMemory& memory, std::uint32_t base, const std::vector<SecRecord>& records) {
    Chain chain;
    char spare[496];
    std::set<std::uint32_t> seen;
    for (std::uint32_t header = word(memory, base); header != 0; header = word(memory, header)) {
        if (!seen.insert(header).second) {
            ADD_FAILURE() << "the chain loops";
            break;
        }
        EXPECT_TRUE(memory.read(header, spare, sizeof spare)) << "496 bytes readable at a header";
        auto securityIndex = word(memory, header + 4);
        auto array = word(memory, header + 8);
        auto count = word(memory, header + 12);
        if (array == 0) {
            ++chain.headersWithoutBook;
            continue;
        }
        EXPECT_LT(securityIndex, records.size());
        if (securityIndex >= records.size()) continue;
        EXPECT_TRUE(memory.read(array, spare, sizeof spare)) << "496 bytes readable at a pointer array";
        EXPECT_LE(count, 124u);
        auto& rows = chain.books[code(records[securityIndex].ticker)];
        for (std::uint32_t i = 0; i < count; ++i) {
            // A count read just before the book shrank can point past the array's end mark.
            std::uint32_t pointer = word(memory, array + 4 * i);
            if (pointer == 0) break;
            std::uint32_t entry[9];
            EXPECT_TRUE(memory.read(pointer, entry, sizeof entry));
            bool buys = entry[7] != 0, sells = entry[3] != 0;
            EXPECT_NE(buys, sells) << "one side per level";
            EXPECT_FALSE(entry[4] != 0 && entry[8] != 0) << "own quantity on one side only";
            rows.push_back(sells ? Row{entry[0], true, entry[3], entry[4]} : Row{entry[0], false, entry[7], entry[8]});
        }
    }
    return chain;
}

// Ascending prices, all bids before all asks, nothing empty.
::testing::AssertionResult consistent(const std::vector<Row>& rows) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].quantity == 0 || rows[i].price == 0 || rows[i].own > rows[i].quantity)
            return ::testing::AssertionFailure() << "empty or oversized level at " << rows[i].price;
        if (i > 0 && rows[i].price <= rows[i - 1].price)
            return ::testing::AssertionFailure() << "price " << rows[i].price << " after " << rows[i - 1].price;
        if (i > 0 && rows[i - 1].sell && !rows[i].sell) return ::testing::AssertionFailure() << "bid after ask";
    }
    return ::testing::AssertionSuccess();
}

Books readDump(StandinProcess& terminal) {
    Books books;
    for (auto line = terminal.readLine(); line && *line != "END"; line = terminal.readLine()) {
        std::istringstream in(*line);
        std::string ticker;
        char side;
        Row row;
        in >> ticker >> side >> row.price >> row.quantity >> row.own;
        row.sell = side == 'S';
        books[ticker].push_back(row);
    }
    return books;
}

class StandinTerminalTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::string tri() const { return folder.file("quik.tri"); }
    std::string tro() const { return folder.file("quik.tro"); }
    std::string trr() const { return folder.file("quik.trr"); }
};

TEST_F(StandinTerminalTest, WritesAFullSecuritiesFileInEitherVersion) {
    for (int version : {1, 2}) {
        SCOPED_TRACE(version);
        TempFolder own;
        StandinProcess terminal(StandinProcess::serving(own.path(), {"--static", "--sec-version", std::to_string(version)}));
        auto records = parseSecFile(readFile(own.file("sec.dat")), version);
        ASSERT_EQ(records.size(), 15u);

        std::set<std::string> futures;
        for (const auto& r : records)
            if (r.classCode == "SPBFUT") futures.insert(code(r.ticker));
        int options = 0, withoutBase = 0, longTails = 0, zeroInside = 0, cyrillic = 0;
        for (const auto& r : records) {
            EXPECT_GT(r.step, 0);
            EXPECT_TRUE(r.decimals >= 0 && r.decimals <= 4);
            if (r.classCode == "SPBOPT") {
                ++options;
                EXPECT_TRUE(futures.count(r.baseContract)) << r.baseContract;
            }
            withoutBase += r.isin.empty() && !r.hasBase;
            if (!r.isin.empty()) {
                ++longTails;
                EXPECT_EQ(r.classCode.rfind("TQ", 0), 0u) << r.classCode;
            }
            zeroInside += (r.ticker + r.names).find('\0') != std::string::npos;
            for (unsigned char c : r.names) cyrillic += c >= 0xC0;
        }
        EXPECT_GE(options, 2);
        EXPECT_GE(withoutBase, 1);
        EXPECT_GE(longTails, 3);
        EXPECT_GE(zeroInside, 1);
        EXPECT_GT(cyrillic, 0);
    }
}

TEST_F(StandinTerminalTest, MemoryHoldsTheDumpedBooksInChainLayout) {
    StandinProcess terminal(StandinProcess::serving(folder.path(), {"--static", "--dump-books"}));
    EXPECT_LT(terminal.domBase(), 0x80000000u) << "fits a signed 32-bit setting";
    Books dumped = readDump(terminal);
    auto records = parseSecFile(readFile(folder.file("sec.dat")), 1);

    ProcessMemory memory(terminal.pid());
    Chain chain = readChain(memory, terminal.domBase(), records);
    EXPECT_GE(chain.books.size(), 6u);
    EXPECT_GE(chain.headersWithoutBook, 1);
    EXPECT_EQ(chain.books, dumped);
    for (const auto& [ticker, rows] : chain.books) EXPECT_TRUE(consistent(rows)) << ticker;
    // A resting order of the user's is there from the start.
    EXPECT_TRUE(std::any_of(dumped["SiZ6"].begin(), dumped["SiZ6"].end(), [](const Row& r) { return r.own > 0; }));
}

TEST_F(StandinTerminalTest, AnswersEachTransactionLineWithTheTerminalsTwoLinesAndRefusesBadOnes) {
    StandinProcess terminal(StandinProcess::serving(folder.path(), {"--static"}));
    appendText(tri(), "\r\nTRANS_ID=11; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=NEW_ORDER; TYPE=L; "
                      "QUANTITY=1; PRICE=92300; OPERATION=B; \r\n"
                      "TRANS_ID=12; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=XXZ9; ACTION=NEW_ORDER; TYPE=L; "
                      "QUANTITY=1; PRICE=1; OPERATION=B; \r\n");
    waitForLines(tro(), 4, 1s);
    // Byte for byte as the terminal writes them: Windows-1251, CR LF, the blanks of the manual's
    // example, and the order of the earlier session holding the first number.
    EXPECT_EQ(readFile(tro()),
              utf8ToCp1251("TRANS_ID=11;STATUS=0;TRANS_NAME=\"Ввод заявки\"; DESCRIPTION=\"Отправлена транзакция\";\r\n"
                           "TRANS_ID=11;STATUS=3;TRANS_NAME=\"Ввод заявки\"; DESCRIPTION=\"(160) Заявка на покупку N "
                           "5000002 зарегистрирована.\"; ORDER_NUMBER=5000002;\r\n"
                           "TRANS_ID=12;STATUS=0;TRANS_NAME=\"Ввод заявки\"; DESCRIPTION=\"Отправлена транзакция\";\r\n"
                           "TRANS_ID=12;STATUS=5;TRANS_NAME=\"Ввод заявки\"; DESCRIPTION=\"Неизвестный инструмент "
                           "SPBFUT XXZ9\";\r\n"));

    const std::string head = "ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=BRF7; ";
    const std::string order = head + "ACTION=NEW_ORDER; TYPE=L; QUANTITY=2; OPERATION=S; PRICE=";
    struct Bad {
        std::string text;
        std::string status;
        std::string reason;
    };
    std::vector<Bad> bad = {
        {"TRANS_ID=0; " + order + "75.20; ", "5", "TRANS_ID '0'"},
        {"TRANS_ID=21; CLASSCODE=SPBFUT; SECCODE=BRF7; ACTION=NEW_ORDER; TYPE=L; QUANTITY=2; OPERATION=S; PRICE=75.20; ", "5", "ACCOUNT"},
        {"TRANS_ID=23; " + order + "75.205; ", "4", "знаков после точки больше 2"},
        {"TRANS_ID=24; " + order + "75,20; ", "4", "'75,20' не число"},
        {"TRANS_ID=25; " + head + "ACTION=NEW_ORDER; TYPE=L; QUANTITY=0; OPERATION=S; PRICE=75.20; ", "5", "QUANTITY"},
        {"TRANS_ID=26; " + head + "ACTION=NEW_ORDER; TYPE=M; QUANTITY=1; OPERATION=S; PRICE=75.20; ", "5", "TYPE"},
        {"TRANS_ID=27; " + head + "ACTION=NEW_ORDER; TYPE=L; QUANTITY=1; OPERATION=X; PRICE=75.20; ", "5", "OPERATION"},
        {"TRANS_ID=28; " + head + "ACTION=KILL_ALL_FUTURES_ORDERS; ", "5", "BASE_CONTRACT"},
        {"TRANS_ID=29; " + head + "ACTION=MOVE_ORDERS; FIRST_ORDER_NUMBER=5000001; FIRST_ORDER_NEW_PRICE=75.20; ", "5", "MODE"},
        {"TRANS_ID=31; CLASSCODE=TQBR; SECCODE=LKOH; ACTION=MOVE_ORDERS; MODE=0; FIRST_ORDER_NUMBER=5000001; "
         "FIRST_ORDER_NEW_PRICE=7100.0; ", "10", "только на срочном рынке"},
        {"TRANS_ID=32; " + head, "5", "Не указан параметр ACTION"},
        {"TRANS_ID=33; " + head + "ACTION=KILL_ORDER; ", "5", "ORDER_KEY"},
        {"TRANS_ID=30; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=RIZ6; ACTION=NEW_ORDER; TYPE=L; QUANTITY=1; OPERATION=B; PRICE=110255; ", "4", "шагу цены 10"},
    };
    std::string lines;
    for (const Bad& b : bad) lines += b.text + "\r\n";
    // A line still being written is left for a later look.
    appendText(tri(), lines + "TRANS_ID=40; " + head + "ACTION=KILL_ALL_FUTURES_ORDERS; BASE_CONTRACT=BR");
    auto replies = waitForLines(tro(), 4 + 2 * bad.size());
    ASSERT_EQ(replies.size(), 4 + 2 * bad.size());
    for (std::size_t i = 0; i < bad.size(); ++i) {
        const std::string line = cp1251ToUtf8(replies[5 + 2 * i]);
        const std::string id = bad[i].text.substr(0, bad[i].text.find(';') + 1);
        EXPECT_EQ(line.rfind(id + "STATUS=" + bad[i].status + ";", 0), 0u) << line;
        EXPECT_NE(line.find(bad[i].reason), std::string::npos) << bad[i].text << " -> " << line;
        EXPECT_EQ(line.find("ORDER_NUMBER"), std::string::npos) << line;
    }
    EXPECT_FALSE(std::filesystem::exists(trr())) << "the processing log is the terminal's own affair";

    appendText(tri(), "\r\n");
    replies = waitForLines(tro(), 6 + 2 * bad.size());
    ASSERT_EQ(replies.size(), 6 + 2 * bad.size());
    EXPECT_EQ(cp1251ToUtf8(replies.back()),
              "TRANS_ID=40;STATUS=3;TRANS_NAME=\"Снять все заявки по фьючерсам\"; DESCRIPTION=\"Снято заявок: 0.\";");
}

TEST_F(StandinTerminalTest, OrdersRestTradeAndAreCancelledOneByOneOrAllInTheBook) {
    StandinProcess terminal(StandinProcess::serving(folder.path(), {"--static", "--dump-books"}));
    Books before = readDump(terminal);
    auto records = parseSecFile(readFile(folder.file("sec.dat")), 1);
    auto level = [](const Books& books, std::uint32_t price) {
        for (const Row& r : books.at("SiZ6"))
            if (r.price == price) return r;
        return Row{};
    };
    ASSERT_EQ(level(before, 92345), (Row{92345, false, 51, 0}));
    ASSERT_EQ(level(before, 92347), (Row{92347, false, 29, 2}));
    ASSERT_EQ(level(before, 92351), (Row{92351, true, 20, 0}));
    ASSERT_EQ(level(before, 92352), (Row{92352, true, 49, 0}));
    ASSERT_EQ(level(before, 92350), (Row{92350, false, 16, 0}));
    const std::string head = "ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=SiZ6; ";
    auto finalReply = [&](std::size_t transactions) {
        auto lines = waitForLines(tro(), 2 * transactions);
        return lines.size() == 2 * transactions ? cp1251ToUtf8(lines.back()) : std::string("no reply");
    };

    appendText(tri(), "TRANS_ID=1; " + head + "ACTION=NEW_ORDER; TYPE=L; QUANTITY=3; PRICE=92345; OPERATION=B; \r\n");
    Books after = readDump(terminal);
    EXPECT_EQ(level(after, 92345), (Row{92345, false, 54, 3}));
    EXPECT_NE(finalReply(1).find("ORDER_NUMBER=5000002;"), std::string::npos);
    appendText(tri(), "TRANS_ID=2; " + head + "ACTION=NEW_ORDER; TYPE=L; QUANTITY=4; PRICE=92345; OPERATION=B; \r\n");
    after = readDump(terminal);
    EXPECT_EQ(level(after, 92345), (Row{92345, false, 58, 7}));

    // Through the spread: takes all of 92351 and part of 92352, nothing rests.
    appendText(tri(), "TRANS_ID=3; " + head + "ACTION=NEW_ORDER; TYPE=L; QUANTITY=25; PRICE=92352; OPERATION=B; \r\n");
    after = readDump(terminal);
    EXPECT_EQ(level(after, 92351), Row{});
    EXPECT_EQ(level(after, 92352), (Row{92352, true, 44, 0}));

    // Takes the best bid and rests the rest as a new own ask there.
    appendText(tri(), "TRANS_ID=4; " + head + "ACTION=NEW_ORDER; TYPE=L; QUANTITY=100; PRICE=92350; OPERATION=S; \r\n");
    after = readDump(terminal);
    EXPECT_EQ(level(after, 92350), (Row{92350, true, 84, 84}));
    EXPECT_TRUE(consistent(after.at("SiZ6")));

    // One order of the two at 92345 goes; its neighbour stays.
    appendText(tri(), "TRANS_ID=5; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=KILL_ORDER; ORDER_KEY=5000002; \r\n");
    after = readDump(terminal);
    EXPECT_EQ(level(after, 92345), (Row{92345, false, 55, 4}));
    EXPECT_EQ(finalReply(5), "TRANS_ID=5;STATUS=3;TRANS_NAME=\"Снять заявку\"; DESCRIPTION=\"Заявка N 5000002 снята, "
                             "неисполненный остаток 3.\"; ORDER_NUMBER=5000002;");
    // Gone already, filled at once, unknown, or of another instrument: refused, nothing changes.
    const std::pair<std::string, std::string> refusals[] = {
        {"SECCODE=SiZ6; ACTION=KILL_ORDER; ORDER_KEY=5000002; ", "STATUS=4;"},
        {"SECCODE=SiZ6; ACTION=KILL_ORDER; ORDER_KEY=5000004; ", "STATUS=4;"},
        {"SECCODE=SiZ6; ACTION=KILL_ORDER; ORDER_KEY=7777777; ", "STATUS=5;"},
        {"SECCODE=RIZ6; ACTION=KILL_ORDER; ORDER_KEY=5000003; ", "STATUS=5;"},
    };
    for (std::size_t i = 0; i < std::size(refusals); ++i) {
        appendText(tri(), "TRANS_ID=" + std::to_string(6 + i) + "; CLASSCODE=SPBFUT; " + refusals[i].first + "\r\n");
        std::string reply = finalReply(6 + i);
        EXPECT_NE(reply.find(refusals[i].second), std::string::npos) << reply;
        bool explained = reply.find("DESCRIPTION=\"Заявка N") != std::string::npos ||
                         reply.find("DESCRIPTION=\"Не найдена заявка N") != std::string::npos;
        EXPECT_TRUE(explained) << reply;
    }
    ProcessMemory memory(terminal.pid());
    EXPECT_EQ(readChain(memory, terminal.domBase(), records).books, after) << "refusals leave the books alone";

    appendText(tri(), "TRANS_ID=10; " + head + "ACTION=KILL_ALL_FUTURES_ORDERS; BASE_CONTRACT=Si; \r\n");
    after = readDump(terminal);
    EXPECT_EQ(level(after, 92345), (Row{92345, false, 51, 0}));
    EXPECT_EQ(level(after, 92347), (Row{92347, false, 27, 0}));
    EXPECT_EQ(level(after, 92350), Row{});
    EXPECT_EQ(after.at("BRF7"), before.at("BRF7"));
    EXPECT_NE(finalReply(10).find("DESCRIPTION=\"Снято заявок: 3.\";"), std::string::npos)
        << "the earlier session's order, the second at 92345 and the resting sell";

    // What a reader of the memory sees is the same book.
    EXPECT_EQ(readChain(memory, terminal.domBase(), records).books, after);
}

TEST_F(StandinTerminalTest, RejectionOptionsRefuseOrdersWithTheirStatus) {
    StandinProcess terminal(StandinProcess::serving(
        folder.path(), {"--static", "--price-band", "1", "--max-quantity", "10", "--reject-every", "3"}));
    // SiZ6: best bid 92350, best ask 92351; 1% of those is about 923.
    const std::string head = "ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=NEW_ORDER; TYPE=L; ";
    const std::pair<std::string, std::string> orders[] = {
        {"QUANTITY=11; PRICE=92000; OPERATION=B; ", "STATUS=6;"},  // above the quantity limit
        {"QUANTITY=10; PRICE=91430; OPERATION=B; ", "STATUS=3;"},  // 920 below the best bid: inside
        {"QUANTITY=1; PRICE=91400; OPERATION=B; ", "STATUS=4;"},   // 950 below: outside
        {"QUANTITY=1; PRICE=93270; OPERATION=S; ", "STATUS=3;"},   // 919 above the best ask
        {"QUANTITY=1; PRICE=92400; OPERATION=S; ", "STATUS=4;"},   // the third order inside the band
        {"QUANTITY=1; PRICE=93300; OPERATION=B; ", "STATUS=4;"},   // a buy far above the best bid
    };
    std::string lines;
    for (std::size_t i = 0; i < std::size(orders); ++i)
        lines += "TRANS_ID=" + std::to_string(i + 1) + "; " + head + orders[i].first + "\r\n";
    appendText(tri(), lines);
    auto replies = waitForLines(tro(), 2 * std::size(orders));
    ASSERT_EQ(replies.size(), 2 * std::size(orders));
    for (std::size_t i = 0; i < std::size(orders); ++i) {
        const std::string line = cp1251ToUtf8(replies[2 * i + 1]);
        EXPECT_EQ(line.rfind("TRANS_ID=" + std::to_string(i + 1) + ";" + orders[i].second, 0), 0u) << line;
        EXPECT_EQ(line.find("ORDER_NUMBER") == std::string::npos, orders[i].second != "STATUS=3;") << line;
    }
    EXPECT_NE(cp1251ToUtf8(replies[1]).find("количество 11 больше 10"), std::string::npos) << replies[1];
    EXPECT_NE(cp1251ToUtf8(replies[5]).find("дальше 1% от лучшей цены 92350"), std::string::npos);
}

TEST_F(StandinTerminalTest, DelayedRepliesComeLateAndWithheldOnesNever) {
    TempFolder withheldFolder;
    StandinProcess delayed(StandinProcess::serving(folder.path(), {"--static", "--reply-delay", "600"}));
    StandinProcess withheld(StandinProcess::serving(withheldFolder.path(), {"--static", "--withhold-replies"}));
    const std::string order = "TRANS_ID=1; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=SiZ6; ACTION=NEW_ORDER; TYPE=L; "
                              "QUANTITY=1; PRICE=92300; OPERATION=B; \r\n";
    appendText(tri(), order);
    appendText(withheldFolder.file("quik.tri"), order);
    ASSERT_EQ(waitForLines(tro(), 1).size(), 1u);
    EXPECT_EQ(fileLines(tro()).size(), 1u) << "the final line waits";
    ASSERT_EQ(waitForLines(tro(), 2, 3s).size(), 2u);
    EXPECT_NE(fileLines(tro())[1].find("STATUS=3;"), std::string::npos);

    auto lines = waitForLines(withheldFolder.file("quik.tro"), 2, 1s);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("STATUS=0;"), std::string::npos);
}

TEST_F(StandinTerminalTest, RewrittenTransactionFileIsReadAgainFromItsStart) {
    StandinProcess terminal(StandinProcess::serving(folder.path(), {"--static"}));
    const std::string order = "ACCOUNT=A1; CLASSCODE=TQBR; SECCODE=SBER; ACTION=NEW_ORDER; TYPE=L; QUANTITY=1; "
                              "PRICE=290.00; OPERATION=B; ";
    appendText(tri(), "\r\nTRANS_ID=501; " + order + "\r\nTRANS_ID=502; " + order + "\r\n");
    ASSERT_EQ(waitForLines(tro(), 4).size(), 4u);

    // The program's start empties the file to one empty line, then appends anew.
    writeFile(tri(), "\r\nTRANS_ID=601; " + order + "\r\nTRANS_ID=602; " + order + "\r\nTRANS_ID=603; " + order + "\r\n");
    waitForLines(tro(), 10);
    std::this_thread::sleep_for(300ms);
    auto replies = fileLines(tro());
    ASSERT_EQ(replies.size(), 10u);
    EXPECT_EQ(replies[4].rfind("TRANS_ID=601;", 0), 0u) << replies[4];
    EXPECT_EQ(replies[9].rfind("TRANS_ID=603;", 0), 0u) << replies[9];
}

TEST_F(StandinTerminalTest, MovingBooksStayConsistent) {
    StandinProcess terminal(StandinProcess::serving(folder.path(), {"--seed", "7", "--rate", "10"}));
    auto records = parseSecFile(readFile(folder.file("sec.dat")), 1);
    ProcessMemory memory(terminal.pid());
    std::set<std::vector<std::uint32_t>> distinct;
    int reads = 0, torn = 0;
    // Read until the book has moved ten times, however the two processes are scheduled.
    const auto giveUp = std::chrono::steady_clock::now() + 60s;
    while (distinct.size() < 10 && std::chrono::steady_clock::now() < giveUp) {
        Books books = readChain(memory, terminal.domBase(), records).books;
        ++reads;
        for (const auto& [ticker, rows] : books) {
            EXPECT_GE(rows.size(), 5u) << ticker;
            torn += !consistent(rows);
        }
        std::vector<std::uint32_t> shape;
        for (const Row& r : books["RIZ6"]) shape.insert(shape.end(), {r.price, r.quantity});
        distinct.insert(shape);
        std::this_thread::sleep_for(30ms);
    }
    EXPECT_GE(distinct.size(), 10u) << "the book stood still";
    // The writer takes no lock, so an odd read may catch it midway; almost all must be whole.
    EXPECT_LE(torn, std::max(3, reads / 10)) << reads << " reads";
}

TEST_F(StandinTerminalTest, ASecondTerminalOnTheSameFolderRefusesToStartAndTheFirstEndsCleanly) {
    StandinProcess first(StandinProcess::serving(folder.path(), {"--static"}));
    auto arguments = StandinProcess::serving(folder.path(), {"--static"});
    StandinProcess second(std::string(VELMORA_BIN_DIR) + "/info.exe", arguments);
    auto status = second.waitForExit(5s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1);

    int firstStatus = first.stop();
    EXPECT_TRUE(WIFEXITED(firstStatus) && WEXITSTATUS(firstStatus) == 0) << "ends cleanly on SIGTERM";
}

}  // namespace
}  // namespace velmora::testing
