// A policy: its default rules, reading a policy element, whether it applies to a user, and testing a
// password.
#include <gtest/gtest.h>

#include "policy/policy.h"
#include "policy/rule_length.h"
#include "policy/scope.h"
#include "tests/policy/fake_directory.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

constexpr int32_t kInjected = static_cast<int32_t>(0x80070005u);

struct LoadedPolicy {
    int32_t result = 0;
    std::unique_ptr<CPolicy> policy;
};

LoadedPolicy LoadPolicy(CapturedLog& log, WStringView xml, const WChar* version = nullptr,
                        void (*inject)(const xml::Document&) = nullptr) {
    ParsedElement parsed = ParseElement(xml);
    if (inject != nullptr) {
        inject(*parsed.document);
    }
    LoadedPolicy loaded;
    loaded.policy = std::make_unique<CPolicy>();
    loaded.result = loaded.policy->LoadFromXML(log.log, parsed.element, version);
    return loaded;
}

TEST(PolicyTest, NewPolicyHoldsTheDisabledDefaultRules) {
    CPolicy policy;
    const RuleList& rules = policy.GetRules();
    const int32_t types[] = {2, 3, 1, 5, 5, 6, 7, 5, 8};
    ASSERT_EQ(rules.size(), std::size(types));
    for (size_t i = 0; i < rules.size(); ++i) {
        ASSERT_NE(rules[i], nullptr);
        EXPECT_EQ(rules[i]->GetType(), types[i]) << i;
        EXPECT_FALSE(rules[i]->IsEnabled()) << i;
    }
    // The three regular-expression rules: repeating characters, character requirements, plain.
    EXPECT_EQ(GetRegexKind(*rules[3]), 1);
    EXPECT_EQ(GetRegexKind(*rules[4]), 2);
    EXPECT_EQ(GetRegexKind(*rules[7]), 0);
    EXPECT_EQ(U8(rules[0]->GetDescription(kLangEnglish)), "The password must be at least 6 characters long.");
    EXPECT_EQ(U8(rules[1]->GetDescription(kLangDutch)), "Het wachtwoord mag maximaal 18 karakters bevatten.");
    EXPECT_EQ(U8(rules[2]->GetDescription(kLangEnglish)), "The password must be at least 1440 minutes old.");
    EXPECT_TRUE(policy.IsEnabled());
    EXPECT_EQ(policy.GetName(), nullptr);

    // Nothing is enabled, so nothing is tested and everything passes.
    CapturedLog log;
    bool verdict = false;
    std::vector<bool> results{true};
    EXPECT_EQ(
        policy.TestPassword(log.log, &verdict, nullptr, KW("x"), nullptr, nullptr, &results, kLangEnglish),
        0);
    EXPECT_TRUE(verdict);
    EXPECT_TRUE(results.empty());
}

TEST(PolicyTest, LoadResults) {
    struct Case {
        const char* what;
        const WChar* xml;
        int32_t result;
        const WChar* line;  // an Error line expected, or null
    };
    const Case cases[] = {
        {"no name", KW(R"(<Policy><Configuration>0</Configuration></Policy>)"), -12, nullptr},
        {"no children", KW(R"(<Policy name="P"/>)"), -12, KW("Policy is empty.")},
        {"bad configuration, then a rule", KW(R"(<Policy name="P"><Configuration>abc</Configuration>
               <Rule type="2"><Enabled>1</Enabled></Rule></Policy>)"),
         0, KW("Failed to convert value of Configuration to integer.")},
        {"bad configuration last", KW(R"(<Policy name="P"><Rule type="2"><Enabled>1</Enabled></Rule>
               <Configuration>abc</Configuration></Policy>)"),
         -11, KW("Failed to convert value of Configuration to integer.")},
        {"bad configuration, then something ignored",
         KW(R"(<Policy name="P"><Configuration>abc</Configuration><Note>x</Note></Policy>)"), -11, nullptr},
        {"unknown rule type", KW(R"(<Policy name="P"><Rule type="12"><Enabled>1</Enabled></Rule>
               <Scope type="3"><SID>a.b</SID></Scope></Policy>)"),
         -11, KW("An error occurred while loading rule from XML.")},
        {"empty rule", KW(R"(<Policy name="P"><Rule type="3"/></Policy>)"), -12,
         KW("An error occurred while loading rule from XML.")},
        {"scope without type", KW(R"(<Policy name="P"><Scope><SID>a.b</SID></Scope></Policy>)"), -11,
         KW("An error occurred loading policy from XML.")},
        {"only ignored children", KW(R"(<Policy name="P"><rule type="2"/><Note/></Policy>)"), 0, nullptr},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        LoadedPolicy loaded = LoadPolicy(log, c.xml);
        EXPECT_EQ(loaded.result, c.result) << c.what << "\n" << log.Dump();
        if (c.line != nullptr) {
            EXPECT_TRUE(log.Has(c.line, kLogError)) << c.what << "\n" << log.Dump();
        }
    }
    // A policy without a name is refused silently.
    CapturedLog log;
    LoadPolicy(log, KW(R"(<Policy><Configuration>0</Configuration></Policy>)"));
    EXPECT_TRUE(log.records.empty()) << log.Dump();
}

TEST(PolicyTest, ConfigurationBitZeroDisables) {
    struct Case {
        const WChar* configuration;
        bool enabled;
        uint32_t value;
    };
    const Case cases[] = {
        {KW("<Configuration>0</Configuration>"), true, 0},
        {KW("<Configuration>1</Configuration>"), false, 1},
        {KW("<Configuration>2</Configuration>"), true, 2},
        {KW("<Configuration>3</Configuration>"), false, 3},
        {KW("<Configuration>-1</Configuration>"), false, 0xFFFFFFFFu},
        {KW(""), true, 0},  // absent: enabled
    };
    for (const Case& c : cases) {
        CapturedLog log;
        const WString xml = KW("<Policy name=\"P\">") + WString(c.configuration) +
                            KW("<Rule type=\"2\"><Enabled>1</Enabled></Rule></Policy>");
        LoadedPolicy loaded = LoadPolicy(log, xml);
        ASSERT_EQ(loaded.result, 0) << U8(c.configuration);
        EXPECT_EQ(loaded.policy->IsEnabled(), c.enabled) << U8(c.configuration);
        EXPECT_EQ(loaded.policy->GetConfiguration(), c.value) << U8(c.configuration);
    }
}

TEST(PolicyTest, LoadKeepsDocumentRulesInOrderAndDropsTheDefaults) {
    CapturedLog log;
    LoadedPolicy loaded = LoadPolicy(log, KW(R"(<p:Policy xmlns:p="urn:p" name="Staff">
        <p:Rule type="3"><Enabled>1</Enabled></p:Rule>
        <Rule type="4"><Enabled>1</Enabled></Rule>
        <Scope type="3"><SID>a.b</SID><Name>Domain a.b</Name></Scope>
        <Rule type="2"><Enabled>0</Enabled></Rule>
      </p:Policy>)"));
    ASSERT_EQ(loaded.result, 0) << log.Dump();
    EXPECT_EQ(U8(loaded.policy->GetName()), "Staff");
    std::vector<int32_t> types;
    for (const auto& rule : loaded.policy->GetRules()) {
        types.push_back(rule->GetType());
    }
    EXPECT_EQ(types, (std::vector<int32_t>{3, 6, 7, 2}));
    EXPECT_EQ(loaded.policy->GetScopes().size(), 1u);
    EXPECT_TRUE(log.Has(KW("Successfully loaded scope 'Domain a.b'."), kLogDebug));
    EXPECT_TRUE(log.InOrder(KW("Load policy data from XML."), KW("Successfully loaded scope")));
}

TEST(PolicyTest, DomReadFailures) {
    struct Case {
        xml::Op op;
        const WChar* node;
        const WChar* line;
    };
    const Case cases[] = {
        {xml::Op::GetAttribute, KW("Policy"), KW("Failed to get name in attribute node.")},
        {xml::Op::HasChildren, KW("Policy"), KW("Failed to determine if policy node has children.")},
        {xml::Op::ChildNodes, KW("Policy"), KW("An error occurred getting policy data.")},
        {xml::Op::Text, KW("Configuration"), KW("Failed to get value of Configuration node.")},
        {xml::Op::BaseName, KW("Note"), KW("An error occurred getting base name of child.")},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        ParsedElement parsed =
            ParseElement(KW(R"(<Policy name="P"><Configuration>0</Configuration><Note/></Policy>)"));
        parsed.document->Faults().FailNext(c.op, kInjected, c.node);
        CPolicy policy;
        EXPECT_EQ(policy.LoadFromXML(log.log, parsed.element, nullptr), kInjected) << U8(c.line);
        log.ExpectLine(c.line, kLogError, kInjected);
    }
}

// Scopes and the user they are matched against; the fake directory answers the scopes' refresh.
class PolicyScopeTest : public ::testing::Test {
  protected:
    PolicyScopeTest() {
        user_.SetType(ST_USERS);
        user_.SetCanonicalName(KW("a.b/Users/Jo"));
        user_.SetName(KW("jo@a.b"));
    }
    int32_t Applies(const WChar* scopes, bool* applies) {
        const WString xml =
            KW("<Policy name=\"P\"><Configuration>0</Configuration>") + WString(scopes) + KW("</Policy>");
        loaded_ = LoadPolicy(log_, xml);
        EXPECT_EQ(loaded_.result, 0) << log_.Dump();
        return loaded_.policy->AppliesTo(log_.log, user_, applies);
    }
    FakeDirectory directory_;
    CapturedLog log_;
    CScope user_;
    LoadedPolicy loaded_;
};

TEST_F(PolicyScopeTest, AppliesWhenOneScopeMatches) {
    struct Case {
        const char* what;
        const WChar* scopes;
        bool applies;
        bool zeroResult;
    };
    const Case cases[] = {
        {"no scopes", KW(""), false, true},
        {"domain", KW(R"(<Scope type="3"><SID>a.b</SID></Scope>)"), true, true},
        {"other domain", KW(R"(<Scope type="3"><SID>c.d</SID></Scope>)"), false, true},
        {"second of two",
         KW(R"(<Scope type="3"><SID>c.d</SID></Scope><Scope type="2"><SID>a.b/Users</SID></Scope>)"), true,
         true},
        // The first scope cannot be refreshed (its SID is unknown to the directory); the second matches, so
        // the last scope operation succeeded.
        {"first scope fails",
         KW(R"(<Scope type="0"><SID>S-1-5-21-1-2-3-500</SID></Scope><Scope type="3"><SID>a.b</SID></Scope>)"),
         true, true},
        // Only a failing scope: the result is its failure.
        {"only a failing scope", KW(R"(<Scope type="0"><SID>S-1-5-21-1-2-3-500</SID></Scope>)"), false,
         false},
    };
    for (const Case& c : cases) {
        log_.Clear();
        bool applies = !c.applies;
        const int32_t result = Applies(c.scopes, &applies);
        EXPECT_EQ(applies, c.applies) << c.what << "\n" << log_.Dump();
        EXPECT_EQ(result == 0, c.zeroResult) << c.what << " " << result;
        EXPECT_EQ(log_.Has(KW("Policy P does not apply."), kLogDebug), !c.applies) << c.what;
        EXPECT_EQ(log_.Has(KW("Policy P does applies."), kLogDebug), c.applies) << c.what;
    }
}

TEST_F(PolicyScopeTest, ScopeFailuresAreLoggedWithThePolicyName) {
    bool applies = true;
    const int32_t result = Applies(KW(R"(<Scope type="0"><SID>S-1-5-21-1-2-3-500</SID></Scope>)"), &applies);
    EXPECT_FALSE(applies);
    log_.ExpectLine(KW("Failed updating scope 'P'."), kLogError, result);

    // A user that could not be resolved matches nothing, without an error.
    CScope unresolved;
    LoadedPolicy loaded =
        LoadPolicy(log_, KW(R"(<Policy name="Q"><Scope type="3"><SID>a.b</SID></Scope></Policy>)"));
    EXPECT_EQ(loaded.policy->AppliesTo(log_.log, unresolved, &applies), 0);
    EXPECT_FALSE(applies);
}

// Password tests over rules read from XML.
class PolicyPasswordTest : public ::testing::Test {
  protected:
    void Load(const WChar* rules) {
        const WString xml = KW("<Policy name=\"P\">") + WString(rules) + KW("</Policy>");
        loaded_ = LoadPolicy(log_, xml);
        ASSERT_EQ(loaded_.result, 0) << log_.Dump();
        user_.SetType(ST_USERS);
        user_.SetName(KW("jo@a.b"));
        user_.SetCanonicalName(KW("a.b/Users/Jo"));
    }
    int32_t Test(const WChar* password, uint32_t language = kLangEnglish) {
        results_.clear();
        feedback_ = KW("Header");
        verdict_ = !verdict_;
        return loaded_.policy->TestPassword(log_.log, &verdict_, &user_, password, KW("old"), &feedback_,
                                            &results_, language);
    }
    FakeDirectory directory_;
    CapturedLog log_;
    CScope user_;
    LoadedPolicy loaded_;
    bool verdict_ = false;
    std::vector<bool> results_;
    WString feedback_;
};

constexpr const WChar* kThreeRules = KW(R"(
    <Rule type="2"><Enabled>1</Enabled><MinimumLength>3</MinimumLength><Description>at least 3</Description></Rule>
    <Rule type="3"><Enabled>1</Enabled><MaximumLength>4</MaximumLength><Description>at most 4</Description>
      <Description languageid="7">höchstens 4</Description></Rule>
    <Rule type="2"><Enabled>0</Enabled><MinimumLength>50</MinimumLength></Rule>
    <Rule type="2"><Enabled>1</Enabled><MinimumLength>2</MinimumLength><Description>at least 2</Description></Rule>)");

TEST_F(PolicyPasswordTest, SecondOfThreeRulesRejects) {
    Load(kThreeRules);
    EXPECT_EQ(Test(KW("abcdef")), 0);
    EXPECT_FALSE(verdict_);
    // The disabled rule adds no result.
    EXPECT_EQ(results_, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(U8(feedback_), "Header\r\n - at most 4\r\n");
    EXPECT_TRUE(
        log_.Has(KW("Successfully tested password for userscope 'jo@a.b', result: rejected"), kLogDebug));
    EXPECT_TRUE(
        log_.Has(KW("Successfully tested password for userscope 'jo@a.b', result: accepted"), kLogDebug));

    EXPECT_EQ(Test(KW("abcdef"), kLangGerman), 0);
    EXPECT_EQ(U8(feedback_), "Header\r\n - höchstens 4\r\n");
    // French has no text for the rule: English.
    EXPECT_EQ(Test(KW("abcdef"), kLangFrench), 0);
    EXPECT_EQ(U8(feedback_), "Header\r\n - at most 4\r\n");

    EXPECT_EQ(Test(KW("abcd")), 0);
    EXPECT_TRUE(verdict_);
    EXPECT_EQ(results_, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(U8(feedback_), "Header\r\n");
}

TEST_F(PolicyPasswordTest, AllRulesDisabled) {
    Load(KW(R"(<Rule type="2"><Enabled>0</Enabled><MinimumLength>50</MinimumLength></Rule>
               <Rule type="3"><MaximumLength>1</MaximumLength></Rule>)"));
    EXPECT_EQ(Test(KW("abcdef")), 0);
    EXPECT_TRUE(verdict_);
    EXPECT_TRUE(results_.empty());
    EXPECT_EQ(U8(feedback_), "Header\r\n");
}

TEST_F(PolicyPasswordTest, RuleThatCannotBeEvaluatedEndsTheTest) {
    // The minimum-age rule needs the directory; the fake knows no such user, so the rule fails.
    Load(KW(R"(<Rule type="2"><Enabled>1</Enabled><MinimumLength>3</MinimumLength></Rule>
               <Rule type="1"><Enabled>1</Enabled><MinimumAge>0</MinimumAge></Rule>
               <Rule type="3"><Enabled>1</Enabled><MaximumLength>1</MaximumLength></Rule>)"));
    EXPECT_EQ(Test(KW("abcdef")), FakeDirectory::kCrackFailed);
    // Only the rule before counts; the maximum rule after it was never tested.
    EXPECT_TRUE(verdict_);
    EXPECT_EQ(results_, (std::vector<bool>{true}));
    log_.ExpectLine(KW("An error occurred while testing password for userscope 'jo@a.b'"), kLogError,
                    FakeDirectory::kCrackFailed);
    EXPECT_FALSE(log_.Has(KW("Checking maximum length rule")));
}

TEST_F(PolicyPasswordTest, NullRuleStopsTheLoop) {
    Load(KW(R"(<Rule type="3"><Enabled>1</Enabled><MaximumLength>2</MaximumLength></Rule>
               <Rule type="3"><Enabled>1</Enabled><MaximumLength>1</MaximumLength></Rule>)"));
    auto& rules = loaded_.policy->Rules();
    rules.insert(rules.begin() + 1, nullptr);
    EXPECT_EQ(Test(KW("ab")), 0);
    EXPECT_TRUE(verdict_);
    EXPECT_EQ(results_, (std::vector<bool>{true}));
    log_.ExpectLine(KW("An error occurred while testing password for userscope 'jo@a.b', empty rule."),
                    kLogError, -16);
}

TEST_F(PolicyPasswordTest, RuleWithoutAnyDescriptionIsNamedInTheFeedback) {
    Load(KW(R"(<Rule type="3"><Enabled>1</Enabled><MaximumLength>2</MaximumLength>
                 <Description languageid="19">maximaal 2</Description></Rule>)"));
    EXPECT_EQ(Test(KW("abc"), kLangGerman), 0);
    EXPECT_FALSE(verdict_);
    EXPECT_EQ(U8(feedback_), "Header\r\n - Maximum Password Length\r\n");
}

TEST_F(PolicyPasswordTest, DescriptionsOfEnabledRules) {
    Load(KW(R"(
        <Rule type="2"><Enabled>1</Enabled><Description>min</Description><Description languageid="7">min de</Description></Rule>
        <Rule type="2"><Enabled>0</Enabled><Description>disabled</Description></Rule>
        <Rule type="3"><Enabled>1</Enabled><Description languageid="19">alleen nl</Description></Rule>)"));
    std::vector<WString> descriptions{KW("stale")};
    EXPECT_EQ(loaded_.policy->GetRuleDescriptions(log_.log, &descriptions, kLangGerman), 0);
    ASSERT_EQ(descriptions.size(), 2u);
    EXPECT_EQ(U8(descriptions[0]), "min de");
    EXPECT_TRUE(descriptions[1].empty());  // neither German nor English
    EXPECT_EQ(loaded_.policy->GetRuleDescriptions(log_.log, &descriptions, kLangFrench), 0);
    EXPECT_EQ(U8(descriptions[0]), "min");
}

}  // namespace
}  // namespace korva::testing
