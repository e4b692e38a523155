#include "infra/registry_connection.h"

#include <cstring>
#include <new>

#include "platform/result_codes.h"

namespace korva {

namespace {

// The first query uses a buffer of this size; most settings fit, so one call usually suffices.
constexpr uint32_t kInitialValueBuffer = 256;
// A grown buffer holds the reported size plus this many zero bytes, which terminate a string stored without
// its terminating zero.
constexpr uint32_t kGrowthSlack = 10;
// A value that keeps growing between the size report and the next query would otherwise keep us asking for
// ever; settings do not change that often, so a handful of rounds is plenty.
constexpr int kMaxQueryRounds = 8;

constexpr uint32_t kReadAccess32 = platform::kKeyRead | platform::kKeyWow64_32Key;

}  // namespace

RegistryConnection::~RegistryConnection() = default;

int32_t RegistryConnection::Connect(const WChar* computer, platform::RegKey predefinedRoot) {
    Close();
    return platform::Reg().Connect(computer, predefinedRoot, root_.put());
}

void RegistryConnection::Close() {
    root_.reset();
}

int32_t RegistryConnection::OpenForRead(const WChar* subKey, platform::UniqueRegKey* key) const {
    key->reset();
    if (!root_) {
        return winerr::kInvalidHandle;
    }
    platform::Registry& registry = platform::Reg();
    if (registry.OpenKey(root_.get(), subKey, kReadAccess32, key->put()) == winerr::kSuccess) {
        return winerr::kSuccess;
    }
    return registry.OpenKey(root_.get(), subKey, platform::kKeyRead, key->put());
}
int32_t RegistryConnection::ReadRaw(platform::RegKey key, const WChar* valueName, uint32_t* type,
                                    std::vector<uint8_t>* data) const {
    *type = platform::kRegNone;
    data->clear();
    try {
        std::vector<uint8_t> buffer(kInitialValueBuffer, 0);
        for (int round = 0; round < kMaxQueryRounds; ++round) {
            uint32_t size = static_cast<uint32_t>(buffer.size());
            const int32_t result = platform::Reg().QueryValue(key, valueName, type, buffer.data(), &size);
            if (result == winerr::kSuccess) {
                // Keep only what the platform stored; the readers pad with zeros where they need to.
                buffer.resize(size < buffer.size() ? size : buffer.size());
                *data = std::move(buffer);
                return winerr::kSuccess;
            }
            if (result != winerr::kMoreData) {
                *type = platform::kRegNone;
                return result;
            }
            if (size > UINT32_MAX - kGrowthSlack) {
                *type = platform::kRegNone;
                return winerr::kOutOfMemory;
            }
            // A fresh zero-filled buffer: nothing of the previous attempt survives.
            std::vector<uint8_t>(size + kGrowthSlack, 0).swap(buffer);
        }
        *type = platform::kRegNone;
        return winerr::kMoreData;
    } catch (const std::bad_alloc&) {
        *type = platform::kRegNone;
        data->clear();
        return winerr::kOutOfMemory;
    }
}

int32_t RegistryConnection::ReadDword(const WChar* subKey, const WChar* valueName, uint32_t* value) const {
    *value = 0;
    platform::UniqueRegKey key;
    int32_t result = OpenForRead(subKey, &key);
    if (result != winerr::kSuccess) {
        return result;
    }
    uint32_t type = platform::kRegNone;
    std::vector<uint8_t> data;
    result = ReadRaw(key.get(), valueName, &type, &data);
    if (result != winerr::kSuccess) {
        return result;
    }
    if (type != platform::kRegDword) {
        return kRegistryWrongType;
    }
    // A REG_DWORD stored with fewer than four bytes reads as if zero-padded, like the zero-filled buffer it
    // was queried into.
    uint8_t bytes[4] = {0, 0, 0, 0};
    std::memcpy(bytes, data.data(), data.size() < 4 ? data.size() : 4);
    *value = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
             (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return winerr::kSuccess;
}

int32_t RegistryConnection::ReadString(const WChar* subKey, const WChar* valueName, WString* value) const {
    value->clear();
    platform::UniqueRegKey key;
    int32_t result = OpenForRead(subKey, &key);
    if (result != winerr::kSuccess) {
        return result;
    }
    uint32_t type = platform::kRegNone;
    std::vector<uint8_t> data;
    result = ReadRaw(key.get(), valueName, &type, &data);
    if (result != winerr::kSuccess) {
        return result;
    }
    if (type != platform::kRegSz && type != platform::kRegExpandSz) {
        return kRegistryWrongType;
    }
    // The text ends at its first zero code unit or at the end of the stored bytes, whichever comes first; an
    // odd last byte is the low half of a code unit whose high half is the zero padding. Environment
    // references in REG_EXPAND_SZ values stay as written.
    try {
        const size_t units = (data.size() + 1) / 2;
        WString text;
        text.reserve(units);
        for (size_t i = 0; i < units; ++i) {
            const uint32_t low = data[2 * i];
            const uint32_t high = 2 * i + 1 < data.size() ? data[2 * i + 1] : 0;
            const WChar unit = static_cast<WChar>(low | (high << 8));
            if (unit == 0) {
                break;
            }
            text.push_back(unit);
        }
        *value = std::move(text);
    } catch (const std::bad_alloc&) {
        value->clear();
        return winerr::kOutOfMemory;
    }
    return winerr::kSuccess;
}

int32_t RegistryConnection::WriteString(const WChar* subKey, const WChar* valueName,
                                        const WChar* text) const {
    if (!root_) {
        return winerr::kInvalidHandle;
    }
    platform::Registry& registry = platform::Reg();
    platform::UniqueRegKey key;
    int32_t result = registry.CreateKey(root_.get(), subKey, platform::kKeyWrite, key.put());
    if (result != winerr::kSuccess) {
        return result;
    }
    try {
        // UTF-16LE with the terminating zero, as REG_SZ is stored.
        const size_t length = WLen(text);
        std::vector<uint8_t> bytes((length + 1) * 2, 0);
        for (size_t i = 0; i < length; ++i) {
            const auto unit = static_cast<uint16_t>(text[i]);
            bytes[2 * i] = static_cast<uint8_t>(unit & 0xFF);
            bytes[2 * i + 1] = static_cast<uint8_t>(unit >> 8);
        }
        result = registry.SetValue(key.get(), valueName, platform::kRegSz, bytes.data(),
                                   static_cast<uint32_t>(bytes.size()));
    } catch (const std::bad_alloc&) {
        result = winerr::kOutOfMemory;
    }
    // A value is only as good as the close that writes it out, so its failure is reported.
    const int32_t closed = registry.CloseKey(key.release());
    return result != winerr::kSuccess ? result : closed;
}

int32_t RegistryConnection::DeleteKey(const WChar* subKey) const {
    if (!root_) {
        return winerr::kInvalidHandle;
    }
    return platform::Reg().DeleteKey(root_.get(), subKey);
}

}  // namespace korva
