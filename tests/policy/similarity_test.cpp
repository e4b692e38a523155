// The similarity measure on rows worked out by hand, and the rules built on it.
#include "policy/similarity.h"

#include <gtest/gtest.h>

#include <tuple>

#include "policy/rule_similarity.h"
#include "policy/scope.h"
#include "tests/policy/fake_directory.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

constexpr double kDefault = static_cast<double>(kDefaultSimilarityRatio);  // the float ratio, widened

TEST(Similarity, KnownValues) {
    // text, pattern, ratio, ignore case, similarity
    const std::tuple<const WChar*, const WChar*, double, bool, double> rows[] = {
        {nullptr, nullptr, kDefault, false, 1.0},
        {KW(""), nullptr, kDefault, false, 1.0},  // empty counts as missing
        {nullptr, KW("abc"), kDefault, false, 0.0},
        {KW("Secret2024"), KW("Secret2025"), kDefault, false, 0.9},        // 10 characters allow one edit
        {KW("xyzSecret2024xyz"), KW("Secret2024"), kDefault, false, 1.0},  // text around the match is free
        {KW("Secret2024"), KW("Secret2024!"), kDefault, false, 1.0 - 1.0 / 11.0},
        {KW("JOHN"), KW("John"), kDefault, true, 1.0},
        {KW("John"), KW("John1"), kDefault, true, 0.0},              // 1 - 0.8f is below 0.2: no edit
        {KW("\u00C9t\u00E9"), KW("\u00E9t\u00E9"), 1.0, true, 0.0},  // only A-Z fold
        {KW("abXX"), KW("abcd"), 0.5, false, 0.5},                   // 0.5 allows 2 edits of 4...
        {KW("aXXX"), KW("abcd"), 0.5, false, 0.0},                   // ...not 3
        {KW("abcX"), KW("abcd"), 1.5, false, 0.0},                   // above 1 is 1: no edit
        {KW("XXXd"), KW("abcd"), -3.0, false, 0.25},                 // below 0 is 0
        // The text position carries over between pattern offsets (a fresh scan would give 0.5 for both).
        {KW("ba"), KW("abac"), 0.0, false, 0.25},
        {KW("ccaba"), KW("acca"), 0.0, false, 0.5},
        // Substitutions, insertions and deletions mixed, under different bounds.
        {KW("acbaba"), KW("abcab"), 0.5, false, 0.6},
        {KW("bacaba"), KW("baaccc"), 0.25, false, 0.5},
        {KW("ccccccc"), KW("acc"), 0.25, false, 2.0 / 3},
        {KW("bbca"), KW("ccbb"), 0.0, false, 0.25},
        {KW("cabbac"), KW("caabcb"), 0.0, false, 2.0 / 3},
        {KW("bbccbcb"), KW("cacaaa"), 0.0, false, 1.0 / 3},
        {KW("bca"), KW("acbac"), 0.0, false, 0.2},
        {KW("caa"), KW("caca"), 0.25, false, 0.75},
        {KW("cca"), KW("cbbba"), 0.25, false, 0.4},
        {KW("bbcaccc"), KW("bcacb"), 0.0, false, 0.8},
    };
    for (const auto& [text, pattern, ratio, ignoreCase, expected] : rows) {
        SCOPED_TRACE(U8(text) + " / " + U8(pattern));
        EXPECT_DOUBLE_EQ(Similarity(text, pattern, ratio, ignoreCase), expected);
    }
}

// John Smith (account name JSMITH) in the fake directory, and his user scope.
class NameSimilarityTest : public ::testing::Test {
  protected:
    NameSimilarityTest() {
        directory_.AddCanonicalName(KW("a.b/John Smith"), KW("CN=John Smith,DC=a,DC=b"));
        directory_.AddObject(KW("CN=John Smith,DC=a,DC=b"))
            .SetUserProperty(UserProperty::FirstName, KW("John"))
            .SetUserProperty(UserProperty::LastName, KW("Smith"))
            .SetUserProperty(UserProperty::FullName, KW("John Smith"))
            .SetText(KW("sAMAccountName"), KW("JSMITH"));
        user_.SetType(ST_USERS);
        user_.SetCanonicalName(KW("a.b/John Smith"));
    }
    ~NameSimilarityTest() override { EXPECT_EQ(directory_.OpenObjects(), 0); }

    FakeDirectory directory_;
    CScope user_;
    CapturedLog log_;
};

TEST_F(NameSimilarityTest, NamesIgnoreCaseAndTheLogonNameCountsIt) {
    using Op = FakeDirectory::Op;
    // logon name compared, directory names compared, logon name, password, failing operation, its fault
    // (0: none), verdict, the line logged with `fault` (-7 when the bind fails)
    const std::tuple<bool, bool, const WChar*, const WChar*, Op, int32_t, bool, const WChar*> rows[] = {
        {false, true, KW("js@a.b"), KW("johnsmith1"), Op::Get, 0, true, nullptr},  // 0.9 one way, 0 the other
        {false, true, KW("js@a.b"), KW("JOHN"), Op::Get, 0, false, nullptr},       // the first name
        {false, true, KW("js@a.b"), KW("smith"), Op::Get, 0, false, nullptr},      // the last name
        {false, true, KW("js@a.b"), KW("johnsmith"), Op::Get, 0, false, nullptr},  // the full name: one edit
        {false, true, KW("js@a.b"), KW("jsmith"), Op::Get, 0, false, nullptr},     // the account name
        {true, false, KW("jsmith@a.b"), KW("jsmith1"), Op::Get, 0, false, nullptr},  // the logon name: 0.857
        {true, false, KW("jsmith@a.b"), KW("JSmith"), Op::Get, 0, true, nullptr},  // two capitals: two edits
        {true, false, KW("jsmith"), KW("jsmith"), Op::Get, 0, true, nullptr},      // no "@": no logon name
        {true, true, KW("js@a.b"), KW("js"), Op::Get, 0, false, nullptr},  // refused by the logon name only
        // Names that cannot be gathered let the password pass without comparing even the logon name; one
        // name that cannot be read leaves the others to compare.
        {true, true, KW("smith@a.b"), KW("smith"), Op::CrackName, kInjected, true, KW("'a.b/John Smith'")},
        {true, true, KW("smith@a.b"), KW("smith"), Op::BindObject, kInjected, true,
         KW("unable to test password")},
        {true, true, KW("js@a.b"), KW("smith"), Op::GetInfo, kInjected, false,
         KW("Failed to load property cache")},
        {true, true, KW("js@a.b"), KW("smith"), Op::GetUserProperty, kInjected, false, KW("get first name")},
    };
    for (const auto& [username, fullname, upn, password, op, fault, expected, line] : rows) {
        SCOPED_TRACE(U8(upn) + " / " + U8(password) + " / " + std::to_string(fault));
        log_.records.clear();
        user_.SetName(upn);
        if (fault != 0) {
            directory_.FailNext(op, fault);
        }
        bool valid = !expected;
        const auto rule = CreateNameSimilarityRule(username, fullname);
        EXPECT_EQ(rule->Test(log_.log, &valid, &user_, password, nullptr, nullptr), 0);
        EXPECT_EQ(valid, expected) << log_.Dump();
        EXPECT_TRUE(line == nullptr || log_.Has(line, 0, op == Op::BindObject ? -7 : fault)) << log_.Dump();
    }
}

}  // namespace
}  // namespace korva::testing
