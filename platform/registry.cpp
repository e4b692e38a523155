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

ScopedRegistryOverride::ScopedRegistryOverride(Registry* replacement)
    : previous_(g_registryOverride.exchange(replacement)) {}

ScopedRegistryOverride::~ScopedRegistryOverride() {
    g_registryOverride.store(previous_);
}

}  // namespace korva::platform
