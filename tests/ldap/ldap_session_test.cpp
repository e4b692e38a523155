// The platform's LDAP client against a real Active Directory domain controller (Samba, started by
// scripts/samba-fixture.sh in a network namespace; tests/directory/fixture.ldif says what it holds). The same
// tests run on Linux (libldap) and under Wine (wldap32).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "platform/ldap.h"
#include "tests/ldap/test_sockets.h"

namespace korva::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

const WString kDomainDn = KW("DC=corp,DC=example,DC=test");
const WString kDomainSid = KW("S-1-5-21-1000000001-2000000002-3000000003");
const WString kPolicyContainer = KW("CN=Valexor,CN=Quillmarsh,CN=Program Data,DC=corp,DC=example,DC=test");
const WString kAlice = KW("CN=Alice Archer,OU=East,OU=Sales,DC=corp,DC=example,DC=test");
const WString kBob = KW("CN=Bob Baker,OU=Sales,DC=corp,DC=example,DC=test");
const WString kCarol = KW("CN=Carol Clark,OU=Tools,OU=Engineering,DC=corp,DC=example,DC=test");
const WString kStaff = KW("CN=Staff,OU=Sales,DC=corp,DC=example,DC=test");

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string StatePath(const char* name) {
    return std::string(KORVA_SAMBA_STATE_DIR) + "/" + name;
}

std::string Bytes(const LdapValue& value) {
    return std::string(value.begin(), value.end());
}

LdapValue ToValue(std::string_view text) {
    return LdapValue(text.begin(), text.end());
}

LdapSettings ServerSettings() {
    LdapSettings settings;
    settings.host = KW("127.0.0.1");
    settings.budgetMs = 10000;
    settings.connectTimeoutMs = 5000;
    settings.operationTimeLimitMs = 5000;
    return settings;
}

LdapSettings BindSettings(const WString& name, std::string_view password) {
    LdapSettings settings = ServerSettings();
    settings.bindName = name;
    settings.password = SecretBytes(password);
    return settings;
}

LdapSettings AdminSettings() {
    return BindSettings(KW("Administrator@corp.example.test"), ReadFileBytes(StatePath("admin-password")));
}

class LdapSessionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(OpenLdapSession(AdminSettings(), &admin_), kLdapSuccess); }

    std::vector<WString> SearchDns(WStringView base, LdapScope scope, WStringView filter, int32_t* code) {
        std::vector<LdapEntry> entries;
        *code = admin_->Search(base, scope, filter, {KW("distinguishedName")}, &entries);
        std::vector<WString> dns;
        for (const LdapEntry& entry : entries) {
            dns.push_back(entry.dn);
        }
        std::sort(dns.begin(), dns.end());
        return dns;
    }

    // The one entry a subtree search from the domain finds for `filter`, with `attributes`.
    LdapEntry FindOne(WStringView filter, const std::vector<WString>& attributes) {
        std::vector<LdapEntry> entries;
        EXPECT_EQ(admin_->Search(kDomainDn, LdapScope::Subtree, filter, attributes, &entries), kLdapSuccess);
        EXPECT_EQ(entries.size(), 1u);
        return entries.empty() ? LdapEntry{} : entries.front();
    }

    std::unique_ptr<LdapSession> admin_;
};

struct BindCase {
    const char* name;
    const WChar* bindName;
    const char* password;  // null: the administrator's
    int32_t result;
    LdapBind bind = LdapBind::Simple;
};

const BindCase kBindCases[] = {
    {"administrator by UPN", KW("Administrator@corp.example.test"), nullptr, kLdapSuccess},
    {"administrator by DN", KW("CN=Administrator,CN=Users,DC=corp,DC=example,DC=test"), nullptr,
     kLdapSuccess},
    {"administrator by down-level name", KW("CORP\\Administrator"), nullptr, kLdapSuccess},
    {"ordinary user", KW("alice@corp.example.test"), "Alice-Pass-1", kLdapSuccess},
    {"user with a non-ASCII password", KW("dave@corp.example.test"), "D\xC3\xA1vid-Pass-4", kLdapSuccess},
    {"wrong password", KW("Administrator@corp.example.test"), "Korva-Admin-2", kLdapInvalidCredentials},
    {"unknown user", KW("nobody@corp.example.test"), "Nobody-Pass-1", kLdapInvalidCredentials},
    {"user who must change the password", KW("bob@corp.example.test"), "Bob-Pass-22",
     kLdapInvalidCredentials},
    {"anonymous", KW(""), "", kLdapSuccess, LdapBind::Anonymous},
};

TEST_F(LdapSessionTest, SimpleBindAcceptsEveryNameFormAndRefusesBadCredentials) {
    const std::string adminPassword = ReadFileBytes(StatePath("admin-password"));
    for (const BindCase& c : kBindCases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<LdapSession> session;
        LdapSettings settings = BindSettings(c.bindName, c.password ? c.password : adminPassword);
        settings.bind = c.bind;
        EXPECT_EQ(OpenLdapSession(settings, &session), c.result);
        // A session exists exactly when the bind worked.
        EXPECT_EQ(session != nullptr, c.result == kLdapSuccess);
    }
}

#if !defined(_WIN32)
TEST_F(LdapSessionTest, KerberosBindUsesTheCallersTicket) {
    // The fixture got alice a ticket (KRB5CCNAME); the service ticket is for the name connected to.
    LdapSettings settings = ServerSettings();
    settings.host = KW("dc1.corp.example.test");
    settings.bind = LdapBind::SaslGssapi;
    std::unique_ptr<LdapSession> session;
    ASSERT_EQ(OpenLdapSession(settings, &session), kLdapSuccess);
    std::vector<LdapEntry> entries;
    EXPECT_EQ(
        session->Search(kAlice, LdapScope::Base, KW("(objectClass=*)"), {KW("sAMAccountName")}, &entries),
        kLdapSuccess);
    ASSERT_EQ(entries.size(), 1u);
    // Signed in as alice, the server lets her modify nothing of the policy.
    EXPECT_EQ(session->Modify(KW("CN=QmhPasswordPolicy,") + kPolicyContainer,
                              {{LdapModOp::Replace, KW("msDS-ByteArray"), {ToValue("x")}}}),
              kLdapInsufficientRights);
}
#endif

struct SearchCase {
    const char* name;
    WString base;
    LdapScope scope;
    WString filter;
    int32_t result;
    std::vector<WString> dns;  // sorted
};

TEST_F(LdapSessionTest, SearchesFindExactlyTheExpectedEntries) {
    const WString sales = KW("OU=Sales,") + kDomainDn;
    const SearchCase cases[] = {
        {"base", sales, LdapScope::Base, KW("(objectClass=*)"), kLdapSuccess, {sales}},
        {"one level",
         sales,
         LdapScope::OneLevel,
         KW("(objectClass=*)"),
         kLdapSuccess,
         {kBob, kStaff, KW("OU=East,") + sales}},
        {"subtree", sales, LdapScope::Subtree, KW("(objectCategory=person)"), kLdapSuccess, {kAlice, kBob}},
        // From the domain root the server adds references to other partitions; they are dropped.
        {"subtree from the domain",
         kDomainDn,
         LdapScope::Subtree,
         KW("(sAMAccountName=alice)"),
         kLdapSuccess,
         {kAlice}},
        {"SID as base",
         KW("<SID=") + kDomainSid + KW("-1108>"),
         LdapScope::Base,
         KW("(objectClass=*)"),
         kLdapSuccess,
         {KW("CN=All,") + kDomainDn}},
        {"non-BMP text in the filter",
         kDomainDn,
         LdapScope::Subtree,
         KW("(displayName=D\u00E1vid \U0001D11E Nagy)"),
         kLdapSuccess,
         {KW("CN=Dave Nagy,CN=Users,") + kDomainDn}},
        // canonicalName is constructed: a filter on it never matches.
        {"filter on a constructed attribute",
         kDomainDn,
         LdapScope::Subtree,
         KW("(canonicalName=corp.example.test/Sales)"),
         kLdapSuccess,
         {}},
        {"missing base",
         KW("OU=Nowhere,") + kDomainDn,
         LdapScope::Base,
         KW("(objectClass=*)"),
         kLdapNoSuchObject,
         {}},
        {"malformed filter", kDomainDn, LdapScope::Subtree, KW("(cn="), kLdapFilterError, {}},
    };
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t code = -1;
        const std::vector<WString> dns = SearchDns(c.base, c.scope, c.filter, &code);
        EXPECT_EQ(code, c.result);
        EXPECT_EQ(dns, c.dns);
    }
}

struct ValueCase {
    const char* name;
    const WChar* filter;
    const WChar* attribute;
    bool askByName;     // false: ask for all ordinary attributes
    const char* value;  // UTF-8; null: the attribute must be absent
};

const ValueCase kValueCases[] = {
    {"canonical name when asked", KW("(sAMAccountName=alice)"), KW("canonicalName"), true,
     "corp.example.test/Sales/East/Alice Archer"},
    {"canonical name not sent unasked", KW("(sAMAccountName=alice)"), KW("canonicalName"), false, nullptr},
    // Samba leaves a "/" inside a name unescaped in the canonical name (Windows writes "\/").
    {"canonical name with a slash", KW("(sAMAccountName=erin)"), KW("canonicalName"), true,
     "corp.example.test/Engineering/Erin/Ops"},
    {"full name outside the BMP", KW("(sAMAccountName=dave)"), KW("displayName"), true,
     "D\xC3\xA1vid \xF0\x9D\x84\x9E Nagy"},
    {"attribute the object lacks", KW("(sAMAccountName=erin)"), KW("displayName"), true, nullptr},
};

TEST_F(LdapSessionTest, AttributeValuesArriveAsTheServerStoresThem) {
    for (const ValueCase& c : kValueCases) {
        SCOPED_TRACE(c.name);
        const std::vector<WString> attributes =
            c.askByName ? std::vector<WString>{c.attribute} : std::vector<WString>{};
        const LdapEntry entry = FindOne(c.filter, attributes);
        const LdapAttribute* attribute = entry.Find(c.attribute);
        if (c.value == nullptr) {
            EXPECT_EQ(attribute, nullptr);
            continue;
        }
        ASSERT_NE(attribute, nullptr);
        ASSERT_EQ(attribute->values.size(), 1u);
        EXPECT_EQ(Bytes(attribute->values[0]), c.value);
    }
}

TEST_F(LdapSessionTest, PolicyDocumentsReadBackByteForByte) {
    struct {
        const WChar* object;
        std::string expected;
    } const cases[] = {
        {KW("CN=QmhPasswordPolicy,"),
         ReadFileBytes(std::string(KORVA_FIXTURE_DATA_DIR) + "/policy-document.xml")},
        {KW("CN=QmhPasswordPolicyLarge,"), ReadFileBytes(StatePath("large-policy-document.xml"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.object));
        ASSERT_GT(c.expected.size(), 1000u);
        std::vector<LdapEntry> entries;
        ASSERT_EQ(admin_->Search(c.object + kPolicyContainer, LdapScope::Base, KW("(objectClass=*)"),
                                 {KW("msDS-ByteArray")}, &entries),
                  kLdapSuccess);
        ASSERT_EQ(entries.size(), 1u);
        const LdapAttribute* document = entries[0].Find(KW("msds-bytearray"));
        ASSERT_NE(document, nullptr);
        ASSERT_EQ(document->values.size(), 1u);
        EXPECT_EQ(document->values[0].size(), c.expected.size());
        EXPECT_TRUE(Bytes(document->values[0]) == c.expected);
    }
}

TEST_F(LdapSessionTest, PublishingCreatesAndReplacesABinaryValue) {
    // Unique per run, so that a test run against a fixture that was not restarted still starts clean.
    const WString name = KW("CN=Publish-") +
                         AsciiToWide(std::to_string(steady_clock::now().time_since_epoch().count())) +
                         KW(",");
    const WString dn = name + kPolicyContainer;
    // Every byte value, NULs included, at the largest size the attribute takes.
    LdapValue largest(1'000'000);
    for (size_t i = 0; i < largest.size(); ++i) {
        largest[i] = static_cast<uint8_t>((i * 7 + i / 256) & 0xFF);
    }
    const std::vector<LdapAttribute> object = {
        {KW("objectClass"), {ToValue("msDS-App-Configuration")}},
        {KW("msDS-ByteArray"), {largest}},
    };
    ASSERT_EQ(admin_->Add(dn, object), kLdapSuccess);

    const LdapValue small = ToValue(std::string("<PolicyList/>\0#1#", 17));
    const LdapValue tooLarge(1'000'001, 0x41);
    struct Step {
        const char* name;
        int32_t result;
        LdapValue stored;  // what the object holds afterwards
    };
    const Step steps[] = {
        {"created with the largest value", kLdapSuccess, largest},
        {"replaced by a small value with a NUL", kLdapSuccess, small},
        {"a value over the limit is refused, the old one stays", kLdapInvalidSyntax, small},
    };
    const LdapValue* replacements[] = {nullptr, &small, &tooLarge};
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(steps[i].name);
        if (replacements[i] != nullptr) {
            EXPECT_EQ(admin_->Modify(dn, {{LdapModOp::Replace, KW("msDS-ByteArray"), {*replacements[i]}}}),
                      steps[i].result);
        }
        std::vector<LdapEntry> entries;
        ASSERT_EQ(
            admin_->Search(dn, LdapScope::Base, KW("(objectClass=*)"), {KW("msDS-ByteArray")}, &entries),
            kLdapSuccess);
        ASSERT_EQ(entries.size(), 1u);
        ASSERT_NE(entries[0].Find(KW("msDS-ByteArray")), nullptr);
        EXPECT_TRUE(entries[0].Find(KW("msDS-ByteArray"))->values.at(0) == steps[i].stored);
    }

    // Refusals: the object exists already; a parent that does not exist; an object that does not exist.
    EXPECT_EQ(admin_->Add(dn, object), kLdapAlreadyExists);
    EXPECT_EQ(admin_->Add(name + KW("CN=Missing,") + kPolicyContainer, object), kLdapNoSuchObject);
    EXPECT_EQ(admin_->Modify(KW("CN=Missing,") + kPolicyContainer,
                             {{LdapModOp::Replace, KW("msDS-ByteArray"), {small}}}),
              kLdapNoSuchObject);
}

TEST_F(LdapSessionTest, OrdinaryUsersMayReadButNotWrite) {
    std::unique_ptr<LdapSession> alice;
    ASSERT_EQ(OpenLdapSession(BindSettings(KW("alice@corp.example.test"), "Alice-Pass-1"), &alice),
              kLdapSuccess);
    std::vector<LdapEntry> entries;
    EXPECT_EQ(alice->Search(KW("CN=QmhPasswordPolicy,") + kPolicyContainer, LdapScope::Base,
                            KW("(objectClass=*)"), {KW("msDS-ByteArray")}, &entries),
              kLdapSuccess);
    EXPECT_EQ(entries.size(), 1u);
    EXPECT_EQ(alice->Modify(KW("CN=QmhPasswordPolicy,") + kPolicyContainer,
                            {{LdapModOp::Replace, KW("msDS-ByteArray"), {ToValue("x")}}}),
              kLdapInsufficientRights);
    EXPECT_FALSE(alice->LastServerMessage().empty());
}

TEST_F(LdapSessionTest, ASpentBudgetStopsEveryLaterCallWithoutTheNetwork) {
    admin_->SetDeadline(steady_clock::now());
    std::vector<LdapEntry> entries(1);
    EXPECT_EQ(admin_->Search(kDomainDn, LdapScope::Base, KW("(objectClass=*)"), {}, &entries), kLdapTimeout);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(admin_->Modify(kDomainDn, {{LdapModOp::Replace, KW("description"), {ToValue("x")}}}),
              kLdapTimeout);
    EXPECT_EQ(admin_->Add(KW("CN=Never,") + kPolicyContainer, {{KW("objectClass"), {ToValue("container")}}}),
              kLdapTimeout);
    // A new deadline makes the session usable again.
    admin_->SetDeadline(steady_clock::now() + std::chrono::seconds(10));
    EXPECT_EQ(admin_->Search(kDomainDn, LdapScope::Base, KW("(objectClass=*)"), {}, &entries), kLdapSuccess);
}

struct UnreachableCase {
    const char* name;
    bool silent;  // a listener that never answers; otherwise a closed port
    LdapBind bind;
    uint32_t operationMs;
    uint32_t budgetMs;
    int32_t result;
};

const UnreachableCase kUnreachableCases[] = {
    {"closed port", false, LdapBind::Simple, 1000, 3000, kLdapServerDown},
    // Without a bind there is nothing to send, yet the session must not pretend to be connected.
    {"closed port, anonymous", false, LdapBind::Anonymous, 1000, 3000, kLdapServerDown},
    {"silent server, operation limit first", true, LdapBind::Simple, 700, 3000, kLdapTimeout},
    {"silent server, budget first", true, LdapBind::Simple, 10000, 1000, kLdapTimeout},
};

TEST(LdapUnreachableTest, FailsWithinTheBudget) {
    testing::SilentListener silent;
    ASSERT_NE(silent.port(), 0);
    for (const UnreachableCase& c : kUnreachableCases) {
        SCOPED_TRACE(c.name);
        LdapSettings settings = AdminSettings();
        settings.port = c.silent ? silent.port() : testing::ClosedPort();
        ASSERT_NE(settings.port, 0);
        settings.operationTimeLimitMs = c.operationMs;
        settings.budgetMs = c.budgetMs;
        settings.connectTimeoutMs = 1000;
        settings.bind = c.bind;
        std::unique_ptr<LdapSession> session;
        const auto start = steady_clock::now();
        EXPECT_EQ(OpenLdapSession(settings, &session), c.result);
        const auto elapsed = std::chrono::duration_cast<milliseconds>(steady_clock::now() - start).count();
        EXPECT_EQ(session, nullptr);
        // The smaller of the two limits, plus room for a loaded machine; far below what an unbounded
        // client waits (minutes).
        EXPECT_LT(elapsed, static_cast<long long>(std::min(c.operationMs, c.budgetMs)) + 1500);
    }
}

struct TlsCase {
    const char* name;
    LdapTransport transport;
    const WChar* host;
    bool verify;
    bool withCa;
    int32_t linuxResult;
    int32_t windowsResult;
};

// Samba's certificate is self-signed for dc1.corp.example.test. Wine's wldap32 encrypts but does not check
// certificates, and Windows has no per-connection authority file.
const TlsCase kTlsCases[] = {
    {"ldaps, checking off", LdapTransport::Ldaps, KW("127.0.0.1"), false, false, kLdapSuccess, kLdapSuccess},
    {"StartTLS, checking off", LdapTransport::StartTls, KW("127.0.0.1"), false, false, kLdapSuccess,
     kLdapSuccess},
    {"ldaps, unknown authority", LdapTransport::Ldaps, KW("dc1.corp.example.test"), true, false,
     kLdapServerDown, kLdapSuccess},
    {"ldaps, trusted authority and matching name", LdapTransport::Ldaps, KW("dc1.corp.example.test"), true,
     true, kLdapSuccess, kLdapNotSupported},
    {"StartTLS, trusted authority but an address for a name", LdapTransport::StartTls, KW("127.0.0.1"), true,
     true, kLdapConnectError, kLdapNotSupported},
};

TEST(LdapTlsTest, CertificateCheckingFollowsTheSettings) {
    for (const TlsCase& c : kTlsCases) {
        SCOPED_TRACE(c.name);
        LdapSettings settings = AdminSettings();
        settings.host = c.host;
        settings.transport = c.transport;
        settings.verifyCertificate = c.verify;
        if (c.withCa) {
            settings.caFile = AsciiToWide(StatePath("dc/private/tls/ca.pem"));
        }
        std::unique_ptr<LdapSession> session;
#if defined(_WIN32)
        const int32_t expected = c.windowsResult;
#else
        const int32_t expected = c.linuxResult;
#endif
        ASSERT_EQ(OpenLdapSession(settings, &session), expected);
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
