// Renderings of the run clock.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "diag/clock.h"

namespace {

tdclass at(int p_hour, int p_minute, int p_second, int p_year = 2026, int p_month = 12,
           int p_day = 7, int p_wday = 1) {
    std::tm tm{};
    tm.tm_hour = p_hour;
    tm.tm_min = p_minute;
    tm.tm_sec = p_second;
    tm.tm_year = p_year - 1900;
    tm.tm_mon = p_month - 1;
    tm.tm_mday = p_day;
    tm.tm_wday = p_wday;
    tdclass clock;
    clock.set(tm);
    return clock;
}

TEST(ClockTest, TimeTexts) {
    tdclass afternoon = at(14, 30, 0);
    EXPECT_EQ(afternoon.time24(true), "14:30.00");
    EXPECT_EQ(afternoon.time24(false), "14:30");
    EXPECT_EQ(afternoon.time12(true), "2:30.00");
    EXPECT_EQ(afternoon.time().ampm, "PM");
    EXPECT_TRUE(afternoon.time().pm);

    tdclass morning = at(9, 5, 7);
    EXPECT_EQ(morning.time24(true), "9:05.07");
    EXPECT_EQ(morning.time24(false), "9:05");
    EXPECT_EQ(morning.time12(true), "9:05.07");
    EXPECT_EQ(morning.time().ampm, "AM");

    tdclass late = at(23, 59, 60);
    EXPECT_EQ(late.time24(true), "23:59.60");
    EXPECT_EQ(late.time12(false), "11:59");
    EXPECT_EQ(late.time().ampm, "PM");
}

TEST(ClockTest, NoonAndMidnightOnTheTwelveHourClock) {
    tdclass noon = at(12, 15, 9);
    EXPECT_EQ(noon.time12(false), "12:15");
    EXPECT_EQ(noon.time24(true), "12:15.09");
    EXPECT_EQ(noon.time().hour12, 12);
    EXPECT_EQ(noon.time().ampm, "PM");
    EXPECT_TRUE(noon.time().pm);

    tdclass midnight = at(0, 40, 0);
    EXPECT_EQ(midnight.time12(false), "12:40");
    EXPECT_EQ(midnight.time24(false), "0:40");
    EXPECT_EQ(midnight.time().hour12, 12);
    EXPECT_EQ(midnight.time().ampm, "AM");
    EXPECT_FALSE(midnight.time().pm);

    tdclass eleven = at(11, 59, 59);
    EXPECT_EQ(eleven.time12(true), "11:59.59");
    EXPECT_EQ(eleven.time().ampm, "AM");
}

TEST(ClockTest, Dates) {
    tdclass monday = at(10, 0, 0, 2026, 12, 7, 1);
    EXPECT_EQ(monday.date(), "Monday December 7, 2026");
    EXPECT_EQ(monday.time().month, 12);
    EXPECT_EQ(monday.time().year, 2026);

    EXPECT_EQ(at(10, 0, 0, 2027, 3, 1, 1).date(), "Monday March 1, 2027");
    EXPECT_EQ(at(10, 0, 0, 2026, 1, 31, 6).date(), "Saturday January 31, 2026");
    EXPECT_EQ(at(10, 0, 0, 2026, 1, 31, 0).time().dayName, "Sunday");
    EXPECT_EQ(at(10, 0, 0, 2026, 1, 31, 9).time().dayName, "Error finding day");

    tdclass clock;
    EXPECT_EQ(clock.IntToString(0), "0");
    EXPECT_EQ(clock.IntToString(123), "123");
    EXPECT_EQ(clock.IntToString(2026), "2026");
}

TEST(ClockTest, ResetReadsTheLocalClockAndRenderersDoNot) {
    std::time_t before = std::time(nullptr);
    tdclass clock;
    std::time_t after = std::time(nullptr);
    std::tm local{};
    localtime_r(&before, &local);
    if (before == after) {  // the same second: every field is known
        EXPECT_EQ(clock.time().hour, local.tm_hour);
        EXPECT_EQ(clock.time().minute, local.tm_min);
        EXPECT_EQ(clock.time().second, local.tm_sec);
    }
    EXPECT_EQ(clock.time().year, local.tm_year + 1900);
    EXPECT_FALSE(clock.time().dayName.empty());
    EXPECT_FALSE(clock.time().monthName.empty());

    tdclass fixed = at(14, 30, 0);
    std::string first = fixed.time24(true);
    EXPECT_EQ(fixed.time24(true), first);
    fixed.reset();
    EXPECT_EQ(fixed.time().year, local.tm_year + 1900);
}

}  // namespace
