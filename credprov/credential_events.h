// The events adapters: each credential adapter gives its wrapped credential one of these instead of the
// logon user interface's events object. Every callback is passed on to the logon user interface with the
// adapter in place of the wrapped credential; field IDs pass unchanged. After Uninitialize every callback
// answers E_FAIL, so a wrapped credential that keeps its reference cannot reach a credential that has gone.
#pragma once

#include "credprov/credential_provider_abi.h"
#include "credprov/object_count.h"
#include "platform/com.h"

namespace korva {

class cGbCredentialProviderCredential;

template <typename Interface>
class CredentialEventsAdapter : public com::ComObject<Interface>, private credprov::CountedObject {
  public:
    // `credential` is the owning adapter, named in every callback; `core` says which fields are secret;
    // neither is a counted reference (the adapter holds the logon events' reference).
    void Initialize(com::ICredentialProviderCredential* credential,
                    const cGbCredentialProviderCredential* core,
                    com::ICredentialProviderCredentialEvents* logonEvents);
    void Uninitialize();

  protected:
    explicit CredentialEventsAdapter(const WChar* className) : className_(className) {}
    [[nodiscard]] bool Ready() const { return credential_ != nullptr && logonEvents_ != nullptr; }
    [[nodiscard]] const WChar* ClassName() const { return className_; }

    com::HRESULT QueryOtherInterface(const com::IID& riid, void** ppv) override;

    const WChar* className_;
    com::ICredentialProviderCredential* credential_ = nullptr;
    const cGbCredentialProviderCredential* core_ = nullptr;
    com::ICredentialProviderCredentialEvents* logonEvents_ = nullptr;

  private:
    // ICredentialProviderCredentialEvents
    com::HRESULT KORVA_COM_CALL SetFieldState(com::ICredentialProviderCredential* pcpc, com::DWORD dwFieldID,
                                              com::CREDENTIAL_PROVIDER_FIELD_STATE cpfs) override;
    com::HRESULT KORVA_COM_CALL
    SetFieldInteractiveState(com::ICredentialProviderCredential* pcpc, com::DWORD dwFieldID,
                             com::CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE cpfis) override;
    com::HRESULT KORVA_COM_CALL SetFieldString(com::ICredentialProviderCredential* pcpc, com::DWORD dwFieldID,
                                               com::LPCWSTR psz) override;
    com::HRESULT KORVA_COM_CALL SetFieldCheckbox(com::ICredentialProviderCredential* pcpc,
                                                 com::DWORD dwFieldID, com::BOOL bChecked,
                                                 com::LPCWSTR pszLabel) override;
    com::HRESULT KORVA_COM_CALL SetFieldBitmap(com::ICredentialProviderCredential* pcpc, com::DWORD dwFieldID,
                                               com::HBITMAP hbmp) override;
    com::HRESULT KORVA_COM_CALL SetFieldComboBoxSelectedItem(com::ICredentialProviderCredential* pcpc,
                                                             com::DWORD dwFieldID,
                                                             com::DWORD dwSelectedItem) override;
    com::HRESULT KORVA_COM_CALL DeleteFieldComboBoxItem(com::ICredentialProviderCredential* pcpc,
                                                        com::DWORD dwFieldID, com::DWORD dwItem) override;
    com::HRESULT KORVA_COM_CALL AppendFieldComboBoxItem(com::ICredentialProviderCredential* pcpc,
                                                        com::DWORD dwFieldID, com::LPCWSTR pszItem) override;
    com::HRESULT KORVA_COM_CALL SetFieldSubmitButton(com::ICredentialProviderCredential* pcpc,
                                                     com::DWORD dwFieldID, com::DWORD dwAdjacentTo) override;
    com::HRESULT KORVA_COM_CALL OnCreatingWindow(com::HWND* phwndOwner) override;
};

class cGjCredentialProviderCredentialEventsV1 final
    : public CredentialEventsAdapter<com::ICredentialProviderCredentialEvents> {
  public:
    cGjCredentialProviderCredentialEventsV1();
};

class cGjCredentialProviderCredentialEventsV2 final
    : public CredentialEventsAdapter<com::ICredentialProviderCredentialEvents2> {
  public:
    cGjCredentialProviderCredentialEventsV2();

  private:
    // ICredentialProviderCredentialEvents2. A logon events object without this interface gets
    // E_NOINTERFACE rather than a call through the wrong table.
    com::HRESULT KORVA_COM_CALL BeginFieldUpdates() override;
    com::HRESULT KORVA_COM_CALL EndFieldUpdates() override;
    com::HRESULT KORVA_COM_CALL
    SetFieldOptions(com::ICredentialProviderCredential* credential, com::DWORD fieldID,
                    com::CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS options) override;
    [[nodiscard]] com::HRESULT LogonEvents2(
        com::ComPtr<com::ICredentialProviderCredentialEvents2>* out) const;
};

extern template class CredentialEventsAdapter<com::ICredentialProviderCredentialEvents>;
extern template class CredentialEventsAdapter<com::ICredentialProviderCredentialEvents2>;

}  // namespace korva
