// The directory backend over LDAP: its construction from the directory settings and the Win32-style calls
// (join state, locator, binding, account look-ups, SID texts); names are in ldap_backend_names.cpp, bound
// objects in ldap_backend_objects.cpp.
#include <algorithm>

#include "directory/configuration.h"
#include "directory/ldap_backend_internal.h"
#include "directory/ldap_filter.h"
#include "directory/sid_text.h"
#include "platform/files.h"
#include "platform/result_codes.h"

namespace korva {

using namespace ldapbackend;

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
        Connection connection(*context_);
        if (const int32_t result = context_->Open(&connection, &info); result != 0) {
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
    Connection connection(*context_);
    DomainInfo domain;
    if (const int32_t result = context_->Open(&connection, &domain); result != 0) {
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
        controller = FlatNameOf(controller);
    }
    info->domainControllerName = KW("\\\\") + controller;
    info->domainName = flat ? domain.flat : domain.dns;
    return 0;
}

int32_t LdapDirectoryBackend::BindDomainController(const WChar* domainName,
                                                   std::unique_ptr<DomainControllerBinding>* binding) {
    binding->reset();
    Connection connection(*context_);
    DomainInfo info;
    if (const int32_t result = context_->Open(&connection, &info); result != 0) {
        return LocatorError(result);
    }
    if (domainName != nullptr && domainName[0] != 0 && !context_->IsOurDomain(info, domainName)) {
        return winerr::kNoSuchDomain;
    }
    *binding = context_->MakeBinding(std::move(info));
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
    Connection connection(*context_);
    DomainInfo info;
    int32_t result = context_->Open(&connection, &info);
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
    return FillAccountSidBuffers(SidBytes(sid.begin(), sid.end()),
                                 IsBuiltinSid(sid) ? WString(KW("BUILTIN")) : info.flat, UseOf(found.entry),
                                 buffers);
}

int32_t LdapDirectoryBackend::LookupAccountSid(const WChar*, const SidBytes& sid,
                                               AccountNameBuffers* buffers) {
    *buffers = AccountNameBuffers{buffers->nameSize, buffers->domainSize, {}, {}, 0};
    const std::string bytes(sid.begin(), sid.end());
    Connection connection(*context_);
    DomainInfo info;
    Found found;
    if (!IsValidSid(bytes)) {
        return winerr::kInvalidSid;
    }
    int32_t result = context_->Open(&connection, &info);
    if (result != 0) {
        return LdapResultToWin32(result);
    }
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
    return FillAccountNameBuffers(name, domain, use, buffers);
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

void LdapDirectoryBackend::UninitializeCom() {}

int32_t LdapDirectoryBackend::CreateNameTranslate(std::unique_ptr<NameTranslator>* translator) {
    *translator = context_->MakeNameTranslator();
    return kSOk;
}

}  // namespace korva
