// The Linux COM shim: the task allocator is the C heap, GUID text is parsed and written here, and
// CreateInstance finds classes in a process-wide table of in-process class factories.
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/com.h"

namespace korva::com {
namespace {

struct Registration {
    CLSID clsid;
    IClassFactory* factory;  // holds a reference
    DWORD cookie;
};

struct FactoryTable {
    std::mutex lock;
    std::vector<Registration> entries;
    DWORD nextCookie = 1;
};

FactoryTable& Factories() {
    // Never destroyed: a registration guard in a static object may end after this table would have.
    static FactoryTable* const table = new FactoryTable();
    return *table;
}

int HexValue(WChar c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// Reads `digits` hex digits at text[*pos]; false on anything else.
bool ReadHex(const WChar* text, size_t* pos, int digits, uint32_t* value) {
    uint32_t result = 0;
    for (int i = 0; i < digits; ++i) {
        const int digit = HexValue(text[*pos]);
        if (digit < 0) {
            return false;
        }
        result = (result << 4) | static_cast<uint32_t>(digit);
        ++*pos;
    }
    *value = result;
    return true;
}

bool Expect(const WChar* text, size_t* pos, WChar c) {
    if (text[*pos] != c) {
        return false;
    }
    ++*pos;
    return true;
}

bool ParseRegistryForm(const WChar* text, GUID* guid) {
    size_t pos = 0;
    uint32_t value = 0;
    if (!Expect(text, &pos, u'{') || !ReadHex(text, &pos, 8, &value)) {
        return false;
    }
    guid->Data1 = value;
    if (!Expect(text, &pos, u'-') || !ReadHex(text, &pos, 4, &value)) {
        return false;
    }
    guid->Data2 = static_cast<uint16_t>(value);
    if (!Expect(text, &pos, u'-') || !ReadHex(text, &pos, 4, &value)) {
        return false;
    }
    guid->Data3 = static_cast<uint16_t>(value);
    if (!Expect(text, &pos, u'-')) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && !Expect(text, &pos, u'-')) {
            return false;
        }
        if (!ReadHex(text, &pos, 2, &value)) {
            return false;
        }
        guid->Data4[i] = static_cast<uint8_t>(value);
    }
    return Expect(text, &pos, u'}') && text[pos] == 0;
}

}  // namespace

void* TaskAlloc(size_t bytes) noexcept {
    if (!AllocationAllowed()) {
        return nullptr;
    }
    // CoTaskMemAlloc(0) returns a valid block; malloc(0) may return null.
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void TaskFree(void* memory) noexcept {
    NotifyTaskFree(memory);
    std::free(memory);
}

HRESULT ParseGuid(const WChar* text, GUID* guid) noexcept {
    if (guid == nullptr) {
        return kEInvalidArg;
    }
    *guid = kGuidNull;
    if (text == nullptr) {
        return kSOk;
    }
    GUID parsed = kGuidNull;
    if (!ParseRegistryForm(text, &parsed)) {
        return kCoEClassString;
    }
    *guid = parsed;
    return kSOk;
}

int FormatGuid(const GUID& guid, WChar* buffer, int capacity) noexcept {
    constexpr int kLength = 38;
    if (buffer == nullptr || capacity < kLength + 1) {
        return 0;
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    int pos = 0;
    auto put = [&](uint32_t value, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
            buffer[pos++] = static_cast<WChar>(kDigits[(value >> shift) & 0xF]);
        }
    };
    buffer[pos++] = u'{';
    put(guid.Data1, 8);
    buffer[pos++] = u'-';
    put(guid.Data2, 4);
    buffer[pos++] = u'-';
    put(guid.Data3, 4);
    buffer[pos++] = u'-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2) {
            buffer[pos++] = u'-';
        }
        put(guid.Data4[i], 2);
    }
    buffer[pos++] = u'}';
    buffer[pos++] = 0;
    return pos;
}

HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer, DWORD /*context*/, REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) {
        return kEPointer;
    }
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    {
        FactoryTable& table = Factories();
        std::lock_guard<std::mutex> guard(table.lock);
        for (const Registration& entry : table.entries) {
            if (entry.clsid == clsid) {
                factory = entry.factory;
                factory->AddRef();
                break;
            }
        }
    }
    if (factory == nullptr) {
        return kRegdbEClassNotReg;
    }
    const HRESULT result = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    return result;
}

ScopedClassFactoryRegistration::ScopedClassFactoryRegistration(REFCLSID clsid, IClassFactory* factory)
    : result_(kSOk) {
    if (factory == nullptr) {
        result_ = kEInvalidArg;
        return;
    }
    FactoryTable& table = Factories();
    std::lock_guard<std::mutex> guard(table.lock);
    factory->AddRef();
    cookie_ = table.nextCookie++;
    table.entries.push_back(Registration{clsid, factory, cookie_});
}

ScopedClassFactoryRegistration::~ScopedClassFactoryRegistration() {
    if (cookie_ == 0) {
        return;
    }
    IClassFactory* factory = nullptr;
    {
        FactoryTable& table = Factories();
        std::lock_guard<std::mutex> guard(table.lock);
        for (auto it = table.entries.begin(); it != table.entries.end(); ++it) {
            if (it->cookie == cookie_) {
                factory = it->factory;
                table.entries.erase(it);
                break;
            }
        }
    }
    // Released outside the lock: the last reference may run the factory's destructor.
    if (factory != nullptr) {
        factory->Release();
    }
}

ScopedApartment::ScopedApartment() : result_(kSOk) {}

ScopedApartment::~ScopedApartment() = default;

}  // namespace korva::com
