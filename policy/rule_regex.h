// CRuleRegex: a password rule that searches the new password for a regular expression, read either as a
// requirement (the password is valid when the expression occurs) or as a prohibition (invalid when it
// occurs).
//
// One class serves three rules the administrator sees as different: a plain expression (kind 0), "Repeating
// characters" (kind 1) and "Character requirements" (kind 2). The kind changes only the display name, the
// built-in defaults and the verdict on an empty password.
#pragma once

#include <cstdint>
#include <memory>

#include "policy/rule_base.h"

namespace korva {

enum RegexKind : int32_t {
    kRegexPlain = 0,
    kRegexRepeatingCharacters = 1,
    kRegexCharacterRequirements = 2,
};

// The built-in "Repeating characters" rule forbids runs longer than this.
constexpr int32_t kRepeatRunLimit = 2;

class CRuleRegex : public CRuleBase {
  public:
    static constexpr int32_t kType = 5;

    CRuleRegex() = default;
    CRuleRegex(const DescriptionMap& descriptions, int32_t kind, WStringView expression, WStringView data,
               bool expressionValidatesPassword);
    ~CRuleRegex() override = default;

    std::unique_ptr<CRuleBase> Clone() const override;
    // Only `newPassword` is used. An empty or missing expression accepts every password. An expression that
    // cannot be evaluated returns -1 with *valid false.
    int32_t Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword, const WChar* reserved,
                 const WChar* oldPassword) override;
    int32_t GetType() const override { return kType; }
    // "Repeating characters" and "Character requirements" for kinds 1 and 2.
    const WChar* GetDisplayName() const override;
    RuleSettings DescribeSettings() const override;
    // Children "Regex" (attribute "Type" required: the kind), "Data", "ExpressionValidatesPassword", then the
    // shared "Enabled" and "Description".
    int32_t LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) override;

    int32_t GetKind() const { return kind_; }
    // Null when there is none.
    const WChar* GetExpression() const { return expression_.empty() ? nullptr : expression_.c_str(); }
    const WChar* GetData() const { return data_.empty() ? nullptr : data_.c_str(); }
    bool GetExpressionValidatesPassword() const { return expressionValidatesPassword_; }

  private:
    int32_t kind_ = kRegexPlain;
    WString expression_;
    WString data_;  // kept with the rule (for kind 1 the run limit as text); takes no part in the test
    bool expressionValidatesPassword_ = false;
};

// The built-in descriptions of a regular-expression rule of `kind` (kind 1's texts with the run limit filled
// in).
DescriptionMap BuiltInRegexDescriptions(int32_t kind);

}  // namespace korva
