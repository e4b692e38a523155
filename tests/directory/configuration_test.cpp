// The directory settings in the registry and the backend the factory of their kind builds.
#include <gtest/gtest.h>

#include <tuple>
#include <variant>
#include <vector>

#include "directory/configuration.h"
#include "directory/directory.h"
#include "directory/ldap_backend.h"
#include "infra/registry_connection.h"
#include "platform/format.h"
#include "platform/memory_registry.h"
#include "tests/policy/fake_directory.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

constexpr const WChar* kKey = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmarsh\\KORVA\\Directory");

using Value = std::pair<const WChar*, std::variant<const WChar*, uint32_t>>;

class DirectorySettingsTest : public ::testing::Test {
  protected:
    ~DirectorySettingsTest() override {
        RegisterDirectoryBackendFactory(DirectoryBackendKind::Ldap, nullptr);
        RegisterDirectoryBackendFactory(DirectoryBackendKind::Snapshot, nullptr);
    }
    platform::MemoryRegistry memory_;
    platform::ScopedRegistryOverride override_{&memory_};
    CapturedLog log_;
};

TEST_F(DirectorySettingsTest, ValuesAndTheirFaults) {
    // backend|server|port|tls|verify|bind|user|password|snapshot|timeout: bad values keep these, logged once.
    const char* kDefaults = "0||0|0|1|0||||3000";
    const std::tuple<std::vector<Value>, int32_t, const char*, const WChar*> rows[] = {
        {{}, 0, kDefaults, nullptr},
        {{{KW("Backend"), KW("LDAP")},
          {KW("Server"), KW("dc1.corp.example")},
          {KW("Port"), 636u},
          {KW("TLS"), KW("ldaps")},
          {KW("Verify Certificate"), 0u},
          {KW("Bind Method"), KW("sasl-gssapi")},
          {KW("Bind User"), KW("svc@corp.example")},
          {KW("Password File"), KW("/etc/korva/pw")},
          {KW("Timeout"), 1500u}},
         0,
         "2|dc1.corp.example|636|1|0|1|svc@corp.example|/etc/korva/pw||1500",
         nullptr},
        {{{KW("Backend"), KW("snapshot")}, {KW("Snapshot File"), KW("corp.ldif")}, {KW("TLS"), KW("none")}},
         0,
         "3||0|2|1|0|||corp.ldif|3000",
         nullptr},
        {{{KW("Backend"), KW("windows")}}, 0, "1||0|0|1|0||||3000", nullptr},
        {{{KW("Backend"), KW("ad")}}, 87, kDefaults, KW("'Backend' has the unknown value 'ad'")},
        {{{KW("Backend"), 1u}}, kRegistryWrongType, kDefaults, KW("'Backend' under")},
        {{{KW("Backend"), KW("ldap")}}, 87, kDefaults, KW("'ldap' needs a 'Server'")},
        {{{KW("Backend"), KW("snapshot")}}, 87, kDefaults, KW("needs a 'Snapshot File'")},
        {{{KW("Port"), 65536u}}, 87, kDefaults, KW("'Port' is 65536, outside 0 to 65535")},
        {{{KW("Port"), KW("389")}}, kRegistryWrongType, kDefaults, KW("'Port' under")},
        {{{KW("TLS"), KW("ssl")}}, 87, kDefaults, KW("'TLS' has the unknown value 'ssl'")},
        {{{KW("Verify Certificate"), 2u}}, 87, kDefaults, KW("'Verify Certificate' is 2")},
        {{{KW("Bind Method"), KW("kerberos")}}, 87, kDefaults, KW("'Bind Method' has the unknown")},
        {{{KW("Timeout"), 99u}}, 87, kDefaults, KW("'Timeout' is 99, outside 100 to 60000")},
        {{{KW("Timeout"), 60001u}}, 87, kDefaults, KW("'Timeout' is 60001")},
        {{{KW("Server"), 5u}}, kRegistryWrongType, kDefaults, KW("'Server' under")},
    };
    for (const auto& [values, result, settings, line] : rows) {
        SCOPED_TRACE(settings);
        platform::MemoryRegistry memory;  // a registry of the row's own
        platform::ScopedRegistryOverride rowOverride(&memory);
        for (const auto& [name, data] : values) {
            if (const auto* text = std::get_if<const WChar*>(&data))
                memory.PutString(kKey, name, *text);
            else
                memory.PutDword(kKey, name, std::get<uint32_t>(data));
        }
        RegistryConnection registry;
        ASSERT_EQ(registry.Connect(nullptr, platform::kHkeyLocalMachine), 0);
        log_.records.clear();
        DirectorySettings s;
        s.server = KW("stale");
        EXPECT_EQ(ReadDirectorySettings(log_.log, registry, &s), result) << log_.Dump();
        const auto n = [](auto kind) { return static_cast<int>(kind); };
        EXPECT_EQ(U8(Format(KW("%d|%s|%u|%d|%d|%d|%s|%s|%s|%u"), n(s.backend), s.server.c_str(), s.port,
                            n(s.tls), s.verifyCertificate, n(s.bind), s.bindName.c_str(),
                            s.passwordFile.c_str(), s.snapshotFile.c_str(), s.timeoutMilliseconds)),
                  settings);
        EXPECT_EQ(log_.Errors(), line != nullptr ? 1u : 0u) << log_.Dump();
        EXPECT_TRUE(line == nullptr || log_.Has(line, kLogError, result)) << log_.Dump();
    }
}

TEST_F(DirectorySettingsTest, ConfiguredOncePerProcess) {
    memory_.PutString(kKey, KW("Backend"), KW("snapshot"));
    memory_.PutString(kKey, KW("Snapshot File"), KW("small_domain.ldif"));
    RegisterLdapDirectoryBackends();
    DirectoryBackend* before = &Dir().Backend();
    EXPECT_EQ(ConfigureDirectoryFromRegistry(log_.log), 0) << log_.Dump();
    DirectoryBackend* configured = &Dir().Backend();
    DomainControllerInfo info;  // the snapshot's domain, and no controller in a file
    ASSERT_EQ(configured->GetDcName(KW("CORP"), kDsIsFlatName | kDsReturnDnsName, &info), 0);
    EXPECT_EQ(U8(info.domainControllerName), "\\\\corp.example.test");
    // A second start changes nothing, even with other settings.
    memory_.PutString(kKey, KW("Backend"), KW("bogus"));
    EXPECT_EQ(ConfigureDirectoryFromRegistry(log_.log), 0);
    EXPECT_EQ(&Dir().Backend(), configured);
    {
        FakeDirectory fake;  // a test's backend still goes over the configured one, and back
        EXPECT_EQ(&Dir().Backend(), &fake);
    }
    EXPECT_EQ(&Dir().Backend(), configured);
    SetDirectoryBackend(nullptr);
    EXPECT_EQ(&Dir().Backend(), before);
}

}  // namespace
}  // namespace korva::testing
