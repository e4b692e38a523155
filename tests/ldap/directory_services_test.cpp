// Every question the name services and the policy engine ask of a domain, asked of the fixture's domain
// controller through the LDAP backend and of a snapshot of that same domain through the snapshot backend
// (export.ldif: the fixture exports it with ldapsearch right after populating the domain). Each row must give
// its expected answer from both, so the snapshot answers exactly as the server does.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>

#include "directory/directory.h"
#include "directory/ldap_backend.h"
#include "directory/ldif_directory.h"
#include "policy/policy_list.h"
#include "policy/rule_similarity.h"
#include "policy/scope.h"
#include "tests/ldap/test_sockets.h"
#include "tests/policy/test_support.h"

namespace korva {
namespace {

using testing::U8;

const WString kSid = KW("S-1-5-21-1000000001-2000000002-3000000003");
constexpr const WChar* kDomain = KW("corp.example.test");

std::string ReadState(const char* name) {
    std::ifstream in(std::string(KORVA_SAMBA_STATE_DIR) + "/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

LdapBackendSettings BackendSettings() {
    LdapBackendSettings settings;
    settings.connection.host = KW("127.0.0.1");
    settings.connection.bindName = KW("Administrator@corp.example.test");
    settings.connection.password = platform::SecretBytes(ReadState("admin-password"));
    // Room for a loaded machine: a call that times out would show as a wrong answer.
    settings.connection.connectTimeoutMs = 5000;
    settings.connection.operationTimeLimitMs = 5000;
    settings.connection.budgetMs = 10000;
    settings.dnsDomain = kDomain;
    return settings;
}

std::string Answer(int32_t code, const std::string& text = "") {
    return std::to_string(code) + " " + text;
}

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

std::string UserScope(cGjLog& log, const WChar* user, const WChar* domain = kDomain) {
    Engine engine(log, user, nullptr, domain);
    const CScope& s = engine.user;
    return Answer(engine.code, U8(s.GetSID()) + "|" + U8(s.GetCanonicalName()) + "|" + U8(s.GetName()));
}

// Every policy that applies to `user`, in document order.
std::string Applying(cGjLog& log, const WChar* user, const WChar* document = nullptr) {
    Engine engine(log, user, document);
    std::string names;
    for (const auto& policy : engine.policies) {
        bool applies = false;
        if (engine.code == 0 && policy->AppliesTo(log, engine.user, &applies) == 0 && applies) {
            names += U8(policy->GetName()) + "|";
        }
    }
    return Answer(engine.code, names);
}

// What the change-password screen decides: the applicable policy and each rule's verdict (+ passed).
std::string Decide(cGjLog& log, const WChar* user, const WChar* password, const WChar* document = nullptr) {
    Engine engine(log, user, document);
    CPolicy* policy = nullptr;
    int32_t code =
        engine.code != 0 ? engine.code : engine.policies.GetApplicablePolicy(log, engine.user, &policy);
    if (code != 0) {
        return Answer(code);
    }
    bool verdict = false;
    std::vector<bool> results;
    code =
        policy->TestPassword(log, &verdict, &engine.user, password, nullptr, nullptr, &results, kLangEnglish);
    std::string rules;
    for (const bool passed : results) {
        rules += passed ? '+' : '-';
    }
    return Answer(code, U8(policy->GetName()) + "|" + rules + (verdict ? "|accepted" : "|refused"));
}

std::string Groups(cGjLog& log, const WString& dn) {
    GroupSet groups;
    const int32_t code = EnumerateGroups(log, dn.c_str(), groups);
    std::string text;
    for (const WString& group : groups) {
        text += U8(group) + "|";
    }
    return Answer(code, text);
}

std::string Names(cGjLog& log, const WChar* user) {
    Engine engine(log, user, KW("<PolicyList/>"));
    const CRuleNameSimilarity rule({}, true, true);
    UserNames n;
    const int32_t code = GetUserNames(log, rule, &engine.user, &n);
    return Answer(code, U8(n.logonName) + "|" + U8(n.firstName) + "|" + U8(n.lastName) + "|" +
                            U8(n.fullName) + "|" + U8(n.accountName));
}

std::string DnsOf(cGjLog& log, const WChar* flat) {
    WString dns;
    const int32_t code = Dir().FlatToDnsDomain(log, flat, &dns);
    return Answer(code, U8(dns));
}

std::string SidOf(cGjLog& log, const WChar* user, const WChar* domain = kDomain) {
    WString sid;
    const int32_t code = Dir().GetUserSid(log, domain, user, &sid);
    return Answer(code, U8(sid));
}

std::string AccountOf(cGjLog& log, const WString& sidText) {
    SidBytes sid;
    WString account;
    WString domain;
    uint32_t use = 0;
    (void)Dir().StringToSid(sidText.c_str(), &sid);
    const int32_t code = Dir().LookupAccountBySid(log, sid, &account, &domain, &use);
    return Answer(code, U8(domain) + "\\" + U8(account) + "|" + std::to_string(use));
}

std::string DnOf(cGjLog& log, const WChar* canonical) {
    WString dn;
    const int32_t code = Dir().CanonicalToDistinguishedName(log, canonical, &dn);
    return Answer(code, U8(dn));
}

std::string Document(cGjLog& log, const WChar* domain) {
    WString text;
    const int32_t code = CPolicylist::FetchPolicyDocument(log, domain, &text);
    return Answer(
        code, std::to_string(text.size()) + "|" + U8(text.substr(text.size() < 13 ? 0 : text.size() - 13)));
}

// Policy documents of the engine rows: a group scope reached through a membership cycle (Ring-B holds Ring-A,
// which holds carol and Ring-B), and the minimum-age rule against the users' pwdLastSet.
constexpr const WChar* kRingDocument =
    KW("<PolicyList version=\"1.8.0.1037\"><Policy name=\"Ring\"><Configuration>0</Configuration>"
       "<Scope type=\"1\"><SID>S-1-5-21-1000000001-2000000002-3000000003-1110</SID>"
       "<CanonicalName>corp.example.test/Engineering/Ring-B</CanonicalName></Scope></Policy>"
       "<Policy name=\"Rest\"><Configuration>0</Configuration><Scope type=\"3\"><SID>corp.example.test</SID>"
       "</Scope></Policy></PolicyList>");
constexpr const WChar* kAgeDocument =
    KW("<PolicyList version=\"1.8.0.1037\"><Policy name=\"Age\"><Configuration>0</Configuration>"
       "<Rule type=\"1\"><Enabled>1</Enabled><MinimumAge>60</MinimumAge></Rule>"
       "<Scope type=\"3\"><SID>corp.example.test</SID></Scope></Policy></PolicyList>");

struct Row {
    const char* name;
    std::function<std::string(cGjLog&)> query;
    std::string expected;
};

std::vector<Row> Rows() {
    const std::string sid = U8(kSid);
    const std::string alice = "CN=Alice Archer,OU=East,OU=Sales,DC=corp,DC=example,DC=test";
    const std::string all = "CN=All,DC=corp,DC=example,DC=test";
    const std::string staff = "CN=Staff,OU=Sales,DC=corp,DC=example,DC=test";
    const std::string eng = "OU=Engineering,DC=corp,DC=example,DC=test";
    return {
        {"joined domain",
         [](cGjLog& l) {
             WString f;
             const int32_t code = Dir().GetJoinedDomain(l, &f);
             return Answer(code, U8(f));
         },
         "0 CORP"},
        {"flat name", [](cGjLog& l) { return DnsOf(l, KW("CORP")); }, "0 corp.example.test"},
        {"unknown flat name", [](cGjLog& l) { return DnsOf(l, KW("OTHER")); }, "1355 "},
        {"SID by account", [](cGjLog& l) { return SidOf(l, KW("alice")); }, "0 " + sid + "-1102"},
        {"SID, non-BMP full name", [](cGjLog& l) { return SidOf(l, KW("dave")); }, "0 " + sid + "-1105"},
        {"SID by UPN", [](cGjLog& l) { return SidOf(l, KW("alice@corp.example.test")); },
         "0 " + sid + "-1102"},
        {"SID of nobody", [](cGjLog& l) { return SidOf(l, KW("nobody")); }, "1332 "},
        {"SID in unknown domain: account look-up",
         [](cGjLog& l) { return SidOf(l, KW("alice"), KW("other.example.test")); }, "0 " + sid + "-1102"},
        {"account of user", [&](cGjLog& l) { return AccountOf(l, kSid + KW("-1102")); }, "0 CORP\\alice|1"},
        {"account of group", [&](cGjLog& l) { return AccountOf(l, kSid + KW("-1108")); }, "0 CORP\\All|2"},
        {"account of nothing", [&](cGjLog& l) { return AccountOf(l, kSid + KW("-9999")); }, "1332 \\|0"},
        {"DN of user", [](cGjLog& l) { return DnOf(l, KW("corp.example.test/Sales/East/Alice Archer")); },
         "0 " + alice},
        {"DN of OU", [](cGjLog& l) { return DnOf(l, KW("corp.example.test/Engineering")); },
         "0 OU=Engineering,DC=corp,DC=example,DC=test"},
        {"DN in Users", [](cGjLog& l) { return DnOf(l, KW("corp.example.test/Users/Dave Nagy")); },
         "0 CN=Dave Nagy,CN=Users,DC=corp,DC=example,DC=test"},
        {"DN with escaped slash",
         [](cGjLog& l) { return DnOf(l, KW("corp.example.test/Engineering/Erin\\/Ops")); },
         "0 CN=Erin/Ops,OU=Engineering,DC=corp,DC=example,DC=test"},
        {"DN of nothing", [](cGjLog& l) { return DnOf(l, KW("corp.example.test/Sales/Nobody")); },
         std::to_string(kResultNameNotCracked) + " "},
        {"policy document", [](cGjLog& l) { return Document(l, kDomain); }, "0 3286|</PolicyList>"},
        {"policy document of unknown domain", [](cGjLog& l) { return Document(l, KW("other.example.test")); },
         "-2147016656 0|"},
        {"scope of alice", [](cGjLog& l) { return UserScope(l, KW("alice")); },
         "0 " + sid + "-1102|corp.example.test/Sales/East/Alice Archer|alice@corp.example.test"},
        {"scope of erin", [](cGjLog& l) { return UserScope(l, KW("erin")); },
         "0 " + sid + "-1106|corp.example.test/Engineering/Erin\\/Ops|erin@corp.example.test"},
        {"scope in joined domain", [](cGjLog& l) { return UserScope(l, KW("carol"), nullptr); },
         "0 " + sid + "-1104|corp.example.test/Engineering/Tools/Carol Clark|carol@corp.example.test"},
        {"scope of nobody", [](cGjLog& l) { return UserScope(l, KW("nobody")); },
         "1332 (null)|(null)|(null)"},
        {"scope in unknown domain",
         [](cGjLog& l) { return UserScope(l, KW("alice"), KW("other.example.test")); },
         "0 " + sid + "-1102|corp.example.test/Sales/East/Alice Archer|alice@corp.example.test"},
        {"nested groups", [alice](cGjLog& l) { return Groups(l, Utf8ToUtf16(alice)); },
         "-2147463155 " + alice + "|" + all + "|" + staff + "|"},
        {"cyclic groups",
         [](cGjLog& l) {
             return Groups(l, KW("CN=Carol Clark,OU=Tools,OU=Engineering,DC=corp,DC=example,DC=test"));
         },
         "0 " + all + "|CN=Carol Clark,OU=Tools," + eng + "|CN=Ring-A," + eng + "|CN=Ring-B," + eng + "|"},
        {"policies of alice", [](cGjLog& l) { return Applying(l, KW("alice")); },
         "0 Alice|Everyone in All|Sales|Domain default|"},
        {"policies of bob", [](cGjLog& l) { return Applying(l, KW("bob")); },
         "0 Everyone in All|Sales|Domain default|"},
        {"policies of carol", [](cGjLog& l) { return Applying(l, KW("carol")); },
         "0 Everyone in All|Domain default|"},
        {"policies of dave", [](cGjLog& l) { return Applying(l, KW("dave")); }, "0 Domain default|"},
        {"policies of erin", [](cGjLog& l) { return Applying(l, KW("erin")); }, "0 Domain default|"},
        {"group through a cycle", [](cGjLog& l) { return Applying(l, KW("carol"), kRingDocument); },
         "0 Ring|Rest|"},
        {"outside the cycle", [](cGjLog& l) { return Applying(l, KW("bob"), kRingDocument); }, "0 Rest|"},
        {"test alice", [](cGjLog& l) { return Decide(l, KW("alice"), KW("Short-Pass-1")); },
         "0 Alice|-|refused"},
        {"test bob", [](cGjLog& l) { return Decide(l, KW("bob"), KW("Password1!")); },
         "0 Everyone in All|--|refused"},
        {"test bob, accepted", [](cGjLog& l) { return Decide(l, KW("bob"), KW("BobBaker-2026")); },
         "0 Everyone in All|++|accepted"},
        {"test dave", [](cGjLog& l) { return Decide(l, KW("dave"), KW("Daaave-Pass")); },
         "0 Domain default|+-|refused"},
        {"test erin", [](cGjLog& l) { return Decide(l, KW("erin"), KW("Erin-Pass-1")); },
         "0 Domain default|++|accepted"},
        {"test nobody", [](cGjLog& l) { return Decide(l, KW("nobody"), KW("Any-Pass-1")); }, "1332 "},
        {"minimum age, pwdLastSet 0", [](cGjLog& l) { return Decide(l, KW("bob"), KW("x"), kAgeDocument); },
         "0 Age|+|accepted"},
        {"minimum age, pwdLastSet -1",
         [](cGjLog& l) { return Decide(l, KW("carol"), KW("x"), kAgeDocument); }, "0 Age|-|refused"},
        {"minimum age, set now", [](cGjLog& l) { return Decide(l, KW("alice"), KW("x"), kAgeDocument); },
         "0 Age|-|refused"},
        {"names of alice", [](cGjLog& l) { return Names(l, KW("alice")); },
         "0 alice|Alice|Archer|Alice Archer|alice"},
        {"names outside the BMP", [](cGjLog& l) { return Names(l, KW("dave")); },
         "0 dave|D\xC3\xA1vid|Nagy|D\xC3\xA1vid \xF0\x9D\x84\x9E Nagy|dave"},
        {"names of erin", [](cGjLog& l) { return Names(l, KW("erin")); }, "0 erin|Erin|Ops||erin"},
    };
}

TEST(DirectoryQueriesTest, ServerAndSnapshotGiveTheExpectedAnswers) {
    LdapDirectoryBackend server(BackendSettings());
    std::unique_ptr<LdifDirectory> snapshot;
    ldif::ParseError error;
    ASSERT_EQ(LdifDirectory::Load(ReadState("export.ldif"), ldif::Limits{}, &snapshot, &error), 0)
        << error.ToString();
    LdapDirectoryBackend offline(BackendSettings(), std::move(snapshot));
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        for (DirectoryBackend* backend :
             {static_cast<DirectoryBackend*>(&server), static_cast<DirectoryBackend*>(&offline)}) {
            ScopedDirectoryBackend installed(backend);
            testing::CapturedLog log;
            const std::string got = row.query(log.log);
            EXPECT_EQ(got, row.expected) << (backend == &server ? "server" : "snapshot");
        }
    }
}

// Every call of a backend shares one session; one the server has dropped is opened again by the next call.
TEST(DirectoryQueriesTest, OneSessionIsKeptAndReopenedAfterADrop) {
    struct Session final : platform::LdapSession {
        std::unique_ptr<platform::LdapSession> inner;  // null once dropped
        int32_t Search(WStringView base, platform::LdapScope scope, WStringView filter,
                       const std::vector<WString>& attributes,
                       std::vector<platform::LdapEntry>* out) override {
            out->clear();
            return inner ? inner->Search(base, scope, filter, attributes, out) : kLdapServerDown;
        }
        int32_t Add(WStringView dn, const std::vector<platform::LdapAttribute>& attributes) override {
            return inner ? inner->Add(dn, attributes) : kLdapServerDown;
        }
        int32_t Modify(WStringView dn, const std::vector<platform::LdapModification>& changes) override {
            return inner ? inner->Modify(dn, changes) : kLdapServerDown;
        }
        void SetDeadline(platform::LdapDeadline deadline) override {
            if (inner) {
                inner->SetDeadline(deadline);
            }
        }
        WString LastServerMessage() const override { return inner ? inner->LastServerMessage() : WString(); }
    };
    struct Counting final : platform::LdapConnector {
        int32_t Open(const platform::LdapSettings& settings,
                     std::unique_ptr<platform::LdapSession>* out) override {
            ++opens;
            auto session = std::make_unique<Session>();
            const int32_t result = platform::Ldap().Open(settings, &session->inner);
            if (result == 0) {
                last = session.get();
                *out = std::move(session);
            }
            return result;
        }
        int opens = 0;
        Session* last = nullptr;
    } connector;
    LdapDirectoryBackend backend(BackendSettings(), &connector);
    ScopedDirectoryBackend installed(&backend);
    testing::CapturedLog log;
    const std::string accepted = "0 Everyone in All|++|accepted";
    EXPECT_EQ(Decide(log.log, KW("bob"), KW("BobBaker-2026")), accepted);
    EXPECT_EQ(Decide(log.log, KW("bob"), KW("BobBaker-2026")), accepted);
    EXPECT_EQ(connector.opens, 1);
    ASSERT_NE(connector.last, nullptr);
    connector.last->inner.reset();                                         // the server closes the connection
    EXPECT_EQ(AccountOf(log.log, kSid + KW("-1102")), "0 CORP\\alice|1");  // a call without a fallback
    EXPECT_EQ(connector.opens, 2);
}

// A dead server and one that accepts connections but never answers: every question fails, each backend call
// within the budget (a service may make several: GetUserSid tries three ways).
TEST(DirectoryQueriesTest, UnreachableServersFailWithinTheBudget) {
    testing::SilentListener silent;
    ASSERT_NE(silent.port(), 0);
    const struct {
        const char* name;
        std::function<std::string(cGjLog&)> query;
        int calls;
    } rows[] = {
        {"flat name", [](cGjLog& l) { return DnsOf(l, KW("CORP")); }, 1},
        {"user scope", [](cGjLog& l) { return UserScope(l, KW("alice")); }, 3},
        {"policy document", [](cGjLog& l) { return Document(l, kDomain); }, 1},
    };
    for (const uint16_t port : {testing::ClosedPort(), silent.port()}) {
        LdapBackendSettings settings = BackendSettings();
        settings.connection.port = port;
        settings.connection.connectTimeoutMs = 500;
        settings.connection.operationTimeLimitMs = 500;
        settings.connection.budgetMs = 1000;
        LdapDirectoryBackend backend(std::move(settings));
        ScopedDirectoryBackend installed(&backend);
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (port == silent.port() ? ", silent" : ", dead"));
            testing::CapturedLog log;
            const auto start = std::chrono::steady_clock::now();
            const std::string answer = row.query(log.log);
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
            EXPECT_NE(answer.substr(0, 2), "0 ");
            EXPECT_LT(ms, row.calls * 1000 + 1500);
        }
    }
}

}  // namespace
}  // namespace korva
