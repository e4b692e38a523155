#include "xml/xml_dom.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/xml_faults.h"
#include "tests/xml/xml_dump.h"

namespace korva::xml {
namespace {

std::vector<Node> All(const Document& doc, WStringView localName) {
    std::vector<Node> found;
    EXPECT_EQ(doc.GetElementsByTagName(localName, &found), kSOk);
    return found;
}

template <typename S>
S Repeat(const S& part, int times) {
    S out;
    while (times-- > 0) {
        out += part;
    }
    return out;
}

WString Nested(int depth, const WChar* inner = KW("")) {
    return Repeat<WString>(KW("<a>"), depth) + inner + Repeat<WString>(KW("</a>"), depth);
}

std::string Dump(const Node& node) {
    return DumpTree(node, [](bool ok) { EXPECT_TRUE(ok); });
}

// A document's tree, or why it is refused (with line and column).
TEST(XmlDocument, ReadsOrRefusesDocuments) {
    const std::pair<WString, std::string> cases[] = {
        // Blank text between nodes is no child; the declaration is the document's. After the tree: the
        // elements named "Rule" whatever the prefix, in document order, case-sensitively.
        {KW("<?xml version=\"1.0\"?>\n<!-- policies -->\n<PolicyList>\n  <Policy name=\"S\">\n    <Rule/>\n"
            "    <p:Rule xmlns:p=\"u\"><Regex>x</Regex></p:Rule>\n  </Policy>\n  <?editor keep?>\n  <RULE/>\n"
            "</PolicyList>\n"),
         "?'x'(Dxml'' c' policies ' EPolicyList'x'(EPolicy name|name=S'x'(ERule'' ERule xmlns:p|p=u'x'("
         "ERegex'x'(T'x'))) Peditor'keep' ERULE'')) ERule'' ERule xmlns:p|p=u'x'(ERegex'x'(T'x'))"},
        // An element's text is all descendant text and CDATA in order.
        {KW("<a> a\n b </a>"), "?' a\n b '(Ea' a\n b '(T' a\n b '))"},
        {KW("<a>  <b/>\n </a>"), "?''(Ea''(Eb''))"},
        {KW("<a>1<b>2<c>3</c></b>4</a>"), "?'1234'(Ea'1234'(T'1' Eb'23'(T'2' Ec'3'(T'3')) T'4'))"},
        {KW("<a>x<!--c-->y<?p q?>z</a>"), "?'xyz'(Ea'xyz'(T'x' c'c' T'y' Pp'q' T'z'))"},
        {KW("<a>x<![CDATA[<y>]]>z</a>"), "?'x<y>z'(Ea'x<y>z'(T'x' C'<y>' T'z'))"},
        {KW("<a>&lt;&amp;&quot;&#65;&#x1F600;</a>"),
         "?'<&\"A\xF0\x9F\x98\x80'(Ea'<&\"A\xF0\x9F\x98\x80'(T'<&\"A\xF0\x9F\x98\x80'))"},
        {KW("<a>1\r\n2\r3</a>"), "?'1\n2\n3'(Ea'1\n2\n3'(T'1\n2\n3'))"},
        {WString(KW("<a>a")) + static_cast<WChar>(0xD800) + KW("b</a>"),
         "?'a\xEF\xBF\xBD"
         "b'(Ea'a\xEF\xBF\xBD"
         "b'(T'a\xEF\xBF\xBD"
         "b'))"},
        // Attributes in order by qualified name, case and prefix included; tabs and line ends read as spaces.
        {KW("<r><e a:Version=\"1\" VERSION=\"3\" version=\"2\" TYPE=\"x\tlong\nvalue\"/><!--c--></r>"),
         "?''(Er''(Ee a:Version|Version=1 VERSION|VERSION=3 version|version=2 TYPE|TYPE=x long value'' "
         "c'c'))"},
        {Nested(kMaxDepth, KW("x")), "?'x'(" + Repeat<std::string>("Ea'x'(", kMaxDepth) + "T'x'" +
                                         Repeat<std::string>(")", kMaxDepth + 1)},
        {KW(""), "1 The document must have exactly one root element."},
        {KW("<PolicyList><Policy>"), "1 Line 1, column 20: Start-end tags mismatch"},
        {KW("<a>\n<b></a>"), "1 Line 2, column 6: Start-end tags mismatch"},
        {KW("<a>\x4E2D\x4E2D</b>"), "1 Line 1, column 8: Start-end tags mismatch"},  // in UTF-16 code units
        {KW("<!DOCTYPE r SYSTEM \"file:///etc/passwd\"><r/>"),
         "1 Line 1, column 11: A document type declaration is not allowed."},
        {KW("<!DOCTYPE l [<!ENTITY l \"l\"><!ENTITY m \"&l;&l;\">]><l>&m;</l>"),
         "1 Line 1, column 11: A document type declaration is not allowed."},
        {KW("<a/><b/>"), "1 The document must have exactly one root element."},
        {KW("<a/>tail"), "1 Line 1, column 5: Text is not allowed outside the root element."},
        {KW("<a x=\"1\" x=\"2\"/>"), "1 Line 1, column 2: An attribute appears twice on one element."},
        {Nested(kMaxDepth + 1), "1 Line 1, column 770: Elements are nested deeper than 256 levels."},
        {Nested(10000, KW("x")), "1 Line 1, column 770: Elements are nested deeper than 256 levels."},
    };
    for (const auto& [document, expected] : cases) {
        SCOPED_TRACE(Utf16ToUtf8(document).substr(0, 60));
        std::unique_ptr<Document> doc;
        ASSERT_EQ(Document::Parse(KW("<stale/>"), &doc), kSOk);
        WString error;
        const int32_t status = Document::Parse(document, &doc, &error);
        EXPECT_EQ(status == kSOk, doc != nullptr);
        EXPECT_EQ(status == kSOk, error.empty());
        std::string actual =
            status == kSOk ? Dump(doc->Root()) : std::to_string(status) + " " + Utf16ToUtf8(error);
        for (const Node& rule : doc ? All(*doc, KW("Rule")) : std::vector<Node>()) {
            actual += " " + Dump(rule);
        }
        EXPECT_EQ(actual, expected);
    }
}

// A failed attribute read leaves that attribute empty; faults are used once, in order.
TEST(XmlFaults, AttributeReadsFailOneByOne) {
    std::unique_ptr<Document> doc;
    ASSERT_EQ(Document::Parse(KW("<Rule type=\"2\">x</Rule>"), &doc), kSOk);
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
