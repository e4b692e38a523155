// The Windows backend behind the process-wide directory. Without a domain (a workgroup computer, or Wine,
// whose directory functions are stubs) every service must fail cleanly: a code, an Error line with that code,
// empty outputs, no crash and no long wait. The SID conversions and the well-known accounts work everywhere.
#if defined(_WIN32)

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "directory/directory.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

// Wine's ADsGetObject crashes inside activeds when its LDAP provider cannot reach the server (a fault in
// Wine, not in the caller), so binding objects is left to Windows.
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

SidBytes Sid(const WChar* text) {
    SidBytes sid;
    EXPECT_EQ(Dir().StringToSid(text, &sid), 0) << U8(text);
    return sid;
}

TEST(WindowsBackend, ServicesWithoutADomainFailCleanly) {
    // ADSI needs COM on the calling thread, as the logon screen's thread has it.
    const int32_t com = Dir().Backend().InitializeCom();
    ASSERT_GE(com, 0);
    struct Row {
        const char* name;
        std::function<int32_t(cGjLog&, WString*)> call;
    };
    const Row rows[] = {
        {"GetJoinedDomain", [](cGjLog& log, WString* out) { return Dir().GetJoinedDomain(log, out); }},
        {"FlatToDnsDomain",
         [](cGjLog& log, WString* out) { return Dir().FlatToDnsDomain(log, KW("KORVAX"), out); }},
        {"GetUserSid",
         [](cGjLog& log, WString* out) {
             return Dir().GetUserSid(log, KW("korva.invalid"), KW("nobody"), out);
         }},
        {"CanonicalToDistinguishedName",
         [](cGjLog& log, WString* out) {
             return Dir().CanonicalToDistinguishedName(log, KW("korva.invalid/Users/nobody"), out);
         }},
        {"LookupAccountBySid",
         [](cGjLog& log, WString* out) {
             WString domain;
             uint32_t use = 0;
             return Dir().LookupAccountBySid(log, Sid(KW("S-1-5-21-1-2-3-4321")), out, &domain, &use);
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CapturedLog log;
        WString out = KW("stale");
        const auto start = std::chrono::steady_clock::now();
        const int32_t result = r.call(log.log, &out);
        // A hang guard, not a speed target: a stub or an absent domain answers at once.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        if (result != 0) {
            EXPECT_TRUE(out.empty());
            EXPECT_TRUE(log.Has(KW(""), kLogError, result)) << log.Dump();
        } else if (out.empty()) {
            // Only a computer that is not joined answers 0 with no name, and says so.
            EXPECT_TRUE(log.Has(KW("Local computer is not joined to a domain."), kLogError)) << log.Dump();
        }
    }
    if (!UnderWine()) {
        std::unique_ptr<DirectoryObject> object;
        EXPECT_NE(
            Dir().BindObject(KW("LDAP://CN=nobody,DC=korva,DC=invalid"), ObjectInterface::User, &object), 0);
        EXPECT_EQ(object, nullptr);
    }
    std::unique_ptr<DomainControllerBinding> binding;
    EXPECT_NE(Dir().BindDomainController(KW("korva.invalid"), &binding), 0);
    EXPECT_EQ(binding, nullptr);
    Dir().Backend().UninitializeCom();
}

TEST(WindowsBackend, SidTextAndWellKnownAccounts) {
    struct Row {
        const WChar* text;
        int32_t result;
        const char* roundTrip;
    };
    const Row rows[] = {
        {KW("S-1-5-32-544"), 0, "S-1-5-32-544"},  {KW("S-1-5-21-1-2-3-1104"), 0, "S-1-5-21-1-2-3-1104"},
        {KW("S-1-5-x"), winerr::kInvalidSid, ""}, {KW(""), winerr::kInvalidSid, ""},
        {nullptr, winerr::kInvalidSid, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(U8(r.text));
        SidBytes sid{9};
        EXPECT_EQ(Dir().StringToSid(r.text, &sid), r.result);
        EXPECT_EQ(sid.empty(), r.result != 0);
        WString text;
        EXPECT_EQ(Dir().SidToString(sid, &text), r.result == 0 ? 0 : winerr::kInvalidSid);
        EXPECT_EQ(U8(text), r.roundTrip);
    }
    // Truncated bytes are refused before the platform reads past them.
    SidBytes truncated = Sid(KW("S-1-5-21-1-2-3-1104"));
    truncated.resize(truncated.size() - 1);
    WString text;
    EXPECT_EQ(Dir().SidToString(truncated, &text), winerr::kInvalidSid);

    // The local account database knows the built-in Administrators group; buffers grow on the way.
    CapturedLog log;
    WString account;
    WString domain;
    uint32_t use = 0;
    ASSERT_EQ(Dir().LookupAccountBySid(log.log, Sid(KW("S-1-5-32-544")), &account, &domain, &use), 0)
        << log.Dump();
    EXPECT_EQ(U8(account), "Administrators");
    EXPECT_EQ(use, kSidTypeAlias);
    SidBytes bytes;
    ASSERT_EQ(Dir().LookupSidByName(log.log, KW("BUILTIN\\Administrators"), &bytes), 0) << log.Dump();
    EXPECT_EQ(bytes, Sid(KW("S-1-5-32-544")));
}

}  // namespace
}  // namespace korva::testing

#endif  // _WIN32
