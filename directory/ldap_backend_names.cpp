// The LDAP backend's name services: cracking names in the formats DsCrackNames and NameTranslate know,
// rebuilt from searches, and the controller binding and name translator objects built on it.
#include "directory/dn.h"
#include "directory/ldap_backend_internal.h"
#include "directory/ldap_filter.h"
#include "directory/sid_text.h"
#include "platform/result_codes.h"

namespace korva {

using namespace ldapbackend;
using Context = LdapDirectoryBackend::Context;

namespace {

constexpr uint32_t kAdsNameInitTypeServer = 2;
constexpr uint32_t kAdsNameInitTypeGc = 3;
constexpr uint32_t kAdsNameTypeNt4 = 3;
constexpr uint32_t kAdsNameTypeSidOrSidHistory = 12;

// The SID a value holds, as text; empty when it is no SID.
WString SidTextOf(std::string_view bytes) {
    WString text;
    return SidToText(SidBytes(bytes.begin(), bytes.end()), &text) == 0 ? text : WString();
}

class LdapBinding final : public DomainControllerBinding {
  public:
    LdapBinding(const Context& context, DomainInfo info) : context_(context), info_(std::move(info)) {}

    int32_t CrackName(uint32_t, uint32_t offeredFormat, uint32_t desiredFormat, const WChar* name,
                      CrackedName* out) override {
        *out = CrackedName{};
        uint32_t probe = 0;
        WString unused;
        if (name == nullptr || context_.NameOf(info_, LdapEntry{}, desiredFormat, &unused, &probe) != 0) {
            return winerr::kInvalidParameter;
        }
        Found found;
        Connection connection(context_);
        const int32_t result = context_.FindObject(connection, info_, offeredFormat, name, &found);
        if (result == kLdapParamError) {
            return winerr::kInvalidParameter;
        }
        if (result != 0) {
            return LdapResultToWin32(result);
        }
        out->hasItem = true;
        out->status = found.status;
        if (found.status == kDsNameErrorDomainOnly) {
            out->domain = found.otherDomain;
            return 0;
        }
        if (found.status != kDsNameNoError) {
            return 0;
        }
        out->domain = info_.dns;
        WString cracked;
        (void)Context::NameOf(info_, found.entry, desiredFormat, &cracked, &out->status);
        out->name = std::move(cracked);
        return 0;
    }

  private:
    const Context& context_;
    DomainInfo info_;
};

class LdapNameTranslator final : public NameTranslator {
  public:
    explicit LdapNameTranslator(const Context& context) : context_(context) {}

    int32_t Init(uint32_t initType, const WChar* domain) override {
        initialized_ = false;
        found_.reset();
        if (initType != kAdsNameInitTypeDomain && initType != kAdsNameInitTypeServer &&
            initType != kAdsNameInitTypeGc) {
            return kEInvalidArg;
        }
        Connection connection(context_);
        if (const int32_t result = context_.Open(&connection, &info_); result != 0) {
            return HResultFromWin32(initType == kAdsNameInitTypeDomain ? LocatorError(result)
                                                                       : LdapResultToWin32(result));
        }
        if (initType == kAdsNameInitTypeDomain &&
            !context_.IsOurDomain(info_, domain != nullptr ? domain : KW(""))) {
            return HResultFromWin32(winerr::kNoSuchDomain);
        }
        initialized_ = true;
        return kSOk;
    }

    int32_t Set(uint32_t nameType, const WChar* name) override {
        found_.reset();
        uint32_t format = 0;
        if (!ToFormat(nameType, &format) || name == nullptr) {
            return kEInvalidArg;
        }
        if (!initialized_) {
            return kEUnexpected;
        }
        auto found = std::make_unique<Found>();
        Connection connection(context_);
        const int32_t result = context_.FindObject(connection, info_, format, name, found.get());
        if (result != 0) {
            return HResultFromWin32(LdapResultToWin32(result));
        }
        if (found->status != kDsNameNoError) {
            return kEDsNameNotFound;
        }
        found_ = std::move(found);
        return kSOk;
    }

    int32_t Get(uint32_t nameType, WString* name) override {
        name->clear();
        uint32_t format = 0;
        if (!ToFormat(nameType, &format)) {
            return kEInvalidArg;
        }
        if (!found_) {
            return kEUnexpected;
        }
        uint32_t status = 0;
        WString result;
        (void)Context::NameOf(info_, found_->entry, format, &result, &status);
        if (status != kDsNameNoError) {
            return kEDsNameNotFound;
        }
        *name = std::move(result);
        return kSOk;
    }

  private:
    static bool ToFormat(uint32_t nameType, uint32_t* format) {
        switch (nameType) {
            case kAdsNameType1779:
                *format = kDsFqdn1779Name;
                return true;
            case kAdsNameTypeCanonical:
                *format = kDsCanonicalName;
                return true;
            case kAdsNameTypeNt4:
                *format = kDsNt4AccountName;
                return true;
            case kAdsNameTypeUserPrincipalName:
                *format = kDsUserPrincipalName;
                return true;
            case kAdsNameTypeSidOrSidHistory:
                *format = kDsSidOrSidHistoryName;
                return true;
            default:
                return false;
        }
    }

    const Context& context_;
    bool initialized_ = false;
    DomainInfo info_;
    std::unique_ptr<Found> found_;
};

}  // namespace

int32_t Context::Elsewhere(Connection& connection, const DomainInfo& info, WStringView domain,
                           Found* found) const {
    found->otherDomain = OtherDomain(connection, info, domain);
    found->status = found->otherDomain.empty() ? kDsNameErrorNotFound : kDsNameErrorDomainOnly;
    return 0;
}

// The object `name` (in `format`) names, with kObjectAttributes. An LDAP result; the cracking status in
// `found`; kLdapParamError for a format this backend does not read.
int32_t Context::FindObject(Connection& connection, const DomainInfo& info, uint32_t format, WStringView name,
                            Found* found) const {
    *found = Found{};
    const std::string text = U8(name);
    auto bySearch = [&](const std::string& filter) {
        return connection.SearchOne(info.dn, LdapScope::Subtree, filter, kObjectAttributes, &found->entry,
                                    &found->status);
    };
    switch (format) {
        case kDsFqdn1779Name: {
            std::string key;
            if (!dn::Normalize(text, &key) || key.empty()) {
                found->status = kDsNameErrorNoSyntacticalMapping;
                return 0;
            }
            return connection.SearchOne(text, LdapScope::Base, "(objectClass=*)", kObjectAttributes,
                                        &found->entry, &found->status);
        }
        case kDsUserPrincipalName: {
            const size_t at = name.rfind(u'@');
            if (at == WStringView::npos || at == 0 || at + 1 == name.size()) {
                found->status = kDsNameErrorNoSyntacticalMapping;
                return 0;
            }
            int32_t result = bySearch("(userPrincipalName=" + ldapfilter::EscapeValue(text) + ")");
            const WStringView suffix = name.substr(at + 1);
            if (result != 0 || found->status != kDsNameErrorNotFound) {
                return result;
            }
            if (IsOurDomain(info, suffix)) {
                // A controller also takes "account@domain" for an account without that UPN.
                return bySearch("(sAMAccountName=" + ldapfilter::EscapeValue(U8(name.substr(0, at))) + ")");
            }
            return Elsewhere(connection, info, suffix, found);
        }
        case kDsNt4AccountName: {
            const size_t slash = name.find(u'\\');
            if (slash == WStringView::npos || slash == 0 || slash + 1 == name.size()) {
                found->status = kDsNameErrorNoSyntacticalMapping;
                return 0;
            }
            if (!IsOurDomain(info, name.substr(0, slash))) {
                return Elsewhere(connection, info, name.substr(0, slash), found);
            }
            return bySearch("(sAMAccountName=" + ldapfilter::EscapeValue(U8(name.substr(slash + 1))) + ")");
        }
        case kDsSidOrSidHistoryName: {
            SidBytes sid;
            if (TextToSid(name, &sid) != 0) {
                found->status = kDsNameErrorNoSyntacticalMapping;
                return 0;
            }
            const std::string bytes(sid.begin(), sid.end());
            return bySearch("(|(objectSid=" + ldapfilter::EscapeValue(bytes) +
                            ")(sidHistory=" + ldapfilter::EscapeValue(bytes) + "))");
        }
        case kDsCanonicalName:
            return FindByCanonicalName(connection, info, name, found);
        default:
            return kLdapParamError;
    }
}

// a.b.c/Unit/Sub/name: the domain, then one one-level search per segment ("\/" is a "/" in a name).
int32_t Context::FindByCanonicalName(Connection& connection, const DomainInfo& info, WStringView name,
                                     Found* found) const {
    const size_t slash = name.find(u'/');
    if (slash == WStringView::npos || slash == 0) {
        found->status = kDsNameErrorNoSyntacticalMapping;
        return 0;
    }
    if (!EqualsNoCaseAscii(name.substr(0, slash), info.dns)) {
        return Elsewhere(connection, info, name.substr(0, slash), found);
    }
    std::vector<std::string> segments(1);
    const std::string rest = U8(name.substr(slash + 1));
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size() && rest[i + 1] == '/') {
            segments.back() += '/';
            ++i;
        } else if (rest[i] == '/') {
            segments.emplace_back();
        } else {
            segments.back() += rest[i];
        }
    }
    if (segments.size() == 1 && segments[0].empty()) {
        segments.clear();  // "a.b.c/": the domain itself
    }
    std::string base = info.dn;
    for (const std::string& segment : segments) {
        if (segment.empty()) {
            found->status = kDsNameErrorNoSyntacticalMapping;
            return 0;
        }
        LdapEntry child;
        const int32_t result =
            connection.SearchOne(base, LdapScope::OneLevel, "(name=" + ldapfilter::EscapeValue(segment) + ")",
                                 {KW("1.1")}, &child, &found->status);
        if (result != 0 || found->status != kDsNameNoError) {
            return result;
        }
        base = U8(child.dn);
    }
    return connection.SearchOne(base, LdapScope::Base, "(objectClass=*)", kObjectAttributes, &found->entry,
                                &found->status);
}

// The object's name in `format`: 0 with it, kDsNameErrorNoMapping when the object has no such name,
// kLdapParamError for a format this backend does not write.
int32_t Context::NameOf(const DomainInfo& info, const LdapEntry& entry, uint32_t format, WString* name,
                        uint32_t* status) {
    name->clear();
    *status = kDsNameNoError;
    switch (format) {
        case kDsFqdn1779Name:
            *name = entry.dn;
            break;
        case kDsCanonicalName: {
            // Built from the DN rather than read: Samba's canonicalName leaves a "/" inside a name
            // unescaped, where Active Directory writes "\/".
            std::vector<dn::Rdn> rdns;
            std::string canonical;
            if (dn::Parse(U8(entry.dn), &rdns) && dn::ToCanonicalName(rdns, &canonical)) {
                *name = Wide(canonical);
            }
            break;
        }
        case kDsUserPrincipalName:
            *name = Wide(First(entry, KW("userPrincipalName")));
            break;
        case kDsSidOrSidHistoryName:
            *name = SidTextOf(First(entry, KW("objectSid")));
            break;
        case kDsNt4AccountName: {
            const std::string account = First(entry, KW("sAMAccountName"));
            if (!account.empty()) {
                *name = info.flat + KW("\\") + Wide(account);
            }
            break;
        }
        default:
            return kLdapParamError;
    }
    if (name->empty()) {
        *status = kDsNameErrorNoMapping;
    }
    return 0;
}

std::unique_ptr<DomainControllerBinding> Context::MakeBinding(DomainInfo info) const {
    return std::make_unique<LdapBinding>(*this, std::move(info));
}

std::unique_ptr<NameTranslator> Context::MakeNameTranslator() const {
    return std::make_unique<LdapNameTranslator>(*this);
}

}  // namespace korva
