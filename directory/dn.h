// Distinguished names (RFC 4514) as Active Directory compares them: attribute types and values ignore case,
// spaces around separators do not count, escapes (\, and \2C) mean the character they stand for. Text is
// UTF-8 here, the form LDAP carries it in.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korva::dn {

// One attribute-value pair of an RDN, with the value unescaped ("OU=R\&D" has type "OU", value "R&D").
struct Ava {
    std::string type;
    std::string value;
    bool hex = false;  // the value was written "#04024869": kept as that text, lower-cased
};

// An RDN: usually one pair, several when joined with "+".
using Rdn = std::vector<Ava>;

// Splits a DN into its RDNs, leaf first. The empty DN (the root) has none. false for text that is no DN:
// a pair without "=", an empty type, a bad escape, an unterminated quote.
[[nodiscard]] bool Parse(std::string_view text, std::vector<Rdn>* rdns);

// The form two DNs are compared by: types and values lower-cased (ASCII), pairs of one RDN sorted, every
// special character escaped the same way. Equal keys mean the same object. false when Parse fails.
[[nodiscard]] bool Normalize(std::string_view text, std::string* key);

// The key of the parent: the normalised DN without its first RDN ("" for a one-RDN DN or the root).
std::string ParentKey(std::string_view key);

// Whether `key` is `ancestor` or lies below it (both normalised).
bool IsSameOrBelow(std::string_view key, std::string_view ancestor);

// A value escaped for use in a DN: "," "+" """ "\" "<" ">" ";" "=", a leading "#" or space and a trailing
// space get a backslash; NUL becomes \00.
std::string EscapeValue(std::string_view value);

// Active Directory's canonical name: the DNS name made of the trailing DC= values, then "/" and each other
// RDN's value from the top down, with "/" inside a value written "\/". A domain's own DN gives "a.b.c/".
// false for a DN that does not end in DC= components.
[[nodiscard]] bool ToCanonicalName(const std::vector<Rdn>& rdns, std::string* canonical);

}  // namespace korva::dn
