// The provider filter: which providers it hides for each FilterCredProvCLSID setting, the re-addressed remote
// credential, and its trace lines, driven through the factory as the logon user interface creates it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "credprov/class_ids.h"
#include "credprov/credential_provider_abi.h"
#include "credprov/credential_provider_filter.h"
#include "credprov/dll_exports.h"
#include "credprov/provider_settings.h"
#include "log_capture.h"
#include "platform/memory_registry.h"

namespace korva {
namespace {

using com::BOOL;
using com::ComPtr;
using com::kFalse;
using com::kTrue;

constexpr com::CLSID kUnrelatedClsid = {0x0B0B0B0B, 0x1111, 0x2222, {0x33, 0x33, 0, 0, 0, 0, 0, 0x01}};
constexpr com::CLSID kExtraClsid = {0x0C0C0C0C, 0x4444, 0x5555, {0x66, 0x66, 0, 0, 0, 0, 0, 0x02}};
const WChar* const kExtraClsidText = KW("{0c0c0c0c-4444-5555-6666-000000000002}");

class FilterTest : public ::testing::Test {
  protected:
    // The filter as the logon user interface gets it: through DllGetClassObject and the factory.
    ComPtr<com::ICredentialProviderFilter> CreateFilter() {
        ComPtr<com::IClassFactory> factory;
        EXPECT_EQ(DllGetClassObject(kFilterClsid, com::kIidIClassFactory, factory.put_void()), kSOk);
        ComPtr<com::ICredentialProviderFilter> filter;
        if (factory) {
            EXPECT_EQ(
                factory->CreateInstance(nullptr, com::ICredentialProviderFilter::kIid, filter.put_void()),
                kSOk);
        }
        return filter;
    }
    platform::MemoryRegistry registry_;
    platform::ScopedRegistryOverride override_{&registry_};
    testing::LogCapture log_;
};

// Runs Filter over every interesting provider twice: once proposed as allowed, once as hidden.
std::vector<BOOL> Decide(com::ICredentialProviderFilter* filter, const std::vector<com::CLSID>& providers,
                         BOOL proposed) {
    std::vector<com::CLSID> clsids = providers;
    std::vector<BOOL> allow(providers.size(), proposed);
    EXPECT_EQ(filter->Filter(com::CPUS_LOGON, 0, clsids.data(), allow.data(),
                             static_cast<com::DWORD>(allow.size())),
              kSOk);
    return allow;
}

TEST_F(FilterTest, HiddenSetForEachSetting) {
    const std::vector<com::CLSID> providers = {kProviderClsid,       kPasswordProviderClsid,
                                               kSecondFallbackClsid, kHiddenPasswordProviderClsid,
                                               kDefaultWrappedClsid, kExtraClsid,
                                               kUnrelatedClsid};
    struct Row {
        const char* name;
        const WChar* setting;  // null: the value is absent
        // Decisions for the providers above when the logon user interface proposes each as allowed.
        std::vector<BOOL> allowed;
    };
    const Row rows[] = {
        {"no setting", nullptr, {kTrue, kFalse, kFalse, kFalse, kFalse, kTrue, kTrue}},
        {"empty setting", KW(""), {kTrue, kFalse, kFalse, kFalse, kFalse, kTrue, kTrue}},
        {"an extra provider", kExtraClsidText, {kTrue, kFalse, kFalse, kFalse, kFalse, kFalse, kTrue}},
        {"the extra provider in upper case",
         KW("{0C0C0C0C-4444-5555-6666-000000000002}"),
         {kTrue, kFalse, kFalse, kFalse, kFalse, kFalse, kTrue}},
        // Naming the wrapper cannot hide it.
        {"the wrapper itself",
         KW("{33592D29-4C1D-4732-A607-D01A81215385}"),
         {kTrue, kFalse, kFalse, kFalse, kFalse, kTrue, kTrue}},
        {"text that is not a CLSID",
         KW("not-a-clsid"),
         {kTrue, kFalse, kFalse, kFalse, kFalse, kTrue, kTrue}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform::MemoryRegistry registry;
        platform::ScopedRegistryOverride use(&registry);
        if (row.setting != nullptr) {
            registry.PutString(WString(KW("HKEY_LOCAL_MACHINE\\")) + kWizardsPolicyKey, kFilterClsidValue,
                               row.setting);
        }
        ComPtr<com::ICredentialProviderFilter> filter = CreateFilter();
        ASSERT_TRUE(filter);
        EXPECT_EQ(Decide(filter.get(), providers, kTrue), row.allowed);
        // Proposed as hidden, only the wrapper comes back: the filter hides, it never allows anyone else.
        std::vector<BOOL> hidden(providers.size(), kFalse);
        hidden[0] = kTrue;
        EXPECT_EQ(Decide(filter.get(), providers, kFalse), hidden);
    }
}

TEST_F(FilterTest, ScenarioAndFlagsDoNotMatter) {
    ComPtr<com::ICredentialProviderFilter> filter = CreateFilter();
    ASSERT_TRUE(filter);
    for (auto cpus : {com::CPUS_LOGON, com::CPUS_UNLOCK_WORKSTATION, com::CPUS_CHANGE_PASSWORD,
                      com::CPUS_CREDUI, com::CPUS_PLAP, com::CPUS_INVALID}) {
        com::CLSID clsids[] = {kPasswordProviderClsid, kProviderClsid, kUnrelatedClsid};
        BOOL allow[] = {kTrue, kFalse, kTrue};
        EXPECT_EQ(filter->Filter(cpus, 0xFFFFFFFFu, clsids, allow, 3), kSOk);
        EXPECT_EQ(allow[0], kFalse);
        EXPECT_EQ(allow[1], kTrue);
        EXPECT_EQ(allow[2], kTrue);
    }
}

TEST_F(FilterTest, HostileArguments) {
    ComPtr<com::ICredentialProviderFilter> filter = CreateFilter();
    ASSERT_TRUE(filter);
    com::CLSID clsid = kPasswordProviderClsid;
    BOOL allow = kTrue;
    EXPECT_EQ(filter->Filter(com::CPUS_LOGON, 0, nullptr, &allow, 1), kEInvalidArg);
    EXPECT_EQ(filter->Filter(com::CPUS_LOGON, 0, &clsid, nullptr, 1), kEInvalidArg);
    EXPECT_EQ(allow, kTrue);
    EXPECT_EQ(filter->Filter(com::CPUS_LOGON, 0, nullptr, nullptr, 0), kSOk);
    com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in{};
    EXPECT_EQ(filter->UpdateRemoteCredential(&in, nullptr), kEInvalidArg);
    EXPECT_EQ(filter->UpdateRemoteCredential(nullptr, &in), kEInvalidArg);
    com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
    in.cbSerialization = 8;  // bytes promised but none given
    EXPECT_EQ(filter->UpdateRemoteCredential(&in, &out), kEInvalidArg);
}

TEST_F(FilterTest, QueryInterface) {
    ComPtr<com::ICredentialProviderFilter> filter = CreateFilter();
    ASSERT_TRUE(filter);
    ComPtr<com::IUnknown> unknown;
    EXPECT_EQ(filter.As(&unknown), kSOk);
    ComPtr<com::ICredentialProvider> provider;
    EXPECT_EQ(filter.As(&provider), kENoInterface);
    EXPECT_FALSE(provider);
    EXPECT_EQ(filter->QueryInterface(com::kIidIUnknown, nullptr), kEInvalidArg);
}

TEST_F(FilterTest, RemoteCredentialIsReaddressedToTheWrapper) {
    ComPtr<com::ICredentialProviderFilter> filter = CreateFilter();
    ASSERT_TRUE(filter);
    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
        int failAllocation;  // -1: none
        com::HRESULT expected;
    };
    const Row rows[] = {
        {"empty", {}, -1, kSOk},
        {"bytes", {1, 2, 3, 4, 5, 6, 7, 8, 9}, -1, kSOk},
        {"copy cannot be allocated", {1, 2, 3}, 0, kEOutOfMemory},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> bytes = row.bytes;
        com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in{};
        in.ulAuthenticationPackage = 7;
        in.clsidCredentialProvider = kPasswordProviderClsid;
        in.cbSerialization = static_cast<com::ULONG>(bytes.size());
        in.rgbSerialization = bytes.empty() ? nullptr : bytes.data();
        com::CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
        out.cbSerialization = 99;
        com::HRESULT hr;
        {
            com::ScopedAllocationFailure failure(row.failAllocation);
            hr = filter->UpdateRemoteCredential(&in, &out);
        }
        EXPECT_EQ(hr, row.expected);
        EXPECT_TRUE(com::SameGuid(out.clsidCredentialProvider, kProviderClsid));
        EXPECT_EQ(out.ulAuthenticationPackage, 7u);
        com::UniqueTaskMem<uint8_t> copy(out.rgbSerialization);
        if (hr == kSOk && !bytes.empty()) {
            // A copy of its own, not the caller's buffer.
            ASSERT_NE(copy.get(), nullptr);
            EXPECT_NE(copy.get(), bytes.data());
            EXPECT_EQ(std::vector<uint8_t>(copy.get(), copy.get() + out.cbSerialization), bytes);
        } else {
            EXPECT_EQ(copy.get(), nullptr);
            EXPECT_EQ(out.cbSerialization, 0u);
        }
    }
}

TEST_F(FilterTest, TraceLines) {
    struct Row {
        const char* name;
        const WChar* setting;  // null: the value is absent
        bool failConnect;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"absent value",
         nullptr,
         false,
         {"cGbCredentialProviderFilter::CreateInstance - riid: -1512418311",
          "cGbCredentialProviderFilter::Initialize",
          "Error getting registry key 'FilterCredProvCLSID' at "
          "'SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards'. "
          "Errorcode 2",
          "No specific CLSID was found to filter out."}},
        {"not a CLSID",
         KW("garbage"),
         false,
         {"Error getting registry key 'FilterCredProvCLSID' at "
          "'SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards'. "
          "Errorcode -2147221005"}},
        {"registry cannot be opened",
         kExtraClsidText,
         true,
         {"Error connecting to registry. Errorcode 5",
          "Error initializing credential provider filter. Errorcode 5."}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform::MemoryRegistry registry;
        platform::ScopedRegistryOverride use(&registry);
        testing::LogCapture log;
        if (row.setting != nullptr) {
            registry.PutString(WString(KW("HKEY_LOCAL_MACHINE\\")) + kWizardsPolicyKey, kFilterClsidValue,
                               row.setting);
        }
        if (row.failConnect) {
            registry.FailNext(platform::MemoryRegistry::Op::Connect, winerr::kAccessDenied);
        }
        ComPtr<com::ICredentialProviderFilter> filter = CreateFilter();
        // A filter that could not read its settings is handed out all the same, hiding the fixed set.
        ASSERT_TRUE(filter);
        com::CLSID clsid = kDefaultWrappedClsid;
        BOOL allow = kTrue;
        EXPECT_EQ(filter->Filter(com::CPUS_CREDUI, 0, &clsid, &allow, 1), kSOk);
        EXPECT_EQ(allow, kFalse);
        const std::string trace = log.Trace();
        for (const std::string& line : row.expected) {
            EXPECT_NE(trace.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << trace;
        }
        EXPECT_NE(trace.find("cGbCredentialProviderFilter::Filter - CPUS: 4, ProviderCount: 1"),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace korva
