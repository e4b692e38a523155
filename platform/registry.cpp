// The registry seam's plumbing.
#include "platform/registry.h"

#include "platform/os_defaults.h"

namespace korva::platform {
Registry& Reg() {
    Registry* replacement = ScopedRegistryOverride::Installed();
    return replacement != nullptr ? *replacement : os::DefaultRegistry();
}

void RegKeyClosePolicy::Close(RegKey key) noexcept {
    // A key that will not close has no one to be reported to here; the registry keeps it until the process
    // ends, as Windows would.
    if (Reg().CloseKey(key) != 0) {
        return;
    }
}

}  // namespace korva::platform
