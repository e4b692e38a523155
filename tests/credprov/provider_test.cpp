// The provider wrapper, the filter and the COM server, with callers and wrapped providers that misbehave.
#include <gtest/gtest.h>

#include <limits>

#include "credprov/credential_provider_filter.h"
#include "credprov/dll_exports.h"
#include "credprov/provider_settings.h"
#include "infra/locale.h"
#include "tests/credprov/fakes.h"
#include "tests/support/fake_clock.h"

namespace korva::testing {
namespace {

constexpr CLSID kUnrelated = {0x0B0B0B0B, 0x1111, 0x2222, {0x33, 0x33, 0, 0, 0, 0, 0, 0x01}};

ComPtr<IClassFactory> Factory(const CLSID& clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(clsid, kIidIClassFactory, factory.put_void()), kSOk);
    return factory;
}

ComPtr<ICredentialProviderFilter> MakeFilter() {
    ComPtr<ICredentialProviderFilter> filter;
    EXPECT_EQ(
        Factory(kFilterClsid)->CreateInstance(nullptr, ICredentialProviderFilter::kIid, filter.put_void()),
        kSOk);
    return filter;
}

TEST(ComServerTest, ClassObjectsFactoriesAndUnloading) {
    // The class, the interface, the allocation that fails (-1: none), the result.
    const std::tuple<CLSID, IID, int, HRESULT> rows[] = {
        {kProviderClsid, kIidIClassFactory, -1, kSOk},
        {kFilterClsid, kIidIUnknown, -1, kSOk},
        {kFilterClsid, ICredentialProvider::kIid, -1, kENoInterface},
        {kProviderClsid, kIidIClassFactory, 0, kEOutOfMemory},
        {kDefaultWrappedClsid, kIidIClassFactory, -1, kClassEClassNotAvailable},
        {kUnrelated, kIidIClassFactory, -1, kClassEClassNotAvailable}};
    for (const auto& [clsid, iid, nth, expected] : rows) {
        void* sentinel = &sentinel;
        void* out = sentinel;
        ScopedAllocationFailure failure(nth);
        EXPECT_EQ(DllGetClassObject(clsid, iid, &out), expected);
        if (expected == kSOk) {
            static_cast<IUnknown*>(out)->Release();
        } else {  // only a factory that was made touches the out-pointer
            EXPECT_EQ(out, expected == kENoInterface ? nullptr : sentinel);
        }
    }
    EXPECT_EQ(DllGetClassObject(kProviderClsid, kIidIClassFactory, nullptr), kEInvalidArg);
    // Either factory makes either class: the interface decides; aggregation is refused first.
    const std::pair<IID, HRESULT> creations[] = {{kIidIUnknown, kENoInterface},
                                                 {ICredentialProviderCredential::kIid, kENoInterface},
                                                 {ICredentialProviderFilter::kIid, kSOk},
                                                 {ICredentialProvider::kIid, kSOk}};
    for (const CLSID& clsid : {kProviderClsid, kFilterClsid}) {
        ComPtr<IClassFactory> factory = Factory(clsid);
        for (const auto& [iid, expected] : creations) {
            ComPtr<IUnknown> created;
            EXPECT_EQ(factory->CreateInstance(nullptr, iid, created.put_void()), expected);
            EXPECT_EQ(factory->CreateInstance(factory.get(), iid, created.put_void()), kClassENoAggregation);
        }
        EXPECT_EQ(factory->QueryInterface(kIidIUnknown, nullptr), kEInvalidArg);
    }
    // Locks are counted; counted objects keep the module loaded.
    ComPtr<IClassFactory> factory = Factory(kFilterClsid);
    for (BOOL lock : {kTrue, kTrue, kFalse}) {
        EXPECT_EQ(factory->LockServer(lock), kSOk);
    }
    EXPECT_EQ(DllCanUnloadNow(), kSFalse);
    EXPECT_EQ(factory->LockServer(kFalse), kSOk);
    {
        const credprov::CountedObject alive;
        EXPECT_EQ(DllCanUnloadNow(), kSFalse);
    }
    EXPECT_EQ(DllCanUnloadNow(), kSOk);
}

// The interface layout is our own declaration: checked against the published identifiers and values.
static_assert(CPUS_LOGON == 1 && CPUS_CHANGE_PASSWORD == 3 && CPUS_CREDUI == 4 && CPUS_PLAP == 5);
static_assert(CPFT_LARGE_TEXT == 1 && CPFT_SMALL_TEXT == 2 && CPFT_COMMAND_LINK == 3 &&
              CPFT_PASSWORD_TEXT == 5 && CPFT_SUBMIT_BUTTON == 9);
static_assert(CPCFO_ENABLE_PASSWORD_REVEAL == 1 && CPCFO_IS_EMAIL_ADDRESS == 2 && CPCFO_NUMBERS_ONLY == 8);
static_assert(CPGSR_NO_CREDENTIAL_FINISHED == 1 && CPGSR_RETURN_CREDENTIAL_FINISHED == 2 &&
              CPGSR_RETURN_NO_CREDENTIAL_FINISHED == 3);

TEST(ComServerTest, ClassAndInterfaceIdsAreTheSystems) {
    const std::pair<CLSID, const char*> ids[] = {
        {kDefaultWrappedClsid, "{4C00D5F4-6C53-46B0-923C-DE2D2654D784}"},
        {kPasswordProviderClsid, "{60B78E88-EAD8-445C-9CFD-0B87F74EA6CD}"},
        {kSecondFallbackClsid, "{6F45DC1E-5384-457A-BC13-2CD81B0D28ED}"},
        {kHiddenPasswordProviderClsid, "{25CBB996-92ED-457E-B28C-4774084BD562}"},
        {ICredentialProvider::kIid, "{D27C3481-5A1C-45B2-8AAA-C20EBBE8229E}"},
        {ICredentialProviderCredential::kIid, "{63913A93-40C1-481A-818D-4072FF8C70CC}"},
        {ICredentialProviderCredential2::kIid, "{FD672C54-40EA-4D6E-9B49-CFB1A7507BD7}"},
        {ICredentialProviderCredentialEvents::kIid, "{FA6FA76B-66B7-4B11-95F1-86171118E816}"},
        {ICredentialProviderCredentialEvents2::kIid, "{B53C00B6-9922-4B78-B1F4-DDFE774DC39B}"},
        {ICredentialProviderEvents::kIid, "{34201E5A-A787-41A3-A5A4-BD6DCF2A854E}"},
        {ICredentialProviderFilter::kIid, "{A5DA53F9-D475-4080-A120-910C4A739880}"}};
    for (const auto& [clsid, text] : ids) {
        EXPECT_EQ(Utf16ToUtf8(GuidToString(clsid)), text);
    }
}

TEST(ComServerTest, RegistrationFaults) {
    FakeRegistry registry;
    const auto has = [&](int i) {
        return registry.HasKey(WString(KW("HKEY_CLASSES_ROOT\\")) + kServerRegistryKeys[i]);
    };
    // Another server's class shares the CLSID key and must survive.
    const WString other = KW("HKEY_CLASSES_ROOT\\CLSID\\{0b0b0b0b-1111-2222-3333-000000000001}");
    registry.PutString(other, KW(""), KW("Other"));
    ASSERT_EQ(DllRegisterServer(), kSOk);
    // Unregistering goes on past a key it cannot delete (the provider's), and nothing left is a success.
    registry.FailNext(platform::MemoryRegistry::Op::DeleteKey, winerr::kAccessDenied, KW("33592d29"));
    EXPECT_EQ(DllUnregisterServer(), kSOk);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(has(i), i < 2) << i;
    }
    EXPECT_EQ(DllUnregisterServer(), kSOk);
    EXPECT_FALSE(has(0));
    EXPECT_TRUE(registry.HasKey(other));
    // Registration stops at the first failing write; errors come back as HRESULTs.
    registry.FailNext(platform::MemoryRegistry::Op::SetValue, winerr::kDiskFull, KW("2c766ae5"));
    EXPECT_EQ(DllRegisterServer(), HResultFromWin32(winerr::kDiskFull));
    EXPECT_TRUE(has(0));
    EXPECT_FALSE(has(2));
    registry.FailNext(platform::MemoryRegistry::Op::Connect, winerr::kAccessDenied);
    EXPECT_EQ(DllRegisterServer(), HResultFromWin32(winerr::kAccessDenied));
    registry.FailNext(platform::MemoryRegistry::Op::Connect, winerr::kBadNetpath);
    EXPECT_EQ(DllUnregisterServer(), HResultFromWin32(winerr::kBadNetpath));
}

TEST(FilterTest, SettingsHostileArgumentsAndRemoteCredentials) {
    const std::vector<CLSID> providers = {kProviderClsid,       kPasswordProviderClsid,
                                          kSecondFallbackClsid, kHiddenPasswordProviderClsid,
                                          kDefaultWrappedClsid, kUnrelated};
    // The setting (null: absent), an unopenable registry, the trace; the fixed set goes, the wrapper stays.
    const std::tuple<const WChar*, bool, const char*> rows[] = {
        {nullptr, false, "No specific CLSID was found to filter out."},
        {KW("{33592D29-4C1D-4732-A607-D01A81215385}"), false, "Filter - CPUS: 0, ProviderCount: 6"},
        {KW("garbage"), false,
         "'FilterCredProvCLSID' at 'SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards'. Errorcode -2147221005"},
        // A filter that could not read its settings is handed out all the same.
        {KW("{0b0b0b0b-1111-2222-3333-000000000001}"), true,
         "initializing credential provider filter. Errorcode 5."}};
    for (const auto& [setting, failConnect, traced] : rows) {
        FakeRegistry registry;
        LogCapture capture;
        if (setting != nullptr) {
            registry.PutString(WString(KW("HKEY_LOCAL_MACHINE\\")) + kWizardsPolicyKey, kFilterClsidValue,
                               setting);
        }
        if (failConnect) {
            registry.FailNext(platform::MemoryRegistry::Op::Connect, winerr::kAccessDenied);
        }
        ComPtr<ICredentialProviderFilter> filter = MakeFilter();
        // Proposed as allowed, the hidden set goes; proposed as hidden, only the wrapper comes back.
        for (BOOL proposed : {kTrue, kFalse}) {
            std::vector<CLSID> clsids = providers;
            std::vector<BOOL> allow(providers.size(), proposed);
            ASSERT_EQ(filter->Filter(CPUS_INVALID, 0xFFFFFFFFu, clsids.data(), allow.data(), 6), kSOk);
            EXPECT_EQ(allow, std::vector<BOOL>({kTrue, kFalse, kFalse, kFalse, kFalse, proposed}));
        }
        EXPECT_TRUE(Contains(capture.Trace(), traced)) << traced;
    }

    // Hostile arguments get errors.
    FakeRegistry registry;
    ComPtr<ICredentialProviderFilter> filter = MakeFilter();
    CLSID clsid = kPasswordProviderClsid;
    BOOL allow = kTrue;
    EXPECT_EQ(filter->Filter(CPUS_LOGON, 0, nullptr, &allow, 1), kEInvalidArg);
    EXPECT_EQ(filter->Filter(CPUS_LOGON, 0, &clsid, nullptr, 1), kEInvalidArg);
    EXPECT_EQ(filter->Filter(CPUS_LOGON, 0, nullptr, nullptr, 0), kSOk);
    EXPECT_EQ(allow, kTrue);

    // A remote credential goes to the wrapper; without bytes, or when the copy fails, it carries none.
    uint8_t bytes[] = {1, 2, 3};
    for (const auto& [size, nth, expected] : {std::tuple(0u, -1, kSOk), std::tuple(3u, 0, kEOutOfMemory)}) {
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in{7, kPasswordProviderClsid, size, bytes};
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{0, kGuidNull, 99, bytes};
        ScopedAllocationFailure failure(nth);
        EXPECT_EQ(filter->UpdateRemoteCredential(&in, &out), expected);
        EXPECT_EQ(std::tuple(SameGuid(out.clsidCredentialProvider, kProviderClsid),
                             out.ulAuthenticationPackage, out.cbSerialization, out.rgbSerialization),
                  std::tuple(true, 7u, 0u, nullptr));
    }
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION promised{7, kPasswordProviderClsid, 8, nullptr}, out{};
    EXPECT_EQ(filter->UpdateRemoteCredential(&promised, &out), kEInvalidArg);
    EXPECT_EQ(filter->UpdateRemoteCredential(&promised, nullptr), kEInvalidArg);
    EXPECT_EQ(filter->UpdateRemoteCredential(nullptr, &out), kEInvalidArg);
}

TEST_F(ProviderTest, WrappedProviderFallsBackInOrder) {
    // Registered, configured, the adapters' layout (-1: no provider), the link kept (not by the default's).
    const std::tuple<std::vector<CLSID>, CLSID, int, bool> rows[] = {
        {{kClsidTestProvider, kPasswordProviderClsid}, kClsidTestProvider, 0, true},
        {{kDefaultWrappedClsid}, kDefaultWrappedClsid, 1, false},
        {{kPasswordProviderClsid, kSecondFallbackClsid}, kClsidTestProvider, 2, true},
        {{kSecondFallbackClsid}, kDefaultWrappedClsid, 0, true},
        {{}, kClsidTestProvider, -1, false}};
    EnableLink();
    AddCredential();
    for (const auto& [registered, configured, options, linkKept] : rows) {
        registrations_.clear();
        for (const CLSID& clsid : registered) {
            RegisterWrapped(clsid);
        }
        Wrap(configured);
        ComPtr<ICredentialProvider> provider = Create();
        const HRESULT hr = provider->SetUsageScenario(CPUS_LOGON, 0);
        if (options < 0) {
            EXPECT_TRUE(Failed(hr));
            EXPECT_EQ(provider->GetFieldDescriptorCount(&count_), kEUnexpected) << "inert without a provider";
            continue;
        }
        ASSERT_EQ(hr, kSOk);
        ASSERT_EQ(provider->GetFieldDescriptorCount(&count_), kSOk);
        EXPECT_EQ(count_, linkKept ? 11u : 10u);
        UniqueFieldDescriptor link;  // the link is the field after the wrapped ones, with the next ID
        EXPECT_EQ(provider->GetFieldDescriptorAt(10, link.put()), linkKept ? kSOk : kEInvalidArg);
        EXPECT_TRUE(!linkKept || (link.get()->dwFieldID == 10u && link.get()->cpft == CPFT_COMMAND_LINK));
        ASSERT_EQ(Enumerate(provider.get()), kSOk);
        EXPECT_TRUE(Contains(capture_.Trace(),
                             "cGjCredentialProviderCredentialV2::Initialize - "
                             "WrappedDescriptorCount: 10, CPUS: 1, EnabledProducts: " +
                                 std::to_string(linkKept ? 1 : 0) + ", Options: " + std::to_string(options)));
    }
}

TEST_F(ProviderTest, SerializationAddressedToThisProviderIsReaddressed) {
    Start(CPUS_CREDUI);
    uint8_t bytes[] = {1, 2, 3, 4, 5};
    const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION ours{7, kProviderClsid, 5, bytes},
        other{7, kSecondFallbackClsid, 5, bytes};
    for (const auto* s : {&ours, &other, static_cast<decltype(&ours)>(nullptr)}) {
        ASSERT_EQ(provider_->SetSerialization(s), kSOk);
    }
    const auto& passed = wrapped_.serializations;
    ASSERT_EQ(passed.size(), 3u);
    EXPECT_TRUE(SameGuid(passed[0]->clsidCredentialProvider, kClsidTestProvider));
    EXPECT_EQ(std::tuple(passed[0]->cbSerialization, passed[0]->ulAuthenticationPackage), std::tuple(5u, 7u));
    EXPECT_TRUE(SameGuid(passed[1]->clsidCredentialProvider, kSecondFallbackClsid));
    EXPECT_FALSE(passed[2]);
    EXPECT_TRUE(SameGuid(ours.clsidCredentialProvider, kProviderClsid)) << "the caller's copy is not touched";
}

TEST_F(ProviderTest, CallsInTheWrongOrderAndNullPointersGetErrors) {
    AddCredential();
    ComPtr<ICredentialProvider> provider = Create();
    ComPtr<ICredentialProviderCredential> credential;
    CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* descriptor = nullptr;
    // Before SetUsageScenario nothing is wrapped.
    EXPECT_EQ(provider->GetCredentialAt(0, credential.put()), kEInvalidArg);
    EXPECT_EQ(provider->GetFieldDescriptorCount(&count_), kEUnexpected);
    EXPECT_EQ(provider->GetFieldDescriptorAt(0, &descriptor), kEUnexpected);
    EXPECT_EQ(Enumerate(provider.get()), kEUnexpected);
    EXPECT_EQ(provider->Advise(nullptr, 5), kEUnexpected);
    EXPECT_EQ(provider->UnAdvise(), kEUnexpected);
    EXPECT_EQ(provider->SetSerialization(nullptr), kEUnexpected);

    ASSERT_EQ(provider->SetUsageScenario(CPUS_LOGON, 0), kSOk);
    EXPECT_EQ(provider->GetFieldDescriptorCount(nullptr), kEInvalidArg);
    EXPECT_EQ(provider->GetFieldDescriptorAt(0, nullptr), kEInvalidArg);
    EXPECT_EQ(provider->GetCredentialCount(nullptr, &default_, &autoLogon_), kEInvalidArg);
    EXPECT_EQ(provider->GetCredentialCount(&count_, nullptr, &autoLogon_), kEInvalidArg);
    EXPECT_EQ(provider->GetCredentialCount(&count_, &default_, nullptr), kEInvalidArg);
    EXPECT_EQ(provider->QueryInterface(IidOf<ICredentialProvider>(), nullptr), kEInvalidArg);
    EXPECT_EQ(provider->Advise(nullptr, 5), kSOk);
    EXPECT_EQ(provider->UnAdvise(), kSOk);
    EXPECT_EQ(provider->UnAdvise(), kSOk) << "a second UnAdvise is the wrapped provider's to judge";
    ASSERT_EQ(Enumerate(provider.get()), kSOk);
    EXPECT_EQ(provider->GetCredentialAt(count_, credential.put()), kEInvalidArg);
    EXPECT_EQ(provider->GetCredentialAt(0, nullptr), kEInvalidArg);
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(provider.As(&factory), kENoInterface) << "the wrapped provider's to answer; it has none either";
    // A scenario the wrapped provider refuses leaves the provider inert.
    wrapped_.FailNext("SetUsageScenario", kENotImpl);
    EXPECT_EQ(provider->SetUsageScenario(CPUS_PLAP, 0), kENotImpl);
    EXPECT_EQ(Enumerate(provider.get()), kEUnexpected);
}

TEST_F(ProviderTest, WrappedProviderFailingOrLyingAtEachStep) {
    // Failing method (null: counts reported instead), credentials, fields, first result (S_OK: any failure).
    const std::tuple<const char*, std::optional<DWORD>, std::optional<DWORD>, HRESULT> rows[] = {
        {"SetUsageScenario", {}, {}, kEFail},     {"GetFieldDescriptorCount", {}, {}, kEFail},
        {"GetCredentialCount", {}, {}, kEFail},   {"GetCredentialAt", {}, {}, kEFail},
        {"QueryInterface", {}, {}, kSOk},         {"CreateInstance", {}, {}, kSOk},
        {nullptr, 0xFFFFFFFFu, {}, kEUnexpected}, {nullptr, 3, {}, kEInvalidArg},  // absurd, more than given
        {nullptr, {}, 0xFFFFFFFFu, kEUnexpected}};
    AddCredential();
    AddCredential(GenericFields(), false);
    for (const auto& [method, credentials, fields, expected] : rows) {
        SCOPED_TRACE(method != nullptr ? method : "counts");
        if (method != nullptr) {
            (std::string(method) == "CreateInstance"
                 ? static_cast<FakeCom<IClassFactory>&>(factory_).FailNext(method, kEFail)
                 : wrapped_.FailNext(method, kEFail));
        }
        wrapped_.reportedCredentialCount = credentials;
        wrapped_.reportedFieldCount = fields;
        ComPtr<ICredentialProvider> provider = Create();
        HRESULT hr = provider->SetUsageScenario(CPUS_LOGON, 0);
        hr = Succeeded(hr) ? provider->GetFieldDescriptorCount(&count_) : hr;
        hr = Succeeded(hr) ? Enumerate(provider.get()) : hr;
        EXPECT_TRUE(expected == kSOk ? Failed(hr) : hr == expected) << std::hex << hr;
        ComPtr<ICredentialProviderCredential> credential;
        EXPECT_EQ(provider->GetCredentialAt(0, credential.put()), kEInvalidArg)
            << "nothing half-made is handed out";
    }
}

TEST_F(ProviderTest, AllocationFailuresDuringEnumerationLeakNothing) {
    AddCredential();
    AddCredential(GenericFields(), false);
    EnableLink();
    Start(CPUS_LOGON);
    int failures = 0;
    for (int nth = 0; nth < 40; ++nth) {
        ScopedAllocationFailure failure(nth);
        const HRESULT hr = Enumerate(provider_.get());
        UniqueFieldDescriptor link;
        const HRESULT linkHr = provider_->GetFieldDescriptorAt(10, link.put());
        EXPECT_EQ(Succeeded(linkHr), static_cast<bool>(link));
        failures += failure.Triggered() ? 1 : 0;
        EXPECT_TRUE(hr == kSOk || (failure.Triggered() && hr == kEOutOfMemory)) << nth;
    }
    EXPECT_GT(failures, 3) << "the injected failures reached the provider";
}

TEST_F(ProviderTest, ConfigurationAndCreationAreTraced) {
    // At the end of time no failed load of the localised texts is remembered: each creation tries again.
    FakeClock clock;
    platform::ScopedClockOverride useClock(&clock);
    clock.now = std::numeric_limits<int64_t>::max();
    const WString locale = WString(KW("HKEY_LOCAL_MACHINE\\")) + kLocalePolicyKey;
    for (const bool loads : {false, true, false}) {
        loads ? registry_.PutDword(locale, kLocaleFileValue, 1)  // not a path: no texts to load
              : registry_.PutString(locale, kLocaleFileValue, capture_.Path(KW("missing.txt")));
        const size_t before = capture_.Trace().size();
        EXPECT_TRUE(Create());
        EXPECT_EQ(Contains(capture_.Trace().substr(before), "Error initializing language manager"), !loads);
    }
    // A registry that cannot be opened: the provider is handed out all the same, with nothing switched on.
    registry_.FailNext(platform::MemoryRegistry::Op::Connect, winerr::kAccessDenied);
    RegisterWrapped(kPasswordProviderClsid);
    ASSERT_TRUE(Start(CPUS_LOGON));
    EXPECT_TRUE(Contains(capture_.Trace(), "Error: Error initializing credential provider. Errorcode 5."));
    EXPECT_EQ(provider_->GetFieldDescriptorCount(&count_), kSOk);
    EXPECT_EQ(count_, 10u) << "no link";
}

}  // namespace
}  // namespace korva::testing
