// The regular-expression rule: verdicts of the three kinds, loading from XML with injected DOM failures, the
// built-in rules and their texts.
#include "policy/rule_regex.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/policy/log_capture.h"

namespace korva {
namespace {

using testing::LogCapture;
using testing::Narrow;
using testing::ParsedElement;
using testing::ParseElement;

constexpr int32_t kEFail = static_cast<int32_t>(0x80004005u);

struct Verdict {
    const WChar* password;
    bool valid;
};

void ExpectVerdicts(CRuleBase& rule, std::initializer_list<Verdict> verdicts) {
    for (const Verdict& v : verdicts) {
        SCOPED_TRACE(Narrow(v.password));
        LogCapture capture;
        bool valid = !v.valid;  // the rule must write the verdict
        EXPECT_EQ(rule.Test(capture.log, &valid, nullptr, v.password, nullptr, nullptr), 0);
        EXPECT_EQ(valid, v.valid);
    }
}

// Loads a rule of type 5 from `xmlText` into a fresh rule.
struct Loaded {
    ParsedElement parsed;
    CRuleRegex rule;
    LogCapture capture;
    int32_t result = 0;
};

// `arm` may inject DOM faults before the load.
std::unique_ptr<Loaded> Load(const WChar* xmlText, const std::function<void(xml::Document&)>& arm = {}) {
    auto loaded = std::make_unique<Loaded>();
    loaded->parsed = ParseElement(xmlText, KW("Rule"));
    if (arm)
        arm(*loaded->parsed.document);
    loaded->result = loaded->rule.LoadFromXML(loaded->capture.log, loaded->parsed.element, nullptr);
    return loaded;
}

TEST(RegexRule, RepeatingCharactersRefuseThreeInARow) {
    auto rule = CreateRegexRule(kRegexRepeatingCharacters, nullptr);
    ExpectVerdicts(*rule, {
                              {KW("aabbccdd"), true},  // pairs are allowed
                              {KW("aaabcd"), false},   // at the start
                              {KW("ab111cd"), false},  // in the middle
                              {KW("abcd!!!"), false},  // at the end
                              {KW("aaaa"), false},
                              {KW(""), true},  // an empty password has no repeated characters
                              {nullptr, true},
                          });
}

TEST(RegexRule, CharacterRequirementFromXml) {
    auto loaded = Load(KW("<Rule type='5'><Regex Type='2'>[A-Z]</Regex>")
                           KW("<ExpressionValidatesPassword>1</ExpressionValidatesPassword></Rule>"));
    ASSERT_EQ(loaded->result, 0) << loaded->capture.Dump();
    EXPECT_EQ(loaded->rule.GetKind(), kRegexCharacterRequirements);
    ExpectVerdicts(loaded->rule, {
                                     {KW("passWord"), true},
                                     {KW("password"), false},
                                     {KW("\u00C4pfel"), false},  // only A-Z count as capitals here
                                     {KW(""), false},            // the requirement cannot be met by nothing
                                     {nullptr, false},
                                 });
}

TEST(RegexRule, ProhibitedExpressionIsCaseSensitive) {
    auto loaded = Load(KW("<Rule type='5'><Regex Type='0'>abc</Regex>")
                           KW("<ExpressionValidatesPassword>0</ExpressionValidatesPassword></Rule>"));
    ASSERT_EQ(loaded->result, 0) << loaded->capture.Dump();
    ExpectVerdicts(loaded->rule, {
                                     {KW("abc"), false},
                                     {KW("xxabcxx"), false},
                                     {KW("xxABCxx"), true},
                                     {KW("aBc"), true},
                                     {KW(""), false},  // a plain rule refuses an empty password
                                 });
}

TEST(RegexRule, NoExpressionAcceptsEverything) {
    const WChar* elements[] = {
        KW("<Rule type='5'><Regex "
           "Type='2'></Regex><ExpressionValidatesPassword>1</ExpressionValidatesPassword>") KW("</Rule>"),
        KW("<Rule type='5'><ExpressionValidatesPassword>1</ExpressionValidatesPassword></Rule>"),
    };
    for (const WChar* xmlText : elements) {
        SCOPED_TRACE(Narrow(xmlText));
        auto loaded = Load(xmlText);
        ASSERT_EQ(loaded->result, 0) << loaded->capture.Dump();
        EXPECT_EQ(loaded->rule.GetExpression(), nullptr);
        ExpectVerdicts(loaded->rule, {{KW("anything"), true}, {KW(""), true}, {nullptr, true}});
    }
    auto builtIn = CreateRegexRule(kRegexPlain, nullptr);
    ExpectVerdicts(*builtIn, {{KW("anything"), true}, {KW(""), true}});
}

TEST(RegexRule, ExpressionThatDoesNotCompileFailsTheTest) {
    auto loaded = Load(KW("<Rule type='5'><Regex Type='0'>(abc</Regex>")
                           KW("<ExpressionValidatesPassword>0</ExpressionValidatesPassword></Rule>"));
    ASSERT_EQ(loaded->result, 0);
    LogCapture capture;
    bool valid = true;
    EXPECT_EQ(loaded->rule.Test(capture.log, &valid, nullptr, KW("password"), nullptr, nullptr), -1);
    EXPECT_FALSE(valid);
    EXPECT_TRUE(capture.HasWithCode(kLogError, -1,
                                    KW("An error occurred while evalutating regular expression '(abc'")))
        << capture.Dump();
}

TEST(RegexRule, TestLogsTheRuleNameAndNeverThePassword) {
    struct Case {
        int32_t kind;
        const WChar* line;
    };
    const Case cases[] = {
        {kRegexPlain, KW("Checking password with rule 'Regular Expression'.")},
        {kRegexRepeatingCharacters, KW("Checking password with rule 'Repeating characters'.")},
        {kRegexCharacterRequirements, KW("Checking password with rule 'Character requirements'.")},
    };
    for (const Case& c : cases) {
        auto rule = CreateRegexRule(c.kind, KW("(x"));
        LogCapture capture;
        bool valid = false;
        (void)rule->Test(capture.log, &valid, nullptr, KW("Tr0ub4dor&3"), nullptr, nullptr);
        EXPECT_TRUE(capture.HasMessage(kLogDebug, c.line)) << capture.Dump();
        EXPECT_EQ(capture.Count(KW("Tr0ub4dor&3")), 0u);
    }
}

TEST(RegexRule, ExpressionValidatesPasswordText) {
    // A second element whose text is not a number leaves the value of the first.
    struct Case {
        const WChar* first;
        const WChar* second;
        bool expected;
        bool conversionError;
    };
    const Case cases[] = {
        {KW("2"), nullptr, true, false},   {KW("1"), nullptr, true, false},
        {KW("0"), nullptr, false, false},  {KW("-1"), nullptr, false, false},
        {KW("1"), KW("yes"), true, true},  {KW("0"), KW("yes"), false, true},
        {KW("1"), KW(" 0"), true, true},   {KW("1"), KW("+0"), true, true},
        {KW("1"), KW("-5"), false, false},
    };
    for (const Case& c : cases) {
        WString xmlText =
            WString(KW("<Rule type='5'><Regex Type='0'>x</Regex><ExpressionValidatesPassword>")) + c.first +
            KW("</ExpressionValidatesPassword>");
        if (c.second != nullptr) {
            xmlText += WString(KW("<ExpressionValidatesPassword>")) + c.second +
                       KW("</ExpressionValidatesPassword>");
        }
        xmlText += KW("</Rule>");
        SCOPED_TRACE(Narrow(xmlText));
        auto loaded = Load(xmlText.c_str());
        EXPECT_EQ(loaded->result, 0);
        EXPECT_EQ(loaded->rule.GetExpressionValidatesPassword(), c.expected);
        EXPECT_EQ(
            loaded->capture.HasWithCode(
                kLogError, -11, KW("Failed to convert value of ExpressionValidatesPassword node to bool.")),
            c.conversionError)
            << loaded->capture.Dump();
    }
}

TEST(RegexRule, LoadReadsEveryChildAndTheSharedOnes) {
    auto loaded = Load(
        KW("<Rule type='5'><Enabled>1</Enabled><Description languageid='7'>Keine Wiederholung</Description>")
            KW("<Regex Type='1'>(.)\\1\\1</Regex><Data>2</Data><Other>ignored</Other>")
                KW("<ExpressionValidatesPassword>0</ExpressionValidatesPassword></Rule>"));
    ASSERT_EQ(loaded->result, 0) << loaded->capture.Dump();
    const CRuleRegex& rule = loaded->rule;
    EXPECT_EQ(rule.GetKind(), kRegexRepeatingCharacters);
    EXPECT_EQ(WString(rule.GetExpression()), KW("(.)\\1\\1"));
    EXPECT_EQ(WString(rule.GetData()), KW("2"));
    EXPECT_FALSE(rule.GetExpressionValidatesPassword());
    EXPECT_TRUE(rule.IsEnabled());
    EXPECT_EQ(WString(rule.GetDescription(kLangGerman)), KW("Keine Wiederholung"));
    // A rule read from XML has only the descriptions its element gives.
    EXPECT_EQ(rule.GetDescription(kLangEnglish), nullptr);
    const LogCapture& log = loaded->capture;
    for (const WChar* line :
         {KW("Load rule data from XML."), KW("Successfully set regex."),
          KW("Successfully determined if type of regular expression."), KW("Successfully set data."),
          KW("Successfully set ExpressionValidatesPassword.")}) {
        EXPECT_TRUE(log.HasMessage(kLogDebug, line)) << Narrow(line) << "\n" << log.Dump();
    }
    ExpectVerdicts(loaded->rule, {{KW("abbbc"), false}, {KW("abbc"), true}});
}

TEST(RegexRule, TypeAttributeOfTheExpression) {
    // Without "Type" the load stops at once with -11 and no line; the shared children after it are not read.
    auto missing = Load(KW("<Rule type='5'><Regex>x</Regex><Enabled>1</Enabled></Rule>"));
    EXPECT_EQ(missing->result, -11);
    EXPECT_FALSE(missing->rule.IsEnabled());
    EXPECT_EQ(missing->capture.CountAtLevel(kLogError), 0u) << missing->capture.Dump();

    // The attribute name is exact.
    auto lowerCase = Load(KW("<Rule type='5'><Regex type='2'>x</Regex></Rule>"));
    EXPECT_EQ(lowerCase->result, -11);

    // A type that is not a number is logged and leaves the kind; the load goes on.
    auto notNumber = Load(KW("<Rule type='5'><Regex Type='2x'>x</Regex><Enabled>1</Enabled></Rule>"));
    EXPECT_EQ(notNumber->result, 0);
    EXPECT_EQ(notNumber->rule.GetKind(), kRegexPlain);
    EXPECT_TRUE(notNumber->rule.IsEnabled());
    EXPECT_EQ(notNumber->capture.CountAtLevel(kLogError), 1u) << notNumber->capture.Dump();
    EXPECT_TRUE(notNumber->capture.HasWithCode(
        kLogError, -11,
        KW("Failed to convert value of type attribute of regular expression rule to integer.")));
}

TEST(RegexRule, LoadFailuresFromTheDocument) {
    struct Case {
        const char* what;
        xml::Op op;
        const WChar* node;
        int32_t expected;     // the load's result
        const WChar* line;    // the line logged with the HRESULT
        bool sharedChildren;  // whether "Enabled" was still read
    };
    const Case cases[] = {
        {"has children", xml::Op::HasChildren, KW("Rule"), kEFail,
         KW("Failed to determine if rule node has children."), false},
        {"child list", xml::Op::ChildNodes, KW("Rule"), kEFail, KW("An error occurred getting rule data."),
         false},
        {"a child's name", xml::Op::BaseName, KW("Data"), kEFail,
         KW("An error occurred getting base name of child."), true},
        {"expression text", xml::Op::Text, KW("Regex"), kEFail, KW("Failed to get value of regex node."),
         false},
        // A failed attribute read ends the load with the result so far.
        {"type attribute", xml::Op::GetAttribute, KW("Regex"), 0, KW("Failed to get type attribute."), false},
        {"data text", xml::Op::Text, KW("Data"), kEFail, KW("Failed to get value of data node."), false},
        {"validates text", xml::Op::Text, KW("ExpressionValidatesPassword"), kEFail,
         KW("Failed to get value of ExpressionValidatesPassword node."), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto loaded =
            Load(KW("<Rule type='5'><Regex Type='0'>x</Regex><Data>d</Data>")
                     KW("<ExpressionValidatesPassword>1</ExpressionValidatesPassword>")
                         KW("<Enabled>1</Enabled></Rule>"),
                 [&c](xml::Document& document) { document.Faults().FailNext(c.op, kEFail, c.node); });
        EXPECT_EQ(loaded->result, c.expected);
        EXPECT_TRUE(loaded->capture.HasHResult(kLogError, kEFail, c.line)) << loaded->capture.Dump();
        EXPECT_EQ(loaded->rule.IsEnabled(), c.sharedChildren);
    }

    auto empty = Load(KW("<Rule type='5'/>"));
    EXPECT_EQ(empty->result, -12);
    EXPECT_TRUE(empty->capture.HasWithCode(kLogError, -12, KW("Rule is empty.")));
}

TEST(RegexRule, BuiltInRules) {
    struct Case {
        int32_t kind;
        const WChar* given;
        const WChar* expression;
        const WChar* data;
        bool validates;
        size_t languages;
    };
    const Case cases[] = {
        {kRegexPlain, nullptr, nullptr, nullptr, true, 12},
        {kRegexPlain, KW("[0-9]"), KW("[0-9]"), nullptr, true, 12},
        {kRegexRepeatingCharacters, nullptr, KW(".*(.)\\1{2,}.*"), KW("2"), false, 12},
        {kRegexRepeatingCharacters, KW("(.)\\1"), KW("(.)\\1"), KW("2"), false, 12},
        {kRegexCharacterRequirements, nullptr, nullptr, nullptr, true, 13},
        {kRegexCharacterRequirements, KW("[a-z]"), KW("[a-z]"), nullptr, true, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        auto rule = CreateRegexRule(c.kind, c.given);
        ASSERT_NE(rule, nullptr);
        const auto& regex = dynamic_cast<const CRuleRegex&>(*rule);
        EXPECT_EQ(regex.GetType(), 5);
        EXPECT_EQ(GetRegexKind(regex), c.kind);
        EXPECT_FALSE(regex.IsEnabled());
        EXPECT_EQ(Narrow(regex.GetExpression()), Narrow(c.expression));
        EXPECT_EQ(Narrow(regex.GetData()), Narrow(c.data));
        EXPECT_EQ(regex.GetExpressionValidatesPassword(), c.validates);
        EXPECT_EQ(regex.GetDescriptions().size(), c.languages);
    }
}

TEST(RegexRule, BuiltInDescriptions) {
    struct Case {
        int32_t kind;
        uint32_t language;
        const WChar* text;
    };
    const Case cases[] = {
        {kRegexPlain, kLangEnglish, KW("Regular expression.")},
        {kRegexPlain, kLangItalian, KW("Espressione regolare")},
        // No Spanish text for the plain kind: English is shown.
        {kRegexPlain, kLangSpanish, KW("Regular expression.")},
        {kRegexPlain, kLangFrench, KW("Expression r\u00E9guli\u00E8re.")},
        {kRegexPlain, kLangChinese, KW("\u6B63\u5219\u8868\u8FBE\u5F0F\u3002")},
        {kRegexPlain, kLangRussian,
         KW("\u0420\u0435\u0433\u0443\u043B\u044F\u0440\u043D\u043E\u0435 "
            "\u0432\u044B\u0440\u0430\u0436\u0435\u043D\u0438\u0435.")},
        {kRegexRepeatingCharacters, kLangEnglish,
         KW("The password may not contain more than 2 consecutive identical characters.")},
        // No Hungarian text for repeating characters: English is shown.
        {kRegexRepeatingCharacters, kLangHungarian,
         KW("The password may not contain more than 2 consecutive identical characters.")},
        {kRegexRepeatingCharacters, kLangChinese,
         KW("\u5BC6\u7801\u4E0D\u80FD\u5305\u542B\u8D85\u8FC72\u4E2A\u8FDE\u7EED\u76F8\u540C\u7684\u5B57"
            "\u7B26\u3002")},
        {kRegexRepeatingCharacters, kLangPolish,
         KW("Has\u0142o nie mo\u017Ce zawiera\u0107 wi\u0119cej ni\u017C 2 kolejnych identycznych "
            "znak\u00F3w.")},
        {kRegexCharacterRequirements, kLangHungarian,
         KW("A jelsz\u00F3nak legal\u00E1bb a k\u00F6vetkez\u0151ket kell tartalmaznia: Kis- \u00E9s "
            "nagybet\u0171k, szimb\u00F3lumok, sz\u00E1mok.")},
        {kRegexCharacterRequirements, kLangChinese,
         KW("\u5BC6\u7801\u5FC5\u987B\u81F3\u5C11\u5305\u542B\u4E0B\u5217\u5185\u5BB9\u7684\u4E00\u79CD\uFF1A"
            "\u5927\u5199\u548C\u5C0F\u5199\u5B57\u7B26\uFF0C\u7B26\u53F7\u548C\u6570\u5B57\u3002")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.kind) + "/" + std::to_string(c.language));
        auto rule = CreateRegexRule(c.kind, nullptr);
        const WChar* text = rule->GetDescription(c.language);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(WString(text), WString(c.text)) << Narrow(text);
    }
}

TEST(RegexRule, CloneCopiesEverything) {
    auto loaded = Load(KW("<Rule type='5'><Enabled>1</Enabled><Description>Mine</Description>")
                           KW("<Regex Type='2'>[0-9]</Regex><Data>extra</Data>")
                               KW("<ExpressionValidatesPassword>1</ExpressionValidatesPassword></Rule>"));
    auto copy = loaded->rule.Clone();
    ASSERT_NE(copy, nullptr);
    const auto& regex = dynamic_cast<const CRuleRegex&>(*copy);
    EXPECT_EQ(regex.GetKind(), kRegexCharacterRequirements);
    EXPECT_EQ(WString(regex.GetExpression()), KW("[0-9]"));
    EXPECT_EQ(WString(regex.GetData()), KW("extra"));
    EXPECT_TRUE(regex.GetExpressionValidatesPassword());
    EXPECT_TRUE(regex.IsEnabled());
    EXPECT_EQ(WString(regex.GetDescription(kLangEnglish)), KW("Mine"));
    EXPECT_EQ(GetRegexKind(regex), kRegexCharacterRequirements);
}

}  // namespace
}  // namespace korva
