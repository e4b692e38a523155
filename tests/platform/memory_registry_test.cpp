#include "platform/memory_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sync.h"
#include "platform/win_errors.h"

namespace korva::platform {
namespace {

constexpr uint32_t kRead32 = kKeyRead | kKeyWow64_32Key;
constexpr uint32_t kWrite32 = kKeyWrite | kKeyWow64_32Key;

class MemoryRegistryTest : public testing::Test {
  protected:
    ~MemoryRegistryTest() override {
        // Every test closes what it opens: a leaked handle fails the test that leaked it.
        EXPECT_EQ(reg_.OpenHandleCount(), 0u);
    }

    int32_t Write(RegKey root, const WChar* path, uint32_t access, const WChar* name, WStringView text) {
        RegKey key = 0;
        int32_t result = reg_.CreateKey(root, path, access, &key);
        if (result != winerr::kSuccess) {
            return result;
        }
        std::vector<uint8_t> data((text.size() + 1) * sizeof(WChar), 0);
        std::memcpy(data.data(), text.data(), text.size() * sizeof(WChar));
        result = reg_.SetValue(key, name, kRegSz, data.data(), static_cast<uint32_t>(data.size()));
        reg_.CloseKey(key);
        return result;
    }

    // The text of a REG_SZ value, or the error.
    int32_t Read(RegKey root, const WChar* path, uint32_t access, const WChar* name, WString* text) {
        RegKey key = 0;
        int32_t result = reg_.OpenKey(root, path, access, &key);
        if (result != winerr::kSuccess) {
            return result;
        }
        uint32_t type = 0;
        uint32_t size = 0;
        result = reg_.QueryValue(key, name, &type, nullptr, &size);
        std::vector<uint8_t> data(size);
        if (result == winerr::kSuccess) {
            result = reg_.QueryValue(key, name, &type, data.data(), &size);
        }
        reg_.CloseKey(key);
        if (result == winerr::kSuccess) {
            text->assign(reinterpret_cast<const WChar*>(data.data()), size / sizeof(WChar));
            if (!text->empty() && text->back() == 0) {
                text->pop_back();
            }
        }
        return result;
    }

    MemoryRegistry reg_;
};

TEST_F(MemoryRegistryTest, ThirtyTwoBitViewOfSoftwareIsWow6432Node) {
    const struct {
        const char* what;
        RegKey root;
        const WChar* writePath;
        uint32_t writeAccess;
        const WChar* storedAt;  // where the value must land
        const WChar* readPath;
        uint32_t readAccess;
        int32_t readResult;
    } kCases[] = {
        {"32-bit write lands in WOW6432Node", kHkeyLocalMachine, KW("SOFTWARE\\Korva\\A"), kWrite32,
         KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Korva\\A"), KW("SOFTWARE\\Korva\\A"), kRead32, 0},
        {"32-bit value is not seen natively", kHkeyLocalMachine, KW("SOFTWARE\\Korva\\B"), kWrite32,
         KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Korva\\B"), KW("SOFTWARE\\Korva\\B"), kKeyRead, 2},
        {"native value is not seen in the 32-bit view", kHkeyLocalMachine, KW("SOFTWARE\\Korva\\C"),
         kKeyWrite, KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korva\\C"), KW("SOFTWARE\\Korva\\C"), kRead32, 2},
        {"64-bit flag is the native view", kHkeyLocalMachine, KW("software\\Korva\\D"),
         kKeyWrite | kKeyWow64_64Key, KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korva\\D"), KW("SOFTWARE\\Korva\\D"),
         kKeyRead, 0},
        {"an explicit WOW6432Node path is not redirected twice", kHkeyLocalMachine,
         KW("SOFTWARE\\WOW6432Node\\Korva\\E"), kWrite32,
         KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Korva\\E"), KW("SOFTWARE\\Korva\\E"), kRead32, 0},
        {"the native view reaches WOW6432Node by name", kHkeyLocalMachine, KW("SOFTWARE\\Korva\\F"), kWrite32,
         KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Korva\\F"), KW("SOFTWARE\\WOW6432Node\\Korva\\F"),
         kKeyRead, 0},
        {"keys outside HKLM\\SOFTWARE are shared", kHkeyCurrentUser, KW("Software\\Korva\\G"), kWrite32,
         KW("HKEY_CURRENT_USER\\Software\\Korva\\G"), KW("Software\\Korva\\G"), kKeyRead, 0},
        {"HKLM keys beside SOFTWARE are shared", kHkeyLocalMachine, KW("SYSTEM\\Korva\\H"), kWrite32,
         KW("HKEY_LOCAL_MACHINE\\SYSTEM\\Korva\\H"), KW("SYSTEM\\Korva\\H"), kKeyRead, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Write(c.root, c.writePath, c.writeAccess, KW("v"), KW("text")), winerr::kSuccess);
        EXPECT_TRUE(reg_.HasKey(c.storedAt));
        WString text;
        EXPECT_EQ(Read(c.root, c.readPath, c.readAccess, KW("v"), &text), c.readResult);
    }
}

TEST_F(MemoryRegistryTest, ViewIsAppliedToThePathBelowAnOpenHandle) {
    RegKey software = 0;
    ASSERT_EQ(reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE"), kKeyRead, &software), winerr::kSuccess);
    // A native handle to SOFTWARE plus the 32-bit flag on the relative open still means WOW6432Node.
    ASSERT_EQ(Write(software, KW("Korva"), kWrite32, KW("v"), KW("32")), winerr::kSuccess);
    EXPECT_TRUE(reg_.HasKey(KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Korva")));
    EXPECT_FALSE(reg_.HasKey(KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korva")));
    reg_.CloseKey(software);

    // A handle opened in the 32-bit view keeps its sub-keys there.
    RegKey software32 = 0;
    ASSERT_EQ(reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE"), kRead32, &software32), winerr::kSuccess);
    WString text;
    EXPECT_EQ(Read(software32, KW("Korva"), kKeyRead, KW("v"), &text), winerr::kSuccess);
    EXPECT_EQ(text, KW("32"));
    reg_.CloseKey(software32);
}

TEST_F(MemoryRegistryTest, QueryFollowsTheMoreDataProtocol) {
    std::vector<uint8_t> big(300);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i);
    }
    reg_.PutValue(KW("HKLM\\SOFTWARE\\Korva"), KW("Big"), kRegBinary, big.data(), 300);
    RegKey key = 0;
    ASSERT_EQ(reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead, &key), winerr::kSuccess);

    uint32_t type = 0;
    uint32_t size = 0;
    // No buffer: success with the size.
    EXPECT_EQ(reg_.QueryValue(key, KW("Big"), &type, nullptr, &size), winerr::kSuccess);
    EXPECT_EQ(size, 300u);
    EXPECT_EQ(type, kRegBinary);

    // A buffer too small: 234 and the size needed; the type is still reported.
    std::vector<uint8_t> buffer(256, 0xEE);
    size = 256;
    type = 0;
    EXPECT_EQ(reg_.QueryValue(key, KW("Big"), &type, buffer.data(), &size), winerr::kMoreData);
    EXPECT_EQ(size, 300u);
    EXPECT_EQ(type, kRegBinary);

    // Plus ten bytes, as the registry reader grows its buffer: all data, the size of the data.
    buffer.assign(310, 0xEE);
    size = 310;
    EXPECT_EQ(reg_.QueryValue(key, KW("Big"), &type, buffer.data(), &size), winerr::kSuccess);
    EXPECT_EQ(size, 300u);
    EXPECT_TRUE(std::equal(big.begin(), big.end(), buffer.begin()));
    EXPECT_EQ(buffer[300], 0xEE);  // nothing written beyond the data

    // A buffer without a size is a parameter error.
    EXPECT_EQ(reg_.QueryValue(key, KW("Big"), &type, buffer.data(), nullptr), winerr::kInvalidParameter);
    reg_.CloseKey(key);
}

TEST_F(MemoryRegistryTest, ValuesKeepTheirTypeAndBytes) {
    const uint64_t qword = 0x0123456789ABCDEFull;
    const uint32_t dword = 0xDEADBEEF;
    const WChar multi[] = KW("one\0two\0");
    const WChar expand[] = KW("%SystemRoot%\\x");
    const struct {
        const WChar* name;
        uint32_t type;
        const void* data;
        uint32_t size;
    } kCases[] = {
        {KW("qword"), kRegQword, &qword, 8},
        {KW("dword"), kRegDword, &dword, 4},
        {KW("multi"), kRegMultiSz, multi, sizeof(multi)},
        {KW("expand"), kRegExpandSz, expand, sizeof(expand)},
        {KW("none"), kRegNone, nullptr, 0},
        // Type and size are stored as given, even when they disagree.
        {KW("short dword"), kRegDword, &dword, 2},
    };
    RegKey key = 0;
    ASSERT_EQ(reg_.CreateKey(kHkeyLocalMachine, KW("SOFTWARE\\Types"), kKeyAllAccess, &key), 0);
    for (const auto& c : kCases) {
        ASSERT_EQ(reg_.SetValue(key, c.name, c.type, static_cast<const uint8_t*>(c.data), c.size), 0);
    }
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " size " << c.size);
        uint8_t buffer[64] = {};
        uint32_t type = 99;
        uint32_t size = sizeof(buffer);
        ASSERT_EQ(reg_.QueryValue(key, c.name, &type, buffer, &size), winerr::kSuccess);
        EXPECT_EQ(type, c.type);
        ASSERT_EQ(size, c.size);
        if (c.size != 0) {
            EXPECT_EQ(std::memcmp(buffer, c.data, c.size), 0);
        }
    }
    reg_.CloseKey(key);
}

TEST_F(MemoryRegistryTest, NamesCompareWithoutCase) {
    reg_.PutString(KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmarsh\\KORVA\\GINA"), KW("Log File"),
                   KW("c:\\a.log"));
    WString text;
    EXPECT_EQ(
        Read(kHkeyLocalMachine, KW("software\\QUILLMARSH\\korva\\gina"), kKeyRead, KW("LOG FILE"), &text), 0);
    EXPECT_EQ(text, KW("c:\\a.log"));
    // Writing with other case replaces the value instead of adding a second one.
    ASSERT_EQ(Write(kHkeyLocalMachine, KW("SOFTWARE\\quillmarsh\\korva\\gina"), kKeyWrite, KW("log file"),
                    KW("d:\\b.log")),
              0);
    EXPECT_EQ(
        Read(kHkeyLocalMachine, KW("SOFTWARE\\Quillmarsh\\KORVA\\GINA"), kKeyRead, KW("Log File"), &text), 0);
    EXPECT_EQ(text, KW("d:\\b.log"));
    // The name keeps the case it was created with.
    EXPECT_NE(reg_.SaveRegText().find(KW("\"Log File\"=\"d:\\\\b.log\"")), WString::npos);
}

TEST_F(MemoryRegistryTest, MissingKeysAndValuesAndBadPaths) {
    reg_.PutDword(KW("HKLM\\SOFTWARE\\Korva"), KW("Present"), 1);
    WString text;
    const struct {
        const WChar* path;
        const WChar* name;
        int32_t result;
    } kCases[] = {
        {KW("SOFTWARE\\Nowhere"), KW("Present"), winerr::kFileNotFound},
        {KW("SOFTWARE\\Korva"), KW("Absent"), winerr::kFileNotFound},
        {KW("SOFTWARE\\Korva"), nullptr, winerr::kFileNotFound},  // the default value is not set
        {KW("\\SOFTWARE\\Korva"), KW("Present"), winerr::kBadPathname},
        {KW("SOFTWARE\\\\Korva"), KW("Present"), winerr::kBadPathname},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.result);
        EXPECT_EQ(Read(kHkeyLocalMachine, c.path, kKeyRead, c.name, &text), c.result);
    }
    // A trailing backslash is accepted.
    RegKey key = 0;
    ASSERT_EQ(reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE\\Korva\\"), kKeyRead, &key), winerr::kSuccess);
    reg_.CloseKey(key);
}

TEST_F(MemoryRegistryTest, DefaultValueHasTheEmptyName) {
    ASSERT_EQ(Write(kHkeyClassesRoot, KW("CLSID\\{X}"), kKeyWrite, nullptr, KW("Provider")), 0);
    WString text;
    EXPECT_EQ(Read(kHkeyClassesRoot, KW("CLSID\\{X}"), kKeyRead, KW(""), &text), 0);
    EXPECT_EQ(text, KW("Provider"));
}

TEST_F(MemoryRegistryTest, DeleteKeyRefusesKeysWithSubKeys) {
    reg_.PutDword(KW("HKCR\\CLSID\\{P}\\InprocServer32"), KW("x"), 1);
    // Windows refuses with access denied rather than deleting a tree.
    EXPECT_EQ(reg_.DeleteKey(kHkeyClassesRoot, KW("CLSID\\{P}")), winerr::kAccessDenied);
    EXPECT_TRUE(reg_.HasKey(KW("HKEY_CLASSES_ROOT\\CLSID\\{P}\\InprocServer32")));
    EXPECT_EQ(reg_.DeleteKey(kHkeyClassesRoot, KW("clsid\\{p}\\inprocserver32")), winerr::kSuccess);
    EXPECT_EQ(reg_.DeleteKey(kHkeyClassesRoot, KW("CLSID\\{P}")), winerr::kSuccess);
    EXPECT_FALSE(reg_.HasKey(KW("HKEY_CLASSES_ROOT\\CLSID\\{P}")));
    EXPECT_TRUE(reg_.HasKey(KW("HKEY_CLASSES_ROOT\\CLSID")));
    EXPECT_EQ(reg_.DeleteKey(kHkeyClassesRoot, KW("CLSID\\{P}")), winerr::kFileNotFound);
    EXPECT_EQ(reg_.DeleteKey(kHkeyClassesRoot, nullptr), winerr::kInvalidParameter);
}

TEST_F(MemoryRegistryTest, StaleAndDeletedHandles) {
    RegKey key = 0;
    ASSERT_EQ(reg_.CreateKey(kHkeyLocalMachine, KW("SOFTWARE\\Gone"), kKeyAllAccess, &key), 0);
    const uint32_t one = 1;
    // A handle to a key deleted meanwhile reports the deletion.
    ASSERT_EQ(reg_.DeleteKey(kHkeyLocalMachine, KW("SOFTWARE\\Gone")), winerr::kSuccess);
    EXPECT_EQ(reg_.SetValue(key, KW("v"), kRegDword, reinterpret_cast<const uint8_t*>(&one), 4),
              winerr::kKeyDeleted);
    RegKey child = 0;
    EXPECT_EQ(reg_.CreateKey(key, KW("Child"), kKeyWrite, &child), winerr::kKeyDeleted);
    EXPECT_EQ(reg_.CloseKey(key), winerr::kSuccess);
    // A closed handle is invalid for every operation, closing included.
    uint32_t size = 0;
    EXPECT_EQ(reg_.QueryValue(key, KW("v"), nullptr, nullptr, &size), winerr::kInvalidHandle);
    EXPECT_EQ(reg_.OpenKey(key, KW("x"), kKeyRead, &child), winerr::kInvalidHandle);
    EXPECT_EQ(reg_.CloseKey(key), winerr::kInvalidHandle);
    EXPECT_EQ(reg_.CloseKey(0x12345678), winerr::kInvalidHandle);
    // Predefined roots need no opening and closing them is a no-op.
    EXPECT_EQ(reg_.CloseKey(kHkeyLocalMachine), winerr::kSuccess);
}

TEST_F(MemoryRegistryTest, HandlesAllowOnlyTheirAccess) {
    reg_.PutDword(KW("HKLM\\SOFTWARE\\Korva"), KW("v"), 1);
    RegKey readOnly = 0;
    RegKey writeOnly = 0;
    ASSERT_EQ(reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead, &readOnly), 0);
    ASSERT_EQ(reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyWrite, &writeOnly), 0);
    const uint32_t two = 2;
    uint32_t size = 4;
    uint32_t value = 0;
    EXPECT_EQ(reg_.SetValue(readOnly, KW("v"), kRegDword, reinterpret_cast<const uint8_t*>(&two), 4),
              winerr::kAccessDenied);
    EXPECT_EQ(reg_.DeleteValue(readOnly, KW("v")), winerr::kAccessDenied);
    EXPECT_EQ(reg_.QueryValue(writeOnly, KW("v"), nullptr, reinterpret_cast<uint8_t*>(&value), &size),
              winerr::kAccessDenied);
    EXPECT_EQ(reg_.SetValue(writeOnly, KW("v"), kRegDword, reinterpret_cast<const uint8_t*>(&two), 4), 0);
    EXPECT_EQ(reg_.QueryValue(readOnly, KW("v"), nullptr, reinterpret_cast<uint8_t*>(&value), &size), 0);
    EXPECT_EQ(value, 2u);
    EXPECT_EQ(reg_.DeleteValue(writeOnly, KW("v")), winerr::kSuccess);
    EXPECT_EQ(reg_.DeleteValue(writeOnly, KW("v")), winerr::kFileNotFound);
    reg_.CloseKey(readOnly);
    reg_.CloseKey(writeOnly);
}

TEST_F(MemoryRegistryTest, ConnectOpensLocalRootsOnly) {
    RegKey root = 0;
    ASSERT_EQ(reg_.Connect(nullptr, kHkeyLocalMachine, &root), winerr::kSuccess);
    // The connection is a handle of its own that must be closed.
    EXPECT_EQ(reg_.OpenHandleCount(), 1u);
    RegKey key = 0;
    EXPECT_EQ(reg_.CreateKey(root, KW("SOFTWARE\\Korva"), kKeyWrite, &key), 0);
    reg_.CloseKey(key);
    EXPECT_EQ(reg_.CloseKey(root), winerr::kSuccess);
    EXPECT_EQ(reg_.Connect(KW("\\\\elsewhere"), kHkeyLocalMachine, &root), 53);
    EXPECT_EQ(root, 0u);
    EXPECT_EQ(reg_.Connect(nullptr, 0x80000005u, &root), winerr::kInvalidHandle);
}

TEST_F(MemoryRegistryTest, FailNextFailsOneMatchingCall) {
    reg_.PutString(KW("HKLM\\SOFTWARE\\Korva"), KW("Log File"), KW("x"));
    reg_.PutString(KW("HKLM\\SOFTWARE\\Korva"), KW("Other"), KW("y"));
    reg_.FailNext(MemoryRegistry::Op::QueryValue, winerr::kAccessDenied, KW("log"));
    WString text;
    // A call that does not match leaves the fault pending.
    EXPECT_EQ(Read(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead, KW("Other"), &text), 0);
    EXPECT_EQ(Read(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead, KW("Log File"), &text),
              winerr::kAccessDenied);
    EXPECT_EQ(Read(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead, KW("Log File"), &text), 0);

    // A failed open hands out no handle; a key path matches too.
    reg_.FailNext(MemoryRegistry::Op::OpenKey, winerr::kPathNotFound, KW("software\\korva"));
    RegKey key = 0;
    EXPECT_EQ(reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead, &key), winerr::kPathNotFound);
    EXPECT_EQ(reg_.OpenHandleCount(), 0u);

    // Without a match the next call of that operation fails, whatever it names; the store is untouched.
    reg_.FailNext(MemoryRegistry::Op::CreateKey, winerr::kNotEnoughMemory);
    EXPECT_EQ(reg_.CreateKey(kHkeyLocalMachine, KW("SOFTWARE\\New"), kKeyWrite, &key),
              winerr::kNotEnoughMemory);
    EXPECT_FALSE(reg_.HasKey(KW("HKLM\\SOFTWARE\\New")));

    // Faults queue in order.
    reg_.FailNext(MemoryRegistry::Op::Connect, 5);
    reg_.FailNext(MemoryRegistry::Op::Connect, 53);
    EXPECT_EQ(reg_.Connect(nullptr, kHkeyLocalMachine, &key), 5);
    EXPECT_EQ(reg_.Connect(nullptr, kHkeyLocalMachine, &key), 53);
    ASSERT_EQ(reg_.Connect(nullptr, kHkeyLocalMachine, &key), 0);
    reg_.FailNext(MemoryRegistry::Op::CloseKey, winerr::kInvalidHandle);
    EXPECT_EQ(reg_.CloseKey(key), winerr::kInvalidHandle);
    EXPECT_EQ(reg_.CloseKey(key), winerr::kSuccess);
}

TEST_F(MemoryRegistryTest, LeakedHandlesAreCounted) {
    RegKey a = 0;
    RegKey b = 0;
    RegKey missing = 0;
    ASSERT_EQ(reg_.CreateKey(kHkeyLocalMachine, KW("SOFTWARE\\A"), kKeyWrite, &a), 0);
    ASSERT_EQ(reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE\\A"), kKeyRead, &b), 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE\\B"), kKeyRead, &missing), winerr::kFileNotFound);
    EXPECT_EQ(missing, 0u);
    EXPECT_EQ(reg_.OpenHandleCount(), 2u);
    reg_.CloseKey(a);
    reg_.CloseKey(b);
}

TEST_F(MemoryRegistryTest, ConcurrentWritersAndReaders) {
    constexpr int kThreads = 4;
    constexpr int kValues = 100;
    Thread threads[kThreads];
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(threads[t].Start([this, t, &failures] {
            RegKey key = 0;
            if (reg_.CreateKey(kHkeyLocalMachine, KW("SOFTWARE\\Shared"), kKeyAllAccess, &key) != 0) {
                ++failures;
                return;
            }
            for (int i = 0; i < kValues; ++i) {
                const uint32_t number = static_cast<uint32_t>(t * kValues + i);
                const WString name = AsciiToWide(std::to_string(number));
                uint32_t back = 0;
                uint32_t size = 4;
                if (reg_.SetValue(key, name.c_str(), kRegDword, reinterpret_cast<const uint8_t*>(&number),
                                  4) != 0 ||
                    reg_.QueryValue(key, name.c_str(), nullptr, reinterpret_cast<uint8_t*>(&back), &size) !=
                        0 ||
                    back != number) {
                    ++failures;
                }
            }
            reg_.CloseKey(key);
        }),
                  0);
    }
    for (Thread& thread : threads) {
        ASSERT_TRUE(thread.Join(0xFFFFFFFF));
    }
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace korva::platform
