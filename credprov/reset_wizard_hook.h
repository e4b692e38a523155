// What the "Forgot my password..." link needs from outside the credential: where the Reset Wizard is
// installed, and starting it on the Winlogon desktop and waiting for its end. Tests install a fake; the
// module installs the real launcher.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace korva {

class ResetWizardHook {
  public:
    virtual ~ResetWizardHook() = default;
    // 0 with *path the executable (empty when the value is missing), or the error of opening the registry.
    [[nodiscard]] virtual int32_t GetResetWizardLocation(WString* path) = 0;
    // Starts the wizard with the domain and user name (either may be null) and returns when it has ended:
    // 0 when it ran, otherwise the error of starting it (also when `path` is empty).
    [[nodiscard]] virtual int32_t StartResetWizard(const WChar* path, const WChar* domain,
                                                   const WChar* userName) = 0;
};

// The process-wide hook: the registry location and the launcher of credprov/reset_wizard.h.
ResetWizardHook& ResetWizard();

class ScopedResetWizardOverride {
  public:
    explicit ScopedResetWizardOverride(ResetWizardHook* replacement);
    ~ScopedResetWizardOverride();
    ScopedResetWizardOverride(const ScopedResetWizardOverride&) = delete;
    ScopedResetWizardOverride& operator=(const ScopedResetWizardOverride&) = delete;

  private:
    ResetWizardHook* previous_;
};

}  // namespace korva
