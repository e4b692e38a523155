// The Windows registry: thin wrappers over advapi32. The seam's predefined roots are the 32-bit values of the
// HKEY_* constants; Windows' own HKEY_* handles are those values sign-extended, so they are translated both
// ways.
#include <windows.h>

#include "platform/os_defaults.h"
#include "platform/result_codes.h"

namespace korva::platform {
namespace {

struct RootPair {
    RegKey key;
    HKEY hkey;
};

const RootPair kRootPairs[] = {
    {kHkeyClassesRoot, HKEY_CLASSES_ROOT},
    {kHkeyCurrentUser, HKEY_CURRENT_USER},
    {kHkeyLocalMachine, HKEY_LOCAL_MACHINE},
    {kHkeyUsers, HKEY_USERS},
};

bool IsRoot(RegKey key) {
    for (const RootPair& pair : kRootPairs) {
        if (pair.key == key) {
            return true;
        }
    }
    return false;
}

HKEY ToHkey(RegKey key) {
    for (const RootPair& pair : kRootPairs) {
        if (pair.key == key) {
            return pair.hkey;
        }
    }
    return reinterpret_cast<HKEY>(key);
}

RegKey FromHkey(HKEY hkey) {
    for (const RootPair& pair : kRootPairs) {
        if (pair.hkey == hkey) {
            return pair.key;
        }
    }
    return reinterpret_cast<RegKey>(hkey);
}

class Win32Registry final : public Registry {
  public:
    int32_t Connect(const WChar* machine, RegKey predefined, RegKey* out) override {
        if (out == nullptr) {
            return winerr::kInvalidParameter;
        }
        HKEY opened = nullptr;
        const LONG result = RegConnectRegistryW(machine, ToHkey(predefined), &opened);
        *out = result == ERROR_SUCCESS ? FromHkey(opened) : 0;
        return result;
    }

    int32_t OpenKey(RegKey parent, const WChar* subKey, uint32_t access, RegKey* out) override {
        if (out == nullptr) {
            return winerr::kInvalidParameter;
        }
        HKEY opened = nullptr;
        const LONG result = RegOpenKeyExW(ToHkey(parent), subKey, 0, access, &opened);
        *out = result == ERROR_SUCCESS ? FromHkey(opened) : 0;
        return result;
    }

    int32_t CreateKey(RegKey parent, const WChar* subKey, uint32_t access, RegKey* out) override {
        if (out == nullptr) {
            return winerr::kInvalidParameter;
        }
        HKEY created = nullptr;
        const LONG result = RegCreateKeyExW(ToHkey(parent), subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            access, nullptr, &created, nullptr);
        *out = result == ERROR_SUCCESS ? FromHkey(created) : 0;
        return result;
    }

    int32_t QueryValue(RegKey key, const WChar* name, uint32_t* type, uint8_t* data,
                       uint32_t* size) override {
        // DWORD is unsigned long here, uint32_t unsigned int: the values pass through locals.
        DWORD valueType = 0;
        DWORD valueSize = size != nullptr ? *size : 0;
        const LONG result = RegQueryValueExW(ToHkey(key), name, nullptr, &valueType, data,
                                             size != nullptr ? &valueSize : nullptr);
        if (type != nullptr && (result == ERROR_SUCCESS || result == ERROR_MORE_DATA)) {
            *type = valueType;
        }
        if (size != nullptr && (result == ERROR_SUCCESS || result == ERROR_MORE_DATA)) {
            *size = valueSize;
        }
        return result;
    }

    int32_t SetValue(RegKey key, const WChar* name, uint32_t type, const uint8_t* data,
                     uint32_t size) override {
        return RegSetValueExW(ToHkey(key), name, 0, type, data, size);
    }

    int32_t DeleteKey(RegKey parent, const WChar* subKey) override {
        if (subKey == nullptr) {
            return winerr::kInvalidParameter;
        }
        return RegDeleteKeyW(ToHkey(parent), subKey);
    }

    int32_t DeleteValue(RegKey key, const WChar* name) override { return RegDeleteValueW(ToHkey(key), name); }

    int32_t CloseKey(RegKey key) override {
        if (IsRoot(key)) {
            return winerr::kSuccess;
        }
        return RegCloseKey(ToHkey(key));
    }
};

}  // namespace

namespace os {

Registry& DefaultRegistry() {
    static Win32Registry* const registry = new Win32Registry();
    return *registry;
}

}  // namespace os

// Windows keeps its registry itself.
int32_t SaveProcessRegistry() {
    return winerr::kSuccess;
}

}  // namespace korva::platform
