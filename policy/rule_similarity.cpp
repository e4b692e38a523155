// The similarity rules: their tests, the directory names they compare, their XML form and built-in texts.
#include "policy/rule_similarity.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <string>

#include "directory/directory.h"
#include "infra/log.h"
#include "policy/load_report.h"
#include "platform/format.h"
#include "policy/scope.h"
#include "policy/similarity.h"
#include "xml/xml_dom.h"

namespace korva {
namespace {

struct DescriptionRow {
    uint32_t language;
    const WChar* text;
};

constexpr DescriptionRow kPasswordDescriptions[] = {
    {9, KW("The password may not resemble the old password.")},
    {19, KW("Het wachtwoord mag niet overeenkomen met het oude wachtwoord.")},
    {12, KW("Le nouveau mot de passe ne doit pas ressembler à l’ancien mot de passe.")},
    {7, KW("Das Passwort darf keine Ähnlichkeit mit dem alten Passwort haben.")},
    {10, KW("La contraseña no puede parecer a la contraseña anterior.")},
    {21, KW("Hasło nie może przypominać przeszłego hasła.")},
    {16, KW("La password non può assomigliare alla vecchia password.")},
    {22, KW("A senha não deve ser semelhante à senha antiga.")},
    {5, KW("Heslo nesmí být podobné starému heslu.")},
    {4, KW("密码不能和旧密码雷同。")},
    {25, KW("Пароль не должен быть похож на ранее использованный пароль.")},
    {11, KW("Salasana ei saa muistuttaa vanhaa salasanaa.")},
    {14, KW("A jelszó nem hasonlíthat a régi jelszóra.")},
};

constexpr DescriptionRow kNameDescriptions[] = {
    {9, KW("The password may not resemble personal information such as the username.")},
    {19, KW("Het wachtwoord mag niet overeenkomen met persoonsgegevens zoals de gebruikersnaam.")},
    {12, KW("Le mot de passe ne peut contenir d'informations telles que nom de famille.")},
    {7, KW("Das Passwort darf keine Ähnlichkeit mit persönlichen Informationen wie den Benutzernamen "
           "besitzen.")},
    {10, KW("La contraseña no puede parecer a información personal, tal como el usuario.")},
    {21, KW("Hasło nie może przypominać osobistych informacji, n.p. nazwy użytkownika.")},
    {16, KW("La password non può assomigliare a informazioni personali quali il nome utente.")},
    {22, KW("A senha não deve ser semelhante a informações pessoais, como o nome de usuário.")},
    {5, KW("Heslo nesmí být podobné osobním údajům, jako např. uživatelskému jménu.")},
    {4, KW("密码不能和用户名雷同。")},
    {25, KW("Пароль не должен иметь сходства с личной информацией, такой как имя пользователя")},
    {11, KW("Salasana ei saa muistuttaa henkilötietoja, kuten käyttäjänimeä.")},
    {14, KW("A jelszó nem hasonlíthat személyes információra, mint a felhasználó névre.")},
};

template <size_t N>
DescriptionMap ToMap(const DescriptionRow (&rows)[N]) {
    DescriptionMap map;
    for (const DescriptionRow& row : rows)
        map[row.language] = row.text;
    return map;
}

const WChar* OrNull(const WString& text) {
    return text.empty() ? nullptr : text.c_str();
}
const WChar* TrueFalse(bool value) {
    return value ? KW("TRUE") : KW("FALSE");
}

// Texts of the three ratio children.
struct RatioChild {
    const WChar* name;
    const WChar* loaded;
    const WChar* failed;
};
constexpr RatioChild kPasswordRatio = {
    KW("PasswordRatio"), KW("Successfully set settings for password similarity."),
    KW("Failed to extract information about password similarity, using defaults.")};
constexpr RatioChild kUsernameRatio = {
    KW("UsernameRatio"), KW("Successfully set settings for username similarity."),
    KW("Failed to extract information about username similarity, using defaults.")};
constexpr RatioChild kFullnameRatio = {
    KW("FullnameRatio"), KW("Successfully set settings for full name similarity."),
    KW("Failed to extract information about full name similarity, using defaults.")};

// Reads one ratio child into (ratio, flag); a child that cannot be read puts the defaults back.
int32_t LoadRatioChild(cGjLog& log, const xml::Node& child, const RatioChild& texts, float* ratio,
                       bool* flag) {
    const int32_t result = LoadRatioElement(log, child, ratio, flag);
    if (result == 0) {
        log.LogMessage(kLogDebug, texts.loaded);
        return 0;
    }
    log.LogWithCode(kLogError, result, texts.failed);
    *ratio = kDefaultSimilarityRatio;
    *flag = false;
    return result;
}

constexpr const WChar* kSimilarityListFailure = KW("An error occurred getting similarity rule data.");
constexpr const WChar* kSimilarityLoading = KW("Load similarity rule data from XML.");

// A ratio child's failure is remembered as the rule's result; the walk goes on.
void Remember(int32_t code, int32_t* walked) {
    if (code != 0) {
        *walked = code;
    }
}

}  // namespace

bool StringToFloat(const WChar* text, float* value) {
    *value = 0.0f;
    if (text == nullptr || text[0] == 0)
        return false;
    std::string narrow;
    bool seenPoint = false;
    for (size_t i = 0; text[i] != 0; ++i) {
        const WChar c = text[i];
        const bool digit = c >= u'0' && c <= u'9';
        if (i == 0 ? !(digit || c == u'-') : !(digit || c == u'.'))
            return false;
        if (c == u'.') {
            if (seenPoint)
                return false;
            seenPoint = true;
        }
        narrow.push_back(static_cast<char>(c));
    }
    // "-" and "-." hold no digit: their value is 0.
    if (narrow.find_first_of("0123456789") == std::string::npos)
        return true;

    const bool negative = narrow[0] == '-';
    float parsed = 0.0f;
    const auto [end, error] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), parsed);
    if (error == std::errc::result_out_of_range) {
        // Too large or too small for a float: the nearest representable magnitude.
        const size_t point = std::min(narrow.find('.'), narrow.size());
        const bool large = narrow.find_first_of("123456789") < point;
        parsed = large ? FLT_MAX : 0.0f;
        if (negative)
            parsed = -parsed;
    } else if (error != std::errc() || end != narrow.data() + narrow.size()) {
        return false;
    }
    *value = parsed;
    return true;
}

int32_t LoadRatioElement(cGjLog& log, const xml::Node& element, float* ratio, bool* flag) {
    WString enabled;
    int32_t hr = element.GetAttribute(KW("Enabled"), &enabled);
    if (hr != kSOk && hr != kSFalse) {
        log.LogHResult(kLogError, hr, KW("Failed to get enabled attribute."));
        return 0;
    }
    if (hr != 0)
        return kResultInvalidValue;  // "Enabled" is required
    int32_t value = 0;
    if (StringToInt(enabled.c_str(), &value)) {
        *flag = value >= 1;
        log.LogMessage(kLogDebug, KW("Successfully determined if rule is enabled."));
    } else {
        ReportNotANumber(element, KW("Enabled"), enabled,
                         [flag] { return WString(*flag ? KW("1 (unchanged)") : KW("0 (unchanged)")); });
        log.LogWithCode(kLogError, kResultInvalidValue,
                        KW("Failed to convert value of enabled attribute of similarity rule to integer."));
    }

    WString text;
    hr = element.GetText(&text);
    if (hr != kSOk) {
        log.LogHResult(kLogError, hr, KW("Failed to get value of ratio of similarity."));
        return hr;
    }
    float parsed = 0.0f;
    if (StringToFloat(text.c_str(), &parsed)) {
        *ratio = parsed;
        log.LogMessage(kLogDebug, KW("Successfully set similarity ratio."));
    } else {
        *ratio = kDefaultSimilarityRatio;
        ReportNotANumber(element, nullptr, text, [] { return WString(KW("0.8 (the default)")); });
        log.LogWithCode(kLogError, kResultInvalidValue,
                        KW("Failed to convert value of similarity ratio to float."));
    }
    return 0;
}

// --- CRulePasswordSimilarity ---

std::unique_ptr<CRuleBase> CRulePasswordSimilarity::Clone() const {
    auto copy = std::make_unique<CRulePasswordSimilarity>();
    CopyBaseTo(*copy);
    copy->checkPassword_ = checkPassword_;
    copy->passwordRatio_ = passwordRatio_;
    return copy;
}

int32_t CRulePasswordSimilarity::Test(cGjLog& log, bool* valid, CScope* /*userScope*/,
                                      const WChar* newPassword, const WChar* /*reserved*/,
                                      const WChar* oldPassword) {
    *valid = true;
    if (oldPassword == nullptr || !checkPassword_)
        return 0;
    const double similarity = MutualSimilarity(newPassword, oldPassword, passwordRatio_, false);
    log.LogMessage(kLogDebug, KW("Similarity with old password = %f "), similarity);
    if (similarity != 0.0) {
        log.LogMessage(kLogDebug, KW("Password rejected, it is too similar to previous password."));
        *valid = false;
    }
    return 0;
}

int32_t CRulePasswordSimilarity::LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) {
    return LoadChildren(
        log, element, version, kSimilarityListFailure, kSimilarityLoading,
        [&](const WString& name, const xml::Node& child, int32_t& walked) -> std::optional<int32_t> {
            if (name == kPasswordRatio.name) {
                Remember(LoadRatioChild(log, child, kPasswordRatio, &passwordRatio_, &checkPassword_),
                         &walked);
            }
            return std::nullopt;
        });
}

// --- CRuleNameSimilarity ---

std::unique_ptr<CRuleBase> CRuleNameSimilarity::Clone() const {
    auto copy = std::make_unique<CRuleNameSimilarity>();
    CopyBaseTo(*copy);
    copy->checkUsername_ = checkUsername_;
    copy->checkFullname_ = checkFullname_;
    copy->usernameRatio_ = usernameRatio_;
    copy->fullnameRatio_ = fullnameRatio_;
    return copy;
}

int32_t CRuleNameSimilarity::Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword,
                                  const WChar* reserved, const WChar* /*oldPassword*/) {
    *valid = true;
    UserNames names;
    const int32_t result = GetUserNames(log, *this, userScope, &names);
    if (result != 0) {
        log.LogWithCode(kLogError, result,
                        KW("An error occurred while retrieving user information, unable to test password for "
                           "similiarities."));
        return 0;
    }
    log.LogMessage(kLogDebug, KW("Testing similarities: fullname=%s username=%s"), TrueFalse(checkFullname_),
                   TrueFalse(checkUsername_));

    if (checkFullname_) {
        const WString* compared[] = {&names.firstName, &names.lastName, &names.fullName, &names.accountName};
        double largest = 0.0;
        for (const WString* name : compared) {
            const double similarity = MutualSimilarity(newPassword, OrNull(*name), fullnameRatio_, true);
            log.LogMessage(kLogDebug, KW("Similarity of %s = %f "), OrNull(*name), similarity);
            largest = std::max(largest, similarity);
        }
        if (largest != 0.0) {
            log.LogMessage(kLogDebug, KW("Password rejected, it is too similar to the users name."));
            *valid = false;
        }
    }
    if (checkUsername_ && (*valid || reserved != nullptr)) {
        const WChar* logonName = OrNull(names.logonName);
        const double similarity = MutualSimilarity(newPassword, logonName, usernameRatio_, false);
        log.LogMessage(kLogDebug, KW("Similarity of %s = %f "), logonName, similarity);
        if (similarity != 0.0) {
            log.LogMessage(kLogDebug, KW("Password rejected, it is too similar to the users login."));
            *valid = false;
        }
    }
    return 0;
}

int32_t CRuleNameSimilarity::LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) {
    return LoadChildren(
        log, element, version, kSimilarityListFailure, kSimilarityLoading,
        [&](const WString& name, const xml::Node& child, int32_t& walked) -> std::optional<int32_t> {
            if (name == kUsernameRatio.name) {
                Remember(LoadRatioChild(log, child, kUsernameRatio, &usernameRatio_, &checkUsername_),
                         &walked);
            } else if (name == kFullnameRatio.name) {
                Remember(LoadRatioChild(log, child, kFullnameRatio, &fullnameRatio_, &checkFullname_),
                         &walked);
            }
            return std::nullopt;
        });
}

int32_t GetUserNames(cGjLog& log, const CRuleNameSimilarity& rule, const CScope* userScope,
                     UserNames* names) {
    *names = UserNames();
    int32_t result = 0;
    if (rule.GetCheckFullname()) {
        const WChar* canonical = userScope != nullptr ? userScope->GetCanonicalName() : nullptr;
        WString distinguished;
        const int32_t code = Dir().CanonicalToDistinguishedName(
            log, canonical != nullptr ? canonical : KW(""), &distinguished);
        if (code != 0) {
            log.LogWithCode(kLogError, code,
                            KW("Failed to convert canonical name '%s' to distinguished name."), canonical);
            return code;
        }
        const WString path = Format(KW("LDAP://%s"), distinguished.c_str());
        log.LogMessage(kLogDebug, KW("Created LDAP query: %s"), path.c_str());
        std::unique_ptr<DirectoryObject> user;
        const int32_t hr = Dir().BindObject(path.c_str(), ObjectInterface::User, &user);
        if (hr < 0 || user == nullptr) {
            log.LogHResult(kLogError, hr < 0 ? hr : kEFail,
                           KW("Failed to bind user object in Active Directoy."));
            result = kResultUserNotBound;
        } else {
            log.LogMessage(kLogDebug, KW("Trying to extract information from bound object."));
            int32_t step = user->GetInfo();
            if (step < 0)
                log.LogHResult(kLogDebug, step, KW("Failed to load property cache of bound object."));

            struct PropertyRead {
                UserProperty property;
                WString* target;
                const WChar* failure;
            };
            const PropertyRead reads[] = {
                {UserProperty::FirstName, &names->firstName, KW("Failed to get first name of bound object.")},
                {UserProperty::LastName, &names->lastName, KW("Failed to get last name of bound object.")},
                {UserProperty::FullName, &names->fullName, KW("Failed to get full name of bound object.")},
            };
            for (const PropertyRead& read : reads) {
                WString value;
                step = user->GetUserProperty(read.property, &value);
                if (step < 0) {
                    log.LogHResult(kLogDebug, step, read.failure);
                } else {
                    *read.target = std::move(value);
                }
            }
            AttributeValue account;
            step = user->Get(KW("sAMAccountName"), &account);
            // The account name is read as text; a value of another kind cannot be converted.
            if (step >= 0 && account.kind != AttributeValue::Kind::Text)
                step = kEAdsCantConvertDatatype;
            if (step < 0) {
                log.LogHResult(kLogDebug, step, KW("Failed to get sAMAccount name of bound object."));
            } else {
                names->accountName = std::move(account.text);
            }
            log.LogMessage(kLogDebug, KW("Found the following values: \"%s\" \"%s\" \"%s\" \"%s\"."),
                           OrNull(names->firstName), OrNull(names->lastName), OrNull(names->fullName),
                           OrNull(names->accountName));
        }
    }
    if (rule.GetCheckUsername()) {
        const WChar* principal = userScope != nullptr ? userScope->GetName() : nullptr;
        if (principal != nullptr) {
            const WStringView upn(principal);
            const size_t at = upn.find(u'@');
            if (at != WStringView::npos)
                names->logonName = WString(upn.substr(0, at));
        }
    }
    return result;
}

DescriptionMap BuiltInPasswordSimilarityDescriptions() {
    return ToMap(kPasswordDescriptions);
}
DescriptionMap BuiltInNameSimilarityDescriptions() {
    return ToMap(kNameDescriptions);
}

std::unique_ptr<CRuleBase> NewNameSimilarityRule() {
    return std::make_unique<CRuleNameSimilarity>();
}
std::unique_ptr<CRuleBase> NewPasswordSimilarityRule() {
    return std::make_unique<CRulePasswordSimilarity>();
}

std::unique_ptr<CRuleBase> CreateNameSimilarityRule(bool checkUsername, bool checkFullname) {
    return std::make_unique<CRuleNameSimilarity>(BuiltInNameSimilarityDescriptions(), checkUsername,
                                                 checkFullname);
}

std::unique_ptr<CRuleBase> CreatePasswordSimilarityRule(bool checkPassword) {
    return std::make_unique<CRulePasswordSimilarity>(BuiltInPasswordSimilarityDescriptions(), checkPassword);
}

}  // namespace korva
