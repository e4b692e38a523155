#include "infra/startup.h"

#include "infra/locale.h"
#include "infra/log.h"
#include "platform/module.h"

namespace korva {

// Both run inside the loader's lock on Windows: no thread is started, nothing is read from disk or registry,
// and nothing escapes. The handler and the settings are function-local statics that outlive these calls; the
// locale collection is created here and destroyed on unload.

void StartProcessInstances(void* module) {
    platform::SetModuleHandle(module);
    try {
        SharedFileHandler();
        TraceSettings();
        LocaleTexts();
    } catch (...) {
        // Out of memory at load: each accessor creates its instance again on first use.
    }
}

void StopProcessInstances() {
    try {
        // Records nobody flushed are dropped unwritten: writing a file while the library unloads is not safe.
        SharedFileHandler().ResetToDefaults();
        TraceSettings() = TraceLogSettings{};
        DestroyLocaleTexts();
    } catch (...) {
        // Nothing may leave the unload path.
    }
}

}  // namespace korva
