// A stateful fake of the directory seam, installed while it lives: objects with attributes, canonical names,
// users' SIDs, accounts, domains and cracked names, all in memory. Any single operation can be made to fail
// (FailNext), and the objects, bindings and array accesses still open are counted so that a test can assert
// that the code under test released them. A SID's binary form here is the code units of its text.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <tuple>
#include <vector>

#include "directory/directory.h"

namespace korva::testing {

class FakeDirectory final : public Directory {
  public:
    // clang-format off
    enum class Op { GetJoinedDomain, FlatToDnsDomain, GetUserSid, LookupAccountBySid, CanonicalToDistinguishedName,
                    BindObject, GetInfo, Get, GetUserProperty, BindDomainController, CrackName, ArrayAccess,
                    ArrayUnaccess };
    // clang-format on
    static constexpr int32_t kNoneMapped = 1332;    // ERROR_NONE_MAPPED: an unknown user or SID
    static constexpr int32_t kNoSuchDomain = 1355;  // ERROR_NO_SUCH_DOMAIN
    static constexpr int32_t kCrackFailed = -6;     // an unknown canonical name

    struct Object {
        FakeDirectory* owner = nullptr;
        bool isUser = true;
        std::map<WString, AttributeValue> attributes;
        std::map<UserProperty, WString> userProperties;

        // Replaces the attribute's value with an empty one of `kind`.
        AttributeValue& Set(WStringView attribute, AttributeValue::Kind kind);
        Object& SetText(WStringView attribute, WStringView text);
        Object& SetTexts(WStringView attribute, std::vector<WString> texts);
        Object& SetBytes(WStringView attribute, std::string_view bytes);
        Object& SetLargeInteger(WStringView attribute, int64_t value);
        Object& SetUserProperty(UserProperty property, WStringView value);
    };

    FakeDirectory() : override_(this) {}

    Object& AddObject(WStringView distinguishedName, bool isUser = true);
    void AddCanonicalName(WStringView canonical, WStringView dn) { Put(KW("dn:"), canonical, dn); }
    void AddUserSid(WStringView dnsDomain, WStringView user, WStringView sid);
    void AddAccount(WStringView sid, WStringView account, WStringView domain, uint32_t use = kSidTypeUser);
    void AddFlatDomain(WStringView flatName, WStringView dnsName) { Put(KW("dns:"), flatName, dnsName); }
    void SetJoinedDomain(WStringView flatName) { joinedDomain_ = WString(flatName); }
    void AddDomainController(WStringView domain) { Put(KW("dc:"), domain, domain); }
    // CrackName(desiredFormat, name) answers `result`; other names crack to "not found".
    void AddCrackedName(uint32_t desiredFormat, WStringView name, WStringView result);

    // The next call of `op` whose name argument (path, attribute, domain, canonical name, SID text, user
    // name) contains `match` (any call when empty) fails with `code`; a code of 0 lets that call through.
    void FailNext(Op op, int32_t code, WStringView match = {});
    int OpenObjects() const { return openObjects_; }
    int OpenBindings() const { return openBindings_; }
    int OpenArrayAccesses() const { return openArrayAccesses_; }

    int32_t GetJoinedDomain(cGjLog& log, WString* flatName) override;
    int32_t FlatToDnsDomain(cGjLog& log, const WChar* flatName, WString* dnsName) override;
    int32_t GetUserSid(cGjLog& log, const WChar* dnsDomain, const WChar* userName, WString* sid) override;
    int32_t LookupAccountBySid(cGjLog& log, const SidBytes& sid, WString* accountName, WString* domainName,
                               uint32_t* use) override;
    int32_t CanonicalToDistinguishedName(cGjLog& log, const WChar* canonicalName, WString* dn) override;
    int32_t BindObject(const WChar* ldapPath, ObjectInterface iface,
                       std::unique_ptr<DirectoryObject>* object) override;
    int32_t StringToSid(const WChar* sidText, SidBytes* sid) override;
    int32_t SidToString(const SidBytes& sid, WString* sidText) override;
    int32_t BindDomainController(const WChar* domainName,
                                 std::unique_ptr<DomainControllerBinding>* binding) override;

    // For the fake's objects, bindings and arrays: the code of a fault matching the call (0: none).
    int32_t TakeFault(Op op, WStringView name = {});
    // `op`, unless it fails, looks up the value stored under `kind` and `key` (ASCII case ignored): 0 with
    // the value, or `missing`.
    int32_t Lookup(Op op, WStringView kind, WStringView key, WString* out, int32_t missing);
    int openObjects_ = 0;
    int openBindings_ = 0;
    int openArrayAccesses_ = 0;

  private:
    void Put(WStringView kind, WStringView key, WStringView value);

    std::map<WString, Object> objects_;  // by distinguished name in ASCII lower case
    std::map<WString, WString> names_;   // by "dn:", "sid:", "dns:", "dc:" or "crack<format>:" and the key
    std::map<WString, std::tuple<WString, WString, uint32_t>> accounts_;  // SID -> account, domain, use
    WString joinedDomain_;
    std::vector<std::tuple<Op, int32_t, WString>> faults_;  // op, code, match
    ScopedDirectoryOverride override_;
};

}  // namespace korva::testing
