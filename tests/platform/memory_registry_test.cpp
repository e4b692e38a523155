#include "platform/memory_registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/result_codes.h"
#include "tests/support/fake_registry.h"
#include "tests/support/result_assert.h"

namespace korva::platform {
namespace {

constexpr uint32_t kRead32 = kKeyRead | kKeyWow64_32Key;
constexpr uint32_t kWrite32 = kKeyWrite | kKeyWow64_32Key;

class MemoryRegistryTest : public ::testing::Test {
  protected:
    int32_t Write(RegKey root, const WChar* path, uint32_t access, const WChar* name, const WString& text) {
        RegKey key = 0;
        int32_t result = reg_.CreateKey(root, path, access, &key);
        if (result == winerr::kSuccess) {
            result = reg_.SetValue(key, name, kRegSz, reinterpret_cast<const uint8_t*>(text.c_str()),
                                   static_cast<uint32_t>((text.size() + 1) * sizeof(WChar)));
            EXPECT_OK(reg_.CloseKey(key));
        }
        return result;
    }

    // The text of a REG_SZ value, or "error <code>".
    std::string Read(RegKey root, const WChar* path, uint32_t access, const WChar* name) {
        RegKey key = 0;
        int32_t result = reg_.OpenKey(root, path, access, &key);
        WChar buffer[64] = {};
        if (result == winerr::kSuccess) {
            uint32_t size = sizeof(buffer) - sizeof(WChar);
            result = reg_.QueryValue(key, name, nullptr, reinterpret_cast<uint8_t*>(buffer), &size);
            EXPECT_OK(reg_.CloseKey(key));
        }
        return result == winerr::kSuccess ? Utf16ToUtf8(buffer) : "error " + std::to_string(result);
    }

    // Every test closes what it opens: a leaked handle fails the test that leaked it.
    korva::testing::FakeRegistry reg_;
};

TEST_F(MemoryRegistryTest, LookupsFollowTheViewsAndIgnoreCase) {
    const RegKey hklm = kHkeyLocalMachine;
    ASSERT_EQ(Write(hklm, KW("SOFTWARE\\Korva"), kWrite32, KW("v"), KW("32")), 0);
    ASSERT_EQ(Write(hklm, KW("software\\Korva"), kKeyWrite | kKeyWow64_64Key, KW("v"), KW("64")), 0);
    ASSERT_EQ(Write(hklm, KW("SOFTWARE\\Korva\\Native"), kKeyWrite, KW("v"), KW("native only")), 0);
    ASSERT_EQ(Write(hklm, KW("SOFTWARE\\WOW6432Node\\Korva\\Wow"), kWrite32, KW("v"), KW("not twice")), 0);
    ASSERT_EQ(Write(kHkeyCurrentUser, KW("Software\\Shared"), kWrite32, KW("v"), KW("HKCU")), 0);
    ASSERT_EQ(Write(hklm, KW("SYSTEM\\Shared"), kWrite32, KW("v"), KW("SYSTEM")), 0);
    // Another case replaces the value instead of adding a second one; the name keeps its first case.
    ASSERT_EQ(Write(hklm, KW("SYSTEM\\shared"), kWrite32, KW("V"), KW("System")), 0);
    EXPECT_NE(reg_.SaveRegText().find(KW("SYSTEM\\Shared]\r\n\"v\"=\"System\"\r\n")), WString::npos);
    EXPECT_EQ(reg_.SaveRegText().find(KW("\"V\"")), WString::npos);
    RegKey software32 = 0;  // a handle opened in the 32-bit view keeps its sub-keys there
    ASSERT_EQ(reg_.OpenKey(hklm, KW("SOFTWARE"), kRead32, &software32), winerr::kSuccess);
    const struct {
        RegKey root;
        const WChar* path;
        uint32_t access;
        const WChar* name;
        const char* expected;
    } kCases[] = {
        {hklm, KW("SOFTWARE\\Korva"), kRead32, KW("v"), "32"},
        {hklm, KW("SOFTWARE\\KORVA\\"), kKeyRead, KW("V"), "64"},  // a trailing backslash is accepted
        {hklm, KW("SOFTWARE\\WOW6432Node\\Korva"), kKeyRead, KW("v"), "32"},
        {software32, KW("Korva"), kKeyRead, KW("v"), "32"},
        {hklm, KW("SOFTWARE\\Korva\\Native"), kRead32, KW("v"), "error 2"},
        {hklm, KW("SOFTWARE\\Korva\\Wow"), kRead32, KW("v"), "not twice"},
        {hklm, KW("SOFTWARE\\Korva\\Wow"), kKeyRead, KW("v"), "error 2"},
        // Keys outside HKLM\SOFTWARE are shared by both views.
        {kHkeyCurrentUser, KW("Software\\Shared"), kKeyRead, KW("v"), "HKCU"},
        {hklm, KW("SYSTEM\\Shared"), kKeyRead, KW("v"), "System"},
        {hklm, KW("SYSTEM\\Shared"), kKeyRead, KW("absent"), "error 2"},
        {hklm, KW("SYSTEM\\Shared"), kKeyRead, nullptr, "error 2"},  // the default value is not set
        {hklm, KW("\\SYSTEM\\Shared"), kKeyRead, KW("v"), "error 161"},
        {hklm, KW("SYSTEM\\\\Shared"), kKeyRead, KW("v"), "error 161"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Read(c.root, c.path, c.access, c.name), c.expected)
            << Utf16ToUtf8(c.path) << " " << c.access;
    }
    EXPECT_OK(reg_.CloseKey(software32));
}

TEST_F(MemoryRegistryTest, QueryFollowsTheMoreDataProtocol) {
    std::vector<uint8_t> big(300);
    std::iota(big.begin(), big.end(), uint8_t{0});
    reg_.PutValue(KW("HKLM\\SOFTWARE\\Korva"), KW("Big"), kRegBinary, big.data(), 300);
    RegKey key = 0;
    ASSERT_EQ(reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead, &key), winerr::kSuccess);
    // No buffer: success; too small: 234; plus ten bytes as the readers grow it: success.
    for (const uint32_t bufferSize : {0u, 256u, 310u}) {
        SCOPED_TRACE(bufferSize);
        std::vector<uint8_t> buffer(bufferSize + 1, 0xEE);
        uint32_t type = 0;
        uint32_t size = bufferSize;
        EXPECT_EQ(reg_.QueryValue(key, KW("Big"), &type, bufferSize ? buffer.data() : nullptr, &size),
                  bufferSize == 256 ? winerr::kMoreData : winerr::kSuccess);
        // The size needed (or used) and the type are reported in every case.
        EXPECT_EQ(size, 300u);
        EXPECT_EQ(type, kRegBinary);
        if (bufferSize == 310) {
            EXPECT_TRUE(std::equal(big.begin(), big.end(), buffer.begin()));
            EXPECT_EQ(buffer[300], 0xEE);  // nothing written beyond the data
        }
    }
    EXPECT_OK(reg_.CloseKey(key));
}

TEST_F(MemoryRegistryTest, DeleteRefusesKeysWithSubKeysAndHandlesAllowOnlyTheirAccess) {
    reg_.PutDword(KW("HKCR\\CLSID\\{P}\\InprocServer32"), KW("x"), 1);
    RegKey key = 0;
    RegKey readOnly = 0;
    ASSERT_EQ(reg_.OpenKey(kHkeyClassesRoot, KW("CLSID\\{P}\\InprocServer32"), kKeyWrite, &key), 0);
    ASSERT_EQ(reg_.OpenKey(kHkeyClassesRoot, KW("CLSID\\{P}"), kKeyRead, &readOnly), 0);
    EXPECT_EQ(reg_.OpenHandleCount(), 2u);
    // A handle allows only the access it was opened with.
    uint8_t value[4] = {};
    uint32_t size = 4;
    EXPECT_EQ(reg_.SetValue(readOnly, KW("x"), kRegDword, value, 4), winerr::kAccessDenied);
    EXPECT_EQ(reg_.QueryValue(key, KW("x"), nullptr, value, &size), winerr::kAccessDenied);
    EXPECT_OK(reg_.CloseKey(readOnly));
    // Windows refuses with access denied rather than deleting a tree.
    EXPECT_EQ(reg_.DeleteKey(kHkeyClassesRoot, KW("CLSID\\{P}")), winerr::kAccessDenied);
    EXPECT_TRUE(reg_.HasKey(KW("HKEY_CLASSES_ROOT\\CLSID\\{P}\\InprocServer32")));
    EXPECT_EQ(reg_.DeleteKey(kHkeyClassesRoot, KW("clsid\\{p}\\inprocserver32")), winerr::kSuccess);
    EXPECT_EQ(reg_.DeleteKey(kHkeyClassesRoot, KW("CLSID\\{P}")), winerr::kSuccess);
    EXPECT_EQ(reg_.DeleteKey(kHkeyClassesRoot, KW("CLSID\\{P}")), winerr::kFileNotFound);
    EXPECT_TRUE(reg_.HasKey(KW("HKEY_CLASSES_ROOT\\CLSID")));
    // A handle to the deleted key reports the deletion; once closed, it is invalid.
    EXPECT_EQ(reg_.SetValue(key, KW("x"), kRegDword, value, 4), winerr::kKeyDeleted);
    EXPECT_EQ(reg_.CloseKey(key), winerr::kSuccess);
    EXPECT_EQ(reg_.CloseKey(key), winerr::kInvalidHandle);
}

TEST_F(MemoryRegistryTest, FailNextFailsOneMatchingCallInOrder) {
    reg_.PutString(KW("HKLM\\SOFTWARE\\Korva"), KW("Log File"), KW("x"));
    reg_.PutString(KW("HKLM\\SOFTWARE\\Korva"), KW("Other"), KW("y"));
    reg_.FailNext(MemoryRegistry::Op::QueryValue, winerr::kAccessDenied, KW("log"));
    // A call that does not match leaves the fault pending; it fails once.
    EXPECT_EQ(Read(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead, KW("Other")), "y");
    EXPECT_EQ(Read(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead, KW("Log File")), "error 5");
    EXPECT_EQ(Read(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead, KW("Log File")), "x");
    // Without a match any call of the operation fails and the store is untouched; faults queue in order.
    reg_.FailNext(MemoryRegistry::Op::CreateKey, winerr::kNotEnoughMemory);
    reg_.FailNext(MemoryRegistry::Op::CreateKey, 53);
    EXPECT_EQ(Write(kHkeyLocalMachine, KW("SOFTWARE\\New"), kKeyWrite, KW("v"), KW("x")),
              winerr::kNotEnoughMemory);
    EXPECT_EQ(Write(kHkeyLocalMachine, KW("SOFTWARE\\New"), kKeyWrite, KW("v"), KW("x")), 53);
    EXPECT_FALSE(reg_.HasKey(KW("HKLM\\SOFTWARE\\New")));
}

// A failed connect, open or create leaves no handle behind, whether the failure is real or injected, so that a
// holder of the out-parameter never closes a stale value.
TEST_F(MemoryRegistryTest, FailuresLeaveTheOutputHandleZero) {
    using Op = MemoryRegistry::Op;
    const struct {
        const char* what;
        std::optional<Op> fault;
        std::function<int32_t(RegKey*)> call;
        int32_t expected;
    } kCases[] = {
        {"missing key", std::nullopt,
         [&](RegKey* k) { return reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE\\Missing"), kKeyRead, k); },
         winerr::kFileNotFound},
        {"unknown parent", std::nullopt,
         [&](RegKey* k) { return reg_.CreateKey(0x4321, KW("x"), kKeyWrite, k); }, winerr::kInvalidHandle},
        {"remote computer", std::nullopt,
         [&](RegKey* k) { return reg_.Connect(KW("\\\\elsewhere"), kHkeyLocalMachine, k); },
         winerr::kBadNetpath},
        {"injected open", Op::OpenKey,
         [&](RegKey* k) { return reg_.OpenKey(kHkeyLocalMachine, KW("SOFTWARE"), kKeyRead, k); },
         winerr::kAccessDenied},
        {"injected create", Op::CreateKey,
         [&](RegKey* k) { return reg_.CreateKey(kHkeyLocalMachine, KW("SOFTWARE\\New"), kKeyWrite, k); },
         winerr::kAccessDenied},
        {"injected connect", Op::Connect,
         [&](RegKey* k) { return reg_.Connect(nullptr, kHkeyLocalMachine, k); }, winerr::kAccessDenied},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        if (c.fault) {
            reg_.FailNext(*c.fault, winerr::kAccessDenied);
        }
        RegKey key = 0xBAD;
        EXPECT_RESULT(c.expected, c.call(&key));
        EXPECT_EQ(key, 0u);
    }
}

// The regedit text format: round trips, hand-written files and malformed input.
std::vector<uint8_t> Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(p, p + size);
}

std::vector<uint8_t> Text(WStringView text) {
    return Bytes(WString(text).c_str(), (text.size() + 1) * sizeof(WChar));
}

struct Stored {
    WString key;  // below HKEY_LOCAL_MACHINE
    WString name;
    uint32_t type;
    std::vector<uint8_t> data;
};

void ExpectAll(MemoryRegistry& reg, const std::vector<Stored>& values) {
    for (const Stored& v : values) {
        SCOPED_TRACE(Utf16ToUtf8(v.name));
        RegKey key = 0;
        ASSERT_EQ(reg.OpenKey(kHkeyLocalMachine, v.key.c_str(), kKeyRead, &key), winerr::kSuccess);
        std::vector<uint8_t> data(512);
        uint32_t type = 0;
        uint32_t size = static_cast<uint32_t>(data.size());
        EXPECT_EQ(reg.QueryValue(key, v.name.c_str(), &type, data.data(), &size), winerr::kSuccess);
        data.resize(size);
        EXPECT_EQ(type, v.type);
        EXPECT_EQ(data, v.data);
        EXPECT_OK(reg.CloseKey(key));
    }
}

TEST(RegFileTest, TrickyValuesSurviveTextAndFileAndHandWrittenFilesLoad) {
    const WChar nonBmp[] = {u'a', 0xD83D, 0xDE00, u'b', 0};  // U+1F600 as a surrogate pair
    const uint32_t dword = 0x0000ABCD;
    const uint64_t qword = 0xFEDCBA9876543210ull;
    const WChar multi[] = KW("first\0sec\"ond\0\0");
    const WString k = KW("SOFTWARE\\Korva Test\\Values");
    const std::vector<Stored> values = {
        {k, KW("quoted \"name\""), kRegSz, Text(KW("say \"hi\""))},
        {k, KW("back\\slash"), kRegSz, Text(KW("C:\\dir\\"))},
        {k, KW("non-BMP"), kRegSz, Text(nonBmp)},
        {k, KW("\x4E2D\x6587"), kRegSz, Text(KW("\x03A9 \x20AC \x00E9"))},  // code units above 0xFF
        {k, KW("empty"), kRegSz, Text(KW(""))},
        {k, KW(""), kRegSz, Text(KW("the default"))},
        {k, KW("@"), kRegSz, Text(KW("a value named @"))},
        {k, KW("expand"), kRegExpandSz, Text(KW("%SystemRoot%\\system32"))},
        {k, KW("multi"), kRegMultiSz, Bytes(multi, sizeof(multi))},
        {k, KW("dword"), kRegDword, Bytes(&dword, 4)},
        {k, KW("qword"), kRegQword, Bytes(&qword, 8)},
        {k, KW("long binary"), kRegBinary, std::vector<uint8_t>(200, 0xA5)},
        {k, KW("odd-sized dword"), kRegDword, {1, 2, 3}},
        {k, KW("unterminated"), kRegSz, {'x', 0}},
        {k, KW("line break"), kRegSz, Text(KW("one\r\ntwo"))},
        {k, KW("type 0x1234"), 0x1234, {9}},
        {KW("SOFTWARE\\WOW6432Node\\Korva"), KW("32-bit view"), kRegDword, Bytes(&dword, 4)},
    };
    korva::testing::FakeRegistry source;
    for (const Stored& v : values) {
        source.PutValue(KW("HKEY_LOCAL_MACHINE\\") + v.key, v.name, v.type, v.data.data(),
                        static_cast<uint32_t>(v.data.size()));
    }
    const WString text = source.SaveRegText();
    // regedit's own spelling, so that regedit can import what is saved.
    EXPECT_EQ(text.rfind(KW("Windows Registry Editor Version 5.00\r\n\r\n"), 0), 0u);
    EXPECT_NE(text.find(KW("Values]\r\n@=\"the default\"\r\n\"@\"=\"a value named "
                           "@\"\r\n\"back\\\\slash\"=\"C:\\\\dir\\\\\"\r\n"
                           "\"dword\"=dword:0000abcd\r\n")),
              WString::npos);
    EXPECT_NE(text.find(KW("\r\n\"quoted \\\"name\\\"\"=\"say \\\"hi\\\"\"\r\n")), WString::npos);
    korva::testing::FakeRegistry loaded;
    ASSERT_EQ(loaded.LoadRegText(text), winerr::kSuccess);
    ExpectAll(loaded, values);
    EXPECT_EQ(loaded.SaveRegText(), text);  // nothing drifts over repeated round trips

    // Files: saved as UTF-16LE with a byte-order mark; loaded also as UTF-8 written by hand.
    WString folder;
    ASSERT_EQ(Files().MakeTempDirectory(&folder), winerr::kSuccess);
    const WString path = JoinPath(folder, KW("settings.reg"));
    ASSERT_EQ(source.SaveRegFile(path.c_str()), winerr::kSuccess);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(ReadWholeFile(path.c_str(), 1u << 20, &bytes), winerr::kSuccess);
    // Every code unit little-endian, its high byte included, after the byte-order mark.
    std::vector<uint8_t> expectedBytes = {0xFF, 0xFE};
    for (const WChar unit : text) {
        expectedBytes.push_back(static_cast<uint8_t>(unit % 256));
        expectedBytes.push_back(static_cast<uint8_t>(unit / 256));
    }
    EXPECT_EQ(bytes, expectedBytes);
    korva::testing::FakeRegistry fromFile;
    ASSERT_EQ(fromFile.LoadRegFile(path.c_str()), winerr::kSuccess);
    ExpectAll(fromFile, values);

    const std::string handWritten =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n; KORVA settings\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korva Test\\Values]\n"
        "\"expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\\n"
        "  74,00,25,00,00,00\n\"Caf\xC3\xA9\"=\"na\xC3\xAFve\"\n\"dword\"=-\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Doomed\\Child]\n\"a\"=dword:1\n\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Doomed]\n";
    ASSERT_EQ(WriteWholeFile(path.c_str(), handWritten.data(), handWritten.size()), winerr::kSuccess);
    ASSERT_EQ(fromFile.LoadRegFile(path.c_str()), winerr::kSuccess);  // merges into what is there
    EXPECT_EQ(Files().RemoveDirectoryTree(folder.c_str()), winerr::kSuccess);
    ExpectAll(fromFile, {{k, KW("expand"), kRegExpandSz, Text(KW("%SystemRoot%"))},
                         {k, KW("Caf\u00E9"), kRegSz, Text(KW("na\u00EFve"))},
                         {k, KW("empty"), kRegSz, Text(KW(""))}});
    EXPECT_EQ(fromFile.SaveRegText().find(KW("\"dword\"")), WString::npos);
    EXPECT_FALSE(fromFile.HasKey(KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Doomed")));
}

TEST(RegFileTest, MalformedTextIsRefusedAndChangesNothing) {
    const WString version = KW("Windows Registry Editor Version 5.00\r\n");
    const WString header = version + KW("\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n");
    const WString kCases[] = {
        KW("[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n\"a\"=\"b\"\r\n"),  // no header
        KW("Windows Registry Editor Version 4.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n"),
        version + KW("\"a\"=\"b\"\r\n"),  // a value before any key
        version + KW("[HKEY_LOCAL_MACHINE\\SOFTWARE\\New\r\n"),
        header + KW("\"a=\"b\"\r\n"),
        header + KW("\"a\"=\"b\\\"\r\n"),  // the closing quote is escaped
        header + KW("\"a\"=dword:123456789\r\n"),
        header + KW("\"a\"=hex:01,,02\r\n"),
        header + KW("\"a\"=hex:01,\\\r\n"),  // a continuation at the end
        header + KW("\"a\"=hex:01,\\\r\n  0g\r\n"),
    };
    for (const WString& text : kCases) {
        SCOPED_TRACE(Utf16ToUtf8(text));
        korva::testing::FakeRegistry reg;
        reg.PutDword(KW("HKLM\\SOFTWARE\\Keep"), KW("v"), 7);
        const WString before = reg.SaveRegText();
        EXPECT_EQ(reg.LoadRegText(text), winerr::kBadDbFile);
        EXPECT_EQ(reg.SaveRegText(), before);  // a text is applied whole or not at all
    }
}

}  // namespace
}  // namespace korva::platform
