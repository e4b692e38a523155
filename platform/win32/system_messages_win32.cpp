// Windows' own text for an error code, in the user's language. Codes 2100-2999 are network management errors
// whose texts live in netmsg.dll rather than in the system's message table.
#include <windows.h>

#include <vector>

#include "platform/os_defaults.h"

namespace korva::platform {
namespace {

constexpr DWORD kBufferCharacters = 1024;
constexpr DWORD kLangUserDefault = 0x0400;

class Win32SystemMessages final : public SystemMessages {
  public:
    WString Text(uint32_t code) override {
        std::vector<wchar_t> buffer(kBufferCharacters, L'\0');
        HMODULE network = nullptr;
        DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
        if (code >= 2100 && code < 3000) {
            network = LoadLibraryExW(L"netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
            if (network != nullptr) {
                flags |= FORMAT_MESSAGE_FROM_HMODULE;
            }
        }
        const DWORD length =
            FormatMessageW(flags, network, code, kLangUserDefault, buffer.data(), kBufferCharacters, nullptr);
        if (network != nullptr) {
            FreeLibrary(network);
        }
        // The text as the platform gives it, line breaks included; nothing when there is no message.
        return WString(buffer.data(), length < kBufferCharacters ? length : kBufferCharacters - 1);
    }
};

}  // namespace

namespace os {

SystemMessages& DefaultSystemMessages() {
    static Win32SystemMessages* const messages = new Win32SystemMessages();
    return *messages;
}

}  // namespace os

}  // namespace korva::platform
