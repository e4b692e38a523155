// The similarity rules: a new password is refused when it is too close to the old password
// (CRulePasswordSimilarity) or to the user's names (CRuleNameSimilarity: first, last, full and account name
// from the directory, and the logon name from the user principal name). "Too close" means the mutual
// similarity (policy/similarity.h) reaches the configured ratio in both directions.
#pragma once

#include <cstdint>
#include <memory>

#include "policy/rule_base.h"

namespace korva {

// The ratio a comparison uses when its element does not give one, or gives one that cannot be read.
constexpr float kDefaultSimilarityRatio = 0.8f;

// Decimal ratio text: non-empty, first character "-" or a digit, every other character a digit or ".", at
// most one "." ("-" alone is 0). On success *value is the number (as the nearest float; beyond the float
// range, the largest float of that sign) and true is returned; otherwise *value is 0 and false.
bool StringToFloat(const WChar* text, float* value);

// Reads one ratio child ("PasswordRatio", "UsernameRatio", "FullnameRatio"): attribute "Enabled" (required,
// strict integer, >= 1 enables) into *flag, the text into *ratio. 0, -11 (no "Enabled") or the DOM's HRESULT.
int32_t LoadRatioElement(cGjLog& log, const xml::Node& element, float* ratio, bool* flag);

class CRulePasswordSimilarity : public CRuleBase {
  public:
    static constexpr int32_t kType = 7;

    CRulePasswordSimilarity() = default;
    CRulePasswordSimilarity(const DescriptionMap& descriptions, bool checkPassword)
        : CRuleBase(descriptions), checkPassword_(checkPassword) {}

    std::unique_ptr<CRuleBase> Clone() const override;
    // Compares `newPassword` with `oldPassword` (case counts). Always 0; a null old password passes.
    int32_t Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword, const WChar* reserved,
                 const WChar* oldPassword) override;
    int32_t GetType() const override { return kType; }
    RuleSettings DescribeSettings() const override {
        return {RuleSetting::Bool("checkPassword", checkPassword_),
                RuleSetting::Float("passwordRatio", passwordRatio_)};
    }
    // Child "PasswordRatio", then the shared children.
    int32_t LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) override;

    bool GetCheckPassword() const { return checkPassword_; }
    float GetPasswordRatio() const { return passwordRatio_; }

  private:
    bool checkPassword_ = false;
    float passwordRatio_ = kDefaultSimilarityRatio;
};

class CRuleNameSimilarity : public CRuleBase {
  public:
    static constexpr int32_t kType = 6;

    CRuleNameSimilarity() = default;
    CRuleNameSimilarity(const DescriptionMap& descriptions, bool checkUsername, bool checkFullname)
        : CRuleBase(descriptions), checkUsername_(checkUsername), checkFullname_(checkFullname) {}

    std::unique_ptr<CRuleBase> Clone() const override;
    // Compares `newPassword` with the user's names (case ignored) and logon name (case counts). Always 0;
    // names the directory cannot supply let the password pass. A non-null `reserved` compares the logon name
    // even after the names already refused the password.
    int32_t Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword, const WChar* reserved,
                 const WChar* oldPassword) override;
    int32_t GetType() const override { return kType; }
    RuleSettings DescribeSettings() const override {
        return {RuleSetting::Bool("checkUsername", checkUsername_),
                RuleSetting::Bool("checkFullname", checkFullname_),
                RuleSetting::Float("usernameRatio", usernameRatio_),
                RuleSetting::Float("fullnameRatio", fullnameRatio_)};
    }
    // Children "UsernameRatio" and "FullnameRatio", then the shared children.
    int32_t LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) override;

    bool GetCheckUsername() const { return checkUsername_; }
    bool GetCheckFullname() const { return checkFullname_; }
    float GetUsernameRatio() const { return usernameRatio_; }
    float GetFullnameRatio() const { return fullnameRatio_; }

  private:
    bool checkUsername_ = false;
    bool checkFullname_ = false;
    float usernameRatio_ = kDefaultSimilarityRatio;
    float fullnameRatio_ = kDefaultSimilarityRatio;
};

// The names a name-similarity rule compares; an empty text is a missing name.
struct UserNames {
    WString logonName;
    WString firstName;
    WString lastName;
    WString fullName;
    WString accountName;
};

// Gathers the names `rule` compares: the directory's names when it checks full names, the logon name (the
// user principal name before its "@") when it checks the user name. 0, -7 (the user object could not be
// bound; the logon name is still filled) or the name translation's code.
int32_t GetUserNames(cGjLog& log, const CRuleNameSimilarity& rule, const CScope* userScope, UserNames* names);

// The built-in descriptions of the two rules.
DescriptionMap BuiltInPasswordSimilarityDescriptions();
DescriptionMap BuiltInNameSimilarityDescriptions();

}  // namespace korva
