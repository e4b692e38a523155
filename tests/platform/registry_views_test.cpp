// The process-wide registry: on Windows (and Wine) the real one, on Linux the MemoryRegistry behind Reg().
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/win_errors.h"

namespace korva::platform {
namespace {

class ProcessRegistryTest : public testing::Test {
  protected:
    void SetUp() override {
        // A key no other run uses, so that parallel runs and left-overs of a crashed run do not interfere.
        const WString unique = AsciiToWide(std::to_string(SystemClock().NowFileTime()) + "-" +
                                           std::to_string(CurrentThreadId()));
        name_ = KW("KorvaPlatformTest-") + unique;
        native_ = KW("SOFTWARE\\") + name_;
        wow_ = KW("SOFTWARE\\WOW6432Node\\") + name_;
    }

    void TearDown() override {
        // Sub-keys first: the registry deletes only keys without sub-keys.
        for (const WString& base : {native_, wow_}) {
            Reg().DeleteKey(kHkeyLocalMachine, (base + KW("\\Child")).c_str());
            Reg().DeleteKey(kHkeyLocalMachine, base.c_str());
        }
        RegKey key = 0;
        EXPECT_EQ(Reg().OpenKey(kHkeyLocalMachine, native_.c_str(), kKeyRead, &key), winerr::kFileNotFound);
        EXPECT_EQ(Reg().OpenKey(kHkeyLocalMachine, wow_.c_str(), kKeyRead, &key), winerr::kFileNotFound);
    }

    static int32_t WriteText(const WString& path, uint32_t view, const WChar* name, WStringView text) {
        RegKey key = 0;
        int32_t result = Reg().CreateKey(kHkeyLocalMachine, path.c_str(), kKeyWrite | view, &key);
        if (result != winerr::kSuccess) {
            return result;
        }
        std::vector<uint8_t> data((text.size() + 1) * sizeof(WChar), 0);
        std::memcpy(data.data(), text.data(), text.size() * sizeof(WChar));
        result = Reg().SetValue(key, name, kRegSz, data.data(), static_cast<uint32_t>(data.size()));
        EXPECT_EQ(Reg().CloseKey(key), winerr::kSuccess);
        return result;
    }

    static int32_t ReadText(const WString& path, uint32_t view, const WChar* name, WString* text) {
        RegKey key = 0;
        int32_t result = Reg().OpenKey(kHkeyLocalMachine, path.c_str(), kKeyRead | view, &key);
        if (result != winerr::kSuccess) {
            return result;
        }
        std::vector<uint8_t> data(512);
        uint32_t size = static_cast<uint32_t>(data.size());
        uint32_t type = 0;
        result = Reg().QueryValue(key, name, &type, data.data(), &size);
        EXPECT_EQ(Reg().CloseKey(key), winerr::kSuccess);
        if (result == winerr::kSuccess) {
            text->assign(reinterpret_cast<const WChar*>(data.data()), size / sizeof(WChar));
            while (!text->empty() && text->back() == 0) {
                text->pop_back();
            }
        }
        return result;
    }

    WString name_;
    WString native_;
    WString wow_;
};

TEST_F(ProcessRegistryTest, EachViewReadsBackItsOwnValue) {
    ASSERT_EQ(WriteText(native_, kKeyWow64_32Key, KW("View"), KW("32-bit")), winerr::kSuccess);
    ASSERT_EQ(WriteText(native_, 0, KW("View"), KW("native")), winerr::kSuccess);
    ASSERT_EQ(WriteText(native_, 0, KW("NativeOnly"), KW("n")), winerr::kSuccess);

    const struct {
        const char* what;
        const WString& path;
        uint32_t view;
        const WChar* name;
        int32_t result;
        const WChar* text;
    } kCases[] = {
        {"32-bit view", native_, kKeyWow64_32Key, KW("View"), winerr::kSuccess, KW("32-bit")},
        {"native view", native_, 0, KW("View"), winerr::kSuccess, KW("native")},
        {"explicit 64-bit view", native_, kKeyWow64_64Key, KW("View"), winerr::kSuccess, KW("native")},
        {"32-bit value by its native path", wow_, 0, KW("View"), winerr::kSuccess, KW("32-bit")},
        {"native-only value is absent from the 32-bit view", native_, kKeyWow64_32Key, KW("NativeOnly"),
         winerr::kFileNotFound, KW("")},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        WString text;
        EXPECT_EQ(ReadText(c.path, c.view, c.name, &text), c.result);
        EXPECT_EQ(text, c.text);
    }
}

TEST_F(ProcessRegistryTest, LongValueNeedsTheSizeTheRegistryReports) {
    const WString longText(300, u'x');
    ASSERT_EQ(WriteText(native_, 0, KW("Long"), longText), winerr::kSuccess);
    RegKey key = 0;
    ASSERT_EQ(Reg().OpenKey(kHkeyLocalMachine, native_.c_str(), kKeyRead, &key), winerr::kSuccess);
    std::vector<uint8_t> buffer(256);
    uint32_t size = 256;
    uint32_t type = 0;
    EXPECT_EQ(Reg().QueryValue(key, KW("Long"), &type, buffer.data(), &size), winerr::kMoreData);
    EXPECT_EQ(size, 602u);  // 300 characters and the terminating zero, two bytes each
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(Reg().CloseKey(key), winerr::kSuccess);
}

TEST_F(ProcessRegistryTest, KeysWithSubKeysAreNotDeleted) {
    ASSERT_EQ(WriteText(native_ + KW("\\Child"), 0, KW("v"), KW("x")), winerr::kSuccess);
    // Windows refuses with access denied.
    EXPECT_EQ(Reg().DeleteKey(kHkeyLocalMachine, native_.c_str()), winerr::kAccessDenied);
    WString text;
    EXPECT_EQ(ReadText(native_ + KW("\\Child"), 0, KW("v"), &text), winerr::kSuccess);
}

TEST_F(ProcessRegistryTest, ConnectToThisComputer) {
    RegKey root = 0;
    ASSERT_EQ(Reg().Connect(nullptr, kHkeyLocalMachine, &root), winerr::kSuccess);
    RegKey key = 0;
    ASSERT_EQ(Reg().CreateKey(root, native_.c_str(), kKeyWrite, &key), winerr::kSuccess);
    EXPECT_EQ(Reg().CloseKey(key), winerr::kSuccess);
    EXPECT_EQ(Reg().OpenKey(root, native_.c_str(), kKeyRead, &key), winerr::kSuccess);
    EXPECT_EQ(Reg().CloseKey(key), winerr::kSuccess);
    EXPECT_EQ(Reg().CloseKey(root), winerr::kSuccess);
}

}  // namespace
}  // namespace korva::platform
