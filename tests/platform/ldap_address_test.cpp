#include <gtest/gtest.h>

#include <tuple>

#include "platform/ldap.h"

namespace korva::platform {
namespace {

constexpr auto kPlain = LdapTransport::Plain;
constexpr auto kLdaps = LdapTransport::Ldaps;

LdapSettings Settings(const WChar* uri, const WChar* host = KW(""), uint16_t port = 0,
                      LdapTransport transport = kPlain) {
    LdapSettings settings;
    std::tie(settings.uri, settings.host, settings.port, settings.transport) =
        std::tie(uri, host, port, transport);
    return settings;
}

TEST(LdapAddressTest, SettingsResolveToOneHostPortAndTransport) {
    const std::tuple<LdapSettings, const char*, uint16_t, bool> kAccepted[] = {
        // settings, host, port, TLS
        {Settings(KW(""), KW("127.0.0.1")), "127.0.0.1", 389, false},
        {Settings(KW(""), KW("dc1"), 3268, LdapTransport::StartTls), "dc1", 3268, false},
        {Settings(KW(""), KW("dc1"), 0, kLdaps), "dc1", 636, true},
        {Settings(KW(""), KW("[::1]")), "::1", 389, false},
        {Settings(KW("ldap://dc2:1389"), KW("dc1"), 7), "dc2", 1389, false},  // the URI wins
        {Settings(KW("LDAPS://dc1/"), KW(""), 0, kLdaps), "dc1", 636, true},
        {Settings(KW("ldap://[fe80::1]:10389")), "fe80::1", 10389, false},
        {Settings(KW("ldap://h:65535")), "h", 65535, false},
    };
    for (const auto& [settings, host, port, tls] : kAccepted) {
        LdapAddress address;
        ASSERT_EQ(ResolveLdapAddress(settings, &address), 0) << host;
        EXPECT_EQ(std::tie(address.host, address.port, address.tls), std::tie(host, port, tls));
    }
    // clang-format off
    const LdapSettings kRefused[] = {
        Settings(KW("")), Settings(KW(""), KW("dc 1")), Settings(KW(""), KW("[dc1]")), Settings(KW("http://dc1")),
        Settings(KW("ldaps://dc1")), Settings(KW("ldap://dc1"), KW(""), 0, kLdaps), Settings(KW("ldap://dc1:0")),
        Settings(KW("ldap://dc1:65536")), Settings(KW("ldap://dc1:38x")), Settings(KW("ldap://dc1:000389")),
        Settings(KW("ldap://dc1:")), Settings(KW("ldap://dc1/DC=corp")), Settings(KW("ldap://:389")),
        Settings(KW("ldap://[::1")), Settings(KW("ldap://[::1]x"))};
    // clang-format on
    for (const LdapSettings& settings : kRefused) {
        LdapAddress address;
        address.host = "stale";
        EXPECT_EQ(ResolveLdapAddress(settings, &address), kLdapParamError) << (&settings - kRefused);
        EXPECT_TRUE(address.host.empty() && address.port == 0 && !address.tls);
    }
}

TEST(LdapAddressTest, RemainingTimeIsCappedAndEndsAtTheDeadline) {
    const auto now = std::chrono::steady_clock::now();
    EXPECT_EQ(RemainingMs(now + std::chrono::hours(1), 2000), 2000u);
    const uint32_t left = RemainingMs(now + std::chrono::milliseconds(500), 2000);
    EXPECT_TRUE(left > 0 && left <= 500) << left;
    EXPECT_EQ(RemainingMs(now - std::chrono::milliseconds(1), 2000), 0u);
    const LdapEntry entry{KW("CN=x"), {{KW("displayName"), {{'A'}}}}};
    ASSERT_NE(entry.Find(KW("DISPLAYNAME")), nullptr);  // names ignore case
    EXPECT_EQ(entry.Find(KW("displayNam")), nullptr);
}

}  // namespace
}  // namespace korva::platform
