// A small DOM over pugixml with what the policy engine reads: parse UTF-16 text, walk child nodes, local
// (base) names, node text, attributes by exact name and in order, has-children.
//
// Every operation the engine treats as fallible returns a status (0 = S_OK, 1 = S_FALSE, or a failure
// HRESULT), and before each one the DOM asks a FaultHook, when one is installed, whether it should fail: tests
// install one to make any single read fail. Production code installs none.
//
// What the document looks like to the engine (chosen to read a policy document the way MSXML's DOMDocument
// does with its defaults):
// - Text made only of white space between markup is dropped, so a pretty-printed element's children are its
//   elements, comments, processing instructions and non-blank text; text that holds anything else is kept
//   whole, white space included. Line ends read as "\n"; entity and character references are replaced.
// - An attribute value has its tabs and line ends turned into spaces.
// - The XML declaration is a child of the document node (NodeType::Declaration), not of the root element.
//
// Safety: a document with a DOCTYPE is refused outright (a policy document never needs one), so no DTD is
// read and no entity of any kind is declared or expanded; nothing is opened (no file, no socket); nesting
// deeper than kMaxDepth is refused at parse time, and every walk is iterative, so no document can exhaust the
// stack.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/result_codes.h"
#include "platform/text.h"

namespace korva::xml {

// Deepest element nesting accepted (the root element is at depth 1).
constexpr int kMaxDepth = 256;

enum class NodeType { Element, Text, CData, Comment, ProcessingInstruction, Declaration, Other };

enum class Op {
    BaseName,
    Text,
    GetAttribute,
    Attributes,
    AttributeName,
    AttributeValue,
    HasChildren,
    ChildNodes,
    ElementsByTagName,
    Parse,
};

class Document;

struct Attribute {
    WString name;      // qualified name as written
    WString baseName;  // local name (prefix removed); empty when nameStatus is not S_OK
    WString value;     // empty when valueStatus is not S_OK
    // Reading one attribute's local name or value can fail on its own (only by injection here); the
    // collection is still returned whole so that a caller can skip that attribute and go on.
    int32_t nameStatus = kSOk;
    int32_t valueStatus = kSOk;
};

// A node handle: cheap to copy, valid while its Document lives. A default-constructed handle refers to no
// node: Type() is Other and every operation returns E_INVALIDARG.
class Node {
  public:
    Node() = default;
    NodeType Type() const;
    bool IsElement() const { return Type() == NodeType::Element; }
    // Local name without a namespace prefix ("p:Rule" -> "Rule"); a processing instruction's target; empty
    // for text, CDATA, comments and the document node.
    int32_t GetBaseName(WString* out) const;
    // The node's text: for an element or the document, all descendant text and CDATA concatenated in document
    // order, as written (nothing trimmed; comments and processing instructions left out); for any other node
    // its own content.
    int32_t GetText(WString* out) const;
    // Attribute by exact qualified name: S_OK with the value, S_FALSE with `out` cleared when absent.
    // E_NOINTERFACE on a node that is not an element.
    int32_t GetAttribute(WStringView name, WString* out) const;
    // All attributes in document order. E_NOINTERFACE on a node that is not an element.
    int32_t GetAttributes(std::vector<Attribute>* out) const;
    int32_t HasChildNodes(bool* out) const;
    // Every child node: elements, text, CDATA, comments, processing instructions.
    int32_t GetChildNodes(std::vector<Node>* out) const;

    // Where an element sits, for people reading a report: its qualified name and its ancestors', root first,
    // "/PolicyList/Policy[2]/Rule/MinimumLength"; "[n]" counts from 1 among siblings of the same name and is
    // written only when there are several. Empty for a handle to no node. Not fallible by injection: it is
    // no part of reading a document.
    WString Path() const;

  private:
    friend class Document;
    Node(const Document* doc, void* node) : doc_(doc), node_(node) {}
    int32_t Check(Op op, const void* out) const;
    const Document* doc_ = nullptr;
    void* node_ = nullptr;  // pugi::xml_node_struct*
};

// The test seam. `nodeName` is the local name of the node the operation is called on; for Op::AttributeName
// and Op::AttributeValue it is the attribute's, for Op::ElementsByTagName the name searched for, and empty for
// Op::Parse.
class FaultHook {
  public:
    virtual ~FaultHook() = default;
    // The HRESULT this call of `op` fails with, or 0 to let it run.
    [[nodiscard]] virtual int32_t Take(Op op, const WString& nodeName) = 0;
    // False while no fault can apply, so the DOM need not work out the node's name.
    [[nodiscard]] virtual bool Armed() const = 0;
};

class Document {
  public:
    ~Document();
    // Parses `text`: 0 with *out set, or S_FALSE (1) with `error` describing the problem (line, column and
    // reason), or a failure HRESULT (out of memory). *out is reset on every failure.
    static int32_t Parse(WStringView text, std::unique_ptr<Document>* out, WString* error = nullptr);
    // Every element at any depth whose local name equals `localName` (case-sensitive), in document order.
    int32_t GetElementsByTagName(WStringView localName, std::vector<Node>* out) const;
    // The document node: its children are the root element and any comments, processing instructions and XML
    // declaration around it.
    Node Root() const;
    // Installs `hook` (borrowed; null removes it) for the operations on this document and its nodes.
    void SetFaultHook(FaultHook* hook) const { faults_ = hook; }
    // The hook for Parse, which has no document yet. Process-wide and unsynchronised: for tests only.
    static void SetParseFaultHook(FaultHook* hook);

  private:
    Document();
    struct Impl;
    std::unique_ptr<Impl> impl_;
    // Asks the hook, if any: 0 when none is installed or it lets the call run.
    int32_t Fault(Op op, const WString& nodeName) const;
    bool FaultsArmed() const { return faults_ != nullptr && faults_->Armed(); }

    mutable FaultHook* faults_ = nullptr;
    friend class Node;
};

}  // namespace korva::xml
