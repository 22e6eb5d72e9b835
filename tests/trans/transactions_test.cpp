#include "trans/transactions.h"

#include <chrono>
#include <filesystem>
#include <limits>

#include "order_fixture.h"

namespace velmora::testing {
namespace {

using TransactionsTest = OrderFixture;

TEST_F(TransactionsTest, ExampleTransactionsComeOutByteForByteOneTriLineEach) {
    const std::string order = "TRANS_ID=1001; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=T1; ACTION=NEW_ORDER; "
                              "TYPE=L; QUANTITY=3; PRICE=1234.50; OPERATION=S; ";
    const std::string killAll = "TRANS_ID=1002; ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=T1; "
                                "ACTION=KILL_ALL_FUTURES_ORDERS; BASE_CONTRACT=B1; ";
    desk.settings.SetOutputWay("TRI");
    writeFile(folder.file("quik.tri"), "earlier\r\n");
    desk.orders.SendNewOrder(Side::Sell, 3, 123450);
    desk.orders.SendKillAll(nullptr);
    EXPECT_EQ(readFile(folder.file("quik.tri")), "earlier\r\n" + order + "\r\n" + killAll + "\r\n");
    EXPECT_EQ(logLines(), (Texts{"formed order: " + order, "formed order: " + killAll}));
}

TEST_F(TransactionsTest, OperationCodingAndPriceDigitsWhateverTheLocale) {
    locale.decimal = ',';
    desk.orders.SendNewOrder(Side::Buy, 2, 9995);
    desk.orders.SendNewOrder(Side::Buy, 2, 10015);
    desk.sender.SendNewOrder(desk.delivery(), security(), Side::Buy, 2, 0);  // below the entry's own refusal
    security().Decimals = 0;
    desk.orders.SendNewOrder(Side::Sell, 2, 12345);
    EXPECT_EQ(sentTails(), (Texts{"QUANTITY=2; PRICE=99.95; OPERATION=B; ", "QUANTITY=2; PRICE=100.15; OPERATION=B; ",
                                  "QUANTITY=2; PRICE=0.00; OPERATION=B; ", "QUANTITY=2; PRICE=12345; OPERATION=S; "}));
}

TEST_F(TransactionsTest, TransIdsFollowOneAnotherAcrossKillAllAndWrapToOne) {
    desk.sender.TransIdCounter = std::numeric_limits<std::int32_t>::max() - 1;
    desk.orders.SendKillAll(nullptr);
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    ASSERT_EQ(transLibrary.sent.size(), 3u);
    EXPECT_EQ(transLibrary.sent[0].rfind("TRANS_ID=2147483646; ", 0), 0u);
    EXPECT_EQ(transLibrary.sent[1].rfind("TRANS_ID=2147483647; ", 0), 0u);
    EXPECT_EQ(transLibrary.sent[2].rfind("TRANS_ID=1; ", 0), 0u);
}

TEST(SeedTransId, CountsHundredthsSince1909WithinTheTerminalRange) {
    using namespace std::chrono;
    std::int64_t days = (sys_days(2026y / December / 8) - sys_days(1909y / December / 28)).count();
    std::int64_t hundredths = days * 8640000 + (9 * 3600 + 30 * 60 + 5) * 100 + 7;
    std::int32_t seed = SeedTransId(LocalDateTime{2026, 12, 8, 9, 30, 5, 70});
    EXPECT_EQ(seed, hundredths & 0x7FFFFFFF);  // the plain 32-bit cut would be negative here
    EXPECT_EQ(SeedTransId(LocalDateTime{2026, 12, 8, 9, 30, 8, 70}) - seed, 300);
    EXPECT_EQ(SeedTransId(LocalDateTime{1909, 12, 28, 0, 0, 1, 0}), 100);
    EXPECT_EQ(SeedTransId(LocalDateTime{1909, 12, 28, 0, 0, 0, 0}), 1);
}

TEST_F(TransactionsTest, KillAllVariantsBySectionAndOptionBaseContract) {
    for (std::string section : {" forts\t", "micex", "SPBEX"}) {
        desk.settings.SECTION = section;
        desk.orders.SendKillAll(nullptr);
    }
    desk.settings.SECTION = "FORTS";
    addSecurity("SPBFUT", "RIZ6", "RTS");
    desk.show(table, addSecurity("SPBOPT", "RI100BL6", "RIZ6"));
    desk.orders.SendKillAll(nullptr);
    desk.show(table, addSecurity("SPBOPT", "SI65BL6", "SIZ6"));
    desk.orders.SendKillAll(nullptr);
    const std::string head = "ACCOUNT=A1; CLASSCODE=SPBFUT; SECCODE=T1; ";
    EXPECT_EQ(transLibrary.sent,
              (Texts{"TRANS_ID=1001; " + head + "ACTION=KILL_ALL_FUTURES_ORDERS; BASE_CONTRACT=B1; ",
                     // The library refuses KILL_ALL_ORDERS: with no order known, nothing goes.
                     "TRANS_ID=1002; " + head,
                     "TRANS_ID=1003; ACCOUNT=A1; CLASSCODE=SPBOPT; SECCODE=RI100BL6; "
                     "ACTION=KILL_ALL_FUTURES_ORDERS; BASE_CONTRACT=RTS",
                     "TRANS_ID=1004; ACCOUNT=A1; CLASSCODE=SPBOPT; SECCODE=SI65BL6; "
                     "ACTION=KILL_ALL_FUTURES_ORDERS; BASE_CONTRACT=SIZ6; "}));
}

TEST_F(TransactionsTest, DeliveryByOutputWayWhateverTheLogLevel) {
    desk.log.LogThreshold = -1;
    desk.settings.SetOutputWay(" tri");
    writeFile(folder.file("quik.tro"), "old reply\r\n");
    desk.fileDelivery.emptyExchangeFiles();
    for (const char* name : {"quik.tri", "quik.tro", "quik.trr"}) EXPECT_EQ(readFile(folder.file(name)), "\r\n");
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    desk.log.LogThreshold = 0;
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    EXPECT_EQ(fileLines(folder.file("quik.tri")).size(), 3u);

    desk.settings.SetOutputWay("Dll");  // handed over while not connected too
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    desk.settings.SetOutputWay("");
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    EXPECT_EQ(transLibrary.sent.size(), 1u);
    EXPECT_EQ(fileLines(folder.file("quik.tri")).size(), 3u);
}

TEST_F(TransactionsTest, AMissingQuikFolderIsLoggedOnceWithoutBoxes) {
    desk.settings.QuikPath = folder.file("no-such-folder/");
    desk.settings.TRIFileName = desk.settings.QuikPath + "quik.tri";
    desk.fileDelivery.emptyExchangeFiles();
    EXPECT_TRUE(sink.shown.empty());
    EXPECT_EQ(logLines(), (Texts{"Папка QUIK не найдена, файлы обмена не очищены: " + desk.settings.QuikPath}));
}

TEST_F(TransactionsTest, ValuesThatWouldSplitOrForgePairsAreNotSent) {
    desk.settings.SetOutputWay("TRI");
    desk.settings.ACCOUNT = "A1; ACCOUNT=OTHER";
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    desk.settings.ACCOUNT = "A1";
    security().Ticker = "T1\r\nTRANS_ID=5";
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    security().Ticker = "T1";
    security().ClassCode = std::string("SPB\0FUT", 7);
    desk.orders.SendKillAll(nullptr);
    security().ClassCode = "SPBFUT";
    security().BaseContract = "B1\n";
    desk.orders.SendKillAll(nullptr);

    EXPECT_FALSE(std::filesystem::exists(folder.file("quik.tri")));
    EXPECT_EQ(logLines(), (Texts{"transaction not sent: ACCOUNT holds \";\"", "transaction not sent: SECCODE holds CR",
                                 "transaction not sent: CLASSCODE holds NUL",
                                 "transaction not sent: BASE_CONTRACT holds LF"}));
    EXPECT_EQ(sink.shown.size(), 4u);
    EXPECT_EQ(desk.sender.TransIdCounter, 1005);  // refused transactions still took their numbers
}

TEST_F(TransactionsTest, AnUnwritableTriFileIsNotReportedAsDelivered) {
    desk.settings.SetOutputWay("TRI");
    desk.settings.TRIFileName = folder.file("missing/quik.tri");
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    EXPECT_TRUE(sink.shown.empty());  // the panel tells it, once the window is there
    desk.settings.TRIFileName.clear();  // must not land in the program's own log
    desk.orders.SendNewOrder(Side::Buy, 1, 10000);
    Texts lines = logLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].rfind("transaction not delivered: ", 0), 0u);
    EXPECT_EQ(lines[2].rfind("formed order: TRANS_ID=1002; ", 0), 0u);
    EXPECT_EQ(lines[3].rfind("transaction not delivered: ", 0), 0u);
}

}  // namespace
}  // namespace velmora::testing
