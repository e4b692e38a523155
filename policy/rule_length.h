// The length rules: CRuleLengthMinimum (type 2) rejects a password shorter than its minimum,
// CRuleLengthMaximum (type 3) one longer than its maximum. Both limits are inclusive; length counts UTF-16
// code units, so a character outside the Basic Multilingual Plane counts as two.
#pragma once

#include "policy/rule_base.h"

namespace korva {

class CRuleLengthMinimum : public CRuleBase {
  public:
    static constexpr int32_t kDefaultMinimum = 6;

    CRuleLengthMinimum() = default;
    // A built-in rule: disabled, with the given descriptions.
    CRuleLengthMinimum(const DescriptionMap& descriptions, int32_t minimum)
        : CRuleBase(descriptions), minimum_(minimum) {}

    std::unique_ptr<CRuleBase> Clone() const override;
    int32_t Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword, const WChar* reserved,
                 const WChar* oldPassword) override;
    int32_t GetType() const override { return 2; }
    // Reads "MinimumLength" (6 when absent or not a number), then the shared children.
    int32_t LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) override;

    int32_t GetMinimum() const { return minimum_; }

  private:
    int32_t minimum_ = kDefaultMinimum;
};

class CRuleLengthMaximum : public CRuleBase {
  public:
    static constexpr int32_t kDefaultMaximum = 18;

    CRuleLengthMaximum() = default;
    CRuleLengthMaximum(const DescriptionMap& descriptions, int32_t maximum)
        : CRuleBase(descriptions), maximum_(maximum) {}

    std::unique_ptr<CRuleBase> Clone() const override;
    int32_t Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword, const WChar* reserved,
                 const WChar* oldPassword) override;
    int32_t GetType() const override { return 3; }
    // Reads "MaximumLength" (18 when absent or not a number), then the shared children.
    int32_t LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) override;

    int32_t GetMaximum() const { return maximum_; }

  private:
    int32_t maximum_ = kDefaultMaximum;
};

// The built-in descriptions of the default rules: each language's template with the limit filled in.
DescriptionMap MinimumLengthDescriptions(int32_t minimum);
DescriptionMap MaximumLengthDescriptions(int32_t maximum);

}  // namespace korva
