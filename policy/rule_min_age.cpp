#include "policy/rule_min_age.h"

#include <limits>

#include "directory/directory.h"
#include "infra/date_version.h"
#include "infra/log.h"
#include "policy/load_report.h"
#include "platform/format.h"
#include "policy/scope.h"

namespace korva {

namespace {

struct Template {
    uint32_t language;
    const WChar* text;
};

constexpr Template kTemplates[] = {
    {kLangEnglish, KW("The password must be at least %d minutes old.")},
    {kLangDutch, KW("Het wachtwoord moet minimaal %d minuten oud zijn.")},
    {kLangFrench, KW("Le mot de passe doit avoir au minimum %d minutes d'ancienneté.")},
    {kLangGerman, KW("Das Passwort muss mindestens %d Minuten alt sein.")},
    {kLangSpanish, KW("La contraseña debe existir al menos %d minutos.")},
    {kLangPolish, KW("Hasło ma być co najmniej %d minut stare.")},
    {kLangItalian, KW("La password deve essere stata creata almeno da %d minuti.")},
    {kLangPortuguese, KW("A senha deve ter pelo menos %d de existência.")},
    {kLangCzech, KW("Heslo musí být nejméně %d minut staré.")},
    {kLangChinese, KW("密码创建后至少超过%d分钟。")},
    {kLangRussian, KW("Пароль должен быть в использовании не менее %d минут.")},
    {kLangFinnish, KW("Salasanan on oltava vähintään %d minuutin ikäinen.")},
    {kLangHungarian, KW("A jelszónak legalább %d percesnek kell lennie.")},
};

constexpr int64_t kMinutesPerDay = 1440;
constexpr int64_t kTicksPerMinute = platform::kFileTimeTicksPerSecond * 60;

const WChar* OrEmpty(const WChar* text) {
    return text != nullptr ? text : KW("");
}

}  // namespace

DescriptionMap MinimumAgeDescriptions(int32_t minutes) {
    DescriptionMap map;
    for (const Template& entry : kTemplates) {
        map[entry.language] = Format(entry.text, minutes);
    }
    return map;
}

bool MinimumAgeIsInDays(const WChar* version) {
    // The release that changed the unit to minutes.
    static const CVersionParser kMinutesSince(1, 8, 0, 1037);
    return kMinutesSince.CompareWithText(version) > 0;
}

std::unique_ptr<CRuleBase> CRuleHistoryMinimumAge::Clone() const {
    auto copy = std::make_unique<CRuleHistoryMinimumAge>();
    CopyBaseTo(*copy);
    copy->minimumMinutes_ = minimumMinutes_;
    return copy;
}

int32_t CRuleHistoryMinimumAge::Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword,
                                     const WChar* reserved, const WChar* oldPassword) {
    (void)newPassword;
    (void)reserved;
    (void)oldPassword;
    *valid = false;
    const platform::SystemTime now = platform::NowUtcSystemTime();
    platform::SystemTime lastSet;
    const int32_t status = ReadPasswordLastSet(log, userScope, &lastSet);
    if (status != 0) {
        log.LogWithCode(kLogError, status, KW("Failed to get last password changed date/time."));
        return status;
    }
    // Whole minutes, truncated toward zero: a password set in the future has a negative age.
    const int64_t ageMinutes = TimeDifference(now, lastSet) / kTicksPerMinute;
    *valid = ageMinutes >= static_cast<int64_t>(minimumMinutes_);
    log.LogMessage(kLogDebug, KW("Checking minium age rule, password valid = %s\r"),
                   *valid ? KW("TRUE") : KW("FALSE"));
    return 0;
}

int32_t CRuleHistoryMinimumAge::ReadPasswordLastSet(cGjLog& log, const CScope* userScope,
                                                    platform::SystemTime* lastSet) {
    *lastSet = platform::SystemTime{};
    const WChar* canonicalName = userScope != nullptr ? userScope->GetCanonicalName() : nullptr;
    Directory& directory = Dir();
    WString distinguishedName;
    int32_t status = directory.CanonicalToDistinguishedName(log, OrEmpty(canonicalName), &distinguishedName);
    if (status != 0) {
        log.LogWithCode(kLogError, status, KW("Failed to convert canonical name '%s' to distinguished name."),
                        canonicalName);
        return status;
    }
    const WString path = Format(KW("LDAP://%s"), distinguishedName.c_str());
    log.LogMessage(kLogDebug, KW("Created LDAP query: %s"), path.c_str());

    std::unique_ptr<DirectoryObject> user;
    status = directory.BindObject(path.c_str(), ObjectInterface::User, &user);
    if (status != 0 || user == nullptr) {
        status = status != 0 ? status : kEFail;
        log.LogHResult(kLogError, status, KW("Failed to bind user object in Active Directoy."));
        return status;
    }
    status = user->GetInfo();
    if (status != 0) {
        log.LogHResult(kLogError, status, KW("Failed to load property cache of bound object."));
        return status;
    }
    AttributeValue value;
    status = user->Get(KW("pwdLastSet"), &value);
    if (status != 0) {
        log.LogHResult(kLogError, status,
                       KW("Unable to get time and date of last password change from bound object."));
        return status;
    }
    int64_t fileTime = 0;
    if (value.kind == AttributeValue::Kind::LargeInteger) {
        fileTime = value.largeInteger;
    } else if (value.kind == AttributeValue::Kind::Object) {
        log.LogHResult(kLogError, kENoInterface, KW("Unable to query interface of pwdLastSet object."));
        return kENoInterface;
    }
    // Any other kind of value counts as 0: 1601-01-01, an age of centuries.
    if (!platform::FileTimeToSystemTime(fileTime, lastSet)) {
        log.LogWithCode(kLogError, kResultTimeConversion, KW("Unable to convert date object to systemtime."));
        return kResultTimeConversion;
    }
    log.LogMessage(kLogDebug, KW("Retrieved time and date of last password change from bound object."));
    return 0;
}

int32_t CRuleHistoryMinimumAge::LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) {
    static constexpr IntegerChildTexts kTexts = {
        KW("MinimumAge"),
        KW("An error occurred getting minimum password age rule data."),
        nullptr,
        KW("Failed to get value of minimum password age node."),
        KW("Failed to convert value of minimum password age to integer."),
    };
    minimumMinutes_ = kDefaultMinutes;
    const bool inDays = MinimumAgeIsInDays(version);
    return LoadIntegerChild(
        log, element, version, kTexts,
        [&](int32_t value) {
            int64_t minutes = value;
            if (inDays) {
                // A day count too large for 32 bits of minutes is held at the largest age, never wrapped.
                minutes *= kMinutesPerDay;
                if (minutes > std::numeric_limits<int32_t>::max()) {
                    minutes = std::numeric_limits<int32_t>::max();
                } else if (minutes < std::numeric_limits<int32_t>::min()) {
                    minutes = std::numeric_limits<int32_t>::min();
                }
                log.LogMessage(
                    kLogDebug,
                    KW("Successfully converted the minimum password age in days to minimum password age "
                       "in minutes."));
            }
            minimumMinutes_ = static_cast<int32_t>(minutes);
            log.LogMessage(kLogDebug, KW("Successfully set value of minimum password age."));
        },
        [&] {
            minimumMinutes_ = kDefaultMinutes;
            return Format(KW("%d minutes (the default)"), minimumMinutes_);
        });
}

}  // namespace korva
