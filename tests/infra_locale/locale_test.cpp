// The localised-text collection with real files, a settable clock, fake languages and an in-memory registry.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "infra/locale.h"
#include "infra/registry_connection.h"
#include "tests/support/fake_clock.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/sync.h"
#include "platform/result_codes.h"
#include "tests/support/failing_file_system.h"
#include "tests/support/fake_registry.h"
#include "tests/support/result_assert.h"

namespace korva {
namespace {

using FileOp = testing::FailingFileSystem::Op;

class LocaleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_OK(platform::Files().MakeTempDirectory(&folder_));
        ASSERT_OK(connection_.Connect(nullptr, platform::kHkeyLocalMachine));
    }
    void TearDown() override { EXPECT_OK(platform::Files().RemoveDirectoryTree(folder_.c_str())); }

    WString WriteText(WStringView text, size_t cut = 0) {  // UTF-16LE, both builds' WChar; `cut` short
        const WString path = platform::JoinPath(folder_, KW("locale.txt"));
        EXPECT_OK(platform::WriteWholeFile(path.c_str(), text.data(), text.size() * sizeof(WChar) - cut));
        return path;
    }
    WString Title() {  // and error text and language, after reading the registry's values a minute later
        clock_.AdvanceSeconds(60);
        EXPECT_OK(texts_.InitialiseFromRegistry(connection_));
        return texts_.GetText(KW("PasswordComplexityRulesTitle"), KW("default")) + KW("|") +
               texts_.GetText(KW("errordialogtext"), KW("default")) + KW(" ") +
               AsciiToWide(std::to_string(texts_.GetCurrentLanguageId()));
    }

    WString folder_;
    testing::FakeClock clock_;
    platform::ScopedClockOverride clockOverride_{&clock_};
    testing::FakeLanguage language_;
    platform::ScopedLanguageOverride languageOverride_{&language_};
    testing::FailingFileSystem files_;
    korva::testing::FakeRegistry registry_;
    cZORPLocaleTextCollection texts_;
    RegistryConnection connection_;
};

TEST_F(LocaleTest, RegistryValuesChooseFileAndSection) {
    const WChar* const policy = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards");
    // No path: the default file, which is not there; a path that is not text: no localisation, no file read.
    EXPECT_EQ(texts_.InitialiseFromRegistry(connection_), winerr::kFileNotFound);
    registry_.PutDword(policy, KW("Credential Provider Locale"), 1);
    EXPECT_EQ(Title(), KW("default|default 9"));
    // A file as a translator writes it (with a byte-order mark); in [Deutsch] the first key wins.
    const WString path = WriteText(
        KW("\xFEFF[english]\r\nPasswordComplexityRulesTitle = Password Complexity Rules\r\n"
           "ErrorDialogText=An error has occurred.\\nPlease contact your system administrator.\r\n"
           "[english end]\r\n[german]\r\n"
           "PasswordComplexityRulesTitle = Regeln f\x00FCr die Kennwortkomplexit\x00E4t\r\n[german end]\r\n"
           "[Deutsch]\r\nPasswordComplexityRulesTitle=deutsch\r\nPASSWORDCOMPLEXITYRULESTITLE=ignored\r\n"
           "[DEUTSCH END]\r\n"
           "[FINNISH]\n\tPasswordComplexityRulesTitle = \tfin nish \n[Finnish End]\n"
           "[french]\r\nPasswordComplexityRulesTitle=\r\n[french end]\r\n"));
    registry_.PutString(policy, KW("Credential Provider Locale"), path, platform::kRegExpandSz);
    language_.user = 0x040C;
    language_.ui = 0x040B;
    // A section without a key shows the caller's default, not the English text.
    const WString german = KW("Regeln f\x00FCr die Kennwortkomplexit\x00E4t|default");
    const WString english =
        KW("Password Complexity Rules|An error has occurred.\nPlease contact your system administrator.");
    const std::tuple<const WChar*, uint32_t, uint16_t, WString> kCases[] = {
        // "Language", "GetLanguageMethod", the system's language; title, error text and language
        {KW("german"), kLanguageMethodUserInterface, 0x0407, german + KW(" 7")},
        {KW("Deutsch"), kLanguageMethodSystem, 0x0407, KW("deutsch|default 9")},  // not a known language
        {KW("Polish"), kLanguageMethodSystem, 0x0407, english + KW(" 9")},        // known, no section
        {KW(""), kLanguageMethodSystem, 0x0407, german + KW(" 7")},               // empty: the method decides
        {KW(""), kLanguageMethodUserInterface, 0x0407, KW("fin nish |default 11")},  // LF line ends
        {KW(""), kLanguageMethodUserDefault, 0x0407, KW("|default 12")},  // an empty value is a translation
        {KW(""), 7, 0x0407, german + KW(" 7")},                       // any other method means the system's
        {KW(""), kLanguageMethodSystem, 0x041D, english + KW(" 9")},  // Swedish: no section, English
    };
    for (const auto& [name, method, system, expected] : kCases) {
        registry_.PutString(policy, KW("Language"), name);
        registry_.PutDword(policy, KW("GetLanguageMethod"), method);
        language_.system = system;
        EXPECT_EQ(Title(), expected) << method << " " << Utf16ToUtf8(name);
    }
}

TEST_F(LocaleTest, SectionLinesParseIntoEntries) {
    const WString long1023(1023, u'v');
    const std::pair<WString, WString> kCases[] = {
        // lines, the entries as key=value|
        // Every "=" is dropped; blanks right after one go, a trailing blank stays.
        {KW("A=a=b\r\nB =   text\r\nC= a b \r\n"), KW("A=ab|B=text|C=a b |")},
        // Escapes; an unknown one and a backslash at the end stay as written.
        {KW("A=1\\n2\\r\\tx\r\nB=a\\qb\\\r\n"), KW("A=1\n2\r\tx|B=a\\qb\\|")},
        // Blank lines and a line without a key are skipped, a line without "=" is a key, blanks in keys go.
        {KW("\r\n   \r\n=orphan\r\nJust a key\r\nKey=\r\nLast=no line end"), KW("Justakey=|Key=|")},
        // Too long for a line: dropped, so the caller's English default shows instead of a cut translation.
        {KW("A=") + long1023 + KW("\r\nB=") + long1023 + KW("v\r\nC=ok\r\n"),
         KW("A=") + long1023 + KW("|C=ok|")},
    };
    for (const auto& [lines, entries] : kCases) {
        WString parsed;
        for (const LocaleTextEntry& entry : ParseLocaleSection(lines))
            parsed += entry.key + KW("=") + entry.value + KW("|");
        EXPECT_EQ(parsed, entries) << Utf16ToUtf8(lines.substr(0, 40));
    }
}

// A file that cannot be read leaves the English defaults and reports why; one too large is refused unread.
TEST_F(LocaleTest, ReadFailuresLeaveTheDefaultsAndReportTheError) {
    // Tags ignore case; the odd last byte is no character.
    const WString path = WriteText(KW("[ENGLISH]\r\nTitle=loaded\r\n[English End]\r\n!"), 1);
    const std::tuple<FileOp, int32_t, int32_t> kCases[] = {
        // operation, its failure, the result
        {FileOp::Open, winerr::kFileNotFound, winerr::kFileNotFound},
        {FileOp::GetSize, winerr::kAccessDenied, winerr::kAccessDenied},
        {FileOp::Read, winerr::kReadFault, winerr::kReadFault},
        {FileOp::Read, winerr::kSuccess, winerr::kNotFound},  // reads nothing: it shrank under the reader
        {FileOp::Close, winerr::kInvalidHandle, winerr::kInvalidHandle},
    };
    for (const auto& [op, code, expected] : kCases) {
        SCOPED_TRACE(::testing::Message() << "operation " << static_cast<int>(op) << " code " << code);
        clock_.AdvanceSeconds(60);
        files_.FailNext(op, code);
        EXPECT_RESULT(expected, texts_.Configure(path.c_str(), nullptr, 0));
        EXPECT_FALSE(texts_.IsLoaded());
        EXPECT_EQ(texts_.GetText(KW("Title"), KW("default")), KW("default"));
    }
    // A failed load is retried at most once a minute; a loaded table is not read again.
    const int opened = files_.Calls(FileOp::Open);
    int64_t elapsed = 0;
    for (const int64_t seconds : {0, 59, 1, 60}) {
        clock_.AdvanceSeconds(seconds);
        elapsed += seconds;
        EXPECT_EQ(texts_.GetText(KW("Title"), KW("default")), elapsed < 60 ? KW("default") : KW("loaded"))
            << elapsed;
        EXPECT_EQ(files_.Calls(FileOp::Open) - opened, elapsed < 60 ? 0 : 1) << elapsed;
    }

    const std::string tooLarge((16 << 20) + 1, 'x');
    ASSERT_OK(platform::WriteWholeFile(path.c_str(), tooLarge.data(), tooLarge.size()));
    const int reads = files_.Calls(FileOp::Read);
    clock_.AdvanceSeconds(60);
    EXPECT_RESULT(winerr::kFileTooLarge, texts_.Configure(path.c_str(), nullptr, 0));
    EXPECT_EQ(files_.Calls(FileOp::Read), reads);
}

TEST_F(LocaleTest, LookupsDuringReconfigurationSeeTheTableOrTheDefault) {
    const WString path = WriteText(KW("[english]\r\nTitle=loaded\r\n[english end]\r\n"));
    clock_.stepSeconds = 61;  // every lookup of an unloaded table reads the file
    platform::Thread reader;
    ASSERT_OK(reader.Start([this] {
        for (int n = 0; n < 300; ++n) {
            const WString text = texts_.GetText(KW("Title"), KW("default"));
            EXPECT_TRUE(text == KW("loaded") || text == KW("default")) << Utf16ToUtf8(text);
        }
    }));
    for (int n = 0; n < 100; ++n)
        EXPECT_OK(texts_.Configure(n % 2 == 0 ? path.c_str() : nullptr, nullptr, 0));
    EXPECT_TRUE(reader.Join(0xFFFFFFFFu));
}

}  // namespace
}  // namespace korva
