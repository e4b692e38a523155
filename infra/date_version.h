// Small value helpers: a four-part version number read from dotted text, calendar-time arithmetic on
// SystemTime values, and the date text of log records.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/result_codes.h"
#include "platform/text.h"

namespace korva {

// A version major.minor.build.revision. A part the text does not supply is -1, so "1.8" is older than
// "1.8.0".
class CVersionParser {
  public:
    CVersionParser(int32_t major, int32_t minor, int32_t build, int32_t revision);
    // Splits at "." into at most four parts, each read like wcstol in base 10 (optional blanks and sign, then
    // the leading digits; 0 when there are none, as for an empty part). Null or empty text leaves all parts
    // -1; anything after the fourth part is ignored.
    explicit CVersionParser(const WChar* text);
    virtual ~CVersionParser() = default;
    CVersionParser(const CVersionParser&) = default;
    CVersionParser& operator=(const CVersionParser&) = default;

    int32_t Major() const { return parts_[0]; }
    int32_t Minor() const { return parts_[1]; }
    int32_t Build() const { return parts_[2]; }
    int32_t Revision() const { return parts_[3]; }

    // 1 when this version is greater, -1 when smaller, 0 when all four parts are equal; the first differing
    // part (major, minor, build, revision, as signed numbers) decides.
    int32_t Compare(const CVersionParser& other) const;
    int32_t CompareWithText(const WChar* text) const;

  private:
    int32_t parts_[4];
};

// 1900-01-01 00:00:00.000, day of week 1.
void SetToBaseDate(platform::SystemTime* time);
// (a - b) in 100-ns units. A time the calendar cannot convert (all-zero fields, say) counts as 0.
int64_t TimeDifference(const platform::SystemTime& a, const platform::SystemTime& b);
// Moves the time by whole seconds. A time the calendar cannot convert counts as 1601-01-01 00:00; when the
// result falls outside the calendar (before 1601) the time is left unchanged.
void AddSeconds(platform::SystemTime* time, int64_t seconds);
void SubtractSeconds(platform::SystemTime* time, int64_t seconds);

// The pattern used when none is given: day-month-year and a 24-hour clock.
inline constexpr const WChar* kRecordDatePattern = KW("%d-%m-%Y %H:%M:%S");
// Maximum length of a formatted date text, in characters.
constexpr size_t kMaxDateTextLength = 254;

// The local date text of a record time (seconds since 1970-01-01 UTC) in a strftime-style pattern (null or
// empty: kRecordDatePattern). 0 with the text; kDateTextUnavailable with "Unknown date" when the time is 0,
// cannot be converted to local time, or the pattern yields nothing (empty, longer than 254 characters, or an
// unknown conversion).
[[nodiscard]] int32_t RecordDateText(int64_t time, const WChar* pattern, WString* text);

// The strftime-style formatter behind RecordDateText, the same on every build (C locale, English names):
//   %a %A  weekday, short / full     %b %B  month name, short / full   %c  "%m/%d/%y %H:%M:%S"
//   %d  day 01-31     %H  hour 00-23     %I  hour 01-12     %j  day of year 001-366     %m  month 01-12
//   %M  minute 00-59  %p  AM / PM        %S  second 00-60   %U  week of year (Sunday first) 00-53
//   %w  weekday 0-6   %W  week of year (Monday first) 00-53  %x  "%m/%d/%y"  %X  "%H:%M:%S"
//   %y  year 00-99    %Y  four-digit year                   %%  a percent sign
// A '#' after the '%' drops leading zeros of numbers. False (and `out` unspecified) for an unknown
// conversion, a trailing lone '%', or a text longer than `maxLength`.
[[nodiscard]] bool FormatLocalTime(const platform::LocalTime& time, const WChar* pattern, size_t maxLength,
                                   WString* out);

}  // namespace korva
