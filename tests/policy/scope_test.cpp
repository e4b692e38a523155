// Scopes: loading from XML, refreshing names from a fake directory, user scopes, matching by every type and
// by group membership, with injected directory and DOM failures.
#include "policy/scope.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/policy/fake_directory.h"
#include "tests/policy/log_capture.h"

namespace korva {
namespace {

using testing::FakeDirectory;
using testing::LogCapture;
using testing::Narrow;
using testing::ParsedElement;
using testing::ParseElement;

constexpr int32_t kEFail = static_cast<int32_t>(0x80004005u);

// --- matching by canonical name ---

struct MatchCase {
    int32_t type;
    const WChar* scope;
    const WChar* user;
    bool matched;
};

bool Matches(int32_t type, const WChar* scopeName, const WChar* userName, LogCapture* capture) {
    CScope scope;
    scope.SetType(type);
    scope.SetCanonicalName(scopeName != nullptr ? WStringView(scopeName) : WStringView());
    CScope user;
    user.SetType(ST_USERS);
    user.SetCanonicalName(userName);
    bool matched = true;  // Match must clear it
    EXPECT_EQ(scope.Match(capture->log, user, &matched), 0);
    return matched;
}

TEST(Scope, MatchByCanonicalName) {
    const MatchCase cases[] = {
        // Below an organisational unit, at any depth.
        {ST_OU, KW("a.b/Sales"), KW("a.b/Sales/John"), true},
        {ST_OU, KW("a.b/Sales"), KW("a.b/Sales/East/Mary"), true},
        {ST_OU, KW("a.b/Sales"), KW("a.b/SalesEast/Mary"), false},  // no "/" after the prefix
        {ST_OU, KW("a.b/Sales"), KW("a.b/Sales"), false},           // the unit itself
        {ST_OU, KW("a.b/Sales"), KW("a.b/Sal"), false},
        {ST_OU, KW("A.B/sales"), KW("a.b/Sales/John"), true},  // ASCII case is ignored
        // Directly in an organisational unit.
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/John"), true},
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/East/Mary"), false},
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/SalesJohn"), true},     // the separator is not checked
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/East/J"), true},  // "/" at 5 of 6 is not below 6 - 1
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/East/Jo"), false},
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales"), false},   // nothing remains
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/"), false},  // one character remains: not enough
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/J"), true},
        {ST_SINGLEOU, KW("A.B/SALES"), KW("a.b/Sales/John"), true},
        {ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Other/John"), false},
        // A domain: a prefix with no separator after it.
        {ST_DOMAIN, KW("a.b"), KW("a.b/Users/John"), true},
        {ST_DOMAIN, KW("a.b"), KW("a.b.c/Users/Jo"), true},
        {ST_DOMAIN, KW("a.b/"), KW("a.b/Users/John"), true},
        {ST_DOMAIN, KW("a.b/"), KW("a.b.c/Users/Jo"), false},
        {ST_DOMAIN, KW("A.B"), KW("a.b/Users/John"), true},
        {ST_DOMAIN, KW("a.b.c"), KW("a.b"), false},
        // One user.
        {ST_USERS, KW("a.b/Users/John"), KW("a.b/Users/John"), true},
        {ST_USERS, KW("a.b/users/JOHN"), KW("a.b/Users/John"), true},
        {ST_USERS, KW("a.b/Users/John"), KW("a.b/Users/Johnny"), false},
        // A unit or domain without a name covers no one.
        {ST_OU, nullptr, KW("a.b/Users/John"), false},
        {ST_DOMAIN, nullptr, KW("a.b/Users/John"), false},
        {ST_SINGLEOU, nullptr, KW("John"), false},
        // Unset and unknown types never match.
        {ST_NONE, KW("a.b"), KW("a.b/Users/John"), false},
        {9, KW("a.b"), KW("a.b/Users/John"), false},
        {-1, KW("a.b"), KW("a.b/Users/John"), false},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + Narrow(c.scope) + " / " + Narrow(c.user));
        LogCapture capture;
        EXPECT_EQ(Matches(c.type, c.scope, c.user, &capture), c.matched) << capture.Dump();
    }
}

TEST(Scope, MatchLogLines) {
    LogCapture ou;
    EXPECT_TRUE(Matches(ST_OU, KW("a.b/Sales"), KW("a.b/Sales/John"), &ou));
    for (const WChar* line : {KW("Try to find match for type '2' for current scope ('a.b/Sales') with user "
                                 "scope ('a.b/Sales/John')."),
                              KW("Comparing left side 'a.b/Sales' of 'a.b/Sales/John' with 'a.b/Sales'."),
                              KW("Left side 'a.b/Sales' matches with 'a.b/Sales', now checking last "
                                 "character of 'a.b/Sales/John'."),
                              KW("Found match as ST_OU to find match for current scope ('a.b/Sales').")}) {
        EXPECT_TRUE(ou.HasMessage(kLogDebug, line)) << Narrow(line) << "\n" << ou.Dump();
    }

    LogCapture single;
    EXPECT_TRUE(Matches(ST_SINGLEOU, KW("a.b/Sales"), KW("a.b/Sales/East/J"), &single));
    for (const WChar* line : {KW("Left side 'a.b/Sales' matches with 'a.b/Sales', now checking the right "
                                 "side of 'a.b/Sales/East/J'."),
                              KW("Remaining number of characters: 6."),
                              KW("Check the right side of 'a.b/Sales/East/J' starting at index 6."),
                              KW("Found match of type ST_SINGLEOU for 'a.b/Sales/East/J'.")}) {
        EXPECT_TRUE(single.HasMessage(kLogDebug, line)) << Narrow(line) << "\n" << single.Dump();
    }

    LogCapture domain;
    EXPECT_TRUE(Matches(ST_DOMAIN, KW("a.b"), KW("a.b/Users/John"), &domain));
    EXPECT_TRUE(domain.HasMessage(kLogDebug, KW("Comparing domain of 'a.b/Users/John' with 'a.b'.")));
    EXPECT_TRUE(domain.HasMessage(kLogDebug,
                                  KW("Found match as ST_DOMAIN to find match for current scope ('a.b').")));

    LogCapture users;
    EXPECT_TRUE(Matches(ST_USERS, KW("a.b/U/J"), KW("a.b/U/J"), &users));
    EXPECT_TRUE(users.HasMessage(
        kLogDebug, KW("Found match as ST_USERS to find match for current scope ('a.b/U/J') .")));
}

TEST(Scope, OnlyAResolvedUserScopeMatches) {
    for (int32_t userType :
         {int32_t{ST_NONE}, int32_t{ST_GROUPS}, int32_t{ST_OU}, int32_t{ST_DOMAIN}, int32_t{7}}) {
        CScope scope;
        scope.SetType(ST_DOMAIN);
        scope.SetCanonicalName(KW("a.b"));
        CScope user;
        user.SetType(userType);
        user.SetCanonicalName(KW("a.b/Users/John"));
        LogCapture capture;
        bool matched = true;
        EXPECT_EQ(scope.Match(capture.log, user, &matched), 0);
        EXPECT_FALSE(matched);
        EXPECT_TRUE(capture.lines.empty());  // nothing is logged
    }
}

// --- groups ---

// Users and groups: John is in Sales Staff, which is in All Staff; Loop A and Loop B contain each other; Mary
// is in no group.
struct GroupFixture : ::testing::Test {
    static constexpr const WChar* kJohn = KW("CN=John,OU=Sales,DC=a,DC=b");
    static constexpr const WChar* kMary = KW("CN=Mary,OU=Sales,DC=a,DC=b");
    static constexpr const WChar* kSalesStaff = KW("CN=Sales Staff,OU=Groups,DC=a,DC=b");
    static constexpr const WChar* kAllStaff = KW("CN=All Staff,OU=Groups,DC=a,DC=b");
    static constexpr const WChar* kLoopA = KW("CN=Loop A,OU=Groups,DC=a,DC=b");
    static constexpr const WChar* kLoopB = KW("CN=Loop B,OU=Groups,DC=a,DC=b");
    static constexpr const WChar* kOther = KW("CN=Other,OU=Groups,DC=a,DC=b");

    GroupFixture() {
        Add(KW("a.b/Sales/John"), kJohn, true).SetTexts(KW("memberOf"), {kSalesStaff, kLoopA});
        Add(KW("a.b/Sales/Mary"), kMary, true);
        Add(KW("a.b/Groups/Sales Staff"), kSalesStaff, false).SetText(KW("memberOf"), kAllStaff);
        Add(KW("a.b/Groups/All Staff"), kAllStaff, false);
        Add(KW("a.b/Groups/Loop A"), kLoopA, false).SetText(KW("memberOf"), kLoopB);
        Add(KW("a.b/Groups/Loop B"), kLoopB, false).SetTexts(KW("memberOf"), {kLoopA});
        Add(KW("a.b/Groups/Other"), kOther, false);
    }
    ~GroupFixture() override {
        EXPECT_EQ(directory.OpenObjects(), 0);
        EXPECT_EQ(directory.OpenArrayAccesses(), 0);
    }

    FakeDirectory::Object& Add(const WChar* canonical, const WChar* dn, bool isUser) {
        directory.AddCanonicalName(canonical, dn);
        return directory.AddObject(dn, isUser);
    }

    static CScope& User(CScope& user, const WChar* canonical) {
        user.SetType(ST_USERS);
        user.SetCanonicalName(canonical);
        return user;
    }

    bool GroupMatch(CScope& group, CScope& user, int32_t expectedResult = 0) {
        bool matched = true;
        EXPECT_EQ(group.Match(capture.log, user, &matched), expectedResult) << capture.Dump();
        return matched;
    }

    FakeDirectory directory;
    LogCapture capture;
};

TEST_F(GroupFixture, MembershipThroughNestedGroups) {
    struct Case {
        const WChar* user;
        const WChar* group;
        bool matched;
    };
    const Case cases[] = {
        {KW("a.b/Sales/John"), KW("a.b/Groups/Sales Staff"), true},
        {KW("a.b/Sales/John"), KW("a.b/Groups/All Staff"), true},  // through Sales Staff
        {KW("a.b/Sales/John"), KW("a.b/Groups/Loop B"), true},     // through Loop A; the cycle ends
        {KW("a.b/Sales/John"), KW("a.b/Groups/Other"), false},
        {KW("a.b/Sales/Mary"), KW("a.b/Groups/Sales Staff"), false},  // Mary is in no group
        {KW("a.b/Sales/Mary"), KW("a.b/Groups/All Staff"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.user) + " in " + Narrow(c.group));
        CScope group;
        group.SetType(ST_GROUPS);
        group.SetCanonicalName(c.group);
        CScope user;
        EXPECT_EQ(GroupMatch(group, User(user, c.user)), c.matched);
    }
    // John's set: himself and every group reachable, each once.
    CScope user;
    CScope group;
    group.SetType(ST_GROUPS);
    group.SetCanonicalName(KW("a.b/Groups/Other"));
    GroupMatch(group, User(user, KW("a.b/Sales/John")));
    EXPECT_EQ(user.GetGroups(), (GroupSet{kJohn, kSalesStaff, kAllStaff, kLoopA, kLoopB}));
}

TEST_F(GroupFixture, SetsAreComputedOnceAndKept) {
    CScope user;
    User(user, KW("a.b/Sales/John"));
    CScope staff;
    staff.SetType(ST_GROUPS);
    staff.SetCanonicalName(KW("a.b/Groups/All Staff"));
    CScope other;
    other.SetType(ST_GROUPS);
    other.SetCanonicalName(KW("a.b/Groups/Other"));
    EXPECT_TRUE(GroupMatch(staff, user));
    EXPECT_FALSE(GroupMatch(other, user));
    EXPECT_TRUE(GroupMatch(staff, user));
    // The user's set is translated once for the validation, each scope's once for its life.
    EXPECT_EQ(directory.CountCalls(KW("CanonicalToDistinguishedName a.b/Sales/John")), 1u);
    EXPECT_EQ(directory.CountCalls(KW("CanonicalToDistinguishedName a.b/Groups/All Staff")), 1u);
    EXPECT_TRUE(capture.HasMessage(
        kLogDebug, KW("Found match as ST_GROUPS for current scope ('a.b/Groups/All Staff').")));
}

TEST_F(GroupFixture, GroupsGivenInTheDocument) {
    ParsedElement parsed = ParseElement(
        KW("<Scope type='1'><SID>S-1-5-21-9</SID>") KW("<CanonicalName>a.b/Groups/Listed</CanonicalName>")
            KW("<Groups><Group>CN=Sales Staff,OU=Groups,DC=a,DC=b</Group></Groups>") KW("</Scope>"),
        KW("Scope"));
    CScope group;
    ASSERT_EQ(group.LoadFromXML(capture.log, parsed.element), 0) << capture.Dump();
    CScope john;
    EXPECT_TRUE(GroupMatch(group, User(john, KW("a.b/Sales/John"))));
    CScope mary;
    EXPECT_FALSE(GroupMatch(group, User(mary, KW("a.b/Sales/Mary"))));
    // The listed set is used as it stands: the group's own name is never translated.
    EXPECT_EQ(directory.CountCalls(KW("CanonicalToDistinguishedName a.b/Groups/Listed")), 0u);
}

TEST_F(GroupFixture, GroupSetFailures) {
    struct Case {
        const char* what;
        FakeDirectory::Op op;
        const WChar* match;
        int32_t code;
        int32_t result;  // of Match
        bool matched;
        const WChar* line;  // logged at level Error with the HRESULT; null for the translation failure
    };
    const Case cases[] = {
        // The user's set cannot be started: Match fails and says so.
        {"user's name", FakeDirectory::Op::CanonicalToDistinguishedName, KW("John"), -6, -6, false, nullptr},
        // A broken link keeps what was gathered: John and his direct groups still meet Sales Staff.
        {"bind a group", FakeDirectory::Op::BindObject, KW("Loop A"), kEFail, 0, true,
         KW("Failed to bind user object in Active Directoy.")},
        // Failures at John himself leave only John in his set.
        {"property cache", FakeDirectory::Op::GetInfo, nullptr, kEFail, 0, false,
         KW("Failed to load property cache of bound object.")},
        {"memberOf", FakeDirectory::Op::Get, KW("memberOf"), kEFail, 0, false,
         KW("Failed to get memberOf attribute of bound object.")},
        {"array access", FakeDirectory::Op::ArrayAccess, nullptr, kEFail, 0, false,
         KW("Error occurred while accessing the result array with the memberOf data.")},
        // A failed release comes after the walk: the set is complete.
        {"array release", FakeDirectory::Op::ArrayUnaccess, nullptr, kEFail, 0, true,
         KW("Error occurred while freeing the result array with the memberOf data.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        // The group's set is given, so only the user's side is walked.
        CScope listed;
        ParsedElement parsed = ParseElement(
            KW("<Scope type='1'><Groups><Group>CN=Sales Staff,OU=Groups,DC=a,DC=b</Group></Groups></Scope>"),
            KW("Scope"));
        ASSERT_EQ(listed.LoadFromXML(log.log, parsed.element), 0);
        directory.FailNext(c.op, c.code, c.match != nullptr ? WStringView(c.match) : WStringView());
        CScope user;
        bool matched = true;
        EXPECT_EQ(listed.Match(log.log, User(user, KW("a.b/Sales/John")), &matched), c.result) << log.Dump();
        EXPECT_EQ(matched, c.matched) << log.Dump();
        if (c.line != nullptr) {
            EXPECT_TRUE(log.HasHResult(kLogError, c.code, c.line)) << log.Dump();
            // A walk that ended early is reported once more by the group comparison, which goes on.
            if (!c.matched) {
                EXPECT_TRUE(
                    log.HasSystemError(kLogError, static_cast<uint32_t>(c.code),
                                       KW("Failed to enumerate groups for 'CN=John,OU=Sales,DC=a,DC=b'.")))
                    << log.Dump();
            }
        } else {
            EXPECT_TRUE(log.HasWithCode(
                kLogError, -6,
                KW("Failed to convert canonical name 'a.b/Sales/John' to distinguished name.")))
                << log.Dump();
            EXPECT_TRUE(log.HasMessage(
                kLogWarning,
                KW("An error occurred while trying to intersect 2 groups for current scope ('(null)').")))
                << log.Dump();
        }
    }
}

TEST_F(GroupFixture, EnumerateGroupsWalk) {
    GroupSet set;
    EXPECT_EQ(EnumerateGroups(capture.log, kJohn, set), 0);
    EXPECT_EQ(set, (GroupSet{kJohn, kSalesStaff, kAllStaff, kLoopA, kLoopB}));
    // The cycle is walked once each way: Loop A and Loop B are bound once.
    EXPECT_EQ(directory.CountCalls(KW("BindObject LDAP://CN=Loop A")), 1u);
    EXPECT_EQ(directory.CountCalls(KW("BindObject LDAP://CN=Loop B")), 1u);
    // All Staff belongs to no group: its missing "memberOf" is reported and does not stop the walk.
    EXPECT_TRUE(capture.HasHResult(kLogError, kEAdsPropertyNotFound,
                                   KW("Failed to get memberOf attribute of bound object.")));
    // This line is written at level Error.
    EXPECT_TRUE(capture.HasMessage(kLogError, KW("Trying to extract information from bound object.")));
    EXPECT_TRUE(capture.HasMessage(kLogDebug, KW("Created LDAP query: LDAP://CN=John,OU=Sales,DC=a,DC=b")));

    // A single-valued link whose target fails reports it and returns its result.
    GroupSet single;
    EXPECT_EQ(EnumerateGroups(capture.log, kSalesStaff, single), kEAdsPropertyNotFound);
    EXPECT_EQ(single, (GroupSet{kSalesStaff, kAllStaff}));
    EXPECT_TRUE(
        capture.HasHResult(kLogError, kEAdsPropertyNotFound,
                           KW("Error occurred enumerating groups for 'CN=All Staff,OU=Groups,DC=a,DC=b'.")));

    // An empty name or one already present adds nothing and asks nothing.
    const size_t binds = directory.CountCalls(KW("BindObject"));
    EXPECT_EQ(EnumerateGroups(capture.log, KW(""), set), 0);
    EXPECT_EQ(EnumerateGroups(capture.log, kJohn, set), 0);
    EXPECT_EQ(directory.CountCalls(KW("BindObject")), binds);

    // A value of a kind other than text is noted and ends that branch.
    directory.AddObject(KW("CN=Odd,DC=a,DC=b"), false).SetOtherObject(KW("memberOf"));
    GroupSet odd;
    EXPECT_EQ(EnumerateGroups(capture.log, KW("CN=Odd,DC=a,DC=b"), odd), 0);
    EXPECT_TRUE(
        capture.HasMessage(kLogDebug, KW("Unknown data type stored in result object for memberOf data.")));
}

// --- loading ---

struct LoadedScope {
    ParsedElement parsed;
    CScope scope;
    LogCapture capture;
    int32_t result = 0;
};

std::unique_ptr<LoadedScope> LoadScope(const WChar* xmlText,
                                       const std::function<void(xml::Document&)>& arm = {}) {
    auto loaded = std::make_unique<LoadedScope>();
    loaded->parsed = ParseElement(xmlText, KW("Scope"));
    if (arm)
        arm(*loaded->parsed.document);
    loaded->result = loaded->scope.LoadFromXML(loaded->capture.log, loaded->parsed.element);
    return loaded;
}

TEST(ScopeLoad, ReadsEveryChild) {
    auto loaded = LoadScope(KW("<Scope type='0'><SID>S-1-5-21-1-2-3-1104</SID>")
                                KW("<CanonicalName>a.b/Users/John</CanonicalName><Name>john@a.b</Name>")
                                    KW("<sid>ignored: names are case-sensitive</sid><Other/></Scope>"));
    ASSERT_EQ(loaded->result, 0) << loaded->capture.Dump();
    EXPECT_EQ(loaded->scope.GetType(), ST_USERS);
    EXPECT_EQ(WString(loaded->scope.GetSID()), KW("S-1-5-21-1-2-3-1104"));
    EXPECT_EQ(WString(loaded->scope.GetCanonicalName()), KW("a.b/Users/John"));
    EXPECT_EQ(WString(loaded->scope.GetName()), KW("john@a.b"));
    for (const WChar* line :
         {KW("Successfully determined type."), KW("Load scope data from XML."), KW("Successfully set SID."),
          KW("Successfully set Canonical Name."), KW("Successfully set Name.")}) {
        EXPECT_TRUE(loaded->capture.HasMessage(kLogDebug, line)) << Narrow(line);
    }

    // Empty texts leave the fields without a value.
    auto empty = LoadScope(KW("<Scope type='3'><SID></SID><Name/></Scope>"));
    EXPECT_EQ(empty->result, 0);
    EXPECT_EQ(empty->scope.GetSID(), nullptr);
    EXPECT_EQ(empty->scope.GetName(), nullptr);
}

TEST(ScopeLoad, TypeAttribute) {
    struct Case {
        const WChar* element;
        int32_t result;
        int32_t type;
        bool childrenRead;
        size_t errorLines;
    };
    const Case cases[] = {
        {KW("<Scope type='4'><SID>a.b/Sales</SID></Scope>"), 0, ST_SINGLEOU, true, 0},
        {KW("<Scope type='12'><SID>a.b/Sales</SID></Scope>"), 0, 12, true, 0},  // stored, never matches
        // Required: nothing else is read and nothing logged.
        {KW("<Scope><SID>a.b/Sales</SID></Scope>"), -11, ST_NONE, false, 0},
        {KW("<Scope Type='2'><SID>a.b/Sales</SID></Scope>"), -11, ST_NONE, false, 0},
        // Not a number: logged, the children are still read, and the load reports -11.
        {KW("<Scope type='2x'><SID>a.b/Sales</SID></Scope>"), -11, ST_NONE, true, 1},
        {KW("<Scope type=' 2'><SID>a.b/Sales</SID></Scope>"), -11, ST_NONE, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.element));
        auto loaded = LoadScope(c.element);
        EXPECT_EQ(loaded->result, c.result);
        EXPECT_EQ(loaded->scope.GetType(), c.type);
        EXPECT_EQ(loaded->scope.GetSID() != nullptr, c.childrenRead);
        EXPECT_EQ(loaded->capture.CountAtLevel(kLogError), c.errorLines) << loaded->capture.Dump();
    }
    auto notNumber = LoadScope(KW("<Scope type='2x'><SID>a.b/Sales</SID></Scope>"));
    EXPECT_TRUE(notNumber->capture.HasWithCode(kLogError, -11,
                                               KW("Failed to convert value of type attribute to integer.")));
    auto empty = LoadScope(KW("<Scope type='2'/>"));
    EXPECT_EQ(empty->result, -12);
    EXPECT_TRUE(empty->capture.HasWithCode(kLogError, -12, KW("Scope is empty.")));
}

TEST(ScopeLoad, Groups) {
    auto loaded =
        LoadScope(KW("<Scope type='1'><Groups><Group>CN=A,DC=x</Group><Group>CN=B,DC=x</Group></Groups>")
                      KW("<Groups><Group>CN=C,DC=x</Group><group>CN=D,DC=x</group><Group>CN=C,DC=x</Group>")
                          KW("</Groups></Scope>"));
    ASSERT_EQ(loaded->result, 0) << loaded->capture.Dump();
    // The last "Groups" element replaces the set; "group" is not a "Group".
    EXPECT_EQ(loaded->scope.GetGroups(), (GroupSet{KW("CN=C,DC=x")}));
    EXPECT_EQ(loaded->capture.Count(KW("Successfully added name to group set.")), 4u);
    EXPECT_EQ(loaded->capture.Count(KW("Successfully added group set data.")), 2u);
    EXPECT_TRUE(loaded->capture.HasMessage(kLogDebug, KW("Load group set data from XML.")));

    // An empty "Groups" element is logged with -12 but is not a failure, and empties the set.
    auto empty = LoadScope(KW("<Scope type='1'><Groups><Group>CN=A,DC=x</Group></Groups><Groups/></Scope>"));
    EXPECT_EQ(empty->result, 0);
    EXPECT_TRUE(empty->scope.GetGroups().empty());
    EXPECT_TRUE(empty->capture.HasWithCode(kLogError, -12, KW("Group is empty.")));
}

TEST(ScopeLoad, FailuresFromTheDocument) {
    struct Case {
        const char* what;
        xml::Op op;
        const WChar* node;
        int32_t result;
        const WChar* line;  // logged at level Error with the HRESULT
        bool nameRead;      // the "Name" child after the failing one was still read
    };
    const Case cases[] = {
        {"has children", xml::Op::HasChildren, KW("Scope"), kEFail,
         KW("Failed to determine if scope node has children."), false},
        {"type attribute", xml::Op::GetAttribute, KW("Scope"), kEFail, KW("Failed to get type attribute."),
         false},
        {"child list", xml::Op::ChildNodes, KW("Scope"), kEFail, KW("An error occurred getting scope data."),
         false},
        {"a child's name", xml::Op::BaseName, KW("SID"), kEFail,
         KW("An error occurred getting base name of child."), true},
        {"SID text", xml::Op::Text, KW("SID"), kEFail, KW("Failed to get value of SID node."), false},
        {"canonical name text", xml::Op::Text, KW("CanonicalName"), kEFail,
         KW("Failed to get value of CanonicalName node."), false},
        {"name text", xml::Op::Text, KW("Name"), kEFail, KW("Failed to get value of Name node."), false},
        {"groups' children", xml::Op::HasChildren, KW("Groups"), kEFail,
         KW("Failed to determine if groups node has children."), false},
        {"groups list", xml::Op::ChildNodes, KW("Groups"), kEFail,
         KW("An error occurred getting group set data."), false},
        {"a group's text", xml::Op::Text, KW("Group"), kEFail, KW("Failed to get value of group node."),
         false},
        // A group's name that cannot be read is remembered by the group list, whose failure ends the scope
        // load.
        {"a group's name", xml::Op::BaseName, KW("Group"), kEFail, KW("Failed to get value of groups node."),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto loaded =
            LoadScope(KW("<Scope type='1'><SID>S-1-5-21-9</SID><CanonicalName>a.b/G</CanonicalName>")
                          KW("<Groups><Group>CN=G,DC=a,DC=b</Group></Groups><Name>G</Name></Scope>"),
                      [&c](xml::Document& document) { document.Faults().FailNext(c.op, kEFail, c.node); });
        EXPECT_EQ(loaded->result, c.result);
        EXPECT_TRUE(loaded->capture.HasHResult(kLogError, kEFail, c.line)) << loaded->capture.Dump();
        EXPECT_EQ(loaded->scope.GetName() != nullptr, c.nameRead);
    }
}

// --- directory refresh and user scopes ---

constexpr const WChar* kJohnSid = KW("S-1-5-21-1-2-3-1104");
constexpr const WChar* kGroupSid = KW("S-1-5-21-1-2-3-2001");

struct DirectoryFixture : ::testing::Test {
    DirectoryFixture() {
        directory.AddAccount(kJohnSid, KW("jsmith"), KW("A"));
        directory.AddAccount(kGroupSid, KW("Sales Staff"), KW("A"), kSidTypeGroup);
        directory.AddDomainController(KW("A"));
        directory.AddCrackedName(kDsCanonicalName, kJohnSid, KW("a.b/Sales/John Smith"));
        directory.AddCrackedName(kDsUserPrincipalName, kJohnSid, KW("john.smith@a.b"));
        directory.AddCrackedName(kDsCanonicalName, kGroupSid, KW("a.b/Groups/Sales Staff"));
        directory.AddUserSid(KW("a.b"), KW("jsmith"), kJohnSid);
        directory.AddFlatDomain(KW("A"), KW("a.b"));
        directory.SetJoinedDomain(KW("A"));
    }
    ~DirectoryFixture() override {
        EXPECT_EQ(directory.OpenBindings(), 0);  // every domain controller binding was released
    }

    static void Loaded(CScope& scope, int32_t type, const WChar* sid, const WChar* canonical,
                       const WChar* name) {
        scope.SetType(type);
        scope.SetSID(sid != nullptr ? WStringView(sid) : WStringView());
        scope.SetCanonicalName(canonical != nullptr ? WStringView(canonical) : WStringView());
        scope.SetName(name != nullptr ? WStringView(name) : WStringView());
    }

    FakeDirectory directory;
    LogCapture capture;
};

TEST_F(DirectoryFixture, UpdateByType) {
    struct Case {
        const char* what;
        int32_t type;
        const WChar* sid;
        int32_t result;
        const WChar* canonical;  // afterwards
        const WChar* name;
    };
    const Case cases[] = {
        // Units and domains take their names from the "SID" text, whatever was loaded.
        {"unit", ST_OU, KW("a.b/Sales"), 0, KW("a.b/Sales"), KW("a.b/Sales")},
        {"domain", ST_DOMAIN, KW("a.b"), 0, KW("a.b"), KW("a.b")},
        {"single unit", ST_SINGLEOU, KW("a.b/Sales"), 0, KW("a.b/Sales"), KW("a.b/Sales")},
        {"unit without SID", ST_OU, nullptr, 0, nullptr, nullptr},
        // A user: the canonical and principal names from the directory.
        {"user", ST_USERS, kJohnSid, 0, KW("a.b/Sales/John Smith"), KW("john.smith@a.b")},
        // A group: its canonical name serves as its name.
        {"group", ST_GROUPS, kGroupSid, 0, KW("a.b/Groups/Sales Staff"), KW("a.b/Groups/Sales Staff")},
        // A SID that is not one: the loaded names stay (a user's name was cleared first).
        {"user, malformed SID", ST_USERS, KW("S-1-x"), 0, KW("loaded/canonical"), nullptr},
        {"group, missing SID", ST_GROUPS, nullptr, 0, KW("loaded/canonical"), KW("loaded name")},
        // An account the directory does not know.
        {"unknown account", ST_USERS, KW("S-1-5-21-1-2-3-9999"), FakeDirectory::kNoneMapped,
         KW("loaded/canonical"), nullptr},
        {"unset type", ST_NONE, kJohnSid, 0, KW("loaded/canonical"), KW("loaded name")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CScope scope;
        Loaded(scope, c.type, c.sid, KW("loaded/canonical"), KW("loaded name"));
        EXPECT_EQ(scope.Update(capture.log), c.result) << capture.Dump();
        EXPECT_EQ(Narrow(scope.GetCanonicalName()), Narrow(c.canonical));
        EXPECT_EQ(Narrow(scope.GetName()), Narrow(c.name));
    }
    EXPECT_TRUE(capture.HasWithCode(kLogError, FakeDirectory::kNoneMapped,
                                    KW("Error looking up account name by SID 'S-1-5-21-1-2-3-9999'")));
}

TEST_F(DirectoryFixture, UpdateFailures) {
    // Faults are taken in order, and a fault with code 0 lets its call through: {0, 8453} fails the second
    // crack.
    struct Case {
        const char* what;
        FakeDirectory::Op op;
        std::vector<int32_t> codes;
        int32_t result;
        const WChar* canonical;
        const WChar* name;
        uint32_t level;
        const WChar* line;  // logged with the code (with the Windows code for the binding)
    };
    const Case cases[] = {
        // Without a controller nothing is cracked; the account name stays as the name.
        {"bind",
         FakeDirectory::Op::BindDomainController,
         {1355},
         1355,
         KW("loaded"),
         KW("jsmith"),
         kLogError,
         KW("Failed to bind a domain controller for domain 'A'.")},
        // The canonical name fails; the principal name is still cracked and decides the result.
        {"canonical name",
         FakeDirectory::Op::CrackName,
         {8453},
         0,
         KW("loaded"),
         KW("john.smith@a.b"),
         kLogError,
         KW("Error cracking name 'S-1-5-21-1-2-3-1104', unable to get canonical name.")},
        // The principal name fails: its code is the result and the account name stays as the name.
        {"principal name",
         FakeDirectory::Op::CrackName,
         {0, 8453},
         8453,
         KW("a.b/Sales/John Smith"),
         KW("jsmith"),
         kLogError,
         KW("Error cracking name 'S-1-5-21-1-2-3-1104', unable to get user principal name.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        for (int32_t code : c.codes)
            directory.FailNext(c.op, code);
        CScope scope;
        Loaded(scope, ST_USERS, kJohnSid, KW("loaded"), nullptr);
        EXPECT_EQ(scope.Update(log.log), c.result) << log.Dump();
        EXPECT_EQ(Narrow(scope.GetCanonicalName()), Narrow(c.canonical));
        EXPECT_EQ(Narrow(scope.GetName()), Narrow(c.name));
        if (c.op == FakeDirectory::Op::BindDomainController) {
            EXPECT_TRUE(log.HasSystemError(c.level, static_cast<uint32_t>(c.result), c.line)) << log.Dump();
        } else {
            EXPECT_TRUE(log.HasWithCode(c.level, 8453, c.line)) << log.Dump();
        }
    }

    // Answers that hold no name (a failed item, or no item at all) change nothing.
    directory.AddCrackAnswer(kDsUserPrincipalName, kJohnSid, CrackedName{true, 3, {}, {}});
    directory.AddCrackAnswer(kDsCanonicalName, kJohnSid, CrackedName{false, 0, {}, {}});
    CScope scope;
    Loaded(scope, ST_USERS, kJohnSid, KW("loaded"), nullptr);
    EXPECT_EQ(scope.Update(capture.log), 0);
    EXPECT_EQ(WString(scope.GetCanonicalName()), KW("loaded"));
    EXPECT_EQ(WString(scope.GetName()), KW("jsmith"));
}

TEST_F(DirectoryFixture, CreateUserScope) {
    struct Case {
        const char* what;
        const WChar* user;
        const WChar* domain;
        int32_t result;
        int32_t type;
        const WChar* canonical;
    };
    const Case cases[] = {
        {"given domain", KW("jsmith"), KW("a.b"), 0, ST_USERS, KW("a.b/Sales/John Smith")},
        {"joined domain", KW("jsmith"), nullptr, 0, ST_USERS, KW("a.b/Sales/John Smith")},
        {"unknown user", KW("nobody"), KW("a.b"), FakeDirectory::kNoneMapped, ST_NONE, nullptr},
        // No domain at all: the scope stays unresolved but the call succeeds.
        {"empty domain", KW("jsmith"), KW(""), 0, ST_NONE, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        CScope user;
        user.SetCanonicalName(KW("stale"));
        EXPECT_EQ(user.CreateUserScope(log.log, c.user, c.domain), c.result) << log.Dump();
        EXPECT_EQ(user.GetType(), c.type);
        EXPECT_EQ(Narrow(user.GetCanonicalName()), Narrow(c.canonical));
        EXPECT_TRUE(log.HasMessage(kLogDebug, Format(KW("Create user scope for '%s'."), c.user)));
        // An unresolved user scope matches no scope, not even a domain that covers everything.
        CScope domain;
        domain.SetType(ST_DOMAIN);
        domain.SetCanonicalName(KW("a"));
        bool matched = false;
        EXPECT_EQ(domain.Match(log.log, user, &matched), 0);
        EXPECT_EQ(matched, c.type == ST_USERS);
    }
}

TEST_F(DirectoryFixture, CreateUserScopeLogAndFailures) {
    CScope user;
    EXPECT_EQ(user.CreateUserScope(capture.log, KW("jsmith"), nullptr), 0);
    EXPECT_EQ(WString(user.GetSID()), kJohnSid);
    EXPECT_EQ(WString(user.GetName()), KW("john.smith@a.b"));
    EXPECT_TRUE(capture.HasMessage(kLogDebug, KW("User 'jsmith' should be in domain 'a.b'.")));
    EXPECT_TRUE(capture.HasMessage(kLogDebug, KW("Successfully created user scope for 'jsmith'.")));

    struct Case {
        const char* what;
        FakeDirectory::Op op;
        int32_t code;
        const WChar* line;  // logged at level Error with the code
    };
    const Case cases[] = {
        {"join information", FakeDirectory::Op::GetJoinedDomain, 2453,
         KW("No domain name provided and call to retrieve domain name failed.")},
        {"flat to DNS", FakeDirectory::Op::FlatToDnsDomain, 1355,
         KW("Failed to convert flat name 'A' to DNS name.")},
        {"SID", FakeDirectory::Op::GetUserSid, 1332,
         KW("Failed to get user SID for 'jsmith' in domain (DNS name) 'a.b'.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        directory.FailNext(c.op, c.code);
        CScope failed;
        EXPECT_EQ(failed.CreateUserScope(log.log, KW("jsmith"), nullptr), c.code);
        EXPECT_EQ(failed.GetType(), ST_NONE);
        EXPECT_TRUE(log.HasWithCode(kLogError, c.code, c.line)) << log.Dump();
    }

    // The names cannot be cracked: the user scope is still made, and matches less.
    directory.FailNext(FakeDirectory::Op::BindDomainController, 1355);
    CScope partial;
    EXPECT_EQ(partial.CreateUserScope(capture.log, KW("jsmith"), KW("a.b")), 0);
    EXPECT_EQ(partial.GetType(), ST_USERS);
    EXPECT_EQ(partial.GetCanonicalName(), nullptr);
    EXPECT_EQ(WString(partial.GetName()), KW("jsmith"));
}

}  // namespace
}  // namespace korva
