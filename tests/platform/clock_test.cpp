#include "platform/clock.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/fake_clock.h"

namespace korva::platform {
namespace {

using korva::testing::MakeTime;
using korva::testing::TimeText;

constexpr int64_t kLastFileTime = 9'223'149'887'999'990'000;  // 30827-12-31 23:59:59.999

TEST(ClockTest, ConversionsBothWaysRefuseTimesOutsideTheCalendarAndTheSystemClockGivesLocalFields) {
    const std::tuple<SystemTime, int64_t, uint16_t> kCases[] = {
        // time, FileTime, day of week
        {MakeTime(1601, 1, 1), 0, 1},
        {MakeTime(1900, 3, 1), 94'405'824'000'000'000, 4},  // 1900 is not a leap year
        {MakeTime(1970, 1, 1), kUnixEpochAsFileTime, 4},
        {MakeTime(2000, 2, 29, 12, 34, 56, 789), 125'963'012'967'890'000, 2},  // 2000 is one
        {MakeTime(30827, 12, 31, 23, 59, 59, 999), kLastFileTime, 5},
    };
    for (const auto& [time, expectedFileTime, dayOfWeek] : kCases) {
        SCOPED_TRACE(TimeText(time));
        SystemTime in = time;
        in.dayOfWeek = 6;  // ignored on input, as by Windows
        int64_t fileTime = -1;
        ASSERT_TRUE(SystemTimeToFileTime(in, &fileTime));
        EXPECT_EQ(fileTime, expectedFileTime);
        SystemTime back;
        ASSERT_TRUE(FileTimeToSystemTime(expectedFileTime + 9'999, &back));  // sub-millisecond ticks go
        in.dayOfWeek = dayOfWeek;
        EXPECT_EQ(TimeText(back), TimeText(in));
    }
    LocalTime l;
    ASSERT_TRUE(SystemClock().ToLocalTime(1782907200, &l));  // 2026-07-01 12:00 UTC: that day in every zone
    EXPECT_TRUE(l.year == 2026 && l.month == 7 && l.day == 1 && l.dayOfWeek == 3 && l.dayOfYear == 181)
        << l.year << "-" << l.month << "-" << l.day << " " << l.dayOfWeek << " " << l.dayOfYear;
    // clang-format off
    const SystemTime kInvalid[] = {
        MakeTime(1600, 12, 31), MakeTime(30828, 1, 1), MakeTime(2024, 0, 1), MakeTime(2024, 13, 1), MakeTime(2024, 1, 0),
        MakeTime(2024, 1, 32), MakeTime(1900, 2, 29), MakeTime(2023, 2, 29), MakeTime(2000, 2, 30), MakeTime(2024, 4, 31),
        MakeTime(2024, 11, 31), MakeTime(2024, 1, 1, 24), MakeTime(2024, 1, 1, 0, 60), MakeTime(2024, 1, 1, 0, 0, 60),
        MakeTime(2024, 1, 1, 0, 0, 0, 1000), SystemTime{}};
    // clang-format on
    SystemTime out;
    int64_t fileTime = 0;
    for (const SystemTime& invalid : kInvalid)
        EXPECT_FALSE(SystemTimeToFileTime(invalid, &fileTime)) << TimeText(invalid);
    for (const int64_t outside : {int64_t{-1}, kLastFileTime + 10'000, INT64_MAX})
        EXPECT_FALSE(FileTimeToSystemTime(outside, &out)) << outside;
}

}  // namespace
}  // namespace korva::platform
