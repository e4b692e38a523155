#include "directory/ldap_backend.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "directory/configuration.h"
#include "directory/dn.h"
#include "directory/ldap_filter.h"
#include "directory/sid_text.h"
#include "platform/files.h"
#include "platform/result_codes.h"

namespace korva {

namespace {

using platform::LdapAttribute;
using platform::LdapEntry;
using platform::LdapScope;
using platform::LdapSession;

constexpr uint32_t kDsNt4AccountName = 2;  // DS_NT4_ACCOUNT_NAME: DOMAIN\account
constexpr uint32_t kAdsNameInitTypeServer = 2;
constexpr uint32_t kAdsNameInitTypeGc = 3;
constexpr uint32_t kAdsNameTypeNt4 = 3;
constexpr uint32_t kAdsNameTypeSidOrSidHistory = 12;
constexpr uint64_t kGroupTypeDomainLocal = 0x4;
constexpr uint32_t kBuiltinSubAuthority = 32;

// What a name lookup needs of an object.
const std::vector<WString> kObjectAttributes = {
    KW("distinguishedName"), KW("canonicalName"), KW("userPrincipalName"), KW("objectSid"),
    KW("sAMAccountName"),    KW("objectClass"),   KW("groupType")};

std::string U8(WStringView text) {
    return Utf16ToUtf8(text);
}

WString Wide(std::string_view text) {
    return Utf8ToUtf16(text);
}

std::string Text(const std::vector<uint8_t>& value) {
    return std::string(value.begin(), value.end());
}

// The first value of an attribute as bytes; empty when the entry has none.
std::string First(const LdapEntry& entry, const WChar* name) {
    const LdapAttribute* a = entry.Find(name);
    return a == nullptr || a->values.empty() ? std::string() : Text(a->values[0]);
}

bool HasValue(const LdapEntry& entry, const WChar* name, std::string_view value) {
    const LdapAttribute* a = entry.Find(name);
    if (a == nullptr) {
        return false;
    }
    return std::any_of(a->values.begin(), a->values.end(), [&](const std::vector<uint8_t>& v) {
        return EqualsNoCaseAscii(Wide(Text(v)), Wide(value));
    });
}

bool IsUserClass(const LdapEntry& entry) {
    return HasValue(entry, KW("objectClass"), "user") || HasValue(entry, KW("objectClass"), "computer") ||
           HasValue(entry, KW("objectClass"), "inetOrgPerson");
}

bool ParseInt64(std::string_view text, int64_t* value) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) {
        return false;
    }
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        const auto digit = static_cast<uint64_t>(text[i] - '0');
        if (magnitude > (UINT64_MAX - digit) / 10) {
            return false;
        }
        magnitude = magnitude * 10 + digit;
    }
    const bool negative = text[0] == '-';
    if (magnitude > (negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1)) {
        return false;
    }
    *value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

std::string DomainDn(WStringView dnsName) {
    std::string dnText = "DC=";
    for (char c : U8(dnsName)) {
        dnText += c == '.' ? std::string(",DC=") : std::string(1, c);
    }
    return dnText;
}

// The SID a value holds, as text; empty when it is no SID.
WString SidTextOf(std::string_view bytes) {
    WString text;
    return SidToText(SidBytes(bytes.begin(), bytes.end()), &text) == 0 ? text : WString();
}

bool IsBuiltinSid(std::string_view bytes) {
    return IsValidSid(bytes) && bytes.size() >= 12 && static_cast<uint8_t>(bytes[7]) == 5 &&
           static_cast<uint8_t>(bytes[8]) == kBuiltinSubAuthority && bytes[9] == 0 && bytes[10] == 0 &&
           bytes[11] == 0;
}

// Everything the calls need to know about the one domain this backend serves.
struct DomainInfo {
    std::string dn;
    WString dns;
    WString flat;
    WString controller;
    std::string configurationDn;
};

// One session with the controller, each call bounded by the connection's budget from its start.
class Connection {
  public:
    explicit Connection(uint32_t budgetMs) : budgetMs_(budgetMs) {}

    int32_t Open(platform::LdapConnector& connector, const platform::LdapSettings& settings) {
        return connector.Open(settings, &session_);
    }

    // One search; `out` empty on failure.
    int32_t Search(const std::string& base, LdapScope scope, const std::string& filter,
                   const std::vector<WString>& attributes, std::vector<LdapEntry>* out) {
        session_->SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs_));
        const int32_t result = session_->Search(Wide(base), scope, Wide(filter), attributes, out);
        if (result != 0) {
            out->clear();
        }
        return result;
    }

    // A search that must find exactly one entry: 0 with it, or a name-cracking status for none (2) or
    // several (3) in `status`; an LDAP failure as the result (a missing base counts as none).
    int32_t SearchOne(const std::string& base, LdapScope scope, const std::string& filter,
                      const std::vector<WString>& attributes, LdapEntry* entry, uint32_t* status) {
        std::vector<LdapEntry> out;
        const int32_t result = Search(base, scope, filter, attributes, &out);
        *status = kDsNameNoError;
        if (result == kLdapNoSuchObject || (result == 0 && out.empty())) {
            *status = kDsNameErrorNotFound;
            return 0;
        }
        if (result == kLdapSizeLimitExceeded || out.size() > 1) {
            *status = kDsNameErrorNotUnique;
            return 0;
        }
        if (result != 0) {
            return result;
        }
        *entry = std::move(out[0]);
        return 0;
    }

  private:
    uint32_t budgetMs_;
    std::unique_ptr<LdapSession> session_;
};

// The result of looking an object up by a name in one of the cracking formats.
struct Found {
    uint32_t status = kDsNameNoError;  // DS_NAME_ERROR_*
    WString otherDomain;               // with kDsNameErrorDomainOnly: where the name belongs
    LdapEntry entry;
};

}  // namespace

struct LdapDirectoryBackend::Context {
    LdapBackendSettings settings;
    platform::LdapConnector* connector = nullptr;
    std::unique_ptr<LdifDirectory> snapshot;  // the connector, when the backend owns it

    platform::LdapConnector& Connector() const {
        return connector != nullptr ? *connector : platform::Ldap();
    }

    int32_t Connect(Connection* connection) const {
        return connection->Open(Connector(), settings.connection);
    }

    // Fills `info` from the settings and, for what they leave open, from the root DSE and the partitions
    // container. An LDAP result.
    int32_t ResolveDomain(Connection& connection, DomainInfo* info) const {
        info->dns = settings.dnsDomain;
        info->flat = settings.flatDomain;
        info->controller = settings.controllerName;
        std::string hostName;
        if (info->dns.empty() || info->flat.empty() || info->controller.empty()) {
            std::vector<LdapEntry> root;
            const int32_t result = connection.Search(
                "", LdapScope::Base, "(objectClass=*)",
                {KW("defaultNamingContext"), KW("configurationNamingContext"), KW("dnsHostName")}, &root);
            if (result != 0) {
                return result;
            }
            if (!root.empty()) {
                info->configurationDn = First(root[0], KW("configurationNamingContext"));
                hostName = First(root[0], KW("dnsHostName"));
                if (info->dns.empty()) {
                    info->dn = First(root[0], KW("defaultNamingContext"));
                }
            }
        }
        if (info->dns.empty()) {
            std::vector<dn::Rdn> rdns;
            std::string canonical;
            if (!dn::Parse(info->dn, &rdns) || !dn::ToCanonicalName(rdns, &canonical) ||
                canonical.back() != '/') {
                return kLdapNoSuchObject;  // the directory names no domain of its own
            }
            canonical.pop_back();
            info->dns = Wide(canonical);
        }
        info->dn = DomainDn(info->dns);
        if (info->configurationDn.empty()) {
            info->configurationDn = "CN=Configuration," + info->dn;
        }
        if (info->flat.empty()) {
            LdapEntry crossRef;
            uint32_t status = 0;
            const int32_t result = connection.SearchOne(
                "CN=Partitions," + info->configurationDn, LdapScope::OneLevel,
                "(&(objectClass=crossRef)(nCName=" + ldapfilter::EscapeValue(info->dn) + "))",
                {KW("nETBIOSName")}, &crossRef, &status);
            if (result != 0) {
                return result;
            }
            info->flat = Wide(First(crossRef, KW("nETBIOSName")));
            if (info->flat.empty()) {
                // No crossRef to read it from: a domain's flat name is by default its first label.
                const size_t dot = info->dns.find(u'.');
                info->flat = AsciiLower(info->dns.substr(0, dot));
                for (WChar& c : info->flat) {
                    c = (c >= u'a' && c <= u'z') ? static_cast<WChar>(c - u'a' + u'A') : c;
                }
            }
        }
        if (info->controller.empty()) {
            info->controller = hostName.empty() ? ConnectionHost() : Wide(hostName);
        }
        if (info->controller.empty()) {
            info->controller = info->dns;  // a snapshot names no controller: the domain stands in for one
        }
        return 0;
    }

    // The host part of the connection's address.
    WString ConnectionHost() const {
        const platform::LdapSettings& c = settings.connection;
        if (c.uri.empty()) {
            return c.host;
        }
        WStringView host = c.uri;
        const size_t scheme = host.find(KW("://"));
        if (scheme != WStringView::npos) {
            host.remove_prefix(scheme + 3);
        }
        return WString(host.substr(0, host.find_first_of(KW(":/"))));
    }

    bool IsOurDomain(const DomainInfo& info, WStringView name) const {
        return EqualsNoCaseAscii(name, info.flat) || EqualsNoCaseAscii(name, info.dns);
    }

    // Another domain of the forest by its DNS or flat name (from the partitions container): its DNS name.
    WString OtherDomain(Connection& connection, const DomainInfo& info, WStringView name) const {
        if (name.empty()) {
            return WString();
        }
        const std::string value = ldapfilter::EscapeValue(U8(name));
        LdapEntry crossRef;
        uint32_t status = 0;
        if (connection.SearchOne(
                "CN=Partitions," + info.configurationDn, LdapScope::OneLevel,
                "(&(objectClass=crossRef)(|(dnsRoot=" + value + ")(nETBIOSName=" + value + ")))",
                {KW("dnsRoot")}, &crossRef, &status) != 0 ||
            status != kDsNameNoError) {
            return WString();
        }
        return Wide(First(crossRef, KW("dnsRoot")));
    }

    // The object `name` (in `format`) names, with kObjectAttributes. An LDAP result; the cracking status in
    // `found`; kLdapParamError for a format this backend does not read.
    int32_t FindObject(Connection& connection, const DomainInfo& info, uint32_t format, WStringView name,
                       Found* found) const {
        *found = Found{};
        const std::string text = U8(name);
        auto bySearch = [&](const std::string& filter) {
            return connection.SearchOne(info.dn, LdapScope::Subtree, filter, kObjectAttributes, &found->entry,
                                        &found->status);
        };
        auto elsewhere = [&](WStringView domain) {
            found->otherDomain = OtherDomain(connection, info, domain);
            found->status = found->otherDomain.empty() ? kDsNameErrorNotFound : kDsNameErrorDomainOnly;
            return 0;
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
                    return bySearch("(sAMAccountName=" + ldapfilter::EscapeValue(U8(name.substr(0, at))) +
                                    ")");
                }
                return elsewhere(suffix);
            }
            case kDsNt4AccountName: {
                const size_t slash = name.find(u'\\');
                if (slash == WStringView::npos || slash == 0 || slash + 1 == name.size()) {
                    found->status = kDsNameErrorNoSyntacticalMapping;
                    return 0;
                }
                if (!IsOurDomain(info, name.substr(0, slash))) {
                    return elsewhere(name.substr(0, slash));
                }
                return bySearch("(sAMAccountName=" + ldapfilter::EscapeValue(U8(name.substr(slash + 1))) +
                                ")");
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
    int32_t FindByCanonicalName(Connection& connection, const DomainInfo& info, WStringView name,
                                Found* found) const {
        const size_t slash = name.find(u'/');
        if (slash == WStringView::npos || slash == 0) {
            found->status = kDsNameErrorNoSyntacticalMapping;
            return 0;
        }
        if (!EqualsNoCaseAscii(name.substr(0, slash), info.dns)) {
            found->otherDomain = OtherDomain(connection, info, name.substr(0, slash));
            found->status = found->otherDomain.empty() ? kDsNameErrorNotFound : kDsNameErrorDomainOnly;
            return 0;
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
            const int32_t result = connection.SearchOne(base, LdapScope::OneLevel,
                                                        "(name=" + ldapfilter::EscapeValue(segment) + ")",
                                                        {KW("1.1")}, &child, &found->status);
            if (result != 0 || found->status != kDsNameNoError) {
                return result;
            }
            base = U8(child.dn);
        }
        return connection.SearchOne(base, LdapScope::Base, "(objectClass=*)", kObjectAttributes,
                                    &found->entry, &found->status);
    }

    // The object's name in `format`: 0 with it, kDsNameErrorNoMapping when the object has no such name,
    // kLdapParamError for a format this backend does not write.
    static int32_t NameOf(const DomainInfo& info, const LdapEntry& entry, uint32_t format, WString* name,
                          uint32_t* status) {
        name->clear();
        *status = kDsNameNoError;
        switch (format) {
            case kDsFqdn1779Name:
                *name = entry.dn;
                break;
            case kDsCanonicalName:
                *name = Wide(First(entry, KW("canonicalName")));
                break;
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
};

namespace {

using Context = LdapDirectoryBackend::Context;

// Where a domain is being located, a controller that cannot be reached means the domain cannot be found.
int32_t LocatorError(int32_t ldapResult) {
    const int32_t code = LdapResultToWin32(ldapResult);
    return code == winerr::kDsServerDown ? winerr::kNoSuchDomain : code;
}

class LdapBinding final : public DomainControllerBinding {
  public:
    LdapBinding(const Context& context, std::unique_ptr<Connection> connection, DomainInfo info)
        : context_(context), connection_(std::move(connection)), info_(std::move(info)) {}

    int32_t CrackName(uint32_t, uint32_t offeredFormat, uint32_t desiredFormat, const WChar* name,
                      CrackedName* out) override {
        *out = CrackedName{};
        uint32_t probe = 0;
        WString unused;
        if (name == nullptr || context_.NameOf(info_, LdapEntry{}, desiredFormat, &unused, &probe) != 0) {
            return winerr::kInvalidParameter;
        }
        Found found;
        const int32_t result = context_.FindObject(*connection_, info_, offeredFormat, name, &found);
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
    std::unique_ptr<Connection> connection_;
    DomainInfo info_;
};

class LdapNameTranslator final : public NameTranslator {
  public:
    explicit LdapNameTranslator(const Context& context) : context_(context) {}

    int32_t Init(uint32_t initType, const WChar* domain) override {
        connection_.reset();
        found_.reset();
        if (initType != kAdsNameInitTypeDomain && initType != kAdsNameInitTypeServer &&
            initType != kAdsNameInitTypeGc) {
            return kEInvalidArg;
        }
        auto connection = std::make_unique<Connection>(context_.settings.connection.budgetMs);
        int32_t result = context_.Connect(connection.get());
        if (result == 0) {
            result = context_.ResolveDomain(*connection, &info_);
        }
        if (result != 0) {
            return HResultFromWin32(initType == kAdsNameInitTypeDomain ? LocatorError(result)
                                                                       : LdapResultToWin32(result));
        }
        if (initType == kAdsNameInitTypeDomain &&
            !context_.IsOurDomain(info_, domain != nullptr ? domain : KW(""))) {
            return HResultFromWin32(winerr::kNoSuchDomain);
        }
        connection_ = std::move(connection);
        return kSOk;
    }

    int32_t Set(uint32_t nameType, const WChar* name) override {
        found_.reset();
        uint32_t format = 0;
        if (!ToFormat(nameType, &format) || name == nullptr) {
            return kEInvalidArg;
        }
        if (!connection_) {
            return kEUnexpected;
        }
        auto found = std::make_unique<Found>();
        const int32_t result = context_.FindObject(*connection_, info_, format, name, found.get());
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
    std::unique_ptr<Connection> connection_;
    DomainInfo info_;
    std::unique_ptr<Found> found_;
};

// How ADSI's LDAP provider hands over an attribute: octet strings as byte arrays, Integer8 as large
// integers, everything else as text.
enum class ValueKind { Text, Bytes, LargeInteger };

ValueKind KindOf(WStringView attribute) {
    static const WChar* const kBytes[] = {
        KW("objectSid"),   KW("objectGUID"),          KW("msDS-ByteArray"), KW("sidHistory"),
        KW("tokenGroups"), KW("userCertificate"),     KW("jpegPhoto"),      KW("thumbnailPhoto"),
        KW("logonHours"),  KW("nTSecurityDescriptor")};
    static const WChar* const kLarge[] = {KW("pwdLastSet"),      KW("accountExpires"),
                                          KW("lastLogon"),       KW("lastLogonTimestamp"),
                                          KW("badPasswordTime"), KW("lockoutTime"),
                                          KW("maxPwdAge"),       KW("minPwdAge"),
                                          KW("lockoutDuration"), KW("lockOutObservationWindow"),
                                          KW("uSNChanged"),      KW("uSNCreated"),
                                          KW("creationTime"),    KW("forceLogoff")};
    for (const WChar* name : kBytes) {
        if (EqualsNoCaseAscii(attribute, name)) {
            return ValueKind::Bytes;
        }
    }
    for (const WChar* name : kLarge) {
        if (EqualsNoCaseAscii(attribute, name)) {
            return ValueKind::LargeInteger;
        }
    }
    return ValueKind::Text;
}

class LdapObject final : public DirectoryObject {
  public:
    LdapObject(std::unique_ptr<Connection> connection, std::string base, LdapEntry entry, bool asUser)
        : connection_(std::move(connection)),
          base_(std::move(base)),
          entry_(std::move(entry)),
          asUser_(asUser) {}

    int32_t QueryInterface(ObjectInterface iface) override {
        if (iface == ObjectInterface::User) {
            if (!IsUserClass(entry_)) {
                return kENoInterface;
            }
            asUser_ = true;
        }
        return kSOk;
    }

    int32_t GetInfo() override {
        std::vector<LdapEntry> out;
        const int32_t result = connection_->Search(base_, LdapScope::Base, "(objectClass=*)", {}, &out);
        if (result == kLdapNoSuchObject || (result == 0 && out.empty())) {
            return kEDsNoSuchObject;
        }
        if (result != 0) {
            return HResultFromWin32(LdapResultToWin32(result));
        }
        entry_ = std::move(out[0]);
        return kSOk;
    }

    int32_t Get(const WChar* attribute, AttributeValue* value) override {
        *value = AttributeValue{};
        const LdapAttribute* a = attribute != nullptr ? entry_.Find(attribute) : nullptr;
        if (a == nullptr || a->values.empty()) {
            return kEAdsPropertyNotFound;
        }
        switch (KindOf(attribute)) {
            case ValueKind::Bytes:
                if (a->values.size() == 1) {
                    value->kind = AttributeValue::Kind::Bytes;
                    value->bytes = std::make_shared<StoredByteArray>(a->values[0]);
                } else {
                    value->kind = AttributeValue::Kind::ByteList;
                }
                return kSOk;
            case ValueKind::LargeInteger: {
                int64_t number = 0;
                if (a->values.size() != 1 || !ParseInt64(Text(a->values[0]), &number)) {
                    return kEAdsCantConvertDatatype;
                }
                value->kind = AttributeValue::Kind::LargeInteger;
                value->largeInteger = number;
                return kSOk;
            }
            case ValueKind::Text:
                break;
        }
        if (a->values.size() == 1) {
            value->kind = AttributeValue::Kind::Text;
            value->text = Wide(Text(a->values[0]));
            return kSOk;
        }
        std::vector<WString> texts;
        for (const std::vector<uint8_t>& v : a->values) {
            texts.push_back(Wide(Text(v)));
        }
        value->kind = AttributeValue::Kind::TextList;
        value->texts = std::make_shared<StoredTextArray>(std::move(texts));
        return kSOk;
    }

    int32_t GetUserProperty(UserProperty property, WString* value) override {
        value->clear();
        if (!asUser_) {
            return kENoInterface;
        }
        const WChar* attribute = property == UserProperty::FirstName  ? KW("givenName")
                                 : property == UserProperty::LastName ? KW("sn")
                                                                      : KW("displayName");
        const LdapAttribute* a = entry_.Find(attribute);
        if (a == nullptr || a->values.empty()) {
            return kEAdsPropertyNotFound;
        }
        *value = Wide(Text(a->values[0]));
        return kSOk;
    }

  private:
    std::unique_ptr<Connection> connection_;
    std::string base_;
    LdapEntry entry_;
    bool asUser_;
};

// SID_NAME_USE of a found object.
uint32_t UseOf(const LdapEntry& entry) {
    if (HasValue(entry, KW("objectClass"), "domainDNS")) {
        return kSidTypeDomain;
    }
    if (HasValue(entry, KW("objectClass"), "group")) {
        int64_t type = 0;
        const bool local = ParseInt64(First(entry, KW("groupType")), &type) &&
                           (static_cast<uint64_t>(type) & kGroupTypeDomainLocal) != 0;
        return local ? kSidTypeAlias : kSidTypeGroup;
    }
    return kSidTypeUser;
}

}  // namespace

int32_t LdapResultToWin32(int32_t ldapResult) {
    switch (ldapResult) {
        case kLdapSuccess:
            return 0;
        case kLdapTimeLimitExceeded:
        case kLdapTimeout:
            return winerr::kTimeout;
        case kLdapNoSuchObject:
            return winerr::kDsNoSuchObject;
        case kLdapInvalidDnSyntax:
            return winerr::kDsInvalidDnSyntax;
        case kLdapInvalidCredentials:
            return winerr::kLogonFailure;
        case kLdapInsufficientRights:
            return winerr::kAccessDenied;
        case kLdapBusy:
        case kLdapUnavailable:
        case kLdapServerDown:
        case kLdapConnectError:
            return winerr::kDsServerDown;
        case kLdapNoMemory:
            return winerr::kNotEnoughMemory;
        case kLdapParamError:
        case kLdapFilterError:
            return winerr::kInvalidParameter;
        default:
            return winerr::kDsOperationsError;
    }
}

LdapDirectoryBackend::LdapDirectoryBackend(LdapBackendSettings settings, platform::LdapConnector* connector)
    : context_(std::make_unique<Context>()) {
    context_->settings = std::move(settings);
    context_->connector = connector;
}

LdapDirectoryBackend::LdapDirectoryBackend(LdapBackendSettings settings,
                                           std::unique_ptr<LdifDirectory> snapshot)
    : context_(std::make_unique<Context>()) {
    context_->settings = std::move(settings);
    context_->snapshot = std::move(snapshot);
    context_->connector = context_->snapshot.get();
}

LdapDirectoryBackend::~LdapDirectoryBackend() = default;

namespace {

// A password file holds one line; anything much larger is not one.
constexpr uint64_t kMaxPasswordFileBytes = 64 * 1024;

int32_t CreateLdapBackend(const DirectorySettings& settings, std::unique_ptr<DirectoryBackend>* backend) {
    backend->reset();
    if (settings.server.empty()) {
        return winerr::kInvalidParameter;
    }
    LdapBackendSettings ldap;
    platform::LdapSettings& c = ldap.connection;
    c.host = settings.server;
    c.port = static_cast<uint16_t>(settings.port);
    c.transport = settings.tls == DirectoryTls::Ldaps      ? platform::LdapTransport::Ldaps
                  : settings.tls == DirectoryTls::StartTls ? platform::LdapTransport::StartTls
                                                           : platform::LdapTransport::Plain;
    c.verifyCertificate = settings.verifyCertificate;
    c.caFile = settings.caFile;
    c.bindName = settings.bindName;
    c.bind = settings.bind == DirectoryBind::SaslGssapi ? platform::LdapBind::SaslGssapi
             : settings.bindName.empty()                ? platform::LdapBind::Anonymous
                                                        : platform::LdapBind::Simple;
    if (!settings.passwordFile.empty()) {
        std::vector<uint8_t> content;
        const int32_t result =
            platform::ReadWholeFile(settings.passwordFile.c_str(), kMaxPasswordFileBytes, &content);
        if (result != 0) {
            return result;
        }
        const auto end =
            std::find_if(content.begin(), content.end(), [](uint8_t b) { return b == '\r' || b == '\n'; });
        c.password = platform::SecretBytes(std::string_view(reinterpret_cast<const char*>(content.data()),
                                                            static_cast<size_t>(end - content.begin())));
        SecureZero(content.data(), content.size());
    }
    c.budgetMs = settings.timeoutMilliseconds;
    c.connectTimeoutMs = std::min(c.connectTimeoutMs, settings.timeoutMilliseconds);
    c.operationTimeLimitMs = std::min(c.operationTimeLimitMs, settings.timeoutMilliseconds);
    *backend = std::make_unique<LdapDirectoryBackend>(std::move(ldap));
    return 0;
}

int32_t CreateSnapshotBackend(const DirectorySettings& settings, std::unique_ptr<DirectoryBackend>* backend) {
    backend->reset();
    if (settings.snapshotFile.empty()) {
        return winerr::kInvalidParameter;
    }
    std::vector<uint8_t> content;
    int32_t result =
        platform::ReadWholeFile(settings.snapshotFile.c_str(), ldif::Limits{}.maxInputBytes, &content);
    if (result != 0) {
        return result;
    }
    std::unique_ptr<LdifDirectory> snapshot;
    ldif::ParseError error;
    result =
        LdifDirectory::Load(std::string_view(reinterpret_cast<const char*>(content.data()), content.size()),
                            ldif::Limits{}, &snapshot, &error);
    if (result != 0) {
        return result;
    }
    LdapBackendSettings ldap;
    ldap.controllerName = settings.server;
    ldap.connection.budgetMs = settings.timeoutMilliseconds;
    *backend = std::make_unique<LdapDirectoryBackend>(std::move(ldap), std::move(snapshot));
    return 0;
}

}  // namespace

void RegisterLdapDirectoryBackends() {
    RegisterDirectoryBackendFactory(DirectoryBackendKind::Ldap, &CreateLdapBackend);
    RegisterDirectoryBackendFactory(DirectoryBackendKind::Snapshot, &CreateSnapshotBackend);
}

int32_t LdapDirectoryBackend::GetJoinInformation(WString* name, uint32_t* status) {
    name->clear();
    *status = kNetSetupUnknownStatus;
    if (!context_->settings.joined) {
        *name = context_->settings.flatDomain;
        *status = kNetSetupWorkgroupName;
        return 0;
    }
    DomainInfo info;
    if (context_->settings.flatDomain.empty()) {
        Connection connection(context_->settings.connection.budgetMs);
        int32_t result = context_->Connect(&connection);
        if (result == 0) {
            result = context_->ResolveDomain(connection, &info);
        }
        if (result != 0) {
            return LdapResultToWin32(result);
        }
    } else {
        info.flat = context_->settings.flatDomain;
    }
    *name = info.flat;
    *status = kNetSetupDomainName;
    return 0;
}

int32_t LdapDirectoryBackend::GetDcName(const WChar* domainName, uint32_t flags, DomainControllerInfo* info) {
    *info = DomainControllerInfo{};
    Connection connection(context_->settings.connection.budgetMs);
    DomainInfo domain;
    int32_t result = context_->Connect(&connection);
    if (result == 0) {
        result = context_->ResolveDomain(connection, &domain);
    }
    if (result != 0) {
        return LocatorError(result);
    }
    const WStringView asked = domainName != nullptr ? WStringView(domainName) : WStringView();
    const bool ours = asked.empty() || ((flags & kDsIsFlatName) != 0 ? EqualsNoCaseAscii(asked, domain.flat)
                                                                     : context_->IsOurDomain(domain, asked));
    if (!ours) {
        return winerr::kNoSuchDomain;
    }
    const bool flat = (flags & kDsReturnFlatName) != 0;
    WString controller = domain.controller;
    if (flat) {
        // A controller's flat name is the first label of its DNS name, in capitals.
        controller = controller.substr(0, controller.find(u'.'));
        for (WChar& c : controller) {
            c = (c >= u'a' && c <= u'z') ? static_cast<WChar>(c - u'a' + u'A') : c;
        }
    }
    info->domainControllerName = KW("\\\\") + controller;
    info->domainName = flat ? domain.flat : domain.dns;
    return 0;
}

int32_t LdapDirectoryBackend::BindDomainController(const WChar* domainName,
                                                   std::unique_ptr<DomainControllerBinding>* binding) {
    binding->reset();
    auto connection = std::make_unique<Connection>(context_->settings.connection.budgetMs);
    DomainInfo info;
    int32_t result = context_->Connect(connection.get());
    if (result == 0) {
        result = context_->ResolveDomain(*connection, &info);
    }
    if (result != 0) {
        return LocatorError(result);
    }
    if (domainName != nullptr && domainName[0] != 0 && !context_->IsOurDomain(info, domainName)) {
        return winerr::kNoSuchDomain;
    }
    *binding = std::make_unique<LdapBinding>(*context_, std::move(connection), std::move(info));
    return 0;
}

int32_t LdapDirectoryBackend::LookupAccountName(const WChar*, const WChar* accountName,
                                                AccountSidBuffers* buffers) {
    buffers->sid.clear();
    buffers->domain.clear();
    buffers->use = 0;
    const WStringView account = accountName != nullptr ? WStringView(accountName) : WStringView();
    if (account.empty()) {
        return winerr::kNoneMapped;
    }
    Connection connection(context_->settings.connection.budgetMs);
    DomainInfo info;
    int32_t result = context_->Connect(&connection);
    if (result == 0) {
        result = context_->ResolveDomain(connection, &info);
    }
    if (result != 0) {
        return LdapResultToWin32(result);
    }
    Found found;
    const size_t slash = account.find(u'\\');
    if (slash == WStringView::npos && account.find(u'@') == WStringView::npos &&
        context_->IsOurDomain(info, account)) {
        // The domain's own name: the domain object.
        result = connection.SearchOne(info.dn, LdapScope::Base, "(objectClass=*)", kObjectAttributes,
                                      &found.entry, &found.status);
    } else if (slash != WStringView::npos && EqualsNoCaseAscii(account.substr(0, slash), KW("BUILTIN"))) {
        result = context_->FindObject(connection, info, kDsNt4AccountName,
                                      info.flat + WString(account.substr(slash)), &found);
        if (result == 0 && found.status == kDsNameNoError &&
            !IsBuiltinSid(First(found.entry, KW("objectSid")))) {
            found.status = kDsNameErrorNotFound;
        }
    } else if (slash != WStringView::npos) {
        result = context_->FindObject(connection, info, kDsNt4AccountName, account, &found);
    } else if (account.find(u'@') != WStringView::npos) {
        result = context_->FindObject(connection, info, kDsUserPrincipalName, account, &found);
    } else {
        result = context_->FindObject(connection, info, kDsNt4AccountName,
                                      info.flat + KW("\\") + WString(account), &found);
    }
    if (result != 0) {
        return LdapResultToWin32(result);
    }
    const std::string sid = First(found.entry, KW("objectSid"));
    if (found.status != kDsNameNoError || !IsValidSid(sid)) {
        return winerr::kNoneMapped;
    }
    const WString domain = IsBuiltinSid(sid) ? WString(KW("BUILTIN")) : info.flat;
    const auto sidSize = static_cast<uint32_t>(sid.size());
    const auto domainSize = static_cast<uint32_t>(domain.size() + 1);
    if (buffers->sidSize < sidSize || buffers->domainSize < domainSize) {
        buffers->sidSize = sidSize;
        buffers->domainSize = domainSize;
        return winerr::kInsufficientBuffer;
    }
    buffers->sid.assign(sid.begin(), sid.end());
    buffers->domain = domain;
    buffers->use = UseOf(found.entry);
    buffers->sidSize = sidSize;
    buffers->domainSize = domainSize - 1;
    return 0;
}

int32_t LdapDirectoryBackend::LookupAccountSid(const WChar*, const SidBytes& sid,
                                               AccountNameBuffers* buffers) {
    buffers->name.clear();
    buffers->domain.clear();
    buffers->use = 0;
    const std::string bytes(sid.begin(), sid.end());
    if (!IsValidSid(bytes)) {
        return winerr::kInvalidSid;
    }
    Connection connection(context_->settings.connection.budgetMs);
    DomainInfo info;
    int32_t result = context_->Connect(&connection);
    if (result == 0) {
        result = context_->ResolveDomain(connection, &info);
    }
    if (result != 0) {
        return LdapResultToWin32(result);
    }
    Found found;
    result = connection.SearchOne(info.dn, LdapScope::Subtree,
                                  "(objectSid=" + ldapfilter::EscapeValue(bytes) + ")", kObjectAttributes,
                                  &found.entry, &found.status);
    if (result != 0) {
        return LdapResultToWin32(result);
    }
    if (found.status != kDsNameNoError) {
        return winerr::kNoneMapped;
    }
    const uint32_t use = UseOf(found.entry);
    const WString domain = IsBuiltinSid(bytes) ? WString(KW("BUILTIN")) : info.flat;
    const WString name = use == kSidTypeDomain ? info.flat : Wide(First(found.entry, KW("sAMAccountName")));
    if (name.empty()) {
        return winerr::kNoneMapped;
    }
    const auto nameSize = static_cast<uint32_t>(name.size() + 1);
    const auto domainSize = static_cast<uint32_t>(domain.size() + 1);
    if (buffers->nameSize < nameSize || buffers->domainSize < domainSize) {
        buffers->nameSize = nameSize;
        buffers->domainSize = domainSize;
        return winerr::kInsufficientBuffer;
    }
    buffers->name = name;
    buffers->domain = domain;
    buffers->use = use;
    buffers->nameSize = nameSize - 1;
    buffers->domainSize = domainSize - 1;
    return 0;
}

int32_t LdapDirectoryBackend::SidToString(const SidBytes& sid, WString* text, int32_t* releaseResult) {
    *releaseResult = 0;
    return SidToText(sid, text);
}

int32_t LdapDirectoryBackend::StringToSid(const WChar* text, SidBytes* sid) {
    if (text == nullptr) {
        sid->clear();
        return winerr::kInvalidSid;
    }
    return TextToSid(text, sid);
}

int32_t LdapDirectoryBackend::InitializeCom() {
    return kSOk;
}

int32_t LdapDirectoryBackend::CreateNameTranslate(std::unique_ptr<NameTranslator>* translator) {
    *translator = std::make_unique<LdapNameTranslator>(*context_);
    return kSOk;
}

int32_t LdapDirectoryBackend::BindObject(const WChar* ldapPath, ObjectInterface iface,
                                         std::unique_ptr<DirectoryObject>* object) {
    object->reset();
    const WStringView path = ldapPath != nullptr ? WStringView(ldapPath) : WStringView();
    // The provider's name is matched exactly, as ADSI does.
    if (path.substr(0, 7) != KW("LDAP://") || path.size() == 7) {
        return kEAdsBadPathname;
    }
    std::string rest = U8(path.substr(7));
    // "LDAP://server/DN": a server part has no "=" before its "/". This backend has one controller.
    const size_t slash = rest.find('/');
    if (slash != std::string::npos && rest.substr(0, slash).find('=') == std::string::npos) {
        rest.erase(0, slash + 1);
    }
    std::string base;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size() && rest[i + 1] == '/') {
            continue;  // ADSI writes "/" inside a DN as "\/"
        }
        base += rest[i];
    }
    std::string key;
    if (EqualsNoCaseAscii(Wide(base), KW("rootDSE"))) {
        base.clear();
    } else if (base.empty() || !dn::Normalize(base, &key) || key.empty()) {
        return kEAdsBadPathname;
    }
    auto connection = std::make_unique<Connection>(context_->settings.connection.budgetMs);
    int32_t result = context_->Connect(connection.get());
    std::vector<LdapEntry> out;
    if (result == 0) {
        result = connection->Search(base, LdapScope::Base, "(objectClass=*)", {}, &out);
    }
    if (result == kLdapNoSuchObject || (result == 0 && out.empty())) {
        return kEDsNoSuchObject;
    }
    if (result != 0) {
        return HResultFromWin32(LdapResultToWin32(result));
    }
    const bool isUser = IsUserClass(out[0]);
    if (iface == ObjectInterface::User && !isUser) {
        return kENoInterface;
    }
    *object = std::make_unique<LdapObject>(std::move(connection), base, std::move(out[0]),
                                           iface == ObjectInterface::User);
    return kSOk;
}

}  // namespace korva
