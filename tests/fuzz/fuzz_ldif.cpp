// LDIF on arbitrary bytes: refusals carry a message, accepted files round-trip and are searchable.
#include <algorithm>

#include "directory/ldif.h"
#include "directory/ldif_directory.h"
#include "tests/fuzz/fuzz_require.h"

namespace {

using namespace korva;

bool Same(const std::vector<ldif::Entry>& a, const std::vector<ldif::Entry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ldif::Entry& x, const ldif::Entry& y) {
        return x.dn == y.dn && std::equal(x.attributes.begin(), x.attributes.end(), y.attributes.begin(),
                                          y.attributes.end(), [](const auto& p, const auto& q) {
                                              return p.name == q.name && p.values == q.values;
                                          });
    });
}

void Search(std::string_view text) {
    std::unique_ptr<LdifDirectory> directory;
    ldif::ParseError error;
    if (LdifDirectory::Load(text, ldif::Limits{}, &directory, &error) != 0) {
        Require(!directory && !error.message.empty());
        return;
    }
    std::unique_ptr<platform::LdapSession> session;
    Require(directory->Open(platform::LdapSettings{}, &session) == 0);
    std::vector<platform::LdapEntry> out;
    (void)session->Search(KW(""), platform::LdapScope::Base, KW("(objectClass=*)"), {}, &out);
    const std::vector<WString> filters = {
        KW("(objectClass=*)"), KW("(&(objectSid=S-1-5-21-1-2-3-1104)(!(cn=a*b*c)))"),
        KW("(|(member:1.2.840.113556.1.4.1941:=CN=a)(memberOf:1.2.840.113556.1.4.1941:=CN=b))"),
        KW("(userAccountControl:1.2.840.113556.1.4.803:=2)")};
    const std::vector<ldif::Entry> entries = directory->Entries();
    for (size_t i = 0; i < entries.size() && i < 8; ++i) {
        const WString base = Utf8ToUtf16(entries[i].dn);
        for (const WString& filter : filters) {
            (void)session->Search(base, platform::LdapScope::Subtree, filter,
                                  {KW("canonicalName"), KW("tokenGroups"), KW("*")}, &out);
        }
        (void)session->Search(base, platform::LdapScope::Base, KW("(objectClass=*)"), {KW("tokenGroups")},
                              &out);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<ldif::Entry> entries;
    ldif::ParseError error;
    if (ldif::Parse(text, ldif::Limits{}, &entries, &error) != 0) {
        Require(entries.empty() && !error.message.empty());
    } else {
        std::string written;
        Require(ldif::Write(entries, &written) == 0);
        std::vector<ldif::Entry> back;
        Require(ldif::Parse(written, ldif::Limits{}, &back, &error) == 0);
        Require(Same(entries, back));
        Search(text);
    }
    const ldif::Limits tight{size, 64, 4, 16};
    entries.clear();
    if (ldif::Parse(text, tight, &entries, &error) != 0) {
        Require(entries.empty() && !error.message.empty());
    } else {
        Require(entries.size() <= tight.maxEntries);
    }
    return 0;
}
