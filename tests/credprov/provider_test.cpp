// The provider wrapper through ICredentialProvider, as the logon user interface drives it: configuration,
// the wrapped provider's creation and its fallbacks, the appended link field, enumeration into adapters,
// serializations, and callers and wrapped providers that misbehave.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/credprov/provider_fixture.h"

namespace korva::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(ProviderTest, FieldCountAndLinkDescriptorPerScenario) {
    struct Row {
        CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario;
        bool linkEnabled;
        DWORD count;
    };
    const Row rows[] = {
        {CPUS_LOGON, true, 11},  {CPUS_UNLOCK_WORKSTATION, true, 11},
        {CPUS_CREDUI, true, 11}, {CPUS_CHANGE_PASSWORD, true, 10},
        {CPUS_PLAP, true, 10},   {CPUS_LOGON, false, 10},
    };
    RegisterWrapped(kClsidTestProvider);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        registry_.PutDword(kHklmLinkLocal, KW("GINAEnabled"), row.linkEnabled ? 1 : 0);
        ComPtr<ICredentialProvider> provider = Create();
        ASSERT_EQ(provider->SetUsageScenario(row.scenario, 0), kSOk);
        DWORD count = 0;
        ASSERT_EQ(provider->GetFieldDescriptorCount(&count), kSOk);
        EXPECT_EQ(count, row.count);

        // The wrapped provider's own descriptors pass unchanged.
        UniqueFieldDescriptor descriptor;
        ASSERT_EQ(provider->GetFieldDescriptorAt(3, descriptor.put()), kSOk);
        EXPECT_EQ(descriptor.get()->dwFieldID, 3u);
        EXPECT_EQ(descriptor.get()->cpft, CPFT_PASSWORD_TEXT);

        // The link is the field after them, with the next ID; without it there is no such field.
        const HRESULT hr = provider->GetFieldDescriptorAt(10, descriptor.put());
        if (row.count == 11) {
            ASSERT_EQ(hr, kSOk);
            EXPECT_EQ(descriptor.get()->dwFieldID, 10u);
            EXPECT_EQ(descriptor.get()->cpft, CPFT_COMMAND_LINK);
            EXPECT_EQ(WString(descriptor.get()->pszLabel), KW("CommandLink"));
            EXPECT_TRUE(SameGuid(descriptor.get()->guidFieldType, kGuidNull));
        } else {
            EXPECT_EQ(hr, kEInvalidArg);
            EXPECT_FALSE(descriptor);
        }
        EXPECT_EQ(provider->GetFieldDescriptorAt(11, descriptor.put()), kEInvalidArg);
    }
}

TEST_F(ProviderTest, WrappedProviderFallsBackInOrder) {
    struct Row {
        const char* what;
        std::vector<CLSID> registered;
        CLSID configured;
        int options;    // the layout the adapters get; -1: no provider at all
        bool linkKept;  // the default wrapped provider's tiles get no link
    };
    const Row rows[] = {
        {"configured provider", {kClsidTestProvider, kPasswordProviderClsid}, kClsidTestProvider, 0, true},
        {"default provider", {kDefaultWrappedClsid}, kDefaultWrappedClsid, 1, false},
        {"first fallback", {kPasswordProviderClsid, kSecondFallbackClsid}, kClsidTestProvider, 2, true},
        {"second fallback", {kSecondFallbackClsid}, kDefaultWrappedClsid, 0, true},
        {"nothing to wrap", {}, kClsidTestProvider, -1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        registrations_.clear();
        for (const CLSID& clsid : row.registered) {
            RegisterWrapped(clsid);
        }
        EnableLink();
        Wrap(row.configured);
        ComPtr<ICredentialProvider> provider = Create();
        const HRESULT hr = provider->SetUsageScenario(CPUS_LOGON, 0);
        if (row.options < 0) {
            EXPECT_TRUE(Failed(hr));
            DWORD count = 0;
            EXPECT_EQ(provider->GetFieldDescriptorCount(&count), kEUnexpected) << "inert without a provider";
            continue;
        }
        ASSERT_EQ(hr, kSOk);
        DWORD count = 0;
        ASSERT_EQ(provider->GetFieldDescriptorCount(&count), kSOk);
        EXPECT_EQ(count, row.linkKept ? 11u : 10u);
        // Credentials appear only while the provider lives: none are added for this row.
        DWORD credentials = 0, defaultIndex = 0;
        BOOL autoLogon = kFalse;
        FakeCredentialV2 credential(GenericFields());
        wrapped_.credentials = {&credential};
        ASSERT_EQ(provider->GetCredentialCount(&credentials, &defaultIndex, &autoLogon), kSOk);
        EXPECT_TRUE(
            Contains(capture_.Trace(),
                     "cGjCredentialProviderCredentialV2::Initialize - WrappedDescriptorCount: 10, CPUS: 1, "
                     "EnabledProducts: " +
                         std::to_string(row.linkKept ? 1 : 0) + ", Options: " + std::to_string(row.options)))
            << capture_.Trace();
        provider.reset();
        wrapped_.credentials.clear();
    }
}

TEST_F(ProviderTest, EnumerationWrapsEachCredentialInItsVersion) {
    RegisterWrapped(kClsidTestProvider);
    AddCredential<FakeCredentialV2>();
    AddCredential<FakeCredentialV1>();
    wrapped_.defaultIndex = CREDENTIAL_PROVIDER_NO_DEFAULT;
    wrapped_.autoLogon = kTrue;
    provider_ = Create();
    ASSERT_EQ(provider_->SetUsageScenario(CPUS_LOGON, 0), kSOk);
    DWORD count = 0, defaultIndex = 7;
    BOOL autoLogon = kFalse;
    ASSERT_EQ(provider_->GetCredentialCount(&count, &defaultIndex, &autoLogon), kSOk);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(defaultIndex, 0u) << "a first-version credential makes the default 0";
    EXPECT_EQ(autoLogon, kTrue) << "passed back as the wrapped provider set it";

    ComPtr<ICredentialProviderCredential> first, second, none;
    ASSERT_EQ(provider_->GetCredentialAt(0, first.put()), kSOk);
    ASSERT_EQ(provider_->GetCredentialAt(1, second.put()), kSOk);
    EXPECT_EQ(provider_->GetCredentialAt(2, none.put()), kEInvalidArg);
    EXPECT_EQ(provider_->GetCredentialAt(0, nullptr), kEInvalidArg);
    EXPECT_NE(static_cast<void*>(first.get()), static_cast<void*>(credentials_[0].get()));

    ComPtr<ICredentialProviderCredential2> v2;
    EXPECT_EQ(first.As(&v2), kSOk);
    LPWSTR sid = nullptr;
    ASSERT_EQ(v2->GetUserSid(&sid), kSOk);
    EXPECT_EQ(WString(sid), KW("S-1-5-21-1-2-3-1001"));
    TaskFree(sid);
    EXPECT_EQ(second.As(&v2), kENoInterface) << "the first-version credential has no second interface";
    EXPECT_FALSE(v2);
    EXPECT_TRUE(Contains(capture_.Trace(),
                         "Failed to get IID_ICredentialProviderCredential2, trying "
                         "IID_ICredentialProviderCredential."));

    // Enumerating again replaces every adapter: the wrapped credentials are referenced once more each.
    ASSERT_EQ(provider_->GetCredentialCount(&count, &defaultIndex, &autoLogon), kSOk);
    EXPECT_EQ(count, 2u);
}

TEST_F(ProviderTest, SerializationAddressedToThisProviderIsReaddressed) {
    RegisterWrapped(kClsidTestProvider);
    provider_ = Create();
    ASSERT_EQ(provider_->SetUsageScenario(CPUS_CREDUI, 0), kSOk);
    uint8_t bytes[] = {1, 2, 3, 4, 5};
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION ours{7, kProviderClsid, sizeof bytes, bytes};
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION other{7, kSecondFallbackClsid, sizeof bytes, bytes};
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION empty{7, kProviderClsid, 0, nullptr};
    ASSERT_EQ(provider_->SetSerialization(&ours), kSOk);
    ASSERT_EQ(provider_->SetSerialization(&other), kSOk);
    ASSERT_EQ(provider_->SetSerialization(nullptr), kSOk);
    ASSERT_EQ(provider_->SetSerialization(&empty), kSOk);
    ASSERT_EQ(wrapped_.serializations.size(), 4u);
    EXPECT_TRUE(SameGuid(wrapped_.serializations[0].clsid, kClsidTestProvider));
    EXPECT_EQ(wrapped_.serializations[0].bytes, std::vector<uint8_t>(bytes, bytes + 5));
    EXPECT_EQ(wrapped_.serializations[0].package, 7u);
    EXPECT_TRUE(SameGuid(wrapped_.serializations[1].clsid, kSecondFallbackClsid));
    EXPECT_FALSE(wrapped_.serializations[2].present);
    EXPECT_TRUE(SameGuid(wrapped_.serializations[3].clsid, kClsidTestProvider));
    EXPECT_TRUE(wrapped_.serializations[3].bytes.empty());
    EXPECT_EQ(bytes[0], 1) << "the caller's bytes are not touched";
}

TEST_F(ProviderTest, CallsInTheWrongOrderAndNullPointersGetErrors) {
    RegisterWrapped(kClsidTestProvider);
    AddCredential();
    ComPtr<ICredentialProvider> provider = Create();
    DWORD count = 0, defaultIndex = 0;
    BOOL autoLogon = kFalse;
    ComPtr<ICredentialProviderCredential> credential;
    CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* descriptor = nullptr;
    // Before SetUsageScenario nothing is wrapped.
    EXPECT_EQ(provider->GetCredentialAt(0, credential.put()), kEInvalidArg);
    EXPECT_EQ(provider->GetFieldDescriptorCount(&count), kEUnexpected);
    EXPECT_EQ(provider->GetFieldDescriptorAt(0, &descriptor), kEUnexpected);
    EXPECT_EQ(provider->GetCredentialCount(&count, &defaultIndex, &autoLogon), kEUnexpected);
    EXPECT_EQ(provider->Advise(nullptr, 5), kEUnexpected);
    EXPECT_EQ(provider->UnAdvise(), kEUnexpected);
    EXPECT_EQ(provider->SetSerialization(nullptr), kEUnexpected);

    ASSERT_EQ(provider->SetUsageScenario(CPUS_LOGON, 0), kSOk);
    EXPECT_EQ(provider->GetFieldDescriptorCount(nullptr), kEInvalidArg);
    EXPECT_EQ(provider->GetFieldDescriptorAt(0, nullptr), kEInvalidArg);
    EXPECT_EQ(provider->GetCredentialCount(nullptr, &defaultIndex, &autoLogon), kEInvalidArg);
    EXPECT_EQ(provider->GetCredentialCount(&count, nullptr, &autoLogon), kEInvalidArg);
    EXPECT_EQ(provider->GetCredentialCount(&count, &defaultIndex, nullptr), kEInvalidArg);
    EXPECT_EQ(provider->QueryInterface(IidOf<ICredentialProvider>(), nullptr), kEInvalidArg);
    EXPECT_EQ(provider->Advise(nullptr, 5), kSOk);
    EXPECT_EQ(provider->UnAdvise(), kSOk);
    EXPECT_EQ(provider->UnAdvise(), kSOk) << "a second UnAdvise is the wrapped provider's to judge";
    ASSERT_EQ(provider->GetCredentialCount(&count, &defaultIndex, &autoLogon), kSOk);
    EXPECT_EQ(provider->GetCredentialAt(count, credential.put()), kEInvalidArg);

    // Interfaces the provider does not have are the wrapped provider's to answer; it has none either.
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(provider.As(&factory), kENoInterface);
    // A scenario the wrapped provider refuses leaves the provider inert.
    wrapped_.refused = {CPUS_PLAP};
    EXPECT_EQ(provider->SetUsageScenario(CPUS_PLAP, 0), kENotImpl);
    EXPECT_EQ(provider->GetCredentialCount(&count, &defaultIndex, &autoLogon), kEUnexpected);
}

TEST_F(ProviderTest, WrappedProviderFailingAtEachStep) {
    struct Row {
        const char* method;
        int at;  // which call of the script fails: 0 SetUsageScenario, 1 field count, 2 credential count
        HRESULT expected;  // S_OK: any failure
    };
    const Row rows[] = {
        {"SetUsageScenario", 0, kEFail},   {"GetFieldDescriptorCount", 1, kEFail},
        {"GetCredentialCount", 2, kEFail}, {"GetCredentialAt", 2, kEFail},
        {"QueryInterface", 0, kSOk},       {"CreateInstance", 0, kSOk},
    };
    RegisterWrapped(kClsidTestProvider);
    AddCredential();
    AddCredential<FakeCredentialV1>();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.method);
        if (std::string(row.method) == "CreateInstance") {
            factory_.FailNext(row.method, kEFail);
        } else {
            wrapped_.FailNext(row.method, kEFail);
        }
        ComPtr<ICredentialProvider> provider = Create();
        HRESULT hr = provider->SetUsageScenario(CPUS_LOGON, 0);
        DWORD count = 0, defaultIndex = 0;
        BOOL autoLogon = kFalse;
        if (row.at >= 1 && Succeeded(hr)) {
            hr = provider->GetFieldDescriptorCount(&count);
        }
        if (row.at >= 2 && Succeeded(hr)) {
            hr = provider->GetCredentialCount(&count, &defaultIndex, &autoLogon);
        }
        if (row.expected == kSOk) {
            EXPECT_TRUE(Failed(hr));  // the creation failed; no fallback is registered
        } else {
            EXPECT_EQ(hr, row.expected);
        }
        ComPtr<ICredentialProviderCredential> credential;
        EXPECT_EQ(provider->GetCredentialAt(0, credential.put()), kEInvalidArg)
            << "nothing half-made is handed out";
    }
}

TEST_F(ProviderTest, NonsenseCountsAreRefusedWithoutAllocating) {
    RegisterWrapped(kClsidTestProvider);
    AddCredential();
    struct Row {
        std::optional<DWORD> credentials;
        std::optional<DWORD> fields;
        HRESULT expected;
    };
    const Row rows[] = {
        {0xFFFFFFFFu, std::nullopt, kEUnexpected},  // absurd credential count
        {3, std::nullopt, kEInvalidArg},            // more credentials claimed than it can hand out
        {std::nullopt, 0xFFFFFFFFu, kEUnexpected},  // absurd field count
    };
    for (const Row& row : rows) {
        wrapped_.reportedCredentialCount = row.credentials;
        wrapped_.reportedFieldCount = row.fields;
        ComPtr<ICredentialProvider> provider = Create();
        ASSERT_EQ(provider->SetUsageScenario(CPUS_LOGON, 0), kSOk);
        DWORD count = 0, defaultIndex = 0;
        BOOL autoLogon = kFalse;
        if (row.fields) {
            EXPECT_EQ(provider->GetFieldDescriptorCount(&count), row.expected);
        } else {
            EXPECT_EQ(provider->GetCredentialCount(&count, &defaultIndex, &autoLogon), row.expected);
            ComPtr<ICredentialProviderCredential> credential;
            EXPECT_EQ(provider->GetCredentialAt(0, credential.put()), kEInvalidArg);
        }
    }
}

TEST_F(ProviderTest, AllocationFailuresDuringEnumerationLeakNothing) {
    RegisterWrapped(kClsidTestProvider);
    AddCredential();
    AddCredential<FakeCredentialV1>();
    EnableLink();
    ComPtr<ICredentialProvider> provider = Create();
    ASSERT_EQ(provider->SetUsageScenario(CPUS_LOGON, 0), kSOk);
    int failures = 0;
    for (int nth = 0; nth < 40; ++nth) {
        ScopedAllocationFailure failure(nth);
        DWORD count = 0, defaultIndex = 0;
        BOOL autoLogon = kFalse;
        const HRESULT hr = provider->GetCredentialCount(&count, &defaultIndex, &autoLogon);
        CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* link = nullptr;
        const HRESULT linkHr = provider->GetFieldDescriptorAt(10, &link);
        if (Succeeded(linkHr)) {
            FieldDescriptorPolicy::Close(link);
        } else {
            EXPECT_EQ(link, nullptr);
        }
        if (failure.Triggered()) {
            ++failures;
            EXPECT_TRUE(hr == kEOutOfMemory || hr == kSOk || linkHr == kEOutOfMemory) << nth;
        } else {
            EXPECT_EQ(hr, kSOk);
        }
    }
    EXPECT_GT(failures, 3) << "the injected failures reached the provider";
}

TEST_F(ProviderTest, ConfigurationAndCreationAreTraced) {
    RegisterWrapped(kClsidTestProvider);
    Wrap(kClsidTestProvider);
    registry_.PutString(kHklmWizards, KW("WrapCredProvCLSID"), KW("not a clsid"));
    provider_ = Create();
    // An unreadable CLSID falls back to the default provider, which is not registered; the first fallback
    // neither: the configured test provider is never tried.
    EXPECT_TRUE(Failed(provider_->SetUsageScenario(CPUS_LOGON, 0)));
    const std::string trace = capture_.Trace();
    EXPECT_TRUE(Contains(trace, "Warning: cGbCredentialProvider::CreateInstance - riid: "));
    EXPECT_TRUE(Contains(trace, "Warning: cGbCredentialProvider::Initialize\r\n"));
    EXPECT_TRUE(Contains(trace, "Warning: cGbCredentialProvider::SetUsageScenario - CPUS: 1, Flags: 0"));
    EXPECT_EQ(wrapped_.scenario, CPUS_INVALID);

    // A registry that cannot be opened: the provider is handed out all the same, and the trace says why.
    registry_.FailNext(platform::MemoryRegistry::Op::Connect, winerr::kAccessDenied);
    EXPECT_TRUE(Create());
    EXPECT_TRUE(Contains(capture_.Trace(), "Error: Error initializing credential provider. Errorcode 5."));
}

}  // namespace
}  // namespace korva::testing
