// The display language seam: the three Windows language functions. Windows: GetUserDefaultLangID,
// GetUserDefaultUILanguage, GetSystemDefaultLangID. Linux: the first of LANGUAGE, LC_ALL, LC_MESSAGES, LANG that
// is set and not empty ("de_DE.UTF-8" -> German) mapped to Windows language identifiers; the user-interface
// language prefers LANGUAGE's first entry; "C"/"POSIX"/unknown give English (0x0409).
#pragma once

#include <cstdint>

namespace korva::platform {

class Language {
public:
    virtual ~Language() = default;
    virtual uint16_t UserDefaultLangId() = 0;
    virtual uint16_t UserDefaultUiLanguage() = 0;
    virtual uint16_t SystemDefaultLangId() = 0;
};

Language& Languages();

class ScopedLanguageOverride {
public:
    explicit ScopedLanguageOverride(Language* replacement);
    ~ScopedLanguageOverride();
    ScopedLanguageOverride(const ScopedLanguageOverride&) = delete;
    ScopedLanguageOverride& operator=(const ScopedLanguageOverride&) = delete;

private:
    Language* previous_;
};

// Maps a POSIX locale name ("fi_FI.UTF-8", "pt_BR", "zh_CN@x") to a Windows LANGID; 0x0409 when unknown.
uint16_t LangIdFromLocaleName(const char* localeName);

class FakeLanguage final : public Language {
public:
    uint16_t user = 0x0409, ui = 0x0409, system = 0x0409;
    uint16_t UserDefaultLangId() override { return user; }
    uint16_t UserDefaultUiLanguage() override { return ui; }
    uint16_t SystemDefaultLangId() override { return system; }
};

}  // namespace korva::platform
