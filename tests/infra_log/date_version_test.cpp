#include <gtest/gtest.h>

#include <array>
#include <string>

#include "infra/date_version.h"
#include "log_test_support.h"

namespace korva {
namespace {

using platform::SystemTime;
using testing::W;

std::array<int32_t, 4> Parts(const CVersionParser& v) {
    return {v.Major(), v.Minor(), v.Build(), v.Revision()};
}

TEST(VersionParserTest, ParsesDottedText) {
    struct Case {
        const char* text;  // null: a null pointer
        std::array<int32_t, 4> parts;
    };
    const Case cases[] = {
        {"1.8.0.1037", {1, 8, 0, 1037}},
        {"2.1", {2, 1, -1, -1}},
        {"3.x.5", {3, 0, 5, -1}},     // no digits: 0
        {"1.2.3.4.5", {1, 2, 3, 4}},  // beyond the fourth part: ignored
        {"1..2", {1, 0, 2, -1}},      // an empty part: 0
        {nullptr, {-1, -1, -1, -1}},
        {"", {-1, -1, -1, -1}},
        {" 7.-2.+3.4x", {7, -2, 3, 4}},  // blanks, signs, trailing non-digits
        {"1.", {1, -1, -1, -1}},         // nothing after the last dot
        {"99999999999.-99999999999", {2147483647, -2147483647 - 1, -1, -1}},  // clamped like a 32-bit wcstol
    };
    for (const Case& c : cases) {
        const WString text = c.text ? W(c.text) : WString();
        EXPECT_EQ(c.parts, Parts(CVersionParser(c.text ? text.c_str() : nullptr)))
            << (c.text ? c.text : "null");
    }
    EXPECT_EQ((std::array<int32_t, 4>{4, 3, 2, 1}), Parts(CVersionParser(4, 3, 2, 1)));
}

// The minimum-age rule compares the document version with 1.8.0.1037.
TEST(VersionParserTest, CompareWithText) {
    const CVersionParser reference(1, 8, 0, 1037);
    struct Case {
        const char* text;
        int32_t expected;
    };
    const Case cases[] = {
        {"1.8.0.1036", 1}, {"1.8.0.1037", 0}, {"1.9", -1}, {"1.8", 1},   {"1.7", 1},  {"1.8.1", -1},
        {"2.0", -1},       {"", 1},           {"0.99", 1}, {"1.8.0", 1}, {"-1.9", 1}, {"1.8.0.1037.9", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, reference.CompareWithText(W(c.text).c_str())) << c.text;
    }
    EXPECT_EQ(1, reference.CompareWithText(nullptr));
    EXPECT_EQ(-1, CVersionParser(nullptr).Compare(CVersionParser(0, -1, -1, -1)));
    EXPECT_EQ(0, CVersionParser(nullptr).Compare(CVersionParser(-1, -1, -1, -1)));
}

SystemTime Time(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute,
                uint16_t second) {
    SystemTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    return t;
}

std::string Text(const SystemTime& t) {
    char buffer[96];
    std::snprintf(buffer, sizeof(buffer), "%04u-%02u-%02u %02u:%02u:%02u.%03u dow %u", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.milliseconds, t.dayOfWeek);
    return buffer;
}

TEST(CalendarTimeTest, BaseDate) {
    SystemTime t = Time(2026, 12, 4, 22, 15, 3);
    t.milliseconds = 999;
    SetToBaseDate(&t);
    EXPECT_EQ("1900-01-01 00:00:00.000 dow 1", Text(t));
}

TEST(CalendarTimeTest, AddAndSubtractSeconds) {
    struct Case {
        SystemTime start;
        int64_t seconds;  // added; negative: subtracted
        const char* expected;
    };
    const Case cases[] = {
        {Time(2026, 12, 4, 0, 0, 30), -60, "2026-12-03 23:59:30.000 dow 4"},  // back into the previous day
        {Time(2027, 1, 1, 0, 0, 0), -1, "2026-12-31 23:59:59.000 dow 4"},
        {Time(2024, 2, 28, 23, 0, 0), 3600, "2024-02-29 00:00:00.000 dow 4"},  // leap day
        {Time(2026, 12, 4, 22, 15, 3), 86400 * 365, "2027-12-04 22:15:03.000 dow 6"},
        {SystemTime{}, 60, "1601-01-01 00:01:00.000 dow 1"},  // unconvertible: counts as 1601-01-01
        {Time(1601, 1, 1, 0, 0, 0), -1, "1601-01-01 00:00:00.000 dow 0"},  // before the calendar: unchanged
    };
    for (const Case& c : cases) {
        SystemTime t = c.start;
        if (c.seconds < 0) {
            SubtractSeconds(&t, -c.seconds);
        } else {
            AddSeconds(&t, c.seconds);
        }
        EXPECT_EQ(c.expected, Text(t)) << Text(c.start) << " + " << c.seconds;
    }
}

TEST(CalendarTimeTest, TimeDifferenceInHundredNanoseconds) {
    SystemTime later = Time(2026, 12, 4, 0, 1, 30);
    later.milliseconds = 5;
    const SystemTime earlier = Time(2026, 12, 4, 0, 0, 0);
    EXPECT_EQ(900'050'000, TimeDifference(later, earlier));
    EXPECT_EQ(-900'050'000, TimeDifference(earlier, later));
    // An all-zero time cannot be converted and counts as 0.
    EXPECT_EQ(testing::FileTimeOf(2026, 12, 4, 0, 0, 0), TimeDifference(earlier, SystemTime{}));
    SystemTime badMonth = Time(2026, 13, 1, 0, 0, 0);
    EXPECT_EQ(0, TimeDifference(badMonth, SystemTime{}));
}

class RecordDateTextTest : public testing::FixedClockTest {};

TEST_F(RecordDateTextTest, Patterns) {
    const int64_t time = 1796422503;  // 2026-12-04 22:15:03 UTC, a Friday, day 338 of the year
    struct Case {
        const char* pattern;  // null: the default
        const char* expected;
        int32_t result;
    };
    const Case cases[] = {
        {nullptr, "04-12-2026 22:15:03", 0},
        {"", "04-12-2026 22:15:03", 0},
        {"%y/%m/%d %I:%M:%S %p", "26/12/04 10:15:03 PM", 0},
        {"%a %A %b %B", "Fri Friday Dec December", 0},
        {"%j %w %U %W %%", "338 5 48 48 %", 0},
        {"%c | %x | %X", "12/04/26 22:15:03 | 12/04/26 | 22:15:03", 0},
        {"%#d.%#m.%Y", "4.12.2026", 0},
        {"plain", "plain", 0},
        {"%Q", "Unknown date", -2},   // unknown conversion
        {"50%", "Unknown date", -2},  // lone percent sign at the end
    };
    for (const Case& c : cases) {
        WString text;
        const WString pattern = c.pattern ? W(c.pattern) : WString();
        EXPECT_EQ(c.result, RecordDateText(time, c.pattern ? pattern.c_str() : nullptr, &text)) << c.pattern;
        EXPECT_EQ(W(c.expected), text) << (c.pattern ? c.pattern : "null");
    }
}

TEST_F(RecordDateTextTest, UnknownDateAndLimits) {
    WString text;
    EXPECT_EQ(kDateTextUnavailable, RecordDateText(0, nullptr, &text));
    EXPECT_EQ(W("Unknown date"), text);

    clock_.failLocalConversion = true;
    EXPECT_EQ(kDateTextUnavailable, RecordDateText(1796422503, nullptr, &text));
    EXPECT_EQ(W("Unknown date"), text);
    clock_.failLocalConversion = false;

    // At most 254 characters.
    const WString fits(254, u'x');
    EXPECT_EQ(0, RecordDateText(1796422503, fits.c_str(), &text));
    EXPECT_EQ(fits, text);
    const WString tooLong = WString(251, u'x') + KW("%Y");  // 255 characters once formatted
    EXPECT_EQ(kDateTextUnavailable, RecordDateText(1796422503, tooLong.c_str(), &text));
    EXPECT_EQ(W("Unknown date"), text);

    // Local time, not UTC; dates before 1970 work too.
    clock_.utcOffsetSeconds = 2 * 3600;
    EXPECT_EQ(0, RecordDateText(1796422503, nullptr, &text));
    EXPECT_EQ(W("05-12-2026 00:15:03"), text);
    clock_.utcOffsetSeconds = 0;
    EXPECT_EQ(0, RecordDateText(-86400, nullptr, &text));
    EXPECT_EQ(W("31-12-1969 00:00:00"), text);
}

}  // namespace
}  // namespace korva
