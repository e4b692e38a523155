// LDAP search filters in their text form (RFC 4515), parsed into a tree for the in-memory directory to
// evaluate. Text is UTF-8; assertion values are unescaped to the bytes they stand for ("\01\05" is two
// bytes), so binary values such as objectSid can be compared byte for byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korva::ldapfilter {

enum class Kind {
    And,     // all children hold ("(&)" is true)
    Or,      // any child holds ("(|)" is false)
    Not,     // the one child does not hold
    Equal,   // attribute=value
    Approx,  // attribute~=value
    GreaterOrEqual,
    LessOrEqual,
    Present,     // attribute=*
    Substrings,  // attribute=initial*any*...*final
    Extensible,  // attribute:dn:rule:=value
};

struct Node {
    Kind kind = Kind::And;
    std::string attribute;  // the type without options ("objectSid" of "objectSid;binary")
    std::string value;
    // Substrings: the parts before the first, between, and after the last "*" (initial/final may be empty).
    std::string initial;
    std::vector<std::string> any;
    std::string final;
    // Extensible: the matching rule's OID or name (may be empty) and whether ":dn" was given.
    std::string rule;
    bool dnAttributes = false;
    std::vector<Node> children;
};

// Bounds on what a filter may contain, so that a hostile one costs little to refuse.
struct FilterLimits {
    size_t maxLength = 64 * 1024;
    size_t maxDepth = 32;
    size_t maxNodes = 4096;
};

// Parses `text`; a filter without its outer parentheses ("cn=x") is read as if it had them. false, with a
// short English reason in `error`, for anything that is not a filter or exceeds the limits.
[[nodiscard]] bool Parse(std::string_view text, const FilterLimits& limits, Node* root, std::string* error);

// A value escaped for a filter: "*", "(", ")", "\" and NUL as \2a \28 \29 \5c \00, and every byte that is not
// printable ASCII as \xx, so that binary values can be put into a filter as text.
std::string EscapeValue(std::string_view bytes);

}  // namespace korva::ldapfilter
