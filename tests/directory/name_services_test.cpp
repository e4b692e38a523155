// Name services against the fake backend, which aborts on anything left open: each step's fault and log line.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "directory/directory.h"
#include "tests/policy/fake_directory.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

using Op = FakeDirectory::Op;

constexpr const WChar* kJoSid = KW("S-1-5-21-7-1104");
constexpr const WChar* kJoDn = KW("CN=Jo,OU=Sales,DC=a,DC=b");

// Domains A (a.b, controller DC1: Jo, whom each strategy finds), C (c.d: referrals), ABC (a.b.c: S knows u).
class NameServicesTest : public ::testing::Test {
  protected:
    NameServicesTest() {
        fake_.AddFlatDomain(KW("A"), KW("a.b"), KW("DC1"));
        fake_.AddFlatDomain(KW("C"), KW("c.d"), KW("DC2"));
        fake_.AddFlatDomain(KW("ABC"), KW("a.b.c"), KW("S"));
        fake_.AddAccount(kJoSid, KW("jo"), KW("A"));
        fake_.AddUserSid(KW("a.b"), KW("jo"), kJoSid);
        fake_.AddUserSid(KW("a.b"), KW("lu"), kJoSid);               // known to the account look-up only
        fake_.AddCrackedName(kDsFqdn1779Name, KW("jo@a.b"), kJoDn);  // as NameTranslate knows it
        fake_.AddObject(kJoDn).SetBytes(KW("objectSid"), "S-1-5-21-7-1104");
        fake_.AddAccountName(KW("\\\\S"), KW("u"), KW("S-1-5-21-9-500"), KW("ABC"));
        fake_.AddAccountName({}, KW("BUILTIN\\Administrators"), KW("S-1-5-32-544"), KW("BUILTIN"));
    }
    FakeDirectory fake_;
    Directory directory_{fake_};
    CapturedLog log_;
};

// One-text services, a step failing `times` times: answer as "code text", and the line logged (or no error).
TEST_F(NameServicesTest, OneTextAnswers) {
    fake_.AddCanonicalName(KW("a.b.c/Sales/u"), KW("CN=u,OU=Sales,DC=a,DC=b,DC=c"));
    fake_.AddCanonicalName(KW("/x"), KW("CN=x"));
    enum Service { Joined, Dns, SidString, Dn, DcName, SidByName, Account, Workgroup };
    constexpr int32_t k122 = winerr::kInsufficientBuffer;
    struct Row {
        Service service;
        const WChar* input;
        const char* answer;
        const WChar* line;  // none: no error logged
        uint32_t level = 0;
        std::optional<int32_t> code = {};
        Op op = Op::Count;  // fails `times` times with `fault`
        int32_t fault = 0;
        int times = 1;
    };
    const Row rows[] = {
        // A computer not joined (a workgroup) is no failure: no name, and the reason at level Error.
        {Workgroup, nullptr, "0 ", KW("Local computer is not joined to a domain."), kLogError},
        {Joined, nullptr, "0 A", KW("Local computer is joined to domain 'A'."), kLogDebug},
        {Joined, nullptr, "2453 ", KW("Error code (2453) - Failed to get join status information"), kLogError,
         2453, Op::GetJoinInformation, 2453},
        {Dns, KW("A"), "0 a.b", KW("Converting Flat name 'A' to DNS name 'a.b'."), kLogDebug},
        // The name must be a flat one: a DNS name is not looked up as one.
        {Dns, KW("a.b"), "1355 ",
         KW("Failed to get DNS name of domain controller with flat name 'a.b'. Error code (1355)"), kLogError,
         1355},
        {SidString, KW("a.b\\jo"), "0 S-1-5-21-7-1104", KW("Found SID 'S-1-5-21-7-1104'."), kLogDebug, 0},
        {SidString, KW("a.b\\jo"), "1337 ", KW("Failed to convert SID object to string."), kLogError, 1337,
         Op::SidToString, 1337},
        {SidString, KW("a.b\\jo"), "0 S-1-5-21-7-1104", KW("Failed to free SID string 'a.b\\jo'."),
         kLogWarning, 87, Op::FreeSidString, 87},
        // A name not found locally is not found on the controller either.
        {SidString, KW("a.b\\jo"), "1789 ", KW("Unable to look up SID for lookupname 'a.b\\jo'."), kLogError,
         1789, Op::LookupAccountName, 1789, 2},
        // Bound to a controller of the canonical name's own domain.
        {Dn, KW("a.b.c/Sales/u"), "0 CN=u,OU=Sales,DC=a,DC=b,DC=c",
         KW("Binding to a domain controller in domain 'a.b.c'."), kLogDebug},
        {Dn, KW("/x"), "0 CN=x", KW("Unable to extract domain name from canonical name '/x'."), kLogDebug},
        {Dn, KW("nodomain"), "-6 ", KW("Unable to extract domain name from canonical name 'nodomain'."),
         kLogDebug},
        {Dn, KW("a.b.c/Sales/v"), "-6 ",
         KW("Unable to translate canonical name 'a.b.c/Sales/v' to to distinguished name ."), kLogDebug},
        {Dn, KW("q.r/Sales/v"), "1355 ", KW("Unable to translate canonical name 'q.r/Sales/v'"), kLogDebug},
        // Server names and BUILTIN (compared case-sensitively) are not asked of the locator.
        {DcName, nullptr, "0 ", nullptr},
        {DcName, KW("\\\\X"), "0 \\\\X", nullptr},
        {DcName, KW("BUILTIN"), "0 ", nullptr},
        {DcName, KW("builtin"), "0 ", KW("Error retrieving domain controller for domain 'builtin'."),
         kLogError, 1355},
        {DcName, KW("BUILTINS"), "0 ", KW("for domain 'BUILTINS'."), kLogError, 1355},
        {DcName, KW("a.b"), "0 \\\\DC1", nullptr},  // the controller's flat name
        // The buffers grow once by themselves; ten retries at most.
        {SidByName, KW("a.b.c\\u"), "0 S-1-5-21-9-500",
         KW("Looking up sid for account 'u' in domain 'a.b.c' (Using computer '\\\\S')."), kLogDebug},
        {SidByName, KW("BUILTIN\\Administrators"), "0 S-1-5-32-544",
         KW("Buffer was too small to lookup SID for 'BUILTIN\\Administrators', try again with correct "
            "buffer size."),
         kLogDebug, k122, Op::LookupAccountName, k122, 9},
        {SidByName, KW("BUILTIN\\Administrators"), "122 ",
         KW("Failed to lookup SID for 'BUILTIN\\Administrators'."), kLogError, k122, Op::LookupAccountName,
         k122, 10},
        // Not found on the controller either: reported with the name looked up there.
        {SidByName, KW("a.b.c\\nobody"), "1332 ", KW("Failed to lookup SID for 'nobody'."), kLogError, 1332},
        // No controller for the domain: the second attempt is local again, with the user part.
        {SidByName, KW("X\\nobody"), "1332 ", KW("Error retrieving domain controller for domain 'X'."),
         kLogError, 1355},
        {SidByName, KW("BUILTIN\\Administrator"), "1332 ", KW("(Using computer '')."), kLogDebug},
        {Account, kJoSid, "0 jo|A|1", nullptr, 0, {}, Op::LookupAccountSid, k122, 9},
        {Account, kJoSid, "122 ||0", KW("Error looking up account name using a SID."), kLogError, k122,
         Op::LookupAccountSid, k122, 10},
        {Account, KW("S-1-5-21-7-9"), "1332 ||0", KW("Error looking up account name using a SID."), kLogError,
         1332},
    };
    for (const auto& [service, input, answer, line, level, code, op, fault, times] : rows) {
        SCOPED_TRACE(std::to_string(service) + " " + U8(input));
        log_.records.clear();
        for (int i = 0; i < (op == Op::Count ? 0 : times); ++i)
            fake_.FailNext(op, fault);
        if (service == Joined)
            fake_.SetJoinedDomain(KW("A"));
        WString out = KW("stale");
        SidBytes sid{1, 2};
        WString domain;
        uint32_t use = 9;
        int32_t result = 0;
        if (service == DcName) {
            out = directory_.GetDomainControllerName(log_.log, input);
        } else if (service == SidByName) {
            result = directory_.LookupSidByName(log_.log, input, &sid);
            out.assign(sid.begin(), sid.end());
        } else if (service == Account) {
            const WStringView text(input);
            result = directory_.LookupAccountBySid(log_.log, SidBytes(text.begin(), text.end()), &out,
                                                   &domain, &use);
            out += Format(KW("|%s|%u"), domain.c_str(), use);
        } else {
            result = service == Dns         ? directory_.FlatToDnsDomain(log_.log, input, &out)
                     : service == SidString ? directory_.GetSidStringByLookupName(log_.log, input, &out)
                     : service == Dn        ? directory_.CanonicalToDistinguishedName(log_.log, input, &out)
                                            : directory_.GetJoinedDomain(log_.log, &out);
        }
        EXPECT_EQ(std::to_string(result) + " " + U8(out), answer);
        EXPECT_TRUE(line != nullptr ? log_.Has(line, level, code) : log_.Errors() == 0) << log_.Dump();
    }
}
// Each strategy is tried only when the ones before it failed; `failed` counts those.
TEST_F(NameServicesTest, UserSidStrategiesInOrder) {
    fake_.AddCrackedName(kDsSidOrSidHistoryName, KW("jo@a.b"), kJoSid);
    const std::tuple<const WChar*, int32_t, const WChar*, int> rows[] = {
        // Cracking offers the name as given: only a name that already is a UPN is found that way.
        {KW("jo@a.b"), 0, KW("using DS Crackname 'S-1-5-21-7-1104'."), 0},
        {KW("jo"), 0, KW("using ADSI 'S-1-5-21-7-1104'."), 1},
        {KW("lu"), 0, KW("using LookupAccountName 'S-1-5-21-7-1104'."), 2},
        {KW("nobody"), 1332, KW("Failed to get SID for user 'nobody' in 'a.b'."), 3},
    };
    for (const auto& [user, result, winner, failed] : rows) {
        SCOPED_TRACE(U8(user));
        CapturedLog log;
        WString sid = KW("stale");
        EXPECT_EQ(directory_.GetUserSid(log.log, KW("a.b"), user, &sid), result) << log.Dump();
        EXPECT_EQ(U8(sid), result == 0 ? "S-1-5-21-7-1104" : "");
        EXPECT_TRUE(log.Has(winner, result == 0 ? kLogDebug : kLogError)) << log.Dump();
        // Each failure is hidden at level Debug, with the UPN the first stood for; the last also at Error.
        const WString name(user);
        EXPECT_EQ(log.Has(KW("Unable to translate UPN name '") + name + KW("@a.b' to to SID."), kLogDebug,
                          kResultNameNotCracked),
                  failed >= 1)
            << log.Dump();
        EXPECT_EQ(log.Has(KW("Failed to get user SID using ADSI for '") + name +
                              KW("' in domain (DNS name) 'a.b'."),
                          kLogDebug),
                  failed >= 2);
        EXPECT_EQ(log.Has(KW("Unable to look up SID for lookupname '") + name + KW("'."), kLogError,
                          kEDsNameNotFound),
                  failed >= 2);
        EXPECT_EQ(log.Has(KW("Failed to get user SID using LookupAccountName for 'nobody'"), kLogDebug, 1332),
                  failed >= 3);
    }
}

TEST_F(NameServicesTest, CrackNameReferralsAndFailures) {
    // jo@c.d lives in c.d; a controller of a.b can only say so.
    fake_.AddCrackedName(kDsSidOrSidHistoryName, KW("jo@c.d"), kJoSid, KW("c.d"));
    const std::tuple<const WChar*, bool, Op, int32_t, int32_t, const char*, const WChar*> rows[] = {
        {KW("jo@c.d"), true, Op::Count, 0, 0, "S-1-5-21-7-1104", KW("Name translated to 'S-1-5-21-7-1104'.")},
        // Without following, the referral is an uncracked name, reported with the status's text.
        {KW("jo@c.d"), false, Op::Count, 0, -6, "", KW("Error cracking name. Unable to resolve entire name")},
        // The first answer is a referral to no domain; the retry does not follow a second referral.
        {KW("jo@c.d"), true, Op::CrackStatus, kDsNameErrorDomainOnly, -6, "", nullptr},
        {KW("jo@c.d"), true, Op::BindDomainController, 1355, 1355, "",
         KW("An error has occurred while translating a name for domain 'c.d'.")},
        {KW("x@a.b"), false, Op::CrackName, 8453, 8453, "", KW("Error cracking name 'x@a.b'.")},
        {KW("x@a.b"), false, Op::BindDomainController, 1722, 1722, "",
         KW("Failed to bind a domain controller for domain 'a.b'.")},
        {KW("x@a.b"), false, Op::CrackStatus, 6, -6, "", KW("Error cracking name. ")},
    };
    for (const auto& [name, followReferral, op, fault, result, expected, line] : rows) {
        SCOPED_TRACE(U8(name) + " " + std::to_string(static_cast<int>(op)));
        log_.records.clear();
        if (op != Op::Count)
            fake_.FailNext(op, fault,
                           followReferral ? KW("c.d") : KW(""));  // when following: the retry's fault
        WString cracked = KW("stale");
        EXPECT_EQ(directory_.CrackName(log_.log, KW("a.b"), kDsUserPrincipalName, name,
                                       kDsSidOrSidHistoryName, followReferral, &cracked),
                  result);
        EXPECT_EQ(U8(cracked), expected);
        EXPECT_EQ(log_.Has(KW("Failed to crack name. New domain 'c.d' found. Retrying..."), kLogDebug),
                  name == std::get<0>(rows[0]));
        EXPECT_TRUE(line == nullptr || log_.Has(line, result == 0 ? kLogDebug : kLogError, result))
            << log_.Dump();
    }
}

TEST_F(NameServicesTest, AdsiStepFailures) {
    // A failing step fails the call with its code, except freeing the SID string: that string is the answer.
    const std::tuple<Op, int32_t, const WChar*, uint32_t> rows[] = {
        {Op::Count, 0, nullptr, 0},
        {Op::InitializeCom, kEOutOfMemory, KW("Error translating name 'a.b'\\'jo' to distinguished"),
         kLogError},
        {Op::CreateNameTranslate, kRegdbEClassNotReg, KW("An error creating instance of IADS Name"),
         kLogError},
        {Op::TranslateInit, kInjected, KW("An error initializing instance of IADS Name"), kLogError},
        {Op::TranslateSet, kInjected, KW("An error setting UPN username 'jo@a.b'."), kLogError},
        {Op::TranslateGet, kInjected, KW("Error translating name 'a.b'\\'jo' to distinguished"), kLogError},
        {Op::BindObject, kInjected, KW("Error getting object for 'LDAP://CN=Jo,OU=Sales,DC=a,DC=b'."),
         kLogError},
        {Op::QueryInterface, kENoInterface, KW("Error getting query interface object for 'LDAP://CN=Jo"),
         kLogError},
        {Op::Get, kEAdsPropertyNotFound, KW("Error getting SID from object with WinNt path: 'LDAP://CN=Jo"),
         kLogError},
        {Op::ArrayBounds, kInjected, KW("Error getting converting binary SID to bytes."), kLogDebug},
        {Op::ArrayAccess, kInjected, KW("Error getting converting binary SID to bytes."), kLogDebug},
        {Op::ArrayUnaccess, kInjected, KW("Error getting converting binary SID to bytes."), kLogDebug},
        {Op::SidToString, 1337, KW("Failed to convert SID object to string. Error code (1337)"), kLogError},
        {Op::FreeSidString, 87, KW("Failed to free SID string for 'CN=Jo,OU=Sales,DC=a,DC=b'."), kLogWarning},
    };
    for (const auto& [op, fault, line, level] : rows) {
        SCOPED_TRACE(static_cast<int>(op));
        log_.records.clear();
        if (op != Op::Count)
            fake_.FailNext(op, fault);
        const int32_t result = op == Op::FreeSidString ? 0 : fault;
        WString sid = KW("stale");
        EXPECT_EQ(directory_.GetUserSidViaAdsi(log_.log, KW("a.b"), KW("jo"), &sid), result) << log_.Dump();
        EXPECT_EQ(U8(sid), result == 0 ? "S-1-5-21-7-1104" : "");
        EXPECT_TRUE(line == nullptr || log_.Has(line, level, fault)) << log_.Dump();
    }
    // A value that is no byte array cannot be a SID.
    fake_.AddObject(kJoDn).SetText(KW("objectSid"), KW("S-1-5-21-7-1104"));
    WString sid;
    EXPECT_EQ(directory_.GetUserSidViaAdsi(log_.log, KW("a.b"), KW("jo"), &sid), kEInvalidArg);
}

TEST(NameHelpers, SplitUncAndDistinguished) {
    const std::pair<const WChar*, const char*> splits[] = {
        {KW("A\\u"), "A|u"},           {KW("a.b.c\\u\\v"), "a.b.c|u\\v"}, {KW("u"), "|u"},
        {KW("a.b/u\\v"), "|a.b/u\\v"}, {KW("\\\\S\\u"), "\\\\S|u"},       {KW(""), "|"},
    };
    for (const auto& [name, parts] : splits) {
        const auto [domain, user] = SplitAccountName(name);
        EXPECT_EQ(U8(domain) + "|" + U8(user), parts) << U8(name);
    }
    const std::pair<const WChar*, const char*> uncs[] = {
        {KW(""), ""},           {KW("S"), ""},          {KW("\\\\"), ""},      {KW("SV"), ""},
        {KW("SRV"), "\\\\SRV"}, {KW("\\SV"), "\\\\SV"}, {KW("\\\\S"), "\\\\S"}};
    for (const auto& [name, server] : uncs)
        EXPECT_EQ(U8(MakeUncServerName(name)), server) << U8(name);
    EXPECT_EQ(U8(DnsDomainToDistinguishedName(KW("a.b.c"))) + U8(DnsDomainToDistinguishedName(KW(""))),
              "DC=a,DC=b,DC=cDC=");
}

#if !defined(_WIN32)
// Until a backend is configured, the Linux build's directory answers every service with "not implemented".
TEST(UnconfiguredDirectory, AnswersNotImplemented) {
    CapturedLog log;
    WString text;
    EXPECT_EQ(Dir().GetJoinedDomain(log.log, &text), winerr::kCallNotImplemented);
    EXPECT_EQ(Dir().FlatToDnsDomain(log.log, KW("A"), &text), winerr::kCallNotImplemented);
    EXPECT_EQ(Dir().GetUserSid(log.log, KW("a.b"), KW("u"), &text), winerr::kCallNotImplemented);
    EXPECT_EQ(Dir().CanonicalToDistinguishedName(log.log, KW("a.b/u"), &text), winerr::kCallNotImplemented);
    std::unique_ptr<DirectoryObject> object;
    EXPECT_EQ(Dir().BindObject(KW("LDAP://CN=u"), ObjectInterface::Object, &object), kENotImpl);
}
#endif

}  // namespace
}  // namespace korva::testing
