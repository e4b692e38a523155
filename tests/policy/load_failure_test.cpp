// Every loader against a DOM whose reads fail: each failure is logged with its code and decides the result.
#include <gtest/gtest.h>

#include "policy/policy_list.h"
#include "policy/scope.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

constexpr const WChar* kList =
    KW("<PolicyList version='1.8'><Policy name='P'><Configuration>0</Configuration></Policy></PolicyList>");
constexpr const WChar* kPolicy = KW("<Policy name='P'><Configuration>0</Configuration><Note/></Policy>");
constexpr const WChar* kLength =
    KW("<Rule type='2'><MinimumLength>9</MinimumLength><Enabled>1</Enabled><Description languageid='9'>d"
       "</Description><Note/></Rule>");
constexpr const WChar* kAge = KW("<Rule type='1'><MinimumAge>3</MinimumAge></Rule>");
constexpr const WChar* kRegex =
    KW("<Rule type='5'><Regex Type='0'>x</Regex><Data>d</Data>"
       "<ExpressionValidatesPassword>1</ExpressionValidatesPassword></Rule>");
constexpr const WChar* kBlackList =
    KW("<Rule type='8'><Blacklist Interpretation='0'><Item>a</Item></Blacklist></Rule>");
constexpr const WChar* kSimilarity =
    KW("<Rule type='6'><Other/><UsernameRatio Enabled='1'>0.5</UsernameRatio></Rule>");
constexpr const WChar* kScope = KW(
    "<Scope type='1'><SID>S-1-5</SID><CanonicalName>a.b/G</CanonicalName><Groups><Group>CN=G</Group></Groups>"
    "<Name>G</Name></Scope>");

// Loads the root element of `xml` with the loader its name calls for, `op` failing on the node `node`.
int32_t Load(CapturedLog& log, const WChar* xml, xml::Op op, const WChar* node) {
    if (op == xml::Op::Parse) {
        xml::Document::ParseFaults().FailNext(op, kInjected);
        return CPolicylist().LoadFromXML(log.log, xml);
    }
    const ParsedElement parsed = ParseElement(xml);
    WString root;
    parsed.element.GetBaseName(&root);
    parsed.document->Faults().FailNext(op, kInjected, node);
    if (root == KW("PolicyList"))
        return CPolicylist().LoadFromDocument(log.log, *parsed.document);
    if (root == KW("Policy"))
        return CPolicy(CPolicy::ForLoading{}).LoadFromXML(log.log, parsed.element, nullptr);
    if (root == KW("Scope"))
        return CScope().LoadFromXML(log.log, parsed.element);
    RuleList rules;
    return CreateRule(log.log, parsed.element, &rules, nullptr);
}

TEST(LoadFailureTest, EachReadFailureIsLoggedAndReturned) {
    struct Row {
        const WChar* xml;
        xml::Op op;
        const WChar* node;
        int32_t result;
        const WChar* line;
        int32_t lineCode;
    };
    using Op = xml::Op;
    constexpr int32_t kI = kInjected;
    const Row rows[] = {
        {kList, Op::Parse, nullptr, kI, KW("Failed to create DOM document."), kI},
        {kList, Op::ElementsByTagName, KW("PolicyList"), kI, KW("getting policy list node from XML."), kI},
        {kList, Op::HasChildren, KW("PolicyList"), kI, KW("if policy list node has children."), -12},
        {kList, Op::ChildNodes, KW("PolicyList"), kI, KW("getting policies node from policy list."), kI},
        {kList, Op::Attributes, KW("PolicyList"), 0, KW("Failed to get type 'version'."), kI},  // as none
        {kPolicy, Op::GetAttribute, KW("Policy"), kI, KW("Failed to get name in attribute node."), kI},
        {kPolicy, Op::HasChildren, KW("Policy"), kI, KW("if policy node has children."), kI},
        {kPolicy, Op::ChildNodes, KW("Policy"), kI, KW("An error occurred getting policy data."), kI},
        {kPolicy, Op::Text, KW("Configuration"), kI, KW("Failed to get value of Configuration node."), kI},
        {kPolicy, Op::BaseName, KW("Note"), kI, KW("getting base name of child."), kI},
        {kLength, Op::GetAttribute, KW("Rule"), kI, KW("Failed to get type attribute."), kI},
        {kLength, Op::HasChildren, KW("Rule"), kI, KW("if rule node has children."), kI},
        {kLength, Op::ChildNodes, KW("Rule"), kI, KW("getting minimum length rule data."), kI},
        {kLength, Op::Text, KW("MinimumLength"), kI, KW("Failed to get value of minimum length node."), kI},
        {kLength, Op::BaseName, KW("Note"), kI, KW("getting base name of child."), kI},
        // The shared children's failures are logged; the rule's own result stands.
        {kLength, Op::Text, KW("Enabled"), 0, KW("Failed to get value of enabled node."), kI},
        {kLength, Op::Text, KW("Description"), 0, KW("Failed to get value of description node."), kI},
        {kLength, Op::AttributeValue, KW("languageid"), 0, KW("Failed to get value of attribute."), kI},
        {kAge, Op::ChildNodes, KW("Rule"), kI, KW("getting minimum password age rule data."), kI},
        {kAge, Op::Text, KW("MinimumAge"), kI, KW("Failed to get value of minimum password age node."), kI},
        {kRegex, Op::HasChildren, KW("Rule"), kI, KW("if rule node has children."), kI},
        {kRegex, Op::ChildNodes, KW("Rule"), kI, KW("An error occurred getting rule data."), kI},
        {kRegex, Op::BaseName, KW("Data"), kI, KW("getting base name of child."), kI},
        {kRegex, Op::Text, KW("Regex"), kI, KW("Failed to get value of regex node."), kI},
        {kRegex, Op::GetAttribute, KW("Regex"), 0, KW("Failed to get type attribute."), kI},
        {kRegex, Op::Text, KW("Data"), kI, KW("Failed to get value of data node."), kI},
        {kRegex, Op::Text, KW("ExpressionValidatesPassword"), kI,
         KW("Failed to get value of ExpressionValidatesPassword node."), kI},
        {kBlackList, Op::ChildNodes, KW("Rule"), kI, KW("An error occurred getting rule data."), kI},
        {kBlackList, Op::GetAttribute, KW("Blacklist"), 0, KW("Failed to get interpretation attribute."), kI},
        {kBlackList, Op::ChildNodes, KW("Blacklist"), kI, KW("getting blacklist items."), kI},
        {kBlackList, Op::BaseName, KW("Item"), kI, KW("getting base name of child."), kI},
        {kBlackList, Op::Text, KW("Item"), kI, KW("Failed to get value of item node."), kI},
        {kSimilarity, Op::ChildNodes, KW("Rule"), kI, KW("getting similarity rule data."), kI},
        {kSimilarity, Op::BaseName, KW("Other"), kI, KW("getting base name of child."), kI},
        {kSimilarity, Op::GetAttribute, KW("UsernameRatio"), 0, KW("Failed to get enabled attribute."), kI},
        {kSimilarity, Op::Text, KW("UsernameRatio"), kI, KW("Failed to get value of ratio of similarity."),
         kI},
        {kScope, Op::HasChildren, KW("Scope"), kI, KW("if scope node has children."), kI},
        {kScope, Op::GetAttribute, KW("Scope"), kI, KW("Failed to get type attribute."), kI},
        {kScope, Op::ChildNodes, KW("Scope"), kI, KW("An error occurred getting scope data."), kI},
        {kScope, Op::BaseName, KW("SID"), kI, KW("getting base name of child."), kI},
        {kScope, Op::Text, KW("SID"), kI, KW("Failed to get value of SID node."), kI},
        {kScope, Op::Text, KW("CanonicalName"), kI, KW("Failed to get value of CanonicalName node."), kI},
        {kScope, Op::Text, KW("Name"), kI, KW("Failed to get value of Name node."), kI},
        {kScope, Op::HasChildren, KW("Groups"), kI, KW("if groups node has children."), kI},
        {kScope, Op::ChildNodes, KW("Groups"), kI, KW("getting group set data."), kI},
        {kScope, Op::Text, KW("Group"), kI, KW("Failed to get value of group node."), kI},
        // A group whose name cannot be read fails the group list, which ends the scope's load.
        {kScope, Op::BaseName, KW("Group"), kI, KW("Failed to get value of groups node."), kI},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(U8(r.line) + " in " + U8(r.xml));
        CapturedLog log;
        EXPECT_EQ(Load(log, r.xml, r.op, r.node), r.result);
        EXPECT_TRUE(log.Has(r.line, 0, r.lineCode)) << log.Dump();
    }
}

}  // namespace
}  // namespace korva::testing
