// The display language on Windows: the three language functions of kernel32.
#include <windows.h>

#include "platform/os_defaults.h"

namespace korva::platform {
namespace {

class Win32Language final : public Language {
  public:
    uint16_t UserDefaultLangId() override { return GetUserDefaultLangID(); }
    uint16_t UserDefaultUiLanguage() override { return GetUserDefaultUILanguage(); }
    uint16_t SystemDefaultLangId() override { return GetSystemDefaultLangID(); }
};

}  // namespace

namespace os {

Language& DefaultLanguage() {
    static Win32Language* const language = new Win32Language();
    return *language;
}

}  // namespace os

}  // namespace korva::platform
