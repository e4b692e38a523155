#include "credprov/reset_wizard.h"

#include <new>

#include "infra/registry_connection.h"
#include "platform/format.h"
#include "platform/process.h"
#include "platform/result_codes.h"

namespace korva {

int32_t GetResetWizardLocation(WString* path) {
    path->clear();
    RegistryConnection registry;
    const int32_t connected = registry.Connect(nullptr, platform::kHkeyLocalMachine);
    if (connected != 0) {
        return connected;
    }
    // A value that cannot be read leaves no path; the start then fails and says so.
    if (registry.ReadString(kResetWizardKey, kResetWizardLocationValue, path) != 0) {
        path->clear();
    }
    return 0;
}

WString BuildResetWizardCommandLine(const WChar* path, const WChar* domain, const WChar* userName) {
    const WChar* const empty = KW("");
    return Format(KW("\"%s\" \"%s\" \"%s\""), path != nullptr ? path : empty,
                  domain != nullptr ? domain : empty, userName != nullptr ? userName : empty);
}

int32_t StartResetWizard(const WChar* path, const WChar* domain, const WChar* userName) {
    if (path == nullptr || path[0] == 0) {
        return winerr::kFileNotFound;
    }
    try {
        const WString commandLine = BuildResetWizardCommandLine(path, domain, userName);
        return platform::Procs().RunAndWait(path, commandLine.c_str(), kWinlogonDesktop,
                                            platform::kWaitForever);
    } catch (const std::bad_alloc&) {
        return winerr::kNotEnoughMemory;
    }
}

}  // namespace korva
