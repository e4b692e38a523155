// The registry seam's plumbing.
#include "platform/registry.h"

#include <atomic>

#include "platform/os_defaults.h"

namespace korva::platform {
namespace {

std::atomic<Registry*> g_registryOverride{nullptr};

}  // namespace

Registry& Reg() {
    Registry* replacement = g_registryOverride.load();
    return replacement != nullptr ? *replacement : os::DefaultRegistry();
}

void RegKeyClosePolicy::Close(RegKey key) noexcept {
    // A key that will not close has no one to be reported to here; the registry keeps it until the process
    // ends, as Windows would.
    if (Reg().CloseKey(key) != 0) {
        return;
    }
}

ScopedRegistryOverride::ScopedRegistryOverride(Registry* replacement)
    : previous_(g_registryOverride.exchange(replacement)) {}

ScopedRegistryOverride::~ScopedRegistryOverride() {
    g_registryOverride.store(previous_);
}

}  // namespace korva::platform
