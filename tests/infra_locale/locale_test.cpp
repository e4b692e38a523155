// The localised-text collection with real UTF-16LE files in a temporary folder, a settable clock, fake
// platform languages and an in-memory registry.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "infra/locale.h"
#include "infra/registry_connection.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/memory_registry.h"
#include "platform/sync.h"
#include "platform/win_errors.h"

namespace korva {
namespace {

constexpr uint16_t kLangGerman = 0x0407;
constexpr uint16_t kLangSwedish = 0x041D;
constexpr uint16_t kLangFinnish = 0x040B;
constexpr uint16_t kLangFrench = 0x040C;
constexpr const WChar* kPolicyPath = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards");

std::vector<uint8_t> Utf16LeBytes(WStringView text) {
    std::vector<uint8_t> bytes;
    for (WChar c : text) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(c) & 0xFF));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(c) >> 8));
    }
    return bytes;
}

// Delegates to the real file system and remembers every path opened.
class CountingFileSystem final : public platform::FileSystem {
  public:
    explicit CountingFileSystem(platform::FileSystem& inner) : inner_(inner) {}
    int32_t Open(const WChar* path, uint32_t access, uint32_t share, platform::Disposition disposition,
                 std::unique_ptr<platform::File>* out) override {
        opened.emplace_back(path);
        return inner_.Open(path, access, share, disposition, out);
    }
    int32_t Delete(const WChar* path) override { return inner_.Delete(path); }
    int32_t MakeTempDirectory(WString* path) override { return inner_.MakeTempDirectory(path); }
    int32_t RemoveDirectoryTree(const WChar* path) override { return inner_.RemoveDirectoryTree(path); }

    std::vector<WString> opened;

  private:
    platform::FileSystem& inner_;
};

class LocaleTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(platform::Files().MakeTempDirectory(&folder_), 0); }
    void TearDown() override { platform::Files().RemoveDirectoryTree(folder_.c_str()); }

    WString WriteFile(const WChar* name, const std::vector<uint8_t>& bytes) {
        const WString path = platform::JoinPath(folder_, name);
        EXPECT_EQ(platform::WriteWholeFile(path.c_str(), bytes.data(), bytes.size()), 0);
        return path;
    }
    WString WriteText(const WChar* name, WStringView text) { return WriteFile(name, Utf16LeBytes(text)); }

    WString folder_;
    platform::FakeClock clock_;
    platform::ScopedClockOverride clockOverride_{&clock_};
    platform::FakeLanguage language_;
    platform::ScopedLanguageOverride languageOverride_{&language_};
    CountingFileSystem files_{platform::Files()};
    platform::ScopedFileSystemOverride filesOverride_{&files_};
    cZORPLocaleTextCollection texts_;
};

// The example file of the product's documentation, with a byte-order mark as editors write it.
constexpr const WChar* kExampleFile =
    KW("\xFEFF[english]\r\n"
       "PasswordComplexityRulesTitle = Password Complexity Rules\r\n"
       "ErrorDialogText=An error has occurred.\\nPlease contact your system administrator.\r\n"
       "[english end]\r\n"
       "[german]\r\n"
       "PasswordComplexityRulesTitle = Regeln f\x00FCr die Kennwortkomplexit\x00E4t\r\n"
       "[german end]\r\n");

TEST_F(LocaleTest, SystemLanguagePicksTheSectionAndUnknownLanguagesFallBackToEnglish) {
    const WString path = WriteText(KW("example.txt"), kExampleFile);
    struct Case {
        uint16_t systemLanguage;
        const WChar* caption;
        const WChar* errorText;
        uint32_t languageId;
    } cases[] = {
        // The German section has no ErrorDialogText: the caller's default, not the English text.
        {kLangGerman, KW("Regeln f\x00FCr die Kennwortkomplexit\x00E4t"), KW("default"), 7},
        {kLangSwedish, KW("Password Complexity Rules"),
         KW("An error has occurred.\nPlease contact your system administrator."), 9},
    };
    for (const Case& c : cases) {
        language_.system = c.systemLanguage;
        EXPECT_EQ(texts_.Configure(path.c_str(), nullptr, kLanguageMethodSystem), 0);
        EXPECT_EQ(texts_.GetText(KW("PasswordComplexityRulesTitle"), KW("default")), c.caption);
        EXPECT_EQ(texts_.GetText(KW("errordialogtext"), KW("default")), c.errorText);
        EXPECT_EQ(texts_.GetCurrentLanguageId(), c.languageId);
        clock_.AdvanceSeconds(60);  // each Configure is a load attempt
    }
}

TEST_F(LocaleTest, LanguageNameOrPlatformLanguageSelectsTheSection) {
    const WString path = WriteText(KW("sections.txt"), KW("[ENGLISH]\r\nCaption=english\r\n[English End]\r\n"
                                                          "[german]\r\nCaption=german\r\n[german end]\r\n"
                                                          "[Deutsch]\r\nCaption=deutsch\r\n[DEUTSCH END]\r\n"
                                                          "[finnish]\r\nCaption=finnish\r\n[finnish end]\r\n"
                                                          "[french]\r\nCaption=french\r\n[french end]\r\n"));
    language_.user = kLangFrench;
    language_.ui = kLangFinnish;
    language_.system = kLangGerman;
    struct Case {
        const WChar* name;
        uint32_t method;
        const WChar* caption;
        uint32_t languageId;
    } cases[] = {
        {KW("german"), kLanguageMethodUserInterface, KW("german"), 7},  // a name beats the method
        {KW("Deutsch"), kLanguageMethodSystem, KW("deutsch"), 9},       // a section, but not a known language
        {KW("Klingon"), kLanguageMethodSystem, KW("english"), 9},       // no section: English
        {KW("Polish"), kLanguageMethodSystem, KW("english"),
         9},  // known, but no section: reported as English
        {KW("English"), kLanguageMethodSystem, KW("english"), 9},   // tags match ignoring case
        {KW(""), kLanguageMethodUserInterface, KW("finnish"), 11},  // an empty name is no name
        {nullptr, kLanguageMethodUserDefault, KW("french"), 12},
        {nullptr, kLanguageMethodSystem, KW("german"), 7},
        {nullptr, 7, KW("german"), 7},  // any other method follows the system language
    };
    for (const Case& c : cases) {
        const std::string what = c.name ? Utf16ToUtf8(c.name) : "method " + std::to_string(c.method);
        EXPECT_EQ(texts_.Configure(path.c_str(), c.name, c.method), 0) << what;
        EXPECT_EQ(texts_.GetText(KW("Caption"), KW("default")), c.caption) << what;
        EXPECT_EQ(texts_.GetCurrentLanguageId(), c.languageId) << what;
        clock_.AdvanceSeconds(60);
    }
}

TEST_F(LocaleTest, FileShapesAndFilesWithoutAUsableSection) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int32_t result;
    } cases[] = {
        {"zero-length file", {}, winerr::kNotFound},
        {"only a byte-order mark", {0xFF, 0xFE}, winerr::kNotFound},
        {"German only", Utf16LeBytes(KW("[german]\r\nCaption=x\r\n[german end]\r\n")), winerr::kNotFound},
        {"English without its end tag", Utf16LeBytes(KW("[english]\r\nCaption=x\r\n")), winerr::kNotFound},
        {"start tag at the very end", Utf16LeBytes(KW("[english]")), winerr::kNotFound},
        // Only the character right after "]" is skipped: with LF line ends that is the LF itself.
        {"LF line ends", Utf16LeBytes(KW("[english]\nCaption=x\n[english end]\n")), 0},
        // The odd last byte cannot form a character and is ignored.
        {"odd byte count",
         [] {
             auto bytes = Utf16LeBytes(KW("[english]\r\nCaption=x\r\n[english end]\r\n"));
             bytes.push_back('!');
             return bytes;
         }(),
         0},
    };
    for (const Case& c : cases) {
        const WString path = WriteFile(KW("file.txt"), c.bytes);
        EXPECT_EQ(texts_.Configure(path.c_str(), KW("English"), 0), c.result) << c.what;
        EXPECT_EQ(texts_.GetText(KW("Caption"), KW("default")), c.result == 0 ? KW("x") : KW("default"))
            << c.what;
        EXPECT_EQ(texts_.IsLoaded(), c.result == 0) << c.what;
        clock_.AdvanceSeconds(60);
    }
    const WString missing = platform::JoinPath(folder_, KW("missing.txt"));
    EXPECT_EQ(texts_.Configure(missing.c_str(), nullptr, 0), winerr::kFileNotFound);
    EXPECT_EQ(texts_.GetText(KW("Caption"), KW("default")), KW("default"));
    // Without a file every lookup gives its default; a null key too.
    EXPECT_EQ(texts_.Configure(nullptr, nullptr, 0), 0);
    EXPECT_EQ(texts_.GetText(texts::kForgotMyPasswordButton), KW("Forgot my password..."));
    EXPECT_EQ(texts_.GetText(nullptr, KW("default")), KW("default"));
}

TEST_F(LocaleTest, SectionLinesParseIntoEntries) {
    const WString long1023(1023, KW('v'));
    const WString long1024(1024, KW('v'));
    struct Case {
        WString lines;
        std::vector<std::pair<WString, WString>> entries;
    } cases[] = {
        {KW("Key=a=b\r\n"), {{KW("Key"), KW("ab")}}},  // every "=" is dropped
        {KW("Key =   text\r\n"), {{KW("Key"), KW("text")}}},
        {KW("Key= a b \r\n"), {{KW("Key"), KW("a b ")}}},  // the trailing blank stays
        {KW("Key=Line1\\nLine2\\r\\tx\r\n"), {{KW("Key"), KW("Line1\nLine2\r\tx")}}},
        {KW("Key=a\\qb\\\r\n"), {{KW("Key"), KW("a\\qb\\")}}},  // unknown escape and a backslash at the end
        {KW("Forgot My Password Button = x\r\n"), {{KW("ForgotMyPasswordButton"), KW("x")}}},
        {KW("\tKey\t=\tva\tlue\t\r\n"), {{KW("Key"), KW("value")}}},
        {KW("Just a key\r\n"), {{KW("Justakey"), KW("")}}},
        {KW("Key=\r\n"), {{KW("Key"), KW("")}}},
        {KW("A=1\nB=2") + WString(1, 0) + KW("C=3\n"),
         {{KW("A"), KW("1")}, {KW("B"), KW("2")}, {KW("C"), KW("3")}}},
        {KW("\r\n   \r\n=orphan\r\n"), {}},  // blank lines and a line without a key
        {KW("A=1\r\nLast=no line end"), {{KW("A"), KW("1")}}},
        {KW("Long=") + long1023 + KW("\r\n"), {{KW("Long"), long1023}}},
        // Too long for a line: dropped, so the caller's English default shows instead of a cut translation.
        {KW("Long=") + long1024 + KW("\r\nNext=ok\r\n"), {{KW("Next"), KW("ok")}}},
        {long1024 + KW("=x\r\n"), {}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<WString, WString>> parsed;
        for (const LocaleTextEntry& entry : ParseLocaleSection(c.lines)) {
            parsed.emplace_back(entry.key, entry.value);
        }
        EXPECT_EQ(parsed, c.entries) << Utf16ToUtf8(c.lines.substr(0, 40));
    }
}

TEST_F(LocaleTest, FirstKeyWinsAndAnEmptyValueIsATranslation) {
    const WString path = WriteText(KW("dup.txt"), KW("[english]\r\nTitle=first\r\nTITLE=second\r\n"
                                                     "Empty=\r\n[english end]\r\n"));
    ASSERT_EQ(texts_.Configure(path.c_str(), nullptr, 0), 0);
    EXPECT_EQ(texts_.GetText(KW("title"), KW("default")), KW("first"));
    EXPECT_EQ(texts_.GetText(KW("Empty"), KW("default")), KW(""));
    EXPECT_EQ(texts_.EntryCount(), 3u);
}

TEST_F(LocaleTest, FailedLoadIsRetriedAtMostOnceAMinute) {
    const WString path = platform::JoinPath(folder_, KW("late.txt"));
    EXPECT_EQ(texts_.Configure(path.c_str(), nullptr, 0), winerr::kFileNotFound);
    EXPECT_EQ(files_.opened.size(), 1u);

    WriteText(KW("late.txt"), KW("[english]\r\nTitle=loaded\r\n[english end]\r\n"));
    const size_t baseline = files_.opened.size();  // writing the file opened it too
    struct Step {
        int64_t advanceSeconds;
        size_t opensAfter;  // beyond the baseline
        const WChar* text;
    } steps[] = {
        {0, 0, KW("default")},   // right after the failure: no new attempt
        {59, 0, KW("default")},  // still within the minute
        {1, 1, KW("loaded")},    // a full minute: the lookup loads the file
        {0, 1, KW("loaded")},    // a loaded table is not read again
    };
    for (const Step& s : steps) {
        clock_.AdvanceSeconds(s.advanceSeconds);
        EXPECT_EQ(texts_.GetText(KW("Title"), KW("default")), s.text)
            << "after +" << s.advanceSeconds << " s";
        EXPECT_EQ(files_.opened.size() - baseline, s.opensAfter) << "after +" << s.advanceSeconds << " s";
    }

    // Reconfiguring does not lift the interval: within a minute of the last attempt, even a successful one,
    // nothing is read and the defaults show until the minute is over.
    clock_.AdvanceSeconds(30);
    EXPECT_EQ(texts_.Configure(path.c_str(), nullptr, 0), 0);
    EXPECT_EQ(texts_.GetText(KW("Title"), KW("default")), KW("default"));
    EXPECT_EQ(files_.opened.size() - baseline, 1u);
    clock_.AdvanceSeconds(30);
    EXPECT_EQ(texts_.GetText(KW("Title"), KW("default")), KW("loaded"));
    EXPECT_EQ(files_.opened.size() - baseline, 2u);
}

class LocaleRegistryTest : public LocaleTest {
  protected:
    int32_t Initialise() {
        RegistryConnection connection;
        EXPECT_EQ(connection.Connect(nullptr, platform::kHkeyLocalMachine), 0);
        files_.opened.clear();
        return texts_.InitialiseFromRegistry(connection);
    }

    platform::MemoryRegistry registry_;
    platform::ScopedRegistryOverride registryOverride_{&registry_};
};

TEST_F(LocaleRegistryTest, RegistryValuesChooseFileAndLanguage) {
    const WString path = WriteText(KW("locale.txt"), KW("[english]\r\nCaption=english\r\n[english end]\r\n"
                                                        "[german]\r\nCaption=german\r\n[german end]\r\n"
                                                        "[finnish]\r\nCaption=finnish\r\n[finnish end]\r\n"));
    language_.ui = kLangFinnish;

    // No values: the default file name, relative to the current folder.
    Initialise();
    EXPECT_EQ(files_.opened, (std::vector<WString>{kLocaleDefaultFile}));
    clock_.AdvanceSeconds(60);

    registry_.PutString(kPolicyPath, KW("Credential Provider Locale"), path);
    registry_.PutString(kPolicyPath, KW("Language"), KW("german"));
    EXPECT_EQ(Initialise(), 0);
    EXPECT_EQ(texts_.GetText(KW("Caption"), KW("default")), KW("german"));
    EXPECT_EQ(texts_.GetCurrentLanguageId(), 7u);

    // An empty name leaves the choice to "GetLanguageMethod"; REG_EXPAND_SZ paths are taken as written.
    clock_.AdvanceSeconds(60);
    registry_.PutString(kPolicyPath, KW("Language"), KW(""));
    registry_.PutString(kPolicyPath, KW("Credential Provider Locale"), path, platform::kRegExpandSz);
    registry_.PutDword(kPolicyPath, KW("GetLanguageMethod"), 2);
    EXPECT_EQ(Initialise(), 0);
    EXPECT_EQ(texts_.GetText(KW("Caption"), KW("default")), KW("finnish"));
}

TEST_F(LocaleRegistryTest, UnreadableFileSettingMeansNoLocalisation) {
    struct Case {
        const char* what;
        void (*prepare)(platform::MemoryRegistry&);
    } cases[] = {
        {"a number instead of a path",
         [](platform::MemoryRegistry& r) { r.PutDword(kPolicyPath, KW("Credential Provider Locale"), 1); }},
        {"access denied",
         [](platform::MemoryRegistry& r) {
             r.PutString(kPolicyPath, KW("Credential Provider Locale"), KW("x.txt"));
             r.FailNext(platform::MemoryRegistry::Op::QueryValue, winerr::kAccessDenied, KW("Locale"));
         }},
    };
    for (const Case& c : cases) {
        c.prepare(registry_);
        EXPECT_EQ(Initialise(), 0) << c.what;
        EXPECT_TRUE(files_.opened.empty()) << c.what;
        EXPECT_EQ(texts_.GetText(texts::kPasswordComplexityRulesTitle), KW("Password Complexity Rules"))
            << c.what;
        clock_.AdvanceSeconds(60);
    }
}

// Every call is a minute later than the one before, so every lookup of an unloaded table reads the file.
class SteppingClock final : public platform::Clock {
  public:
    int64_t NowFileTime() override { return now_ += 61 * platform::kFileTimeTicksPerSecond; }
    bool ToLocalTime(int64_t, platform::LocalTime*) override { return false; }

  private:
    std::atomic<int64_t> now_{platform::kUnixEpochAsFileTime};
};

TEST_F(LocaleTest, ConcurrentLookupsWhileReconfiguring) {
    const WString path = WriteText(KW("threads.txt"), KW("[english]\r\nTitle=loaded\r\n[english end]\r\n"));
    SteppingClock clock;
    platform::ScopedClockOverride clockOverride(&clock);
    std::atomic<int> torn{0};
    std::vector<std::unique_ptr<platform::Thread>> threads;
    for (int i = 0; i < 3; ++i) {
        threads.push_back(std::make_unique<platform::Thread>());
        ASSERT_EQ(threads.back()->Start([this, &torn] {
            for (int n = 0; n < 300; ++n) {
                // Either the table is loaded or the default shows; never anything else.
                const WString text = texts_.GetText(KW("Title"), KW("default"));
                if (text != KW("loaded") && text != KW("default")) {
                    ++torn;
                }
            }
        }),
                  0);
    }
    for (int n = 0; n < 50; ++n) {
        texts_.Configure(n % 2 == 0 ? path.c_str() : nullptr, nullptr, 0);
    }
    for (auto& thread : threads) {
        EXPECT_TRUE(thread->Join(0xFFFFFFFFu));
    }
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace korva
