#include "platform/message_box.h"

namespace korva::platform {
namespace os {
MessageBoxes& DefaultMessageBoxes();
}  // namespace os

MessageBoxes& Boxes() {
    MessageBoxes* replacement = ScopedMessageBoxesOverride::Installed();
    return replacement != nullptr ? *replacement : os::DefaultMessageBoxes();
}

}  // namespace korva::platform
