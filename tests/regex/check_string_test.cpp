#include "regex/check_string.h"

#include <chrono>
#include <string>
#include <vector>

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

std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

class CheckStringTable : public ::testing::TestWithParam<Case> {};

template <typename T>
std::string CaseName(const ::testing::TestParamInfo<T>& param) {
    return param.param.name;
}

// Every case runs twice: once with the true lengths and once with lengths that contradict the strings,
// because the lengths are accepted and ignored. `matched` starts true each time so that a failure is seen to
// reset it.
TEST_P(CheckStringTable, SearchesWholeTextWithLengthsIgnored) {
    const Case& c = GetParam();
    const struct {
        int32_t textLength;
        int32_t patternLength;
    } lengths[] = {{static_cast<int32_t>(c.text.size()), static_cast<int32_t>(c.pattern.size())}, {0, 1}};
    for (const auto& l : lengths) {
        bool matched = true;
        EXPECT_EQ(
            CheckStringWithRegEx(c.text.c_str(), l.textLength, c.pattern.c_str(), l.patternLength, &matched),
            c.result)
            << "lengths " << l.textLength << "," << l.patternLength;
        EXPECT_EQ(matched, c.matched) << "lengths " << l.textLength << "," << l.patternLength;
    }
}

// The built-in repeating-characters rule forbids three equal characters in a row.
constexpr const WChar* kRepeat = KW(".*(.)\\1{2,}.*");
// A typical character-requirement expression: upper, lower, digit and symbol, at least eight characters.
constexpr const WChar* kRequirements = KW("^(?=.*[A-Z])(?=.*[a-z])(?=.*[0-9])(?=.*[^A-Za-z0-9]).{8,}$");

const Case kSyntax[] = {
    {"LiteralAnywhere", KW("abc"), KW("xxabcxx"), 0, true},
    {"LiteralIsCaseSensitive", KW("abc"), KW("xxABCxx"), 0, false},
    {"InlineCaselessOptionAccepted", KW("(?i)abc"), KW("xxABCxx"), 0, true},
    {"EmptyPatternMatchesEmptyText", KW(""), KW(""), 0, true},
    {"DotStopsAtNewline", KW("a.c"), KW("a\nc"), 0, false},
    {"SetWithRange", KW("[0-9]"), KW("abc7"), 0, true},
    {"Alternation", KW("^(cat|dog)$"), KW("dog"), 0, true},
    {"DigitWordSpaceEscapes", KW("\\d\\w\\s"), KW("x1_ y"), 0, true},
    {"AtLeastN", KW("^a{2,}$"), KW("aaaaa"), 0, true},
    {"BetweenNAndM", KW("^a{2,3}$"), KW("aaa"), 0, true},
    {"BetweenNAndMTooMany", KW("^a{2,3}$"), KW("aaaa"), 0, false},
    {"MinimumLengthExpression", KW("^.{8,}$"), KW("1234567"), 0, false},
    // Anchors mean the ends of the text, not of a line: no multi-line mode unless the pattern asks for it.
    {"CaretAtTextStart", KW("^abc"), KW("xabc"), 0, false},
    {"DollarAtTextEnd", KW("abc$"), KW("abcx"), 0, false},
    {"CaretNotAfterNewline", KW("^b"), KW("a\nb"), 0, false},
    {"MultilineOnlyWhenAsked", KW("(?m)^b"), KW("a\nb"), 0, true},
    {"TextStartAndEndEscapes", KW("\\Aab\\z"), KW("ab"), 0, true},
};
INSTANTIATE_TEST_SUITE_P(Syntax, CheckStringTable, ::testing::ValuesIn(kSyntax), CaseName<Case>);

const Case kAssertions[] = {
    {"LookAheadFindsCapital", KW("(?=.*[A-Z])"), KW("passWord"), 0, true},
    {"LookAheadNoCapital", KW("(?=.*[A-Z])"), KW("password"), 0, false},
    {"RequirementsAllPresent", kRequirements, KW("Passw0rd!abc"), 0, true},
    {"RequirementsNoSymbol", kRequirements, KW("Passw0rdxabc"), 0, false},
    {"RequirementsTooShort", kRequirements, KW("Pa0!"), 0, false},
    {"NegativeLookAhead", KW("^(?!.*password).*$"), KW("mypassword1"), 0, false},
    {"LookBehind", KW("(?<=a)b"), KW("xab"), 0, true},
    {"LookBehindWrongPredecessor", KW("(?<=a)b"), KW("xcb"), 0, false},
    {"NegativeLookBehind", KW("(?<!a)b"), KW("ab"), 0, false},
    // An atomic group gives back nothing it matched, so "a+" keeps every "a" and the following "a" cannot
    // match.
    {"AtomicGroupNoBacktrack", KW("^(?>a+)ab$"), KW("aaab"), 0, false},
    {"PlainGroupBacktracks", KW("^(?:a+)ab$"), KW("aaab"), 0, true},
    {"PossessiveQuantifier", KW("^a++ab$"), KW("aaab"), 0, false},
    // Recursion: balanced parentheses through a numbered group and through the whole pattern.
    {"RecursionGroupBalanced", KW("^(\\((?1)*\\))$"), KW("(()(()))"), 0, true},
    {"RecursionGroupUnbalanced", KW("^(\\((?1)*\\))$"), KW("(()"), 0, false},
    {"RecursionWholePattern", KW("\\((?:[^()]|(?R))*\\)"), KW("x(a(b)c)y"), 0, true},
    {"BackReference", KW("(ab)\\1"), KW("xabab"), 0, true},
};
INSTANTIATE_TEST_SUITE_P(Assertions, CheckStringTable, ::testing::ValuesIn(kAssertions), CaseName<Case>);

// Three or more equal characters anywhere make the built-in repeating-characters expression match.
const Case kRepeating[] = {
    {"TwoInARow", kRepeat, KW("aab"), 0, false},
    {"ThreeAtStart", kRepeat, KW("aaab"), 0, true},
    {"ThreeInMiddle", kRepeat, KW("xaaay"), 0, true},
    {"ThreeAtEnd", kRepeat, KW("xybbb"), 0, true},
    {"PairsOnly", kRepeat, KW("aabbaabb"), 0, false},
    {"SameCharacterNotAdjacent", kRepeat, KW("abababa"), 0, false},
    {"Empty", kRepeat, KW(""), 0, false},
    {"DigitsRun", kRepeat, KW("pass1111"), 0, true},
};
INSTANTIATE_TEST_SUITE_P(RepeatingCharacters, CheckStringTable, ::testing::ValuesIn(kRepeating),
                         CaseName<Case>);

// Each POSIX class once with a text that holds a member and once with a text that holds none. The classes are
// ASCII classes: no option turns on Unicode properties.
const Case kPosix[] = {
    {"AlnumYes", KW("[[:alnum:]]"), KW("-+7"), 0, true},
    {"AlnumNo", KW("[[:alnum:]]"), KW("-+!"), 0, false},
    {"AlphaYes", KW("[[:alpha:]]"), KW("12x"), 0, true},
    {"AlphaNo", KW("[[:alpha:]]"), KW("123"), 0, false},
    {"CntrlYes", KW("[[:cntrl:]]"), KW("a\tb"), 0, true},
    {"CntrlNo", KW("[[:cntrl:]]"), KW("a b"), 0, false},
    {"DigitYes", KW("[[:digit:]]"), KW("ab5"), 0, true},
    {"DigitNo", KW("[[:digit:]]"), KW("abc"), 0, false},
    {"GraphYes", KW("[[:graph:]]"), KW("  ~"), 0, true},
    {"GraphNo", KW("[[:graph:]]"), KW(" \t "), 0, false},
    {"LowerYes", KW("[[:lower:]]"), KW("ABc"), 0, true},
    {"LowerNo", KW("[[:lower:]]"), KW("ABC"), 0, false},
    {"PrintYes", KW("[[:print:]]"), KW("\t \t"), 0, true},
    {"PrintNo", KW("[[:print:]]"), KW("\t\n"), 0, false},
    {"PunctYes", KW("[[:punct:]]"), KW("ab#"), 0, true},
    {"PunctNo", KW("[[:punct:]]"), KW("ab1"), 0, false},
    {"SpaceYes", KW("[[:space:]]"), KW("a\tb"), 0, true},
    {"SpaceNo", KW("[[:space:]]"), KW("ab"), 0, false},
    {"UpperYes", KW("[[:upper:]]"), KW("aBc"), 0, true},
    {"UpperNo", KW("[[:upper:]]"), KW("abc"), 0, false},
    {"XdigitYes", KW("[[:xdigit:]]"), KW("xyzF"), 0, true},
    {"XdigitNo", KW("[[:xdigit:]]"), KW("xyzG"), 0, false},
    {"NegatedClass", KW("^[[:^digit:]]+$"), KW("ab1"), 0, false},
    {"ClassInsideSet", KW("^[[:upper:][:digit:]]+$"), KW("AB12"), 0, true},
};
INSTANTIATE_TEST_SUITE_P(PosixClasses, CheckStringTable, ::testing::ValuesIn(kPosix), CaseName<Case>);

// One UTF-16 code unit is one character: a character outside the Basic Multilingual Plane counts as two, the
// same way the length rules count, and a lone surrogate is an ordinary code unit rather than an error.
const WString kGrin = KW("\xD83D\xDE00");  // U+1F600 as a surrogate pair
const Case kWide[] = {
    {"BmpLiteral", KW("\x00E4"), KW("b\x00E4r"), 0, true},
    {"NonBmpLiteral", kGrin, KW("x") + kGrin + KW("y"), 0, true},
    {"NonBmpIsTwoUnits", KW("^.{2}$"), kGrin, 0, true},
    {"NonBmpIsNotOneUnit", KW("^.$"), kGrin, 0, false},
    {"LoneSurrogateInText", KW("a$"), KW("\xD800") + WString(KW("a")), 0, true},
    {"CodeUnitEscape", KW("\\x{20AC}"), KW("5\x20AC"), 0, true},
    {"UpperClassIsAsciiOnly", KW("[[:upper:]]"), KW("\x00C4"), 0, false},
    // A pattern may opt into UTF mode itself; then a malformed text is an evaluation failure, not a crash.
    {"UtfOptInValidText", KW("(*UTF)^.$"), kGrin, 0, true},
    {"UtfOptInLoneSurrogate", KW("(*UTF)a"), KW("\xDC00") + WString(KW("a")), -1, false},
};
INSTANTIATE_TEST_SUITE_P(WideText, CheckStringTable, ::testing::ValuesIn(kWide), CaseName<Case>);

// Patterns that do not compile fail with -1 and leave matched false.
const Case kBadPatterns[] = {
    {"UnclosedGroup", KW("(abc"), KW("abc"), -1, false},
    {"UnmatchedParenthesis", KW("abc)"), KW("abc"), -1, false},
    {"UnclosedSet", KW("[abc"), KW("abc"), -1, false},
    {"ReversedRange", KW("[z-a]"), KW("abc"), -1, false},
    {"ReversedCount", KW("a{3,2}"), KW("aaa"), -1, false},
    {"NothingToRepeat", KW("*a"), KW("a"), -1, false},
    {"MissingGroupReference", KW("(a)\\2"), KW("aa"), -1, false},
    {"UnknownPosixClass", KW("[[:nosuch:]]"), KW("a"), -1, false},
    {"TrailingBackslash", KW("abc\\"), KW("abc"), -1, false},
};
INSTANTIATE_TEST_SUITE_P(BadPatterns, CheckStringTable, ::testing::ValuesIn(kBadPatterns), CaseName<Case>);

TEST(CheckStringWithRegEx, NullArguments) {
    bool matched = true;
    // A null pattern cannot be compiled.
    EXPECT_EQ(CheckStringWithRegEx(KW("abc"), 3, nullptr, 0, &matched), -1);
    EXPECT_FALSE(matched);
    // A null text is searched as the empty text.
    matched = false;
    EXPECT_EQ(CheckStringWithRegEx(nullptr, 0, KW("^$"), 2, &matched), 0);
    EXPECT_TRUE(matched);
    EXPECT_EQ(CheckStringWithRegEx(nullptr, 5, KW("a"), 1, &matched), 0);
    EXPECT_FALSE(matched);
    // Without somewhere to put the answer the call fails rather than crash.
    EXPECT_EQ(CheckStringWithRegEx(KW("abc"), 3, KW("a"), 1, nullptr), -1);
}

TEST(CheckStringWithRegEx, OversizedPatternIsRefused) {
    const WString pattern(regex::kMaxPatternLength + 1, KW('a'));
    bool matched = true;
    EXPECT_EQ(CheckStringWithRegEx(KW("a"), 1, pattern.c_str(), 0, &matched), -1);
    EXPECT_FALSE(matched);
}

// Patterns whose backtracking explodes on a given text must come back as failures instead of running without
// bound on the logon screen's thread. The elapsed time is recorded, not asserted: the benchmarks hold the
// targets.
struct Runaway {
    const char* name;
    WString pattern;
    WString text;
};
std::ostream& operator<<(std::ostream& os, const Runaway& r) {
    return os << r.name;
}

class RunawayTable : public ::testing::TestWithParam<Runaway> {};

TEST_P(RunawayTable, FailsInsteadOfRunningOn) {
    const Runaway& r = GetParam();
    bool matched = true;
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = CheckStringWithRegEx(r.text.c_str(), 0, r.pattern.c_str(), 0, &matched);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    RecordProperty("elapsed_us",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(matched);
}

const Runaway kRunaways[] = {
    {"NestedPlus", KW("(a+)+$"), WString(40, KW('a')) + KW("!")},
    {"WordsAndSpaces", KW("^(\\w+\\s?)*$"), WString(40, KW('a')) + KW("!")},
    {"OverlappingAlternatives", KW("^(a|aa)+$"), WString(60, KW('a')) + KW("!")},
    // A limit written into the pattern can only lower the caller's limit, never raise it.
    {"PatternCannotRaiseLimit", KW("(*LIMIT_MATCH=4000000000)(a+)+$"), WString(40, KW('a')) + KW("!")},
    // Every repetition of a capturing group nests one more backtracking point.
    {"DeepBacktracking", KW("^(a|b)*$"), WString(regex::kDepthLimit * 2, KW('a'))},
};
INSTANTIATE_TEST_SUITE_P(Limits, RunawayTable, ::testing::ValuesIn(kRunaways), CaseName<Runaway>);

}  // namespace
}  // namespace korva
