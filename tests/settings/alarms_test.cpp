#include "settings/alarms.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/program_error.h"
#include "settings/tick_period.h"
#include "settings/ini_file.h"
#include "platform/text_encoding.h"
#include "support/fake_view.h"
#include "support/fakes.h"

namespace velmora {
namespace {

LocalDateTime at(int hour, int minute, int second = 0, int millisecond = 0) {
    return LocalDateTime{2026, 12, 8, hour, minute, second, millisecond};
}

class AlarmsTest : public ::testing::Test {
protected:
    void loadLines(const std::string& lines) {
        testing::writeFile(folder.file("a.ini"), utf8ToCp1251("[ALARMS]\r\n" + lines));
        LoadAlarms(IniFile::load(folder.file("a.ini")), alarms);
    }

    testing::TempFolder folder;
    TAlarms alarms;
};

TEST_F(AlarmsTest, ReadsFixedPositionsAndKeepsALeadingBlankInTheText) {
    loadLines("ALARM1=09:30 09:45 Обед\r\nALARM2=23:00#23:59\r\n");
    ASSERT_EQ(alarms.Count(), 2);
    EXPECT_DOUBLE_EQ(alarms.items[0]->StartTime, 9.5 / 24);
    EXPECT_DOUBLE_EQ(alarms.items[0]->EndTime, 9.75 / 24);
    EXPECT_EQ(alarms.items[0]->Text, " Обед");
    EXPECT_EQ(alarms.items[1]->Text, "");
}

TEST_F(AlarmsTest, AGapOrAnEmptyKeyEndsTheList) {
    loadLines("ALARM1=09:30 09:45 a\r\nALARM3=10:00 11:00 c\r\n");
    EXPECT_EQ(alarms.Count(), 1);
    alarms.Clear();
    loadLines("ALARM1=09:30 09:45 a\r\nALARM2=\r\nALARM3=10:00 11:00 c\r\n");
    EXPECT_EQ(alarms.Count(), 1);
}

TEST_F(AlarmsTest, BadTimeThrowsAndKeepsTheAlarmsBeforeIt) {
    for (const char* bad : {"9:30 10:00 x", "09:30", "09:30 1000  x", "24:00 10:00 x", "09:60 10:00 x",
                            "09.30 10:00 x", "0a:30 10:00 x"}) {
        alarms.Clear();
        EXPECT_THROW(loadLines(std::string("ALARM1=08:00 09:00 ok\r\nALARM2=") + bad + "\r\n"), ProgramError)
            << bad;
        EXPECT_EQ(alarms.Count(), 1) << bad;
    }
}

TEST_F(AlarmsTest, ActiveStrictlyInsideTheWindowAndNeverAcrossMidnight) {
    TAlarmItem item{9.5 / 24, 9.75 / 24, "x"};
    EXPECT_FALSE(item.IsActive(at(9, 30)));
    EXPECT_TRUE(item.IsActive(at(9, 30, 0, 1)));
    EXPECT_TRUE(item.IsActive(at(9, 44, 59, 999)));
    EXPECT_FALSE(item.IsActive(at(9, 45)));
    // Whatever the date, only the time of day counts.
    EXPECT_TRUE(item.IsActive(LocalDateTime{1999, 1, 1, 9, 40, 0, 0}));

    loadLines("ALARM1=23:00 01:00 night\r\n");
    for (auto when : {at(23, 30), at(0, 30), at(12, 0)}) EXPECT_FALSE(alarms.FindActive(when));
}

TEST_F(AlarmsTest, LowerKeyWinsAndActiveTextSurvivesAnInactiveSearch) {
    loadLines("ALARM1=09:00 10:00 first\r\nALARM2=09:30 11:00 second\r\n");
    EXPECT_TRUE(alarms.FindActive(at(9, 45)));
    EXPECT_EQ(alarms.ActiveText, " first");
    EXPECT_TRUE(alarms.FindActive(at(10, 30)));
    EXPECT_EQ(alarms.ActiveText, " second");
    EXPECT_FALSE(alarms.FindActive(at(12, 0)));
    EXPECT_EQ(alarms.ActiveText, " second");
}

TEST_F(AlarmsTest, BlinksOneSecondHiddenAndOneShownAtAnyInterval) {
    loadLines("ALARM1=09:00 10:00 Обед\r\n");
    testing::FakeView view;
    std::string last;
    std::uint32_t blinkTicks = TicksIn(alarmBlinkPhase, 100);
    auto visibleAt = [&](std::uint32_t cycle) {
        ShowAlarm(alarms, at(9, 30), cycle, blinkTicks, last, view);
        return view.infoVisible;
    };
    EXPECT_FALSE(visibleAt(9));
    EXPECT_EQ(last, " Обед");
    EXPECT_TRUE(visibleAt(10));
    EXPECT_EQ(view.caption, " Обед");
    EXPECT_TRUE(visibleAt(19));
    EXPECT_FALSE(visibleAt(20));
    EXPECT_TRUE(visibleAt(4294967295u));

    blinkTicks = TicksIn(alarmBlinkPhase, 16);  // 63 ticks of 16 ms
    EXPECT_FALSE(visibleAt(62));
    EXPECT_TRUE(visibleAt(63));
    EXPECT_TRUE(visibleAt(125));
    EXPECT_FALSE(visibleAt(126));
}

TEST_F(AlarmsTest, EndOfWindowHidesThePanelOnlyWhileItShowsTheAlarm) {
    loadLines("ALARM1=09:00 10:00 Обед\r\n");
    testing::FakeView view;
    std::string last;
    ShowAlarm(alarms, at(9, 59), 15, 10, last, view);
    ASSERT_TRUE(view.infoVisible);
    ShowAlarm(alarms, at(10, 0), 16, 10, last, view);
    EXPECT_FALSE(view.infoVisible);

    // Ended in the hidden phase: stays hidden.
    ShowAlarm(alarms, at(9, 59), 5, 10, last, view);
    ShowAlarm(alarms, at(10, 0), 6, 10, last, view);
    EXPECT_FALSE(view.infoVisible);

    // Another notice in the panel is left alone.
    view.caption = "Запустите QUIK...";
    view.infoVisible = true;
    ShowAlarm(alarms, at(10, 1), 7, 10, last, view);
    EXPECT_TRUE(view.infoVisible);
}

}  // namespace
}  // namespace velmora
