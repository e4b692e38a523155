#include "credprov/credential_provider.h"

#include <new>

#include "credprov/credential_adapters.h"
#include "credprov/class_ids.h"
#include "credprov/provider_settings.h"
#include "credprov/tile_rules.h"
#include "infra/locale.h"
#include "infra/log.h"
#include "infra/registry_connection.h"
#include "platform/result_codes.h"

namespace korva {

using com::DWORD;
using com::HRESULT;

HRESULT cGbCredentialProvider::CreateInstance(const com::IID& riid, void** ppv) {
    if (ppv == nullptr) {
        return kEInvalidArg;
    }
    *ppv = nullptr;
    cGbCredentialProvider* provider = com::MakeObject<cGbCredentialProvider>();
    if (provider == nullptr) {
        return kEOutOfMemory;
    }
    TraceLog(kTraceWarning, KW("cGbCredentialProvider::CreateInstance - riid: %ld"),
             static_cast<int32_t>(riid.Data1));
    const HRESULT hr = provider->QueryInterface(riid, ppv);
    if (com::Succeeded(hr)) {
        const int32_t status = provider->Initialize();
        if (status != 0) {
            // Handed out all the same, with whatever was read.
            TraceLog(kTraceError, KW("Error initializing credential provider. Errorcode %ld."), status);
        }
    } else {
        TraceLog(kTraceError, KW("Error getting credential provider interface. Errorcode 0x%X."),
                 static_cast<uint32_t>(hr));
    }
    provider->Release();
    return hr;
}

cGbCredentialProvider::~cGbCredentialProvider() {
    CleanUpAllCredentials();
}

int32_t cGbCredentialProvider::Initialize() {
    TraceLog(kTraceWarning, KW("cGbCredentialProvider::Initialize"));
    try {
        RegistryConnection registry;
        const int32_t status = registry.Connect(nullptr, platform::kHkeyLocalMachine);
        if (status != 0) {
            TraceLog(kTraceError, KW("Error connectign to registry. Errorcode %ld"), status);
            return status;
        }
        LoadTraceLogSettingsFromRegistry();
        const int32_t localeStatus = LocaleTexts().InitialiseFromRegistry(registry);
        if (localeStatus != 0) {
            TraceLog(kTraceError, KW("Error initializing language manager. Errorcode %ld"), localeStatus);
        }
        const ProviderSettings settings = ReadProviderSettings(registry);
        ConfigureDirectoryOnce();
        enabledProducts_ = settings.enabledProducts;
        wrappedClsid_ = kDefaultWrappedClsid;
        if (!settings.wrappedClsidText.empty()) {
            com::CLSID parsed = com::kGuidNull;
            if (com::Succeeded(com::ParseGuid(settings.wrappedClsidText.c_str(), &parsed))) {
                wrappedClsid_ = parsed;
            }
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return winerr::kNotEnoughMemory;
    }
}

void cGbCredentialProvider::CleanUpAllCredentials() {
    TraceLog(kTraceWarning, KW("cGbCredentialProvider::CleanUpAllCredentials"));
    credentials_.clear();  // each entry releases its adapter
    credentials_.shrink_to_fit();
}

bool cGbCredentialProvider::IsResetLinkActive() const {
    return korva::IsResetLinkActive(enabledProducts_, cpus_);
}

HRESULT cGbCredentialProvider::QueryOtherInterface(const com::IID& riid, void** ppv) {
    if (wrapped_) {
        return wrapped_->QueryInterface(riid, ppv);
    }
    *ppv = nullptr;
    return kENoInterface;
}

HRESULT cGbCredentialProvider::SetUsageScenario(com::CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD dwFlags) {
    TraceLog(kTraceWarning, KW("cGbCredentialProvider::SetUsageScenario - CPUS: %ld, Flags: %ld"),
             static_cast<int32_t>(cpus), dwFlags);
    com::ComPtr<com::IUnknown> created;
    HRESULT hr = com::CreateInstance(wrappedClsid_, nullptr, com::kClsctxAll, com::IidOf<com::IUnknown>(),
                                     created.put_void());
    if (com::Succeeded(hr) && created) {
        if (com::SameGuid(wrappedClsid_, kDefaultWrappedClsid)) {
            enabledProducts_ &= ~kProductResetLink;  // its tiles have their own reset feature
        }
    } else {
        for (const com::CLSID& fallback : {kPasswordProviderClsid, kSecondFallbackClsid}) {
            hr = com::CreateInstance(fallback, nullptr, com::kClsctxAll, com::IidOf<com::IUnknown>(),
                                     created.put_void());
            if (com::Succeeded(hr) && created) {
                wrappedClsid_ = fallback;
                break;
            }
        }
        if (!created) {
            wrapped_.reset();
            return com::Failed(hr) ? hr : kEUnexpected;
        }
    }

    com::ComPtr<com::ICredentialProvider> provider;
    hr = created.As(&provider);
    wrapped_ = provider;
    created.reset();
    if (com::Succeeded(hr) && wrapped_) {
        hr = wrapped_->SetUsageScenario(cpus, dwFlags);
        if (com::Succeeded(hr)) {
            cpus_ = static_cast<uint32_t>(cpus);
        }
    } else if (com::Succeeded(hr)) {
        hr = kENoInterface;
    }
    if (com::Failed(hr)) {
        wrapped_.reset();
    }
    return hr;
}

HRESULT cGbCredentialProvider::SetSerialization(
    const com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs) {
    TraceLog(kTraceWarning, KW("cGbCredentialProvider::SetSerialization"));
    if (!wrapped_) {
        return kEUnexpected;
    }
    if (pcpcs == nullptr || !com::SameGuid(pcpcs->clsidCredentialProvider, kProviderClsid)) {
        return wrapped_->SetSerialization(pcpcs);
    }
    // Addressed to this provider: the wrapped provider gets the same bytes addressed to itself. The copy may
    // hold a password, so it is wiped when freed.
    com::SecureTaskBytes bytes;
    if (pcpcs->cbSerialization > 0) {
        if (pcpcs->rgbSerialization == nullptr) {
            return kEInvalidArg;
        }
        if (!bytes.CopyFrom(pcpcs->rgbSerialization, pcpcs->cbSerialization)) {
            return kEOutOfMemory;
        }
    }
    com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION copy = *pcpcs;
    copy.clsidCredentialProvider = wrappedClsid_;
    copy.rgbSerialization = bytes.get();
    return wrapped_->SetSerialization(&copy);
}

HRESULT cGbCredentialProvider::Advise(com::ICredentialProviderEvents* pcpe, com::UINT_PTR upAdviseContext) {
    if (!wrapped_) {
        return kEUnexpected;
    }
    TraceLog(kTraceWarning, KW("cGbCredentialProvider::Advise - AdviceContext: %ld"),
             static_cast<int32_t>(upAdviseContext));
    return wrapped_->Advise(pcpe, upAdviseContext);
}

HRESULT cGbCredentialProvider::UnAdvise() {
    if (!wrapped_) {
        return kEUnexpected;
    }
    TraceLog(kTraceWarning, KW("cGbCredentialProvider::UnAdvise - Credential Count: %ld"),
             static_cast<uint32_t>(credentials_.size()));
    for (Entry& entry : credentials_) {
        if (entry.core != nullptr) {
            entry.core->DestroyPasswordRuleWindow();
        }
    }
    return wrapped_->UnAdvise();
}

HRESULT cGbCredentialProvider::GetFieldDescriptorCount(DWORD* pdwCount) {
    if (!wrapped_) {
        return kEUnexpected;
    }
    if (pdwCount == nullptr) {
        return kEInvalidArg;
    }
    DWORD count = 0;
    const HRESULT hr = wrapped_->GetFieldDescriptorCount(&count);
    if (com::Failed(hr)) {
        return hr;
    }
    if (count > kMaxWrappedFields) {
        return kEUnexpected;
    }
    wrappedDescriptorCount_ = count;
    TraceLog(kTraceWarning, KW("cGbCredentialProvider::GetFieldDescriptorCount - Count: %ld"),
             wrappedDescriptorCount_);
    *pdwCount = FieldCountWithLink(wrappedDescriptorCount_, IsResetLinkActive());
    return kSOk;
}

HRESULT cGbCredentialProvider::GetFieldDescriptorAt(DWORD dwIndex,
                                                    com::CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** ppcpfd) {
    if (!wrapped_) {
        return kEUnexpected;
    }
    if (ppcpfd == nullptr) {
        return kEInvalidArg;
    }
    TraceLog(
        kTraceWarning,
        KW("cGbCredentialProvider::GetFieldDescriptorAt - Index: %ld, CurrentCPU: %ld, EnabledProducts: %ld"),
        dwIndex, cpus_, enabledProducts_);
    if (dwIndex < wrappedDescriptorCount_) {
        return wrapped_->GetFieldDescriptorAt(dwIndex, ppcpfd);
    }
    *ppcpfd = nullptr;
    if (dwIndex != wrappedDescriptorCount_ || !IsResetLinkActive()) {
        return kEInvalidArg;  // no such field
    }
    auto* descriptor = static_cast<com::CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR*>(
        com::TaskAlloc(sizeof(com::CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR)));
    if (descriptor == nullptr) {
        return kEOutOfMemory;
    }
    descriptor->dwFieldID = wrappedDescriptorCount_;
    descriptor->cpft = com::CPFT_COMMAND_LINK;
    descriptor->pszLabel = nullptr;
    descriptor->guidFieldType = com::kGuidNull;
    const HRESULT hr = com::DupString(KW("CommandLink"), &descriptor->pszLabel);
    if (com::Failed(hr)) {
        com::TaskFree(descriptor);
        return hr;
    }
    *ppcpfd = descriptor;
    return kSOk;
}

std::vector<bool> cGbCredentialProvider::ReadTraceableFields() {
    std::vector<bool> described(wrappedDescriptorCount_, false);
    std::vector<bool> secret(wrappedDescriptorCount_, false);
    for (DWORD i = 0; i < wrappedDescriptorCount_; ++i) {
        com::UniqueFieldDescriptor descriptor;
        if (com::Failed(wrapped_->GetFieldDescriptorAt(i, descriptor.put())) || !descriptor) {
            continue;
        }
        const DWORD id = descriptor.get()->dwFieldID;
        if (id < described.size()) {
            described[id] = true;
            // A field described twice, once as a password box, stays hidden.
            secret[id] = secret[id] || descriptor.get()->cpft == com::CPFT_PASSWORD_TEXT;
        }
    }
    std::vector<bool> traceable(wrappedDescriptorCount_, false);
    for (size_t id = 0; id < traceable.size(); ++id) {
        traceable[id] = described[id] && !secret[id];
    }
    return traceable;
}

HRESULT cGbCredentialProvider::WrapCredential(DWORD index, DWORD* pdwDefault) {
    com::ComPtr<com::ICredentialProviderCredential> credential;
    HRESULT hr = wrapped_->GetCredentialAt(index, credential.put());
    if (com::Failed(hr)) {
        return hr;
    }
    if (!credential) {
        return kEUnexpected;  // success without a credential
    }
    const uint32_t options = LayoutForProvider(wrappedClsid_);
    com::ComPtr<com::ICredentialProviderCredential2> credential2;
    Entry& entry = credentials_[index];
    if (com::Succeeded(credential.As(&credential2)) && credential2) {
        auto* adapter = com::MakeObject<cGjCredentialProviderCredentialV2>();
        if (adapter == nullptr) {
            return kEOutOfMemory;
        }
        entry.adapter = com::ComPtr<com::ICredentialProviderCredential>::Attach(adapter);
        entry.core = adapter;
        hr = adapter->Initialize(credential.get(), wrappedDescriptorCount_, cpus_, enabledProducts_, options);
    } else {
        auto* adapter = com::MakeObject<cGjCredentialProviderCredentialV1>();
        if (adapter == nullptr) {
            return kEOutOfMemory;
        }
        entry.adapter = com::ComPtr<com::ICredentialProviderCredential>::Attach(adapter);
        entry.core = adapter;
        hr = adapter->Initialize(credential.get(), wrappedDescriptorCount_, cpus_, enabledProducts_, options);
        *pdwDefault = 0;
    }
    return hr;
}

HRESULT cGbCredentialProvider::GetCredentialCount(DWORD* pdwCount, DWORD* pdwDefault,
                                                  com::BOOL* pbAutoLogonWithDefault) {
    TraceLog(kTraceWarning, KW("cGbCredentialProvider::GetCredentialCount"));
    CleanUpAllCredentials();
    if (!wrapped_) {
        return kEUnexpected;
    }
    if (pdwCount == nullptr || pdwDefault == nullptr || pbAutoLogonWithDefault == nullptr) {
        return kEInvalidArg;
    }
    DWORD count = 0;
    HRESULT hr = wrapped_->GetCredentialCount(&count, pdwDefault, pbAutoLogonWithDefault);
    if (com::Failed(hr)) {
        return hr;
    }
    TraceLog(kTraceWarning,
             KW("cGbCredentialProvider::GetCredentialCount - Count: %ld, Default: %ld, Autologon: %ld"),
             count, *pdwDefault, static_cast<int32_t>(*pbAutoLogonWithDefault));
    if (count > kMaxWrappedCredentials) {
        return kEUnexpected;
    }
    DWORD fieldCount = 0;
    (void)GetFieldDescriptorCount(&fieldCount);  // refreshes the wrapped field count the adapters get
    *pdwCount = count;

    std::vector<bool> traceable;
    try {
        if (!com::AllocationAllowed()) {
            throw std::bad_alloc();
        }
        credentials_.resize(count);
        traceable = ReadTraceableFields();
    } catch (const std::bad_alloc&) {
        credentials_.clear();
        *pdwCount = 0;
        return kEOutOfMemory;
    }
    for (DWORD i = 0; i < count && com::Succeeded(hr); ++i) {
        hr = WrapCredential(i, pdwDefault);
        if (com::Succeeded(hr)) {
            try {
                credentials_[i].core->SetTraceableFields(traceable);
            } catch (const std::bad_alloc&) {
                hr = kEOutOfMemory;
            }
        }
    }
    if (com::Failed(hr)) {
        CleanUpAllCredentials();
        return hr;
    }
    return kSOk;
}

HRESULT cGbCredentialProvider::GetCredentialAt(DWORD dwIndex, com::ICredentialProviderCredential** ppcpc) {
    if (dwIndex >= credentials_.size() || ppcpc == nullptr || !credentials_[dwIndex].adapter) {
        return kEInvalidArg;
    }
    TraceLog(kTraceWarning, KW("cGbCredentialProvider::GetCredentialAt - Index: %ld"), dwIndex);
    const auto& adapter = credentials_[dwIndex].adapter;
    HRESULT hr = adapter->QueryInterface(com::IidOf<com::ICredentialProviderCredential2>(),
                                         reinterpret_cast<void**>(ppcpc));
    if (com::Succeeded(hr)) {
        return hr;
    }
    TraceLog(kTraceWarning,
             KW("cGbCredentialProvider::GetCredentialAt - Failed to get "
                "IID_ICredentialProviderCredential2, trying IID_ICredentialProviderCredential."));
    hr = adapter->QueryInterface(com::IidOf<com::ICredentialProviderCredential>(),
                                 reinterpret_cast<void**>(ppcpc));
    if (com::Failed(hr)) {
        TraceLog(
            kTraceWarning,
            KW("cGbCredentialProvider::GetCredentialAt - Failed to get IID_ICredentialProviderCredential. "
               "Errorcode: %ld"),
            static_cast<int32_t>(hr));
    }
    return hr;
}

}  // namespace korva
