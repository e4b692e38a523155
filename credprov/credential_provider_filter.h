// The credential provider filter: hides the password providers the wrapper wraps (and one more named in the
// registry) so that their tiles appear once, through the wrapper; always lets the wrapper through; and
// re-addresses credentials from a remote desktop connection to the wrapper.
#pragma once

#include "credprov/credential_provider_abi.h"
#include "platform/com.h"

namespace korva {

// The registry value naming one more provider to hide (under kWizardsPolicyKey, HKEY_LOCAL_MACHINE).
inline constexpr const WChar* kFilterClsidValue = KW("FilterCredProvCLSID");

// What the filter decides for one provider: whether it may show tiles, given what the logon user interface
// proposed and the extra provider read from the registry (when `extraPresent`).
[[nodiscard]] com::BOOL FilterDecision(const com::GUID& provider, com::BOOL proposed, bool extraPresent,
                                       const com::GUID& extra);

class cGbCredentialProviderFilter final : public com::ComObject<com::ICredentialProviderFilter> {
  public:
    // Creates a filter, queries it for `riid` and reads its registry setting; the result of the query.
    [[nodiscard]] static com::HRESULT CreateInstance(REFIID riid, void** ppv);

    cGbCredentialProviderFilter() = default;
    // Reads FilterCredProvCLSID. 0, or the Windows error of opening the registry; a value that cannot be read
    // or parsed is traced and hides nothing.
    [[nodiscard]] int32_t Initialize();

  private:
    ~cGbCredentialProviderFilter() override = default;

    // ICredentialProviderFilter
    com::HRESULT KORVA_COM_CALL Filter(com::CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, com::DWORD dwFlags,
                                       com::GUID* rgclsidProviders, com::BOOL* rgbAllow,
                                       com::DWORD cProviders) override;
    com::HRESULT KORVA_COM_CALL
    UpdateRemoteCredential(const com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsIn,
                           com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsOut) override;

    bool extraPresent_ = false;
    com::GUID extra_ = com::kGuidNull;
};

}  // namespace korva
