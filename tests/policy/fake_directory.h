// A stateful fake directory backend, installed as the process-wide backend while it lives; any call can fail
// (FailNext) as the platform's does. The destructor aborts on a leaked handle or unbalanced COM set-up.
// A SID's binary form here is the code units of its text ("S-...").
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <tuple>
#include <vector>

#include "directory/directory.h"
#include "platform/format.h"

namespace korva::testing {

class FakeDirectory final : public DirectoryBackend {
  public:
    // One per call. A CrackStatus fault is the next cracked name's DS_NAME_ERROR status; the call works.
    // clang-format off
    enum class Op { GetJoinInformation, GetDcName, BindDomainController, CrackName, CrackStatus,
                    LookupAccountName, LookupAccountSid, SidToString, FreeSidString,
                    InitializeCom, CreateNameTranslate, TranslateInit, TranslateSet, TranslateGet, BindObject,
                    QueryInterface, GetInfo, Get, GetUserProperty, ArrayBounds, ArrayAccess, ArrayUnaccess,
                    Count };
    // clang-format on

    struct Object {
        FakeDirectory* owner = nullptr;
        bool isUser = true;
        std::map<WString, AttributeValue> attributes;  // by name, lower case
        std::map<UserProperty, WString> userProperties;

        // Replaces the attribute's value with an empty one of `kind`.
        AttributeValue& Set(WStringView attribute, AttributeValue::Kind kind) {
            AttributeValue& value = attributes[AsciiLower(attribute)] = AttributeValue{};
            value.kind = kind;
            return value;
        }
        Object& SetText(WStringView attribute, WStringView text) {
            Set(attribute, AttributeValue::Kind::Text).text = WString(text);
            return *this;
        }
        Object& SetTexts(WStringView attribute, std::vector<WString> texts);
        Object& SetBytes(WStringView attribute, std::string_view bytes);
        Object& SetLargeInteger(WStringView attribute, int64_t value) {
            Set(attribute, AttributeValue::Kind::LargeInteger).largeInteger = value;
            return *this;
        }
        Object& SetUserProperty(UserProperty property, WStringView value) {
            userProperties[property] = WString(value);
            return *this;
        }
    };

    FakeDirectory() : installed_(this) {}
    ~FakeDirectory() override;
    FakeDirectory(const FakeDirectory&) = delete;
    FakeDirectory& operator=(const FakeDirectory&) = delete;

    Object& AddObject(WStringView distinguishedName, bool isUser = true) {
        Object& object = objects_[AsciiLower(distinguishedName)];
        object.owner = this;
        object.isUser = isUser;
        return object;
    }
    // Cracking `name` (any format) to `desiredFormat` gives `result`; domains but `homeDomain` refer to it.
    void AddCrackedName(uint32_t desiredFormat, WStringView name, WStringView result,
                        WStringView homeDomain = {}) {
        cracked_[CrackKey(desiredFormat, name)] = {WString(result), WString(homeDomain)};
    }
    // canonical -> distinguished name; the canonical name's domain gets a controller.
    void AddCanonicalName(WStringView canonical, WStringView dn);
    // The account "dnsDomain\user" as the local computer's look-up knows it.
    void AddUserSid(WStringView dnsDomain, WStringView user, WStringView sid) {
        AddAccountName({}, WString(dnsDomain) + KW("\\") + WString(user), sid);
    }
    // An account name as `system` ("\\S"; empty: the local computer) looks it up, with the referenced domain.
    void AddAccountName(WStringView system, WStringView name, WStringView sid, WStringView domain = KW("A")) {
        accountNames_[AsciiLower(system) + KW("|") + AsciiLower(name)] = {WString(sid), WString(domain)};
    }
    // The account behind a SID, as LookupAccountSid answers it.
    void AddAccount(WStringView sid, WStringView account, WStringView domain, uint32_t use = kSidTypeUser) {
        accounts_[WString(sid)] = {WString(account), WString(domain), use};
    }
    // A domain with both names; the locator knows it and its controller "\\<controller>"; both names bind.
    void AddFlatDomain(WStringView flatName, WStringView dnsName, WStringView controller = KW("DC1")) {
        domains_.push_back({WString(flatName), WString(dnsName), WString(controller)});
        AddDomainController(flatName);
        AddDomainController(dnsName);
    }
    void SetJoinedDomain(WStringView flatName) { joined_ = {WString(flatName), kNetSetupDomainName}; }
    // A domain whose controller can be bound.
    void AddDomainController(WStringView domain) { controllers_.push_back(AsciiLower(domain)); }

    // The next call of `op` whose name argument has `match` (any case; empty: any) fails with `code` (0: no).
    void FailNext(Op op, int32_t code, WStringView match = {}) {
        faults_.emplace_back(op, code, AsciiLower(match));
    }

    KORVA_DIRECTORY_BACKEND_OVERRIDES;

    // For the fake's objects, bindings, translators and arrays: the code of the call's fault or 0.
    [[nodiscard]] int32_t TakeFault(Op op, WStringView name = {});
    bool CanBind(WStringView domain) const;
    static WString CrackKey(uint32_t format, WStringView name) {
        return Format(KW("%u:"), format) + AsciiLower(name);
    }
    std::map<WString, std::pair<WString, WString>> cracked_;  // CrackKey -> result, home domain
    int openObjects_ = 0;
    int openBindings_ = 0;
    int openArrayAccesses_ = 0;
    int openTranslators_ = 0;

  private:
    std::map<WString, Object> objects_;                                   // by distinguished name, lower case
    std::map<WString, std::pair<WString, WString>> accountNames_;         // "system|name" -> SID, domain
    std::map<WString, std::tuple<WString, WString, uint32_t>> accounts_;  // SID -> account, domain, use
    std::vector<std::tuple<WString, WString, WString>> domains_;          // flat and DNS name, controller
    std::vector<WString> controllers_;                                    // bindable domain names, lower case
    std::pair<WString, uint32_t> joined_{WString(), kNetSetupWorkgroupName};  // name, join status
    int comDepth_ = 0;
    std::vector<std::tuple<Op, int32_t, WString>> faults_;  // op, code, match
    ScopedDirectoryBackend installed_;
};

}  // namespace korva::testing
