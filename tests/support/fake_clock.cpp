#include "tests/support/fake_clock.h"

#include <cstdio>

namespace korva::testing {

bool FakeClock::ToLocalTime(int64_t unixSeconds, platform::LocalTime* local) {
    using namespace platform;
    int64_t ticks = 0;
    int64_t fileTime = 0;
    int64_t newYear = 0;
    SystemTime t;
    if (local == nullptr || __builtin_add_overflow(unixSeconds, utcOffsetSeconds, &ticks) ||
        __builtin_mul_overflow(ticks, kFileTimeTicksPerSecond, &ticks) ||
        __builtin_add_overflow(ticks, kUnixEpochAsFileTime, &fileTime) ||
        !FileTimeToSystemTime(fileTime, &t) || !SystemTimeToFileTime(SystemTime{t.year, 1, 0, 1}, &newYear)) {
        return false;
    }
    const int dayOfYear = static_cast<int>((fileTime - newYear) / (86400 * kFileTimeTicksPerSecond));
    *local = LocalTime{t.year, t.month, t.day, t.hour, t.minute, t.second, t.dayOfWeek, dayOfYear};
    return true;
}

platform::SystemTime MakeTime(int year, int month, int day, int hour, int minute, int second, int ms) {
    const auto u = [](int value) { return static_cast<uint16_t>(value); };
    return {u(year), u(month), 0, u(day), u(hour), u(minute), u(second), u(ms)};
}

std::string TimeText(const platform::SystemTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d.%03d dow %d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.milliseconds, t.dayOfWeek);
    return text;
}

}  // namespace korva::testing
