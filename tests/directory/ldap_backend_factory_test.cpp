// The backends built from the directory settings, and the settings, files and factories refused.
#include <gtest/gtest.h>

#include <tuple>

#include <string>
#include <vector>

#include "directory/configuration.h"
#include "directory/ldap_backend.h"
#include "platform/files.h"
#include "tests/directory/ldif_test_support.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

class LdapBackendFactoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterLdapDirectoryBackends();
        ASSERT_EQ(platform::Files().MakeTempDirectory(&folder_), 0);
    }
    void TearDown() override {
        EXPECT_EQ(platform::Files().RemoveDirectoryTree(folder_.c_str()), 0);
        RegisterDirectoryBackendFactory(DirectoryBackendKind::Ldap, nullptr);
        RegisterDirectoryBackendFactory(DirectoryBackendKind::Snapshot, nullptr);
    }

    WString WriteFile(const WChar* name, std::string_view content) {
        const WString path = platform::JoinPath(folder_, name);
        EXPECT_EQ(platform::WriteWholeFile(path.c_str(), content.data(), content.size()), 0);
        return path;
    }

    WString folder_;
    CapturedLog log_;
};

TEST_F(LdapBackendFactoryTest, LdapSettingsReachTheConnection) {
    FaultyConnector connector;
    connector.openFailure = kLdapServerDown;
    platform::ScopedLdapOverride use(&connector);
    const auto number = [](auto value) { return std::to_string(static_cast<int>(value)); };
    // Without a bind user the bind is anonymous; TLS "none" is plain LDAP.
    const std::tuple<DirectoryTls, const WChar*, const char*, std::string> rows[] = {
        {DirectoryTls::Ldaps, KW("svc-korva@corp.example.test"), "s3cret pass\r\nnot this line\n",
         number(platform::LdapTransport::Ldaps) + "|" + number(platform::LdapBind::Simple) +
             "|svc-korva@corp.example.test|s3cret pass"},
        {DirectoryTls::None, KW(""), nullptr,
         number(platform::LdapTransport::Plain) + "|" + number(platform::LdapBind::Anonymous) + "||"},
    };
    for (const auto& [tls, user, password, seen] : rows) {
        DirectorySettings settings;
        settings.backend = DirectoryBackendKind::Ldap;
        settings.server = KW("dc1.corp.example.test");
        settings.port = 636;
        settings.tls = tls;
        settings.bindName = user;
        settings.passwordFile = password != nullptr ? WriteFile(KW("password.txt"), password) : WString();
        settings.timeoutMilliseconds = 1500;
        connector.opens = 0;
        std::unique_ptr<DirectoryBackend> backend;
        ASSERT_EQ(CreateDirectoryBackend(log_.log, settings, &backend), 0) << log_.Dump();
        WString name;
        uint32_t status = 0;
        EXPECT_EQ(connector.opens, 0);  // nothing is opened before the first call
        EXPECT_EQ(backend->GetJoinInformation(&name, &status), winerr::kDsServerDown);
        const platform::LdapSettings& s = connector.opened;
        EXPECT_EQ(U8(s.host) + "|" + std::to_string(s.port) + "|" + number(s.transport) + "|" +
                      number(s.bind) + "|" + U8(s.bindName) + "|" + std::string(s.password.view()) + "|" +
                      std::to_string(s.budgetMs),
                  "dc1.corp.example.test|636|" + seen + "|1500");
    }
}

// The built-in factories' refusals, and what the registry's kind of backend asks of no factory or a wrong one.
TEST_F(LdapBackendFactoryTest, BackendsAndRefusals) {
    using K = DirectoryBackendKind;
    const DirectoryBackendFactory none = nullptr;
    const DirectoryBackendFactory noBackend = [](const DirectorySettings&,
                                                 std::unique_ptr<DirectoryBackend>*) { return 0; };
#if defined(_WIN32)
    const std::pair<int32_t, const WChar*> windows = {0, nullptr};
#else
    const std::pair<int32_t, const WChar*> windows = {winerr::kNotSupported,
                                                      KW("'windows' is not available")};
#endif
    // The kind, a factory in place of the built-in one, the server, the password or snapshot file.
    const std::tuple<K, const DirectoryBackendFactory*, const WChar*, WString, int32_t, const WChar*> rows[] =
        {
            {K::Default, nullptr, KW(""), KW(""), 0, nullptr},
            {K::Ldap, &none, KW("dc1"), KW(""), winerr::kNotSupported, KW("'ldap' is not built into")},
            {K::Ldap, &noBackend, KW("dc1"), KW(""), kEPointer, KW("'ldap' could not be created")},
            {K::Ldap, nullptr, KW(""), KW(""), winerr::kInvalidParameter, KW("'ldap' could not be created")},
            {K::Ldap, nullptr, KW("dc1"), platform::JoinPath(folder_, KW("none.txt")), winerr::kFileNotFound,
             KW("'ldap' could not be created")},
            {K::Snapshot, nullptr, KW(""), KW(""), winerr::kInvalidParameter, KW("'snapshot' could not")},
            {K::Snapshot, nullptr, KW(""), platform::JoinPath(folder_, KW("none.ldif")),
             winerr::kFileNotFound, KW("'snapshot' could not")},
            {K::Snapshot, nullptr, KW(""), WriteFile(KW("bad.ldif"), "dn: CN=a\nchangetype: delete\n"),
             winerr::kInvalidData, KW("'snapshot' could not")},
            {K::Windows, nullptr, KW(""), KW(""), windows.first, windows.second},
        };
    for (const auto& [kind, factory, server, file, code, line] : rows) {
        SCOPED_TRACE(static_cast<int>(kind));
        RegisterLdapDirectoryBackends();
        if (factory != nullptr)
            RegisterDirectoryBackendFactory(kind, *factory);
        DirectorySettings settings;
        settings.backend = kind;
        settings.server = server;
        settings.passwordFile = settings.snapshotFile = file;
        std::unique_ptr<DirectoryBackend> backend;
        log_.records.clear();
        EXPECT_EQ(CreateDirectoryBackend(log_.log, settings, &backend), code);
        EXPECT_EQ(backend != nullptr, kind == K::Windows && code == 0);
        EXPECT_EQ(log_.Errors(), line != nullptr ? 1u : 0u) << log_.Dump();
        EXPECT_TRUE(line == nullptr || log_.Has(line, kLogError, code)) << log_.Dump();
    }
}

}  // namespace
}  // namespace korva::testing
