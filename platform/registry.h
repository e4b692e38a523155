// The registry seam. The interface has Win32's semantics (handles, access masks with the WOW64 view flags,
// RegQueryValueExW's ERROR_MORE_DATA protocol, Windows error codes), so RegistryConnection is written once.
//
// On Windows the implementation is a thin wrapper over advapi32 (platform/win32/registry_win32.cpp). The
// portable MemoryRegistry is an in-memory store with both views: on Linux the process-wide registry, loaded
// from and saved to the regedit-format file named by KORVA_REGISTRY_FILE, and on both builds the tests' fake
// with injected failures.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/seam.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

namespace korva::platform {

using RegKey = uintptr_t;  // an open key; 0 is none
constexpr RegKey kHkeyClassesRoot = 0x80000000u;
constexpr RegKey kHkeyCurrentUser = 0x80000001u;
constexpr RegKey kHkeyLocalMachine = 0x80000002u;
constexpr RegKey kHkeyUsers = 0x80000003u;

enum RegType : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
    kRegQword = 11,
};

constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyWow64_64Key = 0x0100;
constexpr uint32_t kKeyWow64_32Key = 0x0200;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;
constexpr uint32_t kKeyAllAccess = 0xF003F;

// Connect, OpenKey and CreateKey set *out to 0 on any failure, so a holder never owns a stale value.
class Registry {
  public:
    virtual ~Registry() = default;
    // RegConnectRegistryW: machine null = this computer; `predefined` one of the kHkey roots.
    [[nodiscard]] virtual int32_t Connect(const WChar* machine, RegKey predefined, RegKey* out) = 0;
    // RegOpenKeyExW: `access` may carry kKeyWow64_32Key / kKeyWow64_64Key to pick a view.
    [[nodiscard]] virtual int32_t OpenKey(RegKey parent, const WChar* subKey, uint32_t access,
                                          RegKey* out) = 0;
    // RegCreateKeyExW (non-volatile, default security); missing intermediate keys are created.
    [[nodiscard]] virtual int32_t CreateKey(RegKey parent, const WChar* subKey, uint32_t access,
                                            RegKey* out) = 0;
    // RegQueryValueExW: `data` may be null to ask for the size. When the buffer is too small the result is
    // kMoreData (234) and *size is the size needed.
    [[nodiscard]] virtual int32_t QueryValue(RegKey key, const WChar* name, uint32_t* type, uint8_t* data,
                                             uint32_t* size) = 0;
    // RegSetValueExW
    [[nodiscard]] virtual int32_t SetValue(RegKey key, const WChar* name, uint32_t type, const uint8_t* data,
                                           uint32_t size) = 0;
    // RegDeleteKeyW: only a key without sub-keys.
    [[nodiscard]] virtual int32_t DeleteKey(RegKey parent, const WChar* subKey) = 0;
    // RegDeleteValueW
    [[nodiscard]] virtual int32_t DeleteValue(RegKey key, const WChar* name) = 0;
    // RegCloseKey; closing a predefined root is a no-op success.
    [[nodiscard]] virtual int32_t CloseKey(RegKey key) = 0;
};

// The process-wide registry. On Windows the Win32 registry; on Linux a MemoryRegistry loaded from
// KORVA_REGISTRY_FILE when that variable names a readable file.
Registry& Reg();

// Makes the process-wide registry's changes last: on Linux writes it to KORVA_REGISTRY_FILE
// (ERROR_FILE_NOT_FOUND when that variable is not set); on Windows, where the registry keeps itself, returns
// 0.
[[nodiscard]] int32_t SaveProcessRegistry();

// Close policy of an open key: keys are closed through the process-wide registry, the one that opened them.
// Closing is best effort (a destructor has no one to tell); a caller that must know whether the close
// succeeded calls CloseKey(key.release()) itself.
struct RegKeyClosePolicy {
    using Type = RegKey;
    static constexpr RegKey Invalid() { return 0; }
    static void Close(RegKey key) noexcept;
};
using UniqueRegKey = UniqueHandle<RegKeyClosePolicy>;

// Replaces the process-wide registry until the returned guard is destroyed (tests).
using ScopedRegistryOverride = ScopedOverride<Registry>;

}  // namespace korva::platform
