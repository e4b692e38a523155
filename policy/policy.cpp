#include "policy/policy.h"

#include "infra/log.h"
#include "platform/format.h"
#include "policy/rule_length.h"
#include "policy/rule_min_age.h"
#include "policy/load_report.h"
#include "policy/scope.h"
#include "xml/xml_dom.h"

namespace korva {

CPolicy::CPolicy() {
    rules_.push_back(std::make_unique<CRuleLengthMinimum>(
        MinimumLengthDescriptions(CRuleLengthMinimum::kDefaultMinimum), CRuleLengthMinimum::kDefaultMinimum));
    rules_.push_back(std::make_unique<CRuleLengthMaximum>(
        MaximumLengthDescriptions(CRuleLengthMaximum::kDefaultMaximum), CRuleLengthMaximum::kDefaultMaximum));
    rules_.push_back(std::make_unique<CRuleHistoryMinimumAge>(
        MinimumAgeDescriptions(CRuleHistoryMinimumAge::kDefaultMinutes),
        CRuleHistoryMinimumAge::kDefaultMinutes));
    rules_.push_back(CreateRegexRule(1, nullptr));
    rules_.push_back(CreateRegexRule(2, nullptr));
    rules_.push_back(CreateNameSimilarityRule(false, false));
    rules_.push_back(CreatePasswordSimilarityRule(false));
    rules_.push_back(CreateRegexRule(0, nullptr));
    rules_.push_back(CreateBlackListRule(0));
}

CPolicy::CPolicy(ForLoading) {}

CPolicy::~CPolicy() = default;

void CPolicy::AddScope(std::unique_ptr<CScope> scope) {
    scopes_.push_back(std::move(scope));
}

int32_t CPolicy::LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) {
    rules_.clear();

    WString name;
    int32_t status = element.GetAttribute(KW("name"), &name);
    if (status != kSOk && status != kSFalse) {
        log.LogHResult(kLogError, status, KW("Failed to get name in attribute node."));
        return status;
    }
    if (status == kSFalse) {
        return kResultEmpty;
    }
    name_ = name;

    bool hasChildren = false;
    status = element.HasChildNodes(&hasChildren);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, KW("Failed to determine if policy node has children."));
        return status;
    }
    if (!hasChildren) {
        log.LogWithCode(kLogError, kResultEmpty, KW("Policy is empty."));
        return kResultEmpty;
    }
    std::vector<xml::Node> children;
    status = element.GetChildNodes(&children);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, KW("An error occurred getting policy data."));
        return status;
    }
    log.LogMessage(kLogDebug, KW("Load policy data from XML."));

    return WalkNamedChildren(
        log, children,
        [&](const WString& childName, const xml::Node& child, int32_t& result) -> std::optional<int32_t> {
            if (childName == KW("Configuration")) {
                WString text;
                if (const int32_t read = child.GetText(&text); read != kSOk) {
                    log.LogHResult(kLogError, read, KW("Failed to get value of Configuration node."));
                    return read;
                }
                int32_t value = 0;
                if (StringToInt(text.c_str(), &value)) {
                    configuration_ = static_cast<uint32_t>(value);
                    log.LogMessage(kLogDebug, KW("Successfully determined configuration."));
                } else {
                    // Fatal only when no Rule or Scope follows: each of those sets the result again.
                    configuration_ = 0;
                    ReportNotANumber(child, nullptr, text,
                                     [] { return WString(KW("0 (the policy is on)")); });
                    result = kResultInvalidValue;
                    log.LogWithCode(kLogError, kResultInvalidValue,
                                    KW("Failed to convert value of Configuration to integer."));
                }
            } else if (childName == KW("Rule")) {
                result = CreateRule(log, child, &rules_, version);
                if (result != 0) {
                    log.LogWithCode(kLogError, result, KW("An error occurred while loading rule from XML."));
                    return result;
                }
            } else if (childName == KW("Scope")) {
                auto scope = std::make_unique<CScope>();
                result = scope->LoadFromXML(log, child);
                if (result != 0) {
                    log.LogWithCode(kLogError, result, KW("An error occurred loading policy from XML."));
                    return result;
                }
                log.LogMessage(kLogDebug, KW("Successfully loaded scope '%s'."), scope->GetName());
                scopes_.push_back(std::move(scope));
            }
            return std::nullopt;
        });
}

int32_t CPolicy::AppliesTo(cGjLog& log, CScope& userScope, bool* applies) {
    *applies = false;
    int32_t status = 0;
    for (const auto& scope : scopes_) {
        if (*applies) {
            break;
        }
        status = scope->Update(log);
        if (status != 0) {
            log.LogWithCode(kLogError, status, KW("Failed updating scope '%s'."), GetName());
            continue;
        }
        bool matched = false;
        status = scope->Match(log, userScope, &matched);
        if (status != 0) {
            log.LogWithCode(kLogError, status, KW("Error determining if policy %s applies."), GetName());
        } else if (matched) {
            log.LogMessage(kLogDebug, KW("Policy %s does applies."), GetName());
            *applies = true;
        }
    }
    if (!*applies) {
        log.LogMessage(kLogDebug, KW("Policy %s does not apply."), GetName());
    }
    return status;
}

int32_t CPolicy::TestPassword(cGjLog& log, bool* verdict, CScope* userScope, const WChar* newPassword,
                              const WChar* oldPassword, WString* feedbackText, std::vector<bool>* results,
                              uint32_t language) {
    bool allPassed = true;
    int32_t result = 0;
    WString failedLines;
    if (results != nullptr) {
        results->clear();
    }
    const WChar* userName = userScope != nullptr ? userScope->GetName() : nullptr;
    for (const auto& rule : rules_) {
        if (rule == nullptr) {
            log.LogWithCode(kLogError, kResultNullEntry,
                            KW("An error occurred while testing password for userscope '%s', empty rule."),
                            userName);
            break;
        }
        if (!rule->IsEnabled()) {
            continue;
        }
        bool valid = false;
        result = rule->Test(log, &valid, userScope, newPassword, nullptr, oldPassword);
        if (result != 0) {
            log.LogWithCode(kLogError, result,
                            KW("An error occurred while testing password for userscope '%s'"), userName);
            break;
        }
        log.LogMessage(kLogDebug, KW("Successfully tested password for userscope '%s', result: %s"), userName,
                       valid ? KW("accepted") : KW("rejected"));
        if (results != nullptr) {
            results->push_back(valid);
        }
        if (!valid) {
            // A rule without any description is named by its display name, so the user still learns which
            // rule refused the password.
            const WChar* description = rule->GetDescription(language);
            failedLines +=
                Format(KW(" - %s\r\n"), description != nullptr ? description : GetRuleName(rule.get()));
        }
        allPassed = allPassed && valid;
    }
    if (feedbackText != nullptr) {
        *feedbackText += Format(KW("\r\n%s"), failedLines.c_str());
    }
    *verdict = allPassed;
    return result;
}

int32_t CPolicy::GetRuleDescriptions(cGjLog& log, std::vector<WString>* descriptions, uint32_t language) {
    (void)log;
    descriptions->clear();
    for (const auto& rule : rules_) {
        if (rule == nullptr || !rule->IsEnabled()) {
            continue;
        }
        const WChar* description = rule->GetDescription(language);
        descriptions->push_back(description != nullptr ? WString(description) : WString());
    }
    return 0;
}

}  // namespace korva
