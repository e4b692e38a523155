// A stateful fake of the directory seam for tests: objects with attributes, canonical and distinguished
// names, users' SIDs, accounts, domains and name-cracking answers, all in memory. Any single operation can be
// made to fail (FailNext), every call is recorded, and objects, bindings and array accesses still open are
// counted so a test can assert that the code under test released them.
//
//     FakeDirectory directory;            // installs itself as the process-wide directory
//     directory.AddObject(KW("CN=u,DC=a,DC=b")).SetLargeInteger(KW("pwdLastSet"), 0);
//     directory.FailNext(FakeDirectory::Op::GetInfo, kEFail);
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "directory/directory.h"

namespace korva::testing {

class FakeDirectory final : public Directory {
  public:
    enum class Op {
        GetJoinedDomain,
        FlatToDnsDomain,
        GetUserSid,
        LookupAccountBySid,
        CanonicalToDistinguishedName,
        BindObject,
        GetInfo,
        Get,
        GetUserProperty,
        StringToSid,
        SidToString,
        BindDomainController,
        CrackName,
        ArrayLowerBound,  // ByteArray::GetLowerBound
        ArrayUpperBound,  // ByteArray::GetUpperBound
        ArrayAccess,      // ByteArray::AccessData and TextArray::AccessData
        ArrayUnaccess,    // ByteArray::Unaccess and TextArray::Unaccess
    };

    // Error codes the fake answers with for names it does not know.
    static constexpr int32_t kNoSuchObject = static_cast<int32_t>(0x80072030u);  // LDAP: no such object
    static constexpr int32_t kNoneMapped = 1332;                                 // ERROR_NONE_MAPPED
    static constexpr int32_t kInvalidSid = 1337;                                 // ERROR_INVALID_SID
    static constexpr int32_t kNoSuchDomain = 1355;                               // ERROR_NO_SUCH_DOMAIN
    static constexpr int32_t kCrackFailed = -6;
    static constexpr uint32_t kDsNameErrorNotFound = 2;

    // One directory object, found by its distinguished name.
    struct Object {
        bool isUser = true;
        std::map<WString, AttributeValue> attributes;  // attribute names compare as given
        std::map<UserProperty, WString> userProperties;

        Object& SetText(WStringView attribute, WStringView text);
        Object& SetTexts(WStringView attribute, std::vector<WString> texts);
        Object& SetBytes(WStringView attribute, std::string_view bytes);
        Object& SetLargeInteger(WStringView attribute, int64_t value);
        // A value that is an object of another kind (not a large integer).
        Object& SetOtherObject(WStringView attribute);
        Object& SetUserProperty(UserProperty property, WStringView value);
    };

    FakeDirectory();  // installs itself
    ~FakeDirectory() override;

    // --- set-up ---
    Object& AddObject(WStringView distinguishedName, bool isUser = true);
    // The policy document of a domain: the object at the domain's policy path with "msDS-ByteArray".
    Object& SetPolicyDocument(WStringView dnsDomain, std::string_view bytes);
    void AddCanonicalName(WStringView canonicalName, WStringView distinguishedName);
    void AddUserSid(WStringView dnsDomain, WStringView userName, WStringView sidText);
    void AddAccount(WStringView sidText, WStringView accountName, WStringView domainName,
                    uint32_t use = kSidTypeUser);
    void AddFlatDomain(WStringView flatName, WStringView dnsName);
    void SetJoinedDomain(WStringView flatName) { joinedDomain_ = WString(flatName); }
    // Domains whose controllers can be bound (BindDomainController of others fails with kNoSuchDomain).
    void AddDomainController(WStringView domain);
    // The answer of CrackName(desiredFormat, name) on any controller; names without an answer crack to status
    // kDsNameErrorNotFound.
    void AddCrackAnswer(uint32_t desiredFormat, WStringView name, CrackedName answer);
    void AddCrackedName(uint32_t desiredFormat, WStringView name, WStringView result);

    // The next call of `op` whose name argument (path, attribute, domain, canonical name, SID text, user
    // name) contains `match` (any call when empty) fails with `code`. Faults are used in the order they were
    // added.
    void FailNext(Op op, int32_t code, WStringView match = {});

    // --- inspection ---
    const std::vector<WString>& Calls() const {
        return calls_;
    }  // "BindObject LDAP://...", "Get pwdLastSet", ...
    // Number of recorded calls that begin with `prefix`.
    size_t CountCalls(WStringView prefix) const;
    int OpenObjects() const { return openObjects_; }
    int OpenBindings() const { return openBindings_; }
    int OpenArrayAccesses() const { return openArrayAccesses_; }

    // --- Directory ---
    int32_t GetJoinedDomain(cGjLog& log, WString* flatName) override;
    int32_t FlatToDnsDomain(cGjLog& log, const WChar* flatName, WString* dnsName) override;
    int32_t GetUserSid(cGjLog& log, const WChar* dnsDomain, const WChar* userName, WString* sid) override;
    int32_t LookupAccountBySid(cGjLog& log, const SidBytes& sid, WString* accountName, WString* domainName,
                               uint32_t* use) override;
    int32_t CanonicalToDistinguishedName(cGjLog& log, const WChar* canonicalName,
                                         WString* distinguishedName) override;
    int32_t BindObject(const WChar* ldapPath, ObjectInterface iface,
                       std::unique_ptr<DirectoryObject>* object) override;
    int32_t StringToSid(const WChar* sidText, SidBytes* sid) override;
    int32_t SidToString(const SidBytes& sid, WString* sidText) override;
    int32_t BindDomainController(const WChar* domainName,
                                 std::unique_ptr<DomainControllerBinding>* binding) override;

    // Used by the fake's objects, bindings and arrays.
    int32_t TakeFault(Op op, WStringView name);
    void Record(WString call) { calls_.push_back(std::move(call)); }
    void ObjectOpened(int delta) { openObjects_ += delta; }
    void BindingOpened(int delta) { openBindings_ += delta; }
    void ArrayAccessed(int delta) { openArrayAccesses_ += delta; }
    const CrackedName* FindCrack(uint32_t desiredFormat, WStringView name) const;

  private:
    struct Fault {
        Op op;
        int32_t code;
        WString match;
    };
    struct Account {
        WString accountName;
        WString domainName;
        uint32_t use = kSidTypeUser;
    };

    std::map<WString, Object> objects_;         // key: distinguished name, ASCII lower case
    std::map<WString, WString> canonicalToDn_;  // key: canonical name, ASCII lower case
    std::map<WString, WString> userSids_;       // key: "domain\user", ASCII lower case
    std::map<WString, Account> accounts_;       // key: SID text, upper case as written by SidToString
    std::map<WString, WString> flatToDns_;      // key: flat name, ASCII lower case
    std::vector<WString> controllers_;          // ASCII lower case
    std::map<std::pair<uint32_t, WString>, CrackedName> cracks_;  // name as given
    WString joinedDomain_;
    std::vector<Fault> faults_;
    std::vector<WString> calls_;
    int openObjects_ = 0;
    int openBindings_ = 0;
    int openArrayAccesses_ = 0;
    ScopedDirectoryOverride override_;
};

// "S-1-5-21-1-2-3-1104" <-> the binary SID layout (revision, sub-authority count, 48-bit authority, 32-bit
// little-endian sub-authorities). False for malformed text.
bool ParseSidText(WStringView text, SidBytes* sid);
WString FormatSid(const SidBytes& sid);

}  // namespace korva::testing
