// The in-memory registry: Linux's process registry and every test's fake.
#include "platform/memory_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <string>
#include <tuple>
#include <vector>

#include "platform/files.h"
#include "platform/result_codes.h"
#include "tests/support/fake_registry.h"
#include "tests/support/result_assert.h"

namespace korva::platform {
namespace {

constexpr RegKey kHklm = kHkeyLocalMachine;
constexpr uint32_t kRead32 = kKeyRead | kKeyWow64_32Key;
constexpr uint32_t kWrite32 = kKeyWrite | kKeyWow64_32Key;

int32_t Write(RegKey root, const WString& path, uint32_t access, const WChar* name, const WString& text) {
    UniqueRegKey key;
    const int32_t result = Reg().CreateKey(root, path.c_str(), access, key.put());
    const auto* data = reinterpret_cast<const uint8_t*>(text.c_str());
    return result != 0 ? result
                       : Reg().SetValue(key.get(), name, kRegSz, data, (text.size() + 1) * sizeof(WChar));
}

std::vector<uint8_t> Bytes(const void* data, size_t size) {
    return std::vector<uint8_t>(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
}
std::vector<uint8_t> Text(WStringView text) {
    return Bytes(WString(text).c_str(), (text.size() + 1) * sizeof(WChar));
}
using Value = std::pair<uint32_t, std::vector<uint8_t>>;  // type and bytes, or the error with no bytes
Value Sz(const WChar* text) {
    return {kRegSz, Text(text)};
}

Value Query(RegKey root, const WString& path, uint32_t access, const WChar* name) {
    UniqueRegKey key;
    std::vector<uint8_t> data(512);
    uint32_t type = 0;
    auto size = static_cast<uint32_t>(data.size());
    int32_t result = Reg().OpenKey(root, path.c_str(), access, key.put());
    if (result == winerr::kSuccess)
        result = Reg().QueryValue(key.get(), name, &type, data.data(), &size);
    data.resize(result == winerr::kSuccess ? size : 0);
    return {result == winerr::kSuccess ? type : static_cast<uint32_t>(result), data};
}

TEST(MemoryRegistryTest, LookupsFollowTheViewsAndIgnoreCase) {
    korva::testing::FakeRegistry reg_;
    ASSERT_OK(Write(kHklm, KW("SOFTWARE\\Korva"), kWrite32, KW("v"), KW("32")));
    ASSERT_OK(Write(kHklm, KW("software\\Korva"), kKeyWrite | kKeyWow64_64Key, KW("v"), KW("64")));
    ASSERT_OK(Write(kHklm, KW("SOFTWARE\\Korva\\Native"), kKeyWrite, KW("v"), KW("native only")));
    ASSERT_OK(Write(kHklm, KW("SOFTWARE\\WOW6432Node\\Korva\\Wow"), kWrite32, KW("v"), KW("not twice")));
    ASSERT_OK(Write(kHkeyCurrentUser, KW("Software\\Shared"), kWrite32, KW("v"), KW("HKCU")));
    ASSERT_OK(Write(kHklm, KW("SYSTEM\\Shared"), kWrite32, KW("v"), KW("SYSTEM")));
    // Another case replaces the value instead of adding a second one; the name keeps its first case.
    ASSERT_OK(Write(kHklm, KW("SYSTEM\\shared"), kWrite32, KW("V"), KW("System")));
    EXPECT_NE(reg_.SaveRegText().find(KW("SYSTEM\\Shared]\r\n\"v\"=\"System\"\r\n")), WString::npos);
    UniqueRegKey software32;  // a handle opened in the 32-bit view keeps its sub-keys there
    ASSERT_OK(reg_.OpenKey(kHklm, KW("SOFTWARE"), kRead32, software32.put()));
    const Value kMissing = {winerr::kFileNotFound, {}};
    const std::tuple<RegKey, const WChar*, uint32_t, const WChar*, Value> kCases[] = {
        {kHklm, KW("SOFTWARE\\KORVA\\"), kKeyRead, KW("V"), Sz(KW("64"))},
        {kHklm, KW("SOFTWARE\\WOW6432Node\\Korva"), kKeyRead, KW("v"), Sz(KW("32"))},
        {software32.get(), KW("Korva"), kKeyRead, KW("v"), Sz(KW("32"))},
        {kHklm, KW("SOFTWARE\\Korva\\Native"), kRead32, KW("v"), kMissing},
        {kHklm, KW("SOFTWARE\\Korva\\Wow"), kRead32, KW("v"), Sz(KW("not twice"))},
        {kHklm, KW("SOFTWARE\\Korva\\Wow"), kKeyRead, KW("v"), kMissing},
        {kHkeyCurrentUser, KW("Software\\Shared"), kKeyRead, KW("v"), Sz(KW("HKCU"))},  // in both views
        {kHklm, KW("SYSTEM\\Shared"), kKeyRead, KW("v"), Sz(KW("System"))},
        {kHklm, KW("SYSTEM\\Shared"), kKeyRead, KW("absent"), kMissing},
        {kHklm, KW("SYSTEM\\Shared"), kKeyRead, nullptr, kMissing},
        {kHklm, KW("\\SYSTEM\\Shared"), kKeyRead, KW("v"), Value{winerr::kBadPathname, {}}},
        {kHklm, KW("SYSTEM\\\\Shared"), kKeyRead, KW("v"), Value{winerr::kBadPathname, {}}},
    };
    for (const auto& [root, path, access, name, expected] : kCases)
        EXPECT_EQ(Query(root, path, access, name), expected) << Utf16ToUtf8(path) << " " << access;
}

TEST(MemoryRegistryTest, DeleteRefusesKeysWithSubKeysAndHandlesAllowOnlyTheirAccess) {
    korva::testing::FakeRegistry reg_;
    reg_.PutDword(KW("HKCR\\CLSID\\{P}\\InprocServer32"), KW("x"), 1);
    RegKey key = 0;
    RegKey readOnly = 0;
    ASSERT_OK(reg_.OpenKey(kHkeyClassesRoot, KW("CLSID\\{P}\\InprocServer32"), kKeyWrite, &key));
    ASSERT_OK(reg_.OpenKey(kHkeyClassesRoot, KW("CLSID\\{P}"), kKeyRead, &readOnly));
    EXPECT_EQ(reg_.OpenHandleCount(), 2u);
    uint8_t value[4] = {};
    uint32_t size = 4;
    EXPECT_EQ(reg_.SetValue(readOnly, KW("x"), kRegDword, value, 4), winerr::kAccessDenied);
    EXPECT_EQ(reg_.QueryValue(key, KW("x"), nullptr, value, &size), winerr::kAccessDenied);
    EXPECT_OK(reg_.CloseKey(readOnly));
    EXPECT_EQ(reg_.DeleteKey(kHkeyClassesRoot, KW("CLSID\\{P}")), winerr::kAccessDenied);
    EXPECT_OK(reg_.DeleteKey(kHkeyClassesRoot, KW("clsid\\{p}\\inprocserver32")));
    EXPECT_OK(reg_.DeleteKey(kHkeyClassesRoot, KW("CLSID\\{P}")));
    EXPECT_EQ(reg_.DeleteKey(kHkeyClassesRoot, KW("CLSID\\{P}")), winerr::kFileNotFound);
    EXPECT_TRUE(reg_.HasKey(KW("HKEY_CLASSES_ROOT\\CLSID")));
    EXPECT_EQ(reg_.SetValue(key, KW("x"), kRegDword, value, 4), winerr::kKeyDeleted);
    EXPECT_OK(reg_.CloseKey(key));
    EXPECT_EQ(reg_.CloseKey(key), winerr::kInvalidHandle);
    // A failed open, create or connect zeroes the handle: a holder never closes a stale value.
    RegKey keys[] = {key, key, key};
    EXPECT_EQ(reg_.OpenKey(kHklm, KW("SOFTWARE\\Missing"), kKeyRead, &keys[0]), winerr::kFileNotFound);
    EXPECT_EQ(reg_.CreateKey(key, KW("x"), kKeyWrite, &keys[1]), winerr::kInvalidHandle);
    EXPECT_EQ(reg_.Connect(KW("\\\\elsewhere"), kHklm, &keys[2]), winerr::kBadNetpath);
    EXPECT_TRUE(keys[0] == 0 && keys[1] == 0 && keys[2] == 0);
}

TEST(RegFileTest, TrickyValuesSurviveAFileAndHandWrittenFilesLoad) {
    const WChar nonBmp[] = {u'a', 0xD83D, 0xDE00, 0x20AC, 0};
    const uint32_t dword = 0x0000ABCD;
    const uint64_t qword = 0xFEDCBA9876543210ull;
    const WChar multi[] = KW("first\0sec\"ond\0\0");
    const std::tuple<const WChar*, uint32_t, std::vector<uint8_t>> kValues[] = {
        // name, type, data
        {KW("quoted \"name\""), kRegSz, Text(KW("say \"hi\""))},
        {KW("back\\slash"), kRegSz, Text(KW("C:\\dir\\"))},
        {KW("\x4E2D\x6587"), kRegSz, Text(nonBmp)},  // code units above 0xFF
        {KW(""), kRegSz, Text(KW("the default"))},
        {KW("@"), kRegSz, Text(KW("a value named @"))},
        {KW("expand"), kRegExpandSz, Text(KW("%SystemRoot%\\system32"))},
        {KW("multi"), kRegMultiSz, Bytes(multi, sizeof(multi))},
        {KW("dword"), kRegDword, Bytes(&dword, 4)},
        {KW("qword"), kRegQword, Bytes(&qword, 8)},
        {KW("long binary"), kRegBinary, std::vector<uint8_t>(200, 0xA5)},
        {KW("odd-sized dword"), kRegDword, {1, 2, 3}},
        {KW("unterminated"), kRegSz, {'x', 0}},
        {KW("line break"), kRegSz, Text(KW("one\r\ntwo"))},
        {KW("type 0x1234"), 0x1234, {9}},
    };
    korva::testing::FakeRegistry source;
    for (const auto& [name, type, data] : kValues)
        source.PutValue(KW("HKLM\\SOFTWARE\\Korva Test"), name, type, data.data(),
                        static_cast<uint32_t>(data.size()));
    source.PutDword(KW("HKLM\\SOFTWARE\\WOW6432Node\\Korva"), KW("32-bit view"), dword);
    const WString text = source.SaveRegText();
    // regedit's own spelling, so that regedit can import what is saved.
    EXPECT_EQ(text.rfind(KW("Windows Registry Editor Version 5.00\r\n\r\n"), 0), 0u);
    EXPECT_NE(text.find(KW("Test]\r\n@=\"the default\"\r\n\"@\"=\"a value named @\"\r\n\"back\\\\slash\"="
                           "\"C:\\\\dir\\\\\"\r\n\"dword\"=dword:0000abcd\r\n")),
              WString::npos);
    EXPECT_NE(text.find(KW("\r\n\"quoted \\\"name\\\"\"=\"say \\\"hi\\\"\"\r\n")), WString::npos);

    // Saved as UTF-16LE, every code unit's high byte included, after a byte-order mark.
    WString folder;
    ASSERT_OK(Files().MakeTempDirectory(&folder));
    const WString path = JoinPath(folder, KW("settings.reg"));
    ASSERT_OK(source.SaveRegFile(path.c_str()));
    std::vector<uint8_t> bytes;
    ASSERT_OK(ReadWholeFile(path.c_str(), 1u << 20, &bytes));
    ASSERT_EQ(bytes.size(), 2 + text.size() * sizeof(WChar));  // both builds are little-endian
    EXPECT_TRUE(bytes[0] == 0xFF && bytes[1] == 0xFE &&
                std::memcmp(&bytes[2], text.data(), bytes.size() - 2) == 0);
    korva::testing::FakeRegistry loaded;
    ASSERT_OK(loaded.LoadRegFile(path.c_str()));
    const auto query = [](const WChar* name) {
        return Query(kHklm, KW("SOFTWARE\\Korva Test"), kKeyRead, name);
    };
    for (const auto& [name, type, data] : kValues)
        EXPECT_EQ(query(name), Value(type, data)) << Utf16ToUtf8(name);
    EXPECT_EQ(loaded.SaveRegText(), text);  // nothing else drifts

    // A hand-written UTF-8 file merges into what is there.
    const std::string handWritten =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n; KORVA settings\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korva Test]\n"
        "\"expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\\n"
        "  74,00,25,00,00,00\n\"Caf\xC3\xA9\"=\"na\xC3\xAFve \xC2\xB0\"\n\"dword\"=-\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Doomed\\Child]\n\"a\"=dword:1\n\n[-HKEY_LOCAL_"
        "MACHINE\\SOFTWARE\\Doomed]\n";
    ASSERT_OK(WriteWholeFile(path.c_str(), handWritten.data(), handWritten.size()));
    ASSERT_OK(loaded.LoadRegFile(path.c_str()));
    EXPECT_OK(Files().RemoveDirectoryTree(folder.c_str()));
    EXPECT_EQ(query(KW("expand")), Value(kRegExpandSz, Text(KW("%SystemRoot%"))));
    EXPECT_EQ(query(KW("Caf\u00E9")), Sz(KW("na\u00EFve \u00B0")));
    EXPECT_EQ(query(KW("")), Sz(KW("the default")));
    EXPECT_EQ(loaded.SaveRegText().find(KW("\"dword\"")), WString::npos);
    EXPECT_FALSE(loaded.HasKey(KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Doomed")));
}

TEST(RegFileTest, MalformedTextIsRefusedAndChangesNothing) {
    const WString version = KW("Windows Registry Editor Version 5.00\r\n");
    const WString header = version + KW("\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n");
    // clang-format off
    const WString kCases[] = {
        KW("[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n\"a\"=\"b\"\r\n"),
        KW("Windows Registry Editor Version 4.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n"),
        version + KW("\"a\"=\"b\"\r\n"),          version + KW("[HKEY_LOCAL_MACHINE\\SOFTWARE\\New\r\n"),
        header + KW("\"a=\"b\"\r\n"),             header + KW("\"a\"=\"b\\\"\r\n"),
        header + KW("\"a\"=dword:123456789\r\n"), header + KW("\"a\"=hex:01,,02\r\n"),
        header + KW("\"a\"=hex:01,\\\r\n"),       header + KW("\"a\"=hex:01,\\\r\n  0g\r\n")};
    // clang-format on
    korva::testing::FakeRegistry reg;
    reg.PutDword(KW("HKLM\\SOFTWARE\\Keep"), KW("v"), 7);
    const WString before = reg.SaveRegText();
    for (const WString& text : kCases) {
        EXPECT_EQ(reg.LoadRegText(text), winerr::kBadDbFile) << Utf16ToUtf8(text);
        EXPECT_EQ(reg.SaveRegText(), before) << Utf16ToUtf8(text);
    }
}

}  // namespace
}  // namespace korva::platform
