// The LDAP backend's edge cases over the small test domain and LDAP failures mapped to each call's Windows code.
#include "directory/ldap_backend.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

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

    std::unique_ptr<LdifDirectory> directory_;
    std::unique_ptr<LdapSession> session_;
    FaultyConnector faulty_;
    std::unique_ptr<LdapDirectoryBackend> backend_;
};

TEST_F(LdapBackendTest, JoinInformationLocatorAndBinding) {
    WString name;
    uint32_t status = 0;
    ASSERT_EQ(backend_->GetJoinInformation(&name, &status), 0);
    EXPECT_EQ(U8(name) + " " + std::to_string(status), "CORP " + std::to_string(kNetSetupDomainName));
    const uint32_t toDns = kDsIsFlatName | kDsReturnDnsName;
    const std::tuple<const WChar*, uint32_t, int32_t, const char*> rows[] = {
        {KW("CORP"), toDns, 0, "\\\\dc1.corp.example.test|corp.example.test"},
        {KW("corp"), kDsReturnFlatName, 0, "\\\\DC1|CORP"},
        {nullptr, kDsReturnFlatName, 0, "\\\\DC1|CORP"},
        {KW("corp.example.test"), toDns, winerr::kNoSuchDomain, "|"},
    };
    for (const auto& [domain, flags, result, answer] : rows) {
        SCOPED_TRACE(domain ? U8(domain) : "(null)");
        DomainControllerInfo info{KW("stale"), KW("stale")};
        EXPECT_EQ(backend_->GetDcName(domain, flags, &info), result);
        EXPECT_EQ(U8(info.domainControllerName) + "|" + U8(info.domainName), answer);
    }
    for (const auto& [domain, result] :
         {std::pair{KW("CORP"), 0}, {KW(""), 0}, {KW("OTHER"), winerr::kNoSuchDomain}}) {
        std::unique_ptr<DomainControllerBinding> binding;
        EXPECT_EQ(backend_->BindDomainController(domain, &binding), result) << U8(domain);
        EXPECT_EQ(binding != nullptr, result == 0) << U8(domain);
    }
}

TEST_F(LdapBackendTest, ConfiguredNamesNeedNoDirectory) {
    LdapBackendSettings settings;
    settings.dnsDomain = KW("corp.example.test");
    settings.flatDomain = KW("CORPX");
    settings.controllerName = KW("dc9.corp.example.test");
    LdapDirectoryBackend configured(std::move(settings), &faulty_);
    WString name;
    uint32_t status = 0;
    faulty_.openFailure = kLdapServerDown;
    ASSERT_EQ(configured.GetJoinInformation(&name, &status), 0);  // nothing to ask the controller
    EXPECT_EQ(U8(name), "CORPX");
    faulty_.openFailure = 0;
    DomainControllerInfo info;
    ASSERT_EQ(configured.GetDcName(KW("CORPX"), kDsIsFlatName | kDsReturnDnsName, &info), 0);
    EXPECT_EQ(U8(info.domainControllerName), "\\\\dc9.corp.example.test");
    LdapBackendSettings workgroup;
    workgroup.joined = false;
    workgroup.flatDomain = KW("WORKGROUP");
    LdapDirectoryBackend unjoined(std::move(workgroup), &faulty_);
    ASSERT_EQ(unjoined.GetJoinInformation(&name, &status), 0);
    EXPECT_EQ(U8(name) + " " + std::to_string(status), "WORKGROUP " + std::to_string(kNetSetupWorkgroupName));
}

// Successful UPN and canonical-name cracks are asked by the Samba suite; these are the other forms and statuses.
TEST_F(LdapBackendTest, CrackNames) {
    const uint32_t upn = kDsUserPrincipalName, can = kDsCanonicalName, dn = kDsFqdn1779Name,
                   sid = kDsSidOrSidHistoryName, nt4 = 2;
    const std::tuple<uint32_t, const WChar*, uint32_t, uint32_t, const char*> rows[] = {
        // Mia has no UPN: the account name with the domain's DNS or flat name stands in for one.
        {upn, KW("mia.berg@corp.example.test"), dn, 0,
         "CN=Berg\\, Mia,OU=IT,DC=corp,DC=example,DC=test|corp.example.test"},
        {upn, KW("mia.berg@CORP"), can, 0, "corp.example.test/IT/Berg, Mia|corp.example.test"},
        {upn, KW("someone@other.example.test"), dn, kDsNameErrorDomainOnly, "|other.example.test"},
        {upn, KW("nobody@corp.example.test"), dn, kDsNameErrorNotFound, "|"},
        {upn, KW("alex.berg"), dn, kDsNameErrorNoSyntacticalMapping, "|"},
        {can, KW("corp.example.test/"), dn, 0, "DC=corp,DC=example,DC=test|corp.example.test"},
        {can, KW("corp.example.test/IT//Alex Berg"), dn, kDsNameErrorNoSyntacticalMapping, "|"},
        {can, KW("other.example.test/Users/x"), dn, kDsNameErrorDomainOnly, "|other.example.test"},
        {can, KW("corp.example.test"), dn, kDsNameErrorNoSyntacticalMapping, "|"},
        {dn, KW("cn=operators,ou=it,dc=corp,dc=example,dc=test"), can, 0,
         "corp.example.test/IT/Operators|corp.example.test"},
        {dn, KW("not a DN"), can, kDsNameErrorNoSyntacticalMapping, "|"},
        {dn, kMiaDn, upn, kDsNameErrorNoMapping, "|corp.example.test"},
        {sid, KW("S-1-5-21-1-2-3-1105"), nt4, 0, "CORP\\mia.berg|corp.example.test"},
        {sid, KW("S-1-5-x"), nt4, kDsNameErrorNoSyntacticalMapping, "|"},
        {nt4, KW("corp\\Operators"), sid, 0, "S-1-5-21-1-2-3-1110|corp.example.test"},
        {nt4, KW("OTHER\\someone"), sid, kDsNameErrorDomainOnly, "|other.example.test"},
    };
    std::unique_ptr<DomainControllerBinding> binding;
    ASSERT_EQ(backend_->BindDomainController(KW("corp.example.test"), &binding), 0);
    for (const auto& [offered, name, desired, status, answer] : rows) {
        SCOPED_TRACE(U8(name));
        CrackedName out{false, 99, {}, KW("stale")};
        ASSERT_EQ(binding->CrackName(kDsNameFlagTrustReferral, offered, desired, name, &out), 0);
        EXPECT_TRUE(out.hasItem);
        EXPECT_EQ(out.status, status);
        EXPECT_EQ(U8(out.name) + "|" + U8(out.domain), answer);
    }
    // Formats this backend does not know fail the call itself.
    CrackedName out;
    EXPECT_EQ(binding->CrackName(0, 99, dn, KW("x"), &out), winerr::kInvalidParameter);
    EXPECT_EQ(binding->CrackName(0, can, 99, KW("corp.example.test/IT"), &out), winerr::kInvalidParameter);
    EXPECT_FALSE(out.hasItem);
}

TEST_F(LdapBackendTest, LookupAccountNameAndSid) {
    // Built-in aliases are those under S-1-5-32; the others are refused as BUILTIN\ names.
    const std::tuple<const WChar*, int32_t, const char*> names[] = {
        {KW("alex.berg@corp.example.test"), 0, "S-1-5-21-1-2-3-1104|CORP|1"},
        {KW("mia.berg"), 0, "S-1-5-21-1-2-3-1105|CORP|1"},
        {KW("CORP\\Operators"), 0, "S-1-5-21-1-2-3-1110|CORP|2"},
        {KW("corp"), 0, "S-1-5-21-1-2-3|CORP|3"},
        {KW("BUILTIN\\Administrators"), 0, "S-1-5-32-544|BUILTIN|4"},
        {KW("BUILTIN\\Operators"), winerr::kNoneMapped, "||0"},
        {KW("BUILTIN\\Guests"), winerr::kNoneMapped, "||0"},
        {KW("BUILTIN\\Replicator"), winerr::kNoneMapped, "||0"},
        {KW("BUILTIN\\Readers"), winerr::kNoneMapped, "||0"},
        {KW(""), winerr::kNoneMapped, "||0"},
    };
    for (const auto& [account, result, answer] : names) {
        SCOPED_TRACE(U8(account));
        AccountSidBuffers buffers{68, 16, {}, {}, 0};
        EXPECT_EQ(backend_->LookupAccountName(nullptr, account, &buffers), result);
        WString sid;
        if (result == 0) {
            ASSERT_EQ(SidToText(buffers.sid, &sid), 0);
            EXPECT_EQ(buffers.sidSize, buffers.sid.size());
            EXPECT_EQ(buffers.domainSize, buffers.domain.size());
        }
        EXPECT_EQ(U8(sid) + "|" + U8(buffers.domain) + "|" + std::to_string(buffers.use), answer);
    }
    const std::tuple<const char*, int32_t, const char*> sids[] = {
        {"S-1-5-21-1-2-3", 0, "CORP|CORP|3"},
        {"S-1-5-32-544", 0, "Administrators|BUILTIN|4"},
        {"S-1-5-33-552", 0, "Replicator|CORP|4"},
        {"S-1-5-21-1-2-3-1112", winerr::kNoneMapped, "||0"},  // Loop has no account name
    };
    for (const auto& [text, result, answer] : sids) {
        SidBytes sid;
        ASSERT_EQ(TextToSid(Utf8ToUtf16(text), &sid), 0);
        AccountNameBuffers buffers{64, 64, {}, {}, 0};
        EXPECT_EQ(backend_->LookupAccountSid(nullptr, sid, &buffers), result) << text;
        EXPECT_EQ(U8(buffers.name) + "|" + U8(buffers.domain) + "|" + std::to_string(buffers.use), answer);
    }
    AccountNameBuffers buffers;
    EXPECT_EQ(backend_->LookupAccountSid(nullptr, SidBytes{1, 5, 0}, &buffers), winerr::kInvalidSid);
    SidBytes sid = {9};
    EXPECT_EQ(backend_->StringToSid(nullptr, &sid), winerr::kInvalidSid);
    EXPECT_TRUE(sid.empty());
}

TEST_F(LdapBackendTest, NameTranslate) {
    std::unique_ptr<NameTranslator> translator;
    ASSERT_EQ(backend_->CreateNameTranslate(&translator), kSOk);
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

TEST_F(LdapBackendTest, BindObjectPaths) {
    const auto user = ObjectInterface::User, object = ObjectInterface::Object;
    const std::tuple<const WChar*, ObjectInterface, int32_t> rows[] = {
        {KW("LDAP://dc1.corp.example.test/cn=alex berg,ou=it,dc=corp,dc=example,dc=test"), user, kSOk},
        {KW("LDAP://CN=Operators,OU=IT,DC=corp,DC=example,DC=test"), user, kENoInterface},
        {KW("LDAP://rootDSE"), object, kSOk},
        {KW("LDAP://CN=Nobody,DC=corp,DC=example,DC=test"), object, kEDsNoSuchObject},
        {KW("ldap://CN=Alex Berg,OU=IT,DC=corp,DC=example,DC=test"), object, kEAdsBadPathname},
        {KW("LDAP://CN=a,,DC=x"), object, kEAdsBadPathname},
        {nullptr, object, kEAdsBadPathname},
    };
    for (const auto& [path, iface, result] : rows) {
        std::unique_ptr<DirectoryObject> bound;
        EXPECT_EQ(backend_->BindObject(path, iface, &bound), result) << (path ? U8(path) : "(null)");
        EXPECT_EQ(bound != nullptr, result == kSOk);
    }
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
    DomainControllerInfo info;
    std::unique_ptr<DomainControllerBinding> binding;
    AccountSidBuffers sidBuffers{100, 100, {}, {}, 0};
    AccountNameBuffers nameBuffers{100, 100, {}, {}, 0};
    std::unique_ptr<DirectoryObject> object;
    std::unique_ptr<NameTranslator> translator;
    WString name;
    uint32_t status = 0;
    auto dcName = [&] { return backend_->GetDcName(KW("CORP"), kDsIsFlatName | kDsReturnDnsName, &info); };
    auto bind = [&] { return backend_->BindDomainController(KW("CORP"), &binding); };
    auto lookupName = [&] {
        return backend_->LookupAccountName(nullptr, KW("CORP\\alex.berg"), &sidBuffers);
    };
    auto lookupSid = [&] {
        const std::string sid = SidValue("S-1-5-21-1-2-3-1104");
        return backend_->LookupAccountSid(nullptr, SidBytes(sid.begin(), sid.end()), &nameBuffers);
    };
    auto bindObject = [&] { return backend_->BindObject(kAlexPath, ObjectInterface::User, &object); };
    auto translate = [&] {
        EXPECT_EQ(backend_->CreateNameTranslate(&translator), kSOk);
        return translator->Init(kAdsNameInitTypeDomain, KW("corp.example.test"));
    };
    auto join = [&] { return backend_->GetJoinInformation(&name, &status); };
    const struct {
        const char* what;
        std::function<int32_t()> call;
        int32_t openFailure;
        int32_t searchFailure;
        int32_t expected;
    } rows[] = {
        // A controller that cannot be reached: the locator finds no domain, the rest report the server.
        {"GetDcName", dcName, kLdapServerDown, 0, winerr::kNoSuchDomain},
        {"BindDomainController", bind, kLdapConnectError, 0, winerr::kNoSuchDomain},
        {"NameTranslate::Init", translate, kLdapServerDown, 0, HResultFromWin32(winerr::kNoSuchDomain)},
        {"LookupAccountName", lookupName, kLdapServerDown, 0, winerr::kDsServerDown},
        {"GetJoinInformation", join, kLdapServerDown, 0, winerr::kDsServerDown},
        {"BindObject", bindObject, kLdapServerDown, 0, serverDown},
        // Refused credentials and spent budgets.
        {"BindObject, bad password", bindObject, kLdapInvalidCredentials, 0,
         HResultFromWin32(winerr::kLogonFailure)},
        {"LookupAccountSid, time out", lookupSid, 0, kLdapTimeout, winerr::kTimeout},
        {"BindObject, time out", bindObject, 0, kLdapTimeLimitExceeded, HResultFromWin32(winerr::kTimeout)},
        {"LookupAccountName, other", lookupName, 0, kLdapOther, winerr::kDsOperationsError},
    };
    for (const auto& r : rows) {
        faulty_.openFailure = r.openFailure;
        faulty_.searchFailure = r.searchFailure;
        EXPECT_EQ(r.call(), r.expected) << r.what;
    }
    faulty_.openFailure = 0;
    faulty_.searchFailure = 0;
    // Every call shares one session; one the server has dropped is opened again by the next call.
    ASSERT_EQ(bind(), 0);
    const int opens = faulty_.opens;
    ASSERT_EQ(bindObject(), kSOk);
    EXPECT_EQ(faulty_.opens, opens);
    faulty_.last->dropped = true;
    EXPECT_EQ(lookupSid(), 0);
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
