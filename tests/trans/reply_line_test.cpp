#include "trans/reply_line.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text_encoding.h"

namespace velmora {
namespace {

TEST(ReplyLine, TheManualsLinesAndTheLooseFormsTheTerminalWrites) {
    auto sent = ParseReplyLine(utf8ToCp1251(
        R"(TRANS_ID=14;STATUS=0;TRANS_NAME="Ввод заявки"; DESCRIPTION="Отправлена транзакция";)"));
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->transId, 14u);
    EXPECT_EQ(sent->status, 0);
    EXPECT_EQ(sent->orderNumber, 0u);
    EXPECT_EQ(sent->transName, "Ввод заявки");
    EXPECT_EQ(sent->description, "Отправлена транзакция");
    EXPECT_FALSE(IsFinalStatus(sent->status));

    auto done = ParseReplyLine(utf8ToCp1251(
        R"(TRANS_ID=14;STATUS=3;TRANS_NAME="Ввод заявки"; DESCRIPTION="(160) Заявка на покупку N 68359610 зарегистрирована."; ORDER_NUMBER=68359610;)"));
    ASSERT_TRUE(done);
    EXPECT_EQ(done->status, 3);
    EXPECT_EQ(done->orderNumber, 68359610u);
    EXPECT_EQ(done->description, "(160) Заявка на покупку N 68359610 зарегистрирована.");
    EXPECT_TRUE(IsFinalStatus(done->status) && IsAcceptedStatus(done->status));

    // Separators inside quotes, blanks anywhere, unknown fields, lower-case names, no closing ";".
    auto loose = ParseReplyLine(R"(  status = 6 ;NEW_FIELD="a;b=c" ;  trans_id=2147483647;DESCRIPTION="x ""y""; z=1")");
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->transId, 2147483647u);
    EXPECT_EQ(loose->status, 6);
    EXPECT_EQ(loose->description, R"(x "y"; z=1)");
    EXPECT_TRUE(IsFinalStatus(loose->status) && !IsAcceptedStatus(loose->status));
}

TEST(ReplyLine, ALineThatIsNotOneReplyForCertainIsRefused) {
    const std::string refused[] = {
        "",
        "STATUS=3;",                                     // no TRANS_ID
        "TRANS_ID=14;",                                  // no STATUS
        "TRANS_ID=0;STATUS=3;",                          // below the range
        "TRANS_ID=2147483648;STATUS=3;",                 // above it
        "TRANS_ID=99999999999999999999;STATUS=3;",       // beyond any integer
        "TRANS_ID=-14;STATUS=3;",
        "TRANS_ID=14x;STATUS=3;",
        "TRANS_ID=14;STATUS=-1;",
        "TRANS_ID=14;STATUS=3;ORDER_NUMBER=18446744073709551616;",
        "TRANS_ID=14;STATUS=3;TRANS_ID=15;",             // whose is it?
        std::string("TRANS_ID=14;STATUS=3;DESCRIPTION=\"a\0b\";", 32),
        "TRANS_ID=14;STATUS=3;DESCRIPTION=\"open;",
        "TRANS_ID=14;STATUS=3;DESCRIPTION=\"a\"b;",
        "TRANS_ID=14;STATUS=3;DESCRIPTION=a\"b;",
        "TRANS_ID=14;STATUS=3;garbage;",
        "TRANS_ID=14;STATUS=3;=5;",
    };
    for (const std::string& line : refused) EXPECT_FALSE(ParseReplyLine(line)) << line;
}

}  // namespace
}  // namespace velmora
