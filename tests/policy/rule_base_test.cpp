// The rule base: strict integers, attributes by local name, the shared rule children and the rule factory.
#include <gtest/gtest.h>

#include "platform/format.h"
#include "policy/rule_base.h"
#include "policy/rule_length.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

constexpr int32_t kInjected = static_cast<int32_t>(0x80070005u);

TEST(StringToIntTest, AcceptsOnlyStrictDecimalText) {
    struct Case {
        const WChar* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {KW("0"), true, 0},
        {KW("42"), true, 42},
        {KW("-17"), true, -17},
        {KW("007"), true, 7},
        {KW("-"), true, 0},  // a lone minus is the number 0
        {KW("2147483647"), true, 2147483647},
        {KW("-2147483648"), true, -2147483647 - 1},
        {KW("2147483648"), false, 0},  // does not fit in 32 bits: not a number
        {KW("-2147483649"), false, 0},
        {KW("99999999999999999999"), false, 0},
        {KW(""), false, 0},
        {nullptr, false, 0},
        {KW("+5"), false, 0},
        {KW(" 5"), false, 0},
        {KW("5 "), false, 0},
        {KW("1.5"), false, 0},
        {KW("true"), false, 0},
        {KW("--1"), false, 0},
        {KW("1-"), false, 0},
    };
    for (const Case& c : cases) {
        int32_t value = 123;
        const bool ok = StringToInt(c.text, &value);
        const std::string label = c.text != nullptr ? U8(c.text) : "(null)";
        EXPECT_EQ(ok, c.ok) << label;
        // The target is always written, also on failure (callers apply their own fallback).
        EXPECT_EQ(value, c.value) << label;
    }
}

TEST(ReadAttributeTest, MatchesLocalNameIgnoringCase) {
    CapturedLog log;
    struct Case {
        const WChar* xml;
        int32_t status;
        const WChar* value;
    };
    const Case cases[] = {
        {KW(R"(<P version="1.8"/>)"), 0, KW("1.8")},
        {KW(R"(<P VERSION="2.0"/>)"), 0, KW("2.0")},
        {KW(R"(<P Version="3"/>)"), 0, KW("3")},
        {KW(R"(<P xmlns:n="urn:x" n:version="4"/>)"), 0,
         KW("4")},  // the prefix is not part of the local name
        {KW(R"(<P a="1" version="5" VERSION="6"/>)"), 0, KW("5")},  // the first match wins
        {KW(R"(<P versions="1"/>)"), 1, KW("")},
        {KW(R"(<P/>)"), 1, KW("")},
    };
    for (const Case& c : cases) {
        ParsedElement parsed = ParseElement(c.xml);
        WString value = KW("stale");
        EXPECT_EQ(ReadAttribute(log.log, parsed.element, KW("version"), &value), c.status) << U8(c.xml);
        EXPECT_EQ(U8(value), U8(c.value)) << U8(c.xml);
    }
    // Neither a match nor an absent attribute writes anything to the log.
    EXPECT_TRUE(log.records.empty()) << log.Dump();
}

TEST(ReadAttributeTest, SkipsAnAttributeWhoseNameCannotBeReadAndReportsAValueFailure) {
    CapturedLog log;
    ParsedElement parsed = ParseElement(KW(R"(<P version="1" Version="2"/>)"));
    parsed.document->Faults().FailNext(xml::Op::AttributeName, kInjected, KW("version"));
    WString value;
    // The first attribute's name fails: it is skipped, the walk finds the second.
    EXPECT_EQ(ReadAttribute(log.log, parsed.element, KW("version"), &value), 0);
    EXPECT_EQ(U8(value), "2");
    log.ExpectLine(KW("An error occurred getting base name of child."), kLogError, kInjected);

    ParsedElement other = ParseElement(KW(R"(<P version="1"/>)"));
    other.document->Faults().FailNext(xml::Op::AttributeValue, kInjected);
    EXPECT_EQ(ReadAttribute(log.log, other.element, KW("version"), &value), kInjected);
    EXPECT_TRUE(value.empty());
    log.ExpectLine(KW("Failed to get value of attribute."), kLogError, kInjected);
}

// The base part of a rule, tested through the simplest concrete rule.
class SharedChildrenTest : public ::testing::Test {
  protected:
    int32_t Load(const WChar* xml) {
        parsed_ = ParseElement(xml);
        return rule_.LoadFromXML(log_.log, parsed_.element, nullptr);
    }
    CapturedLog log_;
    ParsedElement parsed_;
    CRuleLengthMinimum rule_;
};

TEST_F(SharedChildrenTest, EnabledFollowsTheNumber) {
    struct Case {
        const WChar* xml;
        bool enabled;
        bool conversionError;
    };
    const Case cases[] = {
        {KW(R"(<Rule type="2"><Enabled>1</Enabled></Rule>)"), true, false},
        {KW(R"(<Rule type="2"><Enabled>5</Enabled></Rule>)"), true, false},
        {KW(R"(<Rule type="2"><Enabled>0</Enabled></Rule>)"), false, false},
        {KW(R"(<Rule type="2"><Enabled>-3</Enabled></Rule>)"), false, false},
        {KW(R"(<Rule type="2"><Enabled>true</Enabled></Rule>)"), false, true},
        {KW(R"(<Rule type="2"><MinimumLength>3</MinimumLength></Rule>)"), false, false},  // absent: disabled
        {KW(R"(<Rule type="2"><enabled>1</enabled></Rule>)"), false, false},  // names are case-sensitive
        // A later Enabled decides; a bad one leaves the earlier value.
        {KW(R"(<Rule type="2"><Enabled>1</Enabled><Enabled>x</Enabled></Rule>)"), true, true},
        {KW(R"(<Rule type="2"><Enabled>1</Enabled><Enabled>0</Enabled></Rule>)"), false, false},
    };
    for (const Case& c : cases) {
        log_.Clear();
        CRuleLengthMinimum fresh;
        ParsedElement parsed = ParseElement(c.xml);
        EXPECT_EQ(fresh.LoadFromXML(log_.log, parsed.element, nullptr), 0) << U8(c.xml);
        EXPECT_EQ(fresh.IsEnabled(), c.enabled) << U8(c.xml);
        EXPECT_EQ(log_.Has(KW("Failed to convert value of enabled node to bool.")), c.conversionError)
            << U8(c.xml);
    }
}

TEST_F(SharedChildrenTest, DescriptionsByLanguage) {
    EXPECT_EQ(Load(KW(R"(<Rule type="2">
        <Description languageid="9">first</Description>
        <Description LanguageID="9">second</Description>
        <Description languageid="19">Nederlands</Description>
        <Description languageid="x7">bad id</Description>
        <Description languageid="1031">any number</Description>
        <Description languageid=" 7">blank</Description>
      </Rule>)")),
              0);
    // Of two English texts the second wins; a non-numeric id means English, so "bad id" and "blank" replace
    // it.
    EXPECT_EQ(U8(rule_.GetDescription(kLangEnglish)), "blank");
    EXPECT_EQ(U8(rule_.GetDescription(kLangDutch)), "Nederlands");
    EXPECT_EQ(U8(rule_.GetDescription(1031)), "any number");
    // French has no text: English.
    EXPECT_EQ(U8(rule_.GetDescription(kLangFrench)), "blank");
    EXPECT_TRUE(log_.Has(KW("Failed to convert value of languageid attribute to integer."), kLogDebug));
}

TEST_F(SharedChildrenTest, DutchOnlyDescriptionIsNotShownInOtherLanguages) {
    EXPECT_EQ(Load(KW(R"(<Rule type="2"><Description languageid="19">alleen</Description></Rule>)")), 0);
    EXPECT_EQ(U8(rule_.GetDescription(kLangDutch)), "alleen");
    EXPECT_EQ(rule_.GetDescription(kLangEnglish), nullptr);
    EXPECT_EQ(rule_.GetDescription(kLangGerman), nullptr);
}

TEST_F(SharedChildrenTest, BaseResultRemembersAnAbsentLanguageAttribute) {
    // The base loader's own result carries S_FALSE for a Description without languageid; the concrete rules
    // ignore it, so the rule still loads with 0.
    ParsedElement parsed = ParseElement(KW(R"(<Rule type="2"><Description>x</Description></Rule>)"));
    CRuleLengthMinimum rule;
    EXPECT_EQ(rule.CRuleBase::LoadFromXML(log_.log, parsed.element, nullptr), 1);
    EXPECT_EQ(rule.LoadFromXML(log_.log, parsed.element, nullptr), 0);
}

TEST_F(SharedChildrenTest, ReadFailuresOfSharedChildren) {
    struct Case {
        xml::Op op;
        const WChar* node;
        const WChar* line;
        int32_t result;
    };
    const Case cases[] = {
        {xml::Op::HasChildren, KW("Rule"), KW("Failed to determine if rule node has children."), kInjected},
        {xml::Op::ChildNodes, KW("Rule"), KW("An error occurred getting rule data."), kInjected},
        {xml::Op::Text, KW("Enabled"), KW("Failed to get value of enabled node."), kInjected},
        {xml::Op::Text, KW("Description"), KW("Failed to get value of description node."), kInjected},
        // A child's name that cannot be read is remembered and the walk goes on.
        {xml::Op::BaseName, KW("Enabled"), KW("An error occurred getting base name of child."), kInjected},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        ParsedElement parsed = ParseElement(
            KW(R"(<Rule type="2"><Enabled>1</Enabled><Description languageid="9">d</Description></Rule>)"));
        parsed.document->Faults().FailNext(c.op, kInjected, c.node);
        CRuleLengthMinimum rule;
        EXPECT_EQ(rule.CRuleBase::LoadFromXML(log.log, parsed.element, nullptr), c.result) << U8(c.line);
        log.ExpectLine(c.line, kLogError, kInjected);
    }
}

TEST(RuleBaseTest, EmptyRuleElement) {
    CapturedLog log;
    ParsedElement parsed = ParseElement(KW(R"(<Rule type="2"/>)"));
    CRuleLengthMinimum rule;
    EXPECT_EQ(rule.CRuleBase::LoadFromXML(log.log, parsed.element, nullptr), kResultEmpty);
    log.ExpectLine(KW("Rule is empty."), kLogError, kResultEmpty);
}

// --- The rule factory ---

struct FactoryOutcome {
    int32_t result;
    RuleList rules;
};

FactoryOutcome RunFactory(CapturedLog& log, const WChar* xml, const WChar* version = nullptr) {
    ParsedElement parsed = ParseElement(xml);
    FactoryOutcome outcome;
    outcome.result = CreateRule(log.log, parsed.element, &outcome.rules, version);
    return outcome;
}

TEST(CreateRuleTest, CreatesTheClassesOfEachType) {
    struct Case {
        const WChar* type;
        std::vector<int32_t> types;
        const WChar* name;
    };
    const Case cases[] = {
        {KW("1"), {1}, KW("Minimum Password Age")},
        {KW("2"), {2}, KW("Minimum Password Length")},
        {KW("3"), {3}, KW("Maximum Password Length")},
        {KW("4"), {6, 7}, KW("Name Similarities")},  // two rules from one element, name similarity first
        {KW("5"), {5}, KW("Regular Expression")},
        {KW("6"), {6}, KW("Name Similarities")},
        {KW("7"), {7}, KW("Password Similarities")},
        {KW("8"), {8}, KW("Blacklist")},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        const WString xml = KW("<Rule type=\"") + WString(c.type) + KW("\"><Enabled>1</Enabled></Rule>");
        FactoryOutcome outcome = RunFactory(log, xml.c_str());
        // A Rule element of type 5 without Regex, or 8 without a blacklist, still loads.
        EXPECT_GE(outcome.result, 0) << U8(c.type) << log.Dump();
        ASSERT_EQ(outcome.rules.size(), c.types.size()) << U8(c.type);
        for (size_t i = 0; i < c.types.size(); ++i) {
            EXPECT_EQ(outcome.rules[i]->GetType(), c.types[i]) << U8(c.type);
            EXPECT_TRUE(outcome.rules[i]->IsEnabled()) << U8(c.type);
        }
        EXPECT_EQ(U8(GetRuleName(outcome.rules[0].get())), U8(c.name));
        // The debug line names the first rule's type (6 for type 4).
        const WString line = Format(KW("Successfully loaded rule of type:'%d'."), c.types[0]);
        EXPECT_TRUE(log.Has(line, kLogDebug)) << U8(c.type) << log.Dump();
        EXPECT_TRUE(log.Has(KW("Successfully determined rule type."), kLogDebug));
    }
}

TEST(CreateRuleTest, RejectsMissingAndUnknownTypes) {
    struct Case {
        const WChar* xml;
        bool conversionError;
        bool unknownType;
    };
    const Case cases[] = {
        {KW(R"(<Rule><Enabled>1</Enabled></Rule>)"), false, false},  // no type: -11 and no log line at all
        {KW(R"(<Rule type="0"><Enabled>1</Enabled></Rule>)"), false, true},
        {KW(R"(<Rule type="9"><Enabled>1</Enabled></Rule>)"), false, true},
        {KW(R"(<Rule type="-1"><Enabled>1</Enabled></Rule>)"), false, true},
        {KW(R"(<Rule type=" 2"><Enabled>1</Enabled></Rule>)"), true, true},
        {KW(R"(<Rule type="two"><Enabled>1</Enabled></Rule>)"), true, true},
        {KW(R"(<Rule Type="2"><Enabled>1</Enabled></Rule>)"), false, false},  // "type" is matched exactly
    };
    for (const Case& c : cases) {
        CapturedLog log;
        FactoryOutcome outcome = RunFactory(log, c.xml);
        EXPECT_EQ(outcome.result, kResultInvalidValue) << U8(c.xml);
        EXPECT_TRUE(outcome.rules.empty()) << U8(c.xml);
        EXPECT_EQ(log.Has(KW("Failed to convert value of type attribute to integer.")), c.conversionError);
        EXPECT_EQ(log.Has(KW("Unknown rule type detected.")), c.unknownType) << U8(c.xml);
        if (!c.conversionError && !c.unknownType) {
            EXPECT_TRUE(log.records.empty()) << log.Dump();
        } else {
            log.ExpectLine(KW("Unknown rule type detected."), kLogError, kResultInvalidValue);
        }
    }
}

TEST(CreateRuleTest, FailedLoadKeepsTheRuleAndReportsTheFamily) {
    CapturedLog log;
    // An empty Rule element of type 2: the rule's load fails with -12, the rule is appended all the same.
    FactoryOutcome outcome = RunFactory(log, KW(R"(<Rule type="2"></Rule>)"));
    EXPECT_EQ(outcome.result, kResultEmpty);
    ASSERT_EQ(outcome.rules.size(), 1u);
    log.ExpectLine(KW("Failed to load minimum length rule from XML."), kLogError, kResultEmpty);

    CapturedLog log4;
    FactoryOutcome both = RunFactory(log4, KW(R"(<Rule type="4"/>)"));
    EXPECT_EQ(both.result, kResultEmpty);
    EXPECT_EQ(both.rules.size(), 2u);
    EXPECT_TRUE(log4.InOrder(KW("Failed to load name similarity rule from XML."),
                             KW("Failed to load password similarity rule from XML.")))
        << log4.Dump();
}

TEST(CreateRuleTest, AppendsAfterExistingRulesAndReportsAttributeFailures) {
    CapturedLog log;
    ParsedElement parsed = ParseElement(KW(R"(<Rule type="3"><MaximumLength>9</MaximumLength></Rule>)"));
    RuleList rules;
    rules.push_back(std::make_unique<CRuleLengthMinimum>());
    ASSERT_EQ(CreateRule(log.log, parsed.element, &rules, nullptr), 0);
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[1]->GetType(), 3);

    parsed.document->Faults().FailNext(xml::Op::GetAttribute, kInjected);
    EXPECT_EQ(CreateRule(log.log, parsed.element, &rules, nullptr), kInjected);
    EXPECT_EQ(rules.size(), 2u);
    log.ExpectLine(KW("Failed to get type attribute."), kLogError, kInjected);
}

TEST(GetRuleNameTest, NullAndBaseRulesAreUnknown) {
    EXPECT_EQ(U8(GetRuleName(nullptr)), "Unknown rule");
    const auto repeating = CreateRegexRule(1, nullptr);
    const auto requirements = CreateRegexRule(2, nullptr);
    EXPECT_EQ(U8(GetRuleName(repeating.get())), "Repeating characters");
    EXPECT_EQ(U8(GetRuleName(requirements.get())), "Character requirements");
}

}  // namespace
}  // namespace korva::testing
