// The directory's name and identity services: which domain the computer belongs to, the DNS name of a domain
// known by its flat name, the SID of a user, the account behind a SID and the distinguished name of an object
// known by its canonical name. They are written once, here, above DirectoryBackend (directory/backend.h):
// the Windows APIs, an LDAP client or an offline snapshot answer the platform calls, and nothing in this file
// or above it differs between them.
//
// Every service takes the caller's log, writes its own diagnostics there and returns 0 or the failing
// platform call's code (a Windows error or an HRESULT, unchanged), or kResultNameNotCracked for a name the
// directory could not crack. Outputs are empty on failure. The raw calls the policy engine makes itself
// (binding an object, SID conversion, binding a domain controller) pass straight to the backend and log
// nothing; the engine logs their failures with its own texts.
//
// Tests install a fake backend with ScopedDirectoryBackend (tests/policy/fake_directory.h).
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "directory/backend.h"
#include "platform/result_codes.h"
#include "platform/text.h"

namespace korva {

class cGjLog;

class Directory {
  public:
    explicit Directory(DirectoryBackend& backend) : backend_(backend) {}
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    DirectoryBackend& Backend() const { return backend_; }

    // --- Name and identity services ---

    // The flat (NetBIOS) name of the domain the computer is joined to; 0 and no name when it is not joined.
    [[nodiscard]] int32_t GetJoinedDomain(cGjLog& log, WString* flatName);
    // The DNS name of the domain with flat name `flatName`.
    [[nodiscard]] int32_t FlatToDnsDomain(cGjLog& log, const WChar* flatName, WString* dnsName);
    // The SID string of `userName` in `dnsDomain`: by name cracking, then through ADSI, then by account
    // look-up; the first that succeeds wins, and only the last one's failure is reported as the result.
    [[nodiscard]] int32_t GetUserSid(cGjLog& log, const WChar* dnsDomain, const WChar* userName,
                                     WString* sid);
    // The account name and flat domain name behind a SID, and the account's SID_NAME_USE.
    [[nodiscard]] int32_t LookupAccountBySid(cGjLog& log, const SidBytes& sid, WString* accountName,
                                             WString* domainName, uint32_t* use);
    // The distinguished name of the object with canonical name `canonicalName` (a.b.c/Sales/u).
    [[nodiscard]] int32_t CanonicalToDistinguishedName(cGjLog& log, const WChar* canonicalName,
                                                       WString* distinguishedName);

    // --- The steps the services are made of ---

    // Binds a controller of `domain` and cracks one name. A name the controller can place only in another
    // domain is cracked there when `followReferral` is set (once: the retry does not follow further).
    [[nodiscard]] int32_t CrackName(cGjLog& log, const WChar* domain, uint32_t offeredFormat,
                                    const WChar* name, uint32_t desiredFormat, bool followReferral,
                                    WString* result);
    // user@dnsDomain as a distinguished name, through NameTranslate.
    [[nodiscard]] int32_t TranslateUpnToDistinguishedName(cGjLog& log, const WChar* dnsDomain,
                                                          const WChar* userName, WString* distinguishedName);
    // The user's SID string read from its directory object ("ObjectSID").
    [[nodiscard]] int32_t GetUserSidViaAdsi(cGjLog& log, const WChar* dnsDomain, const WChar* userName,
                                            WString* sid);
    // The binary SID of an account ("domain\user" or "user"), asked of the local computer first and, when
    // it does not know the name, of a controller of the name's domain.
    [[nodiscard]] int32_t LookupSidByName(cGjLog& log, const WChar* accountName, SidBytes* sid);
    // LookupSidByName, as a SID string.
    [[nodiscard]] int32_t GetSidStringByLookupName(cGjLog& log, const WChar* accountName, WString* sid);
    // "\\S" of a controller of `domain` (flat names); empty for no domain, for BUILTIN and on failure.
    WString GetDomainControllerName(cGjLog& log, const WChar* domain);

    // --- Raw calls of the engine (log nothing) ---

    // ADsGetObject(path) with the caller's own credentials, asking for `iface`.
    [[nodiscard]] int32_t BindObject(const WChar* ldapPath, ObjectInterface iface,
                                     std::unique_ptr<DirectoryObject>* object) {
        return backend_.BindObject(ldapPath, iface, object);
    }
    // ConvertStringSidToSidW: kInvalidSid for a missing or malformed text.
    [[nodiscard]] int32_t StringToSid(const WChar* sidText, SidBytes* sid) {
        return backend_.StringToSid(sidText, sid);
    }
    // ConvertSidToStringSidW.
    [[nodiscard]] int32_t SidToString(const SidBytes& sid, WString* sidText);
    // DsBindW with no controller name and the domain name.
    [[nodiscard]] int32_t BindDomainController(const WChar* domainName,
                                               std::unique_ptr<DomainControllerBinding>* binding) {
        return backend_.BindDomainController(domainName, binding);
    }

  private:
    DirectoryBackend& backend_;
};

// Most buffer-size retries LookupSidByName and LookupAccountBySid make before they give up with
// ERROR_INSUFFICIENT_BUFFER (the platform reports exact sizes, so one retry normally suffices).
constexpr int kMaxBufferRetries = 10;

// The process-wide directory, over the process-wide backend: the Windows backend in the Windows build, one
// that answers every call with "not implemented" elsewhere, until another is installed.
Directory& Dir();

// Installs `backend` as the process-wide backend until the guard is destroyed (tests; the library's start-up
// installs the configured backend with SetDirectoryBackend).
class ScopedDirectoryBackend {
  public:
    explicit ScopedDirectoryBackend(DirectoryBackend* backend);
    ~ScopedDirectoryBackend();
    ScopedDirectoryBackend(const ScopedDirectoryBackend&) = delete;
    ScopedDirectoryBackend& operator=(const ScopedDirectoryBackend&) = delete;

  private:
    Directory directory_;
    Directory* previous_;
};

// Splits an account name at its first backslash into (domain part, user part): "A\u" gives ("A", "u"). A
// name with a "/" or without a backslash is not split (no domain part). A leading "\\" is no separator.
std::pair<WString, WString> SplitAccountName(WStringView name);

// A server name with exactly two leading backslashes: "S" and "\S" give "\\S"; empty for a name of two
// characters or fewer.
WString MakeUncServerName(WStringView name);

// "DC=" followed by the DNS name with every "." replaced by ",DC=": a.b.c gives DC=a,DC=b,DC=c; "" gives
// "DC=".
WString DnsDomainToDistinguishedName(WStringView dnsName);

}  // namespace korva
