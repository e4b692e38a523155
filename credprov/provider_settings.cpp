#include "credprov/provider_settings.h"

#include <mutex>
#include <optional>

#include "credprov/tile_rules.h"
#include "directory/configuration.h"
#include "directory/ldap_backend.h"
#include "infra/log.h"
#include "infra/registry_connection.h"

namespace korva {
namespace {

// The value, or nothing when it cannot be read; a failed read is traced at `traceLevel`.
std::optional<uint32_t> ReadSwitch(const RegistryConnection& registry, const WChar* key, const WChar* name,
                                   uint32_t traceLevel) {
    uint32_t value = 0;
    const int32_t status = registry.ReadDword(key, name, &value);
    if (status != 0) {
        TraceLog(traceLevel, KW("Error getting registry key '%s' at '%s'. Errorcode %ld"), name, key, status);
        return std::nullopt;
    }
    return value;
}

}  // namespace

ProviderSettings ReadProviderSettings(const RegistryConnection& registry) {
    ProviderSettings settings;

    const uint32_t linkLocal = ReadSwitch(registry, kLinkLocalKey, kLinkSwitchValue, kTraceError).value_or(0);
    const uint32_t linkPolicy =
        ReadSwitch(registry, kWizardsPolicyKey, kLinkSwitchValue, kTraceWarning).value_or(1);
    if (ResetLinkSwitchedOn(linkLocal, linkPolicy)) {
        settings.enabledProducts |= kProductResetLink;
        TraceLog(kTraceInformation, KW("KORVA functionality enabled."));
    }

    const uint32_t enforcementLocal =
        ReadSwitch(registry, kEnforcementLocalKey, kEnforcementSwitchValue, kTraceError).value_or(0);
    const std::optional<uint32_t> enforcementPolicy =
        ReadSwitch(registry, kEnforcementPolicyKey, kEnforcementSwitchValue, kTraceWarning);
    if (EnforcementSwitchedOn(enforcementLocal, enforcementPolicy)) {
        settings.enabledProducts |= kProductEnforcement;
        TraceLog(kTraceInformation, KW("VLX functionality enabled."));
        ConfigureDiagnosticLogFromRegistry();
    }

    WString clsidText;
    const int32_t status = registry.ReadString(kWizardsPolicyKey, kWrapClsidValue, &clsidText);
    if (status != 0) {
        TraceLog(kTraceError, KW("Error getting registry key '%s' at '%s'. Errorcode %ld"), kWrapClsidValue,
                 kWizardsPolicyKey, status);
        clsidText.clear();
    }
    settings.wrappedClsidText = std::move(clsidText);
    return settings;
}

void ConfigureDirectoryOnce() {
    static std::once_flag once;
    try {
        std::call_once(once, [] {
            cGjLog log;
            log.AddHandler(&SharedFileHandler());
            RegisterLdapDirectoryBackends();
            if (ConfigureDirectoryFromRegistry(log) != 0) {
                TraceLog(kTraceError,
                         KW("The configured directory backend is not used; see the diagnostic log."));
            }
            if (log.Flush() != 0) {
                TraceLog(kTraceWarning, KW("The diagnostic log could not be written."));
            }
        });
    } catch (...) {
        // Out of memory or no threads: the platform's directory stays, as for a bad setting.
    }
}

}  // namespace korva
