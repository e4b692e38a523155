// Starting the Reset Wizard: where its program is configured, the command line it gets, and the start on the
// Winlogon desktop, waiting until the wizard has ended.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace korva {

inline constexpr const WChar* kResetWizardKey = KW("SOFTWARE\\Quillmarsh\\KORVA\\Reset Wizard");
inline constexpr const WChar* kResetWizardLocationValue = KW("Reset Wizard Location");
inline constexpr const WChar* kWinlogonDesktop = KW("WinSta0\\Winlogon");

// The wizard's path from "Reset Wizard Location" (HKEY_LOCAL_MACHINE; REG_SZ or REG_EXPAND_SZ, unexpanded) in
// *path, empty when the value is missing or unreadable. 0, or the Windows error of opening the registry.
[[nodiscard]] int32_t GetResetWizardLocation(WString* path);

// "path" "domain" "user", each quoted and separated by single blanks; a missing (null) domain or user name
// is the empty text. Quotes inside the values are not escaped.
WString BuildResetWizardCommandLine(const WChar* path, const WChar* domain, const WChar* userName);

// Starts the wizard on "WinSta0\Winlogon" and waits, without a time limit, until it ends: the user works in
// it while the tile waits. 0 when it ran (whatever its exit code); ERROR_FILE_NOT_FOUND when no path is
// configured; otherwise the Windows error of starting it.
[[nodiscard]] int32_t StartResetWizard(const WChar* path, const WChar* domain, const WChar* userName);

}  // namespace korva
