#include "policy/rule_length.h"

#include "infra/log.h"
#include "policy/load_report.h"
#include "platform/format.h"

namespace korva {

namespace {

struct Template {
    uint32_t language;
    const WChar* text;
};

// Built-in description templates; the number placeholder is the limit (Polish uses %ld, the same 32-bit int).
constexpr Template kMinimumTemplates[] = {
    {kLangEnglish, KW("The password must be at least %d characters long.")},
    {kLangDutch, KW("Het wachtwoord moet minimaal %d karakters bevatten.")},
    {kLangFrench, KW("Le mot de passe doit avoir au minimum %d caractères.")},
    {kLangGerman, KW("Das Passwort muss mindestens %d Zeichen lang sein.")},
    {kLangSpanish, KW("La contraseña debe contener al menos %d caracteres.")},
    {kLangPolish, KW("Hasło musi mieć co najmniej %ld znaków.")},
    {kLangItalian, KW("La password deve essere lunga almeno %d caratteri.")},
    {kLangPortuguese, KW("A senha deve ter pelo menos %d caracteres.")},
    {kLangCzech, KW("Heslo musí mít nejméně %d znaků.")},
    {kLangChinese, KW("密码必须有%d个字符。")},
    {kLangRussian, KW("Пароль должен состоять как минимум из %d символов.")},
    {kLangFinnish, KW("Salasanassa on oltava vähintään %d merkkiä.")},
    {kLangHungarian, KW("A jelszónak legalább %d karakterből kell állnia.")},
};

// No Finnish or Hungarian text: those languages fall back to English.
constexpr Template kMaximumTemplates[] = {
    {kLangEnglish, KW("The password may not be longer than %d characters.")},
    {kLangDutch, KW("Het wachtwoord mag maximaal %d karakters bevatten.")},
    {kLangFrench, KW("Le mot de passe ne peut pas contenir plus de %d caractères.")},
    {kLangGerman, KW("Das Passwort darf nicht länger als %d Zeichen lang sein.")},
    {kLangSpanish, KW("La contraseña no puede contener más de %d caracteres.")},
    {kLangPolish, KW("Długość hasła nie może przekroczyć %ld znaków.")},
    {kLangItalian, KW("La password non può superare i %d caratteri.")},
    {kLangPortuguese, KW("A senha não deve ter mais de %d caracteres.")},
    {kLangCzech, KW("Heslo nesmí být delší než %d znaků.")},
    {kLangChinese, KW("密码不能超过%d个字符。")},
    {kLangRussian, KW("Пароль не должен состоять из более чем %d символов.")},
};

template <size_t N>
DescriptionMap FillTemplates(const Template (&templates)[N], int32_t limit) {
    DescriptionMap map;
    for (const Template& entry : templates) {
        map[entry.language] = Format(entry.text, limit);
    }
    return map;
}

const WChar* TrueFalse(bool value) {
    return value ? KW("TRUE") : KW("FALSE");
}

}  // namespace

DescriptionMap MinimumLengthDescriptions(int32_t minimum) {
    return FillTemplates(kMinimumTemplates, minimum);
}
DescriptionMap MaximumLengthDescriptions(int32_t maximum) {
    return FillTemplates(kMaximumTemplates, maximum);
}

namespace {

// Everything that tells the two bounds apart.
struct BoundTraits {
    int32_t type;
    int32_t defaultLimit;
    const char* settingName;
    const WChar* checkMessage;
    const WChar* setMessage;
    CRuleBase::IntegerChildTexts texts;
};

// The minimum's check line ends in "\r": the log has always shown it so.
const BoundTraits& Traits(CRuleLengthLimit::Bound bound) {
    static constexpr BoundTraits kMinimum = {
        2,
        CRuleLengthMinimum::kDefaultMinimum,
        "minimumLength",
        KW("Checking minimum length rule, password valid = %s\r"),
        KW("Successfully set value of minimum length node."),
        {KW("MinimumLength"), KW("An error occurred getting minimum length rule data."),
         KW("Load minimum length rule data from XML."), KW("Failed to get value of minimum length node."),
         KW("Failed to convert value of minimum length to integer.")},
    };
    static constexpr BoundTraits kMaximum = {
        3,
        CRuleLengthMaximum::kDefaultMaximum,
        "maximumLength",
        KW("Checking maximum length rule, password valid = %s"),
        KW("Successfully set value of maximum length node."),
        {KW("MaximumLength"), KW("An error occurred getting maximum length rule data."),
         KW("Load maximum length rule data from XML."), KW("Failed to get value of maximum length node."),
         KW("Failed to convert value of maximum length to integer.")},
    };
    return bound == CRuleLengthLimit::Bound::Minimum ? kMinimum : kMaximum;
}

}  // namespace

std::unique_ptr<CRuleBase> CRuleLengthLimit::Clone() const {
    std::unique_ptr<CRuleLengthLimit> copy;
    if (bound_ == Bound::Minimum) {
        copy = std::make_unique<CRuleLengthMinimum>();
    } else {
        copy = std::make_unique<CRuleLengthMaximum>();
    }
    CopyBaseTo(*copy);
    copy->limit_ = limit_;
    return copy;
}

int32_t CRuleLengthLimit::GetType() const {
    return Traits(bound_).type;
}

int32_t CRuleLengthLimit::Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword,
                               const WChar* reserved, const WChar* oldPassword) {
    (void)userScope;
    (void)reserved;
    (void)oldPassword;
    // A missing password has length 0.
    const int64_t length = newPassword != nullptr ? static_cast<int64_t>(WLen(newPassword)) : 0;
    *valid = bound_ == Bound::Minimum ? length >= limit_ : length <= limit_;
    log.LogMessage(kLogDebug, Traits(bound_).checkMessage, TrueFalse(*valid));
    return 0;
}

int32_t CRuleLengthLimit::LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) {
    const BoundTraits& traits = Traits(bound_);
    limit_ = traits.defaultLimit;
    return LoadIntegerChild(
        log, element, version, traits.texts,
        [&](int32_t value) {
            limit_ = value;
            log.LogMessage(kLogDebug, KW("%s"), traits.setMessage);
        },
        [&] {
            limit_ = traits.defaultLimit;
            return Format(KW("%d (the default)"), limit_);
        });
}

RuleSettings CRuleLengthLimit::DescribeSettings() const {
    return {RuleSetting::Int(Traits(bound_).settingName, limit_)};
}

}  // namespace korva
