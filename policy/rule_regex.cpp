// The regular-expression rule: its test, its XML form and the built-in "Repeating characters" and "Character
// requirements" rules of a new policy.
#include "policy/rule_regex.h"

#include <utility>

#include "infra/log.h"
#include "policy/load_report.h"
#include "platform/format.h"
#include "xml/xml_dom.h"
#include "regex/check_string.h"

namespace korva {
namespace {

struct DescriptionRow {
    uint32_t language;
    const WChar* text;
};

// Plain expression. No Spanish text: Spanish falls back to English.
constexpr DescriptionRow kPlainDescriptions[] = {
    {9, KW("Regular expression.")},    {19, KW("Reguliere expressie.")}, {12, KW("Expression régulière.")},
    {7, KW("Regulärer Ausdruck.")},    {21, KW("Wyrażenie regularne.")}, {16, KW("Espressione regolare")},
    {22, KW("Expressão regular")},     {5, KW("Obvyklý výraz")},         {4, KW("正则表达式。")},
    {25, KW("Регулярное выражение.")}, {11, KW("Yleinen ilmaisu.")},     {14, KW("Általános kifejezés.")},
};

// Repeating characters; each text is a format for the run limit. No Hungarian text: English is shown instead.
constexpr DescriptionRow kRepeatingDescriptions[] = {
    {9, KW("The password may not contain more than %d consecutive identical characters.")},
    {19, KW("Het wachtwoord mag niet meer dan %d opeenvolgende identieke karakters bevatten.")},
    {12, KW("Le mot de passe ne peut pas contenir plus de %d caractères identiques consécutifs.")},
    {7, KW("Das Passwort darf nicht mehr als %d aufeinander folgende identische Zeichen besitzen.")},
    {10, KW("La contraseña no puede contener más de %d caracteres idénticas consecutivas.")},
    {21, KW("Hasło nie może zawierać więcej niż %d kolejnych identycznych znaków.")},
    {16, KW("La password non può contenere più di %d caratteri consecutivi.")},
    {22, KW("A senha não deve conter mais de %d caracteres idênticos consecutivos.")},
    {5, KW("Heslo nesmí obsahovat více než %d stejných znaků za sebou.")},
    {4, KW("密码不能包含超过%d个连续相同的字符。")},
    {25, KW("Пароль не должен содержать более чем %d последовательных идентичных символов.")},
    {11, KW("Salasanassa ei saa olla yli %d peräkkäistä identtistä merkkiä.")},
};

// Character requirements.
constexpr DescriptionRow kRequirementDescriptions[] = {
    {9, KW("The password must contain at least one of the following: Uppercase and lowercase characters, "
           "symbols and numbers.")},
    {19, KW("Het wachtwoord moet minimaal bestaan uit hoofdletters, kleine letters, symbolen en cijfers.")},
    {12, KW("Le mot de passe doit contenir au moins un des caractères suivantes : minuscule et majuscule, "
            "symboles et chiffres.")},
    {7, KW("Das Passwort muss mindestens eine der folgenden Bedingungen erfüllen: Groß- und Kleinbuchstaben, "
           "Sonderzeichen und Zahlen.")},
    {10, KW("La contraseña debe contener al menos uno de los siguientes: Mayúscula, minúscula, símbolos y "
            "números.")},
    {21, KW("Hasło musi zawierać co najmniej jeden z następujących: wielkie i małe litery, znaki specjalne i "
            "cyfry.")},
    {16, KW("La password deve contenere almeno uno dei seguenti: Caratteri, simboli e numeri maiuscoli e "
            "minuscoli.")},
    {22, KW("A senha deve incluir pelo menos um dos seguintes elementos: Caracteres maiúsculos e minúsculos, "
            "símbolos e números.")},
    {5, KW("Heslo musí obsahovat alespoň jeden znak následujících typů: Velká písmena, malá písmena, symboly "
           "a čísla.")},
    {4, KW("密码必须至少包含下列内容的一种：大写和小写字符，符号和数字。")},
    {25, KW("Пароль должен содержать хотя бы один из: прописных и строчных букв, символов и цифр.")},
    {11,
     KW("Salasanassa on oltava vähintään yksi seuraavista: iso kirjain, pieni kirjain, symboli ja numero.")},
    {14,
     KW("A jelszónak legalább a következőket kell tartalmaznia: Kis- és nagybetűk, szimbólumok, számok.")},
};

// Matches a character followed by at least the given number of copies of itself: with 2, three in a row.
constexpr const WChar* kRepeatExpressionFormat = KW(".*(.)\\1{%d,}.*");

template <size_t N>
DescriptionMap ToMap(const DescriptionRow (&rows)[N], bool formatWithRunLimit) {
    DescriptionMap map;
    for (const DescriptionRow& row : rows) {
        map[row.language] = formatWithRunLimit ? Format(row.text, kRepeatRunLimit) : WString(row.text);
    }
    return map;
}

int32_t StringLength32(const WChar* text) {
    return static_cast<int32_t>(WLen(text));
}

}  // namespace

DescriptionMap BuiltInRegexDescriptions(int32_t kind) {
    switch (kind) {
        case kRegexRepeatingCharacters:
            return ToMap(kRepeatingDescriptions, true);
        case kRegexCharacterRequirements:
            return ToMap(kRequirementDescriptions, false);
        default:
            return ToMap(kPlainDescriptions, false);
    }
}

CRuleRegex::CRuleRegex(const DescriptionMap& descriptions, int32_t kind, WStringView expression,
                       WStringView data, bool expressionValidatesPassword)
    : CRuleBase(descriptions),
      kind_(kind),
      expression_(expression),
      data_(data),
      expressionValidatesPassword_(expressionValidatesPassword) {}

std::unique_ptr<CRuleBase> CRuleRegex::Clone() const {
    auto copy = std::make_unique<CRuleRegex>();
    CopyBaseTo(*copy);
    copy->kind_ = kind_;
    copy->expression_ = expression_;
    copy->data_ = data_;
    copy->expressionValidatesPassword_ = expressionValidatesPassword_;
    return copy;
}

int32_t CRuleRegex::Test(cGjLog& log, bool* valid, CScope* /*userScope*/, const WChar* newPassword,
                         const WChar* /*reserved*/, const WChar* /*oldPassword*/) {
    *valid = true;
    log.LogMessage(kLogDebug, KW("Checking password with rule '%s'."), GetRuleName(this));
    if (expression_.empty())
        return 0;

    if (newPassword != nullptr && newPassword[0] != 0) {
        bool matched = false;
        const int32_t result =
            CheckStringWithRegEx(newPassword, StringLength32(newPassword), expression_.c_str(),
                                 StringLength32(expression_.c_str()), &matched);
        *valid = matched;
        if (result != 0) {
            *valid = false;
            log.LogWithCode(kLogError, result,
                            KW("An error occurred while evalutating regular expression '%s'"),
                            expression_.c_str());
            return result;
        }
        *valid = expressionValidatesPassword_ ? matched : !matched;
        return 0;
    }

    // An empty password has no repeated characters; for the other kinds it is refused.
    if (kind_ != kRegexRepeatingCharacters)
        *valid = false;
    return 0;
}

int32_t CRuleRegex::LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) {
    expression_.clear();
    data_.clear();

    return LoadChildren(
        log, element, version, KW("An error occurred getting rule data."), KW("Load rule data from XML."),
        [&](const WString& name, const xml::Node& child, int32_t& walked) -> std::optional<int32_t> {
            if (name == KW("Regex")) {
                WString text;
                int32_t hr = child.GetText(&text);
                if (hr != kSOk) {
                    log.LogHResult(kLogError, hr, KW("Failed to get value of regex node."));
                    return hr;
                }
                expression_ = std::move(text);
                log.LogMessage(kLogDebug, KW("Successfully set regex."));

                WString type;
                hr = child.GetAttribute(KW("Type"), &type);
                if (hr != kSOk && hr != kSFalse) {
                    // The load ends here with what it has so far; the shared children are not read.
                    log.LogHResult(kLogError, hr, KW("Failed to get type attribute."));
                    return walked;
                }
                if (hr != 0)
                    return kResultInvalidValue;  // "Type" is required with every expression
                int32_t kind = 0;
                if (StringToInt(type.c_str(), &kind)) {
                    kind_ = kind;
                    log.LogMessage(kLogDebug, KW("Successfully determined if type of regular expression."));
                } else {
                    ReportNotANumber(child, KW("Type"), type,
                                     [this] { return Format(KW("%d (unchanged)"), kind_); });
                    log.LogWithCode(kLogError, kResultInvalidValue,
                                    KW("Failed to convert value of type attribute of regular expression rule "
                                       "to integer."));
                }
            } else if (name == KW("Data")) {
                WString text;
                const int32_t hr = child.GetText(&text);
                if (hr != kSOk) {
                    log.LogHResult(kLogError, hr, KW("Failed to get value of data node."));
                    return hr;
                }
                data_ = std::move(text);
                log.LogMessage(kLogDebug, KW("Successfully set data."));
            } else if (name == KW("ExpressionValidatesPassword")) {
                WString text;
                const int32_t hr = child.GetText(&text);
                if (hr != kSOk) {
                    log.LogHResult(kLogError, hr,
                                   KW("Failed to get value of ExpressionValidatesPassword node."));
                    return hr;
                }
                int32_t value = 0;
                if (StringToInt(text.c_str(), &value)) {
                    expressionValidatesPassword_ = value >= 1;
                    log.LogMessage(kLogDebug, KW("Successfully set ExpressionValidatesPassword."));
                } else {
                    ReportNotANumber(child, nullptr, text, [this] {
                        return WString(expressionValidatesPassword_ ? KW("1 (unchanged)")
                                                                    : KW("0 (unchanged)"));
                    });
                    log.LogWithCode(
                        kLogError, kResultInvalidValue,
                        KW("Failed to convert value of ExpressionValidatesPassword node to bool."));
                }
            }
            return std::nullopt;
        });
}

std::unique_ptr<CRuleBase> NewRegexRule() {
    return std::make_unique<CRuleRegex>();
}

std::unique_ptr<CRuleBase> CreateRegexRule(int32_t kind, const WChar* expression) {
    const WStringView given = expression != nullptr ? WStringView(expression) : WStringView();
    if (kind == kRegexRepeatingCharacters) {
        const WString repeat = Format(kRepeatExpressionFormat, kRepeatRunLimit);
        return std::make_unique<CRuleRegex>(BuiltInRegexDescriptions(kind), kind,
                                            given.empty() ? WStringView(repeat) : given,
                                            Format(KW("%ld"), kRepeatRunLimit), false);
    }
    return std::make_unique<CRuleRegex>(BuiltInRegexDescriptions(kind), kind, given, WStringView(), true);
}

const WChar* CRuleRegex::GetDisplayName() const {
    switch (kind_) {
        case kRegexRepeatingCharacters:
            return KW("Repeating characters");
        case kRegexCharacterRequirements:
            return KW("Character requirements");
        default:
            return CRuleBase::GetDisplayName();
    }
}

RuleSettings CRuleRegex::DescribeSettings() const {
    return {RuleSetting::Int("kind", kind_), RuleSetting::Text("expression", GetExpression()),
            RuleSetting::Text("data", GetData()),
            RuleSetting::Bool("expressionValidatesPassword", expressionValidatesPassword_)};
}

}  // namespace korva
