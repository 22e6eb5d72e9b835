#include "platform/clock.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace velmora {
namespace {

TEST(ClockTest, DayCountIsDaysSince1899December30WithTheTimeAsFraction) {
    EXPECT_EQ(toDayCount(LocalDateTime{1899, 12, 30, 0, 0, 0, 0}), 0.0);
    EXPECT_EQ(toDayCount(LocalDateTime{1900, 1, 1, 0, 0, 0, 0}), 2.0);
    EXPECT_EQ(toDayCount(LocalDateTime{1900, 3, 1, 0, 0, 0, 0}), 61.0);  // 1900 is not a leap year
    EXPECT_EQ(toDayCount(LocalDateTime{2000, 1, 1, 0, 0, 0, 0}), 36526.0);
    EXPECT_EQ(toDayCount(LocalDateTime{2024, 2, 29, 12, 0, 0, 0}), 45351.5);
    EXPECT_DOUBLE_EQ(toDayCount(LocalDateTime{2026, 12, 8, 9, 30, 5, 7}),
                     46364.0 + (9 * 3600000.0 + 30 * 60000.0 + 5007.0) / 86400000.0);
}

TEST(ClockTest, SystemClockReadsTheLocalTime) {
    auto clock = makeSystemClock();
    std::time_t before = std::time(nullptr);
    LocalDateTime now = clock->now();
    std::time_t after = std::time(nullptr);
    // One thread here, so the C library's shared result may be copied out at once.
    std::tm low = *std::localtime(&before);
    std::tm high = *std::localtime(&after);
    if (low.tm_mday != high.tm_mday) GTEST_SKIP() << "midnight passed during the reading";
    auto seconds = [](int h, int m, int s) { return (h * 60 + m) * 60 + s; };
    int read = seconds(now.hour, now.minute, now.second);
    EXPECT_EQ(now.year, low.tm_year + 1900);
    EXPECT_GE(read, seconds(low.tm_hour, low.tm_min, low.tm_sec));
    EXPECT_LE(read, seconds(high.tm_hour, high.tm_min, high.tm_sec));
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LE(now.millisecond, 999);
}

TEST(ClockTest, LocaleFormatsShowDateHoursMinutesAndSeconds) {
    auto locale = makeSystemLocaleFormats();
    std::string text = locale->formatDateTime(LocalDateTime{2026, 12, 8, 13, 47, 58, 0});
    for (const char* part : {"47", "58", "8"}) EXPECT_NE(text.find(part), std::string::npos) << text;
    EXPECT_NE(locale->decimalSeparator(), '\0');
    EXPECT_NE(locale->timeSeparator(), '\0');
}

}  // namespace
}  // namespace velmora
