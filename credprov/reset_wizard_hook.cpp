#include "credprov/reset_wizard_hook.h"

#include "credprov/reset_wizard.h"

namespace korva {
namespace {

class SystemResetWizard final : public ResetWizardHook {
  public:
    int32_t GetResetWizardLocation(WString* path) override { return korva::GetResetWizardLocation(path); }
    int32_t StartResetWizard(const WChar* path, const WChar* domain, const WChar* userName) override {
        return korva::StartResetWizard(path, domain, userName);
    }
};

ResetWizardHook*& Current() {
    static SystemResetWizard system;
    static ResetWizardHook* current = &system;
    return current;
}

}  // namespace

ResetWizardHook& ResetWizard() {
    return *Current();
}

ScopedResetWizardOverride::ScopedResetWizardOverride(ResetWizardHook* replacement) : previous_(Current()) {
    Current() = replacement;
}

ScopedResetWizardOverride::~ScopedResetWizardOverride() {
    Current() = previous_;
}

}  // namespace korva
