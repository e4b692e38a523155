// The similarity measure: known values, and equality with the literal branch-and-bound search on many random
// small inputs.
#include "policy/similarity.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/policy/log_capture.h"
#include "tests/policy/similarity_reference.h"

namespace korva {
namespace {

using testing::Narrow;

// The ratio as the rules hold it: a 32-bit float, widened.
constexpr double kDefault = static_cast<double>(0.8f);

struct SimilarityCase {
    const char* what;
    const WChar* text;
    const WChar* pattern;
    double ratio;
    bool ignoreCase;
    double expected;
};

const SimilarityCase kCases[] = {
    {"both missing", nullptr, nullptr, kDefault, false, 1.0},
    {"both empty", KW(""), KW(""), kDefault, false, 1.0},
    {"empty and missing", KW(""), nullptr, kDefault, false, 1.0},
    {"text missing", nullptr, KW("abc"), kDefault, false, 0.0},
    {"pattern empty", KW("abc"), KW(""), kDefault, false, 0.0},
    {"identical", KW("Secret2024"), KW("Secret2024"), kDefault, false, 1.0},
    // 10 characters allow one edit at 0.8.
    {"last character differs", KW("Secret2024"), KW("Secret2025"), kDefault, false, 0.9},
    // The pattern occurs in the text: the characters around it cost nothing.
    {"old inside new", KW("xyzSecret2024xyz"), KW("Secret2024"), kDefault, false, 1.0},
    // The other way round 6 extra characters are far beyond the 3 edits 16 characters allow.
    {"new inside old", KW("Secret2024"), KW("xyzSecret2024xyz"), kDefault, false, 0.0},
    {"one appended, old as pattern", KW("Secret2024!"), KW("Secret2024"), kDefault, false, 1.0},
    {"one appended, new as pattern", KW("Secret2024"), KW("Secret2024!"), kDefault, false, 1.0 - 1.0 / 11.0},
    {"nine characters, one differs", KW("abcdefghi"), KW("abcdXfghi"), kDefault, false, 1.0 - 1.0 / 9.0},
    {"ten characters, four of the first six differ", KW("abcdefghij"), KW("XbXdXXghij"), kDefault, false,
     0.0},
    // Full name against the lower-case name without its blank plus a digit: one edit one way, two the other.
    {"full name in password", KW("johnsmith1"), KW("John Smith"), kDefault, true, 0.9},
    {"password in full name", KW("John Smith"), KW("johnsmith1"), kDefault, true, 0.0},
    {"first name in capitals, case ignored", KW("JOHN"), KW("John"), kDefault, true, 1.0},
    {"first name in capitals, case counts", KW("JOHN"), KW("John"), kDefault, false, 0.0},
    // A 5-character pattern allows no edit at 0.8 (1 - 0.8 is slightly below 0.2).
    {"five characters allow no edit", KW("John"), KW("John1"), kDefault, true, 0.0},
    {"logon name plus digit", KW("jsmith"), KW("jsmith1"), kDefault, false, 1.0 - 1.0 / 7.0},
    {"logon name with capitals", KW("JSmith"), KW("jsmith"), kDefault, false, 0.0},
    // Only A-Z fold; other letters keep their case.
    {"non-ASCII letters keep their case", KW("\u00C9t\u00E9"), KW("\u00E9t\u00E9"), 1.0, true, 0.0},
    // Ratio 0.5 allows floor(n / 2) edits: 2 of 4, not 3.
    {"ratio 0.5, two edits", KW("abXX"), KW("abcd"), 0.5, false, 0.5},
    {"ratio 0.5, three edits", KW("aXXX"), KW("abcd"), 0.5, false, 0.0},
    {"ratio 1 allows no edit", KW("abcX"), KW("abcd"), 1.0, false, 0.0},
    {"ratio above 1 allows no edit", KW("abcX"), KW("abcd"), 1.5, false, 0.0},
    {"negative ratio is 0", KW("XXXd"), KW("abcd"), -3.0, false, 0.25},
    // The text position is not reset between pattern offsets: once the scan for "a" has passed the "b" of the
    // text, the offset that starts the pattern at its "b" finds nothing (a fresh scan would give 0.5).
    {"text position carries over", KW("ba"), KW("abac"), 0.0, false, 0.25},
    {"text position carries over, longer", KW("ccaba"), KW("acca"), 0.0, false, 0.5},
};

TEST(Similarity, KnownValues) {
    for (const SimilarityCase& c : kCases) {
        SCOPED_TRACE(c.what);
        EXPECT_DOUBLE_EQ(Similarity(c.text, c.pattern, c.ratio, c.ignoreCase), c.expected);
        // The literal search agrees on every known value.
        EXPECT_EQ(Similarity(c.text, c.pattern, c.ratio, c.ignoreCase),
                  reference::Similarity(c.text, c.pattern, c.ratio, c.ignoreCase));
    }
}

TEST(Similarity, EditsAllowedByLengthAtTheDefaultRatio) {
    // n <= 5: none; 6-10: 1; 11-15: 2; 16-20: 3. A pattern with e substitutions of a character the text lacks
    // is found exactly when e is within the allowance.
    for (size_t n = 1; n <= 20; ++n) {
        const size_t allowed = n <= 5 ? 0 : (n - 1) / 5;
        const WString pattern(n, u'a');
        for (size_t edits = 0; edits <= std::min<size_t>(n, allowed + 1); ++edits) {
            WString text = pattern;
            for (size_t i = 0; i < edits; ++i)
                text[i * n / (edits + 1)] = u'#';
            SCOPED_TRACE("n=" + std::to_string(n) + " edits=" + std::to_string(edits));
            const double expected =
                edits <= allowed ? 1.0 - static_cast<double>(edits) / static_cast<double>(n) : 0.0;
            EXPECT_DOUBLE_EQ(Similarity(text.c_str(), pattern.c_str(), kDefault, false), expected);
            EXPECT_EQ(reference::Similarity(text.c_str(), pattern.c_str(), kDefault, false), expected);
        }
    }
}

TEST(Similarity, LongInputsGiveExactValues) {
    // Beyond the reach of the literal search: 256 characters with scattered changes.
    WString pattern;
    for (int i = 0; i < 256; ++i)
        pattern.push_back(static_cast<WChar>(u'a' + (i * 7) % 26));
    WString text = pattern;
    text[3] = u'#';
    text[100] = u'#';
    text[200] = u'#';
    EXPECT_DOUBLE_EQ(Similarity(text.c_str(), pattern.c_str(), kDefault, false), 1.0 - 3.0 / 256.0);
    EXPECT_DOUBLE_EQ(Similarity(text.c_str(), pattern.c_str(), 0.0, false), 1.0 - 3.0 / 256.0);
    // 52 changes exceed the 51 edits that 256 characters allow at 0.8; at ratio 0 they are within reach.
    WString far = pattern;
    for (int i = 0; i < 52; ++i)
        far[static_cast<size_t>(i) * 4 + 1] = u'#';
    EXPECT_DOUBLE_EQ(Similarity(far.c_str(), pattern.c_str(), kDefault, false), 0.0);
    EXPECT_DOUBLE_EQ(Similarity(far.c_str(), pattern.c_str(), 0.0, false), 1.0 - 52.0 / 256.0);
    // A text holding none of the pattern's characters offers no place to start, even at ratio 0.
    const WString other(256, u'#');
    EXPECT_DOUBLE_EQ(Similarity(other.c_str(), pattern.c_str(), 0.0, false), 0.0);
}

// The fast evaluation must give exactly what the literal search gives, for every input: many random small
// inputs over small alphabets (so that repeats, partial matches and the carried-over text position all
// occur), with and without case folding, at the ratios that set different bounds.
TEST(Similarity, EqualsTheLiteralSearchOnRandomInputs) {
    std::mt19937 random(20240611);
    const double ratios[] = {0.0,  0.1,      0.2, 0.25, 1.0 / 3.0, 0.5,  0.6,
                             0.75, kDefault, 0.8, 0.9,  1.0,       -0.5, 1.5};
    const WChar alphabet[] = {u'a', u'b', u'c', u'A', u'B', u'd'};
    constexpr int kInputs = 200000;
    int nonZero = 0;
    for (int i = 0; i < kInputs; ++i) {
        const size_t letters = 1 + random() % 4;  // alphabets of 1 to 4 letters
        const bool mixedCase = random() % 3 == 0;
        auto make = [&](size_t length) {
            WString s;
            for (size_t j = 0; j < length; ++j) {
                WChar c = alphabet[random() % letters];
                if (mixedCase && random() % 2 == 0 && c >= u'a' && c <= u'c')
                    c = static_cast<WChar>(c - 32);
                s.push_back(c);
            }
            return s;
        };
        const WString text = make(random() % 10);
        const WString pattern = make(random() % 10);
        const double ratio =
            random() % 4 == 0 ? (random() % 1001) / 1000.0 : ratios[random() % std::size(ratios)];
        const bool ignoreCase = random() % 2 == 0;
        const double fast = Similarity(text.c_str(), pattern.c_str(), ratio, ignoreCase);
        const double literal = reference::Similarity(text.c_str(), pattern.c_str(), ratio, ignoreCase);
        if (fast != literal) {
            ADD_FAILURE() << "text '" << Narrow(text) << "' pattern '" << Narrow(pattern) << "' ratio "
                          << ratio << " ignoreCase " << ignoreCase << ": " << fast << " != " << literal;
            return;
        }
        nonZero += literal != 0.0 ? 1 : 0;
    }
    // The inputs exercise both outcomes in earnest.
    EXPECT_GT(nonZero, kInputs / 5);
    EXPECT_LT(nonZero, kInputs * 4 / 5);
}

}  // namespace
}  // namespace korva
