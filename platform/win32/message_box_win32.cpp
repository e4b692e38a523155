// Message boxes on Windows: MessageBoxW, arguments passed unchanged.
#include <windows.h>

#include "platform/message_box.h"

namespace korva::platform {
namespace {

class Win32MessageBoxes final : public MessageBoxes {
  public:
    int32_t Show(com::HWND owner, const WChar* text, const WChar* title, uint32_t style) override {
        return ::MessageBoxW(owner, text, title, style);
    }
};

}  // namespace

namespace os {

MessageBoxes& DefaultMessageBoxes() {
    static Win32MessageBoxes boxes;
    return boxes;
}

}  // namespace os
}  // namespace korva::platform
