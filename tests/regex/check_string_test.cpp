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

const WString kGrin = KW("\xD83D\xDE00");  // U+1F600 as a surrogate pair
const WString kRunaway = WString(40, KW('a')) + KW("!");

// The options and limits this wrapper sets; what PCRE2 does on its own is not tested here.
const Case kCases[] = {
    {"searched, not anchored", KW("abc"), KW("xxabcxx"), 0, true},
    {"case-sensitive", KW("abc"), KW("xxABCxx"), 0, false},
    {"empty pattern, empty text", KW(""), KW(""), 0, true},
    {"dot stops at a newline", KW("a.c"), KW("a\nc"), 0, false},
    {"caret not after a newline", KW("^b"), KW("a\nb"), 0, false},
    {"upper is ASCII only", KW("[[:upper:]]"), KW("\x00C4"), 0, false},
    {"non-BMP is two units", KW("^.{2}$"), kGrin, 0, true},
    {"lone surrogate in the text", KW("a$"), KW("\xD800") + WString(KW("a")), 0, true},
    {"opted-in UTF, lone surrogate", KW("(*UTF)a"), KW("\xDC00") + WString(KW("a")), kResultRegexFailed,
     false},
    {"unclosed group", KW("(abc"), KW("abc"), kResultRegexFailed, false},
    // A comment compiles to nothing, so only the length limit can refuse these.
    {"longest pattern", KW("(?#") + WString(regex::kMaxPatternLength - 4, KW('a')) + KW(")"), KW("a"), 0,
     true},
    {"oversized pattern", KW("(?#") + WString(regex::kMaxPatternLength - 3, KW('a')) + KW(")"), KW("a"),
     kResultRegexFailed, false},
    {"nested plus", KW("(a+)+$"), kRunaway, kResultRegexFailed, false},
    {"pattern cannot raise the limit", KW("(*LIMIT_MATCH=4000000000)(a+)+$"), kRunaway, kResultRegexFailed,
     false},
    {"deep backtracking", KW("^(a|b)*$"), WString(regex::kDepthLimit * 2, KW('a')), kResultRegexFailed,
     false},
};

// Each case also runs with wrong lengths (they are ignored); `matched` starts true to see it reset.
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
