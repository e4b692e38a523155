// RegistryConnection against two registries: an in-memory one with injected failures, and the process's own
// registry (Wine's real registry on the Windows build, the process-wide in-memory registry on Linux), where
// the test writes its values into a unique key in both views and removes it afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "infra/registry_connection.h"
#include "platform/clock.h"
#include "platform/format.h"
#include "platform/memory_registry.h"
#include "platform/sync.h"
#include "platform/win_errors.h"

namespace korva {
namespace {

using platform::MemoryRegistry;
using platform::RegKey;

// Writes straight through the registry seam, bypassing the class under test.
int32_t PutValue(WStringView path, bool view32, const WChar* name, uint32_t type,
                 const std::vector<uint8_t>& data) {
    platform::Registry& registry = platform::Reg();
    RegKey key = 0;
    const uint32_t access =
        platform::kKeyWrite | (view32 ? platform::kKeyWow64_32Key : platform::kKeyWow64_64Key);
    int32_t result = registry.CreateKey(platform::kHkeyLocalMachine, WString(path).c_str(), access, &key);
    if (result == winerr::kSuccess) {
        result = registry.SetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
        registry.CloseKey(key);
    }
    return result;
}

std::vector<uint8_t> Utf16Bytes(WStringView text, bool withTerminator = true) {
    std::vector<uint8_t> bytes;
    for (WChar c : text) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(c) & 0xFF));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(c) >> 8));
    }
    if (withTerminator) {
        bytes.insert(bytes.end(), {0, 0});
    }
    return bytes;
}

std::vector<uint8_t> DwordBytes(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

WString Repeated(size_t count) {
    WString text;
    for (size_t i = 0; i < count; ++i) {
        text.push_back(static_cast<WChar>(KW('a') + i % 26));
    }
    return text;
}

// Runs every case once against an in-memory registry and once against the process's registry.
class RegistryViews : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (GetParam()) {
            memory_ = std::make_unique<MemoryRegistry>();
            override_.emplace(memory_.get());
        }
        base_ = Format(KW("SOFTWARE\\KorvaRegistryTest-%u-%lld"), platform::CurrentThreadId(),
                       static_cast<long long>(platform::SystemClock().NowFileTime()));
        ASSERT_EQ(connection_.Connect(nullptr, platform::kHkeyLocalMachine), 0);
    }

    void TearDown() override {
        // Deepest keys first, in both views: a key with sub-keys cannot be deleted.
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
            platform::Reg().DeleteKey(platform::kHkeyLocalMachine, it->c_str());
            const WString view32 = KW("SOFTWARE\\WOW6432Node") + it->substr(WLen(KW("SOFTWARE")));
            platform::Reg().DeleteKey(platform::kHkeyLocalMachine, view32.c_str());
        }
        connection_.Close();
        if (memory_) {
            EXPECT_EQ(memory_->OpenHandleCount(), 0u) << "a registry key was left open";
        }
    }

    // A key below the test's own key ("A\\B" for nested ones), remembered for clean-up.
    WString Key(WStringView leaf) {
        WString path = base_;
        Remember(path);
        size_t start = 0;
        while (start <= leaf.size()) {
            const size_t end = std::min(leaf.find(KW('\\'), start), leaf.size());
            path += KW("\\") + WString(leaf.substr(start, end - start));
            Remember(path);
            start = end + 1;
        }
        return path;
    }

    void Remember(const WString& path) {
        if (std::find(created_.begin(), created_.end(), path) == created_.end()) {
            created_.push_back(path);
        }
    }

    std::unique_ptr<MemoryRegistry> memory_;
    std::optional<platform::ScopedRegistryOverride> override_;
    WString base_;
    std::vector<WString> created_;  // parents before children
    RegistryConnection connection_;
};

TEST_P(RegistryViews, ThirtyTwoBitViewWinsAndNativeViewIsTheFallback) {
    const WString both = Key(KW("Both"));
    const WString nativeOnly = Key(KW("NativeOnly"));
    ASSERT_EQ(PutValue(both, true, KW("Name"), platform::kRegSz, Utf16Bytes(KW("thirty-two"))), 0);
    ASSERT_EQ(PutValue(both, false, KW("Name"), platform::kRegSz, Utf16Bytes(KW("native"))), 0);
    ASSERT_EQ(PutValue(both, true, KW("Number"), platform::kRegDword, DwordBytes(32)), 0);
    ASSERT_EQ(PutValue(both, false, KW("Number"), platform::kRegDword, DwordBytes(64)), 0);
    ASSERT_EQ(PutValue(nativeOnly, false, KW("Name"), platform::kRegSz, Utf16Bytes(KW("native"))), 0);

    WString text;
    uint32_t number = 0;
    EXPECT_EQ(connection_.ReadString(both.c_str(), KW("Name"), &text), 0);
    EXPECT_EQ(text, KW("thirty-two"));
    EXPECT_EQ(connection_.ReadDword(both.c_str(), KW("Number"), &number), 0);
    EXPECT_EQ(number, 32u);
    EXPECT_EQ(connection_.ReadString(nativeOnly.c_str(), KW("Name"), &text), 0);
    EXPECT_EQ(text, KW("native"));
    // The key opens in the 32-bit view, so a value missing there is not looked for in the native view.
    ASSERT_EQ(PutValue(both, false, KW("NativeValue"), platform::kRegSz, Utf16Bytes(KW("x"))), 0);
    EXPECT_EQ(connection_.ReadString(both.c_str(), KW("NativeValue"), &text), winerr::kFileNotFound);
}

TEST_P(RegistryViews, ValuesAreReadAsStoredOrRefusedByType) {
    const WString key = Key(KW("Values"));
    const WString long1000 = Repeated(499);     // 1,000 bytes with the terminator
    const WString long70000 = Repeated(34999);  // 70,000 bytes
    ASSERT_EQ(PutValue(key, false, KW("Long1000"), platform::kRegSz, Utf16Bytes(long1000)), 0);
    ASSERT_EQ(PutValue(key, false, KW("Long70000"), platform::kRegSz, Utf16Bytes(long70000)), 0);
    ASSERT_EQ(PutValue(key, false, KW("Expand"), platform::kRegExpandSz, Utf16Bytes(KW("%SystemRoot%\\x"))),
              0);
    ASSERT_EQ(PutValue(key, false, KW("Empty"), platform::kRegSz, Utf16Bytes(KW(""))), 0);
    ASSERT_EQ(PutValue(key, false, KW("NumberText"), platform::kRegSz, Utf16Bytes(KW("42"))), 0);
    ASSERT_EQ(PutValue(key, false, KW("Number"), platform::kRegDword, DwordBytes(0x12345678)), 0);
    ASSERT_EQ(PutValue(key, false, KW("Binary"), platform::kRegBinary, {1, 2, 3, 4}), 0);

    struct StringCase {
        const WChar* name;
        int32_t result;
        WString text;
    } stringCases[] = {
        {KW("Long1000"), 0, long1000},
        {KW("Long70000"), 0, long70000},
        {KW("Expand"), 0, KW("%SystemRoot%\\x")},  // environment references stay unexpanded
        {KW("Empty"), 0, KW("")},
        {KW("Number"), kRegistryWrongType, KW("")},
        {KW("Binary"), kRegistryWrongType, KW("")},
        {KW("Missing"), winerr::kFileNotFound, KW("")},
    };
    for (const StringCase& c : stringCases) {
        WString text = KW("stale");
        EXPECT_EQ(connection_.ReadString(key.c_str(), c.name, &text), c.result) << Utf16ToUtf8(c.name);
        EXPECT_EQ(text, c.text) << Utf16ToUtf8(c.name);
    }

    struct DwordCase {
        const WChar* name;
        int32_t result;
        uint32_t value;
    } dwordCases[] = {
        {KW("Number"), 0, 0x12345678},
        {KW("NumberText"), kRegistryWrongType, 0},  // a number written as text is not a number
        {KW("Missing"), winerr::kFileNotFound, 0},
    };
    for (const DwordCase& c : dwordCases) {
        uint32_t value = 77;
        EXPECT_EQ(connection_.ReadDword(key.c_str(), c.name, &value), c.result) << Utf16ToUtf8(c.name);
        EXPECT_EQ(value, c.value) << Utf16ToUtf8(c.name);
    }

    WString text = KW("stale");
    uint32_t value = 77;
    const WString missingKey = base_ + KW("\\NoSuchKey");
    EXPECT_EQ(connection_.ReadString(missingKey.c_str(), KW("Any"), &text), winerr::kFileNotFound);
    EXPECT_EQ(connection_.ReadDword(missingKey.c_str(), KW("Any"), &value), winerr::kFileNotFound);
    EXPECT_EQ(text, KW(""));
    EXPECT_EQ(value, 0u);
}

TEST_P(RegistryViews, WriteCreatesKeysAndDeleteRefusesKeysWithSubKeys) {
    const WString leaf = Key(KW("Written\\Deeper"));
    const WString parent = base_ + KW("\\Written");
    ASSERT_EQ(connection_.WriteString(leaf.c_str(), KW("Text"), KW("stored")), 0);

    WString text;
    EXPECT_EQ(connection_.ReadString(leaf.c_str(), KW("Text"), &text), 0);
    EXPECT_EQ(text, KW("stored"));
    // REG_SZ counts the terminating zero in its size.
    RegKey key = 0;
    ASSERT_EQ(platform::Reg().OpenKey(platform::kHkeyLocalMachine, leaf.c_str(), platform::kKeyRead, &key),
              0);
    uint32_t type = 0;
    uint32_t size = 0;
    EXPECT_EQ(platform::Reg().QueryValue(key, KW("Text"), &type, nullptr, &size), 0);
    platform::Reg().CloseKey(key);
    EXPECT_EQ(type, static_cast<uint32_t>(platform::kRegSz));
    EXPECT_EQ(size, 14u);

    EXPECT_NE(connection_.DeleteKey(parent.c_str()), 0) << "a key with sub-keys must survive";
    EXPECT_EQ(connection_.DeleteKey(leaf.c_str()), 0);
    EXPECT_EQ(connection_.ReadString(leaf.c_str(), KW("Text"), &text), winerr::kFileNotFound);
    EXPECT_EQ(connection_.DeleteKey(parent.c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistryViews, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "InMemory" : "ProcessRegistry";
                         });

// Delegates to a MemoryRegistry and records the buffer size of every value query.
class RecordingRegistry final : public platform::Registry {
  public:
    MemoryRegistry inner;
    std::vector<uint32_t> querySizes;
    // Text stored into "Grow" after the first query, so the size the reader was told is stale on its second
    // try.
    std::optional<WString> growTo;

    int32_t Connect(const WChar* m, RegKey p, RegKey* o) override { return inner.Connect(m, p, o); }
    int32_t OpenKey(RegKey p, const WChar* s, uint32_t a, RegKey* o) override {
        return inner.OpenKey(p, s, a, o);
    }
    int32_t CreateKey(RegKey p, const WChar* s, uint32_t a, RegKey* o) override {
        return inner.CreateKey(p, s, a, o);
    }
    int32_t QueryValue(RegKey k, const WChar* n, uint32_t* t, uint8_t* d, uint32_t* s) override {
        querySizes.push_back(*s);
        const int32_t result = inner.QueryValue(k, n, t, d, s);
        if (growTo) {
            inner.PutString(KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Test"), KW("Grow"), *growTo);
            growTo.reset();
        }
        return result;
    }
    int32_t SetValue(RegKey k, const WChar* n, uint32_t t, const uint8_t* d, uint32_t s) override {
        return inner.SetValue(k, n, t, d, s);
    }
    int32_t DeleteKey(RegKey p, const WChar* s) override { return inner.DeleteKey(p, s); }
    int32_t DeleteValue(RegKey k, const WChar* n) override { return inner.DeleteValue(k, n); }
    int32_t CloseKey(RegKey k) override { return inner.CloseKey(k); }
};

class RegistryRaw : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(connection_.Connect(nullptr, platform::kHkeyLocalMachine), 0); }
    void TearDown() override {
        connection_.Close();
        EXPECT_EQ(registry_.inner.OpenHandleCount(), 0u);
    }
    void PutBytes(const WChar* name, uint32_t type, const std::vector<uint8_t>& bytes) {
        registry_.inner.PutValue(kPath, name, type, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    int32_t Read(const WChar* name, WString* text) {
        return connection_.ReadString(KW("SOFTWARE\\Test"), name, text);
    }

    static constexpr const WChar* kPath = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Test");
    RecordingRegistry registry_;
    platform::ScopedRegistryOverride override_{&registry_};
    RegistryConnection connection_;
};

TEST_F(RegistryRaw, BufferStartsAt256BytesAndGrowsToReportedSizePlusTen) {
    registry_.inner.PutString(kPath, KW("Short"), Repeated(127));  // 256 bytes: fits at once
    registry_.inner.PutString(kPath, KW("Long"), Repeated(200));   // 402 bytes
    registry_.inner.PutString(kPath, KW("Grow"), Repeated(200));   // 1,202 bytes by the second query
    registry_.growTo = Repeated(600);
    struct Case {
        const WChar* name;
        WString text;
        std::vector<uint32_t> querySizes;
    } cases[] = {
        {KW("Grow"), Repeated(600), {256, 412, 1212}},  // asks again as long as the value outgrows the buffer
        {KW("Short"), Repeated(127), {256}},
        {KW("Long"), Repeated(200), {256, 412}},
    };
    for (const Case& c : cases) {
        registry_.querySizes.clear();
        WString text;
        EXPECT_EQ(Read(c.name, &text), 0) << Utf16ToUtf8(c.name);
        EXPECT_EQ(text, c.text) << Utf16ToUtf8(c.name);
        EXPECT_EQ(registry_.querySizes, c.querySizes) << Utf16ToUtf8(c.name);
    }
}

TEST_F(RegistryRaw, StringsWithoutTerminatorOrWithOddSizeStayInsideTheData) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        WString text;
    } cases[] = {
        {"no terminator, fills the first buffer exactly", Utf16Bytes(Repeated(128), false), Repeated(128)},
        {"no terminator, needs a grown buffer", Utf16Bytes(Repeated(300), false), Repeated(300)},
        {"odd size: the last byte is the low half of a unit", {'a', 0, 'b', 0, 'c'}, KW("abc")},
        {"zero inside ends the text", {'a', 0, 0, 0, 'b', 0, 0, 0}, KW("a")},
        {"no bytes at all", {}, KW("")},
    };
    for (const Case& c : cases) {
        PutBytes(KW("Raw"), platform::kRegSz, c.bytes);
        WString text;
        EXPECT_EQ(Read(KW("Raw"), &text), 0) << c.what;
        EXPECT_EQ(text, c.text) << c.what;
    }
}

TEST_F(RegistryRaw, PlatformFailuresAreReportedUnchanged) {
    using Op = MemoryRegistry::Op;
    registry_.inner.PutString(kPath, KW("Text"), KW("value"));
    registry_.inner.PutDword(kPath, KW("Number"), 5);
    registry_.inner.PutString(KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Test"), KW("Text"),
                              KW("value32"));

    // The 32-bit view refuses access, the native view has the key: read from there.
    registry_.inner.FailNext(Op::OpenKey, winerr::kAccessDenied);
    WString text;
    EXPECT_EQ(Read(KW("Text"), &text), 0);
    EXPECT_EQ(text, KW("value"));

    // Both views fail: the native view's error is the result.
    registry_.inner.FailNext(Op::OpenKey, winerr::kAccessDenied);
    EXPECT_EQ(connection_.ReadString(KW("SOFTWARE\\Absent"), KW("Text"), &text), winerr::kFileNotFound);
    EXPECT_EQ(text, KW(""));

    registry_.inner.FailNext(Op::QueryValue, winerr::kAccessDenied);
    uint32_t number = 9;
    EXPECT_EQ(connection_.ReadDword(KW("SOFTWARE\\Test"), KW("Number"), &number), winerr::kAccessDenied);
    EXPECT_EQ(number, 0u);

    registry_.inner.FailNext(Op::CreateKey, winerr::kAccessDenied);
    EXPECT_EQ(connection_.WriteString(KW("SOFTWARE\\New"), KW("V"), KW("x")), winerr::kAccessDenied);
    registry_.inner.FailNext(Op::SetValue, winerr::kDiskFull);
    EXPECT_EQ(connection_.WriteString(KW("SOFTWARE\\New"), KW("V"), KW("x")), winerr::kDiskFull);

    registry_.inner.FailNext(Op::Connect, winerr::kAccessDenied);
    EXPECT_EQ(connection_.Connect(nullptr, platform::kHkeyLocalMachine), winerr::kAccessDenied);
    EXPECT_FALSE(connection_.IsConnected());
    EXPECT_NE(Read(KW("Text"), &text), 0) << "an unconnected reader cannot succeed";
}

}  // namespace
}  // namespace korva
