// The minimum and maximum length rules.
#include <gtest/gtest.h>

#include "platform/format.h"
#include "policy/rule_length.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

constexpr int32_t kInjected = static_cast<int32_t>(0x8007000Eu);

std::unique_ptr<CRuleBase> LengthRule(int32_t type, int32_t limit) {
    if (type == 2) {
        return std::make_unique<CRuleLengthMinimum>(DescriptionMap{}, limit);
    }
    return std::make_unique<CRuleLengthMaximum>(DescriptionMap{}, limit);
}

TEST(LengthRuleTest, LimitsAreInclusive) {
    struct Case {
        int32_t type;  // 2 minimum, 3 maximum
        int32_t limit;
        const WChar* password;  // null: no password
        bool valid;
    };
    const Case cases[] = {
        {2, 8, KW("abcdefg"), false},
        {2, 8, KW("abcdefgh"), true},
        {2, 0, KW(""), true},
        {2, 1, KW(""), false},
        {2, 0, nullptr, true},  // a null password passes only a minimum of 0 or less
        {2, -2, nullptr, true},
        {2, 1, nullptr, false},
        {2, 2, KW("\U0001F600"), true},  // one emoji is a surrogate pair: two code units
        {2, 3, KW("\U0001F600"), false},
        {3, 18, KW("123456789012345678"), true},
        {3, 18, KW("1234567890123456789"), false},
        {3, 0, nullptr, true},  // a null password passes whenever the maximum is 0 or more
        {3, -1, nullptr, false},
        {3, -1, KW(""), false},
        {3, 1, KW("\U0001F600"), false},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        const auto rule = LengthRule(c.type, c.limit);
        bool valid = !c.valid;
        EXPECT_EQ(rule->Test(log.log, &valid, nullptr, c.password, nullptr, nullptr), 0);
        const std::string label =
            std::to_string(c.type) + " " + std::to_string(c.limit) + " " + U8(c.password);
        EXPECT_EQ(valid, c.valid) << label;
        const WChar* line = c.type == 2
                                ? (c.valid ? KW("Checking minimum length rule, password valid = TRUE\r")
                                           : KW("Checking minimum length rule, password valid = FALSE\r"))
                                : (c.valid ? KW("Checking maximum length rule, password valid = TRUE")
                                           : KW("Checking maximum length rule, password valid = FALSE"));
        EXPECT_TRUE(log.Has(line, kLogDebug)) << label << log.Dump();
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

TEST(LengthRuleTest, LimitFromXml) {
    struct Case {
        int32_t type;
        const WChar* child;
        int32_t limit;
        const WChar* conversionError;  // null: none expected
    };
    constexpr const WChar* kMinError = KW("Failed to convert value of minimum length to integer.");
    constexpr const WChar* kMaxError = KW("Failed to convert value of maximum length to integer.");
    const Case cases[] = {
        {2, KW("<MinimumLength>8</MinimumLength>"), 8, nullptr},
        {2, KW("<MinimumLength>-5</MinimumLength>"), -5, nullptr},  // accepted: every password passes
        {2, KW("<MinimumLength>eight</MinimumLength>"), 6, kMinError},
        {2, KW("<MinimumLength>+8</MinimumLength>"), 6, kMinError},
        {2, KW("<MinimumLength> 8</MinimumLength>"), 6, kMinError},
        {2, KW("<MinimumLength></MinimumLength>"), 6, kMinError},
        {2, KW("<MinimumLength>99999999999</MinimumLength>"), 6, kMinError},
        {2, KW(""), 6, nullptr},                                  // only Enabled: the default
        {2, KW("<MaximumLength>3</MaximumLength>"), 6, nullptr},  // the other rule's child is ignored
        {2, KW("<x:MinimumLength xmlns:x=\"urn:x\">4</x:MinimumLength>"), 4,
         nullptr},  // the local name counts
        {3, KW("<MaximumLength>12</MaximumLength>"), 12, nullptr},
        {3, KW("<MaximumLength>twelve</MaximumLength>"), 18, kMaxError},
        {3, KW(""), 18, nullptr},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        const WString xml = Format(KW("<Rule type=\"%d\"><Enabled>1</Enabled>%s</Rule>"), c.type, c.child);
        ParsedElement parsed = ParseElement(xml);
        std::unique_ptr<CRuleBase> rule = LengthRule(c.type, 0);
        // A bad number never fails the load, and the shared children are still read.
        EXPECT_EQ(rule->LoadFromXML(log.log, parsed.element, nullptr), 0) << U8(c.child);
        EXPECT_TRUE(rule->IsEnabled()) << U8(c.child);
        const int32_t limit = c.type == 2 ? static_cast<CRuleLengthMinimum&>(*rule).GetMinimum()
                                          : static_cast<CRuleLengthMaximum&>(*rule).GetMaximum();
        EXPECT_EQ(limit, c.limit) << U8(c.child);
        if (c.conversionError != nullptr) {
            log.ExpectLine(c.conversionError, kLogError, -11);
        } else {
            EXPECT_FALSE(log.Has(KW("Failed to convert"))) << log.Dump();
        }
    }
}

TEST(LengthRuleTest, LoadFailures) {
    struct Case {
        xml::Op op;
        const WChar* node;
        const WChar* line;
        bool enabledRead;  // whether the shared children were read afterwards
    };
    const Case cases[] = {
        {xml::Op::HasChildren, KW("Rule"), KW("Failed to determine if rule node has children."), false},
        {xml::Op::ChildNodes, KW("Rule"), KW("An error occurred getting minimum length rule data."), false},
        // A child's text that cannot be read ends the load at once: Enabled is then never read.
        {xml::Op::Text, KW("MinimumLength"), KW("Failed to get value of minimum length node."), false},
        // A name that cannot be read is remembered; the rest still loads.
        {xml::Op::BaseName, KW("MinimumLength"), KW("An error occurred getting base name of child."), true},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        ParsedElement parsed =
            ParseElement(KW(R"(<Rule type="2"><MinimumLength>9</MinimumLength><Enabled>1</Enabled></Rule>)"));
        parsed.document->Faults().FailNext(c.op, kInjected, c.node);
        CRuleLengthMinimum rule;
        EXPECT_EQ(rule.LoadFromXML(log.log, parsed.element, nullptr), kInjected) << U8(c.line);
        log.ExpectLine(c.line, kLogError, kInjected);
        EXPECT_EQ(rule.IsEnabled(), c.enabledRead) << U8(c.line);
    }

    CapturedLog log;
    ParsedElement empty = ParseElement(KW(R"(<Rule type="3"/>)"));
    CRuleLengthMaximum rule;
    EXPECT_EQ(rule.LoadFromXML(log.log, empty.element, nullptr), kResultEmpty);
    log.ExpectLine(KW("Rule is empty."), kLogError, kResultEmpty);
}

TEST(LengthRuleTest, BuiltInDescriptionsCarryTheLimit) {
    const DescriptionMap minimum = MinimumLengthDescriptions(6);
    EXPECT_EQ(minimum.size(), 13u);
    EXPECT_EQ(U8(minimum.at(kLangEnglish)), "The password must be at least 6 characters long.");
    EXPECT_EQ(U8(minimum.at(kLangPolish)), "Hasło musi mieć co najmniej 6 znaków.");  // written with %ld
    // The maximum rule has no Finnish or Hungarian text; those languages fall back to English.
    CRuleLengthMaximum rule(MaximumLengthDescriptions(18), 18);
    EXPECT_EQ(U8(rule.GetDescription(kLangHungarian)), "The password may not be longer than 18 characters.");
    EXPECT_EQ(U8(rule.GetDescription(kLangChinese)), "密码不能超过18个字符。");
}

}  // namespace
}  // namespace korva::testing
