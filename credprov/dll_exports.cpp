#include "credprov/dll_exports.h"

#include <exception>

#include "credprov/class_factory.h"
#include "credprov/class_ids.h"
#include "credprov/object_count.h"
#include "infra/registry_connection.h"

namespace korva {
namespace {

// No exception may cross an export; whatever escapes is answered as an unexpected failure.
template <typename F>
com::HRESULT Guarded(F body) noexcept {
    try {
        return body();
    } catch (...) {
        return kEUnexpected;
    }
}

}  // namespace
}  // namespace korva

using namespace korva;

KORVA_COM_EXPORT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return Guarded([&]() -> com::HRESULT {
        if (!com::SameGuid(rclsid, kProviderClsid) && !com::SameGuid(rclsid, kFilterClsid)) {
            return kClassEClassNotAvailable;
        }
        auto* factory = com::MakeObject<cGbClassFactory>();
        if (factory == nullptr) {
            return kEOutOfMemory;
        }
        const com::HRESULT result = factory->QueryInterface(riid, ppv);
        factory->Release();
        return result;
    });
}

KORVA_COM_EXPORT DllCanUnloadNow() {
    return credprov::ObjectCount() <= 0 ? kSOk : kSFalse;
}

KORVA_COM_EXPORT DllRegisterServer() {
    return Guarded([]() -> com::HRESULT {
        RegistryConnection registry;
        const int32_t connected = registry.Connect(nullptr, platform::kHkeyClassesRoot);
        if (connected != 0) {
            return HResultFromWin32(connected);
        }
        // Stops at the first failure; what was written before it stays.
        for (const ServerRegistryValue& value : kServerRegistryValues) {
            const int32_t written = registry.WriteString(value.key, value.valueName, value.data);
            if (written != 0) {
                return HResultFromWin32(written);
            }
        }
        return kSOk;
    });
}

KORVA_COM_EXPORT DllUnregisterServer() {
    return Guarded([]() -> com::HRESULT {
        RegistryConnection registry;
        const int32_t connected = registry.Connect(nullptr, platform::kHkeyClassesRoot);
        if (connected != 0) {
            return HResultFromWin32(connected);
        }
        // A key that is already gone (or cannot be deleted) does not stop the others.
        for (const WChar* key : kServerRegistryKeys) {
            (void)registry.DeleteKey(key);
        }
        return kSOk;
    });
}
