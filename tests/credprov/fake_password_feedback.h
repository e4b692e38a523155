// A stateful stand-in for the validation controller and the rules window: it records every call with copies
// of its texts, simulates the window (visible from a successful start until closed) and can be told what to
// answer. Install it for a test with the Install guard; every feedback object the credentials create then
// reports into the same shared Journal.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "feedback/password_feedback.h"
#include "platform/text.h"

namespace korva::testing {

struct FeedbackCall {
    enum class Kind { Validate, PostResults, Start, Close } kind;
    WindowHandle window = nullptr;  // parent (Validate) or owner (Start)
    std::optional<WString> domain;
    std::optional<WString> userName;
    std::optional<WString> oldPassword;
    std::optional<WString> newPassword;
    std::optional<WString> confirmation;
};

// What every feedback object answers, and what they all did.
struct FeedbackJournal {
    bool verdict = true;         // the verdict ValidatePassword leaves
    int32_t validateResult = 0;  // its result
    int32_t postResult = 0;      // PostRuleResults' result
    int32_t startResult = 0;     // StartRulesWindow's result; non-zero leaves the window hidden
    int32_t closeResult = 0;     // CloseRulesWindow's result
    bool createFails = false;    // the factory hands out nothing

    std::vector<FeedbackCall> calls;
    int created = 0;
    int destroyed = 0;

    size_t Count(FeedbackCall::Kind kind) const {
        size_t n = 0;
        for (const FeedbackCall& call : calls) {
            n += call.kind == kind ? 1 : 0;
        }
        return n;
    }
};

class FakePasswordFeedback final : public PasswordFeedback {
  public:
    explicit FakePasswordFeedback(FeedbackJournal& journal) : journal_(journal) { ++journal_.created; }
    ~FakePasswordFeedback() override { ++journal_.destroyed; }

    int32_t ValidatePassword(cGjLog&, WindowHandle parent, const WChar* domain, const WChar* userName,
                             const WChar* oldPassword, const WChar* newPassword, const WChar* confirmation,
                             bool* verdict) override {
        journal_.calls.push_back({FeedbackCall::Kind::Validate, parent, Copy(domain), Copy(userName),
                                  Copy(oldPassword), Copy(newPassword), Copy(confirmation)});
        *verdict = journal_.verdict;
        return journal_.validateResult;
    }
    int32_t PostRuleResults(cGjLog&, const WChar* domain, const WChar* userName, const WChar* oldPassword,
                            const WChar* newPassword) override {
        journal_.calls.push_back({FeedbackCall::Kind::PostResults, nullptr, Copy(domain), Copy(userName),
                                  Copy(oldPassword), Copy(newPassword), std::nullopt});
        return journal_.postResult;
    }
    int32_t StartRulesWindow(cGjLog&, WindowHandle owner) override {
        journal_.calls.push_back({FeedbackCall::Kind::Start, owner, {}, {}, {}, {}, {}});
        if (journal_.startResult == 0) {
            visible_ = true;
        }
        return journal_.startResult;
    }
    int32_t CloseRulesWindow() override {
        journal_.calls.push_back({FeedbackCall::Kind::Close, nullptr, {}, {}, {}, {}, {}});
        visible_ = false;
        return journal_.closeResult;
    }
    bool IsRulesWindowVisible() const override { return visible_; }

    // Installs a factory that makes fakes reporting into `journal` until the guard is destroyed.
    class Install {
      public:
        explicit Install(FeedbackJournal& journal) : guard_(&Make, &journal) {}

      private:
        static std::unique_ptr<PasswordFeedback> Make(void* context) {
            auto* journal = static_cast<FeedbackJournal*>(context);
            if (journal->createFails) {
                return nullptr;
            }
            return std::make_unique<FakePasswordFeedback>(*journal);
        }
        ScopedPasswordFeedbackFactory guard_;
    };

  private:
    static std::optional<WString> Copy(const WChar* text) {
        return text != nullptr ? std::optional<WString>(text) : std::nullopt;
    }
    FeedbackJournal& journal_;
    bool visible_ = false;
};

}  // namespace korva::testing
