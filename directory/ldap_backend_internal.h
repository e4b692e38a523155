// The LDAP backend's parts shared by its files: one bounded session, the domain it serves, entry reading, and
// the backend's context (name cracking, domain resolution). Not for use outside directory/ldap_backend*.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "directory/ldap_backend.h"
#include "platform/sync.h"

namespace korva::ldapbackend {

using platform::LdapAttribute;
using platform::LdapEntry;
using platform::LdapScope;
using platform::LdapSession;

constexpr uint32_t kDsNt4AccountName = 2;  // DS_NT4_ACCOUNT_NAME: DOMAIN\account

// What a name lookup needs of an object.
extern const std::vector<WString> kObjectAttributes;

inline std::string U8(WStringView text) {
    return Utf16ToUtf8(text);
}
inline WString Wide(std::string_view text) {
    return Utf8ToUtf16(text);
}
inline std::string Text(const std::vector<uint8_t>& value) {
    return std::string(value.begin(), value.end());
}
// The first value of an attribute as bytes; empty when the entry has none.
std::string First(const LdapEntry& entry, const WChar* name);
bool IsUserClass(const LdapEntry& entry);
// Strict decimal with an optional minus sign, as LDAP carries Integer8 values.
bool ParseInt64(std::string_view text, int64_t* value);
bool IsBuiltinSid(std::string_view bytes);
// A domain's or controller's flat name from its DNS name: the first label, in capitals.
WString FlatNameOf(WStringView dnsName);
// SID_NAME_USE of a found object.
uint32_t UseOf(const LdapEntry& entry);
// Where a domain is being located, a controller that cannot be reached means the domain cannot be found.
int32_t LocatorError(int32_t ldapResult);

// Everything the calls need to know about the one domain this backend serves.
struct DomainInfo {
    std::string dn;
    WString dns;
    WString flat;
    WString controller;
    std::string configurationDn;
};

// The backend's one session with the controller, opened by the first call that needs it and kept until the
// backend is destroyed, and the domain it serves once resolved. Calls use it one at a time, under `lock`.
struct SharedSession {
    platform::RecursiveLock lock;
    std::unique_ptr<LdapSession> session;
    std::unique_ptr<DomainInfo> domain;
};

// One backend call on the backend's session: holds its lock while it lives and ends by the connection's
// budget from its start (opening the session included). A session kept from an earlier call that fails at
// the connection level (dropped, timed out) is re-opened once and the search repeated; a session that
// failed so is closed, for the next call to open afresh.
class Connection {
  public:
    explicit Connection(const LdapDirectoryBackend::Context& context);
    // Opens the session when none is open. An LDAP result.
    [[nodiscard]] int32_t Open();
    // One search; `out` empty on failure.
    [[nodiscard]] int32_t Search(const std::string& base, LdapScope scope, const std::string& filter,
                                 const std::vector<WString>& attributes, std::vector<LdapEntry>* out);
    // A search that must find exactly one entry: 0 with it, or a name-cracking status for none (2) or
    // several (3) in `status`; an LDAP failure as the result (a missing base counts as none).
    [[nodiscard]] int32_t SearchOne(const std::string& base, LdapScope scope, const std::string& filter,
                                    const std::vector<WString>& attributes, LdapEntry* entry,
                                    uint32_t* status);
    // The one entry at `base` (all its attributes): 0, kLdapNoSuchObject when there is none, or the failure.
    [[nodiscard]] int32_t ReadBase(const std::string& base, LdapEntry* entry);

  private:
    const LdapDirectoryBackend::Context& context_;
    SharedSession& shared_;
    platform::LockGuard guard_;
    platform::LdapDeadline deadline_;
    bool openedHere_ = false;
    bool reopened_ = false;
};

// The result of looking an object up by a name in one of the cracking formats.
struct Found {
    uint32_t status = kDsNameNoError;  // DS_NAME_ERROR_*
    WString otherDomain;               // with kDsNameErrorDomainOnly: where the name belongs
    LdapEntry entry;
};

}  // namespace korva::ldapbackend

namespace korva {

struct LdapDirectoryBackend::Context {
    LdapBackendSettings settings;
    platform::LdapConnector* connector = nullptr;
    std::unique_ptr<LdifDirectory> snapshot;  // the connector, when the backend owns it
    // Declared after the snapshot: its session is closed before the snapshot goes.
    mutable ldapbackend::SharedSession shared;

    platform::LdapConnector& Connector() const {
        return connector != nullptr ? *connector : platform::Ldap();
    }
    // Opens the session when needed and gives the domain into `info`, resolved once per backend. An LDAP
    // result.
    [[nodiscard]] int32_t Open(ldapbackend::Connection* connection, ldapbackend::DomainInfo* info) const;
    bool IsOurDomain(const ldapbackend::DomainInfo& info, WStringView name) const;
    // The object `name` (in `format`) names, with kObjectAttributes. An LDAP result; the cracking status in
    // `found`; kLdapParamError for a format this backend does not read.
    [[nodiscard]] int32_t FindObject(ldapbackend::Connection& connection, const ldapbackend::DomainInfo& info,
                                     uint32_t format, WStringView name, ldapbackend::Found* found) const;
    // The object's name in `format`: 0 with it, kDsNameErrorNoMapping in `status` when the object has none,
    // kLdapParamError for a format this backend does not write.
    [[nodiscard]] static int32_t NameOf(const ldapbackend::DomainInfo& info,
                                        const ldapbackend::LdapEntry& entry, uint32_t format, WString* name,
                                        uint32_t* status);

    std::unique_ptr<DomainControllerBinding> MakeBinding(ldapbackend::DomainInfo info) const;
    std::unique_ptr<NameTranslator> MakeNameTranslator() const;

  private:
    [[nodiscard]] int32_t ResolveDomain(ldapbackend::Connection& connection,
                                        ldapbackend::DomainInfo* info) const;
    WString ConnectionHost() const;
    WString OtherDomain(ldapbackend::Connection& connection, const ldapbackend::DomainInfo& info,
                        WStringView name) const;
    int32_t Elsewhere(ldapbackend::Connection& connection, const ldapbackend::DomainInfo& info,
                      WStringView domain, ldapbackend::Found* found) const;
    int32_t FindByCanonicalName(ldapbackend::Connection& connection, const ldapbackend::DomainInfo& info,
                                WStringView name, ldapbackend::Found* found) const;
};

}  // namespace korva
