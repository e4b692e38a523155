#include "credprov/credential_events.h"

#include "credprov/credential_core.h"
#include "infra/log.h"
#include "platform/result_codes.h"

namespace korva {

using com::DWORD;
using com::HRESULT;
using com::ICredentialProviderCredential;

// The class name starts every trace line: "<class>::<method> - ...".
#define KORVA_TRACE_EVENTS(text, ...) \
    TraceLog(kTraceWarning, KW("%s::") text, this->ClassName() __VA_OPT__(, ) __VA_ARGS__)

template <typename Interface>
void CredentialEventsAdapter<Interface>::Initialize(ICredentialProviderCredential* credential,
                                                    const cGbCredentialProviderCredential* core,
                                                    com::ICredentialProviderCredentialEvents* logonEvents) {
    KORVA_TRACE_EVENTS("Initialize");
    credential_ = credential;
    core_ = core;
    logonEvents_ = logonEvents;
}

template <typename Interface>
void CredentialEventsAdapter<Interface>::Uninitialize() {
    KORVA_TRACE_EVENTS("Uninitialize");
    credential_ = nullptr;
    core_ = nullptr;
    logonEvents_ = nullptr;
}

template <typename Interface>
HRESULT CredentialEventsAdapter<Interface>::QueryOtherInterface(const com::IID& riid, void** ppv) {
    if (logonEvents_ != nullptr) {
        return logonEvents_->QueryInterface(riid, ppv);
    }
    *ppv = nullptr;
    return kENoInterface;
}

template <typename Interface>
HRESULT CredentialEventsAdapter<Interface>::SetFieldState(ICredentialProviderCredential*, DWORD dwFieldID,
                                                          com::CREDENTIAL_PROVIDER_FIELD_STATE cpfs) {
    KORVA_TRACE_EVENTS("SetFieldState - FieldID: %ld, FieldState: %ld", dwFieldID,
                       static_cast<int32_t>(cpfs));
    return Ready() ? logonEvents_->SetFieldState(credential_, dwFieldID, cpfs) : kEFail;
}

template <typename Interface>
HRESULT CredentialEventsAdapter<Interface>::SetFieldInteractiveState(
    ICredentialProviderCredential*, DWORD dwFieldID, com::CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE cpfis) {
    KORVA_TRACE_EVENTS("SetFieldInteractiveState - FieldID: %ld, FieldState: %ld", dwFieldID,
                       static_cast<int32_t>(cpfis));
    return Ready() ? logonEvents_->SetFieldInteractiveState(credential_, dwFieldID, cpfis) : kEFail;
}

template <typename Interface>
HRESULT CredentialEventsAdapter<Interface>::SetFieldString(ICredentialProviderCredential*, DWORD dwFieldID,
                                                           com::LPCWSTR psz) {
    // A password box's text never reaches the trace; without the core every field counts as one.
    const WChar* shown = (core_ != nullptr) ? core_->TraceableText(dwFieldID, psz) : KW("(hidden)");
    KORVA_TRACE_EVENTS("SetFieldString - FieldID: %ld, Value: %s", dwFieldID, shown);
    return Ready() ? logonEvents_->SetFieldString(credential_, dwFieldID, psz) : kEFail;
}

template <typename Interface>
HRESULT CredentialEventsAdapter<Interface>::SetFieldCheckbox(ICredentialProviderCredential*, DWORD dwFieldID,
                                                             com::BOOL bChecked, com::LPCWSTR pszLabel) {
    KORVA_TRACE_EVENTS("SetFieldCheckbox - FieldID: %ld, Checked: %ld, Label: %s", dwFieldID,
                       static_cast<int32_t>(bChecked), pszLabel);
    return Ready() ? logonEvents_->SetFieldCheckbox(credential_, dwFieldID, bChecked, pszLabel) : kEFail;
}

template <typename Interface>
HRESULT CredentialEventsAdapter<Interface>::SetFieldBitmap(ICredentialProviderCredential*, DWORD dwFieldID,
                                                           com::HBITMAP hbmp) {
    KORVA_TRACE_EVENTS("SetFieldBitmap - FieldID: %ld", dwFieldID);
    return Ready() ? logonEvents_->SetFieldBitmap(credential_, dwFieldID, hbmp) : kEFail;
}

template <typename Interface>
HRESULT CredentialEventsAdapter<Interface>::SetFieldComboBoxSelectedItem(ICredentialProviderCredential*,
                                                                         DWORD dwFieldID,
                                                                         DWORD dwSelectedItem) {
    KORVA_TRACE_EVENTS("SetFieldComboBoxSelectedItem - FieldID: %ld, SelectedItem: %ld", dwFieldID,
                       dwSelectedItem);
    return Ready() ? logonEvents_->SetFieldComboBoxSelectedItem(credential_, dwFieldID, dwSelectedItem)
                   : kEFail;
}

template <typename Interface>
HRESULT CredentialEventsAdapter<Interface>::DeleteFieldComboBoxItem(ICredentialProviderCredential*,
                                                                    DWORD dwFieldID, DWORD dwItem) {
    KORVA_TRACE_EVENTS("DeleteFieldComboBoxItem - FieldID: %ld, Item: %ld", dwFieldID, dwItem);
    return Ready() ? logonEvents_->DeleteFieldComboBoxItem(credential_, dwFieldID, dwItem) : kEFail;
}

template <typename Interface>
HRESULT CredentialEventsAdapter<Interface>::AppendFieldComboBoxItem(ICredentialProviderCredential*,
                                                                    DWORD dwFieldID, com::LPCWSTR pszItem) {
    KORVA_TRACE_EVENTS("AppendFieldComboBoxItem - FieldID: %ld, Item: %s", dwFieldID, pszItem);
    return Ready() ? logonEvents_->AppendFieldComboBoxItem(credential_, dwFieldID, pszItem) : kEFail;
}

template <typename Interface>
HRESULT CredentialEventsAdapter<Interface>::SetFieldSubmitButton(ICredentialProviderCredential*,
                                                                 DWORD dwFieldID, DWORD dwAdjacentTo) {
    KORVA_TRACE_EVENTS("SetFieldSubmitButton - FieldID: %ld, AdjacentTo: %ld", dwFieldID, dwAdjacentTo);
    return Ready() ? logonEvents_->SetFieldSubmitButton(credential_, dwFieldID, dwAdjacentTo) : kEFail;
}

template <typename Interface>
HRESULT CredentialEventsAdapter<Interface>::OnCreatingWindow(com::HWND* phwndOwner) {
    KORVA_TRACE_EVENTS("OnCreatingWindow");
    return Ready() ? logonEvents_->OnCreatingWindow(phwndOwner) : kEFail;
}

template class CredentialEventsAdapter<com::ICredentialProviderCredentialEvents>;
template class CredentialEventsAdapter<com::ICredentialProviderCredentialEvents2>;

cGjCredentialProviderCredentialEventsV1::cGjCredentialProviderCredentialEventsV1()
    : CredentialEventsAdapter(KW("cGjCredentialProviderCredentialEventsV1")) {}

cGjCredentialProviderCredentialEventsV2::cGjCredentialProviderCredentialEventsV2()
    : CredentialEventsAdapter(KW("cGjCredentialProviderCredentialEventsV2")) {}

HRESULT cGjCredentialProviderCredentialEventsV2::LogonEvents2(
    com::ComPtr<com::ICredentialProviderCredentialEvents2>* out) const {
    return com::ComPtr<com::ICredentialProviderCredentialEvents>::Copy(logonEvents_).As(out);
}

HRESULT cGjCredentialProviderCredentialEventsV2::BeginFieldUpdates() {
    KORVA_TRACE_EVENTS("BeginFieldUpdates");
    if (!Ready()) {
        return kEFail;
    }
    com::ComPtr<com::ICredentialProviderCredentialEvents2> events;
    const HRESULT hr = LogonEvents2(&events);
    return com::Succeeded(hr) ? events->BeginFieldUpdates() : hr;
}

HRESULT cGjCredentialProviderCredentialEventsV2::EndFieldUpdates() {
    KORVA_TRACE_EVENTS("EndFieldUpdates");
    if (!Ready()) {
        return kEFail;
    }
    com::ComPtr<com::ICredentialProviderCredentialEvents2> events;
    const HRESULT hr = LogonEvents2(&events);
    return com::Succeeded(hr) ? events->EndFieldUpdates() : hr;
}

HRESULT cGjCredentialProviderCredentialEventsV2::SetFieldOptions(
    ICredentialProviderCredential*, DWORD fieldID,
    com::CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS options) {
    KORVA_TRACE_EVENTS("SetFieldOptions %ld, Options: %ld", fieldID, static_cast<int32_t>(options));
    if (!Ready()) {
        return kEFail;
    }
    com::ComPtr<com::ICredentialProviderCredentialEvents2> events;
    const HRESULT hr = LogonEvents2(&events);
    return com::Succeeded(hr) ? events->SetFieldOptions(credential_, fieldID, options) : hr;
}

}  // namespace korva
