#include "regex/check_string.h"

#include "platform/result_codes.h"

#include <string>
#include <tuple>

#include <gtest/gtest.h>

namespace korva {
namespace {

const WString kRunaway = WString(40, KW('a')) + KW("!");
// A comment compiles to nothing, so only the length limit can refuse a pattern made of one.
const WString kComment = KW("(?#") + WString(regex::kMaxPatternLength - 4, KW('a')) + KW(")");

// The options and limits this wrapper sets; what PCRE2 does on its own is not tested here. Each case also
// runs with wrong lengths (they are ignored); `matched` starts true to see it reset.
TEST(CheckStringWithRegEx, Table) {
    // pattern, text, result, matched
    const std::tuple<WString, WString, int32_t, bool> rows[] = {
        {KW("abc"), KW("xxabcxx"), 0, true},  // searched, not anchored
        {KW("abc"), KW("xxABCxx"), 0, false},
        {KW(""), KW(""), 0, true},
        {KW("a.c"), KW("a\nc"), 0, false},            // a dot stops at a newline
        {KW("^b"), KW("a\nb"), 0, false},             // a caret not after a newline
        {KW("[[:upper:]]"), KW("\x00C4"), 0, false},  // upper is ASCII only
        {KW("^.{2}$"), KW("\xD83D\xDE00"), 0, true},  // a surrogate pair is two units
        {KW("a$"), KW("\xD800") + WString(KW("a")), 0, true},
        {KW("(*UTF)a"), KW("\xDC00") + WString(KW("a")), kResultRegexFailed, false},  // opted-in UTF
        {KW("(abc"), KW("abc"), kResultRegexFailed, false},
        {kComment, KW("a"), 0, true},
        {kComment.substr(0, 3) + KW("a") + kComment.substr(3), KW("a"), kResultRegexFailed, false},
        {KW("(a+)+$"), kRunaway, kResultRegexFailed, false},
        {KW("(*LIMIT_MATCH=4000000000)(a+)+$"), kRunaway, kResultRegexFailed, false},
        {KW("^(a|b)*$"), WString(regex::kDepthLimit * 2, KW('a')), kResultRegexFailed, false},
    };
    for (const auto& [pattern, text, result, expected] : rows) {
        SCOPED_TRACE(Utf16ToUtf8(pattern.substr(0, 40)) + " / " + Utf16ToUtf8(text.substr(0, 40)));
        const int32_t lengths[][2] = {
            {static_cast<int32_t>(text.size()), static_cast<int32_t>(pattern.size())}, {0, 1}};
        for (const auto& l : lengths) {
            bool matched = true;
            EXPECT_EQ(CheckStringWithRegEx(text.c_str(), l[0], pattern.c_str(), l[1], &matched), result);
            EXPECT_EQ(matched, expected) << "text length " << l[0];
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
