// cGbCredentialProvider: the credential provider the logon user interface loads. It owns no tiles of its
// own: it creates the wrapped provider by CLSID, forwards the logon user interface's calls to it, re-exposes
// each wrapped credential through an adapter, and appends the "Forgot my password..." command link to the
// wrapped field list where the link is active.
#pragma once

#include <cstdint>
#include <vector>

#include "credprov/credential_core.h"
#include "credprov/credential_provider_abi.h"
#include "credprov/object_count.h"
#include "platform/com.h"

namespace korva {

class cGbCredentialProvider final : public com::ComObject<com::ICredentialProvider>,
                                    private credprov::CountedObject {
  public:
    // Wrapped providers reporting more credentials or fields than this are not believed: the call fails
    // instead of allocating for them.
    static constexpr uint32_t kMaxWrappedCredentials = 1024;
    static constexpr uint32_t kMaxWrappedFields = 1024;

    // Creates a provider, reads its configuration and hands out the interface `riid`. The result of the
    // interface query (E_OUTOFMEMORY when the object cannot be made).
    [[nodiscard]] static com::HRESULT CreateInstance(const com::IID& riid, void** ppv);

    cGbCredentialProvider() = default;

    // Reads the configuration from the registry: 0, or the error of connecting to it (nothing is enabled
    // then and the wrapped CLSID stays null, so SetUsageScenario falls back).
    [[nodiscard]] int32_t Initialize();
    void CleanUpAllCredentials();
    [[nodiscard]] bool IsResetLinkActive() const;

    // For tests and diagnostics.
    [[nodiscard]] uint32_t EnabledProducts() const { return enabledProducts_; }
    [[nodiscard]] const com::CLSID& WrappedClsid() const { return wrappedClsid_; }

  private:
    struct Entry {
        com::ComPtr<com::ICredentialProviderCredential> adapter;
        cGbCredentialProviderCredential* core = nullptr;  // the adapter's core, alive while `adapter` is held
    };

    ~cGbCredentialProvider() override;
    com::HRESULT QueryOtherInterface(const com::IID& riid, void** ppv) override;
    // Creates the adapter for credential `index`. S_OK or the error that ends the enumeration.
    [[nodiscard]] com::HRESULT WrapCredential(com::DWORD index, com::DWORD* pdwDefault);
    // Which wrapped fields may have their text traced: those the wrapped provider describes, except password
    // boxes. A descriptor that cannot be read counts as a password box.
    [[nodiscard]] std::vector<bool> ReadTraceableFields();

    // ICredentialProvider
    com::HRESULT KORVA_COM_CALL SetUsageScenario(com::CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus,
                                                 com::DWORD dwFlags) override;
    com::HRESULT KORVA_COM_CALL
    SetSerialization(const com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs) override;
    com::HRESULT KORVA_COM_CALL Advise(com::ICredentialProviderEvents* pcpe,
                                       com::UINT_PTR upAdviseContext) override;
    com::HRESULT KORVA_COM_CALL UnAdvise() override;
    com::HRESULT KORVA_COM_CALL GetFieldDescriptorCount(com::DWORD* pdwCount) override;
    com::HRESULT KORVA_COM_CALL
    GetFieldDescriptorAt(com::DWORD dwIndex, com::CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** ppcpfd) override;
    com::HRESULT KORVA_COM_CALL GetCredentialCount(com::DWORD* pdwCount, com::DWORD* pdwDefault,
                                                   com::BOOL* pbAutoLogonWithDefault) override;
    com::HRESULT KORVA_COM_CALL GetCredentialAt(com::DWORD dwIndex,
                                                com::ICredentialProviderCredential** ppcpc) override;

    std::vector<Entry> credentials_;
    com::ComPtr<com::ICredentialProvider> wrapped_;
    uint32_t wrappedDescriptorCount_ = 0;
    uint32_t enabledProducts_ = 0;
    uint32_t cpus_ = 0;
    com::CLSID wrappedClsid_ = com::kGuidNull;
};

}  // namespace korva
