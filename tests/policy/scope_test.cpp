// Scopes: matching, loading, names from the directory, user scopes; the rules that read the user's entry.
#include "policy/scope.h"

#include <gtest/gtest.h>

#include <tuple>

#include "policy/rule_min_age.h"
#include "policy/rule_similarity.h"
#include "tests/policy/fake_directory.h"
#include "tests/policy/test_support.h"
#include "tests/support/fake_clock.h"

namespace korva::testing {
namespace {

TEST(ScopeMatchTest, ByCanonicalName) {
    const std::tuple<int32_t, const WChar*, const WChar*, bool> rows[] = {
        // type, scope, user, matched
        {ST_OU, KW("a.b/Sales"), KW("a.b/Sales/East/Mary"), true},  // any depth
        {ST_OU, KW("a.b/Sales"), KW("a.b/SalesEast/Mary"), false},  // no "/" after the unit
        {ST_OU, KW("a.b/Sales"), KW("a.b/Sales"), false},           // the unit itself
        {ST_OU, KW("A.B/sales"), KW("a.b/Sales/John"), true},       // ASCII case is ignored
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/John"), true},
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/East/Mary"), false},
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/SalesJohn"), true},     // the separator is not checked
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/East/J"), true},  // "/" at 5 of 6 is not below 6 - 1
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/East/Jo"), false},
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/"), false},  // nothing remains after the separator
        {ST_DOMAIN, KW("a.b"), KW("a.b.c/Users/Jo"), true},       // a prefix with no separator after it
        {ST_DOMAIN, KW("a.b/"), KW("a.b.c/Users/Jo"), false},
        {ST_DOMAIN, KW("a.b.c"), KW("a.b"), false},
        {ST_USERS, KW("a.b/users/JOHN"), KW("a.b/Users/John"), true},
        {ST_USERS, KW("a.b/Users/John"), KW("a.b/Users/Johnny"), false},
        {ST_OU, nullptr, KW("a.b/Users/John"), false},  // a unit or domain without a name covers no one
        {ST_DOMAIN, nullptr, KW("a.b/Users/John"), false},
        {ST_NONE, KW("a.b"), KW("a.b/Users/John"), false},
    };
    for (const auto& [type, scope, user, matched] : rows) {
        SCOPED_TRACE(std::to_string(type) + " " + U8(scope) + " / " + U8(user));
        CapturedLog log;
        CScope policyScope;
        policyScope.SetType(type);
        policyScope.SetCanonicalName(scope != nullptr ? WStringView(scope) : WStringView());
        // Only a resolved user scope is covered, whatever its name.
        for (const int32_t userType : {ST_USERS, ST_NONE, ST_GROUPS}) {
            CScope userScope;
            userScope.SetType(userType);
            userScope.SetCanonicalName(user);
            bool result = true;  // Match must clear it
            EXPECT_EQ(policyScope.Match(log.log, userScope, &result), 0) << log.Dump();
            EXPECT_EQ(result, matched && userType == ST_USERS) << userType;
        }
    }
}

constexpr int64_t kNow = 133500000000000000;  // a FILETIME in 2024

// John (jsmith, S-1-5-1) is in Sales Staff and Loop A (in Loop B, in A); Staff is S-1-5-2; all in A (a.b).
class ScopeDirectoryTest : public ::testing::Test {
  protected:
    using Op = FakeDirectory::Op;
    static constexpr const WChar* kJohn = KW("CN=John,OU=Sales,DC=a,DC=b");
    static constexpr const WChar* kSalesStaff = KW("CN=Sales Staff,DC=a,DC=b");
    static constexpr const WChar* kLoopA = KW("CN=Loop A,DC=a,DC=b");
    static constexpr const WChar* kJohnSid = KW("S-1-5-1");

    ScopeDirectoryTest() {
        clock_.now = kNow;
        Add(KW("a.b/Sales/John"), kJohn, true)
            .SetTexts(KW("memberOf"), {kSalesStaff, kLoopA})
            .SetUserProperty(UserProperty::FirstName, KW("John"))
            .SetUserProperty(UserProperty::LastName, KW("Smith"))
            .SetUserProperty(UserProperty::FullName, KW("John Smith"))
            .SetText(KW("sAMAccountName"), KW("JS042"));
        Add(KW("a.b/G/Sales Staff"), kSalesStaff, false);
        Add(KW("a.b/G/Loop A"), kLoopA, false).SetText(KW("memberOf"), KW("CN=Loop B,DC=a,DC=b"));
        Add(KW("a.b/G/Loop B"), KW("CN=Loop B,DC=a,DC=b"), false).SetTexts(KW("memberOf"), {kLoopA});
        directory_.AddAccount(kJohnSid, KW("jsmith"), KW("A"));
        directory_.AddAccount(KW("S-1-5-2"), KW("Staff"), KW("A"), kSidTypeGroup);
        directory_.AddCrackedName(kDsCanonicalName, kJohnSid, KW("a.b/Sales/John"));
        directory_.AddCrackedName(kDsUserPrincipalName, kJohnSid, KW("john@a.b"));
        directory_.AddCrackedName(kDsCanonicalName, KW("S-1-5-2"), KW("a.b/G/Staff"));
        directory_.AddUserSid(KW("a.b"), KW("jsmith"), kJohnSid);
        directory_.AddFlatDomain(KW("A"), KW("a.b"));
        directory_.SetJoinedDomain(KW("A"));
        john_.SetType(ST_USERS);
        john_.SetCanonicalName(KW("a.b/Sales/John"));
    }
    FakeDirectory::Object& Add(const WChar* canonical, const WChar* dn, bool isUser) {
        directory_.AddCanonicalName(canonical, dn);
        return directory_.AddObject(dn, isUser);
    }

    FakeClock clock_;
    platform::ScopedClockOverride clockOverride_{&clock_};
    FakeDirectory directory_;
    CapturedLog log_;
    CScope john_;  // John's user scope
};

TEST_F(ScopeDirectoryTest, GroupsListedInTheDocumentAndWalkFailures) {
    // failing operation, on the name, its fault (0: none), result, matched, the line logged with the fault
    const std::tuple<Op, const WChar*, int32_t, int32_t, bool, const WChar*> rows[] = {
        {Op::CrackName, KW("John"), kInjected, kInjected, false, KW("canonical name 'a.b/Sales/John'")},
        // A broken link keeps what was gathered: John's direct groups still meet Sales Staff.
        {Op::BindObject, KW("Loop A"), kInjected, 0, true, KW("enumerating groups for 'CN=Loop A,DC=a")},
        {Op::BindObject, KW("John"), kInjected, 0, false, KW("Failed to enumerate groups for 'CN=John")},
        {Op::Get, KW("memberOf"), kInjected, 0, false, KW("Failed to get memberOf attribute")},
        {Op::ArrayAccess, KW(""), kInjected, 0, false, KW("while accessing the result array")},
        {Op::ArrayUnaccess, KW(""), kInjected, 0, true, KW("while freeing the result array")},
    };
    CScope scope;  // its group is listed, so only the user's side is walked
    const WChar* kXml =
        KW("<Scope type='1'><Groups><Group>CN=Sales Staff,DC=a,DC=b</Group></Groups></Scope>");
    ASSERT_EQ(scope.LoadFromXML(log_.log, ParseElement(kXml).element), 0);
    for (const auto& [op, match, fault, result, expected, line] : rows) {
        SCOPED_TRACE(U8(line));
        CScope user;  // its groups are gathered once
        user.SetType(ST_USERS);
        user.SetCanonicalName(KW("a.b/Sales/John"));
        directory_.FailNext(op, fault, match);
        bool matched = !expected;
        EXPECT_EQ(scope.Match(log_.log, user, &matched), result);
        EXPECT_EQ(matched, expected);
        EXPECT_TRUE(line == nullptr || log_.Has(line, kLogError, fault)) << log_.Dump();
    }
}

// A scope's field as UTF-8; empty when it has no value.
std::string Text(const WChar* field) {
    return field != nullptr ? U8(field) : std::string();
}

TEST(ScopeLoadTest, TypeAndChildren) {
    // scope, result, type, "SID|canonical name|name|groups", the one Error line (null: none)
    const std::tuple<const WChar*, int32_t, int32_t, const char*, const WChar*> rows[] = {
        {KW("<Scope type='0'><SID>S-1</SID><CanonicalName>a.b/J</CanonicalName><Name>j</Name><sid>x</sid>"
            "</Scope>"),
         0, ST_USERS, "S-1|a.b/J|j|", nullptr},  // child names are case-sensitive
        {KW("<Scope type='4'><SID>a.b/S</SID><Name/><Other/></Scope>"), 0, ST_SINGLEOU, "a.b/S|||", nullptr},
        {KW("<Scope type='12'><SID>x</SID></Scope>"), 0, 12, "x|||", nullptr},  // kept; never matches
        {KW("<Scope type='5'><SID>x</SID></Scope>"), 0, ST_NONE, "x|||", nullptr},
        {KW("<Scope><SID>x</SID></Scope>"), -11, ST_NONE, "|||", nullptr},  // silently
        // Not a number: logged, and the children are still read.
        {KW("<Scope type='2x'><SID>x</SID></Scope>"), -11, ST_NONE, "x|||", KW("type attribute to integer.")},
        {KW("<Scope type='2'/>"), -12, ST_NONE, "|||", KW("Scope is empty.")},
        // The last Groups replaces the set; an empty one is logged with -12 but is no failure.
        {KW("<Scope type='1'><Groups><Group>A</Group></Groups><Groups><Group>C</Group><group>D</group>"
            "<Group>C</Group></Groups></Scope>"),
         0, ST_GROUPS, "|||C;", nullptr},
        {KW("<Scope type='1'><Groups><Group>A</Group></Groups><Groups/></Scope>"), 0, ST_GROUPS, "|||",
         KW("Group is empty.")},
    };
    for (const auto& [xml, result, type, expected, error] : rows) {
        SCOPED_TRACE(U8(xml));
        CapturedLog log;
        CScope scope;
        EXPECT_EQ(scope.LoadFromXML(log.log, ParseElement(xml).element), result);
        EXPECT_EQ(scope.GetType(), type);
        std::string fields =
            Text(scope.GetSID()) + "|" + Text(scope.GetCanonicalName()) + "|" + Text(scope.GetName()) + "|";
        for (const WString& group : scope.GetGroups())
            fields += U8(group) + ";";
        EXPECT_EQ(fields, expected);
        EXPECT_EQ(log.Errors(), error != nullptr ? 1u : 0u) << log.Dump();
        EXPECT_TRUE(error == nullptr || log.Has(error, kLogError, result != 0 ? result : -12));
    }
}

TEST_F(ScopeDirectoryTest, UpdateByType) {
    // type, SID, failing operation, its first and second fault, result, "canonical|name", the line logged
    using Row = std::tuple<int32_t, const WChar*, Op, int32_t, int32_t, int32_t, const char*, const WChar*>;
    const Row rows[] = {
        {ST_OU, KW("a.b/Sales"), Op::CrackName, 0, 0, 0, "a.b/Sales|a.b/Sales", nullptr},  // named by the SID
        {ST_USERS, kJohnSid, Op::CrackName, 0, 0, 0, "a.b/Sales/John|john@a.b", nullptr},
        {ST_GROUPS, KW("S-1-5-2"), Op::CrackName, 0, 0, 0, "a.b/G/Staff|a.b/G/Staff", nullptr},
        {ST_USERS, KW("x"), Op::CrackName, 0, 0, 0, "loaded|", nullptr},  // no usable SID: the names stay
        {ST_NONE, kJohnSid, Op::CrackName, 0, 0, 0, "loaded|loaded name", nullptr},
        {ST_USERS, KW("S-1-5-9"), Op::LookupAccountSid, 1332, 0, 1332, "loaded|", KW("by SID 'S-1-5-9'")},
        {ST_USERS, kJohnSid, Op::BindDomainController, 1355, 0, 1355, "loaded|jsmith", KW("domain 'A'.")},
        // The principal name is still cracked and decides the result.
        {ST_USERS, kJohnSid, Op::CrackName, 8453, 0, 0, "loaded|john@a.b", KW("to get canonical name.")},
        {ST_USERS, kJohnSid, Op::CrackName, 0, 8453, 8453, "a.b/Sales/John|jsmith", KW("principal name.")},
    };
    for (const auto& [type, sid, op, first, second, result, names, line] : rows) {
        SCOPED_TRACE(names);
        if (first != 0 || second != 0)
            directory_.FailNext(op, first);
        if (second != 0)
            directory_.FailNext(op, second);
        CScope scope;
        scope.SetType(type);
        scope.SetSID(sid);
        scope.SetCanonicalName(KW("loaded"));
        scope.SetName(KW("loaded name"));
        EXPECT_EQ(scope.Update(log_.log), result) << log_.Dump();
        EXPECT_EQ(Text(scope.GetCanonicalName()) + "|" + Text(scope.GetName()), names);
        const int32_t logged = second != 0 ? second : first;
        EXPECT_TRUE(line == nullptr || log_.Has(line, kLogError, logged)) << log_.Dump();
    }
}

TEST_F(ScopeDirectoryTest, CreateUserScope) {
    // user, domain, failing operation, its fault (0: none), result, resolved, the line logged with the result
    const std::tuple<const WChar*, const WChar*, Op, int32_t, int32_t, bool, const WChar*> rows[] = {
        {KW("jsmith"), KW("a.b"), Op::GetInfo, 0, 0, true, nullptr},
        {KW("jsmith"), nullptr, Op::GetInfo, 0, 0, true, nullptr},  // the joined domain
        {KW("jsmith"), KW(""), Op::GetInfo, 0, 0, false, nullptr},  // unresolved, but no failure
        {KW("nobody"), KW("a.b"), Op::GetInfo, 0, 1332, false, KW("Failed to get user SID for 'nobody' in")},
        {KW("jsmith"), nullptr, Op::GetJoinInformation, 2453, 2453, false, KW("domain name failed.")},
        {KW("jsmith"), nullptr, Op::GetDcName, 1355, 1355, false, KW("flat name 'A' to DNS")},
        {KW("jsmith"), nullptr, Op::LookupAccountSid, 1332, 0, true, nullptr},  // names unknown: matches less
    };
    for (const auto& [user, domain, op, fault, result, resolved, line] : rows) {
        SCOPED_TRACE(U8(user) + " " + U8(domain) + " " + std::to_string(fault));
        directory_.FailNext(op, fault);
        CScope scope;
        scope.SetCanonicalName(KW("stale"));
        EXPECT_EQ(scope.CreateUserScope(log_.log, user, domain), result) << log_.Dump();
        EXPECT_EQ(scope.GetType(), resolved ? ST_USERS : ST_NONE);
        EXPECT_EQ(U8(scope.GetCanonicalName()), resolved && fault == 0 ? "a.b/Sales/John" : "(null)");
        EXPECT_TRUE(line == nullptr || log_.Has(line, kLogError, result)) << log_.Dump();
    }
}

TEST_F(ScopeDirectoryTest, MinimumAgeInWholeMinutes) {
    constexpr int64_t kSecond = platform::kFileTimeTicksPerSecond;
    constexpr int64_t kMinute = 60 * kSecond;
    constexpr int64_t kNotInteger = INT64_MIN;  // pwdLastSet is an object of another kind
    // pwdLastSet, minimum minutes, failing operation, its fault (0: none), result, verdict, line logged
    const std::tuple<int64_t, int32_t, Op, int32_t, int32_t, bool, const WChar*> rows[] = {
        {kNow - 1439 * kMinute, 1440, Op::Get, 0, 0, false, nullptr},  // 23h59
        {kNow - 1440 * kMinute, 1440, Op::Get, 0, 0, true, nullptr},
        {kNow - 599 * kSecond / 10, 1, Op::Get, 0, 0, false, nullptr},  // 59.9 s is no whole minute
        {kNow + 30 * kSecond, 0, Op::Get, 0, 0, true, nullptr},         // in the future, truncated to 0
        {kNow + 61 * kSecond, 0, Op::Get, 0, 0, false, nullptr},  // more than a minute ahead: a negative age
        {0, 525600, Op::Get, 0, 0, true, nullptr},  // must change at next logon: 1601, centuries old
        {kNow, 0, Op::CrackStatus, 2, -6, false, KW("canonical name 'a.b/Sales/John'")},
        {kNow, 0, Op::Get, kEAdsPropertyNotFound, kEAdsPropertyNotFound, false, KW("get time and date")},
        {kNotInteger, 0, Op::Get, 0, kENoInterface, false, KW("Unable to query interface of pwdLastSet")},
        {-1, 0, Op::Get, 0, -23, false, KW("Unable to convert date object to systemtime.")},
    };
    for (const auto& [lastSet, minimum, op, fault, result, expected, line] : rows) {
        SCOPED_TRACE("pwdLastSet " + std::to_string(lastSet) + ", fault " + std::to_string(fault));
        CapturedLog log;
        directory_.AddObject(kJohn).SetLargeInteger(KW("pwdLastSet"), lastSet);
        if (lastSet == kNotInteger)
            directory_.AddObject(kJohn).Set(KW("pwdLastSet"), AttributeValue::Kind::Object);
        directory_.FailNext(op, fault);
        CRuleHistoryMinimumAge rule({}, minimum);
        bool valid = !expected;
        EXPECT_EQ(rule.Test(log.log, &valid, &john_, KW("new"), nullptr, KW("old")), result) << log.Dump();
        EXPECT_EQ(valid, expected);
        EXPECT_TRUE(line == nullptr || log.Has(line, kLogError, result)) << log.Dump();
    }
}

TEST_F(ScopeDirectoryTest, NameSimilarityIgnoresCaseAndTheLogonNameCountsIt) {
    // logon name?, directory names?, logon name, password, failing operation, fault, verdict, the line logged
    const std::tuple<bool, bool, const WChar*, const WChar*, Op, int32_t, bool, const WChar*> rows[] = {
        {false, true, KW("js@a.b"), KW("johnsmith1"), Op::Get, 0, true, nullptr},  // 0.9 one way, 0 the other
        {false, true, KW("js@a.b"), KW("JOHN"), Op::Get, 0, false, nullptr},       // the first name
        {false, true, KW("js@a.b"), KW("smith"), Op::Get, 0, false, nullptr},      // the last name
        {false, true, KW("js@a.b"), KW("johnsmith"), Op::Get, 0, false, nullptr},  // the full name: one edit
        {false, true, KW("js@a.b"), KW("js042"), Op::Get, 0, false, nullptr},      // the account name
        {true, false, KW("jsmith@a.b"), KW("jsmith1"), Op::Get, 0, false, nullptr},  // the logon name: 0.857
        {true, false, KW("jsmith@a.b"), KW("JSmith"), Op::Get, 0, true, nullptr},  // two capitals: two edits
        {true, false, KW("jsmith"), KW("jsmith"), Op::Get, 0, true, nullptr},      // no "@": no logon name
        {true, true, KW("js@a.b"), KW("js"), Op::Get, 0, false, nullptr},  // refused by the logon name only
        // Names not gathered pass the password, unread logon name and all; one unread name leaves the others.
        {true, true, KW("smith@a.b"), KW("smith"), Op::CrackName, kInjected, true, KW("'a.b/Sales/John'")},
        {true, true, KW("smith@a.b"), KW("smith"), Op::BindObject, kInjected, true, KW("unable to test")},
        {true, true, KW("js@a.b"), KW("smith"), Op::GetInfo, kInjected, false, KW("load property cache")},
        {true, true, KW("js@a.b"), KW("smith"), Op::GetUserProperty, kInjected, false, KW("get first name")},
    };
    for (const auto& [username, fullname, upn, password, op, fault, expected, line] : rows) {
        SCOPED_TRACE(U8(upn) + " / " + U8(password) + " / " + std::to_string(fault));
        CapturedLog log;
        john_.SetName(upn);
        directory_.FailNext(op, fault);
        bool valid = !expected;
        const auto rule = CreateNameSimilarityRule(username, fullname);
        EXPECT_EQ(rule->Test(log.log, &valid, &john_, password, nullptr, nullptr), 0);
        EXPECT_EQ(valid, expected) << log.Dump();
        EXPECT_TRUE(line == nullptr || log.Has(line, 0, op == Op::BindObject ? -7 : fault)) << log.Dump();
    }
}

}  // namespace
}  // namespace korva::testing
