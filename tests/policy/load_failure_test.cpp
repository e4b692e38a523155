// Every loader against a DOM whose reads fail: each failure is logged with its code and decides the result.
#include <gtest/gtest.h>

#include <tuple>

#include "policy/policy_list.h"
#include "policy/scope.h"
#include "tests/policy/test_support.h"
#include "tests/support/xml_faults.h"

namespace korva::testing {
namespace {

constexpr auto kList =
    KW("<PolicyList version='1'><P name='P'><Configuration>0</Configuration></P></PolicyList>");
constexpr auto kPolicy = KW("<Policy name='P'><Configuration>0</Configuration><Note/></Policy>");
constexpr auto kLength = KW("<Rule type='2'><MinimumLength>9</MinimumLength><Enabled>1</Enabled></Rule>");
constexpr auto kAge = KW("<Rule type='1'><MinimumAge>3</MinimumAge><Description languageid='9'/></Rule>");
constexpr auto kRegex = KW("<Rule type='5'><Regex Type='0'>x</Regex></Rule>");
constexpr auto kBlackList =
    KW("<Rule type='8'><Blacklist Interpretation='0'><Item>a</Item></Blacklist></Rule>");
constexpr auto kSimilarity = KW("<Rule type='6'><UsernameRatio Enabled='1'>0.5</UsernameRatio></Rule>");
constexpr auto kScope = KW("<Scope type='1'><SID>S-1</SID><Groups><Group>CN=G</Group></Groups></Scope>");

// Loads the root element of `xml` with the loader its name calls for, `op` failing on the node `node`.
int32_t Load(CapturedLog& log, const WChar* xml, xml::Op op, const WChar* node) {
    if (op == xml::Op::Parse) {
        XmlFaults faults(XmlFaults::ForParse{});
        faults.FailNext(op, kInjected);
        return CPolicylist().LoadFromXML(log.log, xml);
    }
    const ParsedElement parsed = ParseElement(xml);
    WString root;
    parsed.element.GetBaseName(&root);
    XmlFaults faults(*parsed.document);
    faults.FailNext(op, kInjected, node);
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
    using Op = xml::Op;
    constexpr int32_t kI = kInjected;
    // document, failing read, on the node, result, the line logged with the injected code
    const std::tuple<const WChar*, Op, const WChar*, int32_t, const WChar*> rows[] = {
        {kList, Op::Parse, nullptr, kI, KW("Failed to create DOM document.")},
        {kList, Op::ChildNodes, KW("PolicyList"), kI, KW("getting policies node from policy list.")},
        {kList, Op::Attributes, KW("PolicyList"), 0, KW("Failed to get type 'version'.")},  // as if none
        {kPolicy, Op::GetAttribute, KW("Policy"), kI, KW("Failed to get name in attribute node.")},
        {kPolicy, Op::Text, KW("Configuration"), kI, KW("Failed to get value of Configuration node.")},
        {kLength, Op::GetAttribute, KW("Rule"), kI, KW("Failed to get type attribute.")},
        {kLength, Op::ChildNodes, KW("Rule"), kI, KW("getting minimum length rule data.")},
        {kLength, Op::Text, KW("MinimumLength"), kI, KW("Failed to get value of minimum length node.")},
        // The shared children's failures are logged; the rule's own result stands.
        {kLength, Op::Text, KW("Enabled"), 0, KW("Failed to get value of enabled node.")},
        {kAge, Op::AttributeValue, KW("languageid"), 0, KW("Failed to get value of attribute.")},
        {kRegex, Op::Text, KW("Regex"), kI, KW("Failed to get value of regex node.")},
        {kBlackList, Op::GetAttribute, KW("Blacklist"), 0, KW("Failed to get interpretation attribute.")},
        {kBlackList, Op::Text, KW("Item"), kI, KW("Failed to get value of item node.")},
        {kSimilarity, Op::Text, KW("UsernameRatio"), kI, KW("Failed to get value of ratio of similarity.")},
        {kScope, Op::HasChildren, KW("Scope"), kI, KW("if scope node has children.")},
        // A group whose name cannot be read fails the group list, which ends the scope's load.
        {kScope, Op::BaseName, KW("Group"), kI, KW("Failed to get value of groups node.")},
    };
    for (const auto& [xml, op, node, result, line] : rows) {
        SCOPED_TRACE(U8(line) + " in " + U8(xml));
        CapturedLog log;
        EXPECT_EQ(Load(log, xml, op, node), result);
        EXPECT_TRUE(log.Has(line, 0, kInjected)) << log.Dump();
    }
}

}  // namespace
}  // namespace korva::testing
