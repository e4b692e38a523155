// The provider's configuration from HKEY_LOCAL_MACHINE: which features are enabled and which provider it
// wraps. Read once, when the provider is created.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace korva {

class RegistryConnection;

inline constexpr const WChar* kLinkLocalKey = KW("SOFTWARE\\Quillmarsh\\KORVA\\GINA");
inline constexpr const WChar* kWizardsPolicyKey = KW("SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards");
inline constexpr const WChar* kEnforcementLocalKey =
    KW("Software\\Quillmarsh\\Valexor\\VLX Credential Provider");
inline constexpr const WChar* kEnforcementPolicyKey = KW("Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina");
inline constexpr const WChar* kLinkSwitchValue = KW("GINAEnabled");
inline constexpr const WChar* kEnforcementSwitchValue = KW("GinaEnabled");
inline constexpr const WChar* kWrapClsidValue = KW("WrapCredProvCLSID");

struct ProviderSettings {
    uint32_t enabledProducts = 0;
    // The CLSID text of the provider to wrap as stored; empty when absent, empty or unreadable.
    WString wrappedClsidText;
};

// Reads both feature switches and the wrapped provider's CLSID through `registry` (connected to
// HKEY_LOCAL_MACHINE), tracing every value that cannot be read; with enforcement on, also configures the
// diagnostic file log. Never fails: each unreadable value takes its default.
ProviderSettings ReadProviderSettings(const RegistryConnection& registry);

// Installs the directory backend chosen under the directory settings key (the LDAP and snapshot backends
// are offered too), once per process; later calls do nothing. Reads the registry and at most a snapshot or
// password file, never the network. Failures go to the diagnostic log and leave the platform's directory.
void ConfigureDirectoryOnce();

}  // namespace korva
