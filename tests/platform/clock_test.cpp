#include "platform/clock.h"

#include <gtest/gtest.h>

namespace korva::platform {
namespace {

SystemTime Make(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
    SystemTime time;
    time.year = static_cast<uint16_t>(year);
    time.month = static_cast<uint16_t>(month);
    time.day = static_cast<uint16_t>(day);
    time.hour = static_cast<uint16_t>(hour);
    time.minute = static_cast<uint16_t>(minute);
    time.second = static_cast<uint16_t>(second);
    time.milliseconds = static_cast<uint16_t>(ms);
    return time;
}

// 30827-12-31 23:59:59.999, the last instant Windows' SYSTEMTIME can hold.
constexpr int64_t kLastFileTime = 9'223'149'887'999'990'000;

struct CalendarCase {
    SystemTime time;
    int64_t fileTime;
    uint16_t dayOfWeek;
};

// Expected values computed independently (Python's datetime, and 400-year cycles beyond its range).
const CalendarCase kCalendarCases[] = {
    {Make(1601, 1, 1), 0, 1},
    {Make(1601, 1, 1, 0, 0, 0, 1), 10'000, 1},
    {Make(1601, 12, 31, 23, 59, 59, 999), 315'359'999'990'000, 1},
    {Make(1900, 2, 28), 94'404'960'000'000'000, 3},
    // 1900 is not a leap year: 28 February is followed by 1 March.
    {Make(1900, 3, 1), 94'405'824'000'000'000, 4},
    {Make(1970, 1, 1), kUnixEpochAsFileTime, 4},
    // 2000 is a leap year although divisible by 100.
    {Make(2000, 2, 29, 12, 34, 56, 789), 125'963'012'967'890'000, 2},
    {Make(2024, 2, 29), 133'536'384'000'000'000, 4},
    {Make(2026, 12, 4, 22, 15, 3), 134'408'961'030'000'000, 5},
    {Make(2100, 3, 1), 157'520'160'000'000'000, 1},
    {Make(9999, 12, 31, 23, 59, 59, 999), 2'650'467'743'999'990'000, 5},
    {Make(30827, 12, 31, 23, 59, 59, 999), kLastFileTime, 5},
};

TEST(ClockTest, SystemTimeAndFileTimeConvertBothWays) {
    for (const CalendarCase& c : kCalendarCases) {
        SCOPED_TRACE(testing::Message() << c.time.year << "-" << c.time.month << "-" << c.time.day);
        int64_t fileTime = -1;
        ASSERT_TRUE(SystemTimeToFileTime(c.time, &fileTime));
        EXPECT_EQ(fileTime, c.fileTime);

        SystemTime back;
        ASSERT_TRUE(FileTimeToSystemTime(c.fileTime, &back));
        EXPECT_EQ(back.year, c.time.year);
        EXPECT_EQ(back.month, c.time.month);
        EXPECT_EQ(back.day, c.time.day);
        EXPECT_EQ(back.hour, c.time.hour);
        EXPECT_EQ(back.minute, c.time.minute);
        EXPECT_EQ(back.second, c.time.second);
        EXPECT_EQ(back.milliseconds, c.time.milliseconds);
        EXPECT_EQ(back.dayOfWeek, c.dayOfWeek);
    }
}

TEST(ClockTest, SubMillisecondTicksAreDropped) {
    SystemTime time;
    ASSERT_TRUE(FileTimeToSystemTime(kUnixEpochAsFileTime + 9'999, &time));
    EXPECT_EQ(time.milliseconds, 0);
    EXPECT_EQ(time.second, 0);
}

TEST(ClockTest, DayOfWeekIsIgnoredOnInput) {
    SystemTime time = Make(1970, 1, 1);
    time.dayOfWeek = 6;  // wrong on purpose: Windows ignores the field
    int64_t fileTime = 0;
    ASSERT_TRUE(SystemTimeToFileTime(time, &fileTime));
    EXPECT_EQ(fileTime, kUnixEpochAsFileTime);
}

TEST(ClockTest, FieldsOutOfRangeAreRefused) {
    const SystemTime kInvalid[] = {
        Make(1600, 12, 31),
        Make(30828, 1, 1),
        Make(2024, 0, 1),
        Make(2024, 13, 1),
        Make(2024, 1, 0),
        Make(2024, 1, 32),
        Make(1900, 2, 29),
        Make(2023, 2, 29),
        Make(2000, 2, 30),
        Make(2024, 4, 31),
        Make(2024, 6, 31),
        Make(2024, 9, 31),
        Make(2024, 11, 31),
        Make(2024, 1, 1, 24),
        Make(2024, 1, 1, 0, 60),
        Make(2024, 1, 1, 0, 0, 60),
        Make(2024, 1, 1, 0, 0, 0, 1000),
        SystemTime{},
    };
    for (const SystemTime& time : kInvalid) {
        SCOPED_TRACE(testing::Message()
                     << time.year << "-" << time.month << "-" << time.day << " " << time.hour << ":"
                     << time.minute << ":" << time.second << "." << time.milliseconds);
        int64_t fileTime = 12345;
        EXPECT_FALSE(SystemTimeToFileTime(time, &fileTime));
    }
}

TEST(ClockTest, FileTimesOutsideTheCalendarAreRefused) {
    SystemTime time;
    EXPECT_FALSE(FileTimeToSystemTime(-1, &time));
    // One millisecond after the last SYSTEMTIME.
    EXPECT_FALSE(FileTimeToSystemTime(kLastFileTime + 10'000, &time));
    EXPECT_FALSE(FileTimeToSystemTime(INT64_MAX, &time));
}

TEST(ClockTest, EveryDayOfALeapYearRoundTrips) {
    // Walks 2024 day by day: catches month-boundary and leap-day slips that fixed samples miss.
    int64_t fileTime = 0;
    ASSERT_TRUE(SystemTimeToFileTime(Make(2024, 1, 1), &fileTime));
    uint16_t expectedDayOfWeek = 1;  // 2024-01-01 was a Monday
    int days = 0;
    for (SystemTime time; FileTimeToSystemTime(fileTime, &time) && time.year == 2024; ++days) {
        int64_t back = 0;
        ASSERT_TRUE(SystemTimeToFileTime(time, &back));
        ASSERT_EQ(back, fileTime);
        ASSERT_EQ(time.dayOfWeek, expectedDayOfWeek);
        expectedDayOfWeek = static_cast<uint16_t>((expectedDayOfWeek + 1) % 7);
        fileTime += 86'400 * kFileTimeTicksPerSecond;
    }
    EXPECT_EQ(days, 366);
}

struct LocalCase {
    int64_t unixSeconds;
    int64_t offsetSeconds;
    LocalTime expected;
};

TEST(ClockTest, FakeClockShiftsUtcByItsOffset) {
    const LocalCase kCases[] = {
        {0, 0, {1970, 1, 1, 0, 0, 0, 4, 0}},
        {0, 3'600, {1970, 1, 1, 1, 0, 0, 4, 0}},
        // A negative offset moves back across the year boundary.
        {0, -1, {1969, 12, 31, 23, 59, 59, 3, 364}},
        // 2024-12-31 23:30 UTC is already New Year one hour east; 2024 has 366 days.
        {1'735'687'800, 0, {2024, 12, 31, 23, 30, 0, 2, 365}},
        {1'735'687'800, 3'600, {2025, 1, 1, 0, 30, 0, 3, 0}},
        {1'709'164'800, 0, {2024, 2, 29, 0, 0, 0, 4, 59}},
    };
    FakeClock clock;
    for (const LocalCase& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.unixSeconds << " offset " << c.offsetSeconds);
        clock.utcOffsetSeconds = c.offsetSeconds;
        LocalTime local;
        ASSERT_TRUE(clock.ToLocalTime(c.unixSeconds, &local));
        EXPECT_EQ(local.year, c.expected.year);
        EXPECT_EQ(local.month, c.expected.month);
        EXPECT_EQ(local.day, c.expected.day);
        EXPECT_EQ(local.hour, c.expected.hour);
        EXPECT_EQ(local.minute, c.expected.minute);
        EXPECT_EQ(local.second, c.expected.second);
        EXPECT_EQ(local.dayOfWeek, c.expected.dayOfWeek);
        EXPECT_EQ(local.dayOfYear, c.expected.dayOfYear);
    }
}

TEST(ClockTest, FakeClockRefusesWhatCannotBeConverted) {
    FakeClock clock;
    LocalTime local;
    clock.failLocalConversion = true;
    EXPECT_FALSE(clock.ToLocalTime(0, &local));
    clock.failLocalConversion = false;
    // Before 1601 and beyond the FileTime range.
    EXPECT_FALSE(clock.ToLocalTime(-11'644'473'601, &local));
    EXPECT_FALSE(clock.ToLocalTime(INT64_MAX, &local));
    clock.utcOffsetSeconds = INT64_MAX;
    EXPECT_FALSE(clock.ToLocalTime(1, &local));
}

TEST(ClockTest, HelpersReadTheOverridingClock) {
    Clock* const before = &SystemClock();
    {
        FakeClock fake;
        ScopedClockOverride guard(&fake);
        EXPECT_EQ(&SystemClock(), &fake);
        fake.now = kUnixEpochAsFileTime + 90 * kFileTimeTicksPerSecond;
        EXPECT_EQ(NowUnixSeconds(), 90);
        fake.AdvanceSeconds(-91);
        EXPECT_EQ(NowUnixSeconds(), -1);
        // One tick before the epoch still lies in second -1, not 0.
        fake.now = kUnixEpochAsFileTime - 1;
        EXPECT_EQ(NowUnixSeconds(), -1);

        fake.now = 125'963'012'967'890'000;
        const SystemTime now = NowUtcSystemTime();
        EXPECT_EQ(now.year, 2000);
        EXPECT_EQ(now.month, 2);
        EXPECT_EQ(now.day, 29);
        EXPECT_EQ(now.milliseconds, 789);
    }
    EXPECT_EQ(&SystemClock(), before);
}

TEST(ClockTest, SystemClockIsPlausible) {
    int64_t year2020 = 0;
    ASSERT_TRUE(SystemTimeToFileTime(Make(2020, 1, 1), &year2020));
    EXPECT_GT(SystemClock().NowFileTime(), year2020);
    // Unix 0 in any time zone is the last day of 1969 or the first of 1970.
    LocalTime local;
    ASSERT_TRUE(SystemClock().ToLocalTime(0, &local));
    EXPECT_TRUE((local.year == 1970 && local.month == 1 && local.day == 1) ||
                (local.year == 1969 && local.month == 12 && local.day == 31));
}

}  // namespace
}  // namespace korva::platform
