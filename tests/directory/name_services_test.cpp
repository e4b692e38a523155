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

// Domain A (a.b, controller DC1) with the user Jo; domain C (c.d, controller DC2) for referrals.
class NameServicesTest : public ::testing::Test {
  protected:
    NameServicesTest() {
        fake_.AddFlatDomain(KW("A"), KW("a.b"), KW("DC1"));
        fake_.AddFlatDomain(KW("C"), KW("c.d"), KW("DC2"));
        fake_.SetJoinedDomain(KW("A"));
        fake_.AddCanonicalName(KW("a.b/Sales/Jo"), kJoDn);
        fake_.AddAccount(kJoSid, KW("jo"), KW("A"));
    }
    FakeDirectory fake_;
    Directory directory_{fake_};
    CapturedLog log_;
};

// The services that answer one text, with a step's fault: the answer as "code text" and a line logged.
TEST_F(NameServicesTest, OneTextAnswers) {
    fake_.AddUserSid(KW("a.b"), KW("jo"), kJoSid);
    fake_.AddCanonicalName(KW("a.b.c/Sales/u"), KW("CN=u,OU=Sales,DC=a,DC=b,DC=c"));
    fake_.AddCanonicalName(KW("/x"), KW("CN=x"));
    enum Service { Joined, Dns, SidString, Dn, Workgroup };
    const std::optional<int32_t> any;
    const std::tuple<Service, const WChar*, Op, int32_t, const char*, const WChar*, uint32_t,
                     std::optional<int32_t>>
        rows[] = {
            {Joined, nullptr, Op::Count, 0, "0 A", KW("Local computer is joined to domain 'A'."), kLogDebug,
             any},
            {Joined, nullptr, Op::GetJoinInformation, 2453, "2453 ",
             KW("Error code (2453) - Failed to get join status information"), kLogError, any},
            {Dns, KW("A"), Op::Count, 0, "0 a.b", KW("Converting Flat name 'A' to DNS name 'a.b'."),
             kLogDebug, any},
            // The name must be a flat one: a DNS name is not looked up as one.
            {Dns, KW("a.b"), Op::Count, 0, "1355 ",
             KW("Failed to get DNS name of domain controller with flat name 'a.b'. Error code (1355)"),
             kLogError, 1355},
            {SidString, KW("a.b\\jo"), Op::Count, 0, "0 S-1-5-21-7-1104", KW("Found SID 'S-1-5-21-7-1104'."),
             kLogDebug, 0},
            {SidString, KW("a.b\\jo"), Op::SidToString, 1337, "1337 ",
             KW("Failed to convert SID object to string."), kLogError, 1337},
            {SidString, KW("a.b\\jo"), Op::FreeSidString, 87, "0 S-1-5-21-7-1104",
             KW("Failed to free SID string 'a.b\\jo'."), kLogWarning, 87},
            {SidString, KW("a.b\\jo"), Op::LookupAccountName, 1789, "1789 ",
             KW("Unable to look up SID for lookupname 'a.b\\jo'."), kLogError, 1789},
            // Bound to a controller of the canonical name's own domain.
            {Dn, KW("a.b.c/Sales/u"), Op::Count, 0, "0 CN=u,OU=Sales,DC=a,DC=b,DC=c",
             KW("Binding to a domain controller in domain 'a.b.c'."), kLogDebug, any},
            {Dn, KW("/x"), Op::Count, 0, "0 CN=x",
             KW("Unable to extract domain name from canonical name '/x'."), kLogDebug, any},
            {Dn, KW("nodomain"), Op::Count, 0, "-6 ",
             KW("Unable to extract domain name from canonical name 'nodomain'."), kLogDebug, any},
            {Dn, KW("a.b.c/Sales/v"), Op::Count, 0, "-6 ",
             KW("Unable to translate canonical name 'a.b.c/Sales/v' to to distinguished name ."), kLogDebug,
             any},
            {Dn, KW("q.r/Sales/v"), Op::Count, 0, "1355 ",
             KW("Unable to translate canonical name 'q.r/Sales/v'"), kLogDebug, any},
            // A workgroup computer is no failure: no name, and the reason at level Error.
            {Workgroup, nullptr, Op::Count, 0, "0 ", KW("Local computer is not joined to a domain."),
             kLogError, any},
        };
    for (const auto& [service, input, op, fault, answer, line, level, code] : rows) {
        SCOPED_TRACE(U8(line));
        log_.records.clear();
        for (int i = 0; i < (op == Op::Count ? 0 : op == Op::LookupAccountName ? 2 : 1); ++i)
            fake_.FailNext(op, fault);  // a name not found locally is not found on the controller either
        if (service == Workgroup)
            fake_.SetWorkgroup(KW("WORKGROUP"));
        WString out = KW("stale");
        const int32_t result =
            service == Dns         ? directory_.FlatToDnsDomain(log_.log, input, &out)
            : service == SidString ? directory_.GetSidStringByLookupName(log_.log, input, &out)
            : service == Dn        ? directory_.CanonicalToDistinguishedName(log_.log, input, &out)
                                   : directory_.GetJoinedDomain(log_.log, &out);
        EXPECT_EQ(std::to_string(result) + " " + U8(out), answer);
        EXPECT_TRUE(log_.Has(line, level, code)) << log_.Dump();
    }
}
TEST_F(NameServicesTest, UserSidStrategiesInOrder) {
    enum Known { kCracking = 1, kAdsi = 2, kLookup = 4 };
    const std::tuple<const WChar*, int, int32_t, const WChar*, int, int> rows[] = {
        // Cracking offers the name as given: only a name that already is a UPN is found that way.
        {KW("jo@a.b"), kCracking | kAdsi | kLookup, 0, KW("using DS Crackname 'S-1-5-21-7-1104'."), 0, 0},
        {KW("jo"), kCracking | kAdsi | kLookup, 0, KW("using ADSI 'S-1-5-21-7-1104'."), 1, 0},
        {KW("jo"), kLookup, 0, KW("using LookupAccountName 'S-1-5-21-7-1104'."), 1, 2},  // buffers grow once
        {KW("nobody"), kCracking | kAdsi | kLookup, 1332, KW("Failed to get SID for user 'nobody' in 'a.b'."),
         1, 2},
    };
    for (const auto& [user, known, result, winner, translators, lookups] : rows) {
        SCOPED_TRACE(U8(user) + " " + std::to_string(known));
        FakeDirectory fake;  // a fresh directory per row, installed over the fixture's
        Directory directory(fake);
        CapturedLog log;
        fake.AddFlatDomain(KW("A"), KW("a.b"), KW("DC1"));
        if (known & kCracking)
            fake.AddCrackedName(kDsSidOrSidHistoryName, KW("jo@a.b"), kJoSid);
        if (known & kAdsi) {
            fake.AddPrincipalName(KW("jo@a.b"), kJoDn);
            fake.AddObject(kJoDn).SetBytes(KW("objectSid"), "S-1-5-21-7-1104");
        }
        if (known & kLookup)
            fake.AddUserSid(KW("a.b"), KW("jo"), kJoSid);
        WString sid = KW("stale");
        EXPECT_EQ(directory.GetUserSid(log.log, KW("a.b"), user, &sid), result) << log.Dump();
        EXPECT_EQ(U8(sid), result == 0 ? "S-1-5-21-7-1104" : "");
        EXPECT_TRUE(log.Has(winner, result == 0 ? kLogDebug : kLogError)) << log.Dump();
        EXPECT_EQ(fake.Calls(Op::CreateNameTranslate), translators);
        EXPECT_EQ(fake.Calls(Op::LookupAccountName), lookups);
        if (result == 0 && winner != std::get<3>(rows[0])) {
            // The first strategy's failure is hidden at level Debug, with the UPN it stood for.
            EXPECT_TRUE(log.Has(KW("Unable to translate UPN name 'jo@a.b' to to SID."), kLogDebug,
                                kResultNameNotCracked))
                << log.Dump();
        }
        if (result != 0) {  // each strategy's failure, the last at level Error
            EXPECT_TRUE(
                log.Has(KW("Unable to look up SID for lookupname 'nobody'."), kLogError, kEDsNameNotFound));
            EXPECT_TRUE(
                log.Has(KW("Failed to get user SID using ADSI for 'nobody' in domain (DNS name) 'a.b'."),
                        kLogDebug, kEDsNameNotFound));
            EXPECT_TRUE(
                log.Has(KW("Failed to get user SID using LookupAccountName for 'nobody'"), kLogDebug, 1332));
        }
    }
}

TEST_F(NameServicesTest, CrackNameReferralsAndFailures) {
    // jo@c.d lives in c.d; a controller of a.b can only say so.
    fake_.AddCrackedName(kDsSidOrSidHistoryName, KW("jo@c.d"), kJoSid, KW("c.d"));
    const std::tuple<const WChar*, bool, Op, int32_t, int32_t, const char*, const WChar*> rows[] = {
        {KW("jo@c.d"), true, Op::Count, 0, 0, "S-1-5-21-7-1104", KW("Name translated to 'S-1-5-21-7-1104'.")},
        // Without following, the referral is an uncracked name, reported with the status's text.
        {KW("jo@c.d"), false, Op::Count, 0, -6, "", KW("Error cracking name. Unable to resolve entire name")},
        // The retry does not follow a second referral.
        {KW("jo@c.d"), true, Op::CrackStatus, 0, -6, "", nullptr},
        {KW("jo@c.d"), true, Op::BindDomainController, 0, 1355, "",
         KW("An error has occurred while translating a name for domain 'c.d'.")},
        {KW("x@a.b"), false, Op::CrackName, 8453, 8453, "", KW("Error cracking name 'x@a.b'.")},
        {KW("x@a.b"), false, Op::BindDomainController, 1722, 1722, "",
         KW("Failed to bind a domain controller for domain 'a.b'.")},
        {KW("x@a.b"), false, Op::CrackStatus, 6, -6, "", KW("Error cracking name. ")},
    };
    for (const auto& [name, followReferral, op, fault, result, expected, line] : rows) {
        SCOPED_TRACE(U8(name) + " " + std::to_string(static_cast<int>(op)));
        log_.records.clear();
        if (op == Op::CrackStatus && fault == 0) {
            fake_.FailNext(Op::CrackStatus, 0, name);                 // the first answer is the real referral
            fake_.FailNext(Op::CrackStatus, kDsNameErrorDomainOnly);  // the retry is referred again
        } else if (op == Op::BindDomainController && fault == 0) {
            fake_.FailNext(Op::BindDomainController, 0);  // a.b binds; c.d has no reachable controller
            fake_.FailNext(Op::BindDomainController, 1355, KW("c.d"));
        } else if (op != Op::Count) {
            fake_.FailNext(op, fault);
        }
        WString cracked = KW("stale");
        EXPECT_EQ(directory_.CrackName(log_.log, KW("a.b"), kDsUserPrincipalName, name,
                                       kDsSidOrSidHistoryName, followReferral, &cracked),
                  result);
        EXPECT_EQ(U8(cracked), expected);
        if (name == std::get<0>(rows[0])) {
            EXPECT_TRUE(log_.Has(KW("Failed to crack name. New domain 'c.d' found. Retrying..."), kLogDebug));
        }
        if (line != nullptr) {
            EXPECT_TRUE(log_.Has(line, result == 0 ? kLogDebug : kLogError, result)) << log_.Dump();
        }
        EXPECT_EQ(fake_.OpenBindings(), 0);
    }
}

TEST_F(NameServicesTest, AdsiStepFailures) {
    fake_.AddPrincipalName(KW("jo@a.b"), kJoDn);
    fake_.AddObject(kJoDn).SetBytes(KW("objectSid"), "S-1-5-21-7-1104");
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
        EXPECT_EQ(fake_.OpenObjects() + fake_.OpenArrayAccesses() + fake_.openTranslators_, 0);
    }
    // A value that is no byte array cannot be a SID.
    fake_.AddObject(kJoDn).SetText(KW("objectSid"), KW("S-1-5-21-7-1104"));
    WString sid;
    EXPECT_EQ(directory_.GetUserSidViaAdsi(log_.log, KW("a.b"), KW("jo"), &sid), kEInvalidArg);
}

TEST_F(NameServicesTest, LookupSidByNameGrowsBuffersAndSwitchesToTheController) {
    std::string elevenTries;
    for (int i = 0; i < 11; ++i)
        elevenTries += "|BUILTIN\\Administrators;";
    const std::tuple<const WChar*, int, int32_t, std::string, const WChar*, uint32_t> rows[] = {
        {KW("a.b.c\\u"), 0, 0, "|a.b.c\\u;\\\\S|u;\\\\S|u;",
         KW("Looking up sid for account 'u' in domain 'a.b.c' (Using computer '\\\\S')."), kLogDebug},
        {KW("BUILTIN\\Administrators"), 0, 0, "|BUILTIN\\Administrators;|BUILTIN\\Administrators;",
         KW("Buffer was too small to lookup SID for 'BUILTIN\\Administrators', try again with correct buffer "
            "size."),
         kLogDebug},
        // Ten retries at most, then the failure is reported.
        {KW("BUILTIN\\Administrators"), 20, 122, elevenTries,
         KW("Failed to lookup SID for 'BUILTIN\\Administrators'."), kLogError},
        // Not found on the controller either: reported once, with the name looked up there.
        {KW("a.b.c\\nobody"), 0, 1332, "|a.b.c\\nobody;\\\\S|nobody;",
         KW("Failed to lookup SID for 'nobody'."), kLogError},
        // No controller for the domain: the second attempt is local again, with the user part.
        {KW("X\\nobody"), 0, 1332, "|X\\nobody;|nobody;",
         KW("Error retrieving domain controller for domain 'X'."), kLogError},
        // BUILTIN has no controller to ask and the locator is not asked.
        {KW("BUILTIN\\Administrator"), 0, 1332, "|BUILTIN\\Administrator;|Administrator;",
         KW("(Using computer '')."), kLogDebug},
    };
    for (const auto& [name, extra122, result, lookups, line, level] : rows) {
        SCOPED_TRACE(U8(name));
        FakeDirectory fake;
        Directory directory(fake);
        CapturedLog log;
        // u is unknown to the local computer as a.b.c\\u, known to a.b.c's controller as plain u.
        fake.AddFlatDomain(KW("ABC"), KW("a.b.c"), KW("S"));
        fake.AddAccountName(KW("\\\\S"), KW("u"), KW("S-1-5-21-9-500"), KW("ABC"));
        fake.AddAccountName({}, KW("BUILTIN\\Administrators"), KW("S-1-5-32-544"), KW("BUILTIN"));
        for (int i = 0; i < extra122; ++i)
            fake.FailNext(Op::LookupAccountName, winerr::kInsufficientBuffer);
        SidBytes sid{1, 2};
        EXPECT_EQ(directory.LookupSidByName(log.log, name, &sid), result);
        EXPECT_EQ(sid.empty(), result != 0);
        std::string calls;
        for (const auto& [system, account] : fake.AccountLookups())
            calls += U8(system) + "|" + U8(account) + ";";
        EXPECT_EQ(calls, lookups);
        EXPECT_TRUE(log.Has(line, level)) << log.Dump();
        EXPECT_EQ(fake.Calls(Op::GetDcName), U8(name).rfind("BUILTIN", 0) == 0 ? 0 : 1);
    }
}

TEST_F(NameServicesTest, DomainControllerName) {
    const std::tuple<const WChar*, const char*, int> rows[] = {
        {nullptr, "", 0},          {KW("\\\\X"), "\\\\X", 0},  // already a server name
        {KW("BUILTIN"), "", 0},    {KW("builtin"), "", 1},     // compared case-sensitively
        {KW("BUILTINS"), "", 1},   {KW("A"), "\\\\DC1", 1},
        {KW("a.b"), "\\\\DC1", 1},  // the flat name of the controller
        {KW("Q"), "", 1},
    };
    for (const auto& [domain, server, locatorCalls] : rows) {
        SCOPED_TRACE(U8(domain));
        const int calls = fake_.Calls(Op::GetDcName);
        EXPECT_EQ(U8(directory_.GetDomainControllerName(log_.log, domain)), server);
        EXPECT_EQ(fake_.Calls(Op::GetDcName) - calls, locatorCalls);
    }
    EXPECT_TRUE(log_.Has(KW("Error retrieving domain controller for domain 'Q'."), kLogError, 1355));
}

TEST_F(NameServicesTest, AccountBySid) {
    const std::tuple<const WChar*, int, int32_t, const char*> rows[] = {
        {kJoSid, 0, 0, "jo|A|1"},  // the first call reports the sizes, the second answers
        {kJoSid, 11, 122, "||0"},  // ten retries at most
        {KW("S-1-5-21-7-9"), 0, 1332, "||0"},
    };
    for (const auto& [sid, extra122, result, answer] : rows) {
        SCOPED_TRACE(U8(sid) + " " + std::to_string(extra122));
        log_.records.clear();
        for (int i = 0; i < extra122; ++i)
            fake_.FailNext(Op::LookupAccountSid, winerr::kInsufficientBuffer);
        const WString text = sid;
        WString account = KW("stale");
        WString domain = KW("stale");
        uint32_t use = 9;
        EXPECT_EQ(directory_.LookupAccountBySid(log_.log, SidBytes(text.begin(), text.end()), &account,
                                                &domain, &use),
                  result);
        EXPECT_EQ(U8(account) + "|" + U8(domain) + "|" + std::to_string(use), answer);
        EXPECT_EQ(log_.Has(KW("Error looking up account name using a SID."), kLogError, result), result != 0);
    }
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
    EXPECT_TRUE(
        log.Has(KW("Failed to get SID for user 'u' in 'a.b'."), kLogError, winerr::kCallNotImplemented));
}
#endif

}  // namespace
}  // namespace korva::testing
