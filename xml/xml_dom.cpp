#include "xml/xml_dom.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>

#include <pugixml.hpp>

#include "platform/format.h"

namespace korva::xml {
namespace {

// Well-formed XML only, read the way MSXML reads it with its defaults: CDATA sections, comments, processing
// instructions and the XML declaration become nodes; references are replaced; line ends read as "\n";
// attribute values have tabs and line ends turned into spaces; text made only of white space is dropped. The
// DOCTYPE is parsed as a node only so that it can be seen and refused, and the text is read as a fragment
// only so that text outside the root element is kept (pugixml would drop it silently) and can be refused too.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                   pugi::parse_wconv_attribute | pugi::parse_comments | pugi::parse_pi |
                                   pugi::parse_declaration | pugi::parse_doctype | pugi::parse_fragment;

pugi::xml_node AsPugi(void* node) {
    return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node));
}

// "p:Rule" -> "Rule".
const char* LocalName(const char* qualified) {
    const char* colon = std::strrchr(qualified, ':');
    return colon != nullptr ? colon + 1 : qualified;
}

WString Wide(const char* utf8) {
    return Utf8ToUtf16(utf8);
}

// The next node after `node` in document order within the subtree rooted at `top`, or null at the end.
pugi::xml_node NextInSubtree(pugi::xml_node node, pugi::xml_node top) {
    if (node.first_child()) {
        return node.first_child();
    }
    while (node && node != top) {
        if (node.next_sibling()) {
            return node.next_sibling();
        }
        node = node.parent();
    }
    return pugi::xml_node();
}

// Local name of a node as the engine sees it (see GetBaseName).
const char* BaseNameOf(pugi::xml_node node) {
    switch (node.type()) {
        case pugi::node_element:
            return LocalName(node.name());
        case pugi::node_pi:
        case pugi::node_declaration:
            return node.name();
        default:
            return "";
    }
}

// Where pugixml stopped, as a line and column of the UTF-16 text (both counted from 1, the column in UTF-16
// code units). `byteOffset` is an offset into the UTF-8 form of that text.
void LineAndColumn(const std::string& utf8, ptrdiff_t byteOffset, int32_t* line, int32_t* column) {
    const std::string_view before =
        std::string_view(utf8).substr(0, static_cast<size_t>(std::max<ptrdiff_t>(byteOffset, 0)));
    const size_t lastNewline = before.rfind('\n');
    const std::string_view lineText =
        lastNewline == std::string_view::npos ? before : before.substr(lastNewline + 1);
    *line = static_cast<int32_t>(std::count(before.begin(), before.end(), '\n')) + 1;
    *column = static_cast<int32_t>(Utf8ToUtf16(lineText).size()) + 1;
}

WString Located(const std::string& utf8, ptrdiff_t byteOffset, const WChar* reason) {
    int32_t line = 0;
    int32_t column = 0;
    LineAndColumn(utf8, byteOffset, &line, &column);
    return Format(KW("Line %d, column %d: %s"), line, column, reason);
}

// The checks pugixml leaves to its caller, in one iterative pass: no DOCTYPE, exactly one root element and no
// text outside it, nesting within kMaxDepth, no attribute written twice on one element. Empty when the tree
// is acceptable, else the reason and *where (a byte offset, -1 when unknown).
WString CheckTree(const pugi::xml_document& doc, ptrdiff_t* where) {
    *where = -1;
    int rootElements = 0;
    for (pugi::xml_node top = doc.first_child(); top; top = top.next_sibling()) {
        switch (top.type()) {
            case pugi::node_doctype:
                *where = top.offset_debug();
                return KW("A document type declaration is not allowed.");
            case pugi::node_pcdata:
            case pugi::node_cdata:
                *where = top.offset_debug();
                return KW("Text is not allowed outside the root element.");
            case pugi::node_element:
                ++rootElements;
                break;
            default:
                break;
        }
    }
    if (rootElements != 1) {
        return KW("The document must have exactly one root element.");
    }

    std::unordered_set<std::string_view> names;
    int ancestors = 0;  // elements above `node`
    pugi::xml_node node = doc.first_child();
    while (node) {
        if (node.type() == pugi::node_doctype) {
            *where = node.offset_debug();
            return KW("A document type declaration is not allowed.");
        }
        if (node.type() == pugi::node_element) {
            if (ancestors + 1 > kMaxDepth) {
                *where = node.offset_debug();
                return Format(KW("Elements are nested deeper than %d levels."), kMaxDepth);
            }
            if (node.first_attribute() && node.first_attribute().next_attribute()) {
                names.clear();
                for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
                    if (!names.insert(a.name()).second) {
                        *where = node.offset_debug();
                        return KW("An attribute appears twice on one element.");
                    }
                }
            }
        }
        // Document order: down into the children, else on to the next sibling, else up until an ancestor has
        // one.
        if (node.first_child()) {
            if (node.type() == pugi::node_element) {
                ++ancestors;
            }
            node = node.first_child();
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            if (node && node.type() == pugi::node_element) {
                --ancestors;
            }
        }
        if (node) {
            node = node.next_sibling();
        }
    }
    return WString();
}

}  // namespace

struct Document::Impl {
    pugi::xml_document doc;
};

Document::Document() : impl_(new Impl) {}
Document::~Document() = default;

namespace {
FaultHook* gParseFaults = nullptr;
}

void Document::SetParseFaultHook(FaultHook* hook) {
    gParseFaults = hook;
}

int32_t Document::Fault(Op op, const WString& nodeName) const {
    return FaultsArmed() ? faults_->Take(op, nodeName) : kSOk;
}

int32_t Document::Parse(WStringView text, std::unique_ptr<Document>* out, WString* error) {
    if (out == nullptr) {
        return kEInvalidArg;
    }
    out->reset();
    if (error != nullptr) {
        error->clear();
    }
    try {
        if (gParseFaults != nullptr && gParseFaults->Armed()) {
            if (const int32_t fault = gParseFaults->Take(Op::Parse, WString())) {
                return fault;
            }
        }
        // pugixml reads UTF-8; an unpaired surrogate becomes U+FFFD on the way.
        const std::string utf8 = Utf16ToUtf8(text);
        std::unique_ptr<Document> document(new Document());
        const pugi::xml_parse_result parsed =
            document->impl_->doc.load_buffer(utf8.data(), utf8.size(), kParseOptions, pugi::encoding_utf8);
        if (parsed.status == pugi::status_out_of_memory) {
            return kEOutOfMemory;
        }
        WString reason;
        ptrdiff_t where = parsed.offset;
        if (!parsed) {
            reason = AsciiToWide(parsed.description());
        } else {
            reason = CheckTree(document->impl_->doc, &where);
        }
        if (!reason.empty()) {
            if (error != nullptr) {
                *error = where >= 0 ? Located(utf8, where, reason.c_str()) : reason;
            }
            return kSFalse;
        }
        *out = std::move(document);
        return kSOk;
    } catch (const std::bad_alloc&) {
        return kEOutOfMemory;
    } catch (...) {
        return kEFail;
    }
}

Node Document::Root() const {
    return Node(this, impl_->doc.internal_object());
}

int32_t Document::GetElementsByTagName(WStringView localName, std::vector<Node>* out) const {
    if (out == nullptr) {
        return kEInvalidArg;
    }
    out->clear();
    if (FaultsArmed()) {
        if (const int32_t fault = Fault(Op::ElementsByTagName, WString(localName))) {
            return fault;
        }
    }
    try {
        const std::string wanted = Utf16ToUtf8(localName);
        const pugi::xml_node top = impl_->doc;
        for (pugi::xml_node n = NextInSubtree(top, top); n; n = NextInSubtree(n, top)) {
            if (n.type() == pugi::node_element && wanted == LocalName(n.name())) {
                out->push_back(Node(this, n.internal_object()));
            }
        }
        return kSOk;
    } catch (...) {
        out->clear();
        return kEOutOfMemory;
    }
}

NodeType Node::Type() const {
    switch (AsPugi(node_).type()) {
        case pugi::node_element:
            return NodeType::Element;
        case pugi::node_pcdata:
            return NodeType::Text;
        case pugi::node_cdata:
            return NodeType::CData;
        case pugi::node_comment:
            return NodeType::Comment;
        case pugi::node_pi:
            return NodeType::ProcessingInstruction;
        case pugi::node_declaration:
            return NodeType::Declaration;
        default:
            return NodeType::Other;
    }
}

// Common entry checks of every operation: a node to work on, somewhere to put the answer, and an injected
// fault.
int32_t Node::Check(Op op, const void* out) const {
    if (doc_ == nullptr || node_ == nullptr || out == nullptr) {
        return kEInvalidArg;
    }
    if (!doc_->FaultsArmed()) {
        return kSOk;
    }
    try {
        return doc_->Fault(op, Wide(BaseNameOf(AsPugi(node_))));
    } catch (...) {
        return kEOutOfMemory;
    }
}

int32_t Node::GetBaseName(WString* out) const {
    if (const int32_t status = Check(Op::BaseName, out)) {
        return status;
    }
    try {
        *out = Wide(BaseNameOf(AsPugi(node_)));
        return kSOk;
    } catch (...) {
        return kEOutOfMemory;
    }
}

WString Node::Path() const {
    if (node_ == nullptr) {
        return WString();
    }
    // Walked from the node up; each step is prepended.
    WString path;
    for (pugi::xml_node node = AsPugi(node_); node && node.type() == pugi::node_element;
         node = node.parent()) {
        size_t index = 1;
        size_t count = 1;
        for (pugi::xml_node other = node.previous_sibling(node.name()); other;
             other = other.previous_sibling(node.name())) {
            ++index;
            ++count;
        }
        for (pugi::xml_node other = node.next_sibling(node.name()); other;
             other = other.next_sibling(node.name())) {
            ++count;
        }
        WString step = KW("/") + Wide(node.name());
        if (count > 1) {
            step += KW("[") + AsciiToWide(std::to_string(index)) + KW("]");
        }
        path.insert(0, step);
    }
    return path;
}

int32_t Node::GetText(WString* out) const {
    if (const int32_t status = Check(Op::Text, out)) {
        return status;
    }
    try {
        const pugi::xml_node node = AsPugi(node_);
        switch (node.type()) {
            case pugi::node_element:
            case pugi::node_document: {
                std::string text;
                for (pugi::xml_node n = NextInSubtree(node, node); n; n = NextInSubtree(n, node)) {
                    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
                        text += n.value();
                    }
                }
                *out = Utf8ToUtf16(text);
                break;
            }
            case pugi::node_declaration:
                out->clear();
                break;
            default:
                *out = Wide(node.value());
                break;
        }
        return kSOk;
    } catch (...) {
        out->clear();
        return kEOutOfMemory;
    }
}

int32_t Node::GetAttribute(WStringView name, WString* out) const {
    if (const int32_t status = Check(Op::GetAttribute, out)) {
        return status;
    }
    out->clear();
    const pugi::xml_node node = AsPugi(node_);
    if (node.type() != pugi::node_element) {
        return kENoInterface;
    }
    try {
        const std::string wanted = Utf16ToUtf8(name);
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            if (wanted == a.name()) {
                if (doc_->FaultsArmed()) {
                    if (const int32_t fault = doc_->Fault(Op::AttributeValue, Wide(LocalName(a.name())))) {
                        return fault;
                    }
                }
                *out = Wide(a.value());
                return kSOk;
            }
        }
        return kSFalse;
    } catch (...) {
        out->clear();
        return kEOutOfMemory;
    }
}

int32_t Node::GetAttributes(std::vector<Attribute>* out) const {
    if (const int32_t status = Check(Op::Attributes, out)) {
        return status;
    }
    out->clear();
    const pugi::xml_node node = AsPugi(node_);
    if (node.type() != pugi::node_element) {
        return kENoInterface;
    }
    try {
        const Document& doc = *doc_;
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            Attribute attribute;
            attribute.name = Wide(a.name());
            const WString baseName = Wide(LocalName(a.name()));
            attribute.nameStatus = doc.Fault(Op::AttributeName, baseName);
            attribute.valueStatus = doc.Fault(Op::AttributeValue, baseName);
            if (attribute.nameStatus == kSOk) {
                attribute.baseName = baseName;
            }
            if (attribute.valueStatus == kSOk) {
                attribute.value = Wide(a.value());
            }
            out->push_back(std::move(attribute));
        }
        return kSOk;
    } catch (...) {
        out->clear();
        return kEOutOfMemory;
    }
}

int32_t Node::HasChildNodes(bool* out) const {
    if (const int32_t status = Check(Op::HasChildren, out)) {
        return status;
    }
    *out = static_cast<bool>(AsPugi(node_).first_child());
    return kSOk;
}

int32_t Node::GetChildNodes(std::vector<Node>* out) const {
    if (const int32_t status = Check(Op::ChildNodes, out)) {
        return status;
    }
    out->clear();
    try {
        for (pugi::xml_node child = AsPugi(node_).first_child(); child; child = child.next_sibling()) {
            out->push_back(Node(doc_, child.internal_object()));
        }
        return kSOk;
    } catch (...) {
        out->clear();
        return kEOutOfMemory;
    }
}

}  // namespace korva::xml
