#include "feedback/password_feedback.h"

#include <new>

namespace korva {
namespace {

// Accepts every password and shows nothing: no window is ever visible, so the credential core never runs its
// submit check and never waits for a window thread.
class AcceptingPasswordFeedback final : public PasswordFeedback {
  public:
    int32_t ValidatePassword(cGjLog&, WindowHandle, const WChar*, const WChar*, const WChar*, const WChar*,
                             const WChar*, bool* verdict) override {
        if (verdict != nullptr) {
            *verdict = true;
        }
        return 0;
    }
    int32_t PostRuleResults(cGjLog&, const WChar*, const WChar*, const WChar*, const WChar*) override {
        return 0;
    }
    int32_t StartRulesWindow(cGjLog&, WindowHandle) override { return 0; }
    int32_t CloseRulesWindow() override { return 0; }
    bool IsRulesWindowVisible() const override { return false; }
};

std::unique_ptr<PasswordFeedback> CreateAccepting(void*) {
    return std::unique_ptr<PasswordFeedback>(new (std::nothrow) AcceptingPasswordFeedback());
}

struct FactorySlot {
    ScopedPasswordFeedbackFactory::Factory factory = &CreateAccepting;
    void* context = nullptr;
};

FactorySlot& Slot() {
    static FactorySlot slot;
    return slot;
}

}  // namespace

std::unique_ptr<PasswordFeedback> CreatePasswordFeedback() noexcept {
    try {
        const FactorySlot& slot = Slot();
        return slot.factory(slot.context);
    } catch (...) {
        return nullptr;
    }
}

ScopedPasswordFeedbackFactory::ScopedPasswordFeedbackFactory(Factory factory, void* context)
    : previousFactory_(Slot().factory), previousContext_(Slot().context) {
    Slot().factory = (factory != nullptr) ? factory : &CreateAccepting;
    Slot().context = context;
}

ScopedPasswordFeedbackFactory::~ScopedPasswordFeedbackFactory() {
    Slot().factory = previousFactory_;
    Slot().context = previousContext_;
}

}  // namespace korva
