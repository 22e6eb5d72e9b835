#include "trans/transactions.h"

#include <chrono>
#include <filesystem>
#include <limits>

#include "program_fixture.h"

namespace velmora::testing {
namespace {

using TransactionsTest = ProgramFixture;

const std::string exampleOrder =
    "TRANS_ID=1001; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=T1; ACTION=NEW_ORDER; TYPE=L; QUANTITY=3; "
    "PRICE=1234.50; OPERATION=S; ";
const std::string exampleKillAll =
    "TRANS_ID=1002; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=T1; ACTION=KILL_ALL_FUTURES_ORDERS; "
    "BASE_CONTRACT=B1; ";

TEST_F(TransactionsTest, ExampleTransactionsComeOutByteForByteOneTriLineEach) {
    program.settings.OutputWay = "TRI";
    writeFile(folder.file("quik.tri"), "earlier line\r\n");
    SendNewOrder(program, 1, 3, 1234.5);
    SendKillAll(program);

    EXPECT_EQ(readFile(folder.file("quik.tri")), "earlier line\r\n" + exampleOrder + "\r\n" + exampleKillAll + "\r\n");
    EXPECT_TRUE(logged("formed order: " + exampleOrder));
    EXPECT_TRUE(logged("formed order: " + exampleKillAll));
    EXPECT_TRUE(transLibrary.sent.empty());
}

TEST_F(TransactionsTest, OperationOneSellsAndEveryOtherValueBuys) {
    SendNewOrder(program, 0, 1, 100);
    SendNewOrder(program, 1, 1, 100);
    SendNewOrder(program, 2, 1, 100);
    SendNewOrder(program, -1, 1, 100);
    ASSERT_EQ(transLibrary.sent.size(), 4u);
    EXPECT_EQ(sentTail(0), "QUANTITY=1; PRICE=100.00; OPERATION=B; ");
    EXPECT_EQ(sentTail(1), "QUANTITY=1; PRICE=100.00; OPERATION=S; ");
    EXPECT_EQ(sentTail(2), "QUANTITY=1; PRICE=100.00; OPERATION=B; ");
    EXPECT_EQ(sentTail(3), "QUANTITY=1; PRICE=100.00; OPERATION=B; ");
}

TEST_F(TransactionsTest, PriceHasExactlyDecimalsDigitsAndAPointWhateverTheLocale) {
    locale.decimal = ',';
    SendNewOrder(program, 0, 2, 99.95);
    SendNewOrder(program, 0, 2, 100.0 + 0.05 * 3);  // 100.15000000000001 in binary
    SendNewOrder(program, 0, 2, 99.994);
    SendNewOrder(program, 0, 2, -0.001);
    auto& integral = const_cast<TSecShareRecord&>(*program.CurrentSecurity);
    integral.Decimals = 0;
    SendNewOrder(program, 0, 2, 12345);
    SendNewOrder(program, 0, 2, 12344.6);
    integral.Decimals = 4;
    SendNewOrder(program, 0, -7, 0.5);

    ASSERT_EQ(transLibrary.sent.size(), 7u);
    EXPECT_EQ(sentTail(0), "QUANTITY=2; PRICE=99.95; OPERATION=B; ");
    EXPECT_EQ(sentTail(1), "QUANTITY=2; PRICE=100.15; OPERATION=B; ");
    EXPECT_EQ(sentTail(2), "QUANTITY=2; PRICE=99.99; OPERATION=B; ");
    EXPECT_EQ(sentTail(3), "QUANTITY=2; PRICE=0.00; OPERATION=B; ");
    EXPECT_EQ(sentTail(4), "QUANTITY=2; PRICE=12345; OPERATION=B; ");
    EXPECT_EQ(sentTail(5), "QUANTITY=2; PRICE=12345; OPERATION=B; ");
    EXPECT_EQ(sentTail(6), "QUANTITY=-7; PRICE=0.5000; OPERATION=B; ");
}

TEST_F(TransactionsTest, TransIdsFollowOneAnotherAcrossKillAllAndWrapToOne) {
    program.TransIdCounter = std::numeric_limits<std::int32_t>::max() - 1;
    SendKillAll(program);
    SendNewOrder(program, 0, 1, 100);
    SendNewOrder(program, 0, 1, 100);
    ASSERT_EQ(transLibrary.sent.size(), 3u);
    EXPECT_EQ(transLibrary.sent[0].rfind("TRANS_ID=2147483646; ", 0), 0u);
    EXPECT_EQ(transLibrary.sent[1].rfind("TRANS_ID=2147483647; ", 0), 0u);
    EXPECT_EQ(transLibrary.sent[2].rfind("TRANS_ID=1; ", 0), 0u);

    program.TransIdCounter = 0;  // never seeded: still a TRANS_ID the terminal takes
    EXPECT_EQ(NextTransId(program), 1);
    EXPECT_EQ(NextTransId(program), 2);
}

// Hundredths of a second since 1909-12-28, worked out with calendar arithmetic.
std::int64_t hundredthsSince1909(int year, unsigned month, unsigned day, int hour, int minute, int second,
                                 int millisecond) {
    using namespace std::chrono;
    auto days = sys_days(year_month_day(std::chrono::year(year), std::chrono::month(month), std::chrono::day(day))) -
                sys_days(1909y / December / 28);
    return days.count() * 8640000LL + hour * 360000LL + minute * 6000LL + second * 100LL + millisecond / 10;
}

TEST(SeedTransId, CountsHundredthsSince1909KeptWithinTheTerminalRange) {
    std::int64_t expected = hundredthsSince1909(2026, 12, 8, 9, 30, 5, 70);
    ASSERT_GT(expected, std::numeric_limits<std::int32_t>::max());  // the old 32-bit cut went negative here
    std::int32_t seed = SeedTransId(LocalDateTime{2026, 12, 8, 9, 30, 5, 70});
    EXPECT_EQ(seed, static_cast<std::int32_t>(expected & 0x7FFFFFFF));
    EXPECT_GE(seed, 1);

    std::int32_t later = SeedTransId(LocalDateTime{2026, 12, 8, 9, 30, 8, 70});
    EXPECT_EQ(later - seed, 300);

    EXPECT_EQ(SeedTransId(LocalDateTime{1909, 12, 28, 0, 0, 1, 0}), 100);
    EXPECT_EQ(SeedTransId(LocalDateTime{1909, 12, 28, 0, 0, 0, 0}), 1);  // 0 is no TRANS_ID
}

TEST_F(TransactionsTest, KillAllVariantsBySectionAndOptionBaseContract) {
    program.settings.SECTION = " forts\t";
    SendKillAll(program);
    program.settings.SECTION = "micex";
    SendKillAll(program);
    program.settings.SECTION = "SPBEX";
    SendKillAll(program);

    program.settings.SECTION = "FORTS";
    addSecurity("SPBFUT", "RIZ6", "RTS", 10, 0);
    program.CurrentSecurity = &addSecurity("SPBOPT", "RI100000BL6", "RIZ6", 10, 0);
    SendKillAll(program);
    program.CurrentSecurity = &addSecurity("SPBOPT", "SI65000BL6", "SIZ6", 1, 0);
    SendKillAll(program);

    ASSERT_EQ(transLibrary.sent.size(), 5u);
    EXPECT_EQ(transLibrary.sent[0], "TRANS_ID=1001; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=T1; "
                                    "ACTION=KILL_ALL_FUTURES_ORDERS; BASE_CONTRACT=B1; ");
    EXPECT_EQ(transLibrary.sent[1], "TRANS_ID=1002; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=T1; "
                                    "ACTION=KILL_ALL_ORDERS; ");
    EXPECT_EQ(transLibrary.sent[2], "TRANS_ID=1003; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=T1; ");
    EXPECT_EQ(transLibrary.sent[3], "TRANS_ID=1004; ACCOUNT=A1; CLASSCODE=SPBOPT; SECCODE=RI100000BL6; "
                                    "ACTION=KILL_ALL_FUTURES_ORDERS; BASE_CONTRACT=RTS");
    EXPECT_EQ(transLibrary.sent[4], "TRANS_ID=1005; ACCOUNT=A1; CLASSCODE=SPBOPT; SECCODE=SI65000BL6; "
                                    "ACTION=KILL_ALL_FUTURES_ORDERS; BASE_CONTRACT=SIZ6; ");
}

TEST_F(TransactionsTest, OutputWayIsComparedTrimmedAndUpperCased) {
    program.settings.OutputWay = " tri";
    SendNewOrder(program, 0, 1, 100);
    EXPECT_EQ(fileLines(folder.file("quik.tri")).size(), 1u);

    program.settings.OutputWay = "Dll";
    program.DLLConnected = false;  // handed over all the same
    SendNewOrder(program, 0, 1, 100);
    EXPECT_EQ(transLibrary.sent.size(), 1u);

    program.settings.OutputWay = "";
    SendNewOrder(program, 0, 1, 100);
    EXPECT_EQ(transLibrary.sent.size(), 1u);
    EXPECT_EQ(fileLines(folder.file("quik.tri")).size(), 1u);
    EXPECT_TRUE(loggedStartingWith("formed order: TRANS_ID=1003; "));
}

TEST_F(TransactionsTest, TriLinesAndEmptyingIgnoreTheLogLevel) {
    program.settings.OutputWay = "TRI";
    writeFile(folder.file("quik.tro"), "old reply\r\n");
    for (int threshold : {0, -1}) {
        program.log.LogThreshold = threshold;
        writeFile(folder.file("quik.tri"), "old order\r\n");
        EmptyExchangeFiles(program);
        EXPECT_EQ(readFile(folder.file("quik.tri")), "\r\n");
        EXPECT_EQ(readFile(folder.file("quik.tro")), "\r\n");
        EXPECT_EQ(readFile(folder.file("quik.trr")), "\r\n");
        SendNewOrder(program, 1, 3, 1234.5);
        EXPECT_EQ(fileLines(folder.file("quik.tri")).size(), 2u) << "LogLevel " << threshold;
    }
    EXPECT_FALSE(loggedStartingWith("formed order: "));
}

TEST_F(TransactionsTest, ValuesThatWouldSplitOrForgePairsAreNotSent) {
    program.settings.OutputWay = "TRI";
    program.settings.ACCOUNT = "A1; ACCOUNT=OTHER";
    SendNewOrder(program, 0, 1, 100);
    program.settings.ACCOUNT = "A1";
    auto& security = const_cast<TSecShareRecord&>(*program.CurrentSecurity);
    security.Ticker = "T1\r\nTRANS_ID=5";
    SendNewOrder(program, 0, 1, 100);
    security.Ticker = "T1";
    security.ClassCode = std::string("SPB\0FUT", 7);
    SendKillAll(program);
    security.ClassCode = "SPBFUT";
    security.BaseContract = "B1\n";
    SendKillAll(program);

    EXPECT_FALSE(std::filesystem::exists(folder.file("quik.tri")));
    EXPECT_FALSE(loggedStartingWith("formed order: "));
    EXPECT_TRUE(logged("transaction not sent: ACCOUNT holds \";\""));
    EXPECT_TRUE(logged("transaction not sent: SECCODE holds CR"));
    EXPECT_TRUE(logged("transaction not sent: CLASSCODE holds NUL"));
    EXPECT_TRUE(logged("transaction not sent: BASE_CONTRACT holds LF"));
    EXPECT_EQ(sink.shown.size(), 4u);
    EXPECT_EQ(program.TransIdCounter, 1005);  // refused transactions still took their number

    program.settings.OutputWay = "DLL";
    program.settings.ACCOUNT = "A;1";
    SendNewOrder(program, 0, 1, 100);
    EXPECT_TRUE(transLibrary.sent.empty());
}

TEST_F(TransactionsTest, AnUnwritableTriFileIsNotReportedAsDelivered) {
    program.settings.OutputWay = "TRI";
    program.settings.TRIFileName = folder.file("missing-folder/quik.tri");
    SendNewOrder(program, 0, 1, 100);
    EXPECT_TRUE(loggedStartingWith("transaction not delivered: "));
    EXPECT_FALSE(sink.shown.empty());  // the writer's own box

    // Without a path the line must not land in the program's own log.
    program.settings.TRIFileName.clear();
    std::size_t before = logLines().size();
    SendNewOrder(program, 0, 1, 100);
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), before + 2);
    EXPECT_EQ(lines[before].rfind("formed order: TRANS_ID=1002; ", 0), 0u);
    EXPECT_EQ(lines[before + 1].rfind("transaction not delivered: ", 0), 0u);
}

}  // namespace
}  // namespace velmora::testing
