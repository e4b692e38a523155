// CRuleHistoryMinimumAge (type 1): refuses a password change while the current password is younger than the
// minimum age. The only rule that reads the directory while testing: the user's "pwdLastSet".
#pragma once

#include "platform/clock.h"
#include "policy/rule_base.h"

namespace korva {

class CRuleHistoryMinimumAge : public CRuleBase {
  public:
    static constexpr int32_t kDefaultMinutes = 1440;

    CRuleHistoryMinimumAge() = default;
    // A built-in rule: disabled, with the given descriptions and a minimum age in minutes.
    CRuleHistoryMinimumAge(const DescriptionMap& descriptions, int32_t minutes)
        : CRuleBase(descriptions), minimumMinutes_(minutes) {}

    std::unique_ptr<CRuleBase> Clone() const override;
    // Accepts when the whole minutes since the password was last set reach the minimum age. Returns the error
    // of the directory lookup (with *valid false) when the age cannot be read.
    int32_t Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword, const WChar* reserved,
                 const WChar* oldPassword) override;
    int32_t GetType() const override { return 1; }
    RuleSettings DescribeSettings() const override {
        return {RuleSetting::Int("minimumAge", minimumMinutes_)};
    }
    // Reads "MinimumAge": days in documents older than version 1.8.0.1037 (and in those without a version),
    // minutes from that version on; 1440 minutes when absent or not a number.
    int32_t LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) override;

    int32_t GetMinimumMinutes() const { return minimumMinutes_; }

    // The UTC time at which the user's password was last set ("pwdLastSet" of the user object found from the
    // user scope's canonical name). 0, -23, or the directory's code.
    static int32_t ReadPasswordLastSet(cGjLog& log, const CScope* userScope, platform::SystemTime* lastSet);

  private:
    int32_t minimumMinutes_ = kDefaultMinutes;
};

// The built-in descriptions of the default rule, with the minutes filled in.
DescriptionMap MinimumAgeDescriptions(int32_t minutes);

// True when a MinimumAge written in a document of this version is in days (older than 1.8.0.1037, or none).
bool MinimumAgeIsInDays(const WChar* version);

}  // namespace korva
