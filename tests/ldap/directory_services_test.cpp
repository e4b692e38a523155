// Questions to the fixture's controller and to its ldapsearch export: each row's answer must come from both.
#include <gtest/gtest.h>

#include <chrono>

#include "directory/directory.h"
#include "directory/ldap_backend.h"
#include "directory/ldif_directory.h"
#include "platform/format.h"
#include "policy/policy_list.h"
#include "policy/rule_similarity.h"
#include "policy/scope.h"
#include "tests/ldap/samba_support.h"
#include "tests/policy/test_support.h"

namespace korva {
namespace {

using testing::U8;

const WString kSid = KW("S-1-5-21-1000000001-2000000002-3000000003");
constexpr const WChar* kDomain = KW("corp.example.test");
constexpr const WChar* kOther = KW("other.example.test");
constexpr const WChar* kJoined = KW("");  // as a query's domain: none, the joined domain is meant

// A group scope reached through a membership cycle (Ring-B holds Ring-A, which holds carol and Ring-B).
constexpr const WChar* kRingDocument =
    KW("<PolicyList version=\"1.8.0.1037\"><Policy name=\"Ring\"><Configuration>0</Configuration>"
       "<Scope type=\"1\"><SID>S-1-5-21-1000000001-2000000002-3000000003-1110</SID>"
       "<CanonicalName>corp.example.test/Engineering/Ring-B</CanonicalName></Scope></Policy>"
       "<Policy name=\"Rest\"><Configuration>0</Configuration><Scope type=\"3\"><SID>corp.example.test</SID>"
       "</Scope></Policy></PolicyList>");
// The minimum-age rule against the users' pwdLastSet.
constexpr const WChar* kAgeDocument =
    KW("<PolicyList version=\"1.8.0.1037\"><Policy name=\"Age\"><Configuration>0</Configuration>"
       "<Rule type=\"1\"><Enabled>1</Enabled><MinimumAge>60</MinimumAge></Rule>"
       "<Scope type=\"3\"><SID>corp.example.test</SID></Scope></Policy></PolicyList>");

LdapBackendSettings BackendSettings() {
    LdapBackendSettings settings;
    settings.connection = testing::AdminSettings();
    settings.dnsDomain = kDomain;
    return settings;
}

enum class Q { Joined, Dns, Sid, SidByName, Account, Dn, Document, Scope, Applying, Decide, Names };

// A question: a user or a name; a password or a domain; a policy document in place of the domain's own.
struct Query {
    Q kind;
    const WChar* a = nullptr;
    const WChar* b = nullptr;
    const WChar* c = nullptr;
};

// A user scope and a policy list: the domain's own document, or `document` instead.
struct Engine {
    Engine(cGjLog& log, const WChar* userName, const WChar* document = nullptr,
           const WChar* domain = kDomain) {
        code = user.CreateUserScope(log, userName, domain);
        if (code == 0) {
            code = document != nullptr ? policies.LoadFromXML(log, document)
                                       : policies.LoadFromDirectory(log, kDomain);
        }
    }
    CScope user;
    CPolicylist policies;
    int32_t code = 0;
};

std::string Answer(int32_t code, const WString& text) {
    return std::to_string(code) + " " + U8(text);
}

// The answer as "code text".
std::string Ask(cGjLog& log, const Query& q) {
    WString out;
    int32_t code = 0;
    const WChar* domain = q.b == nullptr ? kDomain : q.b == kJoined ? nullptr : q.b;
    switch (q.kind) {
        case Q::Joined:
            return Answer(Dir().GetJoinedDomain(log, &out), out);
        case Q::Dns:
            return Answer(Dir().FlatToDnsDomain(log, q.a, &out), out);
        case Q::Sid:
            return Answer(Dir().GetUserSid(log, domain, q.a, &out), out);
        case Q::SidByName:
            return Answer(Dir().GetSidStringByLookupName(log, q.a, &out), out);
        case Q::Account: {
            SidBytes sid;
            WString account;
            WString flat;
            uint32_t use = 0;
            (void)Dir().StringToSid(q.a, &sid);
            code = Dir().LookupAccountBySid(log, sid, &account, &flat, &use);
            out = Format(KW("%s\\%s|%u"), flat.c_str(), account.c_str(), use);
            break;
        }
        case Q::Dn:
            return Answer(Dir().CanonicalToDistinguishedName(log, q.a, &out), out);
        case Q::Document: {  // the length and the last characters
            WString text;
            code = CPolicylist::FetchPolicyDocument(log, q.a, &text);
            out = Format(KW("%u|%s"), static_cast<unsigned>(text.size()),
                         text.substr(text.size() < 13 ? 0 : text.size() - 13).c_str());
            break;
        }
        case Q::Scope: {
            Engine engine(log, q.a, nullptr, domain);
            code = engine.code;
            const CScope& s = engine.user;
            out = Format(KW("%s|%s|%s"), s.GetSID(), s.GetCanonicalName(), s.GetName());
            break;
        }
        case Q::Applying: {  // every policy that applies, in document order
            Engine engine(log, q.a, q.c);
            code = engine.code;
            for (const auto& policy : engine.policies) {
                bool applies = false;
                if (code == 0 && policy->AppliesTo(log, engine.user, &applies) == 0 && applies) {
                    out += Format(KW("%s|"), policy->GetName());
                }
            }
            break;
        }
        case Q::Decide: {  // what the change-password screen decides: the policy and each rule's verdict
            Engine engine(log, q.a, q.c);
            CPolicy* policy = nullptr;
            code = engine.code != 0 ? engine.code
                                    : engine.policies.GetApplicablePolicy(log, engine.user, &policy);
            bool verdict = false;
            std::vector<bool> results;
            if (code == 0) {
                code = policy->TestPassword(log, &verdict, &engine.user, q.b, nullptr, nullptr, &results,
                                            kLangEnglish);
                out = Format(KW("%s|"), policy->GetName());
                for (const bool passed : results) {
                    out += passed ? u'+' : u'-';
                }
                out += verdict ? KW("|accepted") : KW("|refused");
            }
            break;
        }
        case Q::Names: {
            Engine engine(log, q.a, KW("<PolicyList/>"));
            UserNames n;
            code = GetUserNames(log, CRuleNameSimilarity({}, true, true), &engine.user, &n);
            out = n.logonName + KW("|") + n.firstName + KW("|") + n.lastName + KW("|") + n.fullName +
                  KW("|") + n.accountName;
            break;
        }
    }
    return Answer(code, out);
}

// "$S" in an expected answer stands for the domain's SID, "$D" for ",DC=corp,DC=example,DC=test".
std::string Expand(std::string text) {
    for (size_t at = text.find('$'); at != std::string::npos; at = text.find('$', at))
        text.replace(at, 2, text[at + 1] == 'S' ? U8(kSid) : ",DC=corp,DC=example,DC=test");
    return text;
}

TEST(DirectoryQueriesTest, ServerAndSnapshotGiveTheExpectedAnswers) {
    const std::string aliceScope =
        "0 $S-1102|corp.example.test/Sales/East/Alice Archer|alice@corp.example.test";
    const std::pair<Query, std::string> rows[] = {
        {{Q::Joined}, "0 CORP"},
        {{Q::Dns, KW("CORP")}, "0 corp.example.test"},
        {{Q::Dns, KW("OTHER")}, "1355 "},
        {{Q::Sid, KW("dave")}, "0 $S-1105"},  // a full name outside the BMP
        {{Q::Sid, KW("alice@corp.example.test")}, "0 $S-1102"},
        {{Q::SidByName, KW("BUILTIN\\Administrators")}, "0 S-1-5-32-544"},
        {{Q::Account, KW("S-1-5-21-1000000001-2000000002-3000000003-1102")}, "0 CORP\\alice|1"},
        {{Q::Account, KW("S-1-5-21-1000000001-2000000002-3000000003-1108")}, "0 CORP\\All|2"},
        {{Q::Account, KW("S-1-5-32-544")}, "0 BUILTIN\\Administrators|4"},
        {{Q::Account, KW("S-1-5-21-1000000001-2000000002-3000000003-9999")}, "1332 \\|0"},
        {{Q::Dn, KW("corp.example.test/Sales/East/Alice Archer")}, "0 CN=Alice Archer,OU=East,OU=Sales$D"},
        {{Q::Dn, KW("corp.example.test/Engineering")}, "0 OU=Engineering$D"},
        {{Q::Dn, KW("corp.example.test/Users/Dave Nagy")}, "0 CN=Dave Nagy,CN=Users$D"},
        {{Q::Dn, KW("corp.example.test/Engineering/Erin\\/Ops")}, "0 CN=Erin/Ops,OU=Engineering$D"},
        {{Q::Dn, KW("corp.example.test/Sales/Nobody")}, std::to_string(kResultNameNotCracked) + " "},
        {{Q::Document, kDomain}, "0 3286|</PolicyList>"},
        {{Q::Document, kOther}, "-2147016656 0|"},
        {{Q::Scope, KW("alice")}, aliceScope},
        {{Q::Scope, KW("alice"), kOther}, aliceScope},  // found by the account look-up
        {{Q::Scope, KW("erin")}, "0 $S-1106|corp.example.test/Engineering/Erin\\/Ops|erin@corp.example.test"},
        {{Q::Scope, KW("carol"), kJoined},
         "0 $S-1104|corp.example.test/Engineering/Tools/Carol Clark|carol@corp.example.test"},
        {{Q::Scope, KW("nobody")}, "1332 (null)|(null)|(null)"},
        {{Q::Applying, KW("alice")}, "0 Alice|Everyone in All|Sales|Domain default|"},
        {{Q::Applying, KW("bob")}, "0 Everyone in All|Sales|Domain default|"},
        {{Q::Applying, KW("carol")}, "0 Everyone in All|Domain default|"},
        {{Q::Applying, KW("dave")}, "0 Domain default|"},
        {{Q::Applying, KW("carol"), nullptr, kRingDocument}, "0 Ring|Rest|"},
        {{Q::Applying, KW("bob"), nullptr, kRingDocument}, "0 Rest|"},
        {{Q::Decide, KW("alice"), KW("Short-Pass-1")}, "0 Alice|-|refused"},
        {{Q::Decide, KW("bob"), KW("Password1!")}, "0 Everyone in All|--|refused"},
        {{Q::Decide, KW("bob"), KW("BobBaker-2026")}, "0 Everyone in All|++|accepted"},
        {{Q::Decide, KW("dave"), KW("Daaave-Pass")}, "0 Domain default|+-|refused"},
        {{Q::Decide, KW("erin"), KW("Erin-Pass-1")}, "0 Domain default|++|accepted"},
        {{Q::Decide, KW("nobody"), KW("Any-Pass-1")}, "1332 "},
        {{Q::Decide, KW("bob"), KW("x"), kAgeDocument}, "0 Age|+|accepted"},   // pwdLastSet 0
        {{Q::Decide, KW("carol"), KW("x"), kAgeDocument}, "0 Age|-|refused"},  // pwdLastSet -1
        {{Q::Decide, KW("alice"), KW("x"), kAgeDocument}, "0 Age|-|refused"},  // set just now
        {{Q::Names, KW("alice")}, "0 alice|Alice|Archer|Alice Archer|alice"},
        {{Q::Names, KW("dave")}, "0 dave|D\xC3\xA1vid|Nagy|D\xC3\xA1vid \xF0\x9D\x84\x9E Nagy|dave"},
        {{Q::Names, KW("erin")}, "0 erin|Erin|Ops||erin"},
    };
    LdapDirectoryBackend server(BackendSettings());
    std::unique_ptr<LdifDirectory> snapshot;
    ldif::ParseError error;
    ASSERT_EQ(LdifDirectory::Load(testing::ReadState("export.ldif"), ldif::Limits{}, &snapshot, &error), 0)
        << error.ToString();
    LdapDirectoryBackend offline(BackendSettings(), std::move(snapshot));
    for (const auto& [query, expected] : rows) {
        SCOPED_TRACE(std::to_string(static_cast<int>(query.kind)) + " " + U8(query.a ? query.a : KW("")));
        for (DirectoryBackend* backend :
             {static_cast<DirectoryBackend*>(&server), static_cast<DirectoryBackend*>(&offline)}) {
            ScopedDirectoryBackend installed(backend);
            testing::CapturedLog log;
            EXPECT_EQ(Ask(log.log, query), Expand(expected)) << (backend == &server ? "server" : "snapshot");
        }
    }
}

// Dead and silent servers: every question fails, each backend call within the budget (a scope takes three).
TEST(DirectoryQueriesTest, UnreachableServersFailWithinTheBudget) {
    const uint16_t silent = testing::SilentPort();
    ASSERT_NE(silent, 0);
    const std::pair<Query, int> rows[] = {
        {{Q::Dns, KW("CORP")}, 1}, {{Q::Scope, KW("alice")}, 3}, {{Q::Document, kDomain}, 1}};
    for (const uint16_t port : {testing::kClosedPort, silent}) {
        LdapBackendSettings settings = BackendSettings();
        settings.connection.port = port;
        settings.connection.connectTimeoutMs = 500;
        settings.connection.operationTimeLimitMs = 500;
        settings.connection.budgetMs = 1000;
        LdapDirectoryBackend backend(std::move(settings));
        ScopedDirectoryBackend installed(&backend);
        for (const auto& [query, calls] : rows) {
            SCOPED_TRACE(std::to_string(port) + ", calls " + std::to_string(calls));
            testing::CapturedLog log;
            const auto start = std::chrono::steady_clock::now();
            EXPECT_NE(Ask(log.log, query).substr(0, 2), "0 ");
            EXPECT_LT(std::chrono::steady_clock::now() - start,
                      std::chrono::milliseconds(calls * 1000 + 1500));
        }
    }
}

}  // namespace
}  // namespace korva
