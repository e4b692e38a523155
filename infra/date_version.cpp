#include "infra/date_version.h"

#include <array>
#include <limits>

namespace korva {
namespace {

bool IsBlank(WChar c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// wcstol(part, nullptr, 10) for a 32-bit long: blanks, an optional sign, the leading digits; 0 without
// digits; values beyond the range stick at its ends.
int32_t ReadDecimalPart(WStringView part) {
    size_t i = 0;
    while (i < part.size() && IsBlank(part[i])) {
        ++i;
    }
    bool negative = false;
    if (i < part.size() && (part[i] == u'+' || part[i] == u'-')) {
        negative = part[i] == u'-';
        ++i;
    }
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < part.size() && part[i] >= u'0' && part[i] <= u'9'; ++i) {
        if (value <= kLimit) {
            value = value * 10 + (part[i] - u'0');
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

// A SystemTime as a FileTime; 0 when the calendar cannot convert it.
int64_t ToFileTimeOrZero(const platform::SystemTime& time) {
    int64_t fileTime = 0;
    if (!platform::SystemTimeToFileTime(time, &fileTime)) {
        return 0;
    }
    return fileTime;
}

void MoveBySeconds(platform::SystemTime* time, int64_t seconds) {
    if (time == nullptr) {
        return;
    }
    const int64_t moved = ToFileTimeOrZero(*time) + seconds * platform::kFileTimeTicksPerSecond;
    platform::SystemTime result;
    if (platform::FileTimeToSystemTime(moved, &result)) {
        *time = result;
    }
}

constexpr std::array<const WChar*, 7> kDayNames = {
    KW("Sunday"), KW("Monday"), KW("Tuesday"), KW("Wednesday"), KW("Thursday"), KW("Friday"), KW("Saturday")};
constexpr std::array<const WChar*, 12> kMonthNames = {
    KW("January"), KW("February"), KW("March"),     KW("April"),   KW("May"),      KW("June"),
    KW("July"),    KW("August"),   KW("September"), KW("October"), KW("November"), KW("December")};

// Appends `value` with at least `width` digits (zero-padded) or, with `trimZeros`, without padding.
void AppendNumber(WString* out, int value, int width, bool trimZeros) {
    if (value < 0) {
        out->push_back(u'-');
        value = -value;
    }
    WChar digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<WChar>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (!trimZeros) {
        for (int pad = count; pad < width; ++pad) {
            out->push_back(u'0');
        }
    }
    while (count > 0) {
        out->push_back(digits[--count]);
    }
}

void AppendName(WString* out, const WChar* name, bool abbreviated) {
    const WStringView view(name);
    out->append(abbreviated ? view.substr(0, 3) : view);
}

bool AppendConversion(WString* out, const platform::LocalTime& t, WChar conversion, bool trimZeros) {
    const int weekday = (t.dayOfWeek % 7 + 7) % 7;
    const int monthIndex = (t.month >= 1 && t.month <= 12) ? t.month - 1 : -1;
    switch (conversion) {
        case u'a':
        case u'A':
            AppendName(out, kDayNames[static_cast<size_t>(weekday)], conversion == u'a');
            return true;
        case u'b':
        case u'B':
            if (monthIndex < 0) {
                return false;
            }
            AppendName(out, kMonthNames[static_cast<size_t>(monthIndex)], conversion == u'b');
            return true;
        case u'c':
            AppendConversion(out, t, u'x', trimZeros);
            out->push_back(u' ');
            return AppendConversion(out, t, u'X', trimZeros);
        case u'd':
            AppendNumber(out, t.day, 2, trimZeros);
            return true;
        case u'H':
            AppendNumber(out, t.hour, 2, trimZeros);
            return true;
        case u'I':
            AppendNumber(out, (t.hour % 12 == 0) ? 12 : t.hour % 12, 2, trimZeros);
            return true;
        case u'j':
            AppendNumber(out, t.dayOfYear + 1, 3, trimZeros);
            return true;
        case u'm':
            AppendNumber(out, t.month, 2, trimZeros);
            return true;
        case u'M':
            AppendNumber(out, t.minute, 2, trimZeros);
            return true;
        case u'p':
            out->append(t.hour < 12 ? KW("AM") : KW("PM"));
            return true;
        case u'S':
            AppendNumber(out, t.second, 2, trimZeros);
            return true;
        case u'U':
            AppendNumber(out, (t.dayOfYear + 7 - weekday) / 7, 2, trimZeros);
            return true;
        case u'w':
            AppendNumber(out, weekday, 1, trimZeros);
            return true;
        case u'W':
            AppendNumber(out, (t.dayOfYear + 7 - (weekday + 6) % 7) / 7, 2, trimZeros);
            return true;
        case u'x':
            AppendNumber(out, t.month, 2, trimZeros);
            out->push_back(u'/');
            AppendNumber(out, t.day, 2, trimZeros);
            out->push_back(u'/');
            AppendNumber(out, ((t.year % 100) + 100) % 100, 2, trimZeros);
            return true;
        case u'X':
            AppendNumber(out, t.hour, 2, trimZeros);
            out->push_back(u':');
            AppendNumber(out, t.minute, 2, trimZeros);
            out->push_back(u':');
            AppendNumber(out, t.second, 2, trimZeros);
            return true;
        case u'y':
            AppendNumber(out, ((t.year % 100) + 100) % 100, 2, trimZeros);
            return true;
        case u'Y':
            AppendNumber(out, t.year, 4, trimZeros);
            return true;
        case u'%':
            out->push_back(u'%');
            return true;
        default:
            return false;
    }
}

}  // namespace

CVersionParser::CVersionParser(int32_t major, int32_t minor, int32_t build, int32_t revision)
    : parts_{major, minor, build, revision} {}

CVersionParser::CVersionParser(const WChar* text) : parts_{-1, -1, -1, -1} {
    if (text == nullptr) {
        return;
    }
    const WStringView all(text);
    size_t start = 0;
    for (size_t index = 0; index < 4 && start < all.size(); ++index) {
        const size_t dot = all.find(u'.', start);
        const size_t end = (dot == WStringView::npos) ? all.size() : dot;
        parts_[index] = ReadDecimalPart(all.substr(start, end - start));
        if (dot == WStringView::npos) {
            break;
        }
        start = dot + 1;
    }
}

int32_t CVersionParser::Compare(const CVersionParser& other) const {
    for (size_t i = 0; i < 4; ++i) {
        if (parts_[i] > other.parts_[i]) {
            return 1;
        }
        if (parts_[i] < other.parts_[i]) {
            return -1;
        }
    }
    return 0;
}

int32_t CVersionParser::CompareWithText(const WChar* text) const {
    return Compare(CVersionParser(text));
}

void SetToBaseDate(platform::SystemTime* time) {
    if (time == nullptr) {
        return;
    }
    *time = platform::SystemTime{};
    time->year = 1900;
    time->month = 1;
    time->day = 1;
    time->dayOfWeek = 1;
}

int64_t TimeDifference(const platform::SystemTime& a, const platform::SystemTime& b) {
    return ToFileTimeOrZero(a) - ToFileTimeOrZero(b);
}

void AddSeconds(platform::SystemTime* time, int64_t seconds) {
    MoveBySeconds(time, seconds);
}

void SubtractSeconds(platform::SystemTime* time, int64_t seconds) {
    MoveBySeconds(time, -seconds);
}

bool FormatLocalTime(const platform::LocalTime& time, const WChar* pattern, size_t maxLength, WString* out) {
    if (pattern == nullptr || out == nullptr) {
        return false;
    }
    out->clear();
    for (const WChar* p = pattern; *p != 0; ++p) {
        if (*p != u'%') {
            out->push_back(*p);
        } else {
            ++p;
            bool trimZeros = false;
            if (*p == u'#') {
                trimZeros = true;
                ++p;
            }
            if (*p == 0 || !AppendConversion(out, time, *p, trimZeros)) {
                return false;
            }
        }
        if (out->size() > maxLength) {
            return false;
        }
    }
    return true;
}

int32_t RecordDateText(int64_t time, const WChar* pattern, WString* text) {
    static constexpr const WChar* kUnknownDate = KW("Unknown date");
    if (text == nullptr) {
        return kDateTextUnavailable;
    }
    platform::LocalTime local;
    if (time == 0 || !platform::SystemClock().ToLocalTime(time, &local)) {
        *text = kUnknownDate;
        return kDateTextUnavailable;
    }
    const WChar* usedPattern = (pattern == nullptr || *pattern == 0) ? kRecordDatePattern : pattern;
    WString formatted;
    if (!FormatLocalTime(local, usedPattern, kMaxDateTextLength, &formatted) || formatted.empty()) {
        *text = kUnknownDate;
        return kDateTextUnavailable;
    }
    *text = std::move(formatted);
    return 0;
}

}  // namespace korva
