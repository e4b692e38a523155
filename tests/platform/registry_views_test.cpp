// The process-wide registry: on Windows (and Wine) the real one, on Linux the MemoryRegistry behind Reg().
#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/result_codes.h"

namespace korva::platform {
namespace {

int32_t WriteText(const WString& path, uint32_t view, const WChar* name, const WString& text) {
    RegKey key = 0;
    int32_t result = Reg().CreateKey(kHkeyLocalMachine, path.c_str(), kKeyWrite | view, &key);
    if (result == winerr::kSuccess) {
        result = Reg().SetValue(key, name, kRegSz, reinterpret_cast<const uint8_t*>(text.c_str()),
                                static_cast<uint32_t>((text.size() + 1) * sizeof(WChar)));
        EXPECT_EQ(Reg().CloseKey(key), winerr::kSuccess);
    }
    return result;
}

TEST(ProcessRegistryTest, EachViewReadsBackItsOwnValue) {
    // A key no other run uses, so that parallel runs and left-overs of a crashed run do not interfere.
    const WString name = AsciiToWide("KorvaPlatformTest-" + std::to_string(SystemClock().NowFileTime()) +
                                     "-" + std::to_string(CurrentThreadId()));
    const WString native = KW("SOFTWARE\\") + name;
    const WString wow = KW("SOFTWARE\\WOW6432Node\\") + name;
    ASSERT_EQ(WriteText(native, kKeyWow64_32Key, KW("View"), KW("32-bit")), winerr::kSuccess);
    ASSERT_EQ(WriteText(native, 0, KW("View"), KW("native")), winerr::kSuccess);
    ASSERT_EQ(WriteText(native, 0, KW("Long"), WString(300, u'x')), winerr::kSuccess);
    ASSERT_EQ(WriteText(native + KW("\\Child"), 0, KW("v"), KW("x")), winerr::kSuccess);
    const struct {
        const char* what;
        const WString& path;
        uint32_t view;
        const WChar* name;
        int32_t result;
        const WChar* text;
        uint32_t size;
    } kCases[] = {
        {"32-bit view", native, kKeyWow64_32Key, KW("View"), 0, KW("32-bit"), 14},
        {"native view", native, 0, KW("View"), 0, KW("native"), 14},
        {"32-bit value by its native path", wow, 0, KW("View"), 0, KW("32-bit"), 14},
        {"native-only value", native, kKeyWow64_32Key, KW("Long"), winerr::kFileNotFound, KW(""), 0},
        // 300 characters and the terminating zero, two bytes each, do not fit.
        {"long value", native, 0, KW("Long"), winerr::kMoreData, KW(""), 602},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        RegKey key = 0;
        ASSERT_EQ(Reg().OpenKey(kHkeyLocalMachine, c.path.c_str(), kKeyRead | c.view, &key),
                  winerr::kSuccess);
        WChar buffer[128] = {};
        uint32_t size = sizeof(buffer);
        EXPECT_EQ(Reg().QueryValue(key, c.name, nullptr, reinterpret_cast<uint8_t*>(buffer), &size),
                  c.result);
        EXPECT_EQ(WString(c.result == 0 ? buffer : KW("")), c.text);
        EXPECT_EQ(c.result == winerr::kFileNotFound ? 0 : size, c.size);
        EXPECT_EQ(Reg().CloseKey(key), winerr::kSuccess);
    }
    // A key with sub-keys is not deleted (Windows says access denied); sub-keys first, then it goes.
    EXPECT_EQ(Reg().DeleteKey(kHkeyLocalMachine, native.c_str()), winerr::kAccessDenied);
    for (const WString& path : {native + KW("\\Child"), native, wow}) {
        EXPECT_EQ(Reg().DeleteKey(kHkeyLocalMachine, path.c_str()), winerr::kSuccess);
    }
    RegKey key = 0;
    EXPECT_EQ(Reg().OpenKey(kHkeyLocalMachine, native.c_str(), kKeyRead, &key), winerr::kFileNotFound);
}

}  // namespace
}  // namespace korva::platform
