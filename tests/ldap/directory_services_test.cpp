// The name and identity services over the LDAP backend, against the real domain controller of the fixture:
// the same code that runs over the Windows directory APIs on a domain member, answered by LDAP searches.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "directory/directory.h"
#include "directory/ldap_backend.h"
#include "tests/policy/test_support.h"

namespace korva {
namespace {

const WString kSid = KW("S-1-5-21-1000000001-2000000002-3000000003");

std::string AdminPassword() {
    std::ifstream in(std::string(KORVA_SAMBA_STATE_DIR) + "/admin-password", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

LdapBackendSettings BackendSettings() {
    LdapBackendSettings settings;
    settings.connection.host = KW("127.0.0.1");
    settings.connection.bindName = KW("Administrator@corp.example.test");
    settings.connection.password = platform::SecretBytes(AdminPassword());
    settings.dnsDomain = KW("corp.example.test");
    return settings;
}

class DirectoryServicesTest : public ::testing::Test {
  protected:
    LdapDirectoryBackend backend_{BackendSettings()};
    Directory directory_{backend_};
    testing::CapturedLog log_;
};

TEST_F(DirectoryServicesTest, DomainNames) {
    WString flat;
    ASSERT_EQ(directory_.GetJoinedDomain(log_.log, &flat), 0) << log_.Dump();
    EXPECT_EQ(flat, KW("CORP"));
    struct Row {
        const WChar* flat;
        int32_t result;
        const WChar* dns;
    };
    const Row rows[] = {
        {KW("CORP"), 0, KW("corp.example.test")},
        {KW("OTHER"), 1355, KW("")},  // ERROR_NO_SUCH_DOMAIN: the locator knows no such domain
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(Utf16ToUtf8(r.flat));
        WString dns = KW("stale");
        EXPECT_EQ(directory_.FlatToDnsDomain(log_.log, r.flat, &dns), r.result) << log_.Dump();
        EXPECT_EQ(dns, r.dns);
    }
}

TEST_F(DirectoryServicesTest, UserSids) {
    struct Row {
        const WChar* user;
        int32_t result;  // 0, or nonzero for "some failure"
        WString sid;
    };
    const Row rows[] = {
        {KW("alice"), 0, kSid + KW("-1102")},
        // A full name outside the Basic Multilingual Plane does not disturb the look-up by account name.
        {KW("dave"), 0, kSid + KW("-1105")},
        {KW("alice@corp.example.test"), 0, kSid + KW("-1102")},
        {KW("nobody"), 1, KW("")},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(Utf16ToUtf8(r.user));
        WString sid = KW("stale");
        const int32_t result = directory_.GetUserSid(log_.log, KW("corp.example.test"), r.user, &sid);
        if (r.result == 0) {
            EXPECT_EQ(result, 0) << log_.Dump();
        } else {
            EXPECT_NE(result, 0) << log_.Dump();
        }
        EXPECT_EQ(sid, r.sid);
    }
}

TEST_F(DirectoryServicesTest, AccountsBehindSids) {
    struct Row {
        WString sid;
        int32_t result;
        const WChar* account;
        const WChar* domain;
        uint32_t use;
    };
    const Row rows[] = {
        {kSid + KW("-1102"), 0, KW("alice"), KW("CORP"), kSidTypeUser},
        {kSid + KW("-1108"), 0, KW("All"), KW("CORP"), kSidTypeGroup},
        {kSid + KW("-9999"), 1332, KW(""), KW(""), 0},  // ERROR_NONE_MAPPED
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(Utf16ToUtf8(r.sid));
        SidBytes sid;
        ASSERT_EQ(directory_.StringToSid(r.sid.c_str(), &sid), 0);
        WString account;
        WString domain;
        uint32_t use = 0;
        EXPECT_EQ(directory_.LookupAccountBySid(log_.log, sid, &account, &domain, &use), r.result)
            << log_.Dump();
        EXPECT_EQ(account, r.account);
        EXPECT_EQ(domain, r.domain);
        EXPECT_EQ(use, r.use);
    }
}

TEST_F(DirectoryServicesTest, CanonicalNamesToDistinguishedNames) {
    struct Row {
        const WChar* canonical;
        int32_t result;
        const WChar* dn;
    };
    const Row rows[] = {
        {KW("corp.example.test/Sales/East/Alice Archer"), 0,
         KW("CN=Alice Archer,OU=East,OU=Sales,DC=corp,DC=example,DC=test")},
        {KW("corp.example.test/Engineering"), 0, KW("OU=Engineering,DC=corp,DC=example,DC=test")},
        {KW("corp.example.test/Users/Dave Nagy"), 0, KW("CN=Dave Nagy,CN=Users,DC=corp,DC=example,DC=test")},
        // A "/" inside a name is written "\/" in a canonical name.
        {KW("corp.example.test/Engineering/Erin\\/Ops"), 0,
         KW("CN=Erin/Ops,OU=Engineering,DC=corp,DC=example,DC=test")},
        {KW("corp.example.test/Sales/Nobody"), kResultNameNotCracked, KW("")},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(Utf16ToUtf8(r.canonical));
        WString dn = KW("stale");
        EXPECT_EQ(directory_.CanonicalToDistinguishedName(log_.log, r.canonical, &dn), r.result)
            << log_.Dump();
        EXPECT_EQ(dn, r.dn);
    }
}

}  // namespace
}  // namespace korva
