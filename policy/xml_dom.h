// A small DOM over pugixml with what the policy engine reads: parse UTF-16 text, walk child nodes, local (base)
// names, MSXML-style node text, attributes by exact name and in order, has-children.
//
// Every operation the engine treats as fallible returns a status (0 = S_OK, 1 = S_FALSE, or a failure HRESULT)
// so tests can inject each failure: Document::Faults().FailNext(op, hresult, nameMatch) makes the next call of
// `op` on a node whose local name equals `nameMatch` (any node when empty) fail with `hresult`.
//
// Safety: no DTD is read, no external entity is expanded, no file or socket is opened; nesting deeper than
// kMaxDepth is refused at parse time so that no walk can exhaust the stack.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/text.h"

namespace korva::xml {

constexpr int32_t kSOk = 0;
constexpr int32_t kSFalse = 1;
constexpr int32_t kEFail = static_cast<int32_t>(0x80004005u);
constexpr int32_t kEOutOfMemory = static_cast<int32_t>(0x8007000Eu);
constexpr int32_t kEInvalidArg = static_cast<int32_t>(0x80070057u);
constexpr int kMaxDepth = 256;

enum class NodeType { Element, Text, CData, Comment, ProcessingInstruction, Declaration, Other };

enum class Op { BaseName, Text, GetAttribute, Attributes, AttributeName, AttributeValue, HasChildren, ChildNodes };

class Document;

struct Attribute {
    WString name;      // qualified name as written
    WString baseName;  // local name (prefix removed)
    WString value;
};

// A node handle: cheap to copy, valid while its Document lives.
class Node {
public:
    Node() = default;
    NodeType Type() const;
    bool IsElement() const { return Type() == NodeType::Element; }
    // Local name without a namespace prefix ("p:Rule" -> "Rule"); empty for text nodes.
    int32_t GetBaseName(WString* out) const;
    // MSXML's `text`: all descendant text and CDATA concatenated, as written.
    int32_t GetText(WString* out) const;
    // Attribute by exact qualified name: S_OK with the value, S_FALSE with `out` cleared when absent.
    int32_t GetAttribute(WStringView name, WString* out) const;
    // All attributes in document order.
    int32_t GetAttributes(std::vector<Attribute>* out) const;
    int32_t HasChildNodes(bool* out) const;
    // Every child node: elements, text, CDATA, comments, processing instructions.
    int32_t GetChildNodes(std::vector<Node>* out) const;

private:
    friend class Document;
    const Document* doc_ = nullptr;
    void* node_ = nullptr;  // pugi::xml_node_struct*
};

class FaultInjector {
public:
    void FailNext(Op op, int32_t hresult, WStringView nodeName = {});
    // Consumes a matching fault: returns its HRESULT, or 0 when none applies.
    int32_t Take(Op op, const WString& nodeName) const;

private:
    struct Fault {
        Op op;
        int32_t hresult;
        WString nodeName;
    };
    mutable std::vector<Fault> faults_;
};

class Document {
public:
    ~Document();
    // Parses `text`: 0 with *out set, or S_FALSE (1) with `error` describing the problem (position and reason).
    static int32_t Parse(WStringView text, std::unique_ptr<Document>* out, WString* error = nullptr);
    // Every element at any depth whose local name equals `localName` (case-sensitive), in document order.
    int32_t GetElementsByTagName(WStringView localName, std::vector<Node>* out) const;
    Node Root() const;
    FaultInjector& Faults() const { return faults_; }

private:
    Document();
    struct Impl;
    std::unique_ptr<Impl> impl_;
    mutable FaultInjector faults_;
    friend class Node;
};

}  // namespace korva::xml
