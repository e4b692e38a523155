// CRuleBlackList: refuses passwords on an administrator's list, read either as whole words the password may
// not be (ASCII case ignored) or as regular expressions that may not occur in the password (case counts).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "policy/rule_base.h"

namespace korva {

enum BlackListInterpretation : int32_t {
    kBlackListWords = 0,
    kBlackListExpressions = 1,
};

class CRuleBlackList : public CRuleBase {
  public:
    static constexpr int32_t kType = 8;

    CRuleBlackList() = default;
    CRuleBlackList(const DescriptionMap& descriptions, int32_t interpretation)
        : CRuleBase(descriptions), interpretation_(interpretation) {}

    std::unique_ptr<CRuleBase> Clone() const override;
    // Only `newPassword` is used. An expression that cannot be evaluated returns -1 with *valid false. An
    // interpretation other than 0 and 1 compares the items as words; an empty item in an expression list is
    // skipped.
    int32_t Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword, const WChar* reserved,
                 const WChar* oldPassword) override;
    int32_t GetType() const override { return kType; }
    RuleSettings DescribeSettings() const override {
        return {RuleSetting::Int("interpretation", interpretation_), RuleSetting::List("items", items_)};
    }
    // Children "Blacklist" (attribute "Interpretation" required) with "Item" children, then the shared ones.
    int32_t LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) override;

    int32_t GetInterpretation() const { return interpretation_; }
    // In document order; an empty text is an item whose element was empty.
    const std::vector<WString>& GetItems() const { return items_; }
    void AddItem(WStringView item) { items_.emplace_back(item); }

  private:
    int32_t TestWords(const WChar* newPassword, bool* valid) const;
    int32_t TestExpressions(cGjLog& log, const WChar* newPassword, bool* valid) const;

    int32_t interpretation_ = kBlackListWords;
    std::vector<WString> items_;
};

DescriptionMap BuiltInBlackListDescriptions();

}  // namespace korva
