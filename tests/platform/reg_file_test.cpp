#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/memory_registry.h"
#include "platform/win_errors.h"

namespace korva::platform {
namespace {

std::vector<uint8_t> Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(p, p + size);
}

std::vector<uint8_t> StringBytes(WStringView text) {
    std::vector<uint8_t> bytes((text.size() + 1) * sizeof(WChar), 0);
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(WChar));
    return bytes;
}

struct Stored {
    const char* what;
    WString key;
    WString name;
    uint32_t type;
    std::vector<uint8_t> data;
};

// Values that stress the text format: escapes, surrogate pairs, empty data, hex types and long lines.
std::vector<Stored> TrickyValues() {
    const WChar nonBmp[] = {u'a', 0xD83D, 0xDE00, u'b', 0};  // U+1F600 as a surrogate pair
    const uint32_t dword = 0x0000ABCD;
    const uint64_t qword = 0xFEDCBA9876543210ull;
    const WChar multi[] = KW("first\0sec\"ond\0\0");
    std::vector<uint8_t> longBinary(200);
    for (size_t i = 0; i < longBinary.size(); ++i) {
        longBinary[i] = static_cast<uint8_t>(i * 7);
    }
    const WString k = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korva Test\\Values");
    return {
        {"quotes", k, KW("quoted \"name\""), kRegSz, StringBytes(KW("say \"hi\""))},
        {"backslashes", k, KW("back\\slash"), kRegSz, StringBytes(KW("C:\\dir\\"))},
        {"string ending in a backslash", k, KW("trailing"), kRegSz, StringBytes(KW("\\"))},
        {"non-BMP text", k, KW("emoji"), kRegSz, StringBytes(nonBmp)},
        {"empty string", k, KW("empty"), kRegSz, StringBytes(KW(""))},
        {"default value", k, KW(""), kRegSz, StringBytes(KW("the default"))},
        {"a value named @", k, KW("@"), kRegSz, StringBytes(KW("not the default"))},
        {"expand", k, KW("expand"), kRegExpandSz, StringBytes(KW("%SystemRoot%\\system32"))},
        {"multi", k, KW("multi"), kRegMultiSz, Bytes(multi, sizeof(multi))},
        {"dword", k, KW("dword"), kRegDword, Bytes(&dword, 4)},
        {"qword", k, KW("qword"), kRegQword, Bytes(&qword, 8)},
        {"long binary over several lines", k, KW("binary"), kRegBinary, longBinary},
        {"empty binary", k, KW("nothing"), kRegBinary, {}},
        {"REG_NONE", k, KW("none"), kRegNone, {1, 2}},
        {"odd-sized dword", k, KW("odd dword"), kRegDword, {1, 2, 3}},
        {"string without terminator", k, KW("unterminated"), kRegSz, {'x', 0}},
        {"string with a line break", k, KW("lines"), kRegSz, StringBytes(KW("one\r\ntwo"))},
        {"string with an inner zero", k, KW("inner zero"), kRegSz, {'a', 0, 0, 0, 'b', 0, 0, 0}},
        {"unusual type number", k, KW("type 0x1234"), 0x1234, {9}},
        {"32-bit view", KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Korva"), KW("v"), kRegDword,
         Bytes(&dword, 4)},
        {"other root", KW("HKEY_CLASSES_ROOT\\CLSID\\{33592D29-4C1D-4732-A607-D01A81215385}"), KW(""), kRegSz,
         StringBytes(KW("KORVACredentialProvider"))},
    };
}

void PutAll(MemoryRegistry* reg, const std::vector<Stored>& values) {
    for (const Stored& v : values) {
        reg->PutValue(v.key, v.name, v.type, v.data.data(), static_cast<uint32_t>(v.data.size()));
    }
}

void ExpectAll(MemoryRegistry* reg, const std::vector<Stored>& values) {
    for (const Stored& v : values) {
        SCOPED_TRACE(v.what);
        RegKey key = 0;
        // Full path without the root name: open relative to the right predefined key.
        const size_t slash = v.key.find(u'\\');
        const WString root = v.key.substr(0, slash);
        const RegKey predefined = root == KW("HKEY_CLASSES_ROOT") ? kHkeyClassesRoot : kHkeyLocalMachine;
        ASSERT_EQ(reg->OpenKey(predefined, v.key.substr(slash + 1).c_str(), kKeyRead, &key),
                  winerr::kSuccess);
        uint32_t type = 0;
        uint32_t size = 0;
        ASSERT_EQ(reg->QueryValue(key, v.name.c_str(), &type, nullptr, &size), winerr::kSuccess);
        std::vector<uint8_t> data(size);
        if (size != 0) {
            ASSERT_EQ(reg->QueryValue(key, v.name.c_str(), &type, data.data(), &size), winerr::kSuccess);
        }
        EXPECT_EQ(type, v.type);
        EXPECT_EQ(data, v.data);
        reg->CloseKey(key);
    }
}

TEST(RegFileTest, TextRoundTripKeepsEveryValue) {
    const std::vector<Stored> values = TrickyValues();
    MemoryRegistry source;
    PutAll(&source, values);
    const WString text = source.SaveRegText();
    EXPECT_EQ(text.rfind(KW("Windows Registry Editor Version 5.00\r\n"), 0), 0u);

    MemoryRegistry loaded;
    ASSERT_EQ(loaded.LoadRegText(text), winerr::kSuccess);
    ExpectAll(&loaded, values);
    // Saving what was loaded gives the same text: nothing drifts over repeated round trips.
    EXPECT_EQ(loaded.SaveRegText(), text);
}

TEST(RegFileTest, FormatOfCommonValuesIsRegedits) {
    MemoryRegistry reg;
    reg.PutDword(KW("HKLM\\SOFTWARE\\K"), KW("Mask"), 0x1F);
    reg.PutString(KW("HKLM\\SOFTWARE\\K"), KW("Path"), KW("C:\\x \"y\""));
    reg.PutString(KW("HKLM\\SOFTWARE\\K"), KW(""), KW("d"));
    reg.PutString(KW("HKLM\\SOFTWARE\\K"), KW("Exp"), KW("%A%"), kRegExpandSz);
    const WString text = reg.SaveRegText();
    const WString expected =
        KW("[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\r\n"
           "@=\"d\"\r\n"
           "\"Exp\"=hex(2):25,00,41,00,25,00,00,00\r\n"
           "\"Mask\"=dword:0000001f\r\n"
           "\"Path\"=\"C:\\\\x \\\"y\\\"\"\r\n");
    EXPECT_NE(text.find(expected), WString::npos) << Utf16ToUtf8(text);
}

class RegFileOnDiskTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Files().MakeTempDirectory(&folder_), winerr::kSuccess); }
    void TearDown() override { EXPECT_EQ(Files().RemoveDirectoryTree(folder_.c_str()), winerr::kSuccess); }
    WString PathOf(const char* name) const { return JoinPath(folder_, AsciiToWide(name)); }

    WString folder_;
};

TEST_F(RegFileOnDiskTest, FileIsUtf16WithByteOrderMarkAndLoadsBack) {
    const std::vector<Stored> values = TrickyValues();
    MemoryRegistry source;
    PutAll(&source, values);
    const WString path = PathOf("settings.reg");
    ASSERT_EQ(source.SaveRegFile(path.c_str()), winerr::kSuccess);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(ReadWholeFile(path.c_str(), &bytes), winerr::kSuccess);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_EQ(bytes[2], 'W');
    EXPECT_EQ(bytes[3], 0);

    MemoryRegistry loaded;
    ASSERT_EQ(loaded.LoadRegFile(path.c_str()), winerr::kSuccess);
    ExpectAll(&loaded, values);
}

TEST_F(RegFileOnDiskTest, Utf8FileWithContinuationsAndDeletions) {
    // As an administrator would write it by hand: UTF-8 with a BOM, comments, a wrapped hex(2) line,
    // a value deleted again and a key tree deleted again.
    const std::string text =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
        "\n"
        "; KORVA settings\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards]\n"
        "\"WrapCredProvCLSID\"=\"{4C00D5F4-6C53-46B0-923C-DE2D2654D784}\"\n"
        "\"GetLanguageMethod\"=dword:00000002\n"
        "\"Locale\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\\n"
        "  74,00,25,00,00,00\n"
        "\"Caf\xC3\xA9\"=\"na\xC3\xAFve\"\n"
        "@=\"default\"\n"
        "\"Gone\"=\"x\"\n"
        "\"Gone\"=-\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Doomed\\Child]\n"
        "\"a\"=dword:1\n"
        "\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Doomed]\n";
    const WString path = PathOf("hand.reg");
    ASSERT_EQ(WriteWholeFile(path.c_str(), text.data(), text.size()), winerr::kSuccess);
    MemoryRegistry reg;
    ASSERT_EQ(reg.LoadRegFile(path.c_str()), winerr::kSuccess);

    const WString wizards = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards");
    const uint32_t two = 2;
    const std::vector<Stored> expected = {
        {"string", wizards, KW("WrapCredProvCLSID"), kRegSz,
         StringBytes(KW("{4C00D5F4-6C53-46B0-923C-DE2D2654D784}"))},
        {"dword", wizards, KW("GetLanguageMethod"), kRegDword, Bytes(&two, 4)},
        {"wrapped expand", wizards, KW("Locale"), kRegExpandSz, StringBytes(KW("%SystemRoot%"))},
        {"UTF-8 name and text", wizards, KW("Caf\u00E9"), kRegSz, StringBytes(KW("na\u00EFve"))},
        {"default", wizards, KW(""), kRegSz, StringBytes(KW("default"))},
    };
    ExpectAll(&reg, expected);
    RegKey key = 0;
    ASSERT_EQ(reg.OpenKey(kHkeyLocalMachine, (wizards.substr(19)).c_str(), kKeyRead, &key), winerr::kSuccess);
    uint32_t size = 0;
    EXPECT_EQ(reg.QueryValue(key, KW("Gone"), nullptr, nullptr, &size), winerr::kFileNotFound);
    reg.CloseKey(key);
    EXPECT_FALSE(reg.HasKey(KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Doomed")));
}

TEST_F(RegFileOnDiskTest, UnreadableFilesReportTheirError) {
    MemoryRegistry reg;
    EXPECT_EQ(reg.LoadRegFile(PathOf("missing.reg").c_str()), winerr::kFileNotFound);
    // UTF-16 with a byte-order mark but an odd byte count cannot be a regedit file.
    const uint8_t odd[] = {0xFF, 0xFE, 'W', 0, 'i'};
    const WString path = PathOf("odd.reg");
    ASSERT_EQ(WriteWholeFile(path.c_str(), odd, sizeof(odd)), winerr::kSuccess);
    EXPECT_EQ(reg.LoadRegFile(path.c_str()), winerr::kBadDbFile);
}

TEST(RegFileTest, MalformedTextIsRefusedAndChangesNothing) {
    const WString header =
        KW("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n");
    const struct {
        const char* what;
        WString text;
    } kCases[] = {
        {"no header", KW("[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n\"a\"=\"b\"\r\n")},
        {"wrong header",
         KW("Windows Registry Editor Version 4.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n")},
        {"empty text", KW("")},
        {"value before any key", KW("Windows Registry Editor Version 5.00\r\n\"a\"=\"b\"\r\n")},
        {"unknown root", KW("Windows Registry Editor Version 5.00\r\n[HKEY_NOWHERE\\X]\r\n")},
        {"unclosed key",
         KW("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New\r\n")},
        {"empty key component", KW("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\\\X]\r\n")},
        {"empty brackets", KW("Windows Registry Editor Version 5.00\r\n[]\r\n")},
        {"unterminated name", header + KW("\"a=\"b\"\r\n")},
        {"unterminated text", header + KW("\"a\"=\"b\r\n")},
        {"escaped closing quote", header + KW("\"a\"=\"b\\\"\r\n")},
        {"text after the value", header + KW("\"a\"=\"b\" c\r\n")},
        {"no equals sign", header + KW("\"a\"\r\n")},
        {"empty quoted name", header + KW("\"\"=\"b\"\r\n")},
        {"bare word", header + KW("something\r\n")},
        {"unknown data kind", header + KW("\"a\"=word:1\r\n")},
        {"nine-digit dword", header + KW("\"a\"=dword:123456789\r\n")},
        {"empty dword", header + KW("\"a\"=dword:\r\n")},
        {"non-hex dword", header + KW("\"a\"=dword:xyz\r\n")},
        {"three-digit byte", header + KW("\"a\"=hex:123\r\n")},
        {"non-hex byte", header + KW("\"a\"=hex:01,zz\r\n")},
        {"empty byte in the middle", header + KW("\"a\"=hex:01,,02\r\n")},
        {"unclosed hex type", header + KW("\"a\"=hex(2:00\r\n")},
        {"empty hex type", header + KW("\"a\"=hex():00\r\n")},
        {"hex type without colon", header + KW("\"a\"=hex(2)00\r\n")},
        {"continuation at the end", header + KW("\"a\"=hex:01,\\\r\n")},
        {"bad byte on a continued line", header + KW("\"a\"=hex:01,\\\r\n  0g\r\n")},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        MemoryRegistry reg;
        reg.PutDword(KW("HKLM\\SOFTWARE\\Keep"), KW("v"), 7);
        const WString before = reg.SaveRegText();
        EXPECT_EQ(reg.LoadRegText(c.text), winerr::kBadDbFile);
        // A file is applied whole or not at all.
        EXPECT_EQ(reg.SaveRegText(), before);
    }
}

TEST(RegFileTest, RandomInputNeverCrashes) {
    // Garbage after a valid header and mutations of a valid file: any result but a crash or a hang is fine,
    // and a refusal is always ERROR_BADDB. Runs under the sanitizers in the asan build.
    MemoryRegistry source;
    PutAll(&source, TrickyValues());
    const WString valid = source.SaveRegText();
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    static constexpr WChar kAlphabet[] = KW("[]\\\"@=-:,;() \r\nhexdword0123456789abcdefHKEY_LOCAL_MACHINE");
    for (int round = 0; round < 300; ++round) {
        WString text = valid;
        const int edits = 1 + static_cast<int>(next() % 8);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = next() % text.size();
            switch (next() % 3) {
                case 0:
                    text.erase(at, 1 + next() % 4);
                    break;
                case 1:
                    text.insert(text.begin() + static_cast<std::ptrdiff_t>(at),
                                kAlphabet[next() % (sizeof(kAlphabet) / sizeof(WChar) - 1)]);
                    break;
                default:
                    text[at] = static_cast<WChar>(next() & 0xFFFF);
                    break;
            }
        }
        MemoryRegistry reg;
        const int32_t result = reg.LoadRegText(text);
        EXPECT_TRUE(result == winerr::kSuccess || result == winerr::kBadDbFile) << result;
    }
}

}  // namespace
}  // namespace korva::platform
