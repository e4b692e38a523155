// The validation controller and the password rules window, as the credential core sees them.
//
// Every credential owns one PasswordFeedback: it tests the typed password while the user types (the results
// go to the rules window), it starts and closes that window with the tile, and at submit it decides whether
// the new password may pass to authentication. The core reaches nothing of the policy engine except through
// this interface.
//
// Until the controller and the window exist, the module's default accepts every password and shows nothing:
// the window is never visible, so the submit check never runs and every change goes straight to the wrapped
// credential. Tests install a recording fake with ScopedPasswordFeedbackFactory.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/text.h"

namespace korva {

class cGjLog;

// A window handle as the logon user interface hands it out (HWND on Windows); may be null.
using WindowHandle = void*;

class PasswordFeedback {
  public:
    virtual ~PasswordFeedback() = default;

    // At submit: shows the user every message itself (mismatch, failed rules) and sets *verdict to true only
    // when the password is proven good. The caller sets *verdict to false first and refuses the change unless
    // it comes back true. 0 or an error code; the decision rests on the verdict alone. `userName` may be null.
    [[nodiscard]] virtual int32_t ValidatePassword(cGjLog& log, WindowHandle parent, const WChar* domain,
                                                   const WChar* userName, const WChar* oldPassword,
                                                   const WChar* newPassword, const WChar* confirmation,
                                                   bool* verdict) = 0;
    // While the user types: tests the new password and posts the per-rule results to the rules window.
    // 0 or the last error met. `userName` may be null.
    [[nodiscard]] virtual int32_t PostRuleResults(cGjLog& log, const WChar* domain, const WChar* userName,
                                                  const WChar* oldPassword, const WChar* newPassword) = 0;
    // Starts the rules window's thread with `owner` as the owner window. 0, or an error (a window already
    // running is refused and stays open).
    [[nodiscard]] virtual int32_t StartRulesWindow(cGjLog& log, WindowHandle owner) = 0;
    // Closes the window and waits (bounded) for its thread. 0 or an error code; closing a window that was
    // never started is not an error.
    [[nodiscard]] virtual int32_t CloseRulesWindow() = 0;
    // True while the rules window is shown; the submit check runs only then.
    [[nodiscard]] virtual bool IsRulesWindowVisible() const = 0;
};

// A new feedback object for one credential, from the installed factory (the accepting default when none is
// installed). Null only when memory runs out; callers then behave as with the default.
std::unique_ptr<PasswordFeedback> CreatePasswordFeedback() noexcept;

// Makes CreatePasswordFeedback use `factory` until the guard is destroyed (tests, and the module once the real
// controller exists). Guards nest; each restores the factory it replaced.
class ScopedPasswordFeedbackFactory {
  public:
    using Factory = std::unique_ptr<PasswordFeedback> (*)(void* context);
    ScopedPasswordFeedbackFactory(Factory factory, void* context);
    ~ScopedPasswordFeedbackFactory();
    ScopedPasswordFeedbackFactory(const ScopedPasswordFeedbackFactory&) = delete;
    ScopedPasswordFeedbackFactory& operator=(const ScopedPasswordFeedbackFactory&) = delete;

  private:
    Factory previousFactory_;
    void* previousContext_;
};

}  // namespace korva
