#include "policy/xml_dom.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace korva::xml {
namespace {

std::unique_ptr<Document> MustParse(WStringView text) {
    std::unique_ptr<Document> doc;
    WString error;
    const int32_t status = Document::Parse(text, &doc, &error);
    EXPECT_EQ(status, kSOk) << Utf16ToUtf8(error);
    return doc;
}

WString BaseName(const Node& node) {
    WString name;
    EXPECT_EQ(node.GetBaseName(&name), kSOk);
    return name;
}

WString Text(const Node& node) {
    WString text;
    EXPECT_EQ(node.GetText(&text), kSOk);
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

// A policy document as an administrator's tool writes it, pretty-printed, with a namespace prefix on one
// rule.
constexpr const WChar* kPolicyDocument =
    KW("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
       "<!-- company password policies -->\n"
       "<PolicyList version=\"1.8.0.1037\">\n"
       "  <Policy name=\"Staff\">\n"
       "    <Configuration>0</Configuration>\n"
       "    <Rule type=\"2\">\n"
       "      <Enabled>1</Enabled>\n"
       "      <MinimumLength>8</MinimumLength>\n"
       "    </Rule>\n"
       "    <p:Rule xmlns:p=\"urn:x\" type=\"5\">\n"
       "      <Regex Type=\"2\"><![CDATA[(?=.*[A-Z])&<]]></Regex>\n"
       "    </p:Rule>\n"
       "    <Scope type=\"1\"><Group>Domain Users</Group></Scope>\n"
       "  </Policy>\n"
       "  <!-- the second policy is for administrators -->\n"
       "  <?editor keep?>\n"
       "  <Policy name=\"Admins\"/>\n"
       "</PolicyList>\n");

TEST(XmlDocument, WalksAPrettyPrintedPolicyDocument) {
    auto doc = MustParse(kPolicyDocument);
    ASSERT_TRUE(doc);

    // The document node holds the declaration, the comment and the root element; blank text between them is
    // gone.
    const std::vector<Node> top = Children(doc->Root());
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[0].Type(), NodeType::Declaration);
    EXPECT_EQ(top[1].Type(), NodeType::Comment);
    EXPECT_EQ(top[2].Type(), NodeType::Element);

    const Node list = Only(*doc, KW("PolicyList"));
    WString version;
    EXPECT_EQ(list.GetAttribute(KW("version"), &version), kSOk);
    EXPECT_EQ(version, KW("1.8.0.1037"));

    // Children of the list: two policies with the comment and the processing instruction between them.
    const std::vector<Node> policies = Children(list);
    ASSERT_EQ(policies.size(), 4u);
    EXPECT_EQ(policies[0].Type(), NodeType::Element);
    EXPECT_EQ(policies[1].Type(), NodeType::Comment);
    EXPECT_EQ(Text(policies[1]), KW(" the second policy is for administrators "));
    EXPECT_EQ(policies[2].Type(), NodeType::ProcessingInstruction);
    EXPECT_EQ(BaseName(policies[2]), KW("editor"));
    EXPECT_EQ(Text(policies[2]), KW("keep"));
    EXPECT_EQ(BaseName(policies[3]), KW("Policy"));
    bool hasChildren = true;
    EXPECT_EQ(policies[3].HasChildNodes(&hasChildren), kSOk);
    EXPECT_FALSE(hasChildren);

    // Rules are found by local name whatever their prefix, in document order.
    std::vector<Node> rules;
    EXPECT_EQ(doc->GetElementsByTagName(KW("Rule"), &rules), kSOk);
    ASSERT_EQ(rules.size(), 2u);
    WString type;
    EXPECT_EQ(rules[0].GetAttribute(KW("type"), &type), kSOk);
    EXPECT_EQ(type, KW("2"));
    EXPECT_EQ(BaseName(rules[1]), KW("Rule"));
    EXPECT_EQ(rules[1].GetAttribute(KW("type"), &type), kSOk);
    EXPECT_EQ(type, KW("5"));
    // CDATA is taken as written: no reference is replaced and nothing is markup.
    EXPECT_EQ(Text(Only(*doc, KW("Regex"))), KW("(?=.*[A-Z])&<"));

    // An element's text gathers every descendant's text in order, nothing trimmed inside a text node.
    EXPECT_EQ(Text(Only(*doc, KW("Scope"))), KW("Domain Users"));
    EXPECT_EQ(Text(Only(*doc, KW("MinimumLength"))), KW("8"));

    // The tag name search is case-sensitive.
    std::vector<Node> none;
    EXPECT_EQ(doc->GetElementsByTagName(KW("policylist"), &none), kSOk);
    EXPECT_TRUE(none.empty());
}

// Text of elements and other nodes.
struct TextCase {
    const char* name;
    const WChar* document;
    const WChar* element;  // local name of the one element whose text is read
    WString text;
};
std::ostream& operator<<(std::ostream& os, const TextCase& c) {
    return os << c.name;
}

class TextTable : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextTable, ReadsDescendantText) {
    const TextCase& c = GetParam();
    auto doc = MustParse(c.document);
    ASSERT_TRUE(doc);
    EXPECT_EQ(Text(Only(*doc, c.element)), c.text);
}

const TextCase kTexts[] = {
    {"Plain", KW("<r><a>abc</a></r>"), KW("a"), KW("abc")},
    {"SpacesKept", KW("<r><a>  a  b  </a></r>"), KW("a"), KW("  a  b  ")},
    {"BlankOnlyIsEmpty", KW("<r><a>   </a></r>"), KW("a"), KW("")},
    {"EmptyElement", KW("<r><a/></r>"), KW("a"), KW("")},
    {"NestedInOrder", KW("<r><a>1<b>2<c>3</c></b>4</a></r>"), KW("a"), KW("1234")},
    {"CommentsAndPisLeftOut", KW("<r><a>x<!--c-->y<?p q?>z</a></r>"), KW("a"), KW("xyz")},
    {"CDataMixedWithText", KW("<r><a>x<![CDATA[<y>]]>z</a></r>"), KW("a"), KW("x<y>z")},
    {"PredefinedReferences", KW("<r><a>&lt;&gt;&amp;&quot;&apos;</a></r>"), KW("a"), KW("<>&\"'")},
    {"CharacterReferences", KW("<r><a>&#65;&#x42;&#x20AC;&#x1F600;</a></r>"), KW("a"),
     KW("AB\x20AC\xD83D\xDE00")},
    {"LineEndsNormalised", KW("<r><a>1\r\n2\r3</a></r>"), KW("a"), KW("1\n2\n3")},
    {"NonAscii", KW("<r><a>\x00E4\x4E2D\xD83D\xDE00</a></r>"), KW("a"), KW("\x00E4\x4E2D\xD83D\xDE00")},
    {"RootGathersAll", KW("<r>a<x>b</x><y>c</y></r>"), KW("r"), KW("abc")},
};
INSTANTIATE_TEST_SUITE_P(Texts, TextTable, ::testing::ValuesIn(kTexts),
                         [](const ::testing::TestParamInfo<TextCase>& p) {
                             return std::string(p.param.name);
                         });

TEST(XmlDocument, NonBlankTextIsAChildNode) {
    auto doc = MustParse(KW("<r>\n  a\n  <b/>\n</r>"));
    ASSERT_TRUE(doc);
    const std::vector<Node> children = Children(Only(*doc, KW("r")));
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0].Type(), NodeType::Text);
    EXPECT_EQ(BaseName(children[0]), KW(""));
    EXPECT_EQ(Text(children[0]), KW("\n  a\n  "));
    EXPECT_EQ(children[1].Type(), NodeType::Element);
}

TEST(XmlDocument, AttributesByExactNameAndInOrder) {
    auto doc = MustParse(KW("<r><e a:Version=\"1\" version=\"2\" TYPE=\"x\tlong\nvalue\" empty=\"\"/></r>"));
    ASSERT_TRUE(doc);
    const Node e = Only(*doc, KW("e"));

    // The exact lookup sees the qualified name, case and prefix included.
    struct {
        const WChar* name;
        int32_t status;
        const WChar* value;
    } const lookups[] = {
        {KW("version"), kSOk, KW("2")},
        {KW("a:Version"), kSOk, KW("1")},
        {KW("Version"), kSFalse, KW("")},
        {KW("type"), kSFalse, KW("")},
        {KW("TYPE"), kSOk, KW("x long value")},  // tabs and line ends read as spaces
        {KW("empty"), kSOk, KW("")},
    };
    for (const auto& l : lookups) {
        WString value = KW("stale");
        EXPECT_EQ(e.GetAttribute(l.name, &value), l.status) << Utf16ToUtf8(l.name);
        EXPECT_EQ(value, l.value) << Utf16ToUtf8(l.name);
    }

    // The collection keeps document order and strips prefixes from the base names.
    std::vector<Attribute> attributes;
    ASSERT_EQ(e.GetAttributes(&attributes), kSOk);
    ASSERT_EQ(attributes.size(), 4u);
    EXPECT_EQ(attributes[0].name, KW("a:Version"));
    EXPECT_EQ(attributes[0].baseName, KW("Version"));
    EXPECT_EQ(attributes[0].value, KW("1"));
    EXPECT_EQ(attributes[1].baseName, KW("version"));
    EXPECT_EQ(attributes[2].baseName, KW("TYPE"));
    EXPECT_EQ(attributes[3].value, KW(""));
    for (const Attribute& a : attributes) {
        EXPECT_EQ(a.nameStatus, kSOk);
        EXPECT_EQ(a.valueStatus, kSOk);
    }
}

TEST(XmlDocument, NodesThatAreNotElementsHaveNoAttributes) {
    auto doc = MustParse(KW("<r><!--c--></r>"));
    ASSERT_TRUE(doc);
    const std::vector<Node> children = Children(Only(*doc, KW("r")));
    ASSERT_EQ(children.size(), 1u);
    WString value;
    std::vector<Attribute> attributes;
    EXPECT_EQ(children[0].GetAttribute(KW("name"), &value), kENoInterface);
    EXPECT_EQ(children[0].GetAttributes(&attributes), kENoInterface);
}

TEST(XmlDocument, EmptyHandleAndNullOutputsAreInvalidArguments) {
    const Node none;
    WString text;
    bool flag = false;
    std::vector<Node> nodes;
    std::vector<Attribute> attributes;
    EXPECT_EQ(none.Type(), NodeType::Other);
    EXPECT_EQ(none.GetBaseName(&text), kEInvalidArg);
    EXPECT_EQ(none.GetText(&text), kEInvalidArg);
    EXPECT_EQ(none.GetAttribute(KW("a"), &text), kEInvalidArg);
    EXPECT_EQ(none.GetAttributes(&attributes), kEInvalidArg);
    EXPECT_EQ(none.HasChildNodes(&flag), kEInvalidArg);
    EXPECT_EQ(none.GetChildNodes(&nodes), kEInvalidArg);

    auto doc = MustParse(KW("<r/>"));
    ASSERT_TRUE(doc);
    const Node root = Only(*doc, KW("r"));
    EXPECT_EQ(root.GetText(nullptr), kEInvalidArg);
    EXPECT_EQ(root.HasChildNodes(nullptr), kEInvalidArg);
    EXPECT_EQ(doc->GetElementsByTagName(KW("r"), nullptr), kEInvalidArg);
    EXPECT_EQ(Document::Parse(KW("<r/>"), nullptr), kEInvalidArg);
}

// Documents that must be refused: S_FALSE, no document, and a message that says where and why.
struct Refusal {
    const char* name;
    WString document;
    const char* messagePart;
};
std::ostream& operator<<(std::ostream& os, const Refusal& r) {
    return os << r.name;
}

class RefusalTable : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusalTable, RefusedWithAMessage) {
    const Refusal& r = GetParam();
    std::unique_ptr<Document> doc = MustParse(KW("<stale/>"));
    WString error;
    EXPECT_EQ(Document::Parse(r.document, &doc, &error), kSFalse);
    EXPECT_FALSE(doc);
    EXPECT_NE(Utf16ToUtf8(error).find(r.messagePart), std::string::npos) << Utf16ToUtf8(error);
}

WString Nested(int depth, const WChar* inner = KW("")) {
    WString text;
    for (int i = 0; i < depth; ++i) {
        text += KW("<a>");
    }
    text += inner;
    for (int i = 0; i < depth; ++i) {
        text += KW("</a>");
    }
    return text;
}

// The classic entity expansion bomb: refused for its DOCTYPE before any entity could be expanded.
constexpr const WChar* kBillionLaughs =
    KW("<?xml version=\"1.0\"?>\n"
       "<!DOCTYPE lolz [\n"
       " <!ENTITY lol \"lol\">\n"
       " <!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
       " <!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">\n"
       " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
       "]>\n"
       "<lolz>&lol3;</lolz>");

const Refusal kRefusals[] = {
    {"Empty", KW(""), "exactly one root element"},
    {"BlankOnly", KW("  \n "), "exactly one root element"},
    {"NotXml", KW("password policy"), "Line 1"},
    {"Truncated", KW("<PolicyList><Policy>"), "Line 1, column 20"},
    {"MismatchedEnd", KW("<a>\n<b></a>"), "Line 2, column 6"},
    {"UnclosedAttribute", KW("<a b=\"1></a>"), "attribute"},
    {"UnclosedComment", KW("<a><!-- x</a>"), "comment"},
    // The column counts UTF-16 code units ("b" is the 8th), however many bytes the characters before it take.
    {"ColumnInCodeUnits", KW("<a>\x4E2D\x4E2D</b>"), "Line 1, column 8"},
    {"Doctype", KW("<!DOCTYPE PolicyList><PolicyList/>"), "document type declaration"},
    {"DoctypeWithSystemId", KW("<!DOCTYPE r SYSTEM \"file:///etc/passwd\"><r/>"),
     "document type declaration"},
    {"BillionLaughs", kBillionLaughs, "document type declaration"},
    {"TwoRootElements", KW("<a/><b/>"), "exactly one root element"},
    {"TextAfterRoot", KW("<a/>tail"), "outside the root element"},
    {"DuplicateAttribute", KW("<a x=\"1\" x=\"2\"/>"), "twice"},
    {"TooDeep", Nested(kMaxDepth + 1), "nested deeper than 256"},
    {"FarTooDeep", Nested(10000, KW("x")), "nested deeper than 256"},
};
INSTANTIATE_TEST_SUITE_P(Malformed, RefusalTable, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& p) {
                             return std::string(p.param.name);
                         });

TEST(XmlDocument, DeepestAcceptedNesting) {
    auto doc = MustParse(Nested(kMaxDepth, KW("x")));
    ASSERT_TRUE(doc);
    std::vector<Node> all;
    EXPECT_EQ(doc->GetElementsByTagName(KW("a"), &all), kSOk);
    EXPECT_EQ(all.size(), static_cast<size_t>(kMaxDepth));
    EXPECT_EQ(Text(all[0]), KW("x"));
}

TEST(XmlDocument, LargeDocumentParses) {
    // Well over a million bytes of policies, each with a rule.
    WString text = KW("<PolicyList>");
    int policies = 0;
    while (text.size() < 1000000) {
        text += KW("<Policy name=\"p\"><Rule type=\"2\"><MinimumLength>8</MinimumLength></Rule></Policy>\n");
        ++policies;
    }
    text += KW("</PolicyList>");
    auto doc = MustParse(text);
    ASSERT_TRUE(doc);
    std::vector<Node> found;
    EXPECT_EQ(doc->GetElementsByTagName(KW("MinimumLength"), &found), kSOk);
    EXPECT_EQ(found.size(), static_cast<size_t>(policies));
    EXPECT_EQ(Children(Only(*doc, KW("PolicyList"))).size(), static_cast<size_t>(policies));
}

TEST(XmlDocument, UnpairedSurrogateReadsAsReplacementCharacter) {
    const WString text = WString(KW("<r>a")) + static_cast<WChar>(0xD800) + KW("b</r>");
    auto doc = MustParse(text);
    ASSERT_TRUE(doc);
    EXPECT_EQ(Text(Only(*doc, KW("r"))), KW("a\xFFFD"
                                            "b"));
}

// Every fallible operation can be made to fail once, on any node or only on a node of a given local name.
struct FaultCase {
    const char* name;
    Op op;
    const WChar* nodeName;
};
std::ostream& operator<<(std::ostream& os, const FaultCase& f) {
    return os << f.name;
}

class FaultTable : public ::testing::TestWithParam<FaultCase> {};

constexpr int32_t kInjected = static_cast<int32_t>(0x8007001Fu);

// Runs `op` on `node`; attribute faults are reported per attribute by the collection.
int32_t RunOp(Op op, const Document& doc, const Node& node) {
    WString text;
    bool flag = false;
    std::vector<Node> nodes;
    std::vector<Attribute> attributes;
    switch (op) {
        case Op::BaseName:
            return node.GetBaseName(&text);
        case Op::Text:
            return node.GetText(&text);
        case Op::GetAttribute:
            return node.GetAttribute(KW("type"), &text);
        case Op::Attributes:
            return node.GetAttributes(&attributes);
        case Op::AttributeName:
        case Op::AttributeValue: {
            const int32_t status = node.GetAttributes(&attributes);
            if (status != kSOk) {
                return status;
            }
            for (const Attribute& a : attributes) {
                const int32_t failed = op == Op::AttributeName ? a.nameStatus : a.valueStatus;
                if (failed != kSOk) {
                    // The failed part is left empty; the rest of the attribute is still there.
                    EXPECT_TRUE(op == Op::AttributeName ? a.baseName.empty() : a.value.empty());
                    EXPECT_EQ(a.name, KW("type"));
                    return failed;
                }
            }
            return kSOk;
        }
        case Op::HasChildren:
            return node.HasChildNodes(&flag);
        case Op::ChildNodes:
            return node.GetChildNodes(&nodes);
        case Op::ElementsByTagName:
            return doc.GetElementsByTagName(KW("Rule"), &nodes);
        case Op::Parse:
            break;
    }
    return kEFail;
}

TEST_P(FaultTable, FailsOnceOnTheNamedNode) {
    const FaultCase& f = GetParam();
    auto doc = MustParse(KW("<Policy name=\"p\"><Rule type=\"2\">x</Rule></Policy>"));
    ASSERT_TRUE(doc);
    const Node policy = Only(*doc, KW("Policy"));
    const Node rule = Only(*doc, KW("Rule"));

    doc->Faults().FailNext(f.op, kInjected, f.nodeName);
    // A fault aimed at "Rule" passes over the policy element; one aimed at any node hits the first call.
    if (f.nodeName[0] != 0 && f.op != Op::ElementsByTagName) {
        EXPECT_NE(RunOp(f.op, *doc, policy), kInjected);
    }
    EXPECT_EQ(RunOp(f.op, *doc, rule), kInjected);
    // Consumed: the same call now succeeds.
    EXPECT_EQ(RunOp(f.op, *doc, rule), kSOk);
    EXPECT_FALSE(doc->Faults().Armed());
}

const FaultCase kFaults[] = {
    {"BaseName", Op::BaseName, KW("Rule")},
    {"BaseNameAnyNode", Op::BaseName, KW("")},
    {"Text", Op::Text, KW("Rule")},
    {"GetAttribute", Op::GetAttribute, KW("Rule")},
    {"Attributes", Op::Attributes, KW("Rule")},
    {"HasChildren", Op::HasChildren, KW("Rule")},
    {"ChildNodes", Op::ChildNodes, KW("Rule")},
    {"ChildNodesAnyNode", Op::ChildNodes, KW("")},
    {"ElementsByTagName", Op::ElementsByTagName, KW("Rule")},
    // Attribute faults are aimed at the attribute's local name.
    {"AttributeName", Op::AttributeName, KW("type")},
    {"AttributeValue", Op::AttributeValue, KW("type")},
};
INSTANTIATE_TEST_SUITE_P(Faults, FaultTable, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& p) {
                             return std::string(p.param.name);
                         });

TEST(XmlFaults, AttributeValueFaultHitsTheExactLookup) {
    auto doc = MustParse(KW("<r version=\"1\" type=\"2\"/>"));
    ASSERT_TRUE(doc);
    const Node r = Only(*doc, KW("r"));
    doc->Faults().FailNext(Op::AttributeValue, kInjected, KW("type"));
    WString value;
    // Reading another attribute leaves the fault waiting.
    EXPECT_EQ(r.GetAttribute(KW("version"), &value), kSOk);
    EXPECT_EQ(r.GetAttribute(KW("type"), &value), kInjected);
    EXPECT_TRUE(value.empty());
    EXPECT_EQ(r.GetAttribute(KW("type"), &value), kSOk);
    EXPECT_EQ(value, KW("2"));
}

TEST(XmlFaults, QueuedFaultsAreTakenInOrderPerOperation) {
    auto doc = MustParse(KW("<r/>"));
    ASSERT_TRUE(doc);
    const Node r = Only(*doc, KW("r"));
    doc->Faults().FailNext(Op::Text, kEOutOfMemory);
    doc->Faults().FailNext(Op::Text, kEFail);
    WString text;
    bool flag = false;
    // An operation with no fault of its own is untouched.
    EXPECT_EQ(r.HasChildNodes(&flag), kSOk);
    EXPECT_EQ(r.GetText(&text), kEOutOfMemory);
    EXPECT_EQ(r.GetText(&text), kEFail);
    EXPECT_EQ(r.GetText(&text), kSOk);
}

TEST(XmlFaults, ParseFailsWhenInjected) {
    Document::ParseFaults().FailNext(Op::Parse, kEOutOfMemory);
    std::unique_ptr<Document> doc;
    EXPECT_EQ(Document::Parse(KW("<r/>"), &doc), kEOutOfMemory);
    EXPECT_FALSE(doc);
    EXPECT_EQ(Document::Parse(KW("<r/>"), &doc), kSOk);
    EXPECT_TRUE(doc);
}

}  // namespace
}  // namespace korva::xml
