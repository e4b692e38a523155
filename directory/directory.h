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

#include "platform/result_codes.h"
#include "platform/text.h"

namespace korva {

class cGjLog;

// A binary security identifier.
using SidBytes = std::vector<uint8_t>;

// Which interface a bound object must offer: any directory object (IADs) or a user (IADsUser). Binding a
// non-user object as User fails with kENoInterface.
enum class ObjectInterface { Object, User };

// Properties only a user object has (IADsUser::FirstName, LastName, FullName; LDAP givenName, sn,
// displayName).
enum class UserProperty { FirstName, LastName, FullName };

// An octet-string value as the directory hands it over. On Windows it is a SAFEARRAY, and reading its bounds
// and locking its data are separate calls that can each fail; the engine reports each step with its own
// message. Bounds are inclusive: the byte count is upper - lower + 1.
class ByteArray {
  public:
    virtual ~ByteArray() = default;
    virtual int32_t GetLowerBound(int32_t* lower) const = 0;
    virtual int32_t GetUpperBound(int32_t* upper) const = 0;
    // Points *data at the first byte; stays valid until Unaccess.
    virtual int32_t AccessData(const uint8_t** data) = 0;
    virtual int32_t Unaccess() = 0;
};

// A multi-valued text attribute ("memberOf" with several values). Same shape as ByteArray, element by
// element.
class TextArray {
  public:
    virtual ~TextArray() = default;
    virtual int32_t AccessData(const std::vector<WString>** values) = 0;
    virtual int32_t Unaccess() = 0;
};

// Plain holders that never fail: what an LDAP client's implementation returns. Fakes derive from them to
// fail.
class StoredByteArray : public ByteArray {
  public:
    explicit StoredByteArray(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    int32_t GetLowerBound(int32_t* lower) const override;
    int32_t GetUpperBound(int32_t* upper) const override;
    int32_t AccessData(const uint8_t** data) override;
    int32_t Unaccess() override { return 0; }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

class StoredTextArray : public TextArray {
  public:
    explicit StoredTextArray(std::vector<WString> values) : values_(std::move(values)) {}
    int32_t AccessData(const std::vector<WString>** values) override;
    int32_t Unaccess() override { return 0; }

  private:
    std::vector<WString> values_;
};

// One attribute value as read by DirectoryObject::Get.
struct AttributeValue {
    enum class Kind {
        Empty,         // nothing usable (a value of a type the engine does not read)
        Text,          // a single text value
        TextList,      // several text values: `texts`
        Bytes,         // a single octet string: `bytes`
        ByteList,      // several octet-string values (the engine reads only single ones)
        LargeInteger,  // an object offering IADsLargeInteger (or an LDAP Integer8): `largeInteger`
        Object,        // an object that offers no IADsLargeInteger
    };
    Kind kind = Kind::Empty;
    WString text;
    std::shared_ptr<TextArray> texts;
    std::shared_ptr<ByteArray> bytes;
    int64_t largeInteger = 0;
};

// A bound directory object (ADsGetObject's result). Released when destroyed.
class DirectoryObject {
  public:
    virtual ~DirectoryObject() = default;
    // IADs::GetInfo: loads the property cache.
    virtual int32_t GetInfo() = 0;
    // IADs::Get: kEAdsPropertyNotFound when the attribute has no value.
    virtual int32_t Get(const WChar* attribute, AttributeValue* value) = 0;
    // IADsUser properties; kENoInterface when the object was not bound as a user.
    virtual int32_t GetUserProperty(UserProperty property, WString* value) = 0;
};

// DsCrackNamesW name formats and flags the system uses.
enum DsNameFormat : uint32_t {
    kDsFqdn1779Name = 1,
    kDsCanonicalName = 7,
    kDsUserPrincipalName = 8,
    kDsSidOrSidHistoryName = 11,
};
constexpr uint32_t kDsNameNoFlags = 0;
constexpr uint32_t kDsNameFlagTrustReferral = 8;
constexpr uint32_t kDsNameNoError = 0;
constexpr uint32_t kDsNameErrorDomainOnly = 5;

// The first item of a name-cracking result.
struct CrackedName {
    bool hasItem = false;  // false: the result held no item
    uint32_t status = 0;   // DS_NAME_ERROR_*
    WString domain;        // the item's domain (DS_NAME_ERROR_DOMAIN_ONLY names the domain to retry in)
    WString name;          // the item's name; empty when the item holds none
};

// A session with a domain controller (DsBindW); unbound when destroyed.
class DomainControllerBinding {
  public:
    virtual ~DomainControllerBinding() = default;
    // DsCrackNamesW with exactly one name: 0 (the call worked; see out->status) or the call's error.
    virtual int32_t CrackName(uint32_t flags, uint32_t offeredFormat, uint32_t desiredFormat,
                              const WChar* name, CrackedName* out) = 0;
};

// SidNameUse values (LookupAccountSidW's account use).
enum SidNameUse : uint32_t { kSidTypeUser = 1, kSidTypeGroup = 2, kSidTypeDomain = 3, kSidTypeAlias = 4 };

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
