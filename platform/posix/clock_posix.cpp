// The system clock on Linux: clock_gettime for now, localtime_r (the TZ database, with its daylight-saving
// rules for the date in question) for local time.
#include <time.h>

#include "platform/os_defaults.h"

namespace korva::platform {
namespace {

class PosixClock final : public Clock {
  public:
    int64_t NowFileTime() override {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return kUnixEpochAsFileTime + static_cast<int64_t>(now.tv_sec) * kFileTimeTicksPerSecond +
               static_cast<int64_t>(now.tv_nsec) / 100;
    }

    bool ToLocalTime(int64_t unixSeconds, LocalTime* local) override {
        int64_t fileTime = 0;
        if (local == nullptr || !os::UnixSecondsToFileTime(unixSeconds, &fileTime)) {
            return false;
        }
        const time_t seconds = static_cast<time_t>(unixSeconds);
        tm broken{};
        if (localtime_r(&seconds, &broken) == nullptr) {
            return false;
        }
        const int year = broken.tm_year + 1900;
        // The same calendar range as Windows' SYSTEMTIME.
        if (year < 1601 || year > 30827) {
            return false;
        }
        local->year = year;
        local->month = broken.tm_mon + 1;
        local->day = broken.tm_mday;
        local->hour = broken.tm_hour;
        local->minute = broken.tm_min;
        local->second = broken.tm_sec;
        local->dayOfWeek = broken.tm_wday;
        local->dayOfYear = broken.tm_yday;
        return true;
    }
};

}  // namespace

namespace os {

Clock& DefaultClock() {
    static PosixClock* const clock = new PosixClock();
    return *clock;
}

}  // namespace os

}  // namespace korva::platform
