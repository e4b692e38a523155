// LDIF (RFC 2849) content files: the reader behind the offline directory snapshot and the writer behind the
// admin tool's export.
//
// OpenLDAP ships an LDIF parser, but only in libldap on Linux (the Windows build has none), it reads through
// stdio, follows file URLs in values and reports no line numbers, so the system carries its own: a single
// pass over bytes in memory with hard limits, so that no input can make it loop, recurse or grow without
// bound, and every refusal names the line it happened on.
//
// Only content records are read (a DN and its attributes). Change records (changetype, control) are refused,
// as are values given by URL (":<"): a snapshot must hold its data, not point at files on the machine that
// reads it. Values are raw bytes: base64 values are decoded, plain values are taken as they stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korva::ldif {

// One attribute of an entry: its description as written (type and options, e.g. "objectSid" or
// "cn;lang-de") and its values in file order. Each value is raw bytes.
struct Attribute {
    std::string name;
    std::vector<std::string> values;
};

// One content record. The DN is kept as written (UTF-8); `line` is where its "dn:" line starts.
struct Entry {
    std::string dn;
    std::vector<Attribute> attributes;
    size_t line = 0;

    // The attribute whose name equals `name` ignoring ASCII case; null when absent.
    const Attribute* Find(std::string_view name) const;
};

// Hard limits. The defaults hold a domain export with a policy value of 1,000,000 bytes (the largest an
// octet string may hold in Active Directory); a tool may lower them.
struct Limits {
    size_t maxInputBytes = size_t{64} << 20;
    size_t maxLineBytes = size_t{2} << 20;  // one logical line, after unfolding
    size_t maxEntries = 200000;
    size_t maxValues = 2000000;  // over the whole file
};

// Why a file was refused: the 1-based line where the offending logical line (or record) starts, 0 when the
// whole input is at fault, and a sentence in English.
struct ParseError {
    size_t line = 0;
    std::string message;

    // "line 12: <message>", or the message alone when no line applies.
    std::string ToString() const;
};

// Reads a whole LDIF content file. 0 with the entries in file order; winerr::kInvalidData for a syntax error
// or a change record; winerr::kFileTooLarge when a limit is exceeded. On failure `entries` is empty and
// `error` says why.
[[nodiscard]] int32_t Parse(std::string_view text, const Limits& limits, std::vector<Entry>* entries,
                            ParseError* error);

// Writes entries as an LDIF content file ("version: 1", one record per entry separated by blank lines).
// Values that are not plain printable ASCII, or that begin with a space, ":" or "<", or end with a space, are
// written in base64; lines are folded at 76 columns. Parse gives back the same entries. Names must be valid
// attribute descriptions: winerr::kInvalidParameter otherwise (and `out` is left empty).
[[nodiscard]] int32_t Write(const std::vector<Entry>& entries, std::string* out);

// Base64 with the standard alphabet and padding.
std::string Base64Encode(std::string_view bytes);
// false for anything but canonical padded base64 (no white space, no stray characters).
[[nodiscard]] bool Base64Decode(std::string_view text, std::string* bytes);

}  // namespace korva::ldif
