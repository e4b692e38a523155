// The name and identity services over the LDAP backend and the example domain: what the policy engine asks
// of the directory about the example's users, answered from the offline snapshot end to end.
#include <gtest/gtest.h>

#include "directory/directory.h"
#include "directory/ldap_backend.h"
#include "directory/sid_text.h"
#include "tests/directory/ldif_test_support.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

constexpr const char* kDomainSid = "S-1-5-21-3623811015-3361044348-30300820";

class LdapServicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LoadDirectory("corp.ldif", &snapshot_, &session_);
        LdapBackendSettings settings;
        settings.connection.uri = KW("ldap://dc1.corp.example.com");
        backend_ = std::make_unique<LdapDirectoryBackend>(std::move(settings), snapshot_.get());
        directory_ = std::make_unique<Directory>(*backend_);
    }

    std::unique_ptr<LdifDirectory> snapshot_;
    std::unique_ptr<platform::LdapSession> session_;
    std::unique_ptr<LdapDirectoryBackend> backend_;
    std::unique_ptr<Directory> directory_;
    CapturedLog log_;
};

TEST_F(LdapServicesTest, DomainNames) {
    WString name;
    ASSERT_EQ(directory_->GetJoinedDomain(log_.log, &name), 0) << log_.Dump();
    EXPECT_EQ(U8(name), "CORP");
    ASSERT_EQ(directory_->FlatToDnsDomain(log_.log, KW("corp"), &name), 0) << log_.Dump();
    EXPECT_EQ(U8(name), "corp.example.com");
    EXPECT_EQ(directory_->FlatToDnsDomain(log_.log, KW("OTHER"), &name), winerr::kNoSuchDomain);
    EXPECT_TRUE(name.empty());
}

TEST_F(LdapServicesTest, UserSids) {
    const std::pair<const WChar*, std::string> rows[] = {
        {KW("alex.berg"), std::string(kDomainSid) + "-1104"},
        {KW("Lena.Wolff"), std::string(kDomainSid) + "-1113"},
        {KW("maria.lopez@corp.example.com"), std::string(kDomainSid) + "-1110"},  // a UPN cracks at once
        {KW("Administrator"), std::string(kDomainSid) + "-500"},
    };
    for (const auto& [user, sid] : rows) {
        WString text;
        EXPECT_EQ(directory_->GetUserSid(log_.log, KW("corp.example.com"), user, &text), 0) << log_.Dump();
        EXPECT_EQ(U8(text), sid) << U8(user);
    }
    WString text;
    EXPECT_EQ(directory_->GetUserSid(log_.log, KW("corp.example.com"), KW("nobody"), &text),
              winerr::kNoneMapped);
    EXPECT_TRUE(text.empty());
}

TEST_F(LdapServicesTest, CanonicalNamesAndAccounts) {
    WString dn;
    ASSERT_EQ(directory_->CanonicalToDistinguishedName(
                  log_.log, KW("corp.example.com/Staff/Sales/East/Tom Richter"), &dn),
              0)
        << log_.Dump();
    EXPECT_EQ(U8(dn), "CN=Tom Richter,OU=East,OU=Sales,OU=Staff,DC=corp,DC=example,DC=com");
    EXPECT_EQ(directory_->CanonicalToDistinguishedName(log_.log, KW("corp.example.com/Nowhere/x"), &dn),
              kResultNameNotCracked);
    EXPECT_TRUE(dn.empty());

    SidBytes sid;
    ASSERT_EQ(TextToSid(Utf8ToUtf16(std::string(kDomainSid) + "-1106"), &sid), 0);
    WString account;
    WString domain;
    uint32_t use = 0;
    ASSERT_EQ(directory_->LookupAccountBySid(log_.log, sid, &account, &domain, &use), 0) << log_.Dump();
    EXPECT_EQ(U8(account), "Platform Admins");
    EXPECT_EQ(U8(domain), "CORP");
    EXPECT_EQ(use, kSidTypeGroup);
}

}  // namespace
}  // namespace korva::testing
