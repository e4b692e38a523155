#include "policy/rule_length.h"

#include "infra/log.h"
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

std::unique_ptr<CRuleBase> CRuleLengthMinimum::Clone() const {
    auto copy = std::make_unique<CRuleLengthMinimum>();
    CopyBaseTo(*copy);
    copy->minimum_ = minimum_;
    return copy;
}

int32_t CRuleLengthMinimum::Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword,
                                 const WChar* reserved, const WChar* oldPassword) {
    (void)userScope;
    (void)reserved;
    (void)oldPassword;
    if (newPassword != nullptr) {
        *valid = static_cast<int64_t>(WLen(newPassword)) >= minimum_;
    } else {
        *valid = minimum_ <= 0;
    }
    log.LogMessage(kLogDebug, KW("Checking minimum length rule, password valid = %s\r"), TrueFalse(*valid));
    return 0;
}

int32_t CRuleLengthMinimum::LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) {
    static constexpr IntegerChildTexts kTexts = {
        KW("MinimumLength"),
        KW("An error occurred getting minimum length rule data."),
        KW("Load minimum length rule data from XML."),
        KW("Failed to get value of minimum length node."),
        KW("Failed to convert value of minimum length to integer."),
    };
    minimum_ = kDefaultMinimum;
    return LoadIntegerChild(
        log, element, version, kTexts,
        [&](int32_t value) {
            minimum_ = value;
            log.LogMessage(kLogDebug, KW("Successfully set value of minimum length node."));
        },
        [&] { minimum_ = kDefaultMinimum; });
}

std::unique_ptr<CRuleBase> CRuleLengthMaximum::Clone() const {
    auto copy = std::make_unique<CRuleLengthMaximum>();
    CopyBaseTo(*copy);
    copy->maximum_ = maximum_;
    return copy;
}

int32_t CRuleLengthMaximum::Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword,
                                 const WChar* reserved, const WChar* oldPassword) {
    (void)userScope;
    (void)reserved;
    (void)oldPassword;
    if (newPassword != nullptr) {
        *valid = static_cast<int64_t>(WLen(newPassword)) <= maximum_;
    } else {
        *valid = maximum_ >= 0;
    }
    log.LogMessage(kLogDebug, KW("Checking maximum length rule, password valid = %s"), TrueFalse(*valid));
    return 0;
}

int32_t CRuleLengthMaximum::LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) {
    static constexpr IntegerChildTexts kTexts = {
        KW("MaximumLength"),
        KW("An error occurred getting maximum length rule data."),
        KW("Load maximum length rule data from XML."),
        KW("Failed to get value of maximum length node."),
        KW("Failed to convert value of maximum length to integer."),
    };
    maximum_ = kDefaultMaximum;
    return LoadIntegerChild(
        log, element, version, kTexts,
        [&](int32_t value) {
            maximum_ = value;
            log.LogMessage(kLogDebug, KW("Successfully set value of maximum length node."));
        },
        [&] { maximum_ = kDefaultMaximum; });
}

}  // namespace korva
