// The rules: Rule elements through the factory, verdicts, built-in texts, the similarity measure by hand.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <tuple>

#include "policy/policy.h"
#include "policy/rule_blacklist.h"
#include "policy/rule_length.h"
#include "policy/rule_min_age.h"
#include "policy/rule_regex.h"
#include "policy/rule_similarity.h"
#include "policy/similarity.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

// A rule as text ("8 off 1 [a][]"): type, enabled, settings (null text "-"), named as its type's row lists.
std::string Settings(const CRuleBase& rule) {
    std::ostringstream s;
    s << rule.GetType() << (rule.IsEnabled() ? " on" : " off");
    const RuleTypeInfo* info = FindRuleType(rule.GetType());
    EXPECT_EQ(U8(GetRuleName(info->create().get())), U8(info->displayName));
    size_t count = 0;
    for (const RuleSetting& setting : rule.DescribeSettings()) {
        EXPECT_STREQ(setting.name, info->settings.at(count++));
        s << " ";
        if (const auto* number = std::get_if<int64_t>(&setting.value))
            s << *number;
        else if (const auto* flag = std::get_if<bool>(&setting.value))
            s << (*flag ? "y" : "n");
        else if (const auto* ratio = std::get_if<float>(&setting.value))
            s << *ratio;
        else if (const auto* text = std::get_if<const WChar*>(&setting.value))
            s << (*text != nullptr ? "[" + U8(*text) + "]" : "-");
        else if (const auto* list = std::get_if<const std::vector<WString>*>(&setting.value)) {
            s << (*list)->size() << ":";
            for (const WString& item : **list)
                s << "[" << U8(item) << "]";
        }
    }
    EXPECT_TRUE(count == info->settings.size() || info->settings[count] == nullptr);
    return s.str();
}

TEST(RuleTest, FactoryReadsRuleElements) {
    // type (null: none), children, result, settings of each rule made, the Error line (null: no error at all)
    const std::tuple<const char*, const char*, int32_t, const char*, const char*> rows[] = {
        {"1", "<Enabled>1</Enabled>", 0, "1 on 1440", nullptr},
        {"2", "<Enabled>5</Enabled>", 0, "2 on 6", nullptr},
        {"3", "<Enabled>0</Enabled>", 0, "3 off 18", nullptr},
        {"4", "<Enabled>1</Enabled>", 0, "6 on n n 0.8 0.8|7 on n 0.8", nullptr},
        {"5", "<Enabled>-3</Enabled>", 0, "5 off 0 - - n", nullptr},
        {"6", "", -12, "6 off n n 0.8 0.8", "Failed to load name similarity rule"},
        {"7", "<enabled>1</enabled>", 0, "7 off n 0.8", nullptr},  // names' case counts
        {"8", "<Enabled>true</Enabled>", 0, "8 off 0 0:", "enabled node to bool"},
        {"2", "<Enabled>1</Enabled><Enabled>x</Enabled>", 0, "2 on 6", "enabled node to bool"},
        {nullptr, "<Enabled>1</Enabled>", -11, "", nullptr},
        {"0", "", -11, "", "Unknown rule type detected."},
        {"-1", "", -11, "", "Unknown rule type detected."},
        // Only strict decimal text within 32 bits is a number.
        {"2", "<MinimumLength>+8</MinimumLength>", 0, "2 off 6", "minimum length to integer"},
        {"2", "<MinimumLength>1-</MinimumLength>", 0, "2 off 6", "minimum length to integer"},
        {"2", "<MinimumLength/>", 0, "2 off 6", "minimum length to integer"},
        {"2", "<MinimumLength>2147483648</MinimumLength>", 0, "2 off 6", "minimum length to integer"},
        {"2", "<MinimumLength>007</MinimumLength>", 0, "2 off 7", nullptr},
        {"2", "<MinimumLength>-</MinimumLength>", 0, "2 off 0", nullptr},  // a lone "-" reads as 0
        {"2", "<MinimumLength>-2147483648</MinimumLength>", 0, "2 off -2147483648", nullptr},
        {"1", "<MinimumAge>2</MinimumAge>", 0, "1 off 2880", nullptr},  // days without a document version
        {"1", "<MinimumAge>one</MinimumAge>", 0, "1 off 1440", "minimum password age to integer"},
        {"1", "<MinimumAge>2000000</MinimumAge>", 0, "1 off 2147483647", nullptr},  // held, not wrapped
        {"5", "<Regex Type='2'>x</Regex><ExpressionValidatesPassword>2</ExpressionValidatesPassword>", 0,
         "5 off 2 [x] - y", nullptr},
        {"5", "<Regex Type='1'>x</Regex><ExpressionValidatesPassword>0</ExpressionValidatesPassword>", 0,
         "5 off 1 [x] - n", nullptr},
        {"5", "<ExpressionValidatesPassword>-1</ExpressionValidatesPassword>", 0, "5 off 0 - - n", nullptr},
        {"5",
         "<ExpressionValidatesPassword>1</ExpressionValidatesPassword><ExpressionValidatesPassword>yes"
         "</ExpressionValidatesPassword>",
         0, "5 off 0 - - y", "ExpressionValidatesPassword node to bool"},
        // "Type" is required; the load stops there.
        {"5", "<Regex>x</Regex><Enabled>1</Enabled>", -11, "5 off 0 [x] - n",
         "Failed to load regular expression"},
        {"5", "<Regex Type='2x'>x</Regex>", 0, "5 off 0 [x] - n",
         "type attribute of regular expression rule"},
        // Lists add up, an empty item is kept, the last interpretation counts.
        {"8",
         "<Blacklist Interpretation='0'><Item>a</Item><item>b</item><Item/></Blacklist><Note/>"
         "<Blacklist Interpretation='1'><Item>c</Item></Blacklist>",
         0, "8 off 1 3:[a][][c]", nullptr},
        {"8", "<Blacklist><Item>a</Item></Blacklist>", -11, "8 off 0 0:", "Failed to load blacklist rule"},
        {"8", "<Blacklist Interpretation='x'><Item>a</Item></Blacklist>", 0, "8 off 0 1:[a]",
         "interpretation attribute of blacklist rule"},
        // Each similarity rule reads its own ratios; "Enabled" is required; a bad ratio means the default.
        {"4",
         "<UsernameRatio Enabled='1'>0.7</UsernameRatio><PasswordRatio Enabled='7'>0.5</PasswordRatio>"
         "<FullnameRatio Enabled='0'>-</FullnameRatio>",
         0, "6 off y n 0.7 0|7 off y 0.5", nullptr},
        {"7", "<PasswordRatio>0.5</PasswordRatio>", -11, "7 off n 0.8", "Failed to load password similarity"},
        {"7", "<PasswordRatio Enabled='1'>.5</PasswordRatio>", 0, "7 off y 0.8", "ratio to float"},
        {"7", "<PasswordRatio Enabled='1'>0,8</PasswordRatio>", 0, "7 off y 0.8", "ratio to float"},
        {"7", "<PasswordRatio Enabled='1'>1.2.3</PasswordRatio>", 0, "7 off y 0.8", "ratio to float"},
        {"7", "<PasswordRatio Enabled='1'>1000000000000000000000000000000000000000</PasswordRatio>", 0,
         "7 off y 3.40282e+38", nullptr},  // beyond the float range: the largest float
        {"7", "<PasswordRatio Enabled='1'>0.000000000000000000000000000000000000000000000001</PasswordRatio>",
         0, "7 off y 0", nullptr},  // below it: zero
    };
    EXPECT_EQ(FindRuleType(0), nullptr);
    EXPECT_EQ(FindRuleType(9), nullptr);
    EXPECT_EQ(U8(GetRuleName(nullptr)), "Unknown rule");
    for (const auto& [type, children, result, expected, error] : rows) {
        const std::string xml = std::string("<Rule") + (type ? std::string(" type='") + type + "'" : "") +
                                ">" + children + "</Rule>";
        SCOPED_TRACE(xml);
        CapturedLog log;
        RuleList rules;
        EXPECT_EQ(CreateRule(log.log, ParseElement(AsciiToWide(xml)).element, &rules, nullptr), result)
            << log.Dump();
        std::string settings;
        for (const auto& rule : rules)  // a clone has every setting
            settings += (settings.empty() ? "" : "|") + Settings(*rule->Clone());
        EXPECT_EQ(settings, expected);
        EXPECT_TRUE(error != nullptr ? log.Has(AsciiToWide(error), kLogError, result != 0 ? result : -11)
                                     : (result == 0 ? log.Errors() == 0 : log.records.empty()))
            << log.Dump();
    }
}

TEST(RuleTest, Verdicts) {
    auto Min = [](int32_t limit) { return std::make_shared<CRuleLengthMinimum>(DescriptionMap{}, limit); };
    auto Max = [](int32_t limit) { return std::make_shared<CRuleLengthMaximum>(DescriptionMap{}, limit); };
    auto Regex = [](int32_t kind, const WChar* expression, bool validates = false) {
        return std::make_shared<CRuleRegex>(DescriptionMap{}, kind, expression, KW(""), validates);
    };
    const std::shared_ptr<CRuleBase> kRepeats = CreateRegexRule(kRegexRepeatingCharacters, nullptr);
    auto List = [](int32_t interpretation, std::initializer_list<const WChar*> items) {
        auto list = std::make_shared<CRuleBlackList>(DescriptionMap{}, interpretation);
        for (const WChar* item : items)
            list->AddItem(item);
        return list;
    };
    // rule, password, old password, result, verdict
    const std::tuple<std::shared_ptr<CRuleBase>, const WChar*, const WChar*, int32_t, bool> rows[] = {
        {Min(8), KW("abcdefg"), nullptr, 0, false},
        {Min(8), KW("abcdefgh"), nullptr, 0, true},
        {Min(1), nullptr, nullptr, 0, false},
        {Min(2), KW("\U0001F600"), nullptr, 0, true},  // a surrogate pair: two code units
        {Min(3), KW("\U0001F600"), nullptr, 0, false},
        {Max(0), nullptr, nullptr, 0, true},
        {Max(-1), nullptr, nullptr, 0, false},
        {kRepeats, KW("aabbccdd"), nullptr, 0, true},  // pairs are allowed
        {kRepeats, KW("111cd"), nullptr, 0, false},    // a run at the very start
        {kRepeats, KW("ab111"), nullptr, 0, false},    // and at the very end
        {kRepeats, KW(""), nullptr, 0, true},          // nothing repeats in ""
        {Regex(kRegexCharacterRequirements, KW("[A-Z]"), true), KW("passWord"), nullptr, 0, true},
        {Regex(kRegexCharacterRequirements, KW("[A-Z]"), true), nullptr, nullptr, 0, false},
        {Regex(kRegexPlain, KW("abc")), KW("xxabcxx"), nullptr, 0, false},
        {Regex(kRegexPlain, KW("abc")), KW("xxABCxx"), nullptr, 0, true},  // case counts
        {Regex(kRegexPlain, KW("abc")), KW(""), nullptr, 0, false},        // a plain rule refuses ""
        {Regex(kRegexCharacterRequirements, KW(""), true), KW(""), nullptr, 0, true},  // no expression: valid
        {CreateRegexRule(kRegexPlain, nullptr), nullptr, nullptr, 0, true},            // the built-in one
        {Regex(kRegexPlain, KW("(abc")), KW("s3cret"), nullptr, -1, false},
        {List(kBlackListWords, {KW("Password"), KW("Winter")}), KW("wINTER"), nullptr, 0, false},
        {List(kBlackListWords, {KW("\u00E9t\u00E9")}), KW("\u00C9T\u00C9"), nullptr, 0, true},  // A-Z fold
        {List(kBlackListWords, {KW("Password"), KW("")}), nullptr, nullptr, 0, false},  // empty matches none
        {List(kBlackListExpressions, {KW("abcd")}), KW("xxAbcdxx"), nullptr, 0, true},
        {List(kBlackListExpressions, {KW("^x"), KW("[0-9]{4}$")}), KW("summer2024"), nullptr, 0, false},
        {List(kBlackListExpressions, {KW("")}), KW("xyz"), nullptr, 0, true},  // an empty item is skipped
        {List(kBlackListWords, {}), KW(""), nullptr, 0, true},  // an empty list refuses nothing
        {List(kBlackListExpressions, {}), KW(""), nullptr, 0, true},
        {List(kBlackListExpressions, {KW("(abc"), KW("xz")}), KW("xz"), nullptr, -1, false},  // ends there
        {List(2, {KW("Password")}), KW("password"), nullptr, 0, false},  // any other interpretation: words
        {List(-1, {KW("^pass")}), KW("password"), nullptr, 0, true},
        {CreatePasswordSimilarityRule(true), KW("Secret2025"), KW("Secret2024"), 0, false},  // 0.9 both ways
        {CreatePasswordSimilarityRule(true), KW("xyzSecret2024xyz"), KW("Secret2024"), 0, true},  // 1.0 and 0
        {CreatePasswordSimilarityRule(true), KW("sECRET2024"), KW("Secret2024"), 0, true},  // case counts
        {CreatePasswordSimilarityRule(true), KW("Secret2024"), nullptr, 0, true},  // nothing to compare with
        {CreatePasswordSimilarityRule(false), KW("Secret2024"), KW("Secret2024"), 0, true},
    };
    for (const auto& [rule, password, oldPassword, result, expected] : rows) {
        SCOPED_TRACE(U8(GetRuleName(rule.get())) + ": " + U8(password) + " / " + U8(oldPassword));
        CapturedLog log;
        bool valid = !expected;
        EXPECT_EQ(rule->Test(log.log, &valid, nullptr, password, nullptr, oldPassword), result);
        EXPECT_EQ(valid, expected);
        EXPECT_EQ(log.Errors(), result != 0 ? 1u : 0u) << log.Dump();
        EXPECT_TRUE(password == nullptr || password[0] == 0 || !log.Has(password)) << log.Dump();
    }
}

// Every built-in table is keyed by known languages only; the numbered ones carry their number in every text.
TEST(RuleTest, BuiltInTextsUnderTheirLanguages) {
    const std::set<uint32_t> known = {
        kLangChinese,   kLangCzech,   kLangGerman, kLangEnglish, kLangSpanish,    kLangFinnish, kLangFrench,
        kLangHungarian, kLangItalian, kLangDutch,  kLangPolish,  kLangPortuguese, kLangRussian};
    const std::pair<DescriptionMap, const char*> tables[] = {
        {MinimumLengthDescriptions(6), "6"},      {MaximumLengthDescriptions(18), "18"},
        {MinimumAgeDescriptions(1441), "1441"},   {BuiltInRegexDescriptions(0), ""},
        {BuiltInRegexDescriptions(1), ""},        {BuiltInRegexDescriptions(2), ""},
        {BuiltInBlackListDescriptions(), ""},     {BuiltInPasswordSimilarityDescriptions(), ""},
        {BuiltInNameSimilarityDescriptions(), ""}};
    for (const auto& [texts, number] : tables) {
        EXPECT_GE(texts.size(), 11u) << U8(texts.at(kLangEnglish));  // English: every other one's fallback
        for (const auto& [language, text] : texts) {
            EXPECT_EQ(known.count(language), 1u) << language << " " << U8(text);
            EXPECT_NE(U8(text).find(number), std::string::npos) << U8(text);
        }
    }
    EXPECT_NE(MinimumLengthDescriptions(6).at(kLangEnglish).find(KW("at least 6 characters")), WString::npos);
    EXPECT_NE(MinimumLengthDescriptions(6).at(kLangChinese).find(KW("\u5BC6\u7801\u5FC5\u987B")),
              WString::npos);
}

constexpr double kDefault = static_cast<double>(kDefaultSimilarityRatio);  // the float ratio, widened

TEST(Similarity, KnownValues) {
    // text, pattern, ratio, ignore case, similarity
    const std::tuple<const WChar*, const WChar*, double, bool, double> rows[] = {
        {nullptr, nullptr, kDefault, false, 1.0},
        {KW(""), nullptr, kDefault, false, 1.0},  // empty counts as missing
        {nullptr, KW("abc"), kDefault, false, 0.0},
        {KW("Secret2024"), KW("Secret2025"), kDefault, false, 0.9},        // 10 characters allow one edit
        {KW("xyzSecret2024xyz"), KW("Secret2024"), kDefault, false, 1.0},  // text around the match is free
        {KW("Secret2024"), KW("Secret2024!"), kDefault, false, 1.0 - 1.0 / 11.0},
        {KW("John"), KW("John1"), kDefault, true, 0.0},              // 1 - 0.8f is below 0.2: no edit
        {KW("\u00C9t\u00E9"), KW("\u00E9t\u00E9"), 1.0, true, 0.0},  // only A-Z fold
        {KW("abXX"), KW("abcd"), 0.5, false, 0.5},                   // 0.5 allows 2 edits of 4...
        {KW("aXXX"), KW("abcd"), 0.5, false, 0.0},                   // ...not 3
        {KW("abcX"), KW("abcd"), 1.5, false, 0.0},                   // above 1 is 1: no edit
        {KW("XXXd"), KW("abcd"), -3.0, false, 0.25},                 // below 0 is 0
        // The text position carries over between pattern offsets (a fresh scan would give 0.5 for both).
        {KW("ba"), KW("abac"), 0.0, false, 0.25},
        {KW("ccaba"), KW("acca"), 0.0, false, 0.5},
        // Substitutions, insertions and deletions mixed, under different bounds.
        {KW("acbaba"), KW("abcab"), 0.5, false, 0.6},
        {KW("bacaba"), KW("baaccc"), 0.25, false, 0.5},
        {KW("ccccccc"), KW("acc"), 0.25, false, 2.0 / 3},
        {KW("bbca"), KW("ccbb"), 0.0, false, 0.25},
        {KW("cabbac"), KW("caabcb"), 0.0, false, 2.0 / 3},
        {KW("bbccbcb"), KW("cacaaa"), 0.0, false, 1.0 / 3},
        {KW("bca"), KW("acbac"), 0.0, false, 0.2},
        {KW("caa"), KW("caca"), 0.25, false, 0.75},
        {KW("cca"), KW("cbbba"), 0.25, false, 0.4},
        {KW("bbcaccc"), KW("bcacb"), 0.0, false, 0.8},
    };
    for (const auto& [text, pattern, ratio, ignoreCase, expected] : rows) {
        SCOPED_TRACE(U8(text) + " / " + U8(pattern));
        EXPECT_DOUBLE_EQ(Similarity(text, pattern, ratio, ignoreCase), expected);
    }
}

}  // namespace
}  // namespace korva::testing
