// The display language seam: the three Windows language functions. Windows: GetUserDefaultLangID,
// GetUserDefaultUILanguage, GetSystemDefaultLangID. Linux: the locale variables, read on every call and
// mapped to Windows language identifiers ("de_DE.UTF-8" -> German): the first that is set and not empty of
// LC_ALL, LC_MESSAGES, LANG, LANGUAGE for the user and system languages, and of LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG for the user-interface language (LANGUAGE is a colon list: its first entry counts).
// "C"/"POSIX"/unknown give English (0x0409).
#pragma once

#include <cstdint>
#include <functional>

#include "platform/seam.h"

namespace korva::platform {

class Language {
  public:
    virtual ~Language() = default;
    [[nodiscard]] virtual uint16_t UserDefaultLangId() = 0;
    [[nodiscard]] virtual uint16_t UserDefaultUiLanguage() = 0;
    [[nodiscard]] virtual uint16_t SystemDefaultLangId() = 0;
};

Language& Languages();

using ScopedLanguageOverride = ScopedOverride<Language>;

// Maps a POSIX locale name ("fi_FI.UTF-8", "pt_BR", "zh_CN@x", also "de-AT") to a Windows LANGID: the
// country's identifier when the table has it, else the language's main one; 0x0409 when unknown.
uint16_t LangIdFromLocaleName(const char* localeName);

enum class LanguageKind { User, UserInterface, System };
// The Linux rule above over an environment read through `getEnv` (null for a variable that is not set).
uint16_t LangIdFromEnvironment(LanguageKind kind, const std::function<const char*(const char*)>& getEnv);

}  // namespace korva::platform
