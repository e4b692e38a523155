#include "credprov/credential_adapters.h"

#include "infra/locale.h"
#include "infra/log.h"
#include "platform/result_codes.h"

namespace korva {

using com::DWORD;
using com::HRESULT;

// The class name starts every trace line: "<class>::<method> - ...".
#define KORVA_TRACE_ADAPTER(text, ...) \
    TraceLog(kTraceWarning, KW("%s::") text, this->ClassName() __VA_OPT__(, ) __VA_ARGS__)

template <typename I, typename E>
CredentialAdapter<I, E>::~CredentialAdapter() {
    // A wrapped credential that keeps the events adapter must not reach this object once it is gone.
    CleanupEvents();
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::Initialize(com::ICredentialProviderCredential* wrapped,
                                            uint32_t wrappedDescriptorCount, uint32_t cpus,
                                            uint32_t enabledProducts, uint32_t options) {
    KORVA_TRACE_ADAPTER(
        "Initialize - WrappedDescriptorCount: %ld, CPUS: %ld, EnabledProducts: %ld, Options: %ld",
        wrappedDescriptorCount, cpus, enabledProducts, options);
    wrapped_ = com::ComPtr<com::ICredentialProviderCredential>::Copy(wrapped);
    return cGbCredentialProviderCredential::Initialize(wrappedDescriptorCount, cpus, enabledProducts,
                                                       options);
}

template <typename I, typename E>
void CredentialAdapter<I, E>::CleanupEvents() {
    KORVA_TRACE_ADAPTER("CleanupEvents");
    if (eventsAdapter_) {
        eventsAdapter_->Uninitialize();
        eventsAdapter_.reset();
    }
    logonEvents_.reset();
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::QueryOtherInterface(const com::IID& riid, void** ppv) {
    if (wrapped_) {
        return wrapped_->QueryInterface(riid, ppv);
    }
    *ppv = nullptr;
    return kENoInterface;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::Advise(com::ICredentialProviderCredentialEvents* pcpce) {
    KORVA_TRACE_ADAPTER("Advise");
    CleanupEvents();
    if (pcpce == nullptr) {
        return kEInvalidArg;  // nothing could receive the callbacks
    }
    logonEvents_ = com::ComPtr<com::ICredentialProviderCredentialEvents>::Copy(pcpce);
    E* events = com::MakeObject<E>();
    if (events == nullptr) {
        return kEOutOfMemory;
    }
    eventsAdapter_ = com::ComPtr<E>::Attach(events);
    events->Initialize(Self(), this, pcpce);
    HRESULT hr = kSOk;
    if (wrapped_) {
        hr = wrapped_->Advise(events);
    }
    com::HWND owner = nullptr;
    if (com::Succeeded(pcpce->OnCreatingWindow(&owner))) {
        SetOwnerWindow(owner);
    }
    return hr;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::UnAdvise() {
    KORVA_TRACE_ADAPTER("UnAdvise");
    if (wrapped_) {
        (void)wrapped_->UnAdvise();  // the events are dropped whatever it says
    }
    CleanupEvents();
    return kSOk;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::SetSelected(com::BOOL* pbAutoLogon) {
    if (!wrapped_) {
        return kEUnexpected;
    }
    if (pbAutoLogon == nullptr) {
        return kEInvalidArg;
    }
    const HRESULT hr = wrapped_->SetSelected(pbAutoLogon);
    KORVA_TRACE_ADAPTER("SetSelected - AutoLogon: %ld", static_cast<int32_t>(*pbAutoLogon));
    OnSelected(Self(), logonEvents_.get());
    return hr;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::SetDeselected() {
    KORVA_TRACE_ADAPTER("SetDeselected");
    if (!wrapped_) {
        return kEUnexpected;
    }
    DestroyPasswordRuleWindow();
    return wrapped_->SetDeselected();
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::GetFieldState(DWORD dwFieldID, com::CREDENTIAL_PROVIDER_FIELD_STATE* pcpfs,
                                               com::CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* pcpfis) {
    KORVA_TRACE_ADAPTER("GetFieldState - FieldID: %ld", dwFieldID);
    if (pcpfs == nullptr || pcpfis == nullptr) {
        return kEInvalidArg;
    }
    if (!wrapped_) {
        return kEUnexpected;
    }
    if (dwFieldID < WrappedDescriptorCount()) {
        return wrapped_->GetFieldState(dwFieldID, pcpfs, pcpfis);
    }
    if (dwFieldID > WrappedDescriptorCount()) {
        return kEInvalidArg;
    }
    *pcpfs = com::CPFS_DISPLAY_IN_SELECTED_TILE;
    *pcpfis = com::CPFIS_NONE;
    return kSOk;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::GetStringValue(DWORD dwFieldID, com::LPWSTR* ppsz) {
    KORVA_TRACE_ADAPTER("GetStringValue - FieldID: %ld", dwFieldID);
    if (ppsz == nullptr) {
        return kEInvalidArg;
    }
    if (!wrapped_) {
        return kEUnexpected;
    }
    if (dwFieldID < WrappedDescriptorCount()) {
        return wrapped_->GetStringValue(dwFieldID, ppsz);
    }
    *ppsz = nullptr;
    if (dwFieldID > WrappedDescriptorCount()) {
        return kEInvalidArg;
    }
    if (!IsResetLinkActive()) {
        return kEUnexpected;
    }
    try {
        return com::DupString(LocaleTexts().GetText(texts::kForgotMyPasswordButton).c_str(), ppsz);
    } catch (...) {
        return kEOutOfMemory;
    }
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::GetBitmapValue(DWORD dwFieldID, com::HBITMAP* phbmp) {
    KORVA_TRACE_ADAPTER("GetBitmapValue - FieldID: %ld", dwFieldID);
    return wrapped_ ? wrapped_->GetBitmapValue(dwFieldID, phbmp) : kEUnexpected;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::GetCheckboxValue(DWORD dwFieldID, com::BOOL* pbChecked,
                                                  com::LPWSTR* ppszLabel) {
    KORVA_TRACE_ADAPTER("GetCheckboxValue - FieldID: %ld", dwFieldID);
    return wrapped_ ? wrapped_->GetCheckboxValue(dwFieldID, pbChecked, ppszLabel) : kEUnexpected;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::GetSubmitButtonValue(DWORD dwFieldID, DWORD* pdwAdjacentTo) {
    KORVA_TRACE_ADAPTER("GetSubmitButtonValue - FieldID: %ld", dwFieldID);
    return wrapped_ ? wrapped_->GetSubmitButtonValue(dwFieldID, pdwAdjacentTo) : kEUnexpected;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::GetComboBoxValueCount(DWORD dwFieldID, DWORD* pcItems,
                                                       DWORD* pdwSelectedItem) {
    KORVA_TRACE_ADAPTER("GetComboBoxValueCount - FieldID: %ld", dwFieldID);
    return wrapped_ ? wrapped_->GetComboBoxValueCount(dwFieldID, pcItems, pdwSelectedItem) : kEUnexpected;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::GetComboBoxValueAt(DWORD dwFieldID, DWORD dwItem, com::LPWSTR* ppszItem) {
    KORVA_TRACE_ADAPTER("GetComboBoxValueAt - FieldID: %ld", dwFieldID);
    return wrapped_ ? wrapped_->GetComboBoxValueAt(dwFieldID, dwItem, ppszItem) : kEUnexpected;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::SetStringValue(DWORD dwFieldID, com::LPCWSTR psz) {
    if (!wrapped_) {
        return kEUnexpected;
    }
    const HRESULT hr = wrapped_->SetStringValue(dwFieldID, psz);
    KORVA_TRACE_ADAPTER("SetStringValue - FieldID: %ld, String: %s", dwFieldID,
                        TraceableText(dwFieldID, psz));
    OnStringChanged(Self(), dwFieldID);
    return hr;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::SetCheckboxValue(DWORD dwFieldID, com::BOOL bChecked) {
    KORVA_TRACE_ADAPTER("SetCheckboxValue - FieldID: %ld Checked: %ld", dwFieldID,
                        static_cast<int32_t>(bChecked));
    return wrapped_ ? wrapped_->SetCheckboxValue(dwFieldID, bChecked) : kEUnexpected;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::SetComboBoxSelectedValue(DWORD dwFieldID, DWORD dwSelectedItem) {
    KORVA_TRACE_ADAPTER("SetComboBoxSelectedValue - FieldID: %ld, SelectedItem: %ld", dwFieldID,
                        dwSelectedItem);
    return wrapped_ ? wrapped_->SetComboBoxSelectedValue(dwFieldID, dwSelectedItem) : kEUnexpected;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::CommandLinkClicked(DWORD dwFieldID) {
    KORVA_TRACE_ADAPTER("CommandLinkClicked - FieldID: %ld", dwFieldID);
    if (!wrapped_) {
        return kEUnexpected;
    }
    if (dwFieldID < WrappedDescriptorCount()) {
        return wrapped_->CommandLinkClicked(dwFieldID);
    }
    if (dwFieldID > WrappedDescriptorCount()) {
        return kEInvalidArg;
    }
    if (IsResetLinkActive()) {
        OnBtnForgotMyPassword(Self());  // returns when the Reset Wizard has ended
    }
    return kSOk;
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::GetSerialization(
    com::CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* pcpgsr,
    com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs, com::LPWSTR* ppszOptionalStatusText,
    com::CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) {
    KORVA_TRACE_ADAPTER("GetSerialization - EnabledProducts: %ld", EnabledProducts());
    if (!wrapped_) {
        return kEUnexpected;
    }
    if (pcpgsr == nullptr || pcpcs == nullptr) {
        return kEInvalidArg;
    }
    // A refused password returns 1325 itself (not an HRESULT) and never reaches the wrapped credential.
    const HRESULT check = CheckBeforeSubmit(Self(), eventsAdapter_.get());
    if (check != kSOk) {
        return check;
    }
    return wrapped_->GetSerialization(pcpgsr, pcpcs, ppszOptionalStatusText, pcpsiOptionalStatusIcon);
}

template <typename I, typename E>
HRESULT CredentialAdapter<I, E>::ReportResult(com::NTSTATUS ntsStatus, com::NTSTATUS ntsSubstatus,
                                              com::LPWSTR* ppszOptionalStatusText,
                                              com::CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) {
    KORVA_TRACE_ADAPTER("ReportResult - Status: %ld, Substatus:% ld", static_cast<int32_t>(ntsStatus),
                        static_cast<int32_t>(ntsSubstatus));
    return wrapped_ ? wrapped_->ReportResult(ntsStatus, ntsSubstatus, ppszOptionalStatusText,
                                             pcpsiOptionalStatusIcon)
                    : kEUnexpected;
}

template class CredentialAdapter<com::ICredentialProviderCredential, cGjCredentialProviderCredentialEventsV1>;
template class CredentialAdapter<com::ICredentialProviderCredential2,
                                 cGjCredentialProviderCredentialEventsV2>;

cGjCredentialProviderCredentialV1::cGjCredentialProviderCredentialV1()
    : CredentialAdapter(KW("cGjCredentialProviderCredentialV1")) {}

cGjCredentialProviderCredentialV2::cGjCredentialProviderCredentialV2()
    : CredentialAdapter(KW("cGjCredentialProviderCredentialV2")) {}

HRESULT cGjCredentialProviderCredentialV2::GetUserSid(com::LPWSTR* sid) {
    KORVA_TRACE_ADAPTER("GetUserSid");
    if (!wrapped_) {
        return kEUnexpected;
    }
    com::ComPtr<com::ICredentialProviderCredential2> wrapped2;
    const HRESULT hr = wrapped_.As(&wrapped2);
    if (com::Failed(hr)) {
        return hr;
    }
    return wrapped2->GetUserSid(sid);
}

}  // namespace korva
