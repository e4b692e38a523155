// The credential adapters: what the logon user interface sees for each credential of the wrapped provider.
// Every call is forwarded to the wrapped credential; the credential core adds the link field (whose ID is
// the wrapped field count) and the password-policy hooks. cGjCredentialProviderCredentialV2 is used when the
// wrapped credential has ICredentialProviderCredential2, cGjCredentialProviderCredentialV1 otherwise; they
// differ only in GetUserSid and the interfaces they answer.
#pragma once

#include "credprov/credential_core.h"
#include "credprov/credential_events.h"
#include "credprov/credential_provider_abi.h"
#include "credprov/object_count.h"
#include "platform/com.h"

namespace korva {

template <typename Interface, typename EventsAdapter>
class CredentialAdapter : public com::ComObject<Interface>,
                          public cGbCredentialProviderCredential,
                          private credprov::CountedObject {
  public:
    // Takes a reference to `wrapped` (dropping any earlier one) and initialises the core. S_OK.
    [[nodiscard]] com::HRESULT Initialize(com::ICredentialProviderCredential* wrapped,
                                          uint32_t wrappedDescriptorCount, uint32_t cpus,
                                          uint32_t enabledProducts, uint32_t options);
    // Forgets the events adapter (which then answers E_FAIL) and the logon user interface's events object.
    void CleanupEvents();

  protected:
    explicit CredentialAdapter(const WChar* className) : className_(className) {}
    ~CredentialAdapter() override;
    [[nodiscard]] const WChar* ClassName() const { return className_; }
    com::HRESULT QueryOtherInterface(const com::IID& riid, void** ppv) override;

    const WChar* className_;
    com::ComPtr<EventsAdapter> eventsAdapter_;
    com::ComPtr<com::ICredentialProviderCredentialEvents> logonEvents_;
    com::ComPtr<com::ICredentialProviderCredential> wrapped_;

  private:
    // ICredentialProviderCredential
    com::HRESULT KORVA_COM_CALL Advise(com::ICredentialProviderCredentialEvents* pcpce) override;
    com::HRESULT KORVA_COM_CALL UnAdvise() override;
    com::HRESULT KORVA_COM_CALL SetSelected(com::BOOL* pbAutoLogon) override;
    com::HRESULT KORVA_COM_CALL SetDeselected() override;
    com::HRESULT KORVA_COM_CALL
    GetFieldState(com::DWORD dwFieldID, com::CREDENTIAL_PROVIDER_FIELD_STATE* pcpfs,
                  com::CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* pcpfis) override;
    com::HRESULT KORVA_COM_CALL GetStringValue(com::DWORD dwFieldID, com::LPWSTR* ppsz) override;
    com::HRESULT KORVA_COM_CALL GetBitmapValue(com::DWORD dwFieldID, com::HBITMAP* phbmp) override;
    com::HRESULT KORVA_COM_CALL GetCheckboxValue(com::DWORD dwFieldID, com::BOOL* pbChecked,
                                                 com::LPWSTR* ppszLabel) override;
    com::HRESULT KORVA_COM_CALL GetSubmitButtonValue(com::DWORD dwFieldID,
                                                     com::DWORD* pdwAdjacentTo) override;
    com::HRESULT KORVA_COM_CALL GetComboBoxValueCount(com::DWORD dwFieldID, com::DWORD* pcItems,
                                                      com::DWORD* pdwSelectedItem) override;
    com::HRESULT KORVA_COM_CALL GetComboBoxValueAt(com::DWORD dwFieldID, com::DWORD dwItem,
                                                   com::LPWSTR* ppszItem) override;
    com::HRESULT KORVA_COM_CALL SetStringValue(com::DWORD dwFieldID, com::LPCWSTR psz) override;
    com::HRESULT KORVA_COM_CALL SetCheckboxValue(com::DWORD dwFieldID, com::BOOL bChecked) override;
    com::HRESULT KORVA_COM_CALL SetComboBoxSelectedValue(com::DWORD dwFieldID,
                                                         com::DWORD dwSelectedItem) override;
    com::HRESULT KORVA_COM_CALL CommandLinkClicked(com::DWORD dwFieldID) override;
    com::HRESULT KORVA_COM_CALL GetSerialization(
        com::CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* pcpgsr,
        com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs, com::LPWSTR* ppszOptionalStatusText,
        com::CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) override;
    com::HRESULT KORVA_COM_CALL
    ReportResult(com::NTSTATUS ntsStatus, com::NTSTATUS ntsSubstatus, com::LPWSTR* ppszOptionalStatusText,
                 com::CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) override;

    // This adapter as the credential the core and the events adapter name.
    [[nodiscard]] com::ICredentialProviderCredential* Self() { return this; }
};

class cGjCredentialProviderCredentialV1 final
    : public CredentialAdapter<com::ICredentialProviderCredential, cGjCredentialProviderCredentialEventsV1> {
  public:
    cGjCredentialProviderCredentialV1();
};

class cGjCredentialProviderCredentialV2 final
    : public CredentialAdapter<com::ICredentialProviderCredential2, cGjCredentialProviderCredentialEventsV2> {
  public:
    cGjCredentialProviderCredentialV2();

  private:
    // ICredentialProviderCredential2
    com::HRESULT KORVA_COM_CALL GetUserSid(com::LPWSTR* sid) override;
};

extern template class CredentialAdapter<com::ICredentialProviderCredential,
                                        cGjCredentialProviderCredentialEventsV1>;
extern template class CredentialAdapter<com::ICredentialProviderCredential2,
                                        cGjCredentialProviderCredentialEventsV2>;

}  // namespace korva
