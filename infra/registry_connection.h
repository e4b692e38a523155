// RegistryConnection: a connection to one registry root and typed readers that check the stored type.
// Readers look in the 32-bit view first and fall back to the native view when the key cannot be opened there.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/registry.h"
#include "platform/result_codes.h"
#include "platform/text.h"

namespace korva {

class RegistryConnection {
  public:
    RegistryConnection() = default;
    ~RegistryConnection();
    RegistryConnection(const RegistryConnection&) = delete;
    RegistryConnection& operator=(const RegistryConnection&) = delete;

    // Connects to `predefinedRoot` (platform::kHkeyLocalMachine or kHkeyClassesRoot) of `computer` (null =
    // this computer), closing any earlier root. 0 or a Windows error code.
    [[nodiscard]] int32_t Connect(const WChar* computer, platform::RegKey predefinedRoot);
    void Close();
    bool IsConnected() const { return root_.valid(); }

    // 0; a Windows error code (2 missing key or value, 3, 5 ...); or kRegistryWrongType with *value 0.
    [[nodiscard]] int32_t ReadDword(const WChar* subKey, const WChar* valueName, uint32_t* value) const;
    // 0 with *value the text as stored (REG_EXPAND_SZ not expanded, an empty REG_SZ empty); an error code or
    // kRegistryWrongType with *value cleared.
    [[nodiscard]] int32_t ReadString(const WChar* subKey, const WChar* valueName, WString* value) const;
    // Creates missing keys; stores REG_SZ including the terminating zero. 0 or the first failing call's
    // error.
    [[nodiscard]] int32_t WriteString(const WChar* subKey, const WChar* valueName, const WChar* text) const;
    // Deletes a key without sub-keys; 0 or the platform's error.
    [[nodiscard]] int32_t DeleteKey(const WChar* subKey) const;

  private:
    // Opens `subKey` for reading: 32-bit view first, then the native view; 0 or the second error.
    [[nodiscard]] int32_t OpenForRead(const WChar* subKey, platform::UniqueRegKey* key) const;
    // RegQueryValueExW with a 256-byte buffer that grows to the reported size plus 10 bytes.
    [[nodiscard]] int32_t ReadRaw(platform::RegKey key, const WChar* valueName, uint32_t* type,
                                  std::vector<uint8_t>* data) const;

    platform::UniqueRegKey root_;
};

}  // namespace korva
