// Time. The system counts calendar time the way Windows does: SystemTime (SYSTEMTIME's fields) and FileTime,
// a signed 64-bit count of 100-ns intervals since 1601-01-01 00:00 UTC. The conversions between the two are
// pure arithmetic (proleptic Gregorian calendar) and identical on both builds; only "now" and the local time
// zone come from the OS, through the Clock seam, which tests replace to control time (no test sleeps).
#pragma once

#include <cstdint>

#include "platform/seam.h"

namespace korva::platform {

struct SystemTime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t dayOfWeek = 0;  // 0 = Sunday
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// Broken-down local calendar time for formatting (like struct tm, with a 4-digit year).
struct LocalTime {
    int year = 0;       // e.g. 2026
    int month = 0;      // 1-12
    int day = 0;        // 1-31
    int hour = 0;       // 0-23
    int minute = 0;     // 0-59
    int second = 0;     // 0-60
    int dayOfWeek = 0;  // 0 = Sunday
    int dayOfYear = 0;  // 0-365
};

constexpr int64_t kFileTimeTicksPerSecond = 10'000'000;
// FileTime of 1970-01-01 00:00 UTC.
constexpr int64_t kUnixEpochAsFileTime = 116'444'736'000'000'000;

// SystemTimeToFileTime: false for fields out of range (month 0, day 32, year before 1601 or after 30827...).
[[nodiscard]] bool SystemTimeToFileTime(const SystemTime& time, int64_t* fileTime);
// FileTimeToSystemTime: false for a negative value or one beyond year 30827; the day of week is computed.
[[nodiscard]] bool FileTimeToSystemTime(int64_t fileTime, SystemTime* time);

class Clock {
  public:
    virtual ~Clock() = default;
    // The current UTC time as a FileTime.
    [[nodiscard]] virtual int64_t NowFileTime() = 0;
    // Unix seconds to local calendar time in the machine's time zone; false when it cannot be converted.
    [[nodiscard]] virtual bool ToLocalTime(int64_t unixSeconds, LocalTime* local) = 0;
};

Clock& SystemClock();

using ScopedClockOverride = ScopedOverride<Clock>;

// Helpers over the seam.
SystemTime NowUtcSystemTime();
int64_t NowUnixSeconds();

}  // namespace korva::platform
