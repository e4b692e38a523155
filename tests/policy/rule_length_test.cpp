// The minimum and maximum length rules.
#include <gtest/gtest.h>

#include "policy/rule_length.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

constexpr int32_t kInjected = static_cast<int32_t>(0x8007000Eu);

struct LengthCase {
    int32_t limit;
    const WChar* password;  // null: no password
    bool valid;
};

TEST(LengthRuleTest, MinimumIsInclusive) {
    const LengthCase cases[] = {
        {8, KW("abcdefg"), false},
        {8, KW("abcdefgh"), true},
        {8, KW("abcdefghi"), true},
        {0, KW(""), true},
        {1, KW(""), false},
        {0, nullptr, true},  // a null password passes only a minimum of 0 or less
        {-2, nullptr, true},
        {1, nullptr, false},
        {-5, KW(""), true},
        // One emoji is a surrogate pair: two code units.
        {2, KW("\U0001F600"), true},
        {3, KW("\U0001F600"), false},
    };
    for (const LengthCase& c : cases) {
        CapturedLog log;
        CRuleLengthMinimum rule({}, c.limit);
        bool valid = !c.valid;
        EXPECT_EQ(rule.Test(log.log, &valid, nullptr, c.password, nullptr, nullptr), 0);
        EXPECT_EQ(valid, c.valid) << c.limit << " " << (c.password ? U8(c.password) : "(null)");
        EXPECT_TRUE(log.Has(c.valid ? KW("Checking minimum length rule, password valid = TRUE\r")
                                    : KW("Checking minimum length rule, password valid = FALSE\r"),
                            kLogDebug));
    }
}

TEST(LengthRuleTest, MaximumIsInclusive) {
    const LengthCase cases[] = {
        {18, KW("123456789012345678"), true},
        {18, KW("1234567890123456789"), false},
        {0, KW(""), true},
        {0, nullptr, true},  // a null password passes whenever the maximum is 0 or more
        {-1, nullptr, false},
        {-1, KW(""), false},
        {1, KW("\U0001F600"), false},
        {2, KW("\U0001F600"), true},
    };
    for (const LengthCase& c : cases) {
        CapturedLog log;
        CRuleLengthMaximum rule({}, c.limit);
        bool valid = !c.valid;
        EXPECT_EQ(rule.Test(log.log, &valid, nullptr, c.password, nullptr, nullptr), 0);
        EXPECT_EQ(valid, c.valid) << c.limit << " " << (c.password ? U8(c.password) : "(null)");
        EXPECT_TRUE(log.Has(c.valid ? KW("Checking maximum length rule, password valid = TRUE")
                                    : KW("Checking maximum length rule, password valid = FALSE"),
                            kLogDebug));
    }
}

TEST(LengthRuleTest, PasswordsNeverReachTheLog) {
    CapturedLog log;
    CRuleLengthMinimum rule({}, 3);
    bool valid = false;
    rule.Test(log.log, &valid, nullptr, KW("Secret-Pa55"), nullptr, KW("Old-Secret"));
    for (const LogRecord& record : log.records) {
        EXPECT_EQ(record.message.find(KW("Secret")), WString::npos) << U8(record.message);
    }
}

TEST(LengthRuleTest, MinimumLengthFromXml) {
    struct Case {
        const WChar* child;
        int32_t minimum;
        bool conversionError;
    };
    const Case cases[] = {
        {KW("<MinimumLength>8</MinimumLength>"), 8, false},
        {KW("<MinimumLength>-5</MinimumLength>"), -5, false},
        {KW("<MinimumLength>eight</MinimumLength>"), 6, true},
        {KW("<MinimumLength>+8</MinimumLength>"), 6, true},
        {KW("<MinimumLength> 8</MinimumLength>"), 6, true},
        {KW("<MinimumLength></MinimumLength>"), 6, true},
        {KW("<MinimumLength>99999999999</MinimumLength>"), 6, true},
        {KW(""), 6, false},                                  // only Enabled: the default
        {KW("<MaximumLength>3</MaximumLength>"), 6, false},  // the other rule's child is ignored
        {KW("<x:MinimumLength xmlns:x=\"urn:x\">4</x:MinimumLength>"), 4, false},  // local name counts
    };
    for (const Case& c : cases) {
        CapturedLog log;
        const WString xml = KW("<Rule type=\"2\"><Enabled>1</Enabled>") + WString(c.child) + KW("</Rule>");
        ParsedElement parsed = ParseElement(xml);
        CRuleLengthMinimum rule;
        // A bad number never fails the load.
        EXPECT_EQ(rule.LoadFromXML(log.log, parsed.element, nullptr), 0) << U8(c.child);
        EXPECT_EQ(rule.GetMinimum(), c.minimum) << U8(c.child);
        EXPECT_TRUE(rule.IsEnabled()) << U8(c.child);
        if (c.conversionError) {
            log.ExpectLine(KW("Failed to convert value of minimum length to integer."), kLogError, -11);
        } else {
            EXPECT_FALSE(log.Has(KW("Failed to convert"))) << log.Dump();
        }
        EXPECT_TRUE(log.Has(KW("Load minimum length rule data from XML."), kLogDebug));
    }
}

TEST(LengthRuleTest, MaximumLengthFromXml) {
    struct Case {
        const WChar* child;
        int32_t maximum;
        bool conversionError;
    };
    const Case cases[] = {
        {KW("<MaximumLength>12</MaximumLength>"), 12, false},
        {KW("<MaximumLength>twelve</MaximumLength>"), 18, true},
        {KW(""), 18, false},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        const WString xml = KW("<Rule type=\"3\"><Enabled>1</Enabled>") + WString(c.child) + KW("</Rule>");
        ParsedElement parsed = ParseElement(xml);
        CRuleLengthMaximum rule;
        EXPECT_EQ(rule.LoadFromXML(log.log, parsed.element, nullptr), 0);
        EXPECT_EQ(rule.GetMaximum(), c.maximum) << U8(c.child);
        EXPECT_EQ(log.Has(KW("Failed to convert value of maximum length to integer.")), c.conversionError);
        EXPECT_EQ(log.Has(KW("Successfully set value of maximum length node.")),
                  !c.conversionError && *c.child);
    }
}

TEST(LengthRuleTest, LoadFailures) {
    struct Case {
        xml::Op op;
        const WChar* node;
        const WChar* line;
        int32_t result;
        bool enabledRead;  // whether the shared children were read afterwards
    };
    const Case cases[] = {
        {xml::Op::HasChildren, KW("Rule"), KW("Failed to determine if rule node has children."), kInjected,
         false},
        {xml::Op::ChildNodes, KW("Rule"), KW("An error occurred getting minimum length rule data."),
         kInjected, false},
        // A child's text that cannot be read ends the load at once: Enabled is then never read.
        {xml::Op::Text, KW("MinimumLength"), KW("Failed to get value of minimum length node."), kInjected,
         false},
        // A name that cannot be read is remembered; the rest still loads.
        {xml::Op::BaseName, KW("MinimumLength"), KW("An error occurred getting base name of child."),
         kInjected, true},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        ParsedElement parsed =
            ParseElement(KW(R"(<Rule type="2"><MinimumLength>9</MinimumLength><Enabled>1</Enabled></Rule>)"));
        parsed.document->Faults().FailNext(c.op, kInjected, c.node);
        CRuleLengthMinimum rule;
        EXPECT_EQ(rule.LoadFromXML(log.log, parsed.element, nullptr), c.result) << U8(c.line);
        log.ExpectLine(c.line, kLogError, kInjected);
        EXPECT_EQ(rule.IsEnabled(), c.enabledRead) << U8(c.line);
    }

    CapturedLog log;
    ParsedElement empty = ParseElement(KW(R"(<Rule type="3"/>)"));
    CRuleLengthMaximum rule;
    EXPECT_EQ(rule.LoadFromXML(log.log, empty.element, nullptr), kResultEmpty);
    log.ExpectLine(KW("Rule is empty."), kLogError, kResultEmpty);
}

TEST(LengthRuleTest, CloneKeepsEverything) {
    CapturedLog log;
    ParsedElement parsed = ParseElement(KW(
        R"(<Rule type="3"><Enabled>1</Enabled><MaximumLength>7</MaximumLength><Description>d</Description></Rule>)"));
    CRuleLengthMaximum rule;
    ASSERT_EQ(rule.LoadFromXML(log.log, parsed.element, nullptr), 0);
    const auto clone = rule.Clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_TRUE(clone->IsEnabled());
    EXPECT_EQ(clone->GetType(), 3);
    EXPECT_EQ(static_cast<const CRuleLengthMaximum&>(*clone).GetMaximum(), 7);
    EXPECT_EQ(U8(clone->GetDescription(kLangEnglish)), "d");
}

TEST(LengthRuleTest, BuiltInDescriptionsCarryTheLimit) {
    const DescriptionMap minimum = MinimumLengthDescriptions(6);
    const DescriptionMap maximum = MaximumLengthDescriptions(18);
    EXPECT_EQ(minimum.size(), 13u);
    EXPECT_EQ(U8(minimum.at(kLangEnglish)), "The password must be at least 6 characters long.");
    EXPECT_EQ(U8(minimum.at(kLangPolish)), "Hasło musi mieć co najmniej 6 znaków.");  // written with %ld
    EXPECT_EQ(U8(minimum.at(kLangChinese)), "密码必须有6个字符。");
    // The maximum rule has no Finnish or Hungarian text; those languages fall back to English.
    EXPECT_EQ(maximum.size(), 11u);
    EXPECT_EQ(maximum.count(kLangFinnish), 0u);
    EXPECT_EQ(U8(maximum.at(kLangGerman)), "Das Passwort darf nicht länger als 18 Zeichen lang sein.");
    CRuleLengthMaximum rule(maximum, 18);
    EXPECT_EQ(U8(rule.GetDescription(kLangHungarian)), "The password may not be longer than 18 characters.");
}

}  // namespace
}  // namespace korva::testing
