// An in-memory registry with Win32 semantics and both registry views, portable to both builds. Safe to use
// from several threads.
//
// Views: as on 64-bit Windows, the 32-bit view of HKEY_LOCAL_MACHINE\SOFTWARE is
// HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node; a key opened with kKeyWow64_32Key under SOFTWARE resolves there,
// any other access to the native tree. Key and value names compare case-insensitively (A-Z), as Windows does.
//
// Errors as Windows gives them: 2 for a missing key or value, 234 with the size needed for a small buffer,
// 5 for deleting a key that has sub-keys or for a value operation the handle's access does not allow, 6 for a
// closed or unknown handle, 1018 for a handle whose key was deleted, 161 for a malformed path.
//
// Persistence: Load/Save read and write the regedit "Windows Registry Editor Version 5.00" format (UTF-16LE
// with a byte-order mark on save; UTF-8 or UTF-16LE on load) with REG_SZ ("..."), dword:, hex:, hex(2):
// (expand) and hex(7): (multi) and hex(b): (qword) values, "name"=- and [-key] deletions and "\" line
// continuations. A text is applied whole or not at all: anything malformed gives ERROR_BADDB (1009) and
// leaves the store unchanged.
//
// Fault injection: FailNext(op, code) makes the next call of that operation (optionally only for a key path
// or value name containing `match`, case-insensitive) return `code` without touching the store. Faults queue
// in the order they were set.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace korva::platform {

class MemoryRegistry : public Registry {
  public:
    enum class Op { Connect, OpenKey, CreateKey, QueryValue, SetValue, DeleteKey, DeleteValue, CloseKey };

    MemoryRegistry();
    ~MemoryRegistry() override;

    [[nodiscard]] int32_t Connect(const WChar* machine, RegKey predefined, RegKey* out) override;
    [[nodiscard]] int32_t OpenKey(RegKey parent, const WChar* subKey, uint32_t access, RegKey* out) override;
    [[nodiscard]] int32_t CreateKey(RegKey parent, const WChar* subKey, uint32_t access,
                                    RegKey* out) override;
    [[nodiscard]] int32_t QueryValue(RegKey key, const WChar* name, uint32_t* type, uint8_t* data,
                                     uint32_t* size) override;
    [[nodiscard]] int32_t SetValue(RegKey key, const WChar* name, uint32_t type, const uint8_t* data,
                                   uint32_t size) override;
    [[nodiscard]] int32_t DeleteKey(RegKey parent, const WChar* subKey) override;
    [[nodiscard]] int32_t DeleteValue(RegKey key, const WChar* name) override;
    [[nodiscard]] int32_t CloseKey(RegKey key) override;

    // Direct set-up for tests: full paths like KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\X").
    void PutValue(WStringView keyPath, WStringView name, uint32_t type, const void* data, uint32_t size);
    void PutString(WStringView keyPath, WStringView name, WStringView text, uint32_t type = kRegSz);
    void PutDword(WStringView keyPath, WStringView name, uint32_t value);
    bool HasKey(WStringView keyPath) const;

    void FailNext(Op op, int32_t code, WStringView match = {});
    // Number of open handles (opened or created and not yet closed): a leak shows as a non-zero count.
    size_t OpenHandleCount() const;

    // regedit-format text; Load merges into the store. Both return 0 or a Windows error code.
    [[nodiscard]] int32_t LoadRegFile(const WChar* path);
    [[nodiscard]] int32_t SaveRegFile(const WChar* path) const;
    [[nodiscard]] int32_t LoadRegText(WStringView text);
    WString SaveRegText() const;

  private:
    [[nodiscard]] int32_t OpenOrCreateKey(Op op, RegKey parent, const WChar* subKey, uint32_t access,
                                          RegKey* out);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace korva::platform
