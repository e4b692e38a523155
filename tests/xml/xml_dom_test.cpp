#include "xml/xml_dom.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/support/xml_faults.h"

namespace korva::xml {
namespace {

std::unique_ptr<Document> MustParse(WStringView text) {
    std::unique_ptr<Document> doc;
    WString error;
    EXPECT_EQ(Document::Parse(text, &doc, &error), kSOk) << Utf16ToUtf8(error);
    return doc;
}

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

std::vector<Node> All(const Document& doc, WStringView localName) {
    std::vector<Node> found;
    EXPECT_EQ(doc.GetElementsByTagName(localName, &found), kSOk);
    return found;
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

// Blank text between nodes is no child; elements are found by local name whatever the prefix, in document
// order, case-sensitively.
TEST(XmlDocument, WalksAPrettyPrintedPolicyDocument) {
    auto doc = MustParse(KW(
        "<?xml version=\"1.0\"?>\n<!-- policies -->\n<PolicyList>\n  <Policy name=\"S\">\n    <Rule/>\n"
        "    <p:Rule xmlns:p=\"u\"><Regex>x</Regex></p:Rule>\n  </Policy>\n  <?editor keep?>\n  <Policy/>\n"
        "</PolicyList>\n"));
    ASSERT_TRUE(doc);
    const std::vector<Node> top = Children(doc->Root());
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[0].Type(), NodeType::Declaration);
    EXPECT_EQ(top[1].Type(), NodeType::Comment);
    const std::vector<Node> list = Children(top[2]);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].Type(), NodeType::ProcessingInstruction);
    EXPECT_EQ(Text(list[1], &Node::GetBaseName), KW("editor"));
    bool hasChildren = true;
    EXPECT_EQ(list[2].HasChildNodes(&hasChildren), kSOk);
    EXPECT_FALSE(hasChildren);
    const std::vector<Node> rules = All(*doc, KW("Rule"));
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(Text(rules[1], &Node::GetBaseName), KW("Rule"));
    EXPECT_EQ(Text(rules[1]), KW("x"));
    EXPECT_TRUE(All(*doc, KW("policylist")).empty());
}

// An element's text is all descendant text and CDATA in order; its children are every node but blank text.
TEST(XmlDocument, ElementTextAndChildren) {
    const struct {
        WString document;
        WString text;
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
        {Nested(kMaxDepth, KW("x")), KW("x"), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.document).substr(0, 60));
        auto doc = MustParse(c.document);
        ASSERT_TRUE(doc);
        const Node a = All(*doc, KW("a")).at(0);
        EXPECT_EQ(Text(a), c.text);
        EXPECT_EQ(Children(a).size(), c.children);
    }
}

TEST(XmlDocument, AttributesByExactNameAndInOrder) {
    auto doc = MustParse(KW("<r><e a:Version=\"1\" version=\"2\" TYPE=\"x\tlong\nvalue\"/><!--c--></r>"));
    ASSERT_TRUE(doc);
    const Node e = All(*doc, KW("e")).at(0);
    // Qualified name, case and prefix included; tabs and line ends read as spaces.
    for (const auto& [name, status, expected] :
         {std::tuple{KW("version"), kSOk, KW("2")}, std::tuple{KW("a:Version"), kSOk, KW("1")},
          std::tuple{KW("Version"), kSFalse, KW("")}, std::tuple{KW("TYPE"), kSOk, KW("x long value")}}) {
        WString value = KW("stale");
        EXPECT_EQ(e.GetAttribute(name, &value), status) << Utf16ToUtf8(name);
        EXPECT_EQ(value, expected) << Utf16ToUtf8(name);
    }
    std::vector<Attribute> attributes;
    ASSERT_EQ(e.GetAttributes(&attributes), kSOk);
    ASSERT_EQ(attributes.size(), 3u);
    EXPECT_EQ(attributes[0].name, KW("a:Version"));
    EXPECT_EQ(attributes[0].baseName, KW("Version"));
    EXPECT_EQ(attributes[1].baseName, KW("version"));
    WString value;
    EXPECT_EQ(Children(All(*doc, KW("r")).at(0))[1].GetAttribute(KW("a"), &value), kENoInterface);
}

TEST(XmlDocument, RefusedWithWhereAndWhy) {
    const struct {
        WString document;
        const char* messagePart;
    } cases[] = {
        {KW(""), "exactly one root element"},
        {KW("<PolicyList><Policy>"), "Line 1, column 20"},
        {KW("<a>\n<b></a>"), "Line 2, column 6"},
        {KW("<a>\x4E2D\x4E2D</b>"), "Line 1, column 8"},  // columns count UTF-16 code units
        {KW("<!DOCTYPE r SYSTEM \"file:///etc/passwd\"><r/>"), "document type declaration"},
        {KW("<!DOCTYPE l [<!ENTITY l \"l\"><!ENTITY m \"&l;&l;\">]><l>&m;</l>"), "document type declaration"},
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

// A failed attribute read leaves that attribute empty; faults are used once, in order.
TEST(XmlFaults, AttributeReadsFailOneByOne) {
    auto doc = MustParse(KW("<Rule type=\"2\">x</Rule>"));
    ASSERT_TRUE(doc);
    const Node rule = All(*doc, KW("Rule")).at(0);
    testing::XmlFaults faults(*doc);
    faults.FailNext(Op::AttributeName, kEFail, KW("type"));
    faults.FailNext(Op::AttributeValue, kEFail, KW("type"));
    faults.FailNext(Op::AttributeValue, kEOutOfMemory, KW("type"));
    std::vector<Attribute> attributes;
    ASSERT_EQ(rule.GetAttributes(&attributes), kSOk);
    EXPECT_TRUE(attributes.at(0).nameStatus == kEFail && attributes[0].valueStatus == kEFail);
    EXPECT_TRUE(attributes[0].baseName.empty() && attributes[0].value.empty());
    WString value = KW("stale");
    EXPECT_EQ(rule.GetAttribute(KW("type"), &value), kEOutOfMemory);
    EXPECT_TRUE(value.empty());
    EXPECT_EQ(rule.GetAttribute(KW("type"), &value), kSOk);
    EXPECT_FALSE(faults.Armed());
}

}  // namespace
}  // namespace korva::xml
