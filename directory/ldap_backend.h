// The directory backend over LDAP: the platform calls of DirectoryBackend answered by searches against one
// domain controller (or against an offline snapshot served as LDAP sessions), for machines where the Windows
// directory APIs are not there or not wanted.
//
// LDAP has no domain locator, no name cracking and no account database, so each is rebuilt from searches:
//  - the domain is the configured one: its DN from its DNS name (or the root DSE's defaultNamingContext), its
//    flat name from the crossRef in the partitions container (or configured), the controller from the
//    settings (or the root DSE's dnsHostName). Other domains are unknown: ERROR_NO_SUCH_DOMAIN.
//  - cracking names: UPN by userPrincipalName (then sAMAccountName, as a domain controller also accepts
//    "account@domain"), SID by objectSid, DN by a base search, canonical name by a one-level search per path
//    segment from the domain down, NT4 names by sAMAccountName; the answer from distinguishedName (the
//    canonical name built from it), userPrincipalName, objectSid or sAMAccountName.
//  - account look-ups by sAMAccountName or userPrincipalName, and by objectSid; the referenced domain is the
//    flat name ("BUILTIN" for S-1-5-32-...).
//  - NameTranslate over the same cracking; binding "LDAP://[server/]DN" reads the object's attributes once
//    (GetInfo reads them again), with the kinds ADSI's LDAP provider gives them.
// The backend keeps one bound session for all its calls (and those of its bindings, translators and bound
// objects), opened by the first call, re-opened once when a kept session has failed at the connection
// level, and closed with the backend; the domain is resolved once. Calls take turns on it, and each never
// waits longer than the connection's budget from its start. Results are the Windows codes the real calls
// give: LDAP failures are translated (no such object 8240, bad credentials 1326, time out 1460, controller
// not reachable 8250 or, where a domain is being located, 1355), and HRESULT_FROM_WIN32 of them for the
// ADSI calls.
#pragma once

#include <memory>

#include "directory/backend.h"
#include "directory/ldif_directory.h"
#include "platform/ldap.h"

namespace korva {

struct LdapBackendSettings {
    // How to reach the domain controller: address, bind, timeouts and size limit.
    platform::LdapSettings connection;
    // The domain the computer counts as joined to, by DNS name ("corp.example.test"); empty: the root DSE's
    // defaultNamingContext.
    WString dnsDomain;
    // Its flat (NetBIOS) name; empty: the nETBIOSName of its crossRef in the partitions container.
    WString flatDomain;
    // The controller's DNS name as the locator reports it; empty: the root DSE's dnsHostName, else the
    // connection's host.
    WString controllerName;
    // false: the computer is in a workgroup of that name (`flatDomain`), not in the domain.
    bool joined = true;
};

class LdapDirectoryBackend final : public DirectoryBackend {
  public:
    // Sessions are opened through `connector`; null means the process-wide one (platform::Ldap()), looked up
    // at each call.
    explicit LdapDirectoryBackend(LdapBackendSettings settings, platform::LdapConnector* connector = nullptr);
    // A backend over an offline snapshot, which it owns.
    LdapDirectoryBackend(LdapBackendSettings settings, std::unique_ptr<LdifDirectory> snapshot);
    ~LdapDirectoryBackend() override;
    LdapDirectoryBackend(const LdapDirectoryBackend&) = delete;
    LdapDirectoryBackend& operator=(const LdapDirectoryBackend&) = delete;

    KORVA_DIRECTORY_BACKEND_OVERRIDES;

    struct Context;

  private:
    std::unique_ptr<Context> context_;
};

// Registers the factories of the "ldap" and "snapshot" directory backends (directory/configuration.h). The
// LDAP one connects to "Server" with the TLS, bind and timeout settings, reading the password from the first
// line of "Password File"; the snapshot one loads "Snapshot File" (LDIF) into memory. Neither connects or
// reads anything else before the first call.
void RegisterLdapDirectoryBackends();

// The Windows error closest to an LDAP result, as the Windows LDAP client maps them (0 stays 0).
int32_t LdapResultToWin32(int32_t ldapResult);

}  // namespace korva
