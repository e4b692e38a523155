// The system message seam's plumbing.
#include "platform/system_messages.h"

#include "platform/os_defaults.h"

namespace korva::platform {
SystemMessages& Messages() {
    SystemMessages* replacement = ScopedSystemMessagesOverride::Installed();
    return replacement != nullptr ? *replacement : os::DefaultSystemMessages();
}

}  // namespace korva::platform
