// The blacklist rule: word and expression lists, the choices for other interpretations and empty items,
// loading from XML with injected DOM failures, built-in texts.
#include "policy/rule_blacklist.h"

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

struct ListCase {
    const char* what;
    int32_t interpretation;
    std::vector<const WChar*> items;
    const WChar* password;
    bool valid;
};

TEST(BlackListRule, Verdicts) {
    const ListCase cases[] = {
        {"word, any case", kBlackListWords, {KW("Password"), KW("Winter")}, KW("pASSWORD"), false},
        {"second word", kBlackListWords, {KW("Password"), KW("Winter")}, KW("WINTER"), false},
        {"word with one more character",
         kBlackListWords,
         {KW("Password"), KW("Winter")},
         KW("Password1"),
         true},
        {"word inside the password", kBlackListWords, {KW("Winter")}, KW("MyWinter"), true},
        // Only A-Z fold.
        {"non-ASCII case", kBlackListWords, {KW("\u00E9t\u00E9")}, KW("\u00C9T\u00C9"), true},
        {"empty password, no empty item", kBlackListWords, {KW("Password")}, KW(""), true},
        {"empty password, empty item", kBlackListWords, {KW("Password"), KW("")}, KW(""), false},
        {"missing password, empty item", kBlackListWords, {KW("")}, nullptr, false},
        {"empty list, words", kBlackListWords, {}, KW("Password"), true},
        {"expression, lower case", kBlackListExpressions, {KW("abcd")}, KW("xxabcdxx"), false},
        {"expression, capital", kBlackListExpressions, {KW("abcd")}, KW("xxAbcdxx"), true},
        {"anchored, at the start", kBlackListExpressions, {KW("^winter")}, KW("winter2024"), false},
        {"anchored, later", kBlackListExpressions, {KW("^winter")}, KW("Mywinter2024"), true},
        {"second expression", kBlackListExpressions, {KW("^x"), KW("[0-9]{4}$")}, KW("summer2024"), false},
        {"empty list, expressions", kBlackListExpressions, {}, KW("Password"), true},
        {"empty password, expressions", kBlackListExpressions, {KW(".*")}, KW(""), true},
        {"missing password, expressions", kBlackListExpressions, {KW(".*")}, nullptr, true},
        // An empty entry in an expression list is skipped rather than refusing every password.
        {"empty expression", kBlackListExpressions, {KW(""), KW("abc")}, KW("xyz"), true},
        {"empty expression then a hit", kBlackListExpressions, {KW(""), KW("abc")}, KW("abc"), false},
        // Any other interpretation reads the list as words.
        {"interpretation 2, equal", 2, {KW("Password")}, KW("password"), false},
        {"interpretation 2, expression text", 2, {KW("^pass")}, KW("password"), true},
        {"interpretation -1", -1, {KW("Password")}, KW("PASSWORD"), false},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.what);
        CRuleBlackList rule({}, c.interpretation);
        for (const WChar* item : c.items)
            rule.AddItem(item);
        LogCapture capture;
        bool valid = !c.valid;
        EXPECT_EQ(rule.Test(capture.log, &valid, nullptr, c.password, nullptr, nullptr), 0);
        EXPECT_EQ(valid, c.valid);
        // A refusal is not logged; the policy reports the rule's description.
        EXPECT_TRUE(capture.lines.empty()) << capture.Dump();
    }
}

TEST(BlackListRule, ExpressionThatDoesNotCompileStopsTheTest) {
    CRuleBlackList rule({}, kBlackListExpressions);
    rule.AddItem(KW("nomatch"));
    rule.AddItem(KW("(abc"));
    rule.AddItem(KW("x"));  // would match, but is never tried
    LogCapture capture;
    bool valid = true;
    EXPECT_EQ(rule.Test(capture.log, &valid, nullptr, KW("x"), nullptr, nullptr), -1);
    EXPECT_FALSE(valid);
    EXPECT_TRUE(capture.HasWithCode(kLogError, -1,
                                    KW("An error occurred while evalutating blacklist expression '(abc'")))
        << capture.Dump();
    EXPECT_EQ(capture.lines.size(), 1u);
}

struct Loaded {
    ParsedElement parsed;
    CRuleBlackList rule;
    LogCapture capture;
    int32_t result = 0;
};

std::unique_ptr<Loaded> Load(const WChar* xmlText, const std::function<void(xml::Document&)>& arm = {}) {
    auto loaded = std::make_unique<Loaded>();
    loaded->parsed = ParseElement(xmlText, KW("Rule"));
    if (arm)
        arm(*loaded->parsed.document);
    loaded->result = loaded->rule.LoadFromXML(loaded->capture.log, loaded->parsed.element, nullptr);
    return loaded;
}

std::vector<WString> Items(const CRuleBlackList& rule) {
    return rule.GetItems();
}

TEST(BlackListRule, LoadCollectsEveryListInOrder) {
    auto loaded =
        Load(KW("<Rule type='8'><Enabled>1</Enabled>")
                 KW("<Blacklist Interpretation='0'><Item>one</Item><item>lower-case name</item><Item></Item>")
                     KW("<Other>x</Other></Blacklist>") KW("<Note>ignored</Note>")
                         KW("<Blacklist Interpretation='1'><Item>two</Item></Blacklist></Rule>"));
    ASSERT_EQ(loaded->result, 0) << loaded->capture.Dump();
    // Several lists add to one; the empty item is kept; the last interpretation counts.
    EXPECT_EQ(Items(loaded->rule), (std::vector<WString>{KW("one"), KW(""), KW("two")}));
    EXPECT_EQ(loaded->rule.GetInterpretation(), kBlackListExpressions);
    EXPECT_TRUE(loaded->rule.IsEnabled());
    const LogCapture& log = loaded->capture;
    EXPECT_TRUE(log.HasMessage(kLogDebug, KW("Load rule data from XML.")));
    EXPECT_TRUE(
        log.HasMessage(kLogDebug, KW("Successfully determined if interpretation type of blacklist rule.")));
    EXPECT_TRUE(log.HasMessage(kLogDebug, KW("Load blacklist items from XML.")));
    EXPECT_EQ(log.Count(KW("Successfully added blacklist item.")), 3u);

    // Loading again starts from an empty list.
    ParsedElement again =
        ParseElement(KW("<Rule type='8'><Blacklist Interpretation='0'/></Rule>"), KW("Rule"));
    EXPECT_EQ(loaded->rule.LoadFromXML(loaded->capture.log, again.element, nullptr), 0);
    EXPECT_TRUE(loaded->rule.GetItems().empty());
    EXPECT_EQ(loaded->rule.GetInterpretation(), kBlackListWords);
}

TEST(BlackListRule, InterpretationAttribute) {
    // Required: without it the load ends at once with -11 and no line.
    auto missing =
        Load(KW("<Rule type='8'><Blacklist><Item>a</Item></Blacklist><Enabled>1</Enabled></Rule>"));
    EXPECT_EQ(missing->result, -11);
    EXPECT_TRUE(missing->rule.GetItems().empty());
    EXPECT_FALSE(missing->rule.IsEnabled());
    EXPECT_EQ(missing->capture.CountAtLevel(kLogError), 0u);

    // Not a number: logged, the interpretation stays, the items are read.
    auto notNumber =
        Load(KW("<Rule type='8'><Blacklist Interpretation='one'><Item>a</Item></Blacklist></Rule>"));
    EXPECT_EQ(notNumber->result, 0);
    EXPECT_EQ(notNumber->rule.GetInterpretation(), kBlackListWords);
    EXPECT_EQ(notNumber->rule.GetItems().size(), 1u);
    EXPECT_TRUE(notNumber->capture.HasWithCode(
        kLogError, -11,
        KW("Failed to convert value of interpretation attribute of blacklist rule to integer.")));
}

TEST(BlackListRule, LoadFailuresFromTheDocument) {
    struct Case {
        const char* what;
        xml::Op op;
        const WChar* node;
        int32_t result;
        const WChar* line;
        size_t items;         // items kept
        bool sharedChildren;  // "Enabled" was read
    };
    const Case cases[] = {
        {"has children", xml::Op::HasChildren, KW("Rule"), kEFail,
         KW("Failed to determine if rule node has children."), 0, false},
        {"child list", xml::Op::ChildNodes, KW("Rule"), kEFail, KW("An error occurred getting rule data."), 0,
         false},
        {"a child's name", xml::Op::BaseName, KW("Note"), kEFail,
         KW("An error occurred getting base name of child."), 2, true},
        // A failed attribute read ends the load with the result so far.
        {"interpretation", xml::Op::GetAttribute, KW("Blacklist"), 0,
         KW("Failed to get interpretation attribute."), 0, false},
        {"item list", xml::Op::ChildNodes, KW("Blacklist"), kEFail,
         KW("An error occurred getting blacklist items."), 0, false},
        {"an item's name", xml::Op::BaseName, KW("Item"), kEFail,
         KW("An error occurred getting base name of child."), 1, true},
        {"an item's text", xml::Op::Text, KW("Item"), kEFail, KW("Failed to get value of item node."), 0,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto loaded =
            Load(KW("<Rule type='8'><Note/><Blacklist Interpretation='0'><Item>a</Item><Item>b</Item>")
                     KW("</Blacklist><Enabled>1</Enabled></Rule>"),
                 [&c](xml::Document& document) { document.Faults().FailNext(c.op, kEFail, c.node); });
        EXPECT_EQ(loaded->result, c.result);
        EXPECT_TRUE(loaded->capture.HasHResult(kLogError, kEFail, c.line)) << loaded->capture.Dump();
        EXPECT_EQ(loaded->rule.GetItems().size(), c.items);
        EXPECT_EQ(loaded->rule.IsEnabled(), c.sharedChildren);
    }
    auto empty = Load(KW("<Rule type='8'/>"));
    EXPECT_EQ(empty->result, -12);
    EXPECT_TRUE(empty->capture.HasWithCode(kLogError, -12, KW("Rule is empty.")));
}

TEST(BlackListRule, BuiltInRuleAndClone) {
    auto rule = CreateBlackListRule(0);
    const auto& list = dynamic_cast<const CRuleBlackList&>(*rule);
    EXPECT_EQ(list.GetType(), 8);
    EXPECT_EQ(list.GetInterpretation(), kBlackListWords);
    EXPECT_TRUE(list.GetItems().empty());
    EXPECT_FALSE(list.IsEnabled());
    EXPECT_EQ(list.GetDescriptions().size(), 13u);
    EXPECT_EQ(WString(list.GetDescription(kLangEnglish)),
              KW("The password may not be part of the black list."));
    EXPECT_EQ(WString(list.GetDescription(kLangPolish)),
              KW("Has\u0142o nie mo\u017Ce si\u0119 znajdowa\u0107 na czarnej li\u015Bcie."));
    EXPECT_EQ(WString(list.GetDescription(kLangChinese)),
              KW("\u5BC6\u7801\u4E0D\u5F97\u662F\u9ED1\u540D\u5355\u7684\u4E00\u90E8\u5206\u3002"));

    auto loaded = Load(KW("<Rule type='8'><Enabled>1</Enabled><Description>Mine</Description>") KW(
        "<Blacklist Interpretation='1'><Item>a</Item><Item/><Item>c</Item></Blacklist></Rule>"));
    auto copy = loaded->rule.Clone();
    const auto& cloned = dynamic_cast<const CRuleBlackList&>(*copy);
    EXPECT_EQ(cloned.GetInterpretation(), kBlackListExpressions);
    EXPECT_EQ(Items(cloned), (std::vector<WString>{KW("a"), KW(""), KW("c")}));
    EXPECT_TRUE(cloned.IsEnabled());
    EXPECT_EQ(WString(cloned.GetDescription(kLangEnglish)), KW("Mine"));
}

}  // namespace
}  // namespace korva
