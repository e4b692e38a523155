// The LDAP backend's edge cases over the small test domain and LDAP failures mapped to each call's Windows code.
#include "directory/ldap_backend.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/format.h"
#include "tests/directory/ldif_test_support.h"

namespace korva::testing {
namespace {

using platform::LdapEntry;
using platform::LdapModification;
using platform::LdapModOp;
using platform::LdapScope;
using platform::LdapSession;

constexpr const WChar* kAlexDn = KW("CN=Alex Berg,OU=IT,DC=corp,DC=example,DC=test");
constexpr const WChar* kAlexPath = KW("LDAP://CN=Alex Berg,OU=IT,DC=corp,DC=example,DC=test");
constexpr const WChar* kMiaDn = KW("CN=Berg\\, Mia,OU=IT,DC=corp,DC=example,DC=test");

constexpr auto& U8 = Utf16ToUtf8;

// A backend configured with only the controller's address: the domain's names come from the directory.
class LdapBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LoadDirectory("small_domain.ldif", &directory_, &session_);
        faulty_.inner = directory_.get();
        LdapBackendSettings settings;
        settings.connection.uri = KW("ldap://dc1.corp.example.test:389");
        backend_ = std::make_unique<LdapDirectoryBackend>(std::move(settings), &faulty_);
    }

    enum class Q { Join, DcName, Bind, Crack, Name, Sid, Object };
    // A question and its answer as "code text": a controller, a binding, a name cracked from format x to y, an
    // account's SID or a SID's account, an object bound with interface x.
    std::string Ask(Q kind, const WChar* text, uint32_t x = 0, uint32_t y = 0) {
        WString out;
        int32_t code = 0;
        std::unique_ptr<DomainControllerBinding> binding;
        if (kind == Q::DcName) {
            DomainControllerInfo info{KW("stale"), KW("stale")};
            code = backend_->GetDcName(text, x, &info);
            out = info.domainControllerName + KW("|") + info.domainName;
        } else if (kind == Q::Bind || kind == Q::Crack) {
            code = backend_->BindDomainController(kind == Q::Bind ? text : KW("corp.example.test"), &binding);
            out = binding ? KW("bound") : KW("");
            CrackedName c{false, 99, {}, KW("stale")};
            if (kind == Q::Crack && code == 0) {
                code = binding->CrackName(kDsNameFlagTrustReferral, x, y, text, &c);
                out = Format(KW("%d %u %s|%s"), c.hasItem, c.status, c.name.c_str(), c.domain.c_str());
            }
        } else if (kind == Q::Name) {
            AccountSidBuffers b{68, 16, {}, {}, 0};
            code = backend_->LookupAccountName(nullptr, text, &b);
            WString sid;
            if (code == 0 &&
                (SidToText(b.sid, &sid) != 0 || b.sidSize != b.sid.size() || b.domainSize != b.domain.size()))
                sid = KW("(bad SID or sizes)");
            out = Format(KW("%s|%s|%u"), sid.c_str(), b.domain.c_str(), b.use);
        } else if (kind == Q::Sid) {
            SidBytes sid;
            (void)TextToSid(text, &sid);
            AccountNameBuffers b{64, 64, {}, {}, 0};
            code = backend_->LookupAccountSid(nullptr, sid, &b);
            out = Format(KW("%s|%s|%u"), b.name.c_str(), b.domain.c_str(), b.use);
        } else if (kind == Q::Object) {
            std::unique_ptr<DirectoryObject> bound;
            code = backend_->BindObject(text, static_cast<ObjectInterface>(x), &bound);
            out = bound ? KW("bound") : KW("");
        } else {
            uint32_t status = 0;
            code = backend_->GetJoinInformation(&out, &status);
            out += Format(KW(" %u"), status);
        }
        return std::to_string(code) + " " + U8(out);
    }

    std::unique_ptr<LdifDirectory> directory_;
    std::unique_ptr<LdapSession> session_;
    FaultyConnector faulty_;
    std::unique_ptr<LdapDirectoryBackend> backend_;
};

std::string Code(int32_t code, const char* text) {
    return std::to_string(code) + " " + text;
}

// Successful UPN and canonical-name cracks are asked by the Samba suite; these are the other forms and statuses.
TEST_F(LdapBackendTest, Answers) {
    const uint32_t upn = kDsUserPrincipalName, can = kDsCanonicalName, dn = kDsFqdn1779Name,
                   sid = kDsSidOrSidHistoryName, nt4 = 2, toDns = kDsIsFlatName | kDsReturnDnsName;
    const uint32_t user = static_cast<uint32_t>(ObjectInterface::User), object = 0;
    const std::tuple<Q, const WChar*, uint32_t, uint32_t, std::string> rows[] = {
        {Q::DcName, KW("CORP"), toDns, 0, "0 \\\\dc1.corp.example.test|corp.example.test"},
        {Q::DcName, KW("corp"), kDsReturnFlatName, 0, "0 \\\\DC1|CORP"},
        {Q::DcName, nullptr, kDsReturnFlatName, 0, "0 \\\\DC1|CORP"},
        {Q::DcName, KW("corp.example.test"), toDns, 0, Code(winerr::kNoSuchDomain, "|")},
        {Q::Bind, KW("CORP"), 0, 0, "0 bound"},
        {Q::Bind, KW(""), 0, 0, "0 bound"},
        {Q::Bind, KW("OTHER"), 0, 0, Code(winerr::kNoSuchDomain, "")},
        // Mia has no UPN: the account name with the domain's DNS or flat name stands in for one.
        {Q::Crack, KW("mia.berg@corp.example.test"), upn, dn,
         "0 1 0 CN=Berg\\, Mia,OU=IT,DC=corp,DC=example,DC=test|corp.example.test"},
        {Q::Crack, KW("mia.berg@CORP"), upn, can, "0 1 0 corp.example.test/IT/Berg, Mia|corp.example.test"},
        {Q::Crack, KW("someone@other.example.test"), upn, dn, "0 1 5 |other.example.test"},
        {Q::Crack, KW("nobody@corp.example.test"), upn, dn, "0 1 2 |"},
        {Q::Crack, KW("alex.berg"), upn, dn, "0 1 6 |"},
        {Q::Crack, KW("corp.example.test/"), can, dn, "0 1 0 DC=corp,DC=example,DC=test|corp.example.test"},
        {Q::Crack, KW("corp.example.test/IT//Alex Berg"), can, dn, "0 1 6 |"},
        {Q::Crack, KW("other.example.test/Users/x"), can, dn, "0 1 5 |other.example.test"},
        {Q::Crack, KW("corp.example.test"), can, dn, "0 1 6 |"},
        {Q::Crack, KW("cn=operators,ou=it,dc=corp,dc=example,dc=test"), dn, can,
         "0 1 0 corp.example.test/IT/Operators|corp.example.test"},
        {Q::Crack, KW("not a DN"), dn, can, "0 1 6 |"},
        {Q::Crack, kMiaDn, dn, upn, "0 1 4 |corp.example.test"},
        {Q::Crack, KW("S-1-5-21-1-2-3-1105"), sid, nt4, "0 1 0 CORP\\mia.berg|corp.example.test"},
        {Q::Crack, KW("S-1-5-x"), sid, nt4, "0 1 6 |"},
        {Q::Crack, KW("corp\\Operators"), nt4, sid, "0 1 0 S-1-5-21-1-2-3-1110|corp.example.test"},
        {Q::Crack, KW("OTHER\\someone"), nt4, sid, "0 1 5 |other.example.test"},
        // Formats this backend does not know fail the call itself.
        {Q::Crack, KW("x"), 99, dn, Code(winerr::kInvalidParameter, "0 0 |")},
        {Q::Crack, KW("corp.example.test/IT"), can, 99, Code(winerr::kInvalidParameter, "0 0 |")},
        // Built-in aliases are those under S-1-5-32; the others are refused as BUILTIN\ names.
        {Q::Name, KW("alex.berg@corp.example.test"), 0, 0, "0 S-1-5-21-1-2-3-1104|CORP|1"},
        {Q::Name, KW("mia.berg"), 0, 0, "0 S-1-5-21-1-2-3-1105|CORP|1"},
        {Q::Name, KW("CORP\\Operators"), 0, 0, "0 S-1-5-21-1-2-3-1110|CORP|2"},
        {Q::Name, KW("corp"), 0, 0, "0 S-1-5-21-1-2-3|CORP|3"},
        {Q::Name, KW("BUILTIN\\Administrators"), 0, 0, "0 S-1-5-32-544|BUILTIN|4"},
        {Q::Name, KW("BUILTIN\\Operators"), 0, 0, Code(winerr::kNoneMapped, "||0")},
        {Q::Name, KW("BUILTIN\\Guests"), 0, 0, Code(winerr::kNoneMapped, "||0")},
        {Q::Name, KW("BUILTIN\\Replicator"), 0, 0, Code(winerr::kNoneMapped, "||0")},
        {Q::Name, KW("BUILTIN\\Readers"), 0, 0, Code(winerr::kNoneMapped, "||0")},
        {Q::Name, KW(""), 0, 0, Code(winerr::kNoneMapped, "||0")},
        {Q::Sid, KW("S-1-5-21-1-2-3"), 0, 0, "0 CORP|CORP|3"},
        {Q::Sid, KW("S-1-5-33-552"), 0, 0, "0 Replicator|CORP|4"},
        {Q::Sid, KW("S-1-5-21-1-2-3-1112"), 0, 0,
         Code(winerr::kNoneMapped, "||0")},  // Loop has no account name
        {Q::Object, KW("LDAP://dc1.corp.example.test/cn=alex berg,ou=it,dc=corp,dc=example,dc=test"), user, 0,
         "0 bound"},
        {Q::Object, KW("LDAP://CN=Operators,OU=IT,DC=corp,DC=example,DC=test"), user, 0,
         Code(kENoInterface, "")},
        {Q::Object, KW("LDAP://rootDSE"), object, 0, "0 bound"},
        {Q::Object, KW("LDAP://CN=Nobody,DC=corp,DC=example,DC=test"), object, 0, Code(kEDsNoSuchObject, "")},
        {Q::Object, KW("ldap://CN=Alex Berg,OU=IT,DC=corp,DC=example,DC=test"), object, 0,
         Code(kEAdsBadPathname, "")},
        {Q::Object, KW("LDAP://CN=a,,DC=x"), object, 0, Code(kEAdsBadPathname, "")},
        {Q::Object, nullptr, object, 0, Code(kEAdsBadPathname, "")},
        {Q::Object, KW("LDAP://dc1/"), object, 0, Code(kEAdsBadPathname, "")},
    };
    for (const auto& [kind, text, x, y, answer] : rows) {
        EXPECT_EQ(Ask(kind, text, x, y), answer) << (text ? U8(text) : "(null)");
    }
    AccountNameBuffers buffers;
    EXPECT_EQ(backend_->LookupAccountSid(nullptr, SidBytes{1, 5, 0}, &buffers), winerr::kInvalidSid);
    SidBytes bytes = {9};
    EXPECT_EQ(backend_->StringToSid(nullptr, &bytes), winerr::kInvalidSid);
    EXPECT_TRUE(bytes.empty());
}

TEST_F(LdapBackendTest, ConfiguredNamesNeedNoDirectory) {
    LdapBackendSettings settings;
    settings.dnsDomain = KW("corp.example.test");
    settings.flatDomain = KW("CORPX");
    settings.controllerName = KW("dc9.corp.example.test");
    backend_ = std::make_unique<LdapDirectoryBackend>(std::move(settings), &faulty_);
    faulty_.openFailure = kLdapServerDown;  // nothing to ask the controller
    EXPECT_EQ(Ask(Q::Join, nullptr), "0 CORPX " + std::to_string(kNetSetupDomainName));
    faulty_.openFailure = 0;
    EXPECT_EQ(Ask(Q::DcName, KW("CORPX"), kDsIsFlatName | kDsReturnDnsName),
              "0 \\\\dc9.corp.example.test|corp.example.test");
    LdapBackendSettings workgroup;
    workgroup.joined = false;
    workgroup.flatDomain = KW("WORKGROUP");
    backend_ = std::make_unique<LdapDirectoryBackend>(std::move(workgroup), &faulty_);
    EXPECT_EQ(Ask(Q::Join, nullptr), "0 WORKGROUP " + std::to_string(kNetSetupWorkgroupName));
}

TEST_F(LdapBackendTest, NameTranslate) {
    std::unique_ptr<NameTranslator> translator;
    ASSERT_EQ(backend_->CreateNameTranslate(&translator), kSOk);
    faulty_.openFailure = kLdapServerDown;  // an unreachable controller is no domain either
    EXPECT_EQ(translator->Init(kAdsNameInitTypeDomain, KW("corp.example.test")),
              HResultFromWin32(winerr::kNoSuchDomain));
    faulty_.openFailure = 0;
    WString name;
    EXPECT_EQ(translator->Set(kAdsNameTypeUserPrincipalName, KW("alex.berg@corp.example.test")),
              kEUnexpected);
    EXPECT_EQ(translator->Init(kAdsNameInitTypeDomain, KW("OTHER")), HResultFromWin32(winerr::kNoSuchDomain));
    EXPECT_EQ(translator->Init(7, KW("corp.example.test")), kEInvalidArg);
    ASSERT_EQ(translator->Init(kAdsNameInitTypeDomain, KW("corp.example.test")), kSOk);
    EXPECT_EQ(translator->Get(kAdsNameType1779, &name), kEUnexpected);  // nothing set yet
    ASSERT_EQ(translator->Set(kAdsNameTypeUserPrincipalName, KW("alex.berg@corp.example.test")), kSOk);
    ASSERT_EQ(translator->Get(kAdsNameType1779, &name), kSOk);
    EXPECT_EQ(name, kAlexDn);
    ASSERT_EQ(translator->Get(kAdsNameTypeCanonical, &name), kSOk);
    EXPECT_EQ(U8(name), "corp.example.test/IT/Alex Berg");
    EXPECT_EQ(translator->Set(kAdsNameTypeUserPrincipalName, KW("nobody@corp.example.test")),
              kEDsNameNotFound);
    EXPECT_EQ(translator->Get(kAdsNameType1779, &name), kEUnexpected);
    EXPECT_TRUE(name.empty());
    ASSERT_EQ(translator->Set(kAdsNameType1779, kMiaDn), kSOk);
    EXPECT_EQ(translator->Get(kAdsNameTypeUserPrincipalName, &name), kEDsNameNotFound);  // Mia has no UPN
    EXPECT_EQ(translator->Set(99, KW("x")), kEInvalidArg);
}

// Values read as ADSI hands them over (large integers, lists, user properties) are asked by the Samba suite.
TEST_F(LdapBackendTest, BoundObjectsRefuseWhatTheyLackAndReadAgainOnRequest) {
    std::unique_ptr<DirectoryObject> mia;
    ASSERT_EQ(backend_->BindObject((WString(KW("LDAP://")) + kMiaDn).c_str(), ObjectInterface::Object, &mia),
              kSOk);
    AttributeValue value;
    ASSERT_EQ(mia->Get(KW("memberOf"), &value), kSOk);  // one stored value: a single text
    EXPECT_EQ(U8(value.text), "CN=Operators,OU=IT,DC=corp,DC=example,DC=test");
    EXPECT_EQ(mia->Get(KW("mail"), &value), kEAdsPropertyNotFound);
    EXPECT_EQ(value.kind, AttributeValue::Kind::Empty);
    WString got;
    EXPECT_EQ(mia->GetUserProperty(UserProperty::FirstName, &got), kENoInterface);
    ASSERT_EQ(mia->QueryInterface(ObjectInterface::User), kSOk);
    EXPECT_EQ(mia->GetUserProperty(UserProperty::FirstName, &got), kSOk);

    // GetInfo reads the object again: a changed value shows, one that is no number cannot be converted.
    std::unique_ptr<DirectoryObject> alex;
    ASSERT_EQ(backend_->BindObject(kAlexPath, ObjectInterface::User, &alex), kSOk);
    ASSERT_EQ(session_->Modify(kAlexDn, {{LdapModOp::Replace, KW("pwdLastSet"), {Value("12x")}}}), 0);
    ASSERT_EQ(alex->Get(KW("pwdLastSet"), &value), kSOk);  // still the value read at binding
    ASSERT_EQ(alex->GetInfo(), kSOk);
    EXPECT_EQ(alex->Get(KW("pwdLastSet"), &value), kEAdsCantConvertDatatype);
}

TEST_F(LdapBackendTest, LdapFailuresBecomeTheWindowsCodesOfEachCall) {
    const int32_t serverDown = HResultFromWin32(winerr::kDsServerDown);
    const uint32_t user = static_cast<uint32_t>(ObjectInterface::User);
    const std::tuple<Q, const WChar*, uint32_t, int32_t, int32_t, int32_t> rows[] = {
        // A controller that cannot be reached: the locator finds no domain, the rest report the server.
        {Q::DcName, KW("CORP"), kDsIsFlatName | kDsReturnDnsName, kLdapServerDown, 0, winerr::kNoSuchDomain},
        {Q::Bind, KW("CORP"), 0, kLdapConnectError, 0, winerr::kNoSuchDomain},
        {Q::Name, KW("CORP\\alex.berg"), 0, kLdapServerDown, 0, winerr::kDsServerDown},
        {Q::Join, nullptr, 0, kLdapServerDown, 0, winerr::kDsServerDown},
        {Q::Object, kAlexPath, user, kLdapServerDown, 0, serverDown},
        // Refused credentials and spent budgets.
        {Q::Object, kAlexPath, user, kLdapInvalidCredentials, 0, HResultFromWin32(winerr::kLogonFailure)},
        {Q::Sid, KW("S-1-5-21-1-2-3-1104"), 0, 0, kLdapTimeout, winerr::kTimeout},
        {Q::Object, kAlexPath, user, 0, kLdapTimeLimitExceeded, HResultFromWin32(winerr::kTimeout)},
        {Q::Name, KW("CORP\\alex.berg"), 0, 0, kLdapOther, winerr::kDsOperationsError},
    };
    for (const auto& [kind, text, x, openFailure, searchFailure, expected] : rows) {
        faulty_.openFailure = openFailure;
        faulty_.searchFailure = searchFailure;
        EXPECT_EQ(std::stoi(Ask(kind, text, x)), expected) << static_cast<int>(kind);
    }
    faulty_.openFailure = 0;
    faulty_.searchFailure = 0;
    // Every call shares one session; one the server has dropped is opened again by the next call.
    std::unique_ptr<DomainControllerBinding> binding;
    std::unique_ptr<DirectoryObject> object;
    ASSERT_EQ(backend_->BindDomainController(KW("CORP"), &binding), 0);
    const int opens = faulty_.opens;
    ASSERT_EQ(backend_->BindObject(kAlexPath, ObjectInterface::User, &object), kSOk);
    EXPECT_EQ(faulty_.opens, opens);
    faulty_.last->dropped = true;
    EXPECT_EQ(Ask(Q::Sid, KW("S-1-5-21-1-2-3-1104")), "0 alex.berg|CORP|1");
    EXPECT_EQ(faulty_.opens, opens + 1);
    // A controller lost: cracking fails with the server's code and no item, a bound object cannot read itself.
    faulty_.searchFailure = kLdapServerDown;
    CrackedName out;
    EXPECT_EQ(
        binding->CrackName(0, kDsUserPrincipalName, kDsFqdn1779Name, KW("alex.berg@corp.example.test"), &out),
        winerr::kDsServerDown);
    EXPECT_FALSE(out.hasItem);
    EXPECT_EQ(object->GetInfo(), serverDown);
    faulty_.searchFailure = 0;
    EXPECT_EQ(object->GetInfo(), kSOk);
}

}  // namespace
}  // namespace korva::testing
