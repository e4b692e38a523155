// The factory's link to the credential provider class.
#include "credprov/class_factory.h"
#include "credprov/credential_provider.h"

namespace korva {

com::HRESULT CreateProviderInstance(REFIID riid, void** ppv) {
    return cGbCredentialProvider::CreateInstance(riid, ppv);
}

}  // namespace korva
