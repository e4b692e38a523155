// Message boxes: MessageBoxW on Windows. Linux has no logon desktop to show a box on, so there the box's title
// and text go to standard error (a line a service journal keeps) and the box answers as if OK were pressed.
// The Reset Wizard's error boxes use it today; the password checks' boxes and the rules window's owner handle
// are of the same kind.
#pragma once

#include <cstdint>

#include "platform/com.h"
#include "platform/seam.h"
#include "platform/text.h"

namespace korva::platform {

// MessageBoxW styles and answers, with the system's values.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbIconStop = 0x10;
inline constexpr uint32_t kMbSetForeground = 0x10000;
inline constexpr uint32_t kMbTopmost = 0x40000;
// An error the user must see on the logon desktop: OK button, stop icon, brought to the front, topmost.
inline constexpr uint32_t kMbErrorOnLogonDesktop = kMbOk | kMbIconStop | kMbSetForeground | kMbTopmost;
static_assert(kMbErrorOnLogonDesktop == 0x50010);
inline constexpr int32_t kIdOk = 1;

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box owned by `owner` (null: none) and returns the button pressed (kIdOk...), or 0 when
    // the box could not be shown.
    [[nodiscard]] virtual int32_t Show(com::HWND owner, const WChar* text, const WChar* title,
                                       uint32_t style) = 0;
};

// The process-wide instance: the operating system's unless a test replaced it.
MessageBoxes& Boxes();

using ScopedMessageBoxesOverride = ScopedOverride<MessageBoxes>;

}  // namespace korva::platform
