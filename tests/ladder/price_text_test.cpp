#include "ladder/price_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

using namespace velmora;

TEST(PriceText, FixedDigitsAndSeparator) {
    EXPECT_EQ(PriceText(12345, 2, '.'), "123.45");
    EXPECT_EQ(PriceText(12345, 2, ','), "123,45");
    EXPECT_EQ(PriceText(12345, 0, ','), "12345");
    EXPECT_EQ(PriceText(5, 3, '.'), "0.005");
    EXPECT_EQ(PriceText(4294967295u, 0, '.'), "4294967295");
    EXPECT_EQ(FormatFixed(-0.001L, 2, '.'), "0.00");
    EXPECT_EQ(FormatFixed(99.95L, 2, '.'), "99.95");
}

// A typed or reported price becomes ticks once, rounded as the transaction's fixed form always
// rounded it.
TEST(PriceText, TicksOfANumberRoundAsItsFixedForm) {
    EXPECT_EQ(PriceTicks(1234.5, 2), 123450);
    EXPECT_EQ(PriceTicks(100.0 + 0.05 * 3, 2), 10015);  // just above 100.15 in binary
    EXPECT_EQ(PriceTicks(2.675, 2), 267);               // just below 2.675; times 100 it is 267.5
    EXPECT_EQ(PriceTicks(12344.6, 0), 12345);
    EXPECT_EQ(PriceTicks(-0.001, 2), 0);
    EXPECT_EQ(PriceTicks(-0.07, 2), -7);
    EXPECT_FALSE(PriceTicks(1e300, 2));
    EXPECT_FALSE(PriceTicks(std::nan(""), 2));
    EXPECT_EQ(PriceText(-7, 2, ','), "-0,07");
}

TEST(PriceText, RoundsToTenSignificantDigits) {
    EXPECT_EQ(FormatFixed(123456.7891234L, 6, '.'), "123456.789100");
}

TEST(PriceText, GeneralFormForLogs) {
    EXPECT_EQ(FormatGeneral(99.95, '.'), "99.95");
    EXPECT_EQ(FormatGeneral(100.0, ','), "100");
    EXPECT_EQ(FormatGeneral(0.1 + 0.2, '.'), "0.3");
}

TEST(PriceText, ReadsCommaOrPointAndRejectsTrailingText) {
    EXPECT_DOUBLE_EQ(*ReadPriceText("1234,5"), 1234.5);
    EXPECT_DOUBLE_EQ(*ReadPriceText("  -1.5e2"), -150.0);
    EXPECT_FALSE(ReadPriceText("1234.5 "));
    EXPECT_FALSE(ReadPriceText("1,2,3"));
    EXPECT_FALSE(ReadPriceText(""));
    EXPECT_FALSE(ReadPriceText("цена"));
    EXPECT_FALSE(ReadPriceText("0x10"));
    EXPECT_FALSE(ReadPriceText("inf"));
    EXPECT_FALSE(ReadPriceText("."));
}

// Qt sets the C library's locale from the environment; a Russian one makes "," its decimal point.
TEST(PriceText, SameTextsUnderACommaLocale) {
    struct Restore {
        std::string locale = std::setlocale(LC_ALL, nullptr);
        ~Restore() { std::setlocale(LC_ALL, locale.c_str()); }
    } restore;
    // The Linux name, then the Windows C runtime's.
    bool russian = false;
    for (const char* name : {"ru_RU.UTF-8", "Russian_Russia.1251"}) russian = russian || std::setlocale(LC_ALL, name);
    ASSERT_TRUE(russian) << "no Russian locale (on Linux scripts/setup installs ru_RU.UTF-8)";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");

    EXPECT_EQ(PriceText(10005, 2, '.'), "100.05");
    EXPECT_EQ(PriceText(10005, 2, ','), "100,05");
    EXPECT_EQ(FormatFixed(123456.7891234L, 6, '.'), "123456.789100");
    EXPECT_EQ(FormatGeneral(99.95, '.'), "99.95");
    EXPECT_EQ(FormatGeneral(1.5e20, '.'), "1.5E+20");
    EXPECT_EQ(ReadPriceText("100.05"), 100.05);
    EXPECT_EQ(ReadPriceText("100,05"), 100.05);
    EXPECT_EQ(ReadPriceText("+1.5e2"), 150.0);
    EXPECT_FALSE(ReadPriceText("+-1"));
    EXPECT_FALSE(ReadPriceText("1e999"));
}
