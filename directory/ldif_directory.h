// An offline directory: the entries of an LDIF export held in memory and served through the LDAP session seam,
// so that the directory services run unchanged against a snapshot of a domain (on a machine with no domain
// controller, in the admin tool, in tests).
//
// It answers the way Active Directory does where the system depends on it:
//  - DNs compare without ASCII case and without the spaces around separators; a base may also be written
//    "<SID=S-1-5-...>". The empty base with base scope reads the root DSE (stored in the file as the entry
//    with the empty DN, or made up from the naming contexts found: defaultNamingContext, namingContexts,
//    configurationNamingContext).
//  - Naming contexts (the domain, CN=Configuration, CN=Schema) are separate partitions: a one-level or
//    subtree search never crosses from one into another.
//  - memberOf holds the direct memberships, taken from the stored memberOf values and from every group's
//    member values; distinguishedName and name are there even when the file leaves them out.
//  - canonicalName (computed from the DN) and tokenGroups (the SIDs of every security group the entry is in,
//    nested and primary, for a base-scope search only) come back only when asked for by name, and a filter
//    on them finds nothing.
//  - Filters (RFC 4515): and, or, not, equality, presence, substrings, >= and <=, and the extensible matches
//    "in chain" (1.2.840.113556.1.4.1941) and bitwise and/or (1.2.840.113556.1.4.803/804). Values compare by
//    the attribute's kind: DNs as DNs, SIDs as bytes (a filter may also give the SID's text), integers as
//    numbers, octet strings as bytes, everything else as text without ASCII case.
//  - At most 1000 entries per search unless the session asks for fewer (the domain controller's own page
//    limit); more give result 4 with the first ones.
// Add and Modify change the snapshot in memory (every session of one LdifDirectory sees the change); Entries
// gives it back for writing out.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "directory/ldif.h"
#include "platform/ldap.h"

namespace korva {

class LdifDirectory final : public platform::LdapConnector {
  public:
    static constexpr size_t kServerSizeLimit = 1000;

    // Reads an LDIF content file. kInvalidData (with `error` naming the line) for a file that is not LDIF, an
    // entry whose DN cannot be parsed or a DN given twice; kFileTooLarge beyond `limits`.
    [[nodiscard]] static int32_t Load(std::string_view ldifText, const ldif::Limits& limits,
                                      std::unique_ptr<LdifDirectory>* out, ldif::ParseError* error);

    // Any bind succeeds (a snapshot holds no passwords); the settings' budget and size limit apply.
    [[nodiscard]] int32_t Open(const platform::LdapSettings& settings,
                               std::unique_ptr<platform::LdapSession>* out) override;

    // The stored entries as they are now, in file order, new ones last.
    [[nodiscard]] std::vector<ldif::Entry> Entries() const;

    struct Store;

  private:
    explicit LdifDirectory(std::shared_ptr<Store> store) : store_(std::move(store)) {}
    std::shared_ptr<Store> store_;
};

}  // namespace korva
