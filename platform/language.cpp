// Locale names to Windows language identifiers, and the language seam's plumbing.
#include "platform/language.h"

#include <string>
#include <string_view>

#include "platform/os_defaults.h"

namespace korva::platform {
namespace {

constexpr uint16_t kEnglishUs = 0x0409;

struct LocaleRow {
    std::string_view language;  // ISO 639-1, lower case
    std::string_view country;   // ISO 3166-1, upper case; empty for the language's main identifier
    uint16_t langId;
};

// Each language's first row (empty country) is the identifier used for a country the table does not list.
constexpr LocaleRow kLocales[] = {
    {"ar", "", 0x0401},   {"bg", "", 0x0402},   {"ca", "", 0x0403},   {"zh", "", 0x0804},
    {"zh", "TW", 0x0404}, {"zh", "HK", 0x0C04}, {"zh", "SG", 0x1004}, {"zh", "MO", 0x1404},
    {"cs", "", 0x0405},   {"da", "", 0x0406},   {"de", "", 0x0407},   {"de", "CH", 0x0807},
    {"de", "AT", 0x0C07}, {"de", "LU", 0x1007}, {"de", "LI", 0x1407}, {"el", "", 0x0408},
    {"en", "", 0x0409},   {"en", "GB", 0x0809}, {"en", "AU", 0x0C09}, {"en", "CA", 0x1009},
    {"en", "NZ", 0x1409}, {"en", "IE", 0x1809}, {"en", "ZA", 0x1C09}, {"en", "IN", 0x4009},
    {"es", "", 0x0C0A},   {"es", "MX", 0x080A}, {"es", "AR", 0x2C0A}, {"es", "US", 0x540A},
    {"fi", "", 0x040B},   {"fr", "", 0x040C},   {"fr", "BE", 0x080C}, {"fr", "CA", 0x0C0C},
    {"fr", "CH", 0x100C}, {"fr", "LU", 0x140C}, {"he", "", 0x040D},   {"hu", "", 0x040E},
    {"is", "", 0x040F},   {"it", "", 0x0410},   {"it", "CH", 0x0810}, {"ja", "", 0x0411},
    {"ko", "", 0x0412},   {"nl", "", 0x0413},   {"nl", "BE", 0x0813}, {"nb", "", 0x0414},
    {"no", "", 0x0414},   {"nn", "", 0x0814},   {"pl", "", 0x0415},   {"pt", "", 0x0816},
    {"pt", "BR", 0x0416}, {"ro", "", 0x0418},   {"ru", "", 0x0419},   {"hr", "", 0x041A},
    {"sk", "", 0x041B},   {"sv", "", 0x041D},   {"sv", "FI", 0x081D}, {"th", "", 0x041E},
    {"tr", "", 0x041F},   {"id", "", 0x0421},   {"uk", "", 0x0422},   {"sl", "", 0x0424},
    {"et", "", 0x0425},   {"lv", "", 0x0426},   {"lt", "", 0x0427},   {"vi", "", 0x042A},
};

char ToLowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char ToUpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// LANGUAGE's first non-empty entry, or the whole value of any other variable.
std::string_view FirstEntry(std::string_view value, bool colonList) {
    if (!colonList) {
        return value;
    }
    while (!value.empty()) {
        const size_t colon = value.find(':');
        std::string_view entry = value.substr(0, colon);
        if (!entry.empty()) {
            return entry;
        }
        if (colon == std::string_view::npos) {
            break;
        }
        value.remove_prefix(colon + 1);
    }
    return {};
}

}  // namespace

uint16_t LangIdFromLocaleName(const char* localeName) {
    if (localeName == nullptr) {
        return kEnglishUs;
    }
    std::string_view name(localeName);
    // Drop the code set and the modifier: "de_DE.UTF-8@euro" -> "de_DE".
    name = name.substr(0, name.find_first_of(".@"));
    const size_t separator = name.find_first_of("_-");
    std::string language;
    for (char c : name.substr(0, separator)) {
        language += ToLowerAscii(c);
    }
    std::string country;
    if (separator != std::string_view::npos) {
        for (char c : name.substr(separator + 1)) {
            country += ToUpperAscii(c);
        }
    }
    uint16_t languageDefault = kEnglishUs;
    bool languageKnown = false;
    for (const LocaleRow& row : kLocales) {
        if (row.language != language) {
            continue;
        }
        if (!languageKnown) {
            languageDefault = row.langId;
            languageKnown = true;
        }
        if (!country.empty() && row.country == country) {
            return row.langId;
        }
    }
    return languageDefault;
}

uint16_t LangIdFromEnvironment(LanguageKind kind, const std::function<const char*(const char*)>& getEnv) {
    static constexpr const char* kUserOrder[] = {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"};
    static constexpr const char* kUiOrder[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    const auto& order = kind == LanguageKind::UserInterface ? kUiOrder : kUserOrder;
    for (const char* variable : order) {
        const char* value = getEnv ? getEnv(variable) : nullptr;
        if (value == nullptr) {
            continue;
        }
        const std::string entry(FirstEntry(value, std::string_view(variable) == "LANGUAGE"));
        if (!entry.empty()) {
            return LangIdFromLocaleName(entry.c_str());
        }
    }
    return kEnglishUs;
}

Language& Languages() {
    Language* replacement = ScopedLanguageOverride::Installed();
    return replacement != nullptr ? *replacement : os::DefaultLanguage();
}

}  // namespace korva::platform
