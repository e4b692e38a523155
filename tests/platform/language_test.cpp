#include "platform/language.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace korva::platform {
namespace {

TEST(LanguageTest, LocaleNamesMapToWindowsIdentifiers) {
    const struct {
        const char* locale;
        uint16_t langId;
    } kCases[] = {
        {"de_DE.UTF-8", 0x0407},
        {"de_AT", 0x0C07},
        {"de_CH.UTF-8@euro", 0x0807},
        // A country the table does not list falls back to the language's main identifier.
        {"de_BE", 0x0407},
        {"en_US.UTF-8", 0x0409},
        {"en_GB", 0x0809},
        {"EN_gb", 0x0809},
        {"fr-CA", 0x0C0C},
        {"fr_FR", 0x040C},
        {"pt", 0x0816},
        {"pt_PT", 0x0816},
        {"pt_BR.UTF-8", 0x0416},
        {"zh_CN.GB18030", 0x0804},
        {"zh_TW", 0x0404},
        {"es_ES", 0x0C0A},
        {"es_MX", 0x080A},
        {"fi_FI@euro", 0x040B},
        {"sv_SE", 0x041D},
        {"sv_FI", 0x081D},
        {"cs_CZ", 0x0405},
        {"hu_HU", 0x040E},
        {"it_IT", 0x0410},
        {"nl_BE", 0x0813},
        {"pl_PL", 0x0415},
        {"ru_RU.KOI8-R", 0x0419},
        {"C", 0x0409},
        {"C.UTF-8", 0x0409},
        {"POSIX", 0x0409},
        {"", 0x0409},
        {"xx_YY", 0x0409},
        {"_DE", 0x0409},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.locale);
        EXPECT_EQ(LangIdFromLocaleName(c.locale), c.langId);
    }
    EXPECT_EQ(LangIdFromLocaleName(nullptr), 0x0409);
}

TEST(LanguageTest, KnownLanguagesHaveTheirPrimaryIdentifiers) {
    // The primary language is the low 10 bits; the localised texts are chosen by it.
    const struct {
        const char* language;
        uint16_t primary;
    } kCases[] = {
        {"zh", 4},  {"cs", 5},  {"de", 7},  {"en", 9},  {"es", 10}, {"fi", 11}, {"fr", 12},
        {"hu", 14}, {"it", 16}, {"nl", 19}, {"pl", 21}, {"pt", 22}, {"ru", 25}, {"sv", 29},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.language);
        EXPECT_EQ(LangIdFromLocaleName(c.language) & 0x3FF, c.primary);
    }
}

using Environment = std::map<std::string, std::string>;

uint16_t FromEnvironment(LanguageKind kind, const Environment& environment) {
    return LangIdFromEnvironment(kind, [&environment](const char* name) -> const char* {
        const auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    });
}

TEST(LanguageTest, EnvironmentVariablesAreReadInOrder) {
    const struct {
        const char* what;
        Environment environment;
        uint16_t user;
        uint16_t ui;
    } kCases[] = {
        {"nothing set", {}, 0x0409, 0x0409},
        {"LANG only", {{"LANG", "de_DE.UTF-8"}}, 0x0407, 0x0407},
        {"LANGUAGE is preferred for the user interface only",
         {{"LANGUAGE", "fr:de"}, {"LANG", "de_DE.UTF-8"}},
         0x0407,
         0x040C},
        {"LANGUAGE's first non-empty entry", {{"LANGUAGE", ":it_IT:de"}}, 0x0410, 0x0410},
        {"empty variables are skipped",
         {{"LC_ALL", ""}, {"LC_MESSAGES", "fi_FI"}, {"LANG", "de_DE"}},
         0x040B,
         0x040B},
        {"LC_ALL wins over LANG", {{"LC_ALL", "pl_PL"}, {"LANG", "de_DE"}}, 0x0415, 0x0415},
        {"C locale is English", {{"LC_ALL", "C"}, {"LANG", "de_DE"}}, 0x0409, 0x0409},
        {"empty LANGUAGE falls through", {{"LANGUAGE", ""}, {"LANG", "sv_SE"}}, 0x041D, 0x041D},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(FromEnvironment(LanguageKind::User, c.environment), c.user);
        EXPECT_EQ(FromEnvironment(LanguageKind::System, c.environment), c.user);
        EXPECT_EQ(FromEnvironment(LanguageKind::UserInterface, c.environment), c.ui);
    }
}

TEST(LanguageTest, OverrideReplacesAndRestores) {
    Language* const before = &Languages();
    {
        FakeLanguage fake;
        fake.ui = 0x0407;
        ScopedLanguageOverride guard(&fake);
        EXPECT_EQ(Languages().UserDefaultUiLanguage(), 0x0407);
        {
            FakeLanguage inner;
            inner.ui = 0x040C;
            ScopedLanguageOverride innerGuard(&inner);
            EXPECT_EQ(Languages().UserDefaultUiLanguage(), 0x040C);
        }
        EXPECT_EQ(&Languages(), &fake);
    }
    EXPECT_EQ(&Languages(), before);
}

#if !defined(_WIN32)
// Sets environment variables for one test and puts the old values back.
class EnvironmentGuard {
  public:
    void Set(const char* name, const char* value) {
        if (saved_.find(name) == saved_.end()) {
            const char* old = std::getenv(name);
            saved_[name] = old == nullptr ? std::nullopt : std::optional<std::string>(old);
        }
        if (value == nullptr) {
            unsetenv(name);
        } else {
            setenv(name, value, 1);
        }
    }
    ~EnvironmentGuard() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(LanguageTest, LinuxReadsTheProcessEnvironmentOnEveryCall) {
    EnvironmentGuard environment;
    environment.Set("LC_ALL", nullptr);
    environment.Set("LC_MESSAGES", nullptr);
    environment.Set("LANGUAGE", "hu_HU");
    environment.Set("LANG", "cs_CZ.UTF-8");
    EXPECT_EQ(Languages().UserDefaultLangId(), 0x0405);
    EXPECT_EQ(Languages().SystemDefaultLangId(), 0x0405);
    EXPECT_EQ(Languages().UserDefaultUiLanguage(), 0x040E);
    environment.Set("LANG", "nl_NL");
    EXPECT_EQ(Languages().UserDefaultLangId(), 0x0413);
}
#else
TEST(LanguageTest, WindowsReportsSomeLanguage) {
    EXPECT_NE(Languages().UserDefaultLangId(), 0);
    EXPECT_NE(Languages().UserDefaultUiLanguage(), 0);
    EXPECT_NE(Languages().SystemDefaultLangId(), 0);
}
#endif

}  // namespace
}  // namespace korva::platform
