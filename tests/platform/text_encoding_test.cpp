#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

TEST(TextEncodingTest, EveryByteSurvivesTheRoundTrip) {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    std::string text = cp1251ToUtf8(bytes);
    EXPECT_EQ(utf8ToCp1251(text), bytes);
}

TEST(TextEncodingTest, ConvertsRussianText) {
    const std::string utf8 = "Быстрые заявки QUIK: ёЁ №";
    const std::string cp1251 = "\xC1\xFB\xF1\xF2\xF0\xFB\xE5 \xE7\xE0\xFF\xE2\xEA\xE8 QUIK: \xB8\xA8 \xB9";
    EXPECT_EQ(utf8ToCp1251(utf8), cp1251);
    EXPECT_EQ(cp1251ToUtf8(cp1251), utf8);
}

TEST(TextEncodingTest, TextWithoutAWindows1251FormBecomesQuestionMarks) {
    EXPECT_EQ(utf8ToCp1251("a\xE2\x82\xBF" "b"), "a?b");        // a currency sign outside 1251
    EXPECT_EQ(utf8ToCp1251("a\xF0\x9F\x98\x80" "b"), "a?b");    // four-byte character
    EXPECT_EQ(utf8ToCp1251("a\xD0"), "a?");                      // cut short
    EXPECT_EQ(utf8ToCp1251("a\x80z"), "a?z");                    // stray continuation byte
}

}  // namespace
}  // namespace velmora
