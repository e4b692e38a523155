// Entry point of the Linux build of the module (libkorvacredprov.so): the same lifetime as the Windows DLL's
// entry point, with the image's load address standing in for the module handle.
#include <dlfcn.h>

#include "infra/startup.h"

namespace {

// Any object inside the image will do for asking the loader where the image starts.
const char kImageAnchor = 0;

void* ImageBase() {
    Dl_info info{};
    return dladdr(&kImageAnchor, &info) != 0 ? info.dli_fbase : nullptr;
}

// A static object rather than constructor/destructor functions: the process-wide instances are function-local
// statics created during StartProcessInstances, so they are registered for destruction before this object and
// are destroyed after it, both on dlclose and at process exit. A destructor function would run at exit only
// after those statics are gone.
class ModuleLifetime {
  public:
    ModuleLifetime() { korva::StartProcessInstances(ImageBase()); }
    ~ModuleLifetime() { korva::StopProcessInstances(); }
    ModuleLifetime(const ModuleLifetime&) = delete;
    ModuleLifetime& operator=(const ModuleLifetime&) = delete;
};

const ModuleLifetime kModuleLifetime;

}  // namespace
