// The module's COM server: DllGetClassObject and its class factory, the object count behind DllCanUnloadNow,
// and the keys DllRegisterServer and DllUnregisterServer write and remove (against an in-memory registry
// whose every write can fail).
#include <gtest/gtest.h>

#include <string>

#include "credprov/class_ids.h"
#include "credprov/credential_provider_abi.h"
#include "credprov/dll_exports.h"
#include "credprov/object_count.h"
#include "infra/registry_connection.h"
#include "platform/memory_registry.h"

namespace korva {
namespace {

using com::ComPtr;

constexpr com::CLSID kUnrelatedClsid = {0x0B0B0B0B, 0x1111, 0x2222, {0x33, 0x33, 0, 0, 0, 0, 0, 0x01}};

TEST(DllGetClassObjectTest, HandsOutAFactoryForEachOwnClsidOnly) {
    struct Row {
        const char* name;
        com::CLSID clsid;
        com::IID iid;
        com::HRESULT expected;
    };
    const Row rows[] = {
        {"provider, IClassFactory", kProviderClsid, com::kIidIClassFactory, kSOk},
        {"filter, IClassFactory", kFilterClsid, com::kIidIClassFactory, kSOk},
        {"provider, IUnknown", kProviderClsid, com::kIidIUnknown, kSOk},
        {"filter, a provider interface", kFilterClsid, com::ICredentialProvider::kIid, kENoInterface},
        {"the wrapped provider's CLSID", kDefaultWrappedClsid, com::kIidIClassFactory,
         kClassEClassNotAvailable},
        {"an unrelated CLSID", kUnrelatedClsid, com::kIidIClassFactory, kClassEClassNotAvailable},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        void* sentinel = reinterpret_cast<void*>(0x5E5E);
        void* out = sentinel;
        EXPECT_EQ(DllGetClassObject(row.clsid, row.iid, &out), row.expected);
        if (row.expected == kSOk) {
            ASSERT_NE(out, nullptr);
            static_cast<com::IUnknown*>(out)->Release();
        } else if (row.expected == kClassEClassNotAvailable) {
            // A class this module does not serve: the out-pointer is not written.
            EXPECT_EQ(out, sentinel);
        } else {
            EXPECT_EQ(out, nullptr);
        }
    }
    EXPECT_EQ(DllCanUnloadNow(), kSOk);
}

TEST(DllGetClassObjectTest, NullOutPointerAndOutOfMemory) {
    EXPECT_EQ(DllGetClassObject(kProviderClsid, com::kIidIClassFactory, nullptr), kEInvalidArg);
    com::ScopedAllocationFailure failure(0);
    void* out = nullptr;
    EXPECT_EQ(DllGetClassObject(kProviderClsid, com::kIidIClassFactory, &out), kEOutOfMemory);
    EXPECT_EQ(out, nullptr);
}

ComPtr<com::IClassFactory> Factory(const com::CLSID& clsid) {
    ComPtr<com::IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(clsid, com::kIidIClassFactory, factory.put_void()), kSOk);
    return factory;
}

TEST(ClassFactoryTest, CreatesByTheInterfaceAskedFor) {
    // An IUnknown standing in for an outer object; it is never called.
    ComPtr<com::IClassFactory> outer = Factory(kFilterClsid);
    struct Row {
        const char* name;
        bool withOuter;
        com::IID iid;
        com::HRESULT expected;
    };
    const Row rows[] = {
        // Aggregation is refused before the interface is looked at.
        {"outer object, filter interface", true, com::ICredentialProviderFilter::kIid, kClassENoAggregation},
        {"outer object, IUnknown", true, com::kIidIUnknown, kClassENoAggregation},
        // Only the two provider interfaces create objects.
        {"IUnknown", false, com::kIidIUnknown, kENoInterface},
        {"IClassFactory", false, com::kIidIClassFactory, kENoInterface},
        {"a credential interface", false, com::ICredentialProviderCredential::kIid, kENoInterface},
        {"the filter interface", false, com::ICredentialProviderFilter::kIid, kSOk},
        // Both factories make either class: the interface decides, not the CLSID.
        {"the provider interface", false, com::ICredentialProvider::kIid, kSOk},
    };
    for (const com::CLSID& clsid : {kProviderClsid, kFilterClsid}) {
        ComPtr<com::IClassFactory> factory = Factory(clsid);
        ASSERT_TRUE(factory);
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            ComPtr<com::IUnknown> created;
            EXPECT_EQ(
                factory->CreateInstance(row.withOuter ? outer.get() : nullptr, row.iid, created.put_void()),
                row.expected);
            EXPECT_EQ(static_cast<bool>(created), row.expected == kSOk);
        }
    }
}

TEST(ClassFactoryTest, QueryInterfaceAnswersOnlyItsOwnInterfaces) {
    ComPtr<com::IClassFactory> factory = Factory(kProviderClsid);
    ComPtr<com::IUnknown> unknown;
    EXPECT_EQ(factory.As(&unknown), kSOk);
    ComPtr<com::ICredentialProviderFilter> filter;
    EXPECT_EQ(factory.As(&filter), kENoInterface);
    EXPECT_FALSE(filter);
    EXPECT_EQ(factory->QueryInterface(com::kIidIUnknown, nullptr), kEInvalidArg);
}

TEST(DllCanUnloadNowTest, FollowsLocksAndCountedObjects) {
    ComPtr<com::IClassFactory> factory = Factory(kFilterClsid);
    // The factory itself does not keep the module loaded.
    EXPECT_EQ(DllCanUnloadNow(), kSOk);
    EXPECT_EQ(factory->LockServer(com::kTrue), kSOk);
    EXPECT_EQ(factory->LockServer(com::kTrue), kSOk);
    EXPECT_EQ(factory->LockServer(com::kFalse), kSOk);
    EXPECT_EQ(DllCanUnloadNow(), kSFalse);
    EXPECT_EQ(factory->LockServer(com::kFalse), kSOk);
    EXPECT_EQ(DllCanUnloadNow(), kSOk);
    {
        const credprov::CountedObject alive;
        EXPECT_EQ(DllCanUnloadNow(), kSFalse);
    }
    EXPECT_EQ(DllCanUnloadNow(), kSOk);
    // Neither does a filter.
    ComPtr<com::ICredentialProviderFilter> filter;
    ASSERT_EQ(factory->CreateInstance(nullptr, com::ICredentialProviderFilter::kIid, filter.put_void()),
              kSOk);
    EXPECT_EQ(DllCanUnloadNow(), kSOk);
}

// A registry whose n-th CreateKey or SetValue fails; everything else goes to an in-memory registry.
class FailingWriteRegistry final : public platform::Registry {
  public:
    enum class Step { CreateKey, SetValue };
    FailingWriteRegistry(platform::MemoryRegistry* inner, Step step, int nth, int32_t code)
        : inner_(inner), step_(step), nth_(nth), code_(code) {}

    int32_t Connect(const WChar* machine, platform::RegKey root, platform::RegKey* out) override {
        return inner_->Connect(machine, root, out);
    }
    int32_t OpenKey(platform::RegKey parent, const WChar* subKey, uint32_t access,
                    platform::RegKey* out) override {
        return inner_->OpenKey(parent, subKey, access, out);
    }
    int32_t CreateKey(platform::RegKey parent, const WChar* subKey, uint32_t access,
                      platform::RegKey* out) override {
        if (step_ == Step::CreateKey && calls_++ == nth_) {
            return code_;
        }
        return inner_->CreateKey(parent, subKey, access, out);
    }
    int32_t QueryValue(platform::RegKey key, const WChar* name, uint32_t* type, uint8_t* data,
                       uint32_t* size) override {
        return inner_->QueryValue(key, name, type, data, size);
    }
    int32_t SetValue(platform::RegKey key, const WChar* name, uint32_t type, const uint8_t* data,
                     uint32_t size) override {
        if (step_ == Step::SetValue && calls_++ == nth_) {
            return code_;
        }
        return inner_->SetValue(key, name, type, data, size);
    }
    int32_t DeleteKey(platform::RegKey parent, const WChar* subKey) override {
        return inner_->DeleteKey(parent, subKey);
    }
    int32_t DeleteValue(platform::RegKey key, const WChar* name) override {
        return inner_->DeleteValue(key, name);
    }
    int32_t CloseKey(platform::RegKey key) override { return inner_->CloseKey(key); }

  private:
    platform::MemoryRegistry* inner_;
    Step step_;
    int nth_;
    int32_t code_;
    int calls_ = 0;
};

WString RootPath(const WChar* key) {
    return WString(KW("HKEY_CLASSES_ROOT\\")) + key;
}

// The text of a registered value, or "(missing)".
std::string ReadBack(const ServerRegistryValue& value) {
    RegistryConnection registry;
    if (registry.Connect(nullptr, platform::kHkeyClassesRoot) != 0) {
        return "(no registry)";
    }
    WString text;
    if (registry.ReadString(value.key, value.valueName, &text) != 0) {
        return "(missing)";
    }
    return Utf16ToUtf8(text);
}

class ServerRegistrationTest : public ::testing::Test {
  protected:
    platform::MemoryRegistry registry_;
    platform::ScopedRegistryOverride override_{&registry_};
};

TEST_F(ServerRegistrationTest, RegisterWritesTheSixValuesAndUnregisterRemovesTheFourKeys) {
    // Another server's class shares the CLSID key and must survive.
    registry_.PutString(KW("HKEY_CLASSES_ROOT\\CLSID\\{0b0b0b0b-1111-2222-3333-000000000001}"), KW(""),
                        KW("Other"));
    ASSERT_EQ(DllRegisterServer(), kSOk);
    EXPECT_EQ(ReadBack(kServerRegistryValues[0]), "KORVACredentialProvider");
    EXPECT_EQ(ReadBack(kServerRegistryValues[1]), "KORVACredProvx64.dll");
    EXPECT_EQ(ReadBack(kServerRegistryValues[2]), "Apartment");
    EXPECT_EQ(ReadBack(kServerRegistryValues[3]), "KORVACredentialProviderFilter");
    EXPECT_EQ(ReadBack(kServerRegistryValues[4]), "KORVACredProvx64.dll");
    EXPECT_EQ(ReadBack(kServerRegistryValues[5]), "Apartment");
    // Registering twice changes nothing.
    EXPECT_EQ(DllRegisterServer(), kSOk);
    EXPECT_EQ(registry_.OpenHandleCount(), 0u);

    ASSERT_EQ(DllUnregisterServer(), kSOk);
    for (const WChar* key : kServerRegistryKeys) {
        EXPECT_FALSE(registry_.HasKey(RootPath(key))) << Utf16ToUtf8(key);
    }
    EXPECT_TRUE(registry_.HasKey(KW("HKEY_CLASSES_ROOT\\CLSID\\{0b0b0b0b-1111-2222-3333-000000000001}")));
    // Nothing left to remove is still a success.
    EXPECT_EQ(DllUnregisterServer(), kSOk);
    EXPECT_EQ(registry_.OpenHandleCount(), 0u);
}

TEST_F(ServerRegistrationTest, RegisterStopsAtTheFirstFailingWriteAndKeepsWhatWasWritten) {
    struct Row {
        FailingWriteRegistry::Step step;
        int32_t code;
    };
    const Row rows[] = {{FailingWriteRegistry::Step::CreateKey, winerr::kAccessDenied},
                        {FailingWriteRegistry::Step::SetValue, winerr::kDiskFull}};
    for (const Row& row : rows) {
        for (int failing = 0; failing < 6; ++failing) {
            SCOPED_TRACE(::testing::Message() << "write " << failing << " fails with " << row.code);
            platform::MemoryRegistry inner;
            FailingWriteRegistry failing_registry(&inner, row.step, failing, row.code);
            platform::ScopedRegistryOverride use(&failing_registry);
            EXPECT_EQ(DllRegisterServer(), HResultFromWin32(row.code));
            for (int i = 0; i < 6; ++i) {
                const std::string text = ReadBack(kServerRegistryValues[i]);
                if (i < failing) {
                    EXPECT_NE(text, "(missing)") << "value " << i << " was written before the failure";
                } else {
                    EXPECT_EQ(text, "(missing)") << "value " << i << " comes after the failure";
                }
            }
            EXPECT_EQ(inner.OpenHandleCount(), 0u);
        }
    }
}

TEST_F(ServerRegistrationTest, RegistryThatCannotBeOpened) {
    registry_.FailNext(platform::MemoryRegistry::Op::Connect, winerr::kAccessDenied);
    EXPECT_EQ(DllRegisterServer(), HResultFromWin32(winerr::kAccessDenied));
    registry_.FailNext(platform::MemoryRegistry::Op::Connect, winerr::kBadNetpath);
    EXPECT_EQ(DllUnregisterServer(), HResultFromWin32(winerr::kBadNetpath));
}

TEST_F(ServerRegistrationTest, UnregisterGoesOnPastAKeyItCannotDelete) {
    ASSERT_EQ(DllRegisterServer(), kSOk);
    // The provider's InprocServer32 key cannot be deleted, so neither can its parent; the filter's keys go.
    registry_.FailNext(platform::MemoryRegistry::Op::DeleteKey, winerr::kAccessDenied, KW("33592d29"));
    EXPECT_EQ(DllUnregisterServer(), kSOk);
    EXPECT_TRUE(registry_.HasKey(RootPath(kServerRegistryKeys[0])));
    EXPECT_TRUE(registry_.HasKey(RootPath(kServerRegistryKeys[1])));
    EXPECT_FALSE(registry_.HasKey(RootPath(kServerRegistryKeys[2])));
    EXPECT_FALSE(registry_.HasKey(RootPath(kServerRegistryKeys[3])));
}

}  // namespace
}  // namespace korva
