// The LDAP backend's plumbing: bounded sessions, entry reading, resolving the one domain it serves, and the
// translation of LDAP results into the Windows codes the real calls give.
#include <algorithm>
#include <chrono>
#include <utility>

#include "directory/dn.h"
#include "directory/ldap_backend_internal.h"
#include "directory/ldap_filter.h"
#include "directory/sid_text.h"
#include "platform/result_codes.h"

namespace korva::ldapbackend {
namespace {

constexpr uint64_t kGroupTypeDomainLocal = 0x4;
constexpr uint32_t kBuiltinSubAuthority = 32;

bool HasValue(const LdapEntry& entry, const WChar* name, std::string_view value) {
    const LdapAttribute* a = entry.Find(name);
    return a != nullptr &&
           std::any_of(a->values.begin(), a->values.end(), [&](const std::vector<uint8_t>& v) {
               return EqualsNoCaseAscii(Wide(Text(v)), Wide(value));
           });
}

std::string DomainDn(WStringView dnsName) {
    std::string dnText = "DC=";
    for (char c : U8(dnsName)) {
        dnText += c == '.' ? std::string(",DC=") : std::string(1, c);
    }
    return dnText;
}

std::string PartitionsDn(const DomainInfo& info) {
    return "CN=Partitions," + info.configurationDn;
}

}  // namespace

const std::vector<WString> kObjectAttributes = {KW("distinguishedName"), KW("userPrincipalName"),
                                                KW("objectSid"),         KW("sAMAccountName"),
                                                KW("objectClass"),       KW("groupType")};

std::string First(const LdapEntry& entry, const WChar* name) {
    const LdapAttribute* a = entry.Find(name);
    return a == nullptr || a->values.empty() ? std::string() : Text(a->values[0]);
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

bool IsBuiltinSid(std::string_view bytes) {
    return IsValidSid(bytes) && bytes.size() >= 12 && static_cast<uint8_t>(bytes[7]) == 5 &&
           static_cast<uint8_t>(bytes[8]) == kBuiltinSubAuthority && bytes[9] == 0 && bytes[10] == 0 &&
           bytes[11] == 0;
}

WString FlatNameOf(WStringView dnsName) {
    WString flat(dnsName.substr(0, dnsName.find(u'.')));
    for (WChar& c : flat) {
        c = (c >= u'a' && c <= u'z') ? static_cast<WChar>(c - u'a' + u'A') : c;
    }
    return flat;
}

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

int32_t LocatorError(int32_t ldapResult) {
    const int32_t code = LdapResultToWin32(ldapResult);
    return code == winerr::kDsServerDown ? winerr::kNoSuchDomain : code;
}

namespace {

// A failure of the connection rather than of the request: the session is of no further use.
bool IsConnectionFailure(int32_t result) {
    return result == kLdapServerDown || result == kLdapTimeout || result == kLdapConnectError;
}

}  // namespace

Connection::Connection(const LdapDirectoryBackend::Context& context)
    : context_(context),
      shared_(context.shared),
      guard_(context.shared.lock),
      deadline_(std::chrono::steady_clock::now() +
                std::chrono::milliseconds(context.settings.connection.budgetMs)) {}

int32_t Connection::Open() {
    if (shared_.session) {
        return 0;
    }
    const platform::LdapSettings& c = context_.settings.connection;
    // Rounded up: a session opened as the call starts gets the whole budget.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return kLdapTimeout;
    }
    // The session is opened within what is left of this call's budget.
    platform::LdapSettings settings = c.Copy();
    settings.budgetMs = std::min<uint32_t>(c.budgetMs, static_cast<uint32_t>(left.count()));
    const int32_t result = context_.Connector().Open(settings, &shared_.session);
    if (result != 0) {
        shared_.session.reset();
    }
    openedHere_ = result == 0;
    return result;
}

int32_t Connection::Search(const std::string& base, LdapScope scope, const std::string& filter,
                           const std::vector<WString>& attributes, std::vector<LdapEntry>* out) {
    out->clear();
    for (;;) {
        int32_t result = Open();
        if (result == 0) {
            shared_.session->SetDeadline(deadline_);
            result = shared_.session->Search(Wide(base), scope, Wide(filter), attributes, out);
        }
        if (result == 0) {
            return 0;
        }
        out->clear();
        if (!IsConnectionFailure(result)) {
            return result;
        }
        const bool kept = shared_.session != nullptr && !openedHere_;
        shared_.session.reset();
        if (!kept || reopened_) {
            return result;
        }
        reopened_ = true;  // a kept session the server may have dropped meanwhile: once more on a new one
    }
}

int32_t Connection::SearchOne(const std::string& base, LdapScope scope, const std::string& filter,
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

int32_t Connection::ReadBase(const std::string& base, LdapEntry* entry) {
    std::vector<LdapEntry> out;
    const int32_t result = Search(base, LdapScope::Base, "(objectClass=*)", {}, &out);
    if (result == 0 && out.empty()) {
        return kLdapNoSuchObject;
    }
    if (result == 0) {
        *entry = std::move(out[0]);
    }
    return result;
}

}  // namespace korva::ldapbackend

namespace korva {

using namespace ldapbackend;

int32_t LdapDirectoryBackend::Context::Open(Connection* connection, DomainInfo* info) const {
    int32_t result = connection->Open();
    if (result == 0 && !shared.domain) {
        auto resolved = std::make_unique<DomainInfo>();
        result = ResolveDomain(*connection, resolved.get());
        if (result == 0) {
            shared.domain = std::move(resolved);
        }
    }
    if (result == 0) {
        *info = *shared.domain;
    }
    return result;
}

// Fills `info` from the settings and, for what they leave open, from the root DSE and the partitions
// container. An LDAP result.
int32_t LdapDirectoryBackend::Context::ResolveDomain(Connection& connection, DomainInfo* info) const {
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
            PartitionsDn(*info), LdapScope::OneLevel,
            "(&(objectClass=crossRef)(nCName=" + ldapfilter::EscapeValue(info->dn) + "))",
            {KW("nETBIOSName")}, &crossRef, &status);
        if (result != 0) {
            return result;
        }
        info->flat = Wide(First(crossRef, KW("nETBIOSName")));
        if (info->flat.empty()) {
            info->flat = FlatNameOf(info->dns);  // no crossRef: by default a domain's first label
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
WString LdapDirectoryBackend::Context::ConnectionHost() const {
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

bool LdapDirectoryBackend::Context::IsOurDomain(const DomainInfo& info, WStringView name) const {
    return EqualsNoCaseAscii(name, info.flat) || EqualsNoCaseAscii(name, info.dns);
}

// Another domain of the forest by its DNS or flat name (from the partitions container): its DNS name.
WString LdapDirectoryBackend::Context::OtherDomain(Connection& connection, const DomainInfo& info,
                                                   WStringView name) const {
    if (name.empty()) {
        return WString();
    }
    const std::string value = ldapfilter::EscapeValue(U8(name));
    LdapEntry crossRef;
    uint32_t status = 0;
    if (connection.SearchOne(PartitionsDn(info), LdapScope::OneLevel,
                             "(&(objectClass=crossRef)(|(dnsRoot=" + value + ")(nETBIOSName=" + value + ")))",
                             {KW("dnsRoot")}, &crossRef, &status) != 0 ||
        status != kDsNameNoError) {
        return WString();
    }
    return Wide(First(crossRef, KW("dnsRoot")));
}

int32_t LdapResultToWin32(int32_t ldapResult) {
    static constexpr std::pair<int32_t, int32_t> kCodes[] = {
        {kLdapSuccess, 0},
        {kLdapTimeLimitExceeded, winerr::kTimeout},
        {kLdapTimeout, winerr::kTimeout},
        {kLdapNoSuchObject, winerr::kDsNoSuchObject},
        {kLdapInvalidDnSyntax, winerr::kDsInvalidDnSyntax},
        {kLdapInvalidCredentials, winerr::kLogonFailure},
        {kLdapInsufficientRights, winerr::kAccessDenied},
        {kLdapBusy, winerr::kDsServerDown},
        {kLdapUnavailable, winerr::kDsServerDown},
        {kLdapServerDown, winerr::kDsServerDown},
        {kLdapConnectError, winerr::kDsServerDown},
        {kLdapNoMemory, winerr::kNotEnoughMemory},
        {kLdapParamError, winerr::kInvalidParameter},
        {kLdapFilterError, winerr::kInvalidParameter},
    };
    for (const auto& [ldap, win32] : kCodes) {
        if (ldap == ldapResult) {
            return win32;
        }
    }
    return winerr::kDsOperationsError;
}

}  // namespace korva
