// The factory's link to the credential provider class. Until that class is part of the module, requests for
// the provider are answered as for a class this module does not serve.
#include "credprov/class_factory.h"

namespace korva {

com::HRESULT CreateProviderInstance(REFIID /*riid*/, void** ppv) {
    if (ppv != nullptr) {
        *ppv = nullptr;
    }
    return kClassEClassNotAvailable;
}

}  // namespace korva
