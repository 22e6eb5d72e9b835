#include "terminal/script_link_line.h"
#include "terminal/traded_volume.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text_encoding.h"
#include "terminal/link_request.h"

namespace velmora {
namespace {

TEST(ScriptLinkLine, EveryKindOfLineAsTheScriptWritesIt) {
    auto hello = ParseLinkLine("velmora-link\t1\t0.3\r");
    ASSERT_TRUE(hello.event);
    EXPECT_EQ(std::get<LinkHello>(*hello.event).version, 1);

    auto sec = ParseLinkLine(utf8ToCp1251("sec\tSPBFUT\tSiZ6\t0\t1\t1\tSi-12.26 Доллар"));
    ASSERT_TRUE(sec.event);
    const auto& security = std::get<LinkSecurity>(*sec.event);
    EXPECT_EQ(security.shortName, "Si-12.26 Доллар");
    EXPECT_EQ(security.priceStep, 1);

    // The host's order is not trusted: sides come sorted, best first.
    auto book = ParseLinkLine("book\tTQBR\tSBER\t285.10:5,285.30:7,285.2:1\t285.40:3,285.35:9\r");
    ASSERT_TRUE(book.event) << LinkFaultText(book.fault);
    const auto& levels = std::get<LinkBook>(*book.event);
    ASSERT_EQ(levels.bids.size(), 3u);
    EXPECT_EQ(levels.bids[0].price, 285.30);
    EXPECT_EQ(levels.bids[2].price, 285.10);
    EXPECT_EQ(levels.asks[0].price, 285.35);
    EXPECT_EQ(levels.asks[0].quantity, 9);
    auto empty = ParseLinkLine("book\tTQBR\tSBER\t\t");
    ASSERT_TRUE(empty.event);
    EXPECT_TRUE(std::get<LinkBook>(*empty.event).bids.empty());

    auto order = ParseLinkLine("order\t68359610\t14\t5\tSPBFUT\tSiZ6\t95120\t3\t1");
    ASSERT_TRUE(order.event);
    EXPECT_EQ(std::get<LinkOrder>(*order.event).orderNumber, 68359610u);
    EXPECT_EQ(std::get<LinkOrder>(*order.event).flags, 5u);
    auto trade = ParseLinkLine("trade\t9001\t68359610\t14\t4\tSPBFUT\tSiZ6\t95120\t2");
    ASSERT_TRUE(trade.event);
    EXPECT_EQ(std::get<LinkTrade>(*trade.event).quantity, 2);
    auto reply = ParseLinkLine(utf8ToCp1251("reply\t14\t4\t\tSPBFUT\tSiZ6\tНе хватает средств"));
    ASSERT_TRUE(reply.event);
    EXPECT_EQ(std::get<LinkReply>(*reply.event).orderNumber, 0u);
    EXPECT_EQ(std::get<LinkReply>(*reply.event).message, "Не хватает средств");
    auto futures = ParseLinkLine("pos\tSPBFUT\tSiZ6\tF\t-3\t95120.5\t-1520.25");
    ASSERT_TRUE(futures.event);
    EXPECT_EQ(std::get<LinkPosition>(*futures.event).varMargin, -1520.25);
    auto stock = ParseLinkLine("pos\tTQBR\tSBER\tS\t100\t285.1\t");
    ASSERT_TRUE(stock.event);
    EXPECT_FALSE(std::get<LinkPosition>(*stock.event).varMargin);
    EXPECT_TRUE(ParseLinkLine("alive\t1").event && ParseLinkLine("bye").event);

    // The step price is the sec line's eighth field, empty where the terminal has none.
    auto priced = ParseLinkLine("sec\tSPBFUT\tRIZ6\t0\t10\t1\tRTS\t13.2517");
    ASSERT_TRUE(priced.event);
    EXPECT_EQ(std::get<LinkSecurity>(*priced.event).stepPrice, 13.2517);
    EXPECT_FALSE(std::get<LinkSecurity>(*ParseLinkLine("sec\tTQBR\tSBER\t2\t0.01\t10\tSber\t").event).stepPrice);
    auto tape = ParseLinkLine("tape\tSPBFUT\tSiZ6\t9000001\t2\t92350\t7\t10:31:02.125");
    ASSERT_TRUE(tape.event);
    const auto& anonymous = std::get<LinkTape>(*tape.event);
    EXPECT_EQ(anonymous.tradeNumber, 9000001u);
    EXPECT_EQ(TapeSideOf(anonymous.flags), TapeSide::Buy);
    EXPECT_EQ(TapeSideOf(1), TapeSide::Sell);
    EXPECT_EQ(TapeSideOf(0), TapeSide::Unknown);
    EXPECT_EQ(TapeSideOf(3), TapeSide::Unknown);
    EXPECT_EQ(anonymous.time, "10:31:02.125");
}

TEST(ScriptLinkLine, HostileLinesAreDroppedWithTheirReason) {
    const std::pair<std::string, LinkFault> refused[] = {
        {"", LinkFault::UnknownKind},
        {"BOOK\tTQBR\tSBER\t\t", LinkFault::UnknownKind},
        {"bye\t", LinkFault::FieldCount},
        {"alive\t2", LinkFault::BadNumber},
        {"alive", LinkFault::FieldCount},
        {"book\tTQBR\tSBER\t1:1", LinkFault::FieldCount},
        {"book\tTQBR\tSBER\t1:1\t2:1\textra", LinkFault::FieldCount},
        {"sec\tA\tB\t0\t0\t1\tx", LinkFault::BadNumber},       // no price step
        {"sec\tA\tB\t0\tnan\t1\tx", LinkFault::BadNumber},
        {"book\tA\tB\t100:1,100.0:2\t", LinkFault::DuplicatePrice},
        {"book\tA\tB\t100:0\t", LinkFault::NotPositive},
        {"book\tA\tB\t-1:3\t", LinkFault::NotPositive},
        {"book\tA\tB\t100:1.5\t", LinkFault::BadNumber},      // lots are whole
        {"book\tA\tB\tinf:1\t", LinkFault::BadNumber},
        {"book\tA\tB\t 100:1\t", LinkFault::BadNumber},
        {"book\tA\tB\t100:1,\t", LinkFault::BadEntry},
        {"book\tA\tB\t100\t", LinkFault::BadEntry},
        {"book\tA\tB\t100:1:1\t", LinkFault::BadEntry},
        {"order\t1\t2147483648\t1\tA\tB\t1\t1\t1", LinkFault::BadNumber},
        {"order\t1\t-5\t1\tA\tB\t1\t1\t1", LinkFault::BadNumber},
        {"order\t99999999999999999999\t1\t1\tA\tB\t1\t1\t1", LinkFault::BadNumber},
        {"reply\t1\t3\t\tA\tB\tline\rbreak", LinkFault::BadText},
        {std::string("reply\t1\t3\t\tA\tB\tnul\0", 19), LinkFault::BadText},
        {"pos\tA\tB\tX\t1\t1\t", LinkFault::BadText},
        {"sec\tA\tB\t0\t1\t1\tx\t-2", LinkFault::BadNumber},  // a step price not above zero
        {"tape\tA\tB\t1\t2\t100\t0\t", LinkFault::BadNumber},  // no quantity
        {"tape\tA\tB\t1\t2\t0\t1\t", LinkFault::NotPositive},
        {"tape\tA\tB\t1\t2\t100\t1", LinkFault::FieldCount},
        {"tape\tA\tB\t1\t2\t100\t9223372036854775807\t", LinkFault::BadNumber},
        {"a\tb\tc\td\te\tf\tg\th\ti\tj\tk", LinkFault::FieldCount},
    };
    for (const auto& [line, fault] : refused) {
        const LinkParse parsed = ParseLinkLine(line);
        EXPECT_FALSE(parsed.event) << line;
        EXPECT_EQ(parsed.fault, fault) << line << ": " << LinkFaultText(parsed.fault);
    }
    // A rejected book names its instrument; a crossed one is an auction's book, not a fault.
    const LinkParse rejected = ParseLinkLine("book\tTQBR\tSBER\t100:0\t");
    EXPECT_EQ(rejected.rejectedClass + ":" + rejected.rejectedTicker, "TQBR:SBER");
    EXPECT_TRUE(ParseLinkLine("book\tA\tB\t101:1\t100:1").event);
    std::string deep = "book\tA\tB\t";
    for (int i = 1; i <= 10001; ++i) deep += std::to_string(i) + ":1,";
    deep.pop_back();
    EXPECT_EQ(ParseLinkLine(deep + "\t").fault, LinkFault::TooManyEntries);
}

TEST(ScriptLinkLine, TheInstrumentListKeepsWhatNamesOneInstrument) {
    std::vector<std::string> rejected;
    const auto names = ParseInstrumentList(" SPBFUT:SiZ6 ,,TQBR:SBER,SBER,TQBR:,SPBFUT:SiZ6", rejected);
    EXPECT_EQ(names, (std::vector<LinkInstrumentName>{{"SPBFUT", "SiZ6"}, {"TQBR", "SBER"}}));
    EXPECT_EQ(rejected, (std::vector<std::string>{"SBER", "TQBR:", "SPBFUT:SiZ6"}));
}

}  // namespace
}  // namespace velmora
