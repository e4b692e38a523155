// The minimum password age rule: the unit of its value by document version, and the age read from the
// directory against a controlled clock.
#include <gtest/gtest.h>

#include <functional>

#include "platform/clock.h"
#include "policy/rule_min_age.h"
#include "policy/scope.h"
#include "tests/policy/fake_directory.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

constexpr int64_t kSecond = platform::kFileTimeTicksPerSecond;
constexpr int64_t kMinute = 60 * kSecond;
constexpr int64_t kHour = 60 * kMinute;
constexpr int32_t kInjected = static_cast<int32_t>(0x80070005u);

TEST(MinimumAgeTest, UnitDependsOnDocumentVersion) {
    struct Case {
        const WChar* version;  // null: the document has no version
        int32_t minutes;
    };
    const Case cases[] = {
        {nullptr, 2880},          {KW("1.7"), 2880},
        {KW("1.8.0.1036"), 2880}, {KW("1.8"), 2880},  // the missing parts count as -1: older than 1.8.0.1037
        {KW("1.8.0.1037"), 2},    {KW("1.8.1"), 2},
        {KW("2.0"), 2},           {KW("1.8.0.1037.9"), 2},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        ParsedElement parsed =
            ParseElement(KW(R"(<Rule type="1"><Enabled>1</Enabled><MinimumAge>2</MinimumAge></Rule>)"));
        CRuleHistoryMinimumAge rule;
        EXPECT_EQ(rule.LoadFromXML(log.log, parsed.element, c.version), 0);
        const std::string label = c.version != nullptr ? U8(c.version) : "(none)";
        EXPECT_EQ(rule.GetMinimumMinutes(), c.minutes) << label;
        EXPECT_EQ(
            log.Has(KW("Successfully converted the minimum password age in days to minimum password age in "
                       "minutes.")),
            c.minutes == 2880)
            << label;
        EXPECT_TRUE(log.Has(KW("Successfully set value of minimum password age."), kLogDebug)) << label;
    }
}

TEST(MinimumAgeTest, MissingOrBadValueIsOneDayWhateverTheVersion) {
    struct Case {
        const WChar* child;
        const WChar* version;
        bool conversionError;
    };
    const Case cases[] = {
        {KW("<MinimumAge>one</MinimumAge>"), nullptr, true},
        {KW("<MinimumAge>one</MinimumAge>"), KW("1.8.0.1037"), true},
        {KW("<MinimumAge>1.5</MinimumAge>"), KW("2.0"), true},
        {KW(""), nullptr, false},
        {KW(""), KW("9.9"), false},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        const WString xml = KW("<Rule type=\"1\"><Enabled>1</Enabled>") + WString(c.child) + KW("</Rule>");
        ParsedElement parsed = ParseElement(xml);
        CRuleHistoryMinimumAge rule;
        EXPECT_EQ(rule.LoadFromXML(log.log, parsed.element, c.version), 0) << U8(c.child);
        EXPECT_EQ(rule.GetMinimumMinutes(), 1440) << U8(c.child);
        EXPECT_EQ(log.Has(KW("Failed to convert value of minimum password age to integer.")),
                  c.conversionError);
    }
}

TEST(MinimumAgeTest, HugeDayCountsAreHeldAtTheLargestAge) {
    CapturedLog log;
    ParsedElement parsed = ParseElement(KW(R"(<Rule type="1"><MinimumAge>2000000</MinimumAge></Rule>)"));
    CRuleHistoryMinimumAge rule;
    ASSERT_EQ(rule.LoadFromXML(log.log, parsed.element, nullptr), 0);
    // Wrapping would turn this into a negative age that every password passes.
    EXPECT_EQ(rule.GetMinimumMinutes(), 2147483647);
}

TEST(MinimumAgeTest, LoadFailures) {
    struct Case {
        xml::Op op;
        const WChar* node;
        const WChar* line;
    };
    const Case cases[] = {
        {xml::Op::HasChildren, KW("Rule"), KW("Failed to determine if rule node has children.")},
        {xml::Op::ChildNodes, KW("Rule"), KW("An error occurred getting minimum password age rule data.")},
        {xml::Op::Text, KW("MinimumAge"), KW("Failed to get value of minimum password age node.")},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        ParsedElement parsed = ParseElement(KW(R"(<Rule type="1"><MinimumAge>3</MinimumAge></Rule>)"));
        parsed.document->Faults().FailNext(c.op, kInjected, c.node);
        CRuleHistoryMinimumAge rule;
        EXPECT_EQ(rule.LoadFromXML(log.log, parsed.element, nullptr), kInjected);
        log.ExpectLine(c.line, kLogError, kInjected);
    }
}

// A user in the fake directory and a clock the test controls.
class MinimumAgeTestWithDirectory : public ::testing::Test {
  protected:
    static constexpr const WChar* kCanonical = KW("a.b/Users/Jo");
    static constexpr const WChar* kDn = KW("CN=Jo,CN=Users,DC=a,DC=b");

    MinimumAgeTestWithDirectory() : clockOverride_(&clock_) {
        platform::SystemTime now{2024, 3, 0, 15, 12, 0, 0, 0};
        int64_t fileTime = 0;
        EXPECT_TRUE(platform::SystemTimeToFileTime(now, &fileTime));
        clock_.now = fileTime;
        directory_.AddCanonicalName(kCanonical, kDn);
        user_ = &directory_.AddObject(kDn);
        scope_.SetType(ST_USERS);
        scope_.SetCanonicalName(kCanonical);
    }

    void SetLastSet(int64_t ticksAgo) { user_->SetLargeInteger(KW("pwdLastSet"), clock_.now - ticksAgo); }

    int32_t RunTest(int32_t minimumMinutes, bool* valid) {
        CRuleHistoryMinimumAge rule({}, minimumMinutes);
        *valid = true;
        const int32_t result = rule.Test(log_.log, valid, &scope_, KW("new"), nullptr, KW("old"));
        // Whatever happened, the user object was released.
        EXPECT_EQ(directory_.OpenObjects(), 0);
        return result;
    }

    platform::FakeClock clock_;
    platform::ScopedClockOverride clockOverride_;
    FakeDirectory directory_;
    FakeDirectory::Object* user_ = nullptr;
    CScope scope_;
    CapturedLog log_;
};

TEST_F(MinimumAgeTestWithDirectory, AgeInWholeMinutes) {
    struct Case {
        int64_t ticksAgo;
        int32_t minimumMinutes;
        bool valid;
    };
    const Case cases[] = {
        {23 * kHour + 59 * kMinute, 1440, false},
        {24 * kHour, 1440, true},
        {59 * kSecond + 9 * kSecond / 10, 1, false},  // 59.9 seconds is 0 whole minutes
        {kMinute, 1, true},
        {0, 0, true},
        {-30 * kSecond, 0, true},  // under a minute in the future truncates to 0
        {-2 * kMinute, 0, false},  // further in the future: a negative age
        {-2 * kMinute, -2, true},
        {30 * 24 * kHour, 2147483647, false},
    };
    for (const Case& c : cases) {
        log_.Clear();
        SetLastSet(c.ticksAgo);
        bool valid = !c.valid;
        EXPECT_EQ(RunTest(c.minimumMinutes, &valid), 0) << c.ticksAgo << log_.Dump();
        EXPECT_EQ(valid, c.valid) << c.ticksAgo << " " << c.minimumMinutes;
        EXPECT_TRUE(log_.Has(c.valid ? KW("Checking minium age rule, password valid = TRUE\r")
                                     : KW("Checking minium age rule, password valid = FALSE\r"),
                             kLogDebug));
    }
    // The user is found through the canonical name and bound by its distinguished name.
    EXPECT_EQ(directory_.CountCalls(KW("BindObject LDAP://CN=Jo,CN=Users,DC=a,DC=b")), std::size(cases));
    EXPECT_TRUE(log_.Has(KW("Created LDAP query: LDAP://CN=Jo,CN=Users,DC=a,DC=b"), kLogDebug));
}

TEST_F(MinimumAgeTestWithDirectory, PasswordThatMustChangeAtNextLogonIsOldEnough) {
    // pwdLastSet 0 is 1 January 1601: an age of centuries.
    user_->SetLargeInteger(KW("pwdLastSet"), 0);
    bool valid = false;
    EXPECT_EQ(RunTest(525600, &valid), 0);
    EXPECT_TRUE(valid);
    // A value that is not an object (a text, say) counts as 0 as well.
    user_->SetText(KW("pwdLastSet"), KW("133000000000000000"));
    EXPECT_EQ(RunTest(1440, &valid), 0);
    EXPECT_TRUE(valid);
}

TEST_F(MinimumAgeTestWithDirectory, DirectoryFailuresEndTheTestWithValidFalse) {
    struct Case {
        const char* what;
        std::function<void(FakeDirectory&, FakeDirectory::Object&)> arrange;
        int32_t result;
        const WChar* line;
        uint32_t code;  // the code in that line
    };
    const Case cases[] = {
        {"canonical name unknown",
         [](FakeDirectory& d, FakeDirectory::Object&) {
             d.FailNext(FakeDirectory::Op::CanonicalToDistinguishedName, -6);
         },
         -6, KW("Failed to convert canonical name 'a.b/Users/Jo' to distinguished name."),
         static_cast<uint32_t>(-6)},
        {"bind",
         [](FakeDirectory& d, FakeDirectory::Object&) {
             d.FailNext(FakeDirectory::Op::BindObject, kInjected);
         },
         kInjected, KW("Failed to bind user object in Active Directoy."), static_cast<uint32_t>(kInjected)},
        {"property cache",
         [](FakeDirectory& d, FakeDirectory::Object&) { d.FailNext(FakeDirectory::Op::GetInfo, kInjected); },
         kInjected, KW("Failed to load property cache of bound object."), static_cast<uint32_t>(kInjected)},
        {"no pwdLastSet", [](FakeDirectory&, FakeDirectory::Object& u) { u.attributes.clear(); },
         kEAdsPropertyNotFound, KW("Unable to get time and date of last password change from bound object."),
         static_cast<uint32_t>(kEAdsPropertyNotFound)},
        {"not a large integer",
         [](FakeDirectory&, FakeDirectory::Object& u) { u.SetOtherObject(KW("pwdLastSet")); }, kENoInterface,
         KW("Unable to query interface of pwdLastSet object."), static_cast<uint32_t>(kENoInterface)},
        {"negative time",
         [](FakeDirectory&, FakeDirectory::Object& u) { u.SetLargeInteger(KW("pwdLastSet"), -1); }, -23,
         KW("Unable to convert date object to systemtime."), static_cast<uint32_t>(-23)},
    };
    for (const Case& c : cases) {
        log_.Clear();
        SetLastSet(48 * kHour);
        c.arrange(directory_, *user_);
        bool valid = true;
        EXPECT_EQ(RunTest(0, &valid), c.result) << c.what;
        EXPECT_FALSE(valid) << c.what;
        const LogRecord& line = log_.Get(c.line);
        EXPECT_EQ(line.level, kLogError) << c.what;
        EXPECT_EQ(line.code, c.code) << c.what;
        // The rule adds its own summary with the same code.
        log_.ExpectLine(KW("Failed to get last password changed date/time."), kLogError, c.result);
    }
}

}  // namespace
}  // namespace korva::testing
