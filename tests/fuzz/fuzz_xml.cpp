// Document::Parse on arbitrary UTF-8 and a walk over every node with every read operation.
#include "tests/fuzz/fuzz_require.h"
#include "xml/xml_dom.h"

namespace {

using namespace korva;

void Walk(const xml::Document& doc) {
    std::vector<xml::Node> pending{doc.Root()};
    size_t visited = 0;
    while (!pending.empty()) {
        const xml::Node node = pending.back();
        pending.pop_back();
        ++visited;
        WString text;
        Require(node.GetBaseName(&text) == kSOk);
        Require(node.GetText(&text) == kSOk);
        std::vector<xml::Attribute> attributes;
        const int32_t status = node.GetAttributes(&attributes);
        Require(status == (node.IsElement() ? kSOk : kENoInterface));
        for (const xml::Attribute& a : attributes) {
            WString value;
            Require(node.GetAttribute(a.name, &value) == kSOk && value == a.value);
        }
        bool hasChildren = false;
        Require(node.HasChildNodes(&hasChildren) == kSOk);
        std::vector<xml::Node> children;
        Require(node.GetChildNodes(&children) == kSOk);
        Require(hasChildren == !children.empty());
        pending.insert(pending.end(), children.begin(), children.end());
    }
    std::vector<xml::Node> found;
    Require(doc.GetElementsByTagName(KW("PolicyList"), &found) == kSOk);
    Require(visited > 1);  // the document node and at least the root element
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const WString text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<xml::Document> doc;
    WString error;
    const int32_t status = xml::Document::Parse(text, &doc, &error);
    if (status == kSOk) {
        Require(doc != nullptr);
        Walk(*doc);
    } else {
        Require(status == kSFalse && !doc && !error.empty());
    }
    return 0;
}
