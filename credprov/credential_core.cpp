#include "credprov/credential_core.h"

#include "credprov/class_ids.h"
#include "credprov/reset_wizard_hook.h"
#include "credprov/tile_rules.h"
#include "infra/locale.h"
#include "infra/log.h"
#include "platform/message_box.h"
#include "platform/result_codes.h"

namespace korva {
namespace {

// The diagnostic log keeps records it could not write for the next flush; the trace says that it happened.
void FlushDiagnostics(cGjLog& log) {
    const int32_t flushed = log.Flush();
    if (flushed != 0) {
        TraceLog(kTraceWarning, KW("The diagnostic log could not be written (error %d)."), flushed);
    }
}

using com::HRESULT;

// A text read from the credential; it may be a password, so it is wiped when freed. A credential that
// answers success without a text gives the empty text.
struct FieldText {
    com::SecureTaskString text;
    const WChar* get() const { return text.get() != nullptr ? text.get() : KW(""); }
};

HRESULT ReadField(com::ICredentialProviderCredential* credential, uint32_t fieldId, FieldText* out) {
    return credential->GetStringValue(fieldId, out->text.put());
}

// Empty means none to the controller.
const WChar* OrNull(const WString& text) {
    return text.empty() ? nullptr : text.c_str();
}

// The link's error box: the localised error text under `title`, with no owner window; the logon desktop shows
// it in front of the tile. Whatever the user answers, the tile goes on.
void ShowErrorBox(const LocaleText& title) {
    (void)platform::Boxes().Show(nullptr, LocaleTexts().GetText(texts::kErrorDialogText).c_str(),
                                 LocaleTexts().GetText(title).c_str(), platform::kMbErrorOnLogonDesktop);
}

}  // namespace

uint32_t LayoutForProvider(const com::CLSID& clsid) {
    if (com::SameGuid(clsid, kDefaultWrappedClsid)) {
        return kLayoutDefaultProvider;
    }
    if (com::SameGuid(clsid, kPasswordProviderClsid)) {
        return kLayoutPasswordProvider;
    }
    return kLayoutGeneric;
}

cGbCredentialProviderCredential::cGbCredentialProviderCredential() : rules_(CreatePasswordFeedback()) {}

cGbCredentialProviderCredential::~cGbCredentialProviderCredential() {
    if (rules_ != nullptr) {
        (void)rules_->CloseRulesWindow();  // whatever it reports, the credential is going
    }
}

int32_t cGbCredentialProviderCredential::Initialize(uint32_t wrappedDescriptorCount, uint32_t cpus,
                                                    uint32_t enabledProducts, uint32_t options) {
    wrappedDescriptorCount_ = wrappedDescriptorCount;
    cpus_ = cpus;
    enabledProducts_ = enabledProducts;
    options_ = options;
    TraceLog(kTraceWarning,
             KW("cGbCredentialProviderCredential::Initialize - WrappedDescriptorCount: %ld, CPUS: %ld, "
                "EnabledProducts: %ld, Options: %ld"),
             wrappedDescriptorCount, cpus, enabledProducts, options);
    return 0;
}

void cGbCredentialProviderCredential::SetTraceableFields(std::vector<bool> traceable) {
    traceable_ = std::move(traceable);
}

bool cGbCredentialProviderCredential::IsSecretField(uint32_t fieldId) const {
    if (fieldId >= traceable_.size() || !traceable_[fieldId]) {
        return true;
    }
    return IsLayoutPasswordField(options_, fieldId);
}

const WChar* cGbCredentialProviderCredential::TraceableText(uint32_t fieldId, const WChar* text) const {
    return IsSecretField(fieldId) ? KW("(hidden)") : text;
}

bool cGbCredentialProviderCredential::IsResetLinkActive() const {
    return korva::IsResetLinkActive(enabledProducts_, cpus_);
}

uint32_t cGbCredentialProviderCredential::TranslateFieldID(uint32_t options, uint32_t number) const {
    TraceLog(kTraceWarning,
             KW("cGbCredentialProviderCredential::TranslateFieldID - Options: %ld, FieldID: %ld"), options,
             number);
    return korva::TranslateFieldID(options, number);
}

bool cGbCredentialProviderCredential::ShouldTestPassword(uint32_t options, uint32_t fieldId) const {
    TraceLog(kTraceWarning,
             KW("cGbCredentialProviderCredential::ShouldTestPassword - Options: %ld, FieldID: %ld"), options,
             fieldId);
    return korva::ShouldTestPassword(options, fieldId);
}

bool cGbCredentialProviderCredential::IsVlxActive(com::ICredentialProviderCredential* credential) const {
    TraceLog(kTraceWarning,
             KW("cGbCredentialProviderCredential::IsVlxActive - EnabledProducts: %ld, Options: %ld"),
             enabledProducts_, options_);
    if ((enabledProducts_ & kProductEnforcement) == 0 || credential == nullptr) {
        return false;
    }
    bool active[3] = {false, false, false};
    const uint32_t boxes[3] = {kFieldOldPassword, kFieldNewPassword, kFieldConfirmation};
    for (int i = 0; i < 3; ++i) {
        com::CREDENTIAL_PROVIDER_FIELD_STATE state = com::CPFS_HIDDEN;
        com::CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = com::CPFIS_NONE;
        if (com::Failed(
                credential->GetFieldState(TranslateFieldID(options_, boxes[i]), &state, &interactive))) {
            return false;
        }
        active[i] = IsPasswordBoxActive(static_cast<uint32_t>(state), static_cast<uint32_t>(interactive));
    }
    TraceLog(kTraceWarning,
             KW("cGbCredentialProviderCredential::IsVlxActive - OldPasswordEditBoxActive: %ld, "
                "NewPasswordEditBoxActive: %ld, ConfirmPasswordEditBoxActive: %ld"),
             static_cast<int32_t>(active[0]), static_cast<int32_t>(active[1]),
             static_cast<int32_t>(active[2]));
    return active[0] && active[1] && active[2];
}

com::HRESULT cGbCredentialProviderCredential::GetUserCredentials(
    com::ICredentialProviderCredential* credential, WString* domain, WString* userName) const {
    domain->clear();
    userName->clear();
    TraceLog(kTraceWarning, KW("cGbCredentialProviderCredential::GetUserCredentials"));
    if (credential == nullptr) {
        return kEUnexpected;
    }
    com::CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = com::CPGSR_NO_CREDENTIAL_NOT_FINISHED;
    com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION serialization{};
    com::LPWSTR statusText = nullptr;
    com::CREDENTIAL_PROVIDER_STATUS_ICON icon = com::CPSI_NONE;
    const HRESULT hr = credential->GetSerialization(&response, &serialization, &statusText, &icon);
    // The serialization carries the password: it is wiped before it is freed.
    const com::SecureTaskBytes bytes =
        com::SecureTaskBytes::Attach(serialization.rgbSerialization, serialization.cbSerialization);
    const com::TaskString status(statusText);
    if (com::Succeeded(hr) && bytes.size() > 0) {
        (void)ReadLogonNames(bytes.get(), bytes.size(), domain, userName);  // unreadable names stay empty
    }
    TraceLog(kTraceWarning,
             KW("cGbCredentialProviderCredential::GetUserCredentials - Domain: %s, Account: %s"),
             domain->c_str(), userName->c_str());
    return hr;
}

int32_t cGbCredentialProviderCredential::VLXCheckPassword(com::ICredentialProviderCredential* credential,
                                                          com::ICredentialProviderCredentialEvents* events,
                                                          const WChar* domainText, const WChar* userText,
                                                          const WChar* oldPassword, const WChar* newPassword,
                                                          const WChar* confirmation) {
    TraceLog(kTraceWarning, KW("cGbCredentialProviderCredential::VLXCheckPassword"));
    cGjLog log;
    log.AddHandler(&SharedFileHandler());
    const AccountAndDomain names = SplitUserAndDomain(userText, domainText);

    com::HWND parent = nullptr;
    if (events != nullptr && com::Failed(events->OnCreatingWindow(&parent))) {
        parent = nullptr;
    }
    bool verdict = false;
    if (rules_ != nullptr) {
        const int32_t status =
            rules_->ValidatePassword(log, parent, OrNull(names.domain), OrNull(names.account), oldPassword,
                                     newPassword, confirmation, &verdict);
        if (status != 0) {
            log.LogWithCode(kLogError, status,
                            KW("One or more errors occurred while validating a password."));
        }
    }
    int32_t result = 0;
    if (!verdict) {
        if (events != nullptr) {
            for (uint32_t box : {kFieldOldPassword, kFieldNewPassword, kFieldConfirmation}) {
                (void)events->SetFieldString(credential, TranslateFieldID(options_, box), KW(""));
            }
        }
        log.LogSystemError(kLogDebug, winerr::kPasswordRestriction,
                           KW("The password is not valid. Do not pass it to authentication layer."));
        result = winerr::kPasswordRestriction;
    }
    FlushDiagnostics(log);
    return result;
}

int32_t cGbCredentialProviderCredential::VLXTestPassword(com::ICredentialProviderCredential* credential) {
    TraceLog(kTraceWarning, KW("cGbCredentialProviderCredential::VLXTestPassword"));
    if (credential == nullptr || rules_ == nullptr) {
        return 0;
    }
    cGjLog log;
    log.AddHandler(&SharedFileHandler());
    struct Read {
        uint32_t logical;
        const WChar* failure;
    };
    static constexpr Read kReads[] = {
        {kFieldDomainText, KW("An error occurred while retrieving domain name.")},
        {kFieldUserName, KW("An error occurred while retrieving username.")},
        {kFieldOldPassword, KW("An error occurred while retrieving password.")},
        {kFieldNewPassword, KW("An error occurred while retrieving password.")},
    };
    FieldText texts[std::size(kReads)];
    for (size_t i = 0; i < std::size(kReads); ++i) {
        const HRESULT hr = ReadField(credential, TranslateFieldID(options_, kReads[i].logical), &texts[i]);
        if (com::Failed(hr)) {
            log.LogHResult(kLogWarning, hr, kReads[i].failure);
            FlushDiagnostics(log);
            return 0;
        }
    }
    const AccountAndDomain names = SplitUserAndDomain(texts[1].get(), texts[0].get());
    const int32_t status = rules_->PostRuleResults(log, OrNull(names.domain), OrNull(names.account),
                                                   texts[2].get(), texts[3].get());
    if (status != 0) {
        log.LogWithCode(kLogError, status, KW("An error occurred while testing password."));
    }
    FlushDiagnostics(log);
    return status;
}

void cGbCredentialProviderCredential::OnBtnForgotMyPassword(com::ICredentialProviderCredential* credential) {
    TraceLog(kTraceWarning, KW("cGbCredentialProviderCredential::OnBtnForgotMyPassword"));
    ResetWizardHook& wizard = ResetWizard();
    WString location;
    if (wizard.GetResetWizardLocation(&location) != 0) {
        ShowErrorBox(texts::kErrorDialogTitleRegistry);
        return;
    }
    WString domain;
    WString userName;
    (void)GetUserCredentials(credential, &domain, &userName);  // missing names stay empty
    if (wizard.StartResetWizard(location.c_str(), OrNull(domain), OrNull(userName)) != 0) {
        ShowErrorBox(texts::kErrorDialogTitleStartResetWizard);
    }
}

void cGbCredentialProviderCredential::DestroyPasswordRuleWindow() {
    TraceLog(kTraceWarning, KW("cGbCredentialProviderCredential::DestroyPasswordRuleWindow"));
    if (rules_ == nullptr || !rules_->IsRulesWindowVisible()) {
        return;
    }
    const int32_t status = rules_->CloseRulesWindow();
    if (status != 0) {
        cGjLog log;
        log.AddHandler(&SharedFileHandler());
        log.LogWithCode(kLogError, status, KW("An error occurred while closing password rule dialog."));
        FlushDiagnostics(log);
    }
}

void cGbCredentialProviderCredential::OnSelected(com::ICredentialProviderCredential* credential,
                                                 com::ICredentialProviderCredentialEvents* logonEvents) {
    if (rules_ == nullptr || !IsVlxActive(credential)) {
        return;
    }
    com::HWND owner = ownerWindow_;
    if (logonEvents != nullptr) {
        com::HWND asked = nullptr;
        if (com::Succeeded(logonEvents->OnCreatingWindow(&asked))) {
            owner = asked;
        }
    }
    cGjLog log;
    log.AddHandler(&SharedFileHandler());
    (void)rules_->StartRulesWindow(log, owner);  // a window already running reports itself and stays open
    FlushDiagnostics(log);
    (void)VLXTestPassword(credential);
}

void cGbCredentialProviderCredential::OnStringChanged(com::ICredentialProviderCredential* credential,
                                                      uint32_t fieldId) {
    if (IsVlxActive(credential) && ShouldTestPassword(options_, fieldId)) {
        (void)VLXTestPassword(credential);  // the typing goes on whatever the test found
    }
}

com::HRESULT cGbCredentialProviderCredential::CheckBeforeSubmit(
    com::ICredentialProviderCredential* credential, com::ICredentialProviderCredentialEvents* events) {
    if ((enabledProducts_ & kProductEnforcement) == 0 || rules_ == nullptr ||
        !rules_->IsRulesWindowVisible() || credential == nullptr) {
        return kSOk;
    }
    struct Read {
        uint32_t logical;
        const WChar* failure;
    };
    static constexpr Read kReads[] = {
        {kFieldDomainText, KW("An error occurred while retrieving LogOnToDomain. Errorcode 0x%X.")},
        {kFieldUserName, KW("An error occurred while retrieving username. Errorcode 0x%X.")},
        {kFieldOldPassword, KW("An error occurred while retrieving old password. Errorcode 0x%X.")},
        {kFieldNewPassword, KW("An error occurred while retrieving new password. Errorcode 0x%X.")},
        {kFieldConfirmation, KW("An error occurred while retrieving confirmation password. Errorcode 0x%X.")},
    };
    FieldText texts[std::size(kReads)];
    for (size_t i = 0; i < std::size(kReads); ++i) {
        const HRESULT hr = ReadField(credential, TranslateFieldID(options_, kReads[i].logical), &texts[i]);
        if (com::Failed(hr)) {
            TraceLog(kTraceError, kReads[i].failure, static_cast<uint32_t>(hr));
            return hr;
        }
    }
    const int32_t result = VLXCheckPassword(credential, events, texts[0].get(), texts[1].get(),
                                            texts[2].get(), texts[3].get(), texts[4].get());
    if (result != 0) {
        TraceLog(kTraceError, KW("An error occurred while validating password. Errorcode %ld."), result);
        return result;
    }
    return kSOk;
}

}  // namespace korva
