// CPolicy: one named password policy. A configuration word (bit 0 switches the policy off), the rules in
// document order and the scopes that say to whom the policy applies.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/text.h"
#include "policy/rule_base.h"

namespace korva {

class CScope;

class CPolicy {
  public:
    // A new policy holds the default rule set: minimum and maximum length, minimum age, repeating characters,
    // character requirements, name and password similarity, a plain regular expression and a blacklist, every
    // rule disabled and described in the built-in languages. LoadFromXML discards them.
    CPolicy();
    // A policy that is about to read its element: LoadFromXML would discard the default rule set at once, so
    // it is not built (the policy list loads hundreds of policies from one document).
    struct ForLoading {};
    explicit CPolicy(ForLoading);
    virtual ~CPolicy();
    CPolicy(const CPolicy&) = delete;
    CPolicy& operator=(const CPolicy&) = delete;

    // Reads a policy element: attribute "name" (required) and the children "Configuration", "Rule" and
    // "Scope". 0, -11, -12, a rule's or scope's result, or the DOM's HRESULT. `version` is the document's
    // version text.
    int32_t LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version);

    bool IsEnabled() const { return (configuration_ & 1u) == 0; }

    // *applies is true when one of the scopes covers `userScope`. Returns the status of the last scope
    // operation.
    int32_t AppliesTo(cGjLog& log, CScope& userScope, bool* applies);

    // Tests every enabled rule in order. *verdict is the conjunction of the verdicts of the rules tested;
    // `results` (optional) receives one entry per tested rule; `feedbackText` (optional) receives "\r\n" and
    // one line " - <description>\r\n" per rejecting rule. A rule that cannot be evaluated ends the test with
    // its error code; the rules after it do not count.
    int32_t TestPassword(cGjLog& log, bool* verdict, CScope* userScope, const WChar* newPassword,
                         const WChar* oldPassword, WString* feedbackText, std::vector<bool>* results,
                         uint32_t language);

    // One description per enabled rule, in order (English fallback; empty when the rule has neither).
    int32_t GetRuleDescriptions(cGjLog& log, std::vector<WString>* descriptions, uint32_t language);

    // Null when the policy has no name.
    const WChar* GetName() const { return name_.empty() ? nullptr : name_.c_str(); }
    uint32_t GetConfiguration() const { return configuration_; }
    const RuleList& GetRules() const { return rules_; }
    const std::vector<std::unique_ptr<CScope>>& GetScopes() const { return scopes_; }

    // For callers that build policies without XML (and tests).
    RuleList& Rules() { return rules_; }
    void AddScope(std::unique_ptr<CScope> scope);
    void SetConfiguration(uint32_t configuration) { configuration_ = configuration; }
    void SetName(WStringView name) { name_ = WString(name); }

  private:
    uint32_t configuration_ = 0;
    WString name_;
    RuleList rules_;
    std::vector<std::unique_ptr<CScope>> scopes_;
};

}  // namespace korva
