#include "credprov/reset_wizard_hook.h"

#include "infra/registry_connection.h"
#include "platform/result_codes.h"

namespace korva {
namespace {

class UnwiredResetWizard final : public ResetWizardHook {
  public:
    int32_t GetResetWizardLocation(WString* path) override {
        path->clear();
        RegistryConnection registry;
        const int32_t status = registry.Connect(nullptr, platform::kHkeyLocalMachine);
        if (status != 0) {
            return status;
        }
        if (registry.ReadString(kResetWizardKey, kResetWizardLocationValue, path) != 0) {
            path->clear();  // a missing location is found out when the start fails
        }
        return 0;
    }
    int32_t StartResetWizard(const WChar*, const WChar*, const WChar*) override {
        return winerr::kCallNotImplemented;
    }
    void ShowErrorBox(const WChar*, const WChar*) override {}
};

ResetWizardHook*& Current() {
    static UnwiredResetWizard unwired;
    static ResetWizardHook* current = &unwired;
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
