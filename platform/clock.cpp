// Calendar arithmetic on SystemTime and FileTime, identical on both builds, and the clock seam's plumbing.
#include "platform/clock.h"

#include <limits>

#include "platform/os_defaults.h"

namespace korva::platform {
namespace {

constexpr int64_t kTicksPerMillisecond = 10'000;
constexpr int64_t kTicksPerDay = 86'400 * kFileTimeTicksPerSecond;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDaysFrom1601To1970 = 134'774;
constexpr int kFirstYear = 1601;
constexpr int kLastYear = 30827;

bool IsLeapYear(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int64_t year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + dayOfEra - 719'468;
}

// The inverse of DaysFromCivil.
void CivilFromDays(int64_t days, int64_t* year, int* month, int* day) {
    days += 719'468;
    const int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const int64_t dayOfEra = days - era * 146'097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    *day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    *month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

}  // namespace

bool SystemTimeToFileTime(const SystemTime& time, int64_t* fileTime) {
    if (fileTime == nullptr) {
        return false;
    }
    if (time.year < kFirstYear || time.year > kLastYear || time.month < 1 || time.month > 12 ||
        time.day < 1 || time.day > DaysInMonth(time.year, time.month) || time.hour > 23 || time.minute > 59 ||
        time.second > 59 || time.milliseconds > 999) {
        return false;
    }
    // The day of week is ignored, as Windows ignores it.
    const int64_t days = DaysFromCivil(time.year, time.month, time.day) + kDaysFrom1601To1970;
    const int64_t seconds = ((days * 24 + time.hour) * 60 + time.minute) * 60 + time.second;
    *fileTime = seconds * kFileTimeTicksPerSecond + time.milliseconds * kTicksPerMillisecond;
    return true;
}

bool FileTimeToSystemTime(int64_t fileTime, SystemTime* time) {
    if (time == nullptr || fileTime < 0) {
        return false;
    }
    const int64_t days = fileTime / kTicksPerDay;
    int64_t ticksOfDay = fileTime % kTicksPerDay;
    int64_t year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(days - kDaysFrom1601To1970, &year, &month, &day);
    if (year > kLastYear) {
        return false;
    }
    time->year = static_cast<uint16_t>(year);
    time->month = static_cast<uint16_t>(month);
    time->day = static_cast<uint16_t>(day);
    // 1601-01-01 was a Monday.
    time->dayOfWeek = static_cast<uint16_t>((days + 1) % 7);
    time->hour = static_cast<uint16_t>(ticksOfDay / (3600 * kFileTimeTicksPerSecond));
    ticksOfDay %= 3600 * kFileTimeTicksPerSecond;
    time->minute = static_cast<uint16_t>(ticksOfDay / (60 * kFileTimeTicksPerSecond));
    ticksOfDay %= 60 * kFileTimeTicksPerSecond;
    time->second = static_cast<uint16_t>(ticksOfDay / kFileTimeTicksPerSecond);
    ticksOfDay %= kFileTimeTicksPerSecond;
    time->milliseconds = static_cast<uint16_t>(ticksOfDay / kTicksPerMillisecond);
    return true;
}

namespace os {

int DayOfYear(int year, int month, int day) {
    return static_cast<int>(DaysFromCivil(year, month, day) - DaysFromCivil(year, 1, 1));
}

bool UnixSecondsToFileTime(int64_t unixSeconds, int64_t* fileTime) {
    constexpr int64_t kMinSeconds = -kUnixEpochAsFileTime / kFileTimeTicksPerSecond;
    constexpr int64_t kMaxSeconds =
        (std::numeric_limits<int64_t>::max() - kUnixEpochAsFileTime) / kFileTimeTicksPerSecond;
    if (unixSeconds < kMinSeconds || unixSeconds > kMaxSeconds) {
        return false;
    }
    *fileTime = kUnixEpochAsFileTime + unixSeconds * kFileTimeTicksPerSecond;
    return true;
}

}  // namespace os

Clock& SystemClock() {
    Clock* replacement = ScopedClockOverride::Installed();
    return replacement != nullptr ? *replacement : os::DefaultClock();
}

SystemTime NowUtcSystemTime() {
    SystemTime now;
    if (!FileTimeToSystemTime(SystemClock().NowFileTime(), &now)) {
        return SystemTime{};
    }
    return now;
}

int64_t NowUnixSeconds() {
    const int64_t sinceEpoch = SystemClock().NowFileTime() - kUnixEpochAsFileTime;
    // Floor division, so that an instant before 1970 still maps to the second that contains it.
    int64_t seconds = sinceEpoch / kFileTimeTicksPerSecond;
    if (sinceEpoch % kFileTimeTicksPerSecond < 0) {
        --seconds;
    }
    return seconds;
}

}  // namespace korva::platform
