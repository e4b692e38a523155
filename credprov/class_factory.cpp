#include "credprov/class_factory.h"

#include "credprov/credential_provider_filter.h"
#include "credprov/object_count.h"

namespace korva {

com::HRESULT cGbClassFactory::CreateInstance(com::IUnknown* outer, REFIID riid, void** ppv) {
    if (outer != nullptr) {
        return kClassENoAggregation;
    }
    if (com::SameGuid(riid, com::ICredentialProvider::kIid)) {
        return CreateProviderInstance(riid, ppv);
    }
    if (com::SameGuid(riid, com::ICredentialProviderFilter::kIid)) {
        return cGbCredentialProviderFilter::CreateInstance(riid, ppv);
    }
    if (ppv != nullptr) {
        *ppv = nullptr;
    }
    return kENoInterface;
}

com::HRESULT cGbClassFactory::LockServer(com::BOOL lock) {
    if (lock) {
        credprov::IncrementObjectCount();
    } else {
        credprov::DecrementObjectCount();
    }
    return kSOk;
}

}  // namespace korva
