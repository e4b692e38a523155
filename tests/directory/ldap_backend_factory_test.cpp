// The "ldap" and "snapshot" backends built from the directory settings, and the settings and files refused.
#include <gtest/gtest.h>

#include <tuple>

#include <string>
#include <vector>

#include "directory/configuration.h"
#include "directory/ldap_backend.h"
#include "platform/files.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

// Refuses to connect; records host|port|transport|bind|user|password|budget of the last session.
class RecordingConnector final : public platform::LdapConnector {
  public:
    int32_t Open(const platform::LdapSettings& s, std::unique_ptr<platform::LdapSession>* out) override {
        out->reset();
        seen = Utf16ToUtf8(s.host) + "|" + std::to_string(s.port) + "|" +
               std::to_string(static_cast<int>(s.transport)) + "|" +
               std::to_string(static_cast<int>(s.bind)) + "|" + Utf16ToUtf8(s.bindName) + "|" +
               std::string(s.password.view()) + "|" + std::to_string(s.budgetMs);
        return kLdapServerDown;
    }
    std::string seen;
};

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
    RecordingConnector connector;
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
        connector.seen.clear();
        std::unique_ptr<DirectoryBackend> backend;
        ASSERT_EQ(CreateDirectoryBackend(log_.log, settings, &backend), 0) << log_.Dump();
        WString name;
        uint32_t status = 0;
        EXPECT_TRUE(connector.seen.empty());  // nothing is opened before the first call
        EXPECT_EQ(backend->GetJoinInformation(&name, &status), winerr::kDsServerDown);
        EXPECT_EQ(connector.seen, "dc1.corp.example.test|636|" + seen + "|1500");
    }
}

TEST_F(LdapBackendFactoryTest, SnapshotServesTheFile) {
    DirectorySettings settings;
    settings.backend = DirectoryBackendKind::Snapshot;
    settings.snapshotFile = KW("small_domain.ldif");
    std::unique_ptr<DirectoryBackend> backend;
    ASSERT_EQ(CreateDirectoryBackend(log_.log, settings, &backend), 0) << log_.Dump();
    DomainControllerInfo info;
    ASSERT_EQ(backend->GetDcName(KW("CORP"), kDsIsFlatName | kDsReturnDnsName, &info), 0);
    EXPECT_EQ(Utf16ToUtf8(info.domainControllerName), "\\\\corp.example.test");  // no controller in a file
}

TEST_F(LdapBackendFactoryTest, RefusedSettingsAndFiles) {
    const std::tuple<const char*, DirectoryBackendKind, WString, WString, WString, int32_t> rows[] = {
        {"ldap without a server", DirectoryBackendKind::Ldap, KW(""), KW(""), KW(""),
         winerr::kInvalidParameter},
        {"missing password file", DirectoryBackendKind::Ldap, KW("dc1"),
         platform::JoinPath(folder_, KW("none.txt")), KW(""), winerr::kFileNotFound},
        {"snapshot without a file", DirectoryBackendKind::Snapshot, KW(""), KW(""), KW(""),
         winerr::kInvalidParameter},
        {"missing snapshot", DirectoryBackendKind::Snapshot, KW(""), KW(""),
         platform::JoinPath(folder_, KW("none.ldif")), winerr::kFileNotFound},
        {"snapshot that is no LDIF", DirectoryBackendKind::Snapshot, KW(""), KW(""),
         WriteFile(KW("bad.ldif"), "dn: CN=a\nchangetype: delete\n"), winerr::kInvalidData},
    };
    for (const auto& [what, kind, server, passwordFile, snapshotFile, code] : rows) {
        DirectorySettings settings;
        settings.backend = kind;
        settings.server = server;
        settings.passwordFile = passwordFile;
        settings.snapshotFile = snapshotFile;
        std::unique_ptr<DirectoryBackend> backend;
        log_.records.clear();
        EXPECT_EQ(CreateDirectoryBackend(log_.log, settings, &backend), code) << what;
        EXPECT_EQ(backend, nullptr) << what;
        EXPECT_TRUE(log_.Has(KW("could not be created"), kLogError, code)) << what << log_.Dump();
    }
}

}  // namespace
}  // namespace korva::testing
