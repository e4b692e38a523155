#include <gtest/gtest.h>

#include "platform/ldap.h"

namespace korva::platform {
namespace {

struct AddressCase {
    const char* name;
    const WChar* uri;
    const WChar* host;
    uint16_t port;
    LdapTransport transport;
    int32_t result;
    const char* wantHost;
    uint16_t wantPort;
    bool wantTls;
};

const AddressCase kAddressCases[] = {
    {"host with default port", KW(""), KW("127.0.0.1"), 0, LdapTransport::Plain, 0, "127.0.0.1", 389, false},
    {"host with own port", KW(""), KW("dc1"), 3268, LdapTransport::StartTls, 0, "dc1", 3268, false},
    {"host for ldaps", KW(""), KW("dc1"), 0, LdapTransport::Ldaps, 0, "dc1", 636, true},
    {"bracketed IPv6 host", KW(""), KW("[::1]"), 0, LdapTransport::Plain, 0, "::1", 389, false},
    {"uri wins over host", KW("ldap://dc2:1389"), KW("dc1"), 7, LdapTransport::Plain, 0, "dc2", 1389, false},
    {"uri scheme in capitals", KW("LDAPS://dc1/"), KW(""), 0, LdapTransport::Ldaps, 0, "dc1", 636, true},
    {"uri with IPv6 and port", KW("ldap://[fe80::1]:10389"), KW(""), 0, LdapTransport::Plain, 0, "fe80::1",
     10389, false},
    {"uri with highest port", KW("ldap://h:65535"), KW(""), 0, LdapTransport::Plain, 0, "h", 65535, false},
    {"empty host", KW(""), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0, false},
    {"host with a space", KW(""), KW("dc 1"), 0, LdapTransport::Plain, kLdapParamError, "", 0, false},
    {"brackets without IPv6", KW(""), KW("[dc1]"), 0, LdapTransport::Plain, kLdapParamError, "", 0, false},
    {"unknown scheme", KW("http://dc1"), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0, false},
    {"ldaps uri, plain transport", KW("ldaps://dc1"), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0,
     false},
    {"ldap uri, ldaps transport", KW("ldap://dc1"), KW(""), 0, LdapTransport::Ldaps, kLdapParamError, "", 0,
     false},
    {"port zero", KW("ldap://dc1:0"), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0, false},
    {"port too big", KW("ldap://dc1:65536"), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0, false},
    {"port not a number", KW("ldap://dc1:38x"), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0,
     false},
    // Digits beyond what a port can have are refused before they are added up.
    {"six-digit port", KW("ldap://dc1:000389"), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0,
     false},
    {"empty port", KW("ldap://dc1:"), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0, false},
    {"path after host", KW("ldap://dc1/DC=corp"), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0,
     false},
    {"no host in uri", KW("ldap://:389"), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0, false},
    {"unclosed bracket", KW("ldap://[::1"), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0, false},
    {"junk after bracket", KW("ldap://[::1]x"), KW(""), 0, LdapTransport::Plain, kLdapParamError, "", 0,
     false},
};

TEST(LdapAddressTest, SettingsResolveToOneHostPortAndTransport) {
    for (const AddressCase& c : kAddressCases) {
        SCOPED_TRACE(c.name);
        LdapSettings settings;
        settings.uri = c.uri;
        settings.host = c.host;
        settings.port = c.port;
        settings.transport = c.transport;
        LdapAddress address;
        address.host = "stale";
        ASSERT_EQ(ResolveLdapAddress(settings, &address), c.result);
        EXPECT_EQ(address.host, c.wantHost);
        EXPECT_EQ(address.port, c.wantPort);
        EXPECT_EQ(address.tls, c.wantTls);
    }
}

TEST(LdapAddressTest, RemainingTimeIsCappedAndEndsAtTheDeadline) {
    const auto now = std::chrono::steady_clock::now();
    // Far away: the per-call limit applies.
    EXPECT_EQ(RemainingMs(now + std::chrono::hours(1), 2000), 2000u);
    // Closer than the limit: what is left, never more.
    const uint32_t left = RemainingMs(now + std::chrono::milliseconds(500), 2000);
    EXPECT_GT(left, 0u);
    EXPECT_LE(left, 500u);
    // Passed: nothing.
    EXPECT_EQ(RemainingMs(now - std::chrono::milliseconds(1), 2000), 0u);
}

TEST(LdapAddressTest, EntryFindsAttributesIgnoringCase) {
    LdapEntry entry;
    entry.attributes.push_back({KW("displayName"), {{'A'}}});
    entry.attributes.push_back({KW("objectSid"), {{1, 5}}});
    ASSERT_NE(entry.Find(KW("DISPLAYNAME")), nullptr);
    EXPECT_EQ(entry.Find(KW("objectsid"))->values.front(), (LdapValue{1, 5}));
    EXPECT_EQ(entry.Find(KW("displayNam")), nullptr);
}

}  // namespace
}  // namespace korva::platform
