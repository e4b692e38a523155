// The display language on Linux: the locale environment, read on every call so that a changed environment
// takes effect at once.
#include <cstdlib>

#include "platform/os_defaults.h"

namespace korva::platform {
namespace {

const char* ReadEnvironment(const char* name) {
    return std::getenv(name);
}

class PosixLanguage final : public Language {
  public:
    uint16_t UserDefaultLangId() override {
        return LangIdFromEnvironment(LanguageKind::User, ReadEnvironment);
    }
    uint16_t UserDefaultUiLanguage() override {
        return LangIdFromEnvironment(LanguageKind::UserInterface, ReadEnvironment);
    }
    uint16_t SystemDefaultLangId() override {
        return LangIdFromEnvironment(LanguageKind::System, ReadEnvironment);
    }
};

}  // namespace

namespace os {

Language& DefaultLanguage() {
    static PosixLanguage* const language = new PosixLanguage();
    return *language;
}

}  // namespace os

}  // namespace korva::platform
