#include "regex/check_string.h"

#include "platform/result_codes.h"

#include <string>

#include <gtest/gtest.h>

namespace korva {
namespace {

struct Case {
    const char* name;
    WString pattern;
    WString text;
    int32_t result;
    bool matched;
};

// The built-in repeating-characters rule forbids three equal characters in a row.
constexpr const WChar* kRepeat = KW(".*(.)\\1{2,}.*");
// A typical character-requirement expression: upper, lower, digit and symbol, at least eight characters.
constexpr const WChar* kRequirements = KW("^(?=.*[A-Z])(?=.*[a-z])(?=.*[0-9])(?=.*[^A-Za-z0-9]).{8,}$");
const WString kGrin = KW("\xD83D\xDE00");  // U+1F600 as a surrogate pair
const WString kRunaway = WString(40, KW('a')) + KW("!");

const Case kCases[] = {
    {"literal anywhere", KW("abc"), KW("xxabcxx"), 0, true},
    {"case-sensitive", KW("abc"), KW("xxABCxx"), 0, false},
    {"inline caseless option", KW("(?i)abc"), KW("xxABCxx"), 0, true},
    {"empty pattern, empty text", KW(""), KW(""), 0, true},
    {"dot stops at a newline", KW("a.c"), KW("a\nc"), 0, false},
    // Anchors mean the ends of the text, not of a line: no multi-line mode unless the pattern asks for it.
    {"caret at text start", KW("^abc"), KW("xabc"), 0, false},
    {"dollar at text end", KW("abc$"), KW("abcx"), 0, false},
    {"caret not after a newline", KW("^b"), KW("a\nb"), 0, false},
    {"multi-line only when asked", KW("(?m)^b"), KW("a\nb"), 0, true},
    {"look-ahead finds a capital", KW("(?=.*[A-Z])"), KW("passWord"), 0, true},
    {"requirements met", kRequirements, KW("Passw0rd!abc"), 0, true},
    {"requirements, no symbol", kRequirements, KW("Passw0rdxabc"), 0, false},
    {"repeat: two in a row", kRepeat, KW("aab"), 0, false},
    {"repeat: three at the start", kRepeat, KW("aaab"), 0, true},
    {"repeat: three at the end", kRepeat, KW("xybbb"), 0, true},
    {"repeat: not adjacent", kRepeat, KW("abababa"), 0, false},
    // No option turns on Unicode properties: POSIX classes stay ASCII classes.
    {"upper is ASCII only", KW("[[:upper:]]"), KW("\x00C4"), 0, false},
    // One UTF-16 code unit is one character, as the length rules count; a lone surrogate is no error.
    {"non-BMP literal", kGrin, KW("x") + kGrin + KW("y"), 0, true},
    {"non-BMP is two units", KW("^.{2}$"), kGrin, 0, true},
    {"non-BMP is not one unit", KW("^.$"), kGrin, 0, false},
    {"lone surrogate in the text", KW("a$"), KW("\xD800") + WString(KW("a")), 0, true},
    // A pattern may opt into UTF mode; then malformed text is a failure, not a crash.
    {"opted-in UTF, lone surrogate", KW("(*UTF)a"), KW("\xDC00") + WString(KW("a")), kResultRegexFailed,
     false},
    {"unclosed group", KW("(abc"), KW("abc"), kResultRegexFailed, false},
    {"oversized pattern", WString(regex::kMaxPatternLength + 1, KW('a')), KW("a"), kResultRegexFailed, false},
    // Catastrophic backtracking comes back as a failure instead of running on the logon thread.
    {"nested plus", KW("(a+)+$"), kRunaway, kResultRegexFailed, false},
    {"overlapping alternatives", KW("^(a|aa)+$"), WString(60, KW('a')) + KW("!"), kResultRegexFailed, false},
    // A limit written into the pattern can only lower the caller's limit, never raise it.
    {"pattern cannot raise the limit", KW("(*LIMIT_MATCH=4000000000)(a+)+$"), kRunaway, kResultRegexFailed,
     false},
    {"deep backtracking", KW("^(a|b)*$"), WString(regex::kDepthLimit * 2, KW('a')), kResultRegexFailed,
     false},
};

// Every case runs with the true lengths and with lengths that contradict the strings (0 for the text), as the
// lengths are ignored. `matched` starts true so that a failure is seen to reset it.
TEST(CheckStringWithRegEx, Table) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const int32_t lengths[][2] = {
            {static_cast<int32_t>(c.text.size()), static_cast<int32_t>(c.pattern.size())}, {0, 1}};
        for (const auto& l : lengths) {
            bool matched = true;
            EXPECT_EQ(CheckStringWithRegEx(c.text.c_str(), l[0], c.pattern.c_str(), l[1], &matched), c.result)
                << "text length " << l[0];
            EXPECT_EQ(matched, c.matched) << "text length " << l[0];
        }
    }
}

TEST(CheckStringWithRegEx, NullArguments) {
    bool matched = true;
    EXPECT_EQ(CheckStringWithRegEx(KW("abc"), 3, nullptr, 0, &matched), kResultRegexFailed);
    EXPECT_FALSE(matched);
    EXPECT_EQ(CheckStringWithRegEx(KW("abc"), 3, KW("a"), 1, nullptr), kResultRegexFailed);
    // A null text is searched as the empty text.
    EXPECT_EQ(CheckStringWithRegEx(nullptr, 0, KW("^$"), 2, &matched), 0);
    EXPECT_TRUE(matched);
    EXPECT_EQ(CheckStringWithRegEx(nullptr, 5, KW("a"), 1, &matched), 0);
    EXPECT_FALSE(matched);
}

}  // namespace
}  // namespace korva
