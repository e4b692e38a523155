// Document::Parse on arbitrary UTF-8 and a walk over every node with every read operation.
#include "tests/fuzz/fuzz_require.h"
#include "tests/xml/xml_dump.h"

using namespace korva;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const WString text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<xml::Document> doc;
    WString error;
    const int32_t status = xml::Document::Parse(text, &doc, &error);
    if (status == kSOk) {
        Require(doc != nullptr);
        (void)xml::DumpTree(doc->Root(), Require);
        std::vector<xml::Node> found;
        Require(doc->Root().GetChildNodes(&found) == kSOk && !found.empty());  // at least the root element
        Require(doc->GetElementsByTagName(KW("PolicyList"), &found) == kSOk);
    } else {
        Require(status == kSFalse && !doc && !error.empty());
    }
    return 0;
}
