// The system clock on Windows. Local time goes through the time zone's rules for the year being converted
// (GetTimeZoneInformationForYear, so past years use their own daylight-saving rules) and whether daylight
// saving applies on that date (SystemTimeToTzSpecificLocalTime); FileTimeToLocalFileTime would apply today's
// bias to every date.
#include <windows.h>

#include "platform/os_defaults.h"

namespace korva::platform {
namespace {

class Win32Clock final : public Clock {
  public:
    int64_t NowFileTime() override {
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        return static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    }

    bool ToLocalTime(int64_t unixSeconds, LocalTime* local) override {
        int64_t fileTime = 0;
        if (local == nullptr || !os::UnixSecondsToFileTime(unixSeconds, &fileTime)) {
            return false;
        }
        FILETIME utcFile{};
        utcFile.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(fileTime) & 0xFFFFFFFFu);
        utcFile.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(fileTime) >> 32);
        SYSTEMTIME utc{};
        SYSTEMTIME converted{};
        if (!::FileTimeToSystemTime(&utcFile, &utc)) {
            return false;
        }
        TIME_ZONE_INFORMATION zone{};
        const bool haveZone = GetTimeZoneInformationForYear(utc.wYear, nullptr, &zone) != FALSE;
        if (!SystemTimeToTzSpecificLocalTime(haveZone ? &zone : nullptr, &utc, &converted)) {
            return false;
        }
        local->year = converted.wYear;
        local->month = converted.wMonth;
        local->day = converted.wDay;
        local->hour = converted.wHour;
        local->minute = converted.wMinute;
        local->second = converted.wSecond;
        local->dayOfWeek = converted.wDayOfWeek;
        local->dayOfYear = os::DayOfYear(converted.wYear, converted.wMonth, converted.wDay);
        return true;
    }
};

}  // namespace

namespace os {

Clock& DefaultClock() {
    static Win32Clock* const clock = new Win32Clock();
    return *clock;
}

}  // namespace os

}  // namespace korva::platform
