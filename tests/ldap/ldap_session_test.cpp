// The platform's LDAP client (libldap, or wldap32 under Wine) against the fixture's Samba domain controller.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <tuple>

#include "tests/directory/ldif_test_support.h"
#include "tests/ldap/samba_support.h"

namespace korva::platform {
namespace {

using std::chrono::steady_clock;
#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif
using testing::AdminSettings;
using testing::Value;

const WString kDomainDn = KW("DC=corp,DC=example,DC=test");
const WString kPolicy = KW("CN=QmhPasswordPolicy,CN=Valexor,CN=Quillmarsh,CN=Program Data,") + kDomainDn;
const WString kAlice = KW("CN=Alice Archer,OU=East,OU=Sales,") + kDomainDn;

class LdapSessionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(OpenLdapSession(AdminSettings(), &admin_), kLdapSuccess); }

    // The DNs found, without the domain's own part, sorted and joined by "|".
    std::string SearchDns(const WString& base, LdapScope scope, WStringView filter, int32_t* code) {
        std::vector<LdapEntry> entries;
        *code = admin_->Search(base, scope, filter, {KW("distinguishedName")}, &entries);
        std::set<std::string> dns;  // sorted
        for (const LdapEntry& entry : entries) {
            dns.insert(Utf16ToUtf8(entry.dn.substr(0, entry.dn.find(KW(",DC=")))));
        }
        std::string joined;
        for (const std::string& dn : dns) {
            joined += (joined.empty() ? "" : "|") + dn;
        }
        return joined;
    }

    std::unique_ptr<LdapSession> admin_;
};

TEST_F(LdapSessionTest, SimpleBindAcceptsEveryNameFormAndRefusesBadCredentials) {
    // Bind name, password (null: the administrator's; empty: an anonymous bind), result.
    const std::tuple<const WChar*, const char*, int32_t> cases[] = {
        {KW("Administrator@corp.example.test"), nullptr, kLdapSuccess},
        {KW("CN=Administrator,CN=Users,DC=corp,DC=example,DC=test"), nullptr, kLdapSuccess},
        {KW("CORP\\Administrator"), nullptr, kLdapSuccess},
        {KW("alice@corp.example.test"), "Alice-Pass-1", kLdapSuccess},
        {KW("dave@corp.example.test"), "D\xC3\xA1vid-Pass-4", kLdapSuccess},  // a non-ASCII password
        {KW("Administrator@corp.example.test"), "Korva-Admin-2", kLdapInvalidCredentials},
        {KW("bob@corp.example.test"), "Bob-Pass-22", kLdapInvalidCredentials},  // must change the password
        {KW(""), "", kLdapSuccess},
#if !defined(_WIN32)
        // Kerberos with the ticket the fixture got alice; the service ticket is for the name connected to.
        {nullptr, nullptr, kLdapSuccess},
#endif
    };
    for (const auto& [name, password, result] : cases) {
        SCOPED_TRACE(Utf16ToUtf8(name ? name : KW("(Kerberos)")));
        std::unique_ptr<LdapSession> session;
        LdapSettings settings = AdminSettings();
        if (name != nullptr)
            settings.bindName = name;
        settings.password = SecretBytes(password ? password : testing::ReadState("admin-password"));
        settings.bind = name == nullptr                 ? LdapBind::SaslGssapi
                        : password && *password == '\0' ? LdapBind::Anonymous
                                                        : LdapBind::Simple;
        settings.host = name ? settings.host : KW("dc1.corp.example.test");
        EXPECT_EQ(OpenLdapSession(settings, &session), result);
        EXPECT_EQ(session != nullptr, result == kLdapSuccess);
        if (session && (name == nullptr || (password && *password != '\0'))) {  // may not change the policy
            EXPECT_EQ(session->Modify(kPolicy, {{LdapModOp::Replace, KW("msDS-ByteArray"), {Value("x")}}}),
                      kLdapInsufficientRights);
            EXPECT_FALSE(session->LastServerMessage().empty());
        }
    }
}

TEST_F(LdapSessionTest, SearchesFindExactlyTheExpectedEntries) {
    const WString sales = KW("OU=Sales,") + kDomainDn;
    using enum LdapScope;
    const std::tuple<WString, LdapScope, const WChar*, int32_t, const char*> cases[] = {
        {sales, Base, KW("(objectClass=*)"), kLdapSuccess, "OU=Sales"},
        {sales, OneLevel, KW("(objectClass=*)"), kLdapSuccess,
         "CN=Bob Baker,OU=Sales|CN=Staff,OU=Sales|OU=East,OU=Sales"},
        {sales, Subtree, KW("(objectCategory=person)"), kLdapSuccess,
         "CN=Alice Archer,OU=East,OU=Sales|CN=Bob Baker,OU=Sales"},
        // From the domain root the server adds references to other partitions; they are dropped.
        {kDomainDn, Subtree, KW("(sAMAccountName=alice)"), kLdapSuccess, "CN=Alice Archer,OU=East,OU=Sales"},
        {KW("<SID=S-1-5-21-1000000001-2000000002-3000000003-1108>"), Base, KW("(objectClass=*)"),
         kLdapSuccess, "CN=All"},
        {kDomainDn, Subtree, KW("(displayName=D\u00E1vid \U0001D11E Nagy)"), kLdapSuccess,
         "CN=Dave Nagy,CN=Users"},
        {KW("OU=Nowhere,") + kDomainDn, Base, KW("(objectClass=*)"), kLdapNoSuchObject, ""},
        {kDomainDn, Subtree, KW("(cn="), kLdapFilterError, ""},
    };
    for (const auto& [base, scope, filter, result, dns] : cases) {
        SCOPED_TRACE(Utf16ToUtf8(base) + " " + Utf16ToUtf8(filter));
        int32_t code = -1;
        EXPECT_EQ(SearchDns(base, scope, filter, &code), dns);
        EXPECT_EQ(code, result);
    }
}

TEST_F(LdapSessionTest, PublishingCreatesAndReplacesABinaryValue) {
    // Unique per run, so that a test run against a fixture that was not restarted still starts clean.
    const WString container = KW("CN=Valexor,CN=Quillmarsh,CN=Program Data,") + kDomainDn;
    const WString name =
        KW("CN=Publish-") + AsciiToWide(std::to_string(steady_clock::now().time_since_epoch().count()));
    const WString dn = name + KW(",") + container;
    // Every byte value, NULs included, at the largest size the attribute takes.
    LdapValue largest(1'000'000);
    for (size_t i = 0; i < largest.size(); ++i) {
        largest[i] = static_cast<uint8_t>((i * 7 + i / 256) & 0xFF);
    }
    const std::vector<LdapAttribute> object = {{KW("objectClass"), {Value("msDS-App-Configuration")}},
                                               {KW("msDS-ByteArray"), {largest}}};
    ASSERT_EQ(admin_->Add(dn, object), kLdapSuccess);
    const LdapValue small = Value(std::string("<PolicyList/>\0#1#", 17));
    const LdapValue tooLarge(1'000'001, 0x41);
    // The replacement (null: none, the value Add stored), the result, what the object holds afterwards.
    const std::tuple<const LdapValue*, int32_t, const LdapValue*> steps[] = {
        {nullptr, kLdapSuccess, &largest},
        {&small, kLdapSuccess, &small},
        {&tooLarge, kLdapInvalidSyntax, &small}};
    for (const auto& [replacement, result, stored] : steps) {
        SCOPED_TRACE(stored->size());
        if (replacement != nullptr) {
            EXPECT_EQ(admin_->Modify(dn, {{LdapModOp::Replace, KW("msDS-ByteArray"), {*replacement}}}),
                      result);
        }
        std::vector<LdapEntry> entries;
        ASSERT_EQ(
            admin_->Search(dn, LdapScope::Base, KW("(objectClass=*)"), {KW("msDS-ByteArray")}, &entries),
            kLdapSuccess);
        ASSERT_EQ(entries.size(), 1u);
        const LdapAttribute* value = entries[0].Find(KW("msds-bytearray"));  // names match in any case
        ASSERT_NE(value, nullptr);
        EXPECT_TRUE(value->values.at(0) == *stored);
    }
    // Refusals: the object exists already; a parent that does not exist; an object that does not exist.
    EXPECT_EQ(admin_->Add(dn, object), kLdapAlreadyExists);
    EXPECT_EQ(admin_->Add(name + KW(",CN=Missing,") + container, object), kLdapNoSuchObject);
    EXPECT_EQ(
        admin_->Modify(KW("CN=Missing,") + container, {{LdapModOp::Replace, KW("msDS-ByteArray"), {small}}}),
        kLdapNoSuchObject);
}

TEST_F(LdapSessionTest, ASpentBudgetStopsEveryLaterCallWithoutTheNetwork) {
    admin_->SetDeadline(steady_clock::now());
    std::vector<LdapEntry> entries(1);
    EXPECT_EQ(admin_->Search(kDomainDn, LdapScope::Base, KW("(objectClass=*)"), {}, &entries), kLdapTimeout);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(admin_->Modify(kDomainDn, {{LdapModOp::Replace, KW("description"), {Value("x")}}}),
              kLdapTimeout);
    EXPECT_EQ(admin_->Add(KW("CN=Never,") + kDomainDn, {{KW("objectClass"), {Value("container")}}}),
              kLdapTimeout);
    // A new deadline makes the session usable again.
    admin_->SetDeadline(steady_clock::now() + std::chrono::seconds(10));
    EXPECT_EQ(admin_->Search(kDomainDn, LdapScope::Base, KW("(objectClass=*)"), {}, &entries), kLdapSuccess);
}

TEST(LdapUnreachableTest, FailsWithinTheBudget) {
    const uint16_t silent = testing::SilentPort();
    ASSERT_NE(silent, 0);
    // Port, bind, operation limit, budget, result; an anonymous bind sends nothing, yet must fail too.
    const std::tuple<uint16_t, LdapBind, uint32_t, uint32_t, int32_t> cases[] = {
        {testing::kClosedPort, LdapBind::Simple, 1000, 3000, kLdapServerDown},
        {testing::kClosedPort, LdapBind::Anonymous, 1000, 3000, kLdapServerDown},
        {silent, LdapBind::Simple, 700, 3000, kLdapTimeout},
        {silent, LdapBind::Simple, 10000, 1000, kLdapTimeout},
    };
    for (const auto& [port, bind, operationMs, budgetMs, result] : cases) {
        SCOPED_TRACE(std::to_string(port) + " " + std::to_string(operationMs));
        LdapSettings settings = AdminSettings();
        settings.port = port;
        settings.operationTimeLimitMs = operationMs;
        settings.budgetMs = budgetMs;
        settings.connectTimeoutMs = 1000;
        settings.bind = bind;
        std::unique_ptr<LdapSession> session;
        const auto start = steady_clock::now();
        EXPECT_EQ(OpenLdapSession(settings, &session), result);
        EXPECT_EQ(session, nullptr);
        // The smaller limit plus room for a loaded machine; far below what an unbounded client waits.
        EXPECT_LT(steady_clock::now() - start,
                  std::chrono::milliseconds(std::min(operationMs, budgetMs) + 1500));
    }
}

TEST(LdapTlsTest, CertificateCheckingFollowsTheSettings) {
    // Samba's certificate is self-signed for dc1.corp.example.test. Wine's wldap32 encrypts but does not
    // check certificates, and Windows has no per-connection authority file.
    const WChar* const name = KW("dc1.corp.example.test");
    const WChar* const address = KW("127.0.0.1");
    using enum LdapTransport;
    // Transport, host, checking on, with the authority's file; the result on Linux and on Windows.
    const std::tuple<LdapTransport, const WChar*, bool, bool, int32_t, int32_t> cases[] = {
        {Ldaps, address, false, false, kLdapSuccess, kLdapSuccess},
        {StartTls, address, false, false, kLdapSuccess, kLdapSuccess},
        {Ldaps, name, true, false, kLdapServerDown, kLdapSuccess},  // unknown authority
        {Ldaps, name, true, true, kLdapSuccess, kLdapNotSupported},
        {StartTls, address, true, true, kLdapConnectError, kLdapNotSupported},  // name mismatch
    };
    for (const auto& [transport, host, verify, withCa, linuxResult, windowsResult] : cases) {
        SCOPED_TRACE(Utf16ToUtf8(host) + (verify ? " verified" : "") + (withCa ? " with CA" : ""));
        LdapSettings settings = AdminSettings();
        settings.host = host;
        settings.transport = transport;
        settings.verifyCertificate = verify;
        settings.caFile = withCa ? AsciiToWide(testing::StatePath("dc/private/tls/ca.pem")) : WString();
        std::unique_ptr<LdapSession> session;
        ASSERT_EQ(OpenLdapSession(settings, &session), kWindows ? windowsResult : linuxResult);
        if (session) {
            std::vector<LdapEntry> entries;
            EXPECT_EQ(session->Search(kAlice, LdapScope::Base, KW("(objectClass=*)"), {KW("sAMAccountName")},
                                      &entries),
                      kLdapSuccess);
            EXPECT_EQ(entries.size(), 1u);
        }
    }
}

}  // namespace
}  // namespace korva::platform
