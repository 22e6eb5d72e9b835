#include "settings/number_text.h"

#include <gtest/gtest.h>

#include "settings/program_error.h"

namespace velmora {
namespace {

TEST(NumberTextTest, ReadsDecimalAndEveryHexPrefix) {
    EXPECT_EQ(ParseInteger("26"), 26);
    EXPECT_EQ(ParseInteger("$1A"), 26);
    EXPECT_EQ(ParseInteger("x1a"), 26);
    EXPECT_EQ(ParseInteger("X1A"), 26);
    EXPECT_EQ(ParseInteger("0x1A"), 26);
    EXPECT_EQ(ParseInteger("0X1a"), 26);
    EXPECT_EQ(ParseInteger("0"), 0);
    EXPECT_EQ(ParseInteger("007"), 7);
}

TEST(NumberTextTest, AcceptsLeadingBlanksAndSign) {
    EXPECT_EQ(ParseInteger(" -5"), -5);
    EXPECT_EQ(ParseInteger("\t+5"), 5);
    EXPECT_EQ(ParseInteger("-$10"), -16);
}

TEST(NumberTextTest, RejectsTextThatIsNotWhollyANumber) {
    for (const char* text : {"", " ", "abc", "$", "0x", "-", "12a", "5 ", "1.5", "$G", "--1", "- 1", "0x-1"})
        EXPECT_FALSE(ParseInteger(text).has_value()) << "'" << text << "'";
}

TEST(NumberTextTest, DecimalMustFitSignedThirtyTwoBits) {
    EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseInteger("-2147483648"), -2147483647 - 1);
    EXPECT_FALSE(ParseInteger("2147483648").has_value());
    EXPECT_FALSE(ParseInteger("-2147483649").has_value());
    EXPECT_FALSE(ParseInteger("99999999999999999999999").has_value());
}

TEST(NumberTextTest, HexUpToFFFFFFFFIsTheThirtyTwoBitPattern) {
    EXPECT_EQ(ParseInteger("$FFFFFFFF"), -1);
    EXPECT_EQ(ParseInteger("0x80000000"), -2147483647 - 1);
    EXPECT_EQ(static_cast<std::uint32_t>(*ParseInteger("$9ABCDEF0")), 0x9ABCDEF0u);
    EXPECT_FALSE(ParseInteger("$100000000").has_value());
}

TEST(NumberTextTest, IntegerOrFallsBackAndStrictIntegerNamesTheText) {
    EXPECT_EQ(IntegerOr("$10", 3), 16);
    EXPECT_EQ(IntegerOr("abc", 3), 3);
    EXPECT_EQ(IntegerOr("", 3), 3);
    EXPECT_EQ(StrictInteger("0x1A"), 26);
    try {
        StrictInteger("abc");
        FAIL() << "no error";
    } catch (const ProgramError& error) {
        EXPECT_STREQ(error.what(), "'abc' is not a valid integer value");
    }
    EXPECT_THROW(StrictInteger(""), ProgramError);
}

}  // namespace
}  // namespace velmora
