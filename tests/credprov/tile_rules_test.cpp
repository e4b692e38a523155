// The provider's plain tables and switches, and the Reset Wizard's location and command line.
#include <gtest/gtest.h>

#include <tuple>

#include "credprov/provider_settings.h"
#include "credprov/reset_wizard.h"
#include "credprov/tile_rules.h"
#include "infra/registry_connection.h"
#include "tests/credprov/fakes.h"
#include "tests/support/fake_registry.h"

namespace korva::testing {
namespace {

TEST(TileRules, SplitUserAndDomain) {
    // The user text, the domain text, then the account and the domain they give.
    const std::tuple<const WChar*, const WChar*, WString, WString> rows[] = {
        {KW("CORP\\jsmith"), nullptr, KW("jsmith"), KW("CORP")},
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
        {KW("\\"), nullptr, KW(""), KW("")},
    };
    for (const auto& [user, domain, account, expectedDomain] : rows) {
        const AccountAndDomain result = SplitUserAndDomain(user, domain);
        EXPECT_EQ(std::pair(result.account, result.domain), std::pair(account, expectedDomain))
            << Utf16ToUtf8(account);
    }
}

TEST(TileRules, ReadLogonNamesStaysInsideTheBuffer) {
    // Byte to overwrite, value, width: offsets past the end or wrapping, lengths past the end, odd lengths.
    const std::tuple<size_t, uint64_t, size_t> rows[] = {{16, 10000, 8}, {32, 10000, 8}, {32, ~0ull - 15, 8},
                                                         {8, 0xFFFE, 2}, {24, 3, 2},     {0, 0, 0}};
    for (const auto& [at, value, width] : rows) {
        std::vector<uint8_t> packed = PackLogon({KW("CORP"), KW("jsmith")});
        std::memcpy(packed.data() + at, &value, width);
        WString domain = KW("stale"), user = KW("stale");
        const bool read = width == 0;
        EXPECT_EQ(ReadLogonNames(packed.data(), packed.size(), &domain, &user), read) << at;
        EXPECT_EQ(domain + user, read ? KW("CORPjsmith") : KW(""));
    }
    const std::vector<uint8_t> empty = PackLogon({KW(""), KW("")});
    WString domain, user;
    EXPECT_TRUE(ReadLogonNames(empty.data(), empty.size(), &domain, &user));
    EXPECT_FALSE(ReadLogonNames(empty.data(), 39, &domain, &user)) << "shorter than the header";
    EXPECT_FALSE(ReadLogonNames(nullptr, 100, &domain, &user));
}

// --- The feature switches and the Reset Wizard's location, read from an in-memory registry ---------------

constexpr auto* kWizards = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards");
constexpr auto* kVlxPolicy = KW("HKEY_LOCAL_MACHINE\\Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina");

ProviderSettings ReadSettings() {
    RegistryConnection registry;
    EXPECT_EQ(registry.Connect(nullptr, platform::kHkeyLocalMachine), 0);
    return ReadProviderSettings(registry);
}

TEST(ProviderSettingsTest, SwitchTruthTablesAndTraces) {
    constexpr int64_t kAbsent = -1, kText = -2;  // kText: the policy stored as the text "0": no policy
    // The local and the policy value of both switches, and whether the link and enforcement are on.
    const std::tuple<int64_t, int64_t, bool, bool> rows[] = {{kAbsent, kAbsent, false, false},
                                                             {1, kAbsent, true, true},
                                                             {1, 0, false, false},
                                                             {1, 1, true, true},
                                                             {7, 2, true, true},
                                                             {0, 1, false, true},
                                                             {kAbsent, 1, false, true},
                                                             {0, 2, false, false},
                                                             {0, 0, false, false},
                                                             {1, kText, true, true},
                                                             {0xFFFFFFFF, 0xFFFFFFFF, true, true}};
    LogCapture capture;
    for (const auto& [local, policy, link, enforcement] : rows) {
        FakeRegistry registry;
        for (const auto& [key, value] : {std::pair(kHklmLinkLocal, local), std::pair(kWizards, policy),
                                         std::pair(kHklmVlxLocal, local), std::pair(kVlxPolicy, policy)}) {
            if (value == kText) {  // the value names differ only in case, which the registry ignores
                registry.PutString(key, KW("GINAEnabled"), KW("0"));
            } else if (value != kAbsent) {
                registry.PutDword(key, KW("GINAEnabled"), static_cast<uint32_t>(value));
            }
        }
        const size_t before = capture.Trace().size();
        EXPECT_EQ(ReadSettings().enabledProducts,
                  (link ? kProductResetLink : 0u) | (enforcement ? kProductEnforcement : 0u))
            << local << " " << policy;
        const std::string trace = capture.Trace().substr(before);
        EXPECT_EQ(std::pair(Contains(trace, "Information: KORVA functionality enabled."),
                            Contains(trace, "Information: VLX functionality enabled.")),
                  std::pair(link, enforcement));
    }
    // Missing local switches are errors, missing policy switches warnings.
    EXPECT_TRUE(Contains(capture.Trace(),
                         "Error: Error getting registry key 'GINAEnabled' at "
                         "'SOFTWARE\\Quillmarsh\\KORVA\\GINA'. Errorcode 2"));
    EXPECT_TRUE(Contains(capture.Trace(),
                         "Warning: Error getting registry key 'GinaEnabled' at "
                         "'Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina'"));
}

// Starting the wizard for real is the logon host's test, with a stub wizard under Wine.
TEST(ResetWizardTest, CommandLineAndMissingPrograms) {
    // Quotes inside the names are passed as they are.
    EXPECT_EQ(BuildResetWizardCommandLine(KW("w.exe"), KW("a\"b"), KW("x y")),
              KW("\"w.exe\" \"a\"b\" \"x y\""));
    EXPECT_EQ(StartResetWizard(KW("korva_no_such_wizard.exe"), KW("CORP"), KW("jsmith")),
              winerr::kFileNotFound);
}

}  // namespace
}  // namespace korva::testing
