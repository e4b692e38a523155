#include "policy/rule_base.h"

#include <iterator>
#include <limits>

#include "infra/log.h"
#include "policy/load_report.h"
#include "policy/rule_length.h"
#include "policy/rule_min_age.h"
#include "xml/xml_dom.h"

namespace korva {

bool StringToInt(const WChar* text, int32_t* value) {
    *value = 0;
    if (text == nullptr || text[0] == 0) {
        return false;
    }
    const bool negative = text[0] == u'-';
    int64_t magnitude = 0;
    // A negative number may reach one further than a positive one.
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : static_cast<int64_t>(std::numeric_limits<int32_t>::max());
    for (const WChar* p = negative ? text + 1 : text; *p != 0; ++p) {
        if (*p < u'0' || *p > u'9') {
            return false;
        }
        magnitude = magnitude * 10 + (*p - u'0');
        if (magnitude > limit) {
            return false;
        }
    }
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

int32_t WalkNamedChildren(cGjLog& log, const std::vector<xml::Node>& children, const ChildReader& read,
                          bool* stopped) {
    if (stopped != nullptr) {
        *stopped = false;
    }
    int32_t result = 0;
    for (const xml::Node& child : children) {
        WString name;
        const int32_t status = child.GetBaseName(&name);
        if (status != kSOk) {
            log.LogHResult(kLogError, status, KW("An error occurred getting base name of child."));
            result = status;
            continue;
        }
        if (const std::optional<int32_t> end = read(name, child, result)) {
            if (stopped != nullptr) {
                *stopped = true;
            }
            return *end;
        }
    }
    return result;
}

ChildReader TextsOf(cGjLog& log, const WChar* name, const WChar* readFailure, const WChar* added,
                    std::function<void(WString&&)> take) {
    return [&log, name, readFailure, added, take = std::move(take)](
               const WString& childName, const xml::Node& child, int32_t&) -> std::optional<int32_t> {
        if (childName != name)
            return std::nullopt;
        WString text;
        if (const int32_t read = child.GetText(&text); read != kSOk) {
            log.LogHResult(kLogError, read, KW("%s"), readFailure);
            return read;
        }
        take(std::move(text));
        log.LogMessage(kLogDebug, KW("%s"), added);
        return std::nullopt;
    };
}

int32_t ReadAttribute(cGjLog& log, const xml::Node& element, const WChar* name, WString* value) {
    value->clear();
    std::vector<xml::Attribute> attributes;
    const int32_t status = element.GetAttributes(&attributes);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, KW("Failed to get value of attribute."));
        return status;
    }
    const WStringView wanted(name);
    for (const xml::Attribute& attribute : attributes) {
        if (attribute.nameStatus != kSOk) {
            log.LogHResult(kLogError, attribute.nameStatus,
                           KW("An error occurred getting base name of child."));
            continue;
        }
        if (!EqualsNoCaseAscii(attribute.baseName, wanted)) {
            continue;
        }
        if (attribute.valueStatus != kSOk) {
            log.LogHResult(kLogError, attribute.valueStatus, KW("Failed to get value of attribute."));
            return attribute.valueStatus;
        }
        *value = attribute.value;
        return kSOk;
    }
    return kSFalse;
}

const WChar* CRuleBase::GetDescription(uint32_t language) const {
    auto found = descriptions_.find(language);
    if (found != descriptions_.end() && !found->second.empty()) {
        return found->second.c_str();
    }
    if (language != kLangEnglish) {
        found = descriptions_.find(kLangEnglish);
        if (found != descriptions_.end() && !found->second.empty()) {
            return found->second.c_str();
        }
    }
    return nullptr;
}

void CRuleBase::SetDescription(uint32_t language, WStringView text) {
    descriptions_[language] = WString(text);
}

int32_t CRuleBase::LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) {
    (void)version;
    descriptions_.clear();

    std::vector<xml::Node> children;
    const int32_t opened = OpenRuleChildren(log, element, KW("An error occurred getting rule data."),
                                            KW("Load rule data from XML."), &children);
    if (opened != kSOk) {
        return opened;
    }

    return WalkNamedChildren(
        log, children,
        [&](const WString& name, const xml::Node& child, int32_t& result) -> std::optional<int32_t> {
            if (name == KW("Enabled")) {
                WString text;
                const int32_t status = child.GetText(&text);
                if (status != kSOk) {
                    log.LogHResult(kLogError, status, KW("Failed to get value of enabled node."));
                    return status;
                }
                int32_t value = 0;
                if (StringToInt(text.c_str(), &value)) {
                    enabled_ = value >= 1;
                    log.LogMessage(kLogDebug, KW("Successfully set enabled."));
                } else {
                    ReportNotANumber(child, nullptr, text, [this] {
                        return WString(enabled_ ? KW("1 (an earlier Enabled)") : KW("0 (the rule is off)"));
                    });
                    log.LogWithCode(kLogError, kResultInvalidValue,
                                    KW("Failed to convert value of enabled node to bool."));
                }
            } else if (name == KW("Description")) {
                WString text;
                int32_t status = child.GetText(&text);
                if (status != kSOk) {
                    log.LogHResult(kLogError, status, KW("Failed to get value of description node."));
                    return status;
                }
                uint32_t language = kLangEnglish;
                WString languageText;
                status = ReadAttribute(log, child, KW("languageid"), &languageText);
                if (status != kSOk) {
                    // Absent (S_FALSE) or unreadable: English, and the status is remembered.
                    result = status;
                } else {
                    int32_t value = 0;
                    if (StringToInt(languageText.c_str(), &value)) {
                        language = static_cast<uint32_t>(value);
                    } else {
                        ReportNotANumber(child, KW("languageid"), languageText,
                                         [] { return WString(KW("9 (English)")); });
                        log.LogMessage(kLogDebug,
                                       KW("Failed to convert value of languageid attribute to integer."));
                    }
                }
                SetDescription(language, text);
                log.LogMessage(kLogDebug, KW("Successfully got description."));
            }
            return std::nullopt;
        });
}

int32_t OpenRuleChildren(cGjLog& log, const xml::Node& element, const WChar* listFailure,
                         const WChar* loading, std::vector<xml::Node>* children) {
    bool hasChildren = false;
    int32_t status = element.HasChildNodes(&hasChildren);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, KW("Failed to determine if rule node has children."));
        return status;
    }
    if (!hasChildren) {
        log.LogWithCode(kLogError, kResultEmpty, KW("Rule is empty."));
        return kResultEmpty;
    }
    status = element.GetChildNodes(children);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, KW("%s"), listFailure);
        return status;
    }
    if (loading != nullptr) {
        log.LogMessage(kLogDebug, KW("%s"), loading);
    }
    return kSOk;
}

int32_t CRuleBase::LoadChildren(cGjLog& log, const xml::Node& element, const WChar* version,
                                const WChar* listFailure, const WChar* loading, const ChildReader& read) {
    std::vector<xml::Node> children;
    if (const int32_t opened = OpenRuleChildren(log, element, listFailure, loading, &children);
        opened != kSOk) {
        return opened;
    }
    bool stopped = false;
    const int32_t result = WalkNamedChildren(log, children, read, &stopped);
    if (!stopped) {
        (void)CRuleBase::LoadFromXML(log, element, version);
    }
    return result;
}

int32_t CRuleBase::LoadIntegerChild(cGjLog& log, const xml::Node& element, const WChar* version,
                                    const IntegerChildTexts& texts,
                                    const std::function<void(int32_t)>& converted,
                                    const std::function<WString()>& invalid) {
    return LoadChildren(log, element, version, texts.listFailure, texts.loadingDebug,
                        [&](const WString& name, const xml::Node& child, int32_t&) -> std::optional<int32_t> {
                            if (name != texts.childName) {
                                return std::nullopt;
                            }
                            WString text;
                            const int32_t status = child.GetText(&text);
                            if (status != kSOk) {
                                log.LogHResult(kLogError, status, KW("%s"), texts.readFailure);
                                return status;
                            }
                            int32_t value = 0;
                            if (StringToInt(text.c_str(), &value)) {
                                converted(value);
                            } else {
                                const WString used = invalid();
                                ReportNotANumber(child, nullptr, text, [&used] { return used; });
                                log.LogWithCode(kLogError, kResultInvalidValue, KW("%s"),
                                                texts.convertFailure);
                            }
                            return std::nullopt;
                        });
}

namespace {

template <typename Rule>
std::unique_ptr<CRuleBase> NewRule() {
    return std::make_unique<Rule>();
}

constexpr RuleTypeInfo kRuleTypes[] = {
    {1,
     "CRuleHistoryMinimumAge",
     KW("Minimum Password Age"),
     NewRule<CRuleHistoryMinimumAge>,
     KW("Failed to load minimum password age rule from XML."),
     {1, 0},
     {"minimumAge"}},
    {2,
     "CRuleLengthMinimum",
     KW("Minimum Password Length"),
     NewRule<CRuleLengthMinimum>,
     KW("Failed to load minimum length rule from XML."),
     {2, 0},
     {"minimumLength"}},
    {3,
     "CRuleLengthMaximum",
     KW("Maximum Password Length"),
     NewRule<CRuleLengthMaximum>,
     KW("Failed to load maximum length rule from XML."),
     {3, 0},
     {"maximumLength"}},
    {4, "CRuleNameSimilarity + CRulePasswordSimilarity", KW("Similarities"), nullptr, nullptr, {6, 7}, {}},
    {5,
     "CRuleRegex",
     KW("Regular Expression"),
     NewRegexRule,
     KW("Failed to load regular expression rule from XML."),
     {5, 0},
     {"kind", "expression", "data", "expressionValidatesPassword"}},
    {6,
     "CRuleNameSimilarity",
     KW("Name Similarities"),
     NewNameSimilarityRule,
     KW("Failed to load name similarity rule from XML."),
     {6, 0},
     {"checkUsername", "checkFullname", "usernameRatio", "fullnameRatio"}},
    {7,
     "CRulePasswordSimilarity",
     KW("Password Similarities"),
     NewPasswordSimilarityRule,
     KW("Failed to load password similarity rule from XML."),
     {7, 0},
     {"checkPassword", "passwordRatio"}},
    {8,
     "CRuleBlackList",
     KW("Blacklist"),
     NewBlackListRule,
     KW("Failed to load blacklist rule from XML."),
     {8, 0},
     {"interpretation", "items"}},
};
static_assert(std::size(kRuleTypes) == 8, "one row per rule type");

// FindRuleType indexes the table by number; every type a row makes is a class of its own (a row that makes
// itself). Function pointers are not compared here: the sanitizer build cannot fold that comparison.
constexpr bool RowsAreNumberedInOrder() {
    for (size_t i = 0; i < std::size(kRuleTypes); ++i) {
        if (kRuleTypes[i].type != static_cast<int32_t>(i + 1)) {
            return false;
        }
        for (const int32_t made : kRuleTypes[i].makes) {
            if (made != 0 && (made < 1 || made > static_cast<int32_t>(std::size(kRuleTypes)) ||
                              kRuleTypes[made - 1].makes[0] != made)) {
                return false;
            }
        }
    }
    return true;
}
static_assert(RowsAreNumberedInOrder(), "rows are types 1..8 in order, and each made type makes itself");

// Lets a new rule read the element; a negative result is logged with the rule family's message and becomes
// the factory's result. The rule is appended either way.
void LoadNewRule(cGjLog& log, const xml::Node& element, const WChar* version, const RuleTypeInfo& info,
                 RuleList* rules, int32_t* result) {
    std::unique_ptr<CRuleBase> rule = info.create();
    const int32_t status = rule->LoadFromXML(log, element, version);
    if (status < 0) {
        log.LogWithCode(kLogError, status, KW("%s"), info.loadFailure);
        *result = status;
    }
    rules->push_back(std::move(rule));
}

}  // namespace

std::span<const RuleTypeInfo> RuleTypes() {
    return kRuleTypes;
}

const RuleTypeInfo* FindRuleType(int32_t type) {
    if (type < 1 || type > static_cast<int32_t>(std::size(kRuleTypes))) {
        return nullptr;
    }
    return &kRuleTypes[type - 1];
}

int32_t CreateRule(cGjLog& log, const xml::Node& element, RuleList* rules, const WChar* version) {
    WString typeText;
    const int32_t status = element.GetAttribute(KW("type"), &typeText);
    if (status != kSOk && status != kSFalse) {
        log.LogHResult(kLogError, status, KW("Failed to get type attribute."));
        return status;
    }
    if (status == kSFalse) {
        return kResultInvalidValue;
    }
    int32_t type = 0;
    if (StringToInt(typeText.c_str(), &type)) {
        log.LogMessage(kLogDebug, KW("Successfully determined rule type."));
    } else {
        log.LogWithCode(kLogError, kResultInvalidValue,
                        KW("Failed to convert value of type attribute to integer."));
        type = 0;
    }

    const RuleTypeInfo* info = FindRuleType(type);
    if (info == nullptr) {
        log.LogWithCode(kLogError, kResultInvalidValue, KW("Unknown rule type detected."));
        return kResultInvalidValue;
    }
    const size_t firstNew = rules->size();
    int32_t result = 0;
    for (const int32_t made : info->makes) {
        if (made != 0) {
            LoadNewRule(log, element, version, *FindRuleType(made), rules, &result);
        }
    }
    log.LogMessage(kLogDebug, KW("Successfully loaded rule of type:'%d'."), (*rules)[firstNew]->GetType());
    return result;
}

const WChar* CRuleBase::GetDisplayName() const {
    const RuleTypeInfo* info = FindRuleType(GetType());
    return info != nullptr ? info->displayName : KW("Unknown rule");
}

const WChar* GetRuleName(const CRuleBase* rule) {
    return rule != nullptr ? rule->GetDisplayName() : KW("Unknown rule");
}

}  // namespace korva
