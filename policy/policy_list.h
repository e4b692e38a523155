// CPolicylist: every password policy of a domain, read from the policy document stored in the directory, in
// document order; and the answer to the one question the system asks of them: which policy applies to a user?
//
// The document is the value of "msDS-ByteArray" of the object
// "LDAP://CN=QmhPasswordPolicy,CN=Valexor,CN=Quillmarsh,CN=Program Data,<domain DN>": UTF-8 XML with the root
// "PolicyList", optionally followed by a time suffix "#<digits>#" that is cut off (and only logged).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "policy/policy.h"

namespace korva {

class CScope;
struct DocumentLoadReport;

namespace xml {
class Document;
}

class CPolicylist : public std::vector<std::unique_ptr<CPolicy>> {
  public:
    CPolicylist() = default;
    virtual ~CPolicylist() = default;
    CPolicylist(const CPolicylist&) = delete;
    CPolicylist& operator=(const CPolicylist&) = delete;

    // Empties the list and loads the policy document of the domain `dnsName`. 0, -3 (the domain has no policy
    // document), or an error code.
    int32_t LoadFromDirectory(cGjLog& log, const WChar* dnsName);

    // Reads the domain's policy document: 0 with *text empty when the domain has none, 0 with the text (time
    // suffix removed), or an error code. A failure to release the value's data is returned with the text.
    static int32_t FetchPolicyDocument(cGjLog& log, const WChar* dnsName, WString* text);

    // Empties the list and loads a policy document from its stored bytes, the way LoadFromDirectory does
    // after the fetch (UTF-8 conversion, time suffix, parse); `source` names the document in log lines. For
    // tools that check a document before it is stored; `report` (optional) receives what the load learnt on
    // the way (time suffix, version, counts, parse error, findings). 0, -3 (no text), or an error code.
    int32_t LoadFromDocumentBytes(cGjLog& log, std::string_view bytes, const WChar* source,
                                  DocumentLoadReport* report = nullptr);

    // Parses `text` and appends one policy per child of its "PolicyList" element; a policy that fails to load
    // is left out. 0 or an error code.
    int32_t LoadFromXML(cGjLog& log, const WChar* text);
    // The same from a parsed document (tests inject DOM failures into it).
    int32_t LoadFromDocument(cGjLog& log, const xml::Document& document);

    // The first enabled policy in document order that applies to `userScope` (borrowed). 0, -4 (the list is
    // empty) or -5 (no policy applies).
    int32_t GetApplicablePolicy(cGjLog& log, CScope& userScope, CPolicy** policy);

    void Clear() { clear(); }

    // UTF-8 bytes to text, ending at the first NUL; then the time suffix cut off. 0, or the Windows error
    // (87 for no bytes) after the Error line.
    static int32_t DecodePolicyDocument(cGjLog& log, std::string_view bytes, WString* text);
    // Cuts a trailing "#<time>#" off `text` and logs the time; the text is unchanged when it does not end in
    // "#" or has no earlier "#" (the character just before the final "#" is not searched).
    static void RemoveTimeSuffix(cGjLog& log, WString* text);

  private:
    // LoadFromDirectory after the fetch: the text of the domain or source `source`.
    int32_t LoadFromText(cGjLog& log, const WString& text, const WChar* source);
};

}  // namespace korva
