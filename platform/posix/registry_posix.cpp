// Linux has no registry: the process-wide registry is a MemoryRegistry, filled from the regedit-format file
// named by KORVA_REGISTRY_FILE when that variable is set.
#include <cstdlib>

#include "platform/memory_registry.h"
#include "platform/os_defaults.h"
#include "platform/result_codes.h"

namespace korva::platform {
namespace {

const char* RegistryFileVariable() {
    const char* path = std::getenv("KORVA_REGISTRY_FILE");
    return path != nullptr && path[0] != 0 ? path : nullptr;
}

MemoryRegistry& ProcessRegistry() {
    // Never destroyed: other static objects may still read settings while the process ends.
    static MemoryRegistry* const registry = [] {
        auto* created = new MemoryRegistry();
        if (const char* path = RegistryFileVariable()) {
            // An unreadable or malformed file leaves the registry empty; the caller then sees its defaults.
            (void)created->LoadRegFile(Utf8ToUtf16(path).c_str());
        }
        return created;
    }();
    return *registry;
}

}  // namespace

namespace os {

Registry& DefaultRegistry() {
    return ProcessRegistry();
}

}  // namespace os

int32_t SaveProcessRegistry() {
    const char* path = RegistryFileVariable();
    if (path == nullptr) {
        return winerr::kFileNotFound;
    }
    return ProcessRegistry().SaveRegFile(Utf8ToUtf16(path).c_str());
}

}  // namespace korva::platform
