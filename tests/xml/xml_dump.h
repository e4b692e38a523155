// A node and its descendants as the engine sees them, for the DOM's tests and its fuzz target: type, base name,
// attributes (qualified|base=value), 'text', (children). `check` gets each invariant between the reads.
#pragma once

#include <string>
#include <vector>

#include "xml/xml_dom.h"

namespace korva::xml {

template <typename Check>
std::string DumpTree(const Node& node, const Check& check) {
    WString name, text, value = KW("stale");
    bool hasChildren = false;
    std::vector<Node> children;
    std::vector<Attribute> attributes;
    check(node.GetBaseName(&name) == kSOk && node.GetText(&text) == kSOk);
    check(node.HasChildNodes(&hasChildren) == kSOk && node.GetChildNodes(&children) == kSOk);
    check(hasChildren == !children.empty());
    check(node.GetAttributes(&attributes) == (node.IsElement() ? kSOk : kENoInterface));
    // No attribute is named "<": absent, with the output cleared.
    check(node.GetAttribute(KW("<"), &value) == (node.IsElement() ? kSFalse : kENoInterface) &&
          value.empty());
    std::string out = "ETCcPD?"[static_cast<int>(node.Type())] + Utf16ToUtf8(name);
    for (const Attribute& a : attributes) {
        check(node.GetAttribute(a.name, &value) == kSOk && value == a.value);
        out += Utf16ToUtf8(KW(" ") + a.name + KW("|") + a.baseName + KW("=") + a.value);
    }
    out += "'" + Utf16ToUtf8(text) + "'";
    for (size_t i = 0; i < children.size(); ++i) {
        out += (i == 0 ? "(" : " ") + DumpTree(children[i], check) + (i + 1 == children.size() ? ")" : "");
    }
    return out;
}

}  // namespace korva::xml
