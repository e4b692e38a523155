// The blacklist rule: its test, its XML form and its built-in texts.
#include "policy/rule_blacklist.h"

#include <utility>

#include "infra/log.h"
#include "platform/format.h"
#include "policy/load_report.h"
#include "xml/xml_dom.h"
#include "regex/check_string.h"

namespace korva {
namespace {

struct DescriptionRow {
    uint32_t language;
    const WChar* text;
};

constexpr DescriptionRow kDescriptions[] = {
    {9, KW("The password may not be part of the black list.")},
    {19, KW("Het wachtwoord mag niet op de zwarte lijst staan.")},
    {12, KW("Le mot de passe ne peut pas faire partir de la liste des mots exclus.")},
    {7, KW("Das Passwort darf nicht auf der Blackliste stehen.")},
    {10, KW("La contraseña no puede ser parte de la lista negra.")},
    {21, KW("Hasło nie może się znajdować na czarnej liście.")},
    {16, KW("La password non può appartenere alla lista nera.")},
    {22, KW("A senha não pode estar incluída na lista negra.")},
    {5, KW("Heslo nesmí být na seznamu zakázaných slov.")},
    {4, KW("密码不得是黑名单的一部分。")},
    {25, KW("Пароль не может быть частью черного списка.")},
    {11, KW("Salasana ei saa olla mustalla listalla.")},
    {14, KW("A jelszó nem lehet része a fekete listának.")},
};

int32_t StringLength32(const WChar* text) {
    return static_cast<int32_t>(WLen(text));
}

}  // namespace

DescriptionMap BuiltInBlackListDescriptions() {
    DescriptionMap map;
    for (const DescriptionRow& row : kDescriptions)
        map[row.language] = row.text;
    return map;
}

std::unique_ptr<CRuleBase> CRuleBlackList::Clone() const {
    auto copy = std::make_unique<CRuleBlackList>();
    CopyBaseTo(*copy);
    copy->interpretation_ = interpretation_;
    copy->items_ = items_;
    return copy;
}

int32_t CRuleBlackList::Test(cGjLog& log, bool* valid, CScope* /*userScope*/, const WChar* newPassword,
                             const WChar* /*reserved*/, const WChar* /*oldPassword*/) {
    if (interpretation_ == kBlackListExpressions)
        return TestExpressions(log, newPassword, valid);
    // Any other interpretation is a misconfiguration; reading the list as words still refuses what is listed,
    // can never fail to evaluate and never refuses every password.
    return TestWords(newPassword, valid);
}

int32_t CRuleBlackList::TestWords(const WChar* newPassword, bool* valid) const {
    *valid = false;
    const WStringView password = newPassword != nullptr ? WStringView(newPassword) : WStringView();
    for (const WString& item : items_) {
        if (EqualsNoCaseAscii(item, password))
            return 0;
    }
    *valid = true;
    return 0;
}

int32_t CRuleBlackList::TestExpressions(cGjLog& log, const WChar* newPassword, bool* valid) const {
    if (newPassword == nullptr || newPassword[0] == 0) {
        *valid = true;
        return 0;
    }
    *valid = false;
    for (const WString& item : items_) {
        // An empty entry holds no expression; searching for it would refuse every password.
        if (item.empty())
            continue;
        bool matched = false;
        const int32_t result = CheckStringWithRegEx(newPassword, StringLength32(newPassword), item.c_str(),
                                                    StringLength32(item.c_str()), &matched);
        if (result != 0) {
            log.LogWithCode(kLogError, result,
                            KW("An error occurred while evalutating blacklist expression '%s'"),
                            item.c_str());
            return result;
        }
        if (matched)
            return 0;
    }
    *valid = true;
    return 0;
}

int32_t CRuleBlackList::LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version) {
    items_.clear();

    return LoadChildren(
        log, element, version, KW("An error occurred getting rule data."), KW("Load rule data from XML."),
        [&](const WString& name, const xml::Node& child, int32_t& walked) -> std::optional<int32_t> {
            if (name != KW("Blacklist"))
                return std::nullopt;

            WString interpretation;
            int32_t hr = child.GetAttribute(KW("Interpretation"), &interpretation);
            if (hr != kSOk && hr != kSFalse) {
                // The load ends here with what it has so far; the shared children are not read.
                log.LogHResult(kLogError, hr, KW("Failed to get interpretation attribute."));
                return walked;
            }
            if (hr != 0)
                return kResultInvalidValue;  // "Interpretation" is required
            int32_t value = 0;
            if (StringToInt(interpretation.c_str(), &value)) {
                interpretation_ = value;
                log.LogMessage(kLogDebug,
                               KW("Successfully determined if interpretation type of blacklist rule."));
            } else {
                ReportNotANumber(child, KW("Interpretation"), interpretation,
                                 [this] { return Format(KW("%d (unchanged)"), interpretation_); });
                log.LogWithCode(
                    kLogError, kResultInvalidValue,
                    KW("Failed to convert value of interpretation attribute of blacklist rule to integer."));
            }

            std::vector<xml::Node> items;
            hr = child.GetChildNodes(&items);
            if (hr != kSOk) {
                log.LogHResult(kLogError, hr, KW("An error occurred getting blacklist items."));
                return hr;
            }
            log.LogMessage(kLogDebug, KW("Load blacklist items from XML."));
            bool itemsStopped = false;
            const int32_t itemsResult =
                WalkNamedChildren(log, items,
                                  TextsOf(log, KW("Item"), KW("Failed to get value of item node."),
                                          KW("Successfully added blacklist item."),
                                          [this](WString&& text) { items_.push_back(std::move(text)); }),
                                  &itemsStopped);
            if (itemsStopped)
                return itemsResult;
            if (itemsResult != 0)
                walked = itemsResult;
            return std::nullopt;
        });
}

std::unique_ptr<CRuleBase> NewBlackListRule() {
    return std::make_unique<CRuleBlackList>();
}

std::unique_ptr<CRuleBase> CreateBlackListRule(int32_t interpretation) {
    return std::make_unique<CRuleBlackList>(BuiltInBlackListDescriptions(), interpretation);
}

}  // namespace korva
