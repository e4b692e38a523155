// The library's module handle, stored once by the entry point and read wherever resources are loaded.
#include "platform/module.h"

#include <atomic>

namespace korva::platform {
namespace {

std::atomic<void*> g_module{nullptr};

}  // namespace

void SetModuleHandle(void* module) {
    g_module.store(module);
}

void* GetModuleHandle() {
    return g_module.load();
}

#if defined(_WIN32)
void* GetModuleHandleW() {
    return g_module.load();
}
#endif

}  // namespace korva::platform
