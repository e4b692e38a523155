// The registry connection: the 32-bit view first, values by type, the buffer sizes asked for, keys created.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "infra/registry_connection.h"
#include "platform/clock.h"
#include "platform/format.h"
#include "platform/sync.h"
#include "platform/unique_handle.h"
#include "platform/result_codes.h"
#include "tests/support/fake_registry.h"
#include "tests/support/result_assert.h"

namespace korva {
namespace {

// Writes straight through the registry seam, bypassing the class under test.
void Put(const WString& path, bool view32, const WChar* name, uint32_t type, const WString& text,
         size_t size = 0) {  // 0: the text with its terminator
    platform::UniqueRegKey key;
    const uint32_t access = platform::kKeyWrite | (view32 ? platform::kKeyWow64_32Key : 0);
    ASSERT_OK(platform::Reg().CreateKey(platform::kHkeyLocalMachine, path.c_str(), access, key.put()));
    const auto bytes = static_cast<uint32_t>(size != 0 ? size : (text.size() + 1) * sizeof(WChar));
    EXPECT_OK(platform::Reg().SetValue(key.get(), name, type, reinterpret_cast<const uint8_t*>(text.c_str()),
                                       bytes));
}

// The in-memory registry, recording the buffer size of every value query.
class RecordingRegistry final : public korva::testing::FakeRegistry {
  public:
    [[nodiscard]] int32_t QueryValue(platform::RegKey k, const WChar* n, uint32_t* t, uint8_t* d,
                                     uint32_t* s) override {
        querySizes.push_back(*s);
        return FakeRegistry::QueryValue(k, n, t, d, s);
    }
    std::vector<uint32_t> querySizes;
};

// Every case against an in-memory registry and the process's own (Wine's on the Windows build).
class RegistryViews : public ::testing::TestWithParam<bool> {};

TEST_P(RegistryViews, ThirtyTwoBitViewFirstValuesAsStoredOrRefusedByTypeAndWritesCreateKeys) {
    const auto memory = GetParam() ? std::make_unique<RecordingRegistry>() : nullptr;  // null: the process's
    const WString base = Format(KW("SOFTWARE\\KorvaRegistryTest-%u-%lld"), platform::CurrentThreadId(),
                                static_cast<long long>(platform::SystemClock().NowFileTime()));
    const ScopeExit cleanup([&base] {  // deepest keys first, in both views
        for (const WChar* leaf : {KW("\\Both"), KW("\\Native"), KW("\\New\\Deeper"), KW("\\New"), KW("")}) {
            for (const WString& key : {base + leaf, KW("SOFTWARE\\WOW6432Node") + base.substr(8) + leaf}) {
                const int32_t deleted = platform::Reg().DeleteKey(platform::kHkeyLocalMachine, key.c_str());
                EXPECT_TRUE(deleted == winerr::kSuccess || deleted == winerr::kFileNotFound) << deleted;
            }
        }
    });
    RegistryConnection connection;
    ASSERT_OK(connection.Connect(nullptr, platform::kHkeyLocalMachine));
    const WString both = base + KW("\\Both");
    const WString native = base + KW("\\Native");
    const WString long1000(499, u'x');  // 1,000 bytes with the terminator
    Put(both, true, KW("Name"), platform::kRegSz, KW("thirty-two"));
    Put(both, false, KW("Name"), platform::kRegSz, KW("native"));
    Put(both, false, KW("NativeValue"), platform::kRegSz, KW("x"));
    Put(native, false, KW("Long"), platform::kRegSz, long1000);
    Put(native, false, KW("Fits"), platform::kRegSz, WString(127, u'x'));  // 256 bytes
    Put(native, false, KW("Expand"), platform::kRegExpandSz, KW("%SystemRoot%\\x"));
    Put(native, false, KW("Empty"), platform::kRegSz, KW(""));
    Put(native, false, KW("Odd"), platform::kRegSz, KW("ab"), 3);  // the last unit's high byte missing
    Put(native, false, KW("NumberText"), platform::kRegSz, KW("42"));
    Put(native, false, KW("Number"), platform::kRegDword, KW("\x5678\x1234"), 4);
    // key, value, ReadString's result and text, ReadDword's result and number (a text is never a number)
    const std::tuple<WString, const WChar*, int32_t, WString, int32_t, uint32_t> kCases[] = {
        {both, KW("Name"), 0, KW("thirty-two"), kRegistryWrongType, 0},
        // The key opens in the 32-bit view, so a value missing there is not looked for in the native view.
        {both, KW("NativeValue"), winerr::kFileNotFound, KW(""), winerr::kFileNotFound, 0},
        // Keys missing from the 32-bit view are read from the native view.
        {native, KW("Long"), 0, long1000, kRegistryWrongType, 0},
        {native, KW("Expand"), 0, KW("%SystemRoot%\\x"), kRegistryWrongType, 0},  // not expanded
        {native, KW("Empty"), 0, KW(""), kRegistryWrongType, 0},
        {native, KW("Odd"), 0, KW("ab"), kRegistryWrongType, 0},
        {native, KW("NumberText"), 0, KW("42"), kRegistryWrongType, 0},
        {native, KW("Number"), kRegistryWrongType, KW(""), 0, 0x12345678},
        {native, KW("Missing"), winerr::kFileNotFound, KW(""), winerr::kFileNotFound, 0},
        {base + KW("\\Missing"), KW("Any"), winerr::kFileNotFound, KW(""), winerr::kFileNotFound, 0},
    };
    for (const auto& [key, name, stringResult, expectedText, dwordResult, expectedNumber] : kCases) {
        SCOPED_TRACE(Utf16ToUtf8(key.substr(key.rfind(u'\\')) + name));
        WString text = KW("stale");
        uint32_t number = 77;
        EXPECT_EQ(connection.ReadString(key.c_str(), name, &text), stringResult);
        EXPECT_EQ(connection.ReadDword(key.c_str(), name, &number), dwordResult);
        EXPECT_EQ(std::tie(text, number), std::tie(expectedText, expectedNumber));
    }
    // The first query offers 256 bytes; a longer value is asked for again with the reported size plus 10.
    WString text;
    if (memory) {
        memory->querySizes.clear();
        EXPECT_EQ(connection.ReadString(native.c_str(), KW("Fits"), &text), 0);
        EXPECT_EQ(connection.ReadString(native.c_str(), KW("Long"), &text), 0);
        EXPECT_EQ(memory->querySizes, (std::vector<uint32_t>{256, 256, 1010}));
    }
    const WString deeper = base + KW("\\New\\Deeper");
    const WString stored = KW("st\u00F6red \u5BC6");  // both bytes of each unit count
    ASSERT_EQ(connection.WriteString(deeper.c_str(), KW("Text"), stored.c_str()), 0);
    EXPECT_EQ(connection.ReadString(deeper.c_str(), KW("Text"), &text), 0);
    EXPECT_EQ(text, stored);
}

INSTANTIATE_TEST_SUITE_P(InMemoryAndProcessRegistry, RegistryViews, ::testing::Bool());

}  // namespace
}  // namespace korva
