// The plain tables of the provider and its credentials: field layouts, keystrokes that refresh the rules, the
// link's scenarios, the feature switches read from the registry, the tile's account and domain, and the names
// read from a packed logon structure.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "credprov/provider_settings.h"
#include "credprov/tile_rules.h"
#include "infra/registry_connection.h"
#include "platform/memory_registry.h"
#include "platform/text.h"
#include "tests/credprov/log_capture.h"

namespace korva {
namespace {

TEST(TileRules, TranslateFieldIdMapsEachLogicalFieldPerLayout) {
    struct Row {
        uint32_t options;
        uint32_t logical;
        uint32_t wrapped;
    };
    const Row rows[] = {
        // Generic layout (and every unknown value): identity.
        {0, 2, 2},
        {0, 3, 3},
        {0, 4, 4},
        {0, 5, 5},
        {0, 9, 9},
        {7, 2, 2},
        {7, 9, 9},
        {3, 4, 4},
        // The default wrapped provider.
        {1, 2, 4},
        {1, 3, 5},
        {1, 4, 6},
        {1, 5, 7},
        {1, 9, 10},
        // The Windows password provider.
        {2, 2, 1},
        {2, 3, 2},
        {2, 4, 3},
        {2, 5, 4},
        {2, 9, 8},
        // Numbers that are not logical fields pass unchanged in every layout.
        {1, 0, 0},
        {1, 1, 1},
        {1, 6, 6},
        {1, 10, 10},
        {2, 8, 8},
        {2, 0xFFFFFFFFu, 0xFFFFFFFFu},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TranslateFieldID(row.options, row.logical), row.wrapped)
            << "options " << row.options << ", logical " << row.logical;
    }
}

TEST(TileRules, OnlyUserNameAndNewPasswordKeystrokesRefreshTheRules) {
    struct Row {
        uint32_t options;
        std::vector<uint32_t> refreshing;
    };
    const Row rows[] = {{0, {2, 4}}, {7, {2, 4}}, {1, {4, 6}}, {2, {1, 3}}};
    for (const Row& row : rows) {
        for (uint32_t field = 0; field < 12; ++field) {
            const bool expected = field == row.refreshing[0] || field == row.refreshing[1];
            EXPECT_EQ(ShouldTestPassword(row.options, field), expected)
                << "options " << row.options << ", field " << field;
        }
    }
}

TEST(TileRules, LayoutPasswordFieldsAreOldNewAndConfirmation) {
    struct Row {
        uint32_t options;
        std::vector<uint32_t> passwords;
    };
    const Row rows[] = {{0, {3, 4, 5}}, {1, {5, 6, 7}}, {2, {2, 3, 4}}, {9, {3, 4, 5}}};
    for (const Row& row : rows) {
        for (uint32_t field = 0; field < 12; ++field) {
            const bool expected =
                field == row.passwords[0] || field == row.passwords[1] || field == row.passwords[2];
            EXPECT_EQ(IsLayoutPasswordField(row.options, field), expected)
                << "options " << row.options << ", field " << field;
        }
    }
}

TEST(TileRules, ResetLinkOnlyWithItsBitOnLogonUnlockAndCredUi) {
    for (uint32_t products : {0u, 1u, 2u, 3u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        for (uint32_t cpus = 0; cpus <= 6; ++cpus) {
            const bool expected = (products & 1) != 0 && (cpus == 1 || cpus == 2 || cpus == 4);
            EXPECT_EQ(IsResetLinkActive(products, cpus), expected) << products << " " << cpus;
        }
    }
}

TEST(TileRules, PasswordBoxActiveWhenShownAndNotDisabled) {
    struct Row {
        uint32_t state;
        uint32_t interactive;
        bool active;
    };
    // States: 0 hidden, 1 selected tile, 2 deselected tile, 3 both; interactive: 0 none, 1 read-only,
    // 2 disabled, 3 focused.
    const Row rows[] = {{0, 0, false}, {0, 3, false}, {1, 0, true}, {1, 1, true},  {1, 2, false},
                        {1, 3, true},  {2, 0, true},  {3, 0, true}, {3, 2, false}, {2, 2, false}};
    for (const Row& row : rows) {
        EXPECT_EQ(IsPasswordBoxActive(row.state, row.interactive), row.active)
            << row.state << row.interactive;
    }
}

TEST(TileRules, FieldCountGainsOneForTheLink) {
    EXPECT_EQ(FieldCountWithLink(10, true), 11u);
    EXPECT_EQ(FieldCountWithLink(10, false), 10u);
    EXPECT_EQ(FieldCountWithLink(0, true), 1u);
}

TEST(TileRules, SplitUserAndDomain) {
    struct Row {
        const WChar* user;
        const WChar* domain;
        WString account;
        WString expectedDomain;
    };
    const Row rows[] = {
        {KW("CORP\\jsmith"), KW("Domain: EUROPE"), KW("jsmith"), KW("EUROPE")},
        {KW("CORP\\jsmith"), nullptr, KW("jsmith"), KW("CORP")},
        {KW("jsmith"), nullptr, KW("jsmith"), KW("jsmith")},
        {KW("jsmith"), KW("  CORP  "), KW("jsmith"), KW("CORP")},
        {KW("a\\b\\c"), KW("a:b:c"), KW("b\\c"), KW("b:c")},
        {KW("\\jsmith"), nullptr, KW("jsmith"), KW("")},
        {KW("CORP\\"), nullptr, KW("CORP"), KW("CORP")},
        {KW(" CORP \\ js "), nullptr, KW(" js "), KW("CORP")},         // the account is not trimmed
        {KW("jsmith"), KW(":CORP"), KW("jsmith"), KW(":CORP")},        // a leading colon ends no label
        {KW("jsmith"), KW("Domain:   "), KW("jsmith"), KW("jsmith")},  // blank domain: from the user name
        {KW("jsmith"), KW("\tCORP"), KW("jsmith"), KW("\tCORP")},      // only the space character is trimmed
        {KW(""), KW("Domain: CORP"), KW(""), KW("CORP")},
        {nullptr, nullptr, KW(""), KW("")},
        {KW(""), KW(""), KW(""), KW("")},
        {KW("\\"), nullptr, KW(""), KW("")},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const AccountAndDomain result = SplitUserAndDomain(rows[i].user, rows[i].domain);
        EXPECT_EQ(result.account, rows[i].account) << "row " << i;
        EXPECT_EQ(result.domain, rows[i].expectedDomain) << "row " << i;
    }
}

// A packed logon structure: the 40-byte header (type, counted domain, counted user name) followed by the
// strings, with offsets from the start of the buffer.
std::vector<uint8_t> PackLogon(const WString& domain, const WString& user) {
    std::array<uint8_t, 56> header{};
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&header[at], &v, sizeof v); };
    auto put64 = [&](size_t at, uint64_t v) { std::memcpy(&header[at], &v, sizeof v); };
    const uint64_t domainAt = header.size();
    const uint64_t userAt = domainAt + domain.size() * sizeof(WChar);
    put16(8, static_cast<uint16_t>(domain.size() * sizeof(WChar)));
    put16(10, static_cast<uint16_t>(domain.size() * sizeof(WChar)));
    put64(16, domainAt);
    put16(24, static_cast<uint16_t>(user.size() * sizeof(WChar)));
    put16(26, static_cast<uint16_t>(user.size() * sizeof(WChar)));
    put64(32, userAt);
    std::vector<uint8_t> buffer(header.begin(), header.end());
    for (const WString* text : {&domain, &user}) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(text->data());
        buffer.insert(buffer.end(), bytes, bytes + text->size() * sizeof(WChar));
    }
    return buffer;
}

TEST(TileRules, ReadLogonNamesReadsBothCountedStrings) {
    const std::vector<uint8_t> packed = PackLogon(KW("CORP"), KW("jsmith"));
    WString domain = KW("stale");
    WString user = KW("stale");
    ASSERT_TRUE(ReadLogonNames(packed.data(), packed.size(), &domain, &user));
    EXPECT_EQ(domain, KW("CORP"));
    EXPECT_EQ(user, KW("jsmith"));

    const std::vector<uint8_t> empty = PackLogon(KW(""), KW(""));
    ASSERT_TRUE(ReadLogonNames(empty.data(), empty.size(), &domain, &user));
    EXPECT_EQ(domain, KW(""));
    EXPECT_EQ(user, KW(""));
}

TEST(TileRules, ReadLogonNamesRefusesStringsOutsideTheBuffer) {
    struct Row {
        const char* what;
        size_t at;  // byte to overwrite
        uint64_t value;
        size_t width;
    };
    const Row rows[] = {
        {"domain offset past the end", 16, 10000, 8},
        {"user offset past the end", 32, 10000, 8},
        {"offset that wraps when the length is added", 32, 0xFFFFFFFFFFFFFFF0ull, 8},
        {"domain length past the end", 8, 0xFFFE, 2},
        {"odd user length", 24, 3, 2},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> packed = PackLogon(KW("CORP"), KW("jsmith"));
        std::memcpy(packed.data() + row.at, &row.value, row.width);
        WString domain = KW("stale");
        WString user = KW("stale");
        EXPECT_FALSE(ReadLogonNames(packed.data(), packed.size(), &domain, &user)) << row.what;
        EXPECT_TRUE(domain.empty() && user.empty()) << row.what;
    }
    const std::vector<uint8_t> packed = PackLogon(KW("CORP"), KW("jsmith"));
    WString domain;
    WString user;
    EXPECT_FALSE(ReadLogonNames(packed.data(), 39, &domain, &user)) << "shorter than the header";
    EXPECT_FALSE(ReadLogonNames(nullptr, 100, &domain, &user));
}

// --- The feature switches, read from an in-memory registry ----------------------------------------------

constexpr auto* kLinkLocal = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmarsh\\KORVA\\GINA");
constexpr auto* kWizards = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards");
constexpr auto* kVlxLocal = KW("HKEY_LOCAL_MACHINE\\Software\\Quillmarsh\\Valexor\\VLX Credential Provider");
constexpr auto* kVlxPolicy = KW("HKEY_LOCAL_MACHINE\\Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina");

class ProviderSettingsTest : public ::testing::Test {
  protected:
    ProviderSettings Read() {
        RegistryConnection registry;
        EXPECT_EQ(registry.Connect(nullptr, platform::kHkeyLocalMachine), 0);
        return ReadProviderSettings(registry);
    }
    platform::MemoryRegistry registry_;
    platform::ScopedRegistryOverride override_{&registry_};
};

TEST_F(ProviderSettingsTest, ResetLinkNeedsTheLocalSwitchAndAPolicyNotZero) {
    struct Row {
        std::optional<uint32_t> local;
        std::optional<uint32_t> policy;
        bool on;
    };
    const Row rows[] = {
        {std::nullopt, std::nullopt, false},
        {1, std::nullopt, true},
        {1, 0, false},
        {1, 1, true},
        {7, 2, true},
        {0, 1, false},
        {std::nullopt, 1, false},
    };
    for (const Row& row : rows) {
        platform::MemoryRegistry fresh;
        platform::ScopedRegistryOverride use(&fresh);
        if (row.local)
            fresh.PutDword(kLinkLocal, KW("GINAEnabled"), *row.local);
        if (row.policy)
            fresh.PutDword(kWizards, KW("GINAEnabled"), *row.policy);
        EXPECT_EQ((Read().enabledProducts & kProductResetLink) != 0, row.on)
            << "local " << row.local.value_or(99) << " policy " << row.policy.value_or(99);
    }
}

TEST_F(ProviderSettingsTest, EnforcementTruthTable) {
    struct Row {
        std::optional<uint32_t> local;
        std::optional<uint32_t> policy;
        bool on;
    };
    const Row rows[] = {
        // local 0 (or absent): only a policy of exactly 1 turns it on
        {0, std::nullopt, false},
        {0, 0, false},
        {0, 1, true},
        {0, 2, false},
        {std::nullopt, 1, true},
        {std::nullopt, std::nullopt, false},
        // local non-zero: on unless the policy is 0
        {5, std::nullopt, true},
        {1, 0, false},
        {1, 1, true},
        {1, 2, true},
        {0xFFFFFFFFu, 0xFFFFFFFFu, true},
    };
    for (const Row& row : rows) {
        platform::MemoryRegistry fresh;
        platform::ScopedRegistryOverride use(&fresh);
        if (row.local)
            fresh.PutDword(kVlxLocal, KW("GinaEnabled"), *row.local);
        if (row.policy)
            fresh.PutDword(kVlxPolicy, KW("GinaEnabled"), *row.policy);
        EXPECT_EQ((Read().enabledProducts & kProductEnforcement) != 0, row.on)
            << "local " << row.local.value_or(99) << " policy " << row.policy.value_or(99);
    }
}

TEST_F(ProviderSettingsTest, ValuesOfTheWrongTypeTakeTheirDefaults) {
    // A policy switch stored as text is unreadable: the link policy then defaults to on, the enforcement
    // policy to "not set".
    registry_.PutDword(kLinkLocal, KW("GINAEnabled"), 1);
    registry_.PutString(kWizards, KW("GINAEnabled"), KW("0"));
    registry_.PutDword(kVlxLocal, KW("GinaEnabled"), 1);
    registry_.PutString(kVlxPolicy, KW("GinaEnabled"), KW("0"));
    registry_.PutDword(kWizards, KW("WrapCredProvCLSID"), 5);
    const ProviderSettings settings = Read();
    EXPECT_EQ(settings.enabledProducts, kProductResetLink | kProductEnforcement);
    EXPECT_TRUE(settings.wrappedClsidText.empty());
}

TEST_F(ProviderSettingsTest, UnreadableValuesAreTracedAtTheirLevels) {
    testing::LogCapture capture;
    registry_.PutString(kWizards, KW("WrapCredProvCLSID"), KW("{60B78E88-EAD8-445C-9CFD-0B87F74EA6CD}"));
    const ProviderSettings settings = Read();
    EXPECT_EQ(settings.wrappedClsidText, KW("{60B78E88-EAD8-445C-9CFD-0B87F74EA6CD}"));
    EXPECT_EQ(settings.enabledProducts, 0u);
    const std::string trace = capture.Trace();
    // The local switches are errors, the policy switches warnings; the CLSID was read, so it is not named.
    EXPECT_NE(
        trace.find("Error: Error getting registry key 'GINAEnabled' at 'SOFTWARE\\Quillmarsh\\KORVA\\GINA'."
                   " Errorcode 2"),
        std::string::npos)
        << trace;
    EXPECT_NE(trace.find("Warning: Error getting registry key 'GINAEnabled' at "
                         "'SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards'. Errorcode 2"),
              std::string::npos);
    EXPECT_NE(trace.find("Error: Error getting registry key 'GinaEnabled' at "
                         "'Software\\Quillmarsh\\Valexor\\VLX Credential Provider'. Errorcode 2"),
              std::string::npos);
    EXPECT_NE(trace.find("Warning: Error getting registry key 'GinaEnabled' at "
                         "'Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina'. Errorcode 2"),
              std::string::npos);
    EXPECT_EQ(trace.find("WrapCredProvCLSID"), std::string::npos);
    EXPECT_EQ(trace.find("functionality enabled"), std::string::npos);
}

TEST_F(ProviderSettingsTest, EnabledFeaturesAreAnnounced) {
    testing::LogCapture capture;
    registry_.PutDword(kLinkLocal, KW("GINAEnabled"), 1);
    registry_.PutDword(kVlxLocal, KW("GinaEnabled"), 1);
    EXPECT_EQ(Read().enabledProducts, kProductResetLink | kProductEnforcement);
    const std::string trace = capture.Trace();
    EXPECT_NE(trace.find("Information: KORVA functionality enabled."), std::string::npos) << trace;
    EXPECT_NE(trace.find("Information: VLX functionality enabled."), std::string::npos) << trace;
    EXPECT_NE(trace.find("Error: Error getting registry key 'WrapCredProvCLSID'"), std::string::npos);
}

}  // namespace
}  // namespace korva
