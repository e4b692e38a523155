// The shipped example domain (examples/corp.ldif) loads, carries examples/policies.xml byte for byte, and
// holds the objects that the example policies' scopes name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "directory/ldif_directory.h"
#include "tests/directory/ldif_test_support.h"

namespace korva::testing {
namespace {

using platform::LdapEntry;
using platform::LdapScope;

constexpr const WChar* kDomain = KW("DC=corp,DC=example,DC=com");

class ExampleDomainTest : public ::testing::Test {
  protected:
    void SetUp() override { LoadDirectory("corp.ldif", &directory_, &session_); }

    // The values of `attribute` of the entries `filter` finds below the domain, as text joined with "|".
    std::string Values(const char* filter, const WChar* attribute) {
        std::vector<LdapEntry> out;
        EXPECT_EQ(session_->Search(kDomain, LdapScope::Subtree, Utf8ToUtf16(filter), {attribute}, &out), 0)
            << filter;
        std::string text;
        for (const LdapEntry& e : out) {
            const platform::LdapAttribute* a = e.Find(attribute);
            for (size_t i = 0; a != nullptr && i < a->values.size(); ++i) {
                text += (text.empty() ? "" : "|") + std::string(a->values[i].begin(), a->values[i].end());
            }
        }
        return text;
    }

    std::unique_ptr<LdifDirectory> directory_;
    std::unique_ptr<platform::LdapSession> session_;
};

TEST_F(ExampleDomainTest, PolicyObjectHoldsTheExamplePolicies) {
    const std::string policies = ReadTestFile("policies.xml");
    ASSERT_FALSE(policies.empty());
    std::vector<LdapEntry> out;
    ASSERT_EQ(session_->Search(
                  KW("cn=QmhPasswordPolicy,cn=Valexor,cn=Quillmarsh,cn=Program Data,") + WString(kDomain),
                  LdapScope::Base, KW("(objectClass=*)"), {KW("msDS-ByteArray")}, &out),
              0);
    ASSERT_EQ(out.size(), 1u);
    const platform::LdapAttribute* value = out[0].Find(KW("msDS-ByteArray"));
    ASSERT_NE(value, nullptr);
    ASSERT_EQ(value->values.size(), 1u);
    EXPECT_EQ(std::string(value->values[0].begin(), value->values[0].end()), policies);
}

TEST_F(ExampleDomainTest, ScopesOfTheExamplePoliciesResolve) {
    const std::pair<const char*, std::string> rows[] = {
        // The Administrators policy: a group by SID and DN, a user by SID, canonical name and UPN.
        {"(objectSid=S-1-5-21-3623811015-3361044348-30300820-512)", "corp.example.com/Users/Domain Admins"},
        {"(distinguishedName=CN=Enterprise Admins,CN=Users,DC=corp,DC=example,DC=com)",
         "corp.example.com/Users/Enterprise Admins"},
        {"(objectSid=S-1-5-21-3623811015-3361044348-30300820-1104)",
         "corp.example.com/IT/Operators/Alex Berg"},
        {"(userPrincipalName=alex.berg@corp.example.com)", "corp.example.com/IT/Operators/Alex Berg"},
        // The organisational units of the other policies.
        {"(&(objectClass=organizationalUnit)(|(ou=Staff)(ou=Service Desk)(ou=Contractors)))",
         "corp.example.com/Staff|corp.example.com/Service Desk|corp.example.com/Contractors"},
        // Jonas is an administrator only through the nested group.
        {"(&(objectClass=user)(memberOf:1.2.840.113556.1.4.1941:=CN=Domain "
         "Admins,CN=Users,DC=corp,DC=example,"
         "DC=com))",
         "corp.example.com/Users/Administrator|corp.example.com/IT/Jonas Keller"},
        {"(&(objectCategory=person)(givenName=Mar\xC3\xAD"
         "a))",
         "corp.example.com/Staff/Sales/Maria L\xC3\xB3pez"},
    };
    for (const auto& [filter, names] : rows) {
        EXPECT_EQ(Values(filter, KW("canonicalName")), names) << filter;
    }
    // The NetBIOS name sits in the configuration partition, apart from the domain.
    std::vector<LdapEntry> out;
    ASSERT_EQ(
        session_->Search(KW("CN=Partitions,CN=Configuration,DC=corp,DC=example,DC=com"), LdapScope::OneLevel,
                         KW("(&(objectClass=crossRef)(nCName=DC=corp,DC=example,DC=com))"),
                         {KW("nETBIOSName"), KW("dnsRoot")}, &out),
        0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Values("(nETBIOSName=*)", KW("nETBIOSName")), "");
}

}  // namespace
}  // namespace korva::testing
