// The policy loader and validation on arbitrary bytes: any result, but no crash, leak, hang or contradiction.
#include <algorithm>

#include "infra/log.h"
#include "policy/policy_list.h"
#include "policy/scope.h"
#include "tests/fuzz/fuzz_require.h"
#include "tests/support/fake_clock.h"
#include "tests/policy/fake_directory.h"

namespace {

using namespace korva;

constexpr const WChar* kDomain = KW("corp.example.test");
constexpr const WChar* kUserSid = KW("S-1-5-21-1000000001-2000000002-3000000003-1104");
constexpr const WChar* kGroupSid = KW("S-1-5-21-1000000001-2000000002-3000000003-5101");
constexpr const WChar* kUserCanonical = KW("corp.example.test/Sales/John Smith");
constexpr const WChar* kUserDn = KW("CN=John Smith,OU=Sales,DC=corp,DC=example,DC=test");
constexpr const WChar* kGroupDn = KW("CN=Sales Staff,OU=Groups,DC=corp,DC=example,DC=test");

// John Smith in CORP, in Sales Staff: the corpus names both, so mutated documents reach the scope code.
void Populate(testing::FakeDirectory& directory) {
    directory.AddFlatDomain(KW("CORP"), kDomain);
    directory.SetJoinedDomain(KW("CORP"));
    directory.AddDomainController(KW("CORP"));
    directory.AddUserSid(kDomain, KW("jsmith"), kUserSid);
    directory.AddAccount(kUserSid, KW("jsmith"), KW("CORP"));
    directory.AddAccount(kGroupSid, KW("Sales Staff"), KW("CORP"), kSidTypeGroup);
    directory.AddCrackedName(kDsCanonicalName, kUserSid, kUserCanonical);
    directory.AddCrackedName(kDsUserPrincipalName, kUserSid, KW("jsmith@corp.example.test"));
    directory.AddCrackedName(kDsCanonicalName, kGroupSid, KW("corp.example.test/Groups/Sales Staff"));
    directory.AddCanonicalName(kUserCanonical, kUserDn);
    directory.AddCanonicalName(KW("corp.example.test/Groups/Sales Staff"), kGroupDn);
    directory.AddObject(kUserDn)
        .SetUserProperty(UserProperty::FirstName, KW("John"))
        .SetUserProperty(UserProperty::LastName, KW("Smith"))
        .SetUserProperty(UserProperty::FullName, KW("John Smith"))
        .SetText(KW("sAMAccountName"), KW("JSMITH"))
        .SetLargeInteger(KW("pwdLastSet"), 132223104000000000)
        .SetTexts(KW("memberOf"), {kGroupDn});
    directory.AddObject(kGroupDn, false).SetTexts(KW("memberOf"), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    testing::FakeClock clock;
    clock.now = 133500000000000000;  // January 2024
    platform::ScopedClockOverride clockOverride(&clock);
    testing::FakeDirectory directory;
    Populate(directory);

    cGjLog log;
    CPolicylist list;
    const int32_t loaded =
        list.LoadFromDocumentBytes(log, std::string_view(reinterpret_cast<const char*>(data), size), kDomain);
    if (loaded != 0) {
        Require(list.empty());
        return 0;
    }

    CScope user;
    Require(user.CreateUserScope(log, KW("jsmith"), kDomain) == 0);
    CPolicy* applicable = nullptr;
    const int32_t found = list.GetApplicablePolicy(log, user, &applicable);
    Require((found == 0) == (applicable != nullptr));
    Require(found == 0 || found == -4 || found == -5);

    for (const auto& policy : list) {
        Require(policy != nullptr);
        std::vector<WString> descriptions;
        Require(policy->GetRuleDescriptions(log, &descriptions, 9) == 0);
        const auto& rules = policy->GetRules();
        Require(descriptions.size() ==
                static_cast<size_t>(std::count_if(rules.begin(), rules.end(), [](const auto& r) {
                    return r != nullptr && r->IsEnabled();
                })));
        // The verdict is the conjunction of the per-rule results; a test run to the end has one per enabled rule.
        for (const auto& [newPassword, oldPassword] :
             {std::pair<const WChar*, const WChar*>{KW("Tr0ub4dor&3x"), KW("Summer#2023!")},
              {KW(""), nullptr}}) {
            bool verdict = false;
            WString feedback;
            std::vector<bool> results;
            const int32_t result =
                policy->TestPassword(log, &verdict, &user, newPassword, oldPassword, &feedback, &results, 7);
            Require(result == 0 ? results.size() == descriptions.size()
                                : results.size() < descriptions.size());
            Require(verdict == (std::find(results.begin(), results.end(), false) == results.end()));
            Require(feedback.compare(0, 2, KW("\r\n")) == 0);
        }
    }
    return 0;
}
