// The rules that decide what a wrapped tile looks like and when this system's features apply to it: the field
// layouts of the wrapped credentials, which keystrokes refresh the password rules window, when the Reset
// Wizard link is shown, how the account and domain are read from the tile's texts, and the names packed at the
// start of a logon serialization. Plain functions over plain values, shared by the provider and its
// credentials.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/text.h"

namespace korva {

// EnabledProducts bits.
inline constexpr uint32_t kProductResetLink = 1;  // the "Forgot my password..." link
inline constexpr uint32_t kProductEnforcement =
    2;  // password-policy enforcement on the change-password screen

// Usage scenarios (CREDENTIAL_PROVIDER_USAGE_SCENARIO).
inline constexpr uint32_t kScenarioLogon = 1;
inline constexpr uint32_t kScenarioUnlockWorkstation = 2;
inline constexpr uint32_t kScenarioChangePassword = 3;
inline constexpr uint32_t kScenarioCredUi = 4;
inline constexpr uint32_t kScenarioPlap = 5;

// Field layouts of the wrapped credentials (Options), chosen by the wrapped provider's CLSID.
inline constexpr uint32_t kLayoutGeneric = 0;
inline constexpr uint32_t kLayoutDefaultProvider = 1;
inline constexpr uint32_t kLayoutPasswordProvider = 2;

// The logical fields the credential core reads, numbered as in the generic layout.
enum LogicalField : uint32_t {
    kFieldUserName = 2,
    kFieldOldPassword = 3,
    kFieldNewPassword = 4,
    kFieldConfirmation = 5,
    kFieldDomainText = 9,
};

// The wrapped field ID of a logical field in a layout; any other number, and any layout but 1 and 2, unchanged.
uint32_t TranslateFieldID(uint32_t options, uint32_t number);
// True for the wrapped IDs of the user name and the new password: the keystrokes that refresh the rules.
bool ShouldTestPassword(uint32_t options, uint32_t fieldId);
// True for the old, new and confirmation password fields of the layout.
bool IsLayoutPasswordField(uint32_t options, uint32_t fieldId);

// The link shows only with its feature bit set and on the logon, unlock and credential-dialog screens.
bool IsResetLinkActive(uint32_t enabledProducts, uint32_t cpus);
// A password box takes part in enforcement when it is shown (state not CPFS_HIDDEN) and not disabled
// (interactive state not CPFIS_DISABLED).
bool IsPasswordBoxActive(uint32_t fieldState, uint32_t interactiveState);

// The field count the logon user interface sees: the wrapped count, plus one for the link when it is active.
uint32_t FieldCountWithLink(uint32_t wrappedCount, bool linkActive);

// The two switches of each feature. The link needs the local switch on and the policy not 0; enforcement
// follows the local switch unless the policy says otherwise, and a policy of exactly 1 turns it on by itself.
bool ResetLinkSwitchedOn(uint32_t localValue, uint32_t policyValue);
bool EnforcementSwitchedOn(uint32_t localValue, std::optional<uint32_t> policyValue);

// The account and the domain as the controller needs them, derived from the user-name box and the domain text
// of a tile. An empty string stands for "none".
struct AccountAndDomain {
    WString account;
    WString domain;
};
// The domain is the domain text after its label (the first colon after other text), blanks trimmed; failing
// that, the user name's prefix before its first backslash. The account is the user name after its first
// backslash, or the whole name when nothing follows a backslash.
AccountAndDomain SplitUserAndDomain(const WChar* userText, const WChar* domainText);

// Reads the domain and user-name counted strings of the packed logon structure at the start of a
// serialization (KERB_INTERACTIVE_LOGON, also the head of the unlock and change-password requests). Returns
// false, with both names empty, when the buffer is too short for the header or a string lies outside it.
bool ReadLogonNames(const uint8_t* data, size_t size, WString* domain, WString* userName);

}  // namespace korva
