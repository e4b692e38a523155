// The length rules: CRuleLengthMinimum (type 2) rejects a password shorter than its minimum,
// CRuleLengthMaximum (type 3) one longer than its maximum. Both limits are inclusive; length counts UTF-16
// code units, so a character outside the Basic Multilingual Plane counts as two.
#pragma once

#include "policy/rule_base.h"

namespace korva {

// What the two length rules share: one limit, read from one child, compared one way. The subclasses only
// name the bound.
class CRuleLengthLimit : public CRuleBase {
  public:
    enum class Bound { Minimum, Maximum };

    std::unique_ptr<CRuleBase> Clone() const override;
    int32_t Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword, const WChar* reserved,
                 const WChar* oldPassword) override;
    int32_t GetType() const override;
    // Reads the limit's child (the default when absent or not a number), then the shared children.
    int32_t LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) override;
    RuleSettings DescribeSettings() const override;

    Bound GetBound() const { return bound_; }
    int32_t GetLimit() const { return limit_; }

  protected:
    CRuleLengthLimit(Bound bound, int32_t limit) : bound_(bound), limit_(limit) {}
    CRuleLengthLimit(Bound bound, const DescriptionMap& descriptions, int32_t limit)
        : CRuleBase(descriptions), bound_(bound), limit_(limit) {}

  private:
    Bound bound_;
    int32_t limit_;
};

class CRuleLengthMinimum final : public CRuleLengthLimit {
  public:
    static constexpr int32_t kDefaultMinimum = 6;

    CRuleLengthMinimum() : CRuleLengthLimit(Bound::Minimum, kDefaultMinimum) {}
    // A built-in rule: disabled, with the given descriptions.
    CRuleLengthMinimum(const DescriptionMap& descriptions, int32_t minimum)
        : CRuleLengthLimit(Bound::Minimum, descriptions, minimum) {}

    int32_t GetMinimum() const { return GetLimit(); }
};

class CRuleLengthMaximum final : public CRuleLengthLimit {
  public:
    static constexpr int32_t kDefaultMaximum = 18;

    CRuleLengthMaximum() : CRuleLengthLimit(Bound::Maximum, kDefaultMaximum) {}
    CRuleLengthMaximum(const DescriptionMap& descriptions, int32_t maximum)
        : CRuleLengthLimit(Bound::Maximum, descriptions, maximum) {}

    int32_t GetMaximum() const { return GetLimit(); }
};

// The built-in descriptions of the default rules: each language's template with the limit filled in.
DescriptionMap MinimumLengthDescriptions(int32_t minimum);
DescriptionMap MaximumLengthDescriptions(int32_t maximum);

}  // namespace korva
