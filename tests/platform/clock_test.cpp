#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace korva::platform {
namespace {

SystemTime Make(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
    const auto u = [](int value) { return static_cast<uint16_t>(value); };
    return {u(year), u(month), 0, u(day), u(hour), u(minute), u(second), u(ms)};
}

std::string Str(const SystemTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.milliseconds);
    return text;
}

constexpr int64_t kLastFileTime = 9'223'149'887'999'990'000;  // 30827-12-31 23:59:59.999

TEST(ClockTest, SystemTimeAndFileTimeConvertBothWays) {
    const struct {
        SystemTime time;
        int64_t fileTime;
        uint16_t dayOfWeek;
    } kCases[] = {
        {Make(1601, 1, 1), 0, 1},
        {Make(1900, 2, 28), 94'404'960'000'000'000, 3},
        {Make(1900, 3, 1), 94'405'824'000'000'000, 4},  // 1900 is not a leap year
        {Make(1970, 1, 1), kUnixEpochAsFileTime, 4},
        {Make(2000, 2, 29, 12, 34, 56, 789), 125'963'012'967'890'000, 2},  // 2000 is one
        {Make(2024, 2, 29), 133'536'384'000'000'000, 4},
        {Make(2100, 3, 1), 157'520'160'000'000'000, 1},
        {Make(30827, 12, 31, 23, 59, 59, 999), kLastFileTime, 5},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(Str(c.time));
        SystemTime in = c.time;
        in.dayOfWeek = 6;  // ignored on input, as by Windows
        int64_t fileTime = -1;
        ASSERT_TRUE(SystemTimeToFileTime(in, &fileTime));
        EXPECT_EQ(fileTime, c.fileTime);
        SystemTime back;
        ASSERT_TRUE(FileTimeToSystemTime(c.fileTime + 9'999, &back));  // sub-millisecond ticks are dropped
        EXPECT_EQ(Str(back), Str(c.time));
        EXPECT_EQ(back.dayOfWeek, c.dayOfWeek);
    }
}

TEST(ClockTest, InvalidFieldsAndFileTimesOutsideTheCalendarAreRefused) {
    // clang-format off
    const SystemTime kInvalid[] = {
        Make(1600, 12, 31), Make(30828, 1, 1), Make(2024, 0, 1), Make(2024, 13, 1), Make(2024, 1, 0),
        Make(2024, 1, 32), Make(1900, 2, 29), Make(2023, 2, 29), Make(2000, 2, 30), Make(2024, 4, 31),
        Make(2024, 11, 31), Make(2024, 1, 1, 24), Make(2024, 1, 1, 0, 60), Make(2024, 1, 1, 0, 0, 60),
        Make(2024, 1, 1, 0, 0, 0, 1000), SystemTime{}};
    // clang-format on
    for (const SystemTime& t : kInvalid) {
        SCOPED_TRACE(Str(t));
        int64_t fileTime = 0;
        EXPECT_FALSE(SystemTimeToFileTime(t, &fileTime));
    }
    SystemTime t;
    for (const int64_t fileTime : {int64_t{-1}, kLastFileTime + 10'000, INT64_MAX}) {
        EXPECT_FALSE(FileTimeToSystemTime(fileTime, &t)) << fileTime;
    }
}

}  // namespace
}  // namespace korva::platform
