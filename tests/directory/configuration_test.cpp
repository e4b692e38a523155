// The directory settings in the registry and the backend the factory of their kind builds.
#include <gtest/gtest.h>

#include <tuple>
#include <variant>
#include <vector>

#include "directory/configuration.h"
#include "directory/directory.h"
#include "infra/registry_connection.h"
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
        const std::string text =
            std::to_string(static_cast<int>(s.backend)) + "|" + U8(s.server) + "|" + std::to_string(s.port) +
            "|" + std::to_string(static_cast<int>(s.tls)) + "|" + std::to_string(s.verifyCertificate) + "|" +
            std::to_string(static_cast<int>(s.bind)) + "|" + U8(s.bindName) + "|" + U8(s.passwordFile) + "|" +
            U8(s.snapshotFile) + "|" + std::to_string(s.timeoutMilliseconds);
        EXPECT_EQ(text, settings);
        EXPECT_EQ(log_.Errors(), line != nullptr ? 1u : 0u) << log_.Dump();
        EXPECT_TRUE(line == nullptr || log_.Has(line, kLogError, result)) << log_.Dump();
    }
}

// The factories the LDAP and snapshot libraries register, as stand-ins.
int32_t MakeFake(const DirectorySettings&, std::unique_ptr<DirectoryBackend>* backend) {
    *backend = std::make_unique<UnavailableDirectoryBackend>();
    return 0;
}
int32_t RefuseWithTimeout(const DirectorySettings&, std::unique_ptr<DirectoryBackend>* backend) {
    backend->reset();
    return winerr::kTimeout;
}
int32_t SucceedWithoutBackend(const DirectorySettings&, std::unique_ptr<DirectoryBackend>*) {
    return 0;
}

TEST_F(DirectorySettingsTest, BackendsFromTheirFactories) {
    using K = DirectoryBackendKind;
    const std::tuple<K, DirectoryBackendFactory, int32_t, bool, const WChar*> rows[] = {
        {K::Default, nullptr, 0, false, nullptr},
        {K::Ldap, &MakeFake, 0, true, nullptr},
        {K::Snapshot, &MakeFake, 0, true, nullptr},
        {K::Ldap, nullptr, winerr::kNotSupported, false, KW("'ldap' is not built into")},
        {K::Snapshot, &RefuseWithTimeout, winerr::kTimeout, false, KW("'snapshot' could not be created")},
        {K::Ldap, &SucceedWithoutBackend, kEPointer, false, KW("'ldap' could not be created")},
#if defined(_WIN32)
        {K::Windows, nullptr, 0, true, nullptr},
#else
        {K::Windows, nullptr, winerr::kNotSupported, false, KW("'windows' is not available")},
#endif
    };
    for (const auto& [kind, factory, result, created, line] : rows) {
        SCOPED_TRACE(static_cast<int>(kind));
        log_.records.clear();
        if (kind == K::Ldap || kind == K::Snapshot)
            RegisterDirectoryBackendFactory(kind, factory);
        DirectorySettings settings;
        settings.backend = kind;
        std::unique_ptr<DirectoryBackend> backend;
        EXPECT_EQ(CreateDirectoryBackend(log_.log, settings, &backend), result);
        EXPECT_EQ(backend != nullptr, created);
        EXPECT_EQ(log_.Errors(), line != nullptr ? 1u : 0u) << log_.Dump();
        EXPECT_TRUE(line == nullptr || log_.Has(line, kLogError, result)) << log_.Dump();
    }
}

TEST_F(DirectorySettingsTest, ConfiguredOncePerProcess) {
    memory_.PutString(kKey, KW("Backend"), KW("snapshot"));
    memory_.PutString(kKey, KW("Snapshot File"), KW("corp.ldif"));
    RegisterDirectoryBackendFactory(DirectoryBackendKind::Snapshot, &MakeFake);
    DirectoryBackend* before = &Dir().Backend();
    EXPECT_EQ(ConfigureDirectoryFromRegistry(log_.log), 0) << log_.Dump();
    DirectoryBackend* configured = &Dir().Backend();
    EXPECT_NE(configured, before);
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
