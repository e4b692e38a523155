#include "credprov/credential_provider_filter.h"

#include <cstring>

#include "credprov/class_ids.h"
#include "credprov/provider_settings.h"
#include "infra/log.h"
#include "infra/registry_connection.h"

namespace korva {
namespace {

// The Windows password providers that the wrapper may wrap: always hidden, before anything else is looked at.
constexpr com::CLSID kAlwaysHidden[] = {kHiddenPasswordProviderClsid, kSecondFallbackClsid,
                                        kPasswordProviderClsid};

}  // namespace

com::BOOL FilterDecision(const com::GUID& provider, com::BOOL proposed, bool extraPresent,
                         const com::GUID& extra) {
    for (const com::CLSID& hidden : kAlwaysHidden) {
        if (com::SameGuid(provider, hidden)) {
            return com::kFalse;
        }
    }
    // The wrapper is tested before the extra provider, so naming the wrapper in the registry cannot hide it.
    if (com::SameGuid(provider, kProviderClsid)) {
        return com::kTrue;
    }
    if (com::SameGuid(provider, kDefaultWrappedClsid)) {
        return com::kFalse;
    }
    if (extraPresent && com::SameGuid(provider, extra)) {
        return com::kFalse;
    }
    return proposed;
}

com::HRESULT cGbCredentialProviderFilter::CreateInstance(REFIID riid, void** ppv) {
    auto* filter = com::MakeObject<cGbCredentialProviderFilter>();
    if (filter == nullptr) {
        if (ppv != nullptr) {
            *ppv = nullptr;
        }
        return kEOutOfMemory;
    }
    TraceLog(kTraceWarning, KW("cGbCredentialProviderFilter::CreateInstance - riid: %ld"),
             static_cast<int32_t>(riid.Data1));
    const com::HRESULT result = filter->QueryInterface(riid, ppv);
    const int32_t initialized = filter->Initialize();
    if (initialized != 0) {
        TraceLog(kTraceError, KW("Error initializing credential provider filter. Errorcode %ld."),
                 initialized);
    }
    filter->Release();
    return result;
}

int32_t cGbCredentialProviderFilter::Initialize() {
    TraceLog(kTraceWarning, KW("cGbCredentialProviderFilter::Initialize"));
    RegistryConnection registry;
    const int32_t connected = registry.Connect(nullptr, platform::kHkeyLocalMachine);
    if (connected != 0) {
        TraceLog(kTraceError, KW("Error connecting to registry. Errorcode %ld"), connected);
        return connected;
    }
    WString text;
    const int32_t read = registry.ReadString(kWizardsPolicyKey, kFilterClsidValue, &text);
    if (read != 0) {
        TraceLog(kTraceError, KW("Error getting registry key '%s' at '%s'. Errorcode %ld"), kFilterClsidValue,
                 kWizardsPolicyKey, read);
    }
    if (text.empty()) {
        TraceLog(kTraceWarning, KW("No specific CLSID was found to filter out."));
        return 0;
    }
    // A text that does not parse still sets the flag; the null CLSID it leaves matches no provider.
    extraPresent_ = true;
    const com::HRESULT parsed = com::ParseGuid(text.c_str(), &extra_);
    if (com::Failed(parsed)) {
        extra_ = com::kGuidNull;
        TraceLog(kTraceError, KW("Error getting registry key '%s' at '%s'. Errorcode %ld"), kFilterClsidValue,
                 kWizardsPolicyKey, parsed);
    }
    return 0;
}

com::HRESULT cGbCredentialProviderFilter::Filter(com::CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus,
                                                 com::DWORD /*dwFlags*/, com::GUID* rgclsidProviders,
                                                 com::BOOL* rgbAllow, com::DWORD cProviders) {
    TraceLog(kTraceWarning, KW("cGbCredentialProviderFilter::Filter - CPUS: %ld, ProviderCount: %ld"),
             static_cast<int32_t>(cpus), static_cast<int32_t>(cProviders));
    if (cProviders != 0 && (rgclsidProviders == nullptr || rgbAllow == nullptr)) {
        return kEInvalidArg;
    }
    // The scenario and the flags are not consulted: the same providers are hidden everywhere.
    for (com::DWORD i = 0; i < cProviders; ++i) {
        rgbAllow[i] = FilterDecision(rgclsidProviders[i], rgbAllow[i], extraPresent_, extra_);
    }
    return kSOk;
}

com::HRESULT cGbCredentialProviderFilter::UpdateRemoteCredential(
    const com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsIn,
    com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsOut) {
    TraceLog(kTraceWarning, KW("cGbCredentialProviderFilter::UpdateRemoteCredential - CPUS (in): %ld"),
             pcpcsIn != nullptr ? static_cast<int32_t>(pcpcsIn->ulAuthenticationPackage) : 0);
    if (pcpcsIn == nullptr || pcpcsOut == nullptr ||
        (pcpcsIn->cbSerialization != 0 && pcpcsIn->rgbSerialization == nullptr)) {
        return kEInvalidArg;
    }
    pcpcsOut->ulAuthenticationPackage = pcpcsIn->ulAuthenticationPackage;
    pcpcsOut->clsidCredentialProvider = kProviderClsid;
    pcpcsOut->cbSerialization = 0;
    pcpcsOut->rgbSerialization = nullptr;
    if (pcpcsIn->cbSerialization == 0) {
        return kSOk;
    }
    auto* copy = static_cast<uint8_t*>(com::TaskAlloc(pcpcsIn->cbSerialization));
    if (copy == nullptr) {
        // Nothing half-filled reaches the caller: an empty serialization addressed to the wrapper.
        return kEOutOfMemory;
    }
    std::memcpy(copy, pcpcsIn->rgbSerialization, pcpcsIn->cbSerialization);
    pcpcsOut->cbSerialization = pcpcsIn->cbSerialization;
    pcpcsOut->rgbSerialization = copy;
    return kSOk;
}

}  // namespace korva
