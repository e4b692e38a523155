// cGbCredentialProviderCredential: the part of every credential adapter that carries this system's own
// behaviour, whatever version of the credential interface the adapter exposes. It maps logical fields to the
// wrapped layout, decides whether password-policy enforcement applies to the tile, tests the password as the
// user types and again at submit (through the credential's PasswordFeedback), opens and closes the rules
// window with the tile, and starts the Reset Wizard when the link is clicked.
//
// The adapter calls these operations passing itself as the credential, so every field read made here goes
// through the adapter to the wrapped credential.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "credprov/credential_provider_abi.h"
#include "feedback/password_feedback.h"
#include "platform/text.h"

namespace korva {

// The field layout (Options) of the credentials of the provider with this CLSID.
uint32_t LayoutForProvider(const com::CLSID& clsid);

class cGbCredentialProviderCredential {
  public:
    cGbCredentialProviderCredential();
    virtual ~cGbCredentialProviderCredential();
    cGbCredentialProviderCredential(const cGbCredentialProviderCredential&) = delete;
    cGbCredentialProviderCredential& operator=(const cGbCredentialProviderCredential&) = delete;

    // Stores the wrapped field count, the scenario, the feature bits and the layout. Returns 0.
    [[nodiscard]] int32_t Initialize(uint32_t wrappedDescriptorCount, uint32_t cpus, uint32_t enabledProducts,
                                     uint32_t options);
    // Which wrapped fields hold text that may be traced: true at a field's index when the wrapped provider
    // described it and not as a password box. Every other field (unknown, password, the layout's three
    // password boxes) is traced as "(hidden)".
    void SetTraceableFields(std::vector<bool> traceable);
    [[nodiscard]] bool IsSecretField(uint32_t fieldId) const;
    // The text a trace line shows for the value of `fieldId`.
    [[nodiscard]] const WChar* TraceableText(uint32_t fieldId, const WChar* text) const;

    [[nodiscard]] bool IsResetLinkActive() const;
    [[nodiscard]] uint32_t TranslateFieldID(uint32_t options, uint32_t number) const;
    [[nodiscard]] bool ShouldTestPassword(uint32_t options, uint32_t fieldId) const;
    [[nodiscard]] bool IsVlxActive(com::ICredentialProviderCredential* credential) const;
    // The domain and user name of the tile's serialization (empty when absent). The credential's
    // GetSerialization result.
    [[nodiscard]] com::HRESULT GetUserCredentials(com::ICredentialProviderCredential* credential,
                                                  WString* domain, WString* userName) const;
    // 0 to pass the password on, or 1325 to refuse it (the password boxes are then emptied through `events`).
    [[nodiscard]] int32_t VLXCheckPassword(com::ICredentialProviderCredential* credential,
                                           com::ICredentialProviderCredentialEvents* events,
                                           const WChar* domainText, const WChar* userText,
                                           const WChar* oldPassword, const WChar* newPassword,
                                           const WChar* confirmation);
    // Reads the tile and posts the rule results to the rules window. 0, or the error of the test.
    [[nodiscard]] int32_t VLXTestPassword(com::ICredentialProviderCredential* credential);
    // Starts the Reset Wizard for the tile's user and returns when it has ended; failures show a box.
    void OnBtnForgotMyPassword(com::ICredentialProviderCredential* credential);
    void DestroyPasswordRuleWindow();

    // Hooks the adapter runs around the wrapped credential's methods.
    void SetOwnerWindow(com::HWND owner) { ownerWindow_ = owner; }
    // After SetSelected: opens the rules window and fills it when enforcement applies to the tile.
    void OnSelected(com::ICredentialProviderCredential* credential,
                    com::ICredentialProviderCredentialEvents* logonEvents);
    // After SetStringValue: refreshes the rules on a change of the user name or the new password.
    void OnStringChanged(com::ICredentialProviderCredential* credential, uint32_t fieldId);
    // Before GetSerialization: S_OK to ask the wrapped credential, otherwise the result GetSerialization
    // returns without asking it (a field's read error, or 1325 for a refused password).
    [[nodiscard]] com::HRESULT CheckBeforeSubmit(com::ICredentialProviderCredential* credential,
                                                 com::ICredentialProviderCredentialEvents* events);

  protected:
    [[nodiscard]] uint32_t WrappedDescriptorCount() const { return wrappedDescriptorCount_; }
    [[nodiscard]] uint32_t Options() const { return options_; }
    [[nodiscard]] uint32_t EnabledProducts() const { return enabledProducts_; }

  private:
    uint32_t wrappedDescriptorCount_ = 0;
    uint32_t enabledProducts_ = 0;
    uint32_t cpus_ = 0;
    uint32_t options_ = 0;
    com::HWND ownerWindow_ = nullptr;
    std::unique_ptr<PasswordFeedback> rules_;
    std::vector<bool> traceable_;
};

}  // namespace korva
