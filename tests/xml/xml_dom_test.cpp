#include "xml/xml_dom.h"

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/xml_faults.h"

namespace korva::xml {
namespace {

std::unique_ptr<Document> MustParse(WStringView text) {
    std::unique_ptr<Document> doc;
    WString error;
    EXPECT_EQ(Document::Parse(text, &doc, &error), kSOk) << Utf16ToUtf8(error);
    return doc;
}

// The node's text, or another of its strings.
WString Text(const Node& node, int32_t (Node::*read)(WString*) const = &Node::GetText) {
    WString text;
    EXPECT_EQ((node.*read)(&text), kSOk);
    return text;
}

std::vector<Node> Children(const Node& node) {
    std::vector<Node> children;
    EXPECT_EQ(node.GetChildNodes(&children), kSOk);
    return children;
}

Node Only(const Document& doc, WStringView localName) {
    std::vector<Node> found;
    EXPECT_EQ(doc.GetElementsByTagName(localName, &found), kSOk);
    EXPECT_EQ(found.size(), 1u) << Utf16ToUtf8(localName);
    return found.empty() ? Node() : found[0];
}

WString Nested(int depth, const WChar* inner = KW("")) {
    WString open;
    WString close;
    for (int i = 0; i < depth; ++i) {
        open += KW("<a>");
        close += KW("</a>");
    }
    return open + inner + close;
}

// A policy document as an administrator's tool writes it: pretty-printed, a namespace prefix on one rule.
constexpr const WChar* kPolicyDocument =
    KW("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
       "<!-- company password policies -->\n"
       "<PolicyList version=\"1.8.0.1037\">\n"
       "  <Policy name=\"Staff\">\n"
       "    <Rule type=\"2\"><MinimumLength>8</MinimumLength></Rule>\n"
       "    <p:Rule xmlns:p=\"urn:x\" type=\"5\">\n"
       "      <Regex Type=\"2\"><![CDATA[(?=.*[A-Z])&<]]></Regex>\n"
       "    </p:Rule>\n"
       "  </Policy>\n"
       "  <!-- the second policy is for administrators -->\n"
       "  <?editor keep?>\n"
       "  <Policy name=\"Admins\"/>\n"
       "</PolicyList>\n");

TEST(XmlDocument, WalksAPrettyPrintedPolicyDocument) {
    auto doc = MustParse(kPolicyDocument);
    ASSERT_TRUE(doc);
    // Declaration, comment and root element are the document's children; blank text between them is gone.
    const std::vector<Node> top = Children(doc->Root());
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[0].Type(), NodeType::Declaration);
    EXPECT_EQ(top[1].Type(), NodeType::Comment);
    // Two policies with a comment and a processing instruction between them.
    const std::vector<Node> list = Children(top[2]);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(Children(list[0]).size(), 2u);
    EXPECT_EQ(list[1].Type(), NodeType::Comment);
    EXPECT_EQ(list[2].Type(), NodeType::ProcessingInstruction);
    EXPECT_EQ(Text(list[2], &Node::GetBaseName), KW("editor"));
    EXPECT_EQ(Text(list[3], &Node::GetBaseName), KW("Policy"));
    bool hasChildren = true;
    EXPECT_EQ(list[3].HasChildNodes(&hasChildren), kSOk);
    EXPECT_FALSE(hasChildren);

    // Rules are found by local name whatever their prefix, in document order; the search is case-sensitive.
    std::vector<Node> rules;
    EXPECT_EQ(doc->GetElementsByTagName(KW("Rule"), &rules), kSOk);
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(Text(rules[1], &Node::GetBaseName), KW("Rule"));
    WString value;
    EXPECT_EQ(rules[1].GetAttribute(KW("type"), &value), kSOk);
    EXPECT_EQ(value, KW("5"));
    EXPECT_EQ(Text(Only(*doc, KW("Regex"))), KW("(?=.*[A-Z])&<"));
    EXPECT_EQ(doc->GetElementsByTagName(KW("policylist"), &rules), kSOk);
    EXPECT_TRUE(rules.empty());
}

// An element's text is all descendant text and CDATA in order, as written; its children are every node but
// text made only of white space.
TEST(XmlDocument, ElementTextAndChildren) {
    const struct {
        WString document;
        WString text;  // of the root element
        size_t children;
    } cases[] = {
        {KW("<a> a\n b </a>"), KW(" a\n b "), 1},
        {KW("<a>  <b/>\n </a>"), KW(""), 1},
        {KW("<a>1<b>2<c>3</c></b>4</a>"), KW("1234"), 3},
        {KW("<a>x<!--c-->y<?p q?>z</a>"), KW("xyz"), 5},
        {KW("<a>x<![CDATA[<y>]]>z</a>"), KW("x<y>z"), 3},
        {KW("<a>&lt;&amp;&quot;&#65;&#x1F600;</a>"), KW("<&\"A\xD83D\xDE00"), 1},
        {KW("<a>1\r\n2\r3</a>"), KW("1\n2\n3"), 1},
        {WString(KW("<a>a")) + static_cast<WChar>(0xD800) + KW("b</a>"), KW("a\xFFFD") + WString(KW("b")), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.document));
        auto doc = MustParse(c.document);
        ASSERT_TRUE(doc);
        EXPECT_EQ(Text(Only(*doc, KW("a"))), c.text);
        EXPECT_EQ(Children(Only(*doc, KW("a"))).size(), c.children);
    }
}

TEST(XmlDocument, AttributesByExactNameAndInOrder) {
    auto doc = MustParse(KW("<r><e a:Version=\"1\" version=\"2\" TYPE=\"x\tlong\nvalue\"/><!--c--></r>"));
    ASSERT_TRUE(doc);
    const Node e = Only(*doc, KW("e"));
    // The exact lookup sees the qualified name, case and prefix included; tabs and line ends read as spaces.
    for (const auto& [name, status, expected] :
         {std::tuple{KW("version"), kSOk, KW("2")}, std::tuple{KW("a:Version"), kSOk, KW("1")},
          std::tuple{KW("Version"), kSFalse, KW("")}, std::tuple{KW("TYPE"), kSOk, KW("x long value")}}) {
        WString value = KW("stale");
        EXPECT_EQ(e.GetAttribute(name, &value), status) << Utf16ToUtf8(name);
        EXPECT_EQ(value, expected) << Utf16ToUtf8(name);
    }
    // The collection keeps document order and strips prefixes from the base names.
    std::vector<Attribute> attributes;
    ASSERT_EQ(e.GetAttributes(&attributes), kSOk);
    ASSERT_EQ(attributes.size(), 3u);
    EXPECT_EQ(attributes[0].name, KW("a:Version"));
    EXPECT_EQ(attributes[0].baseName, KW("Version"));
    EXPECT_EQ(attributes[1].baseName, KW("version"));
    // A comment has no attributes.
    WString value;
    EXPECT_EQ(Children(Only(*doc, KW("r")))[1].GetAttribute(KW("a"), &value), kENoInterface);
}

// The classic entity expansion bomb: refused for its DOCTYPE before any entity could be expanded.
constexpr const WChar* kBillionLaughs =
    KW("<!DOCTYPE lolz [\n"
       " <!ENTITY lol \"lol\">\n"
       " <!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
       "]>\n"
       "<lolz>&lol1;&lol1;&lol1;</lolz>");

TEST(XmlDocument, RefusedWithWhereAndWhy) {
    const struct {
        WString document;
        const char* messagePart;
    } cases[] = {
        {KW(""), "exactly one root element"},
        {KW("<PolicyList><Policy>"), "Line 1, column 20"},
        {KW("<a>\n<b></a>"), "Line 2, column 6"},
        // The column counts UTF-16 code units ("b" is the 8th), however many bytes the characters take.
        {KW("<a>\x4E2D\x4E2D</b>"), "Line 1, column 8"},
        {KW("<!DOCTYPE r SYSTEM \"file:///etc/passwd\"><r/>"), "document type declaration"},
        {kBillionLaughs, "document type declaration"},
        {KW("<a/><b/>"), "exactly one root element"},
        {KW("<a/>tail"), "outside the root element"},
        {KW("<a x=\"1\" x=\"2\"/>"), "twice"},
        {Nested(kMaxDepth + 1), "nested deeper than 256"},
        {Nested(10000, KW("x")), "nested deeper than 256"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.document).substr(0, 60));
        std::unique_ptr<Document> doc = MustParse(KW("<stale/>"));
        WString error;
        EXPECT_EQ(Document::Parse(c.document, &doc, &error), kSFalse);
        EXPECT_FALSE(doc);
        EXPECT_NE(Utf16ToUtf8(error).find(c.messagePart), std::string::npos) << Utf16ToUtf8(error);
    }
}

TEST(XmlDocument, DeepestNestingAndAMillionBytesParse) {
    auto deep = MustParse(Nested(kMaxDepth, KW("x")));
    ASSERT_TRUE(deep);
    std::vector<Node> all;
    EXPECT_EQ(deep->GetElementsByTagName(KW("a"), &all), kSOk);
    EXPECT_EQ(all.size(), static_cast<size_t>(kMaxDepth));
    EXPECT_EQ(Text(all[0]), KW("x"));

    WString text = KW("<PolicyList>");
    size_t policies = 0;
    for (; text.size() < 1000000; ++policies) {
        text += KW("<Policy name=\"p\"><Rule type=\"2\"><MinimumLength>8</MinimumLength></Rule></Policy>\n");
    }
    auto large = MustParse(text + KW("</PolicyList>"));
    ASSERT_TRUE(large);
    EXPECT_EQ(large->GetElementsByTagName(KW("MinimumLength"), &all), kSOk);
    EXPECT_EQ(all.size(), policies);
}

constexpr int32_t kInjected = static_cast<int32_t>(0x8007001Fu);

WString gText;  // scratch outputs of the calls below
bool gFlag;
std::unique_ptr<Document> gParsed;
std::vector<Node> gNodes;
std::vector<Attribute> gAttributes;
using D = const Document&;
using N = const Node&;

// The first attribute of `node` (each element here has one).
const Attribute& First(N node) {
    EXPECT_EQ(node.GetAttributes(&gAttributes), kSOk);
    return gAttributes.at(0);
}

// Every fallible operation can be made to fail once, on any node or only on a node of a given local name
// (attribute faults name the attribute).
TEST(XmlFaults, EachOperationFailsOnceOnTheNamedNode) {
    const struct {
        Op op;
        const WChar* nodeName;
        int32_t (*call)(D, N);
    } cases[] = {
        {Op::BaseName, KW("Rule"), [](D, N n) { return n.GetBaseName(&gText); }},
        {Op::BaseName, KW(""), [](D, N n) { return n.GetBaseName(&gText); }},
        {Op::Text, KW("Rule"), [](D, N n) { return n.GetText(&gText); }},
        {Op::GetAttribute, KW("Rule"), [](D, N n) { return n.GetAttribute(KW("type"), &gText); }},
        {Op::Attributes, KW("Rule"), [](D, N n) { return n.GetAttributes(&gAttributes); }},
        {Op::AttributeName, KW("type"), [](D, N n) { return First(n).nameStatus; }},
        {Op::AttributeValue, KW("type"), [](D, N n) { return First(n).valueStatus; }},
        {Op::HasChildren, KW("Rule"), [](D, N n) { return n.HasChildNodes(&gFlag); }},
        {Op::ChildNodes, KW("Rule"), [](D, N n) { return n.GetChildNodes(&gNodes); }},
        {Op::ElementsByTagName, KW("Rule"),
         [](D d, N) { return d.GetElementsByTagName(KW("Rule"), &gNodes); }},
        {Op::Parse, KW(""), [](D, N) { return Document::Parse(KW("<r/>"), &gParsed); }},
    };
    auto doc = MustParse(KW("<Policy name=\"p\"><Rule type=\"2\">x</Rule></Policy>"));
    ASSERT_TRUE(doc);
    const Node policy = Only(*doc, KW("Policy"));
    const Node rule = Only(*doc, KW("Rule"));
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.op));
        testing::XmlFaults faults =
            c.op == Op::Parse ? testing::XmlFaults(testing::XmlFaults::ForParse{}) : testing::XmlFaults(*doc);
        faults.FailNext(c.op, kInjected, c.nodeName);
        // A fault aimed at "Rule" passes over the policy element; one aimed at any node hits the first call.
        if (c.nodeName[0] != 0 && c.op != Op::ElementsByTagName) {
            EXPECT_NE(c.call(*doc, policy), kInjected);
        }
        EXPECT_EQ(c.call(*doc, rule), kInjected);
        // Consumed: the same call now succeeds.
        EXPECT_EQ(c.call(*doc, rule), kSOk);
        EXPECT_FALSE(faults.Armed());
    }
    // An attribute fault leaves the failed part empty, in the collection and in the exact lookup alike;
    // faults are taken in order.
    testing::XmlFaults faults(*doc);
    faults.FailNext(Op::AttributeName, kEFail, KW("type"));
    faults.FailNext(Op::AttributeValue, kEFail, KW("type"));
    faults.FailNext(Op::AttributeValue, kEOutOfMemory, KW("type"));
    EXPECT_TRUE(First(rule).baseName.empty() && gAttributes[0].value.empty());
    WString value;
    EXPECT_EQ(rule.GetAttribute(KW("type"), &value), kEOutOfMemory);
    EXPECT_TRUE(value.empty());
    EXPECT_EQ(rule.GetAttribute(KW("type"), &value), kSOk);
    EXPECT_EQ(value, KW("2"));
}

}  // namespace
}  // namespace korva::xml
