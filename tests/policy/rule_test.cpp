// The rules: strict integers, Rule elements through the factory, verdicts, minimum age, built-in texts.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/fake_clock.h"
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

TEST(RuleTest, StringToIntAcceptsOnlyStrictDecimalText) {
    struct Row {
        const WChar* text;
        bool ok;
        int32_t value;  // also written on failure
    };
    const Row rows[] = {
        {KW("42"), true, 42},         {KW("007"), true, 7},
        {KW("-"), true, 0},           {KW("-2147483648"), true, INT32_MIN},
        {KW("2147483648"), false, 0},  // does not fit: not a number
        {KW(""), false, 0},           {nullptr, false, 0},
        {KW("+1"), false, 0},         {KW(" 1"), false, 0},
        {KW("1-"), false, 0},
    };
    for (const Row& r : rows) {
        int32_t value = 123;
        EXPECT_EQ(StringToInt(r.text, &value), r.ok) << U8(r.text);
        EXPECT_EQ(value, r.value) << U8(r.text);
    }
}

// A rule's type, enabled flag and settings as text, e.g. "1 on 1440" or "8 off i1[a][]".
std::string Settings(const CRuleBase& rule) {
    std::ostringstream s;
    s << rule.GetType() << (rule.IsEnabled() ? " on" : " off");
    if (const auto* age = dynamic_cast<const CRuleHistoryMinimumAge*>(&rule))
        s << " " << age->GetMinimumMinutes();
    if (const auto* minimum = dynamic_cast<const CRuleLengthMinimum*>(&rule))
        s << " " << minimum->GetMinimum();
    if (const auto* maximum = dynamic_cast<const CRuleLengthMaximum*>(&rule))
        s << " " << maximum->GetMaximum();
    if (const auto* regex = dynamic_cast<const CRuleRegex*>(&rule))
        s << " kind" << regex->GetKind() << (regex->GetExpressionValidatesPassword() ? " validates" : "");
    if (const auto* list = dynamic_cast<const CRuleBlackList*>(&rule)) {
        s << " i" << list->GetInterpretation();
        for (const WString& item : list->GetItems())
            s << "[" << U8(item) << "]";
    }
    if (const auto* name = dynamic_cast<const CRuleNameSimilarity*>(&rule))
        s << (name->GetCheckUsername() ? " user" : " ") << name->GetUsernameRatio()
          << (name->GetCheckFullname() ? " full" : " ") << name->GetFullnameRatio();
    if (const auto* password = dynamic_cast<const CRulePasswordSimilarity*>(&rule))
        s << (password->GetCheckPassword() ? " check" : " ") << password->GetPasswordRatio();
    return s.str();
}

TEST(RuleTest, FactoryReadsRuleElements) {
    struct Row {
        const WChar* xml;
        const WChar* version;  // the document's; null when it has none
        int32_t result;
        const char* settings;  // of each rule created, "|" between them
        const WChar*
            error;  // an Error line with the result (or -11); null: none, and no line at all on failure
    };
    const Row rows[] = {
        {KW("<Rule type='1'><Enabled>1</Enabled></Rule>"), nullptr, 0, "1 on 1440", nullptr},
        {KW("<Rule type='2'><Enabled>5</Enabled></Rule>"), nullptr, 0, "2 on 6", nullptr},
        {KW("<Rule type='3'><Enabled>0</Enabled></Rule>"), nullptr, 0, "3 off 18", nullptr},
        {KW("<Rule type='4'><Enabled>1</Enabled></Rule>"), nullptr, 0, "6 on 0.8 0.8|7 on 0.8", nullptr},
        {KW("<Rule type='5'><Enabled>-3</Enabled></Rule>"), nullptr, 0, "5 off kind0", nullptr},
        {KW("<Rule type='6'/>"), nullptr, -12, "6 off 0.8 0.8", KW("Failed to load name similarity rule")},
        {KW("<Rule type='7'><enabled>1</enabled></Rule>"), nullptr, 0, "7 off 0.8",
         nullptr},  // names' case counts
        {KW("<Rule type='8'><Enabled>true</Enabled></Rule>"), nullptr, 0, "8 off i0",
         KW("enabled node to bool")},
        {KW("<Rule type='2'><Enabled>1</Enabled><Enabled>x</Enabled></Rule>"), nullptr, 0, "2 on 6",
         KW("enabled node to bool")},  // a bad later value keeps the earlier one
        {KW("<Rule><Enabled>1</Enabled></Rule>"), nullptr, -11, "", nullptr},  // no type: silently
        {KW("<Rule type='0'/>"), nullptr, -11, "", KW("Unknown rule type detected.")},
        {KW("<Rule type='-1'/>"), nullptr, -11, "", KW("Unknown rule type detected.")},
        {KW("<Rule type=' 2'/>"), nullptr, -11, "", KW("Unknown rule type detected.")},
        {KW("<Rule type='2'><MinimumLength>+8</MinimumLength></Rule>"), nullptr, 0, "2 off 6",
         KW("minimum length to integer")},
        // A minimum age is in days in documents older than 1.8.0.1037, in minutes from that version on.
        {KW("<Rule type='1'><MinimumAge>2</MinimumAge></Rule>"), nullptr, 0, "1 off 2880", nullptr},
        {KW("<Rule type='1'><MinimumAge>2</MinimumAge></Rule>"), KW("1.7"), 0, "1 off 2880", nullptr},
        {KW("<Rule type='1'><MinimumAge>2</MinimumAge></Rule>"), KW("1.8"), 0, "1 off 2880", nullptr},
        {KW("<Rule type='1'><MinimumAge>2</MinimumAge></Rule>"), KW("1.8.0.1036"), 0, "1 off 2880", nullptr},
        {KW("<Rule type='1'><MinimumAge>2</MinimumAge></Rule>"), KW("1.8.0.1037"), 0, "1 off 2", nullptr},
        {KW("<Rule type='1'><MinimumAge>2</MinimumAge></Rule>"), KW("1.8.1"), 0, "1 off 2", nullptr},
        {KW("<Rule type='1'><MinimumAge>2</MinimumAge></Rule>"), KW("2.0"), 0, "1 off 2", nullptr},
        {KW("<Rule type='1'><MinimumAge>one</MinimumAge></Rule>"), KW("2.0"), 0, "1 off 1440",
         KW("minimum password age to integer")},
        {KW("<Rule type='1'><MinimumAge>2000000</MinimumAge></Rule>"), nullptr, 0, "1 off 2147483647",
         nullptr},  // held at the largest age rather than wrapped
        {KW("<Rule type='5'><Regex Type='2'>x</Regex><ExpressionValidatesPassword>2"
            "</ExpressionValidatesPassword></Rule>"),
         nullptr, 0, "5 off kind2 validates", nullptr},
        {KW("<Rule type='5'><Regex Type='1'>x</Regex><ExpressionValidatesPassword>0"
            "</ExpressionValidatesPassword></Rule>"),
         nullptr, 0, "5 off kind1", nullptr},
        {KW("<Rule type='5'><ExpressionValidatesPassword>-1</ExpressionValidatesPassword></Rule>"), nullptr,
         0, "5 off kind0", nullptr},
        {KW("<Rule type='5'><ExpressionValidatesPassword>1</ExpressionValidatesPassword>"
            "<ExpressionValidatesPassword>yes</ExpressionValidatesPassword></Rule>"),
         nullptr, 0, "5 off kind0 validates", KW("ExpressionValidatesPassword node to bool")},
        {KW("<Rule type='5'><Regex>x</Regex><Enabled>1</Enabled></Rule>"), nullptr, -11, "5 off kind0",
         KW("Failed to load regular expression rule")},  // "Type" is required; the load stops there
        {KW("<Rule type='5'><Regex Type='2x'>x</Regex></Rule>"), nullptr, 0, "5 off kind0",
         KW("type attribute of regular expression rule")},
        // Lists add up, an empty item is kept, the last interpretation counts.
        {KW("<Rule type='8'><Blacklist Interpretation='0'><Item>a</Item><item>b</item><Item/></Blacklist>"
            "<Note/><Blacklist Interpretation='1'><Item>c</Item></Blacklist></Rule>"),
         nullptr, 0, "8 off i1[a][][c]", nullptr},
        {KW("<Rule type='8'><Blacklist><Item>a</Item></Blacklist></Rule>"), nullptr, -11, "8 off i0",
         KW("Failed to load blacklist rule")},  // "Interpretation" is required
        {KW("<Rule type='8'><Blacklist Interpretation='x'><Item>a</Item></Blacklist></Rule>"), nullptr, 0,
         "8 off i0[a]", KW("interpretation attribute of blacklist rule")},
        // Each similarity rule reads its own ratios; "Enabled" is required; a bad ratio means the default.
        {KW("<Rule type='4'><UsernameRatio Enabled='1'>0.7</UsernameRatio><PasswordRatio Enabled='7'>0.5"
            "</PasswordRatio><FullnameRatio Enabled='0'>-</FullnameRatio></Rule>"),
         nullptr, 0, "6 off user0.7 0|7 off check0.5", nullptr},
        {KW("<Rule type='7'><PasswordRatio>0.5</PasswordRatio></Rule>"), nullptr, -11, "7 off 0.8",
         KW("Failed to load password similarity rule")},
        {KW("<Rule type='7'><PasswordRatio Enabled='1'>.5</PasswordRatio></Rule>"), nullptr, 0,
         "7 off check0.8", KW("similarity ratio to float")},
        {KW("<Rule type='7'><PasswordRatio Enabled='1'>1000000000000000000000000000000000000000"
            "</PasswordRatio></Rule>"),
         nullptr, 0, "7 off check3.40282e+38", nullptr},  // beyond the float range: the largest float
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(U8(r.xml) + " " + U8(r.version));
        CapturedLog log;
        RuleList rules;
        EXPECT_EQ(CreateRule(log.log, ParseElement(r.xml).element, &rules, r.version), r.result)
            << log.Dump();
        std::string settings;
        for (const auto& rule : rules)
            settings += (settings.empty() ? "" : "|") + Settings(*rule);
        EXPECT_EQ(settings, r.settings);
        EXPECT_TRUE(r.error != nullptr ? log.Has(r.error, kLogError, r.result != 0 ? r.result : -11)
                                       : (r.result == 0 ? log.Errors() == 0 : log.records.empty()))
            << log.Dump();
    }
}

TEST(RuleTest, DescriptionsByLanguage) {
    CapturedLog log;
    CRuleLengthMinimum rule;
    const WChar* xml =
        KW("<Rule><Description languageid='9'>first</Description><Description LanguageID='9'>"
           "second</Description><Description languageid='19'>nl</Description><Description "
           "languageid='1031'>any</Description><Description languageid=' 7'>bad</Description></Rule>");
    ASSERT_EQ(rule.LoadFromXML(log.log, ParseElement(xml).element, nullptr), 0);
    // The attribute's name ignores case; a later text replaces an earlier one; a bad id means English.
    EXPECT_EQ(U8(rule.GetDescription(kLangEnglish)), "bad");
    EXPECT_EQ(U8(rule.GetDescription(kLangDutch)), "nl");
    EXPECT_EQ(U8(rule.GetDescription(1031)), "any");
    EXPECT_EQ(U8(rule.GetDescription(kLangFrench)), "bad");  // no French text: English
    // Without an English text other languages get none.
    const WChar* dutchOnly = KW("<Rule><Description languageid='19'>nl</Description></Rule>");
    ASSERT_EQ(rule.LoadFromXML(log.log, ParseElement(dutchOnly).element, nullptr), 0);
    EXPECT_EQ(U8(rule.GetDescription(kLangDutch)), "nl");
    EXPECT_EQ(rule.GetDescription(kLangGerman), nullptr);
}

TEST(RuleTest, Verdicts) {
    struct Row {
        std::shared_ptr<CRuleBase> rule;
        const WChar* password;
        const WChar* oldPassword;
        int32_t result;
        bool valid;
    };
    auto Min = [](int32_t limit) { return std::make_shared<CRuleLengthMinimum>(DescriptionMap{}, limit); };
    auto Max = [](int32_t limit) { return std::make_shared<CRuleLengthMaximum>(DescriptionMap{}, limit); };
    // A rule of `kind` with `expression`, or the built-in rule of that kind when it is null.
    auto Regex = [](int32_t kind, const WChar* expression = nullptr, bool validates = false) {
        return expression == nullptr
                   ? std::shared_ptr<CRuleBase>(CreateRegexRule(kind, nullptr))
                   : std::make_shared<CRuleRegex>(DescriptionMap{}, kind, expression, KW(""), validates);
    };
    auto List = [](int32_t interpretation, std::initializer_list<const WChar*> items) {
        auto list = std::make_shared<CRuleBlackList>(DescriptionMap{}, interpretation);
        for (const WChar* item : items)
            list->AddItem(item);
        return list;
    };
    const WChar* kSmiley = KW("\U0001F600");  // a surrogate pair: two code units
    const Row rows[] = {
        {Min(8), KW("abcdefg"), nullptr, 0, false},
        {Min(8), KW("abcdefgh"), nullptr, 0, true},
        {Min(1), nullptr, nullptr, 0, false},
        {Min(2), kSmiley, nullptr, 0, true},
        {Min(3), kSmiley, nullptr, 0, false},
        {Max(18), KW("123456789012345678"), nullptr, 0, true},
        {Max(18), KW("1234567890123456789"), nullptr, 0, false},
        {Max(0), nullptr, nullptr, 0, true},
        {Max(-1), nullptr, nullptr, 0, false},
        {Regex(kRegexRepeatingCharacters), KW("aabbccdd"), nullptr, 0, true},  // pairs are allowed
        {Regex(kRegexRepeatingCharacters), KW("ab111cd"), nullptr, 0, false},
        {Regex(kRegexCharacterRequirements, KW("[A-Z]"), true), KW("passWord"), nullptr, 0, true},
        {Regex(kRegexCharacterRequirements, KW("[A-Z]"), true), KW("\u00C4pfel"), nullptr, 0, false},
        {Regex(kRegexCharacterRequirements, KW("[A-Z]"), true), nullptr, nullptr, 0, false},
        {Regex(kRegexPlain, KW("abc")), KW("xxabcxx"), nullptr, 0, false},
        {Regex(kRegexPlain, KW("abc")), KW("xxABCxx"), nullptr, 0, true},  // case counts
        {Regex(kRegexPlain, KW("abc")), KW(""), nullptr, 0, false},        // a plain rule refuses ""
        {Regex(kRegexCharacterRequirements, KW(""), true), KW(""), nullptr, 0, true},  // no expression: valid
        {Regex(kRegexPlain), nullptr, nullptr, 0, true},
        {Regex(kRegexPlain, KW("(abc")), KW("s3cret"), nullptr, -1, false},
        {List(kBlackListWords, {KW("Password"), KW("Winter")}), KW("wINTER"), nullptr, 0, false},
        {List(kBlackListWords, {KW("\u00E9t\u00E9")}), KW("\u00C9T\u00C9"), nullptr, 0, true},  // A-Z fold
        {List(kBlackListWords, {KW("Password"), KW("")}), nullptr, nullptr, 0, false},  // empty matches none
        {List(kBlackListExpressions, {KW("abcd")}), KW("xxAbcdxx"), nullptr, 0, true},
        {List(kBlackListExpressions, {KW("^x"), KW("[0-9]{4}$")}), KW("summer2024"), nullptr, 0, false},
        {List(kBlackListExpressions, {KW("")}), KW("xyz"), nullptr, 0, true},  // an empty item is skipped
        {List(kBlackListExpressions, {KW("(abc"), KW("xz")}), KW("xz"), nullptr, -1, false},  // ends there
        {List(2, {KW("Password")}), KW("password"), nullptr, 0, false},  // any other interpretation: words
        {List(-1, {KW("^pass")}), KW("password"), nullptr, 0, true},
        {CreatePasswordSimilarityRule(true), KW("Secret2025"), KW("Secret2024"), 0, false},  // 0.9 both ways
        {CreatePasswordSimilarityRule(true), KW("xyzSecret2024xyz"), KW("Secret2024"), 0, true},  // 1.0 and 0
        {CreatePasswordSimilarityRule(true), KW("Secret2024!"), KW("Secret2024"), 0, false},  // 1.0 and 0.909
        {CreatePasswordSimilarityRule(true), KW("sECRET2024"), KW("Secret2024"), 0, true},    // case counts
        {CreatePasswordSimilarityRule(true), KW("Secret2024"), nullptr, 0, true},  // nothing to compare with
        {CreatePasswordSimilarityRule(false), KW("Secret2024"), KW("Secret2024"), 0, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(U8(GetRuleName(r.rule.get())) + ": " + U8(r.password) + " / " + U8(r.oldPassword));
        CapturedLog log;
        bool valid = !r.valid;
        EXPECT_EQ(r.rule->Test(log.log, &valid, nullptr, r.password, nullptr, r.oldPassword), r.result);
        EXPECT_EQ(valid, r.valid);
        EXPECT_EQ(log.Errors(), r.result != 0 ? 1u : 0u) << log.Dump();
        EXPECT_TRUE(r.password == nullptr || r.password[0] == 0 || !log.Has(r.password)) << log.Dump();
    }
}

TEST(RuleTest, MinimumAgeFromTheDirectoryInWholeMinutes) {
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
        {0, 525600, Op::Get, 0, 0, true, nullptr},  // must change at next logon: 1601, centuries old
        {kNow, 0, Op::CrackStatus, 2, -6, false, KW("canonical name 'a.b/Users/Jo'")},
        {kNow, 0, Op::Get, kEAdsPropertyNotFound, kEAdsPropertyNotFound, false, KW("get time and date")},
        {kNotInteger, 0, Op::Get, 0, kENoInterface, false, KW("Unable to query interface of pwdLastSet")},
        {-1, 0, Op::Get, 0, -23, false, KW("Unable to convert date object to systemtime.")},
    };
    testing::FakeClock clock;
    clock.now = kNow;
    platform::ScopedClockOverride clockOverride(&clock);
    FakeDirectory directory;
    directory.AddCanonicalName(KW("a.b/Users/Jo"), KW("CN=Jo,DC=a,DC=b"));
    FakeDirectory::Object& user = directory.AddObject(KW("CN=Jo,DC=a,DC=b"));
    CScope scope;
    scope.SetType(ST_USERS);
    scope.SetCanonicalName(KW("a.b/Users/Jo"));
    for (const Row& r : rows) {
        SCOPED_TRACE("pwdLastSet " + std::to_string(r.lastSet) + ", fault " + std::to_string(r.fault));
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

TEST(RuleTest, BuiltInTextsKeepTheirNonAsciiCharacters) {
    struct Row {
        DescriptionMap texts;
        uint32_t language;
        const WChar* part;  // of the text in that language
    };
    const Row rows[] = {
        {MinimumLengthDescriptions(6), kLangPolish, KW("najmniej 6 znak\u00F3w.")},
        {MaximumLengthDescriptions(18), kLangChinese, KW("\u8D85\u8FC718\u4E2A\u5B57\u7B26\u3002")},
        {MinimumAgeDescriptions(1440), kLangCzech, KW("nejm\u00E9n\u011B 1440 minut star\u00E9.")},
        {BuiltInRegexDescriptions(0), kLangFrench, KW("Expression r\u00E9guli\u00E8re.")},
        {BuiltInRegexDescriptions(1), kLangPolish, KW("wi\u0119cej ni\u017C 2 kolejnych")},
        {BuiltInRegexDescriptions(2), kLangHungarian, KW("nagybet\u0171k, szimb\u00F3lumok")},
        {BuiltInBlackListDescriptions(), kLangChinese, KW("\u9ED1\u540D\u5355\u7684\u4E00\u90E8\u5206")},
        {BuiltInPasswordSimilarityDescriptions(), kLangFrench, KW("ressembler \u00E0 l\u2019ancien")},
        {BuiltInNameSimilarityDescriptions(), kLangGerman,
         KW("keine \u00C4hnlichkeit mit pers\u00F6nlichen")},
    };
    for (const Row& r : rows)
        EXPECT_NE(r.texts.at(r.language).find(r.part), WString::npos) << U8(r.texts.at(r.language));
}

}  // namespace
}  // namespace korva::testing
