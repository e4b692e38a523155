#include "tests/support/fake_clock.h"

namespace korva::testing {

bool FakeClock::ToLocalTime(int64_t unixSeconds, platform::LocalTime* local) {
    if (failLocalConversion || local == nullptr) {
        return false;
    }
    int64_t shifted = 0;
    int64_t ticks = 0;
    int64_t fileTime = 0;
    platform::SystemTime time;
    if (__builtin_add_overflow(unixSeconds, utcOffsetSeconds, &shifted) ||
        __builtin_mul_overflow(shifted, platform::kFileTimeTicksPerSecond, &ticks) ||
        __builtin_add_overflow(ticks, platform::kUnixEpochAsFileTime, &fileTime) ||
        !platform::FileTimeToSystemTime(fileTime, &time)) {
        return false;
    }
    platform::SystemTime newYear;
    newYear.year = time.year;
    newYear.month = 1;
    newYear.day = 1;
    int64_t newYearTime = 0;
    if (!platform::SystemTimeToFileTime(newYear, &newYearTime)) {
        return false;
    }
    constexpr int64_t kTicksPerDay = 86400 * platform::kFileTimeTicksPerSecond;
    local->year = time.year;
    local->month = time.month;
    local->day = time.day;
    local->hour = time.hour;
    local->minute = time.minute;
    local->second = time.second;
    local->dayOfWeek = time.dayOfWeek;
    local->dayOfYear = static_cast<int>((fileTime - newYearTime) / kTicksPerDay);
    return true;
}

}  // namespace korva::testing
