// The directory backend: the platform calls that the name and identity services (directory/directory.h) are
// built on, and nothing more. The services are written once above this interface; a backend only answers the
// calls, with the results the Windows functions named below would give. Three backends exist: the Windows
// APIs (netapi32, NTDSAPI, advapi32, ADSI), an LDAP client talking to a domain controller, and an offline
// snapshot.
//
// How to write a backend
// ----------------------
// Every method returns an int32_t: 0 on success, otherwise a Windows error code (the netapi32, NTDSAPI and
// advapi32 calls) or an HRESULT (the COM and ADSI calls) from platform/result_codes.h. A backend never logs
// and never throws; the services log every failure with the code the backend returned, so the code must be
// the one the Windows call would give for the same situation (a missing user is ERROR_NONE_MAPPED, not
// E_FAIL).
// A backend must answer within a bounded time: a call that would wait on an unreachable server fails with a
// timeout code (ERROR_TIMEOUT, or HRESULT_FROM_WIN32 of it for the COM calls) instead.
//
// On failure every out-parameter is left as a failed Windows call leaves it: pointers/holders reset to empty,
// strings and byte buffers empty, numbers 0 -- except where a method says otherwise (the buffer sizes of the
// two account look-ups). Objects handed out (bindings, bound objects, name translators) are owned by the
// caller and released by destroying them; a backend may rely on the caller releasing them before the backend
// itself is destroyed.
//
//   GetJoinInformation   NetGetJoinInformation(NULL, ...). 0 with the name and the NETSETUP_JOIN_STATUS; only
//                        kNetSetupDomainName means joined (the name is then the domain's flat name). A
//                        workgroup computer answers 0, kNetSetupWorkgroupName and the workgroup's name.
//   GetDcName            DsGetDcNameW(NULL, domain, NULL, NULL, flags, ...). Flags are kDsIsFlatName,
//                        kDsReturnDnsName, kDsReturnFlatName. 0 with DomainControllerInfo: `domainName` in
//                        the form the flags ask for (DNS with kDsReturnDnsName, flat with kDsReturnFlatName),
//                        `domainControllerName` the controller's name with its leading "\\" (DNS or flat as
//                        asked). An unknown domain: ERROR_NO_SUCH_DOMAIN (1355).
//   BindDomainController DsBindW(NULL, domain). 0 with a binding; a domain without a reachable controller:
//                        ERROR_NO_SUCH_DOMAIN (1355) or the transport's error.
//   DomainControllerBinding::CrackName
//                        DsCrackNamesW(handle, flags, offered, desired, 1, &name). The call's own failure
//                        is a Windows error (e.g. 87 for a bad format) and fills nothing. When the call
//                        works it returns 0 and describes the first result item in CrackedName: `hasItem`
//                        false when the result holds no item; otherwise `status` (DS_NAME_ERROR_*:
//                        0 resolved, 2 not found, 3 not unique, 5 domain only, 6 no syntactical mapping
//                        ...), `domain` (for status 0 and 5: the DNS name of the domain holding the object)
//                        and `name` (status 0 only). A name whose object this controller's domain does not
//                        hold but whose domain it can tell answers status 5 with that domain: the caller
//                        retries at a controller of that domain.
//   LookupAccountName    LookupAccountNameW with caller-grown buffers (see AccountSidBuffers): the caller
//                        states how big its buffers are; too small -> ERROR_INSUFFICIENT_BUFFER (122) with
//                        the sizes needed written back, nothing else filled. `systemName` null means the
//                        local computer, "\\S" a named computer; a backend without a local account database
//                        answers both from the directory. An unknown account: ERROR_NONE_MAPPED (1332).
//   LookupAccountSid     LookupAccountSidW, the same buffer protocol (AccountNameBuffers). An unknown SID:
//                        ERROR_NONE_MAPPED (1332); a malformed SID: ERROR_INVALID_SID (1337).
//   SidToString          ConvertSidToStringSidW + LocalFree. 0 with "S-1-5-21-..."; a malformed SID:
//                        ERROR_INVALID_SID (1337). `*releaseResult` is 0, or the error of freeing the
//                        platform's string (which does not change the result); backends with nothing to free
//                        always write 0.
//   StringToSid          ConvertStringSidToSidW. 0 with the binary SID; a missing or malformed text:
//                        ERROR_INVALID_SID (1337).
//   InitializeCom        CoInitialize(NULL): S_OK, S_FALSE (already initialised; still to be balanced) or a
//                        failure HRESULT. UninitializeCom balances every call that did not fail. Backends
//                        without COM answer S_OK and do nothing.
//   CreateNameTranslate  CoCreateInstance of NameTranslate for IADsNameTranslate: S_OK with the object, or
//                        the HRESULT (REGDB_E_CLASSNOTREG when there is none). NameTranslator::Init, Set
//                        and Get answer as IADsNameTranslate does: HRESULTs; an unknown name is
//                        kEDsNameNotFound (HRESULT_FROM_WIN32(ERROR_DS_NAME_ERROR_NOT_FOUND)).
//   BindObject           ADsGetObject("LDAP://<dn>", IID_IADs or IID_IADsUser). S_OK with the object; a
//                        missing object kEDsNoSuchObject (0x80072030); an object that is not a user, bound
//                        as ObjectInterface::User: E_NOINTERFACE; a path not starting with "LDAP://":
//                        kEAdsBadPathname.
//   DirectoryObject      IADs/IADsUser: see the class below.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/result_codes.h"
#include "platform/text.h"

namespace korva {

// A binary security identifier.
using SidBytes = std::vector<uint8_t>;

// --- Join information (NetGetJoinInformation) ---

// NETSETUP_JOIN_STATUS.
enum JoinStatus : uint32_t {
    kNetSetupUnknownStatus = 0,
    kNetSetupUnjoined = 1,
    kNetSetupWorkgroupName = 2,
    kNetSetupDomainName = 3,
};

// --- The domain-controller locator (DsGetDcNameW) ---

constexpr uint32_t kDsIsFlatName = 0x00010000u;      // the domain name given is a flat (NetBIOS) name
constexpr uint32_t kDsReturnDnsName = 0x40000000u;   // answer with DNS names
constexpr uint32_t kDsReturnFlatName = 0x80000000u;  // answer with flat names

// The two fields of DOMAIN_CONTROLLER_INFOW the services read.
struct DomainControllerInfo {
    WString domainControllerName;  // "\\S"
    WString domainName;            // the domain, DNS or flat as the flags asked
};

// --- Name cracking (DsBindW, DsCrackNamesW) ---

// DS_NAME_FORMAT values the system uses.
enum DsNameFormat : uint32_t {
    kDsFqdn1779Name = 1,
    kDsCanonicalName = 7,
    kDsUserPrincipalName = 8,
    kDsSidOrSidHistoryName = 11,
};
constexpr uint32_t kDsNameNoFlags = 0;
constexpr uint32_t kDsNameFlagTrustReferral = 8;
// DS_NAME_ERROR values.
constexpr uint32_t kDsNameNoError = 0;
constexpr uint32_t kDsNameErrorResolving = 1;
constexpr uint32_t kDsNameErrorNotFound = 2;
constexpr uint32_t kDsNameErrorNotUnique = 3;
constexpr uint32_t kDsNameErrorNoMapping = 4;
constexpr uint32_t kDsNameErrorDomainOnly = 5;
constexpr uint32_t kDsNameErrorNoSyntacticalMapping = 6;

// The first item of a name-cracking result.
struct CrackedName {
    bool hasItem = false;  // false: the result held no item
    uint32_t status = 0;   // DS_NAME_ERROR_*
    WString domain;        // the item's domain (DS_NAME_ERROR_DOMAIN_ONLY names the domain to retry in)
    WString name;          // the item's name; empty when the item holds none
};

// A session with a domain controller (DsBindW); unbound (DsUnBindW) when destroyed.
class DomainControllerBinding {
  public:
    virtual ~DomainControllerBinding() = default;
    // DsCrackNamesW with exactly one name: 0 (the call worked; see out->status) or the call's error.
    [[nodiscard]] virtual int32_t CrackName(uint32_t flags, uint32_t offeredFormat, uint32_t desiredFormat,
                                            const WChar* name, CrackedName* out) = 0;
};

// --- Account look-ups (LookupAccountNameW, LookupAccountSidW) ---

// SID_NAME_USE.
enum SidNameUse : uint32_t {
    kSidTypeUser = 1,
    kSidTypeGroup = 2,
    kSidTypeDomain = 3,
    kSidTypeAlias = 4,
    kSidTypeWellKnownGroup = 5,
};

// LookupAccountNameW's buffers. In: the sizes of the buffers the caller offers (`sidSize` in bytes,
// `domainSize` in code units including the terminating zero). The call fails with ERROR_INSUFFICIENT_BUFFER
// when the SID is longer than sidSize or the referenced domain name (plus its zero) longer than domainSize;
// it then writes the sizes needed into both fields and fills nothing else. On success `sid` and `domain`
// hold the answer (sid.size() <= the offered sidSize), `use` the account's SID_NAME_USE, `sidSize` the SID's
// length and `domainSize` the domain name's length without the zero. On other failures the sizes are
// unchanged.
struct AccountSidBuffers {
    uint32_t sidSize = 0;
    uint32_t domainSize = 0;
    SidBytes sid;
    WString domain;
    uint32_t use = 0;
};

// LookupAccountSidW's buffers: the same protocol with the account name and the domain name (both in code
// units including the terminating zero).
struct AccountNameBuffers {
    uint32_t nameSize = 0;
    uint32_t domainSize = 0;
    WString name;
    WString domain;
    uint32_t use = 0;
};

// --- ADSI: NameTranslate ---

constexpr uint32_t kAdsNameInitTypeDomain = 1;         // ADS_NAME_INITTYPE_DOMAIN
constexpr uint32_t kAdsNameType1779 = 1;               // ADS_NAME_TYPE_1779: a distinguished name
constexpr uint32_t kAdsNameTypeCanonical = 2;          // ADS_NAME_TYPE_CANONICAL
constexpr uint32_t kAdsNameTypeUserPrincipalName = 9;  // ADS_NAME_TYPE_USER_PRINCIPAL_NAME

// An IADsNameTranslate object; released when destroyed. Each call answers an HRESULT.
class NameTranslator {
  public:
    virtual ~NameTranslator() = default;
    // IADsNameTranslate::Init(initType, domain).
    [[nodiscard]] virtual int32_t Init(uint32_t initType, const WChar* domain) = 0;
    // IADsNameTranslate::Set(nameType, name): the name to translate.
    [[nodiscard]] virtual int32_t Set(uint32_t nameType, const WChar* name) = 0;
    // IADsNameTranslate::Get(nameType): the name set, in the form asked; empty on failure.
    [[nodiscard]] virtual int32_t Get(uint32_t nameType, WString* name) = 0;
};

// --- ADSI: bound directory objects ---

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
    [[nodiscard]] virtual int32_t GetLowerBound(int32_t* lower) const = 0;
    [[nodiscard]] virtual int32_t GetUpperBound(int32_t* upper) const = 0;
    // Points *data at the first byte; stays valid until Unaccess.
    [[nodiscard]] virtual int32_t AccessData(const uint8_t** data) = 0;
    [[nodiscard]] virtual int32_t Unaccess() = 0;
};

// A multi-valued text attribute ("memberOf" with several values). Same shape as ByteArray, element by
// element.
class TextArray {
  public:
    virtual ~TextArray() = default;
    [[nodiscard]] virtual int32_t AccessData(const std::vector<WString>** values) = 0;
    [[nodiscard]] virtual int32_t Unaccess() = 0;
};

// Plain holders that never fail: what an LDAP client's backend returns. Fakes derive from them to fail.
class StoredByteArray : public ByteArray {
  public:
    explicit StoredByteArray(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    [[nodiscard]] int32_t GetLowerBound(int32_t* lower) const override;
    [[nodiscard]] int32_t GetUpperBound(int32_t* upper) const override;
    [[nodiscard]] int32_t AccessData(const uint8_t** data) override;
    [[nodiscard]] int32_t Unaccess() override { return 0; }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

class StoredTextArray : public TextArray {
  public:
    explicit StoredTextArray(std::vector<WString> values) : values_(std::move(values)) {}
    [[nodiscard]] int32_t AccessData(const std::vector<WString>** values) override;
    [[nodiscard]] int32_t Unaccess() override { return 0; }

  private:
    std::vector<WString> values_;
};

// One attribute value as read by DirectoryObject::Get. Which kind an attribute yields follows ADSI's LDAP
// provider: single-valued strings and DNs are Text, multi-valued ones TextList (also with one value when the
// schema says multi-valued and ADSI would hand a VARIANT array: for "memberOf" with one value ADSI answers
// Text), octet strings ("objectSid", "msDS-ByteArray") Bytes, Integer8 ("pwdLastSet") LargeInteger.
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
    // IUnknown::QueryInterface for IADs or IADsUser on the bound object: 0, or kENoInterface.
    [[nodiscard]] virtual int32_t QueryInterface(ObjectInterface iface) = 0;
    // IADs::GetInfo: loads the property cache.
    [[nodiscard]] virtual int32_t GetInfo() = 0;
    // IADs::Get: kEAdsPropertyNotFound when the attribute has no value.
    [[nodiscard]] virtual int32_t Get(const WChar* attribute, AttributeValue* value) = 0;
    // IADsUser properties; kENoInterface when the object was not bound as a user, kEAdsPropertyNotFound when
    // the user has no such value.
    [[nodiscard]] virtual int32_t GetUserProperty(UserProperty property, WString* value) = 0;
};

// --- The backend ---

// Every method of DirectoryBackend, declared as an override: a backend's class body names it once.
#define KORVA_DIRECTORY_BACKEND_OVERRIDES                                                                   \
    [[nodiscard]] int32_t GetJoinInformation(WString* name, uint32_t* status) override;                     \
    [[nodiscard]] int32_t GetDcName(const WChar* domainName, uint32_t flags, DomainControllerInfo* info)    \
        override;                                                                                           \
    [[nodiscard]] int32_t BindDomainController(const WChar* domainName,                                     \
                                               std::unique_ptr<DomainControllerBinding>* binding) override; \
    [[nodiscard]] int32_t LookupAccountName(const WChar* systemName, const WChar* accountName,              \
                                            AccountSidBuffers* buffers) override;                           \
    [[nodiscard]] int32_t LookupAccountSid(const WChar* systemName, const SidBytes& sid,                    \
                                           AccountNameBuffers* buffers) override;                           \
    [[nodiscard]] int32_t SidToString(const SidBytes& sid, WString* text, int32_t* releaseResult) override; \
    [[nodiscard]] int32_t StringToSid(const WChar* text, SidBytes* sid) override;                           \
    [[nodiscard]] int32_t InitializeCom() override;                                                         \
    void UninitializeCom() override;                                                                        \
    [[nodiscard]] int32_t CreateNameTranslate(std::unique_ptr<NameTranslator>* translator) override;        \
    [[nodiscard]] int32_t BindObject(const WChar* ldapPath, ObjectInterface iface,                          \
                                     std::unique_ptr<DirectoryObject>* object) override

class DirectoryBackend {
  public:
    virtual ~DirectoryBackend() = default;

    // NetGetJoinInformation for the local computer.
    [[nodiscard]] virtual int32_t GetJoinInformation(WString* name, uint32_t* status) = 0;
    // DsGetDcNameW(NULL, domainName, NULL, NULL, flags).
    [[nodiscard]] virtual int32_t GetDcName(const WChar* domainName, uint32_t flags,
                                            DomainControllerInfo* info) = 0;
    // DsBindW(NULL, domainName).
    [[nodiscard]] virtual int32_t BindDomainController(const WChar* domainName,
                                                       std::unique_ptr<DomainControllerBinding>* binding) = 0;
    // LookupAccountNameW(systemName, accountName, ...) with the caller's buffer sizes in `buffers`.
    [[nodiscard]] virtual int32_t LookupAccountName(const WChar* systemName, const WChar* accountName,
                                                    AccountSidBuffers* buffers) = 0;
    // LookupAccountSidW(systemName, sid, ...) with the caller's buffer sizes in `buffers`.
    [[nodiscard]] virtual int32_t LookupAccountSid(const WChar* systemName, const SidBytes& sid,
                                                   AccountNameBuffers* buffers) = 0;
    // ConvertSidToStringSidW (and LocalFree of its string: `*releaseResult`).
    [[nodiscard]] virtual int32_t SidToString(const SidBytes& sid, WString* text, int32_t* releaseResult) = 0;
    // ConvertStringSidToSidW.
    [[nodiscard]] virtual int32_t StringToSid(const WChar* text, SidBytes* sid) = 0;
    // CoInitialize / CoUninitialize for the calling thread.
    [[nodiscard]] virtual int32_t InitializeCom() = 0;
    virtual void UninitializeCom() = 0;
    // CoCreateInstance(CLSID_NameTranslate, IID_IADsNameTranslate).
    [[nodiscard]] virtual int32_t CreateNameTranslate(std::unique_ptr<NameTranslator>* translator) = 0;
    // ADsGetObject(ldapPath, iface) with the caller's own credentials.
    [[nodiscard]] virtual int32_t BindObject(const WChar* ldapPath, ObjectInterface iface,
                                             std::unique_ptr<DirectoryObject>* object) = 0;
};

// The backend over the platform's own directory APIs (netapi32, NTDSAPI, advapi32, ADSI) in the Windows
// build; null where the platform has none.
std::unique_ptr<DirectoryBackend> CreateSystemDirectoryBackend();

// The backend of a system whose directory has not been configured: every call fails at once with
// ERROR_CALL_NOT_IMPLEMENTED (the Win32-style calls) or E_NOTIMPL (the COM-style calls).
class UnavailableDirectoryBackend final : public DirectoryBackend {
  public:
    KORVA_DIRECTORY_BACKEND_OVERRIDES;
};

// LookupAccountNameW's and LookupAccountSidW's buffer protocol for a found account: when the caller's buffers
// are too small, ERROR_INSUFFICIENT_BUFFER with the sizes needed; otherwise 0 with everything filled.
[[nodiscard]] int32_t FillAccountSidBuffers(const SidBytes& sid, const WString& domain, uint32_t use,
                                            AccountSidBuffers* buffers);
[[nodiscard]] int32_t FillAccountNameBuffers(const WString& name, const WString& domain, uint32_t use,
                                             AccountNameBuffers* buffers);

}  // namespace korva
