// The rules: the shared children and readers, the factory, and the length, minimum age, regular-expression
// and blacklist rules.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "policy/rule_blacklist.h"
#include "policy/rule_length.h"
#include "policy/rule_min_age.h"
#include "policy/rule_regex.h"
#include "policy/rule_similarity.h"
#include "policy/scope.h"
#include "tests/policy/fake_directory.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

TEST(RuleBaseTest, StringToIntAcceptsOnlyStrictDecimalText) {
    struct Row {
        const WChar* text;
        bool ok;
        int32_t value;  // also written on failure
    };
    const Row rows[] = {
        {KW("42"), true, 42},
        {KW("-17"), true, -17},
        {KW("007"), true, 7},
        {KW("-"), true, 0},
        {KW("-2147483648"), true, -2147483647 - 1},
        {KW("2147483648"), false, 0},  // does not fit: not a number
        {KW("-2147483649"), false, 0},
        {KW(""), false, 0},
        {nullptr, false, 0},
        {KW("+1"), false, 0},
        {KW(" 1"), false, 0},
        {KW("1-"), false, 0},
    };
    for (const Row& r : rows) {
        int32_t value = 123;
        EXPECT_EQ(StringToInt(r.text, &value), r.ok) << U8(r.text);
        EXPECT_EQ(value, r.value) << U8(r.text);
    }
}

TEST(RuleBaseTest, EnabledFollowsTheNumber) {
    struct Row {
        const WChar* children;
        bool enabled;
        bool conversionError;
    };
    const Row rows[] = {
        {KW("<Enabled>5</Enabled>"), true, false},
        {KW("<Enabled>0</Enabled>"), false, false},
        {KW("<Enabled>-3</Enabled>"), false, false},
        {KW("<Enabled>true</Enabled>"), false, true},
        {KW("<enabled>1</enabled>"), false, false},                    // names are case-sensitive
        {KW("<Enabled>1</Enabled><Enabled>x</Enabled>"), true, true},  // a bad later one keeps the value
    };
    for (const Row& r : rows) {
        CapturedLog log;
        CRuleLengthMinimum rule;
        EXPECT_EQ(LoadRule(rule, log.log, KW("<Rule>") + WString(r.children) + KW("</Rule>")), 0);
        EXPECT_EQ(rule.IsEnabled(), r.enabled) << U8(r.children);
        EXPECT_EQ(log.Has(KW("value of enabled node to bool."), kLogError, -11), r.conversionError);
    }
}

TEST(RuleBaseTest, DescriptionsByLanguage) {
    CapturedLog log;
    CRuleLengthMinimum rule;
    ASSERT_EQ(
        LoadRule(
            rule, log.log,
            KW("<Rule><Description languageid='9'>first</Description><Description LanguageID='9'>"
               "second</Description><Description languageid='19'>nl</Description><Description "
               "languageid='1031'>any</Description><Description languageid=' 7'>bad</Description></Rule>")),
        0);
    // The attribute's name ignores case; a later text replaces an earlier one; a bad id means English.
    EXPECT_EQ(U8(rule.GetDescription(kLangEnglish)), "bad");
    EXPECT_EQ(U8(rule.GetDescription(kLangDutch)), "nl");
    EXPECT_EQ(U8(rule.GetDescription(1031)), "any");
    EXPECT_EQ(U8(rule.GetDescription(kLangFrench)), "bad");  // no French text: English
    // Without an English text other languages get none.
    ASSERT_EQ(LoadRule(rule, log.log, KW("<Rule><Description languageid='19'>nl</Description></Rule>")), 0);
    EXPECT_EQ(U8(rule.GetDescription(kLangDutch)), "nl");
    EXPECT_EQ(rule.GetDescription(kLangGerman), nullptr);
}

TEST(RuleBaseTest, FactoryCreatesTheRulesOfTheType) {
    struct Row {
        const WChar* type;  // null: no type attribute
        int32_t result;
        std::vector<int32_t> types;
        bool unknownLogged;
    };
    const Row rows[] = {
        {KW("1"), 0, {1}, false},    {KW("2"), 0, {2}, false}, {KW("3"), 0, {3}, false},
        {KW("4"), 0, {6, 7}, false}, {KW("5"), 0, {5}, false}, {KW("6"), 0, {6}, false},
        {KW("7"), 0, {7}, false},    {KW("8"), 0, {8}, false}, {nullptr, -11, {}, false},  // silently
        {KW("0"), -11, {}, true},    {KW("9"), -11, {}, true}, {KW("-1"), -11, {}, true},
        {KW(" 2"), -11, {}, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(U8(r.type));
        CapturedLog log;
        const WString type = r.type != nullptr ? KW(" type='") + WString(r.type) + KW("'") : WString();
        const ParsedElement parsed = ParseElement(KW("<Rule") + type + KW("><Enabled>1</Enabled></Rule>"));
        RuleList rules;
        EXPECT_EQ(CreateRule(log.log, parsed.element, &rules, nullptr), r.result) << log.Dump();
        std::vector<int32_t> types;
        for (const auto& rule : rules) {
            types.push_back(rule->GetType());
            EXPECT_TRUE(rule->IsEnabled());
        }
        EXPECT_EQ(types, r.types);
        EXPECT_EQ(log.Has(KW("Unknown rule type detected."), kLogError, -11), r.unknownLogged);
        EXPECT_TRUE(r.unknownLogged || log.Errors() == 0) << log.Dump();
        EXPECT_TRUE(r.type != nullptr || log.records.empty()) << log.Dump();
    }
}

TEST(LengthRuleTest, LimitsAreInclusive) {
    struct Row {
        int32_t type;  // 2 minimum, 3 maximum
        int32_t limit;
        const WChar* password;
        bool valid;
    };
    const Row rows[] = {
        {2, 8, KW("abcdefg"), false},
        {2, 8, KW("abcdefgh"), true},
        {2, 0, nullptr, true},
        {2, 1, nullptr, false},
        {2, 2, KW("\U0001F600"), true},  // a surrogate pair is two code units
        {2, 3, KW("\U0001F600"), false},
        {3, 18, KW("123456789012345678"), true},
        {3, 18, KW("1234567890123456789"), false},
        {3, 0, nullptr, true},
        {3, -1, nullptr, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.type) + " " + std::to_string(r.limit) + " " + U8(r.password));
        CapturedLog log;
        const std::unique_ptr<CRuleBase> rule =
            r.type == 2
                ? std::unique_ptr<CRuleBase>(std::make_unique<CRuleLengthMinimum>(DescriptionMap{}, r.limit))
                : std::make_unique<CRuleLengthMaximum>(DescriptionMap{}, r.limit);
        bool valid = !r.valid;
        EXPECT_EQ(rule->Test(log.log, &valid, nullptr, r.password, nullptr, nullptr), 0);
        EXPECT_EQ(valid, r.valid);
        EXPECT_TRUE(log.Has(r.valid ? KW("valid = TRUE") : KW("valid = FALSE"), kLogDebug));
    }
}

TEST(MinimumAgeTest, UnitDependsOnDocumentVersion) {
    struct Row {
        const WChar* version;  // null: the document has none
        const WChar* age;
        int32_t minutes;
    };
    const Row rows[] = {
        {nullptr, KW("2"), 2880},
        {KW("1.7"), KW("2"), 2880},
        {KW("1.8"), KW("2"), 2880},
        {KW("1.8.0.1036"), KW("2"), 2880},
        {KW("1.8.0.1037"), KW("2"), 2},
        {KW("1.8.1"), KW("2"), 2},
        {KW("2.0"), KW("2"), 2},
        {KW("2.0"), KW("one"), 1440},
        {nullptr, KW("2000000"), 2147483647},  // held at the largest age rather than wrapped
    };
    for (const Row& r : rows) {
        CapturedLog log;
        CRuleHistoryMinimumAge rule;
        const WString xml = KW("<Rule><MinimumAge>") + WString(r.age) + KW("</MinimumAge></Rule>");
        EXPECT_EQ(LoadRule(rule, log.log, xml, r.version), 0);
        EXPECT_EQ(rule.GetMinimumMinutes(), r.minutes) << U8(r.version) << " " << U8(r.age);
    }
}

TEST(MinimumAgeTest, AgeFromTheDirectoryInWholeMinutes) {
    using Op = FakeDirectory::Op;
    constexpr int64_t kNow = 133500000000000000;  // a FILETIME in 2024
    constexpr int64_t kSecond = platform::kFileTimeTicksPerSecond;
    constexpr int64_t kMinute = 60 * kSecond;
    constexpr int64_t kNotInteger = INT64_MIN;  // pwdLastSet is an object of another kind
    struct Row {
        int64_t lastSet;
        int32_t minimum;
        Op op;
        int32_t fault;  // 0: none
        int32_t result;
        bool valid;
        const WChar* line;  // logged with the result
    };
    const Row rows[] = {
        {kNow - 1439 * kMinute, 1440, Op::Get, 0, 0, false, nullptr},  // 23h59
        {kNow - 1440 * kMinute, 1440, Op::Get, 0, 0, true, nullptr},
        {kNow - 599 * kSecond / 10, 1, Op::Get, 0, 0, false, nullptr},  // 59.9 s is no whole minute
        {kNow + 30 * kSecond, 0, Op::Get, 0, 0, true, nullptr},         // in the future, truncated to 0
        {kNow + 2 * kMinute, 0, Op::Get, 0, 0, false, nullptr},
        {0, 525600, Op::Get, 0, 0, true, nullptr},  // must change at next logon: 1601, centuries old
        {kNow, 0, Op::CanonicalToDistinguishedName, -6, -6, false, KW("canonical name 'a.b/Users/Jo'")},
        {kNow, 0, Op::BindObject, kInjected, kInjected, false, KW("Failed to bind user object")},
        {kNow, 0, Op::GetInfo, kInjected, kInjected, false, KW("Failed to load property cache")},
        {kNow, 0, Op::Get, kEAdsPropertyNotFound, kEAdsPropertyNotFound, false,
         KW("Unable to get time and date")},
        {kNotInteger, 0, Op::Get, 0, kENoInterface, false, KW("Unable to query interface of pwdLastSet")},
        {-1, 0, Op::Get, 0, -23, false, KW("Unable to convert date object to systemtime.")},
    };
    platform::FakeClock clock;
    clock.now = kNow;
    platform::ScopedClockOverride clockOverride(&clock);
    FakeDirectory directory;
    directory.AddCanonicalName(KW("a.b/Users/Jo"), KW("CN=Jo,DC=a,DC=b"));
    FakeDirectory::Object& user = directory.AddObject(KW("CN=Jo,DC=a,DC=b"));
    CScope scope;
    scope.SetType(ST_USERS);
    scope.SetCanonicalName(KW("a.b/Users/Jo"));
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string((kNow - r.lastSet) / kSecond) + " s, fault " + std::to_string(r.fault));
        CapturedLog log;
        if (r.lastSet == kNotInteger) {
            user.Set(KW("pwdLastSet"), AttributeValue::Kind::Object);
        } else {
            user.SetLargeInteger(KW("pwdLastSet"), r.lastSet);
        }
        if (r.fault != 0) {
            directory.FailNext(r.op, r.fault);
        }
        CRuleHistoryMinimumAge rule({}, r.minimum);
        bool valid = !r.valid;
        EXPECT_EQ(rule.Test(log.log, &valid, &scope, KW("new"), nullptr, KW("old")), r.result) << log.Dump();
        EXPECT_EQ(valid, r.valid);
        EXPECT_EQ(directory.OpenObjects(), 0);
        EXPECT_TRUE(r.line == nullptr || log.Has(r.line, kLogError, r.result)) << log.Dump();
    }
}

TEST(RegexRuleTest, Verdicts) {
    struct Row {
        int32_t kind;
        const WChar* expression;  // null: the built-in rule of that kind
        bool validates;
        const WChar* password;
        int32_t result;
        bool valid;
    };
    const Row rows[] = {
        {kRegexRepeatingCharacters, nullptr, false, KW("aabbccdd"), 0, true},  // pairs are allowed
        {kRegexRepeatingCharacters, nullptr, false, KW("ab111cd"), 0, false},
        {kRegexRepeatingCharacters, nullptr, false, nullptr, 0, true},
        {kRegexCharacterRequirements, KW("[A-Z]"), true, KW("passWord"), 0, true},
        {kRegexCharacterRequirements, KW("[A-Z]"), true, KW("\u00C4pfel"), 0, false},
        {kRegexCharacterRequirements, KW("[A-Z]"), true, nullptr, 0, false},  // nothing meets a requirement
        {kRegexPlain, KW("abc"), false, KW("xxabcxx"), 0, false},
        {kRegexPlain, KW("abc"), false, KW("xxABCxx"), 0, true},  // case counts
        {kRegexPlain, KW("abc"), false, KW(""), 0, false},        // a plain rule refuses an empty password
        {kRegexCharacterRequirements, KW(""), true, KW(""), 0, true},  // no expression accepts everything
        {kRegexPlain, nullptr, true, nullptr, 0, true},
        {kRegexPlain, KW("(abc"), false, KW("password"), -1, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.kind) + " " + U8(r.expression) + " " + U8(r.password));
        CapturedLog log;
        const std::unique_ptr<CRuleBase> rule =
            r.expression == nullptr ? CreateRegexRule(r.kind, nullptr)
                                    : std::make_unique<CRuleRegex>(DescriptionMap{}, r.kind, r.expression,
                                                                   WStringView(), r.validates);
        bool valid = !r.valid;
        EXPECT_EQ(rule->Test(log.log, &valid, nullptr, r.password, nullptr, nullptr), r.result);
        EXPECT_EQ(valid, r.valid);
        EXPECT_EQ(log.Has(KW("evalutating regular expression '(abc'"), kLogError, -1), r.result == -1);
    }
}

TEST(RegexRuleTest, LoadFromXml) {
    struct Row {
        const WChar* children;
        int32_t result;
        int32_t kind;
        bool validates;
        bool conversionError;  // logged with -11
    };
    const Row rows[] = {
        {KW("<Regex Type='2'>x</Regex><ExpressionValidatesPassword>2</ExpressionValidatesPassword>"), 0, 2,
         true, false},
        {KW("<Regex Type='1'>x</Regex><ExpressionValidatesPassword>0</ExpressionValidatesPassword>"), 0, 1,
         false, false},
        {KW("<ExpressionValidatesPassword>1</ExpressionValidatesPassword><ExpressionValidatesPassword>-1"
            "</ExpressionValidatesPassword>"),
         0, 0, false, false},
        {KW("<ExpressionValidatesPassword>1</ExpressionValidatesPassword><ExpressionValidatesPassword>yes"
            "</ExpressionValidatesPassword>"),
         0, 0, true, true},                              // a bad later one keeps the value
        {KW("<Regex>x</Regex>"), -11, 0, false, false},  // "Type" is required
        {KW("<Regex Type='2x'>x</Regex>"), 0, 0, false, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(U8(r.children));
        CapturedLog log;
        CRuleRegex rule;
        EXPECT_EQ(LoadRule(rule, log.log, KW("<Rule>") + WString(r.children) + KW("</Rule>")), r.result);
        EXPECT_EQ(rule.GetKind(), r.kind);
        EXPECT_EQ(rule.GetExpressionValidatesPassword(), r.validates);
        EXPECT_EQ(log.Errors(), r.conversionError ? 1u : 0u) << log.Dump();
        EXPECT_EQ(log.Has(KW("Failed to convert value of"), kLogError, -11), r.conversionError);
    }
}

TEST(BlackListRuleTest, Verdicts) {
    struct Row {
        int32_t interpretation;
        std::vector<const WChar*> items;
        const WChar* password;
        int32_t result;
        bool valid;
    };
    const Row rows[] = {
        {kBlackListWords, {KW("Password"), KW("Winter")}, KW("wINTER"), 0, false},  // a word, any case
        {kBlackListWords, {KW("Password")}, KW("Password1"), 0, true},
        {kBlackListWords, {KW("\u00E9t\u00E9")}, KW("\u00C9T\u00C9"), 0, true},  // only A-Z fold
        {kBlackListWords, {KW("Password")}, KW(""), 0, true},
        {kBlackListWords, {KW("Password"), KW("")}, nullptr, 0, false},  // an empty item refuses no password
        {kBlackListExpressions, {KW("abcd")}, KW("xxabcdxx"), 0, false},
        {kBlackListExpressions, {KW("abcd")}, KW("xxAbcdxx"), 0, true},
        {kBlackListExpressions, {KW("^x"), KW("[0-9]{4}$")}, KW("summer2024"), 0, false},
        {kBlackListExpressions, {KW("")}, KW("xyz"), 0, true},  // an empty expression is skipped
        {kBlackListExpressions, {KW("no"), KW("(abc"), KW("x")}, KW("x"), -1, false},  // stops at the bad one
        {2, {KW("Password")}, KW("password"), 0, false},  // any other interpretation reads words
        {-1, {KW("^pass")}, KW("password"), 0, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.interpretation) + " " + U8(r.password));
        CRuleBlackList rule({}, r.interpretation);
        for (const WChar* item : r.items)
            rule.AddItem(item);
        CapturedLog log;
        bool valid = !r.valid;
        EXPECT_EQ(rule.Test(log.log, &valid, nullptr, r.password, nullptr, nullptr), r.result);
        EXPECT_EQ(valid, r.valid);
        // Only the failure is logged; a refusal is reported by the policy.
        EXPECT_EQ(log.records.size(), r.result != 0 ? 1u : 0u) << log.Dump();
    }
}

TEST(BlackListRuleTest, LoadFromXml) {
    CapturedLog log;
    CRuleBlackList rule;
    ASSERT_EQ(
        LoadRule(
            rule, log.log,
            KW("<Rule><Enabled>1</Enabled><Blacklist Interpretation='0'><Item>one</Item><item>case counts"
               "</item><Item></Item></Blacklist><Note/><Blacklist Interpretation='1'><Item>two</Item>"
               "</Blacklist></Rule>")),
        0);
    // Lists add up, an empty item is kept, the last interpretation counts.
    EXPECT_EQ(rule.GetItems(), (std::vector<WString>{KW("one"), KW(""), KW("two")}));
    EXPECT_EQ(rule.GetInterpretation(), kBlackListExpressions);
    EXPECT_TRUE(rule.IsEnabled());
    // "Interpretation" is required (-11, silently); one that is not a number is logged.
    EXPECT_EQ(LoadRule(rule, log.log, KW("<Rule><Blacklist><Item>a</Item></Blacklist></Rule>")), -11);
    EXPECT_TRUE(rule.GetItems().empty());
    EXPECT_EQ(log.Errors(), 0u) << log.Dump();
    EXPECT_EQ(
        LoadRule(rule, log.log, KW("<Rule><Blacklist Interpretation='x'><Item>a</Item></Blacklist></Rule>")),
        0);
    EXPECT_EQ(rule.GetItems().size(), 1u);
    EXPECT_TRUE(log.Has(KW("interpretation attribute of blacklist rule to integer."), kLogError, -11));
}

TEST(BuiltInTextsTest, NonAsciiTextsSurviveTheCompiler) {
    struct Row {
        DescriptionMap texts;
        uint32_t language;
        const WChar* expected;
    };
    const Row rows[] = {
        {MinimumLengthDescriptions(6), kLangPolish,
         KW("Has\u0142o musi mie\u0107 co najmniej 6 znak\u00F3w.")},
        {MaximumLengthDescriptions(18), kLangChinese,
         KW("\u5BC6\u7801\u4E0D\u80FD\u8D85\u8FC718\u4E2A\u5B57\u7B26\u3002")},
        {MinimumAgeDescriptions(1440), kLangCzech,
         KW("Heslo mus\u00ED b\u00FDt nejm\u00E9n\u011B 1440 minut star\u00E9.")},
        {BuiltInRegexDescriptions(0), kLangFrench, KW("Expression r\u00E9guli\u00E8re.")},
        {BuiltInRegexDescriptions(1), kLangPolish,
         KW("Has\u0142o nie mo\u017Ce zawiera\u0107 wi\u0119cej ni\u017C 2 kolejnych identycznych "
            "znak\u00F3w.")},
        {BuiltInRegexDescriptions(2), kLangChinese,
         KW("\u5BC6\u7801\u5FC5\u987B\u81F3\u5C11\u5305\u542B\u4E0B\u5217\u5185\u5BB9\u7684\u4E00\u79CD\uFF1A"
            "\u5927\u5199\u548C\u5C0F\u5199\u5B57\u7B26\uFF0C\u7B26\u53F7\u548C\u6570\u5B57\u3002")},
        {BuiltInBlackListDescriptions(), kLangChinese,
         KW("\u5BC6\u7801\u4E0D\u5F97\u662F\u9ED1\u540D\u5355\u7684\u4E00\u90E8\u5206\u3002")},
        {BuiltInPasswordSimilarityDescriptions(), kLangFrench,
         KW("Le nouveau mot de passe ne doit pas ressembler \u00E0 l\u2019ancien mot de passe.")},
        {BuiltInNameSimilarityDescriptions(), kLangGerman,
         KW("Das Passwort darf keine \u00C4hnlichkeit mit pers\u00F6nlichen Informationen wie den "
            "Benutzernamen besitzen.")},
    };
    for (const Row& r : rows)
        EXPECT_EQ(U8(r.texts.at(r.language)), U8(r.expected));
}

}  // namespace
}  // namespace korva::testing
