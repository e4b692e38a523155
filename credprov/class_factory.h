// The class factory behind DllGetClassObject. One factory class serves both CLSIDs: what it creates is
// chosen by the interface asked for (ICredentialProvider or ICredentialProviderFilter), not by the CLSID it
// was obtained for.
#pragma once

#include "credprov/credential_provider_abi.h"
#include "platform/com.h"

namespace korva {

class cGbClassFactory final : public com::ComObject<com::IClassFactory> {
  public:
    cGbClassFactory() = default;

  private:
    ~cGbClassFactory() override = default;

    // IClassFactory
    com::HRESULT KORVA_COM_CALL CreateInstance(com::IUnknown* outer, REFIID riid, void** ppv) override;
    com::HRESULT KORVA_COM_CALL LockServer(com::BOOL lock) override;
};

// Creates the credential provider for an ICredentialProvider request: the factory's one link to the provider
// class (credprov/provider_entry.cpp).
[[nodiscard]] com::HRESULT CreateProviderInstance(REFIID riid, void** ppv);

}  // namespace korva
