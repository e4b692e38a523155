// The directory seam: everything the policy engine, its scopes and the validation controller need from Active
// Directory and the account database, as one abstract interface.
//
// Two kinds of operation sit behind it:
//  - the name and identity services (join information, flat -> DNS domain name, a user's SID, the account
//  behind
//    a SID, canonical -> distinguished name). They take the caller's log and write their own diagnostics.
//  - the raw directory calls the engine makes itself: bind an object by its LDAP path and read its
//  attributes,
//    convert SIDs between text and binary form, bind a domain controller and crack names. These log nothing;
//    the engine logs their failures with its own texts.
//
// Results follow Windows: 0 on success, otherwise a Windows error code or an HRESULT, passed through
// unchanged, or the system's own negative codes. The same interface can be backed by the Windows APIs (ADSI,
// NTDSAPI, netapi32, advapi32) or by an LDAP client; values are therefore plain data, not VARIANTs or
// bervals.
//
// Tests install a fake with ScopedDirectoryOverride (tests/policy/fake_directory.h).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "directory/backend.h"
#include "platform/result_codes.h"
#include "platform/text.h"

namespace korva {

class cGjLog;

class Directory {
  public:
    virtual ~Directory() = default;

    // --- Name and identity services (log their own diagnostics) ---

    // The flat (NetBIOS) name of the domain the computer is joined to; *flatName empty and 0 when not joined.
    virtual int32_t GetJoinedDomain(cGjLog& log, WString* flatName) = 0;
    // The DNS name of the domain with flat name `flatName`.
    virtual int32_t FlatToDnsDomain(cGjLog& log, const WChar* flatName, WString* dnsName) = 0;
    // The SID string (S-1-5-...) of `userName` in the domain `dnsDomain`.
    virtual int32_t GetUserSid(cGjLog& log, const WChar* dnsDomain, const WChar* userName, WString* sid) = 0;
    // The account name and flat domain name behind a SID.
    virtual int32_t LookupAccountBySid(cGjLog& log, const SidBytes& sid, WString* accountName,
                                       WString* domainName, uint32_t* use) = 0;
    // The distinguished name (CN=...,OU=...,DC=...) of the object with canonical name `canonicalName`.
    virtual int32_t CanonicalToDistinguishedName(cGjLog& log, const WChar* canonicalName,
                                                 WString* distinguishedName) = 0;

    // --- Raw directory calls (log nothing) ---

    // ADsGetObject(path) with the caller's own credentials, asking for `iface`.
    virtual int32_t BindObject(const WChar* ldapPath, ObjectInterface iface,
                               std::unique_ptr<DirectoryObject>* object) = 0;
    // ConvertStringSidToSidW: a Windows error (1337 ERROR_INVALID_SID) for a missing or malformed text.
    virtual int32_t StringToSid(const WChar* sidText, SidBytes* sid) = 0;
    // ConvertSidToStringSidW.
    virtual int32_t SidToString(const SidBytes& sid, WString* sidText) = 0;
    // DsBindW with no controller name and the domain name: a Windows error on failure.
    virtual int32_t BindDomainController(const WChar* domainName,
                                         std::unique_ptr<DomainControllerBinding>* binding) = 0;
};

// The process-wide directory. Until a real implementation is installed every call fails (E_NOTIMPL or
// ERROR_CALL_NOT_IMPLEMENTED), which the engine reports as a directory that cannot be reached.
Directory& Dir();

// Replaces the process-wide directory until the guard is destroyed (tests, and the start-up of the library).
class ScopedDirectoryOverride {
  public:
    explicit ScopedDirectoryOverride(Directory* replacement);
    ~ScopedDirectoryOverride();
    ScopedDirectoryOverride(const ScopedDirectoryOverride&) = delete;
    ScopedDirectoryOverride& operator=(const ScopedDirectoryOverride&) = delete;

  private:
    Directory* previous_;
};

// "DC=" followed by the DNS name with every "." replaced by ",DC=": a.b.c gives DC=a,DC=b,DC=c; "" gives
// "DC=".
WString DnsDomainToDistinguishedName(WStringView dnsName);

}  // namespace korva
