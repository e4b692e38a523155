// Message boxes on Linux: no desktop to show them on, so the title and text are written to standard error as
// one line each (a service's journal keeps them) and the box answers OK.
#include <cstdio>
#include <string>

#include "platform/message_box.h"

namespace korva::platform {
namespace {

class PosixMessageBoxes final : public MessageBoxes {
  public:
    int32_t Show(com::HWND, const WChar* text, const WChar* title, uint32_t) override {
        try {
            const std::string line = "KORVA: " + Utf16ToUtf8(title != nullptr ? title : KW("")) + ": " +
                                     Utf16ToUtf8(text != nullptr ? text : KW("")) + "\n";
            std::fputs(line.c_str(), stderr);
        } catch (...) {
            return 0;
        }
        return kIdOk;
    }
};

}  // namespace

namespace os {

MessageBoxes& DefaultMessageBoxes() {
    static PosixMessageBoxes boxes;
    return boxes;
}

}  // namespace os
}  // namespace korva::platform
