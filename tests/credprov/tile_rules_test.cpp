// The provider's plain tables and switches, and starting the Reset Wizard (for real: a stub that records).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "credprov/provider_settings.h"
#include "credprov/reset_wizard.h"
#include "credprov/tile_rules.h"
#include "infra/registry_connection.h"
#include "platform/process.h"
#include "tests/credprov/fakes.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

namespace korva::testing {
namespace {

TEST(TileRules, FieldLayouts) {
    // The wrapped IDs of the logical user, old, new, confirmation and domain fields (2, 3, 4, 5, 9).
    const std::pair<uint32_t, std::array<uint32_t, 5>> layouts[] = {
        {0, {2, 3, 4, 5, 9}}, {7, {2, 3, 4, 5, 9}}, {1, {4, 5, 6, 7, 10}}, {2, {1, 2, 3, 4, 8}}};
    const uint32_t logical[] = {2, 3, 4, 5, 9};
    for (const auto& [options, wrapped] : layouts) {
        for (uint32_t field : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 0xFFFFFFFFu}) {
            uint32_t translated = field;  // other numbers pass unchanged
            for (size_t i = 0; i < 5; ++i) {
                translated = field == logical[i] ? wrapped[i] : translated;
            }
            EXPECT_EQ(TranslateFieldID(options, field), translated) << options << " " << field;
            // Keystrokes in the user name and the new password refresh the rules.
            EXPECT_EQ(ShouldTestPassword(options, field), field == wrapped[0] || field == wrapped[2]);
            EXPECT_EQ(IsLayoutPasswordField(options, field),
                      field == wrapped[1] || field == wrapped[2] || field == wrapped[3]);
        }
    }
    EXPECT_EQ(FieldCountWithLink(10, true), 11u);
    EXPECT_EQ(FieldCountWithLink(10, false), 10u);
}

TEST(TileRules, LinkScenariosAndActiveBoxes) {
    for (uint32_t products : {0u, 1u, 2u, 3u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        for (uint32_t cpus = 0; cpus <= 6; ++cpus) {
            EXPECT_EQ(IsResetLinkActive(products, cpus),
                      (products & 1) != 0 && (cpus == 1 || cpus == 2 || cpus == 4));
        }
    }
    // A box is active when shown (state not 0) and not disabled (interactive state not 2).
    for (uint32_t state = 0; state < 4; ++state) {
        for (uint32_t interactive = 0; interactive < 4; ++interactive) {
            EXPECT_EQ(IsPasswordBoxActive(state, interactive), state != 0 && interactive != 2);
        }
    }
}

TEST(TileRules, SplitUserAndDomain) {
    struct Row {
        const WChar* user;
        const WChar* domain;
        WString account, expectedDomain;
    };
    const Row rows[] = {
        {KW("CORP\\jsmith"), KW("Domain: EUROPE"), KW("jsmith"), KW("EUROPE")},
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
    for (const Row& row : rows) {
        const AccountAndDomain result = SplitUserAndDomain(row.user, row.domain);
        EXPECT_EQ(result.account, row.account) << Utf16ToUtf8(row.account);
        EXPECT_EQ(result.domain, row.expectedDomain) << Utf16ToUtf8(row.account);
    }
}

TEST(TileRules, ReadLogonNamesStaysInsideTheBuffer) {
    struct Row {
        size_t at;  // byte to overwrite; 0: none
        uint64_t value;
        size_t width;
        bool read;
    };
    // Offsets past the end or wrapping when the length is added, lengths past the end, odd lengths.
    const Row rows[] = {{0, 0, 0, true},       {16, 10000, 8, false},
                        {32, 10000, 8, false}, {32, 0xFFFFFFFFFFFFFFF0ull, 8, false},
                        {8, 0xFFFE, 2, false}, {24, 3, 2, false}};
    for (const Row& row : rows) {
        std::vector<uint8_t> packed = PackLogon({KW("CORP"), KW("jsmith")});
        std::memcpy(packed.data() + row.at, &row.value, row.width);
        WString domain = KW("stale"), user = KW("stale");
        EXPECT_EQ(ReadLogonNames(packed.data(), packed.size(), &domain, &user), row.read) << row.at;
        EXPECT_EQ(domain, row.read ? KW("CORP") : KW(""));
        EXPECT_EQ(user, row.read ? KW("jsmith") : KW(""));
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

TEST(ProviderSettingsTest, SwitchTruthTables) {
    constexpr int64_t kAbsent = -1;
    struct Row {
        int64_t local, policy;
        bool link, enforcement;
    } const rows[] = {// clang-format off
        {kAbsent, kAbsent, false, false}, {1, kAbsent, true, true}, {1, 0, false, false}, {1, 1, true, true},
        {7, 2, true, true}, {0, 1, false, true}, {kAbsent, 1, false, true}, {0, 2, false, false},
        {0, 0, false, false}, {0, kAbsent, false, false}, {0xFFFFFFFF, 0xFFFFFFFF, true, true}};
    // clang-format on
    for (const Row& row : rows) {
        platform::MemoryRegistry registry;
        platform::ScopedRegistryOverride use(&registry);
        for (const auto& [local, policy] :
             {std::pair(kHklmLinkLocal, kWizards), std::pair(kHklmVlxLocal, kVlxPolicy)}) {
            const WChar* name = local == kHklmLinkLocal ? KW("GINAEnabled") : KW("GinaEnabled");
            for (const auto& [key, value] : {std::pair(local, row.local), std::pair(policy, row.policy)}) {
                if (value != kAbsent) {
                    registry.PutDword(key, name, static_cast<uint32_t>(value));
                }
            }
        }
        const uint32_t products = ReadSettings().enabledProducts;
        EXPECT_EQ(products,
                  (row.link ? kProductResetLink : 0u) | (row.enforcement ? kProductEnforcement : 0u))
            << row.local << " " << row.policy;
    }
}

TEST(ProviderSettingsTest, UnreadableValuesTakeTheirDefaultsAndAreTraced) {
    platform::MemoryRegistry registry;
    platform::ScopedRegistryOverride use(&registry);
    LogCapture capture;
    const ProviderSettings none = ReadSettings();
    EXPECT_EQ(none.enabledProducts, 0u);
    const std::string trace = capture.Trace();
    // The local switches are errors, the policy switches warnings.
    EXPECT_TRUE(Contains(trace,
                         "Error: Error getting registry key 'GINAEnabled' at "
                         "'SOFTWARE\\Quillmarsh\\KORVA\\GINA'. Errorcode 2"));
    EXPECT_TRUE(Contains(trace,
                         "Warning: Error getting registry key 'GinaEnabled' at "
                         "'Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina'"));
    EXPECT_FALSE(Contains(trace, "functionality enabled"));

    // A policy switch stored as text is unreadable: link policy on, enforcement policy unset; a numeric CLSID
    // is none.
    registry.PutDword(kHklmLinkLocal, KW("GINAEnabled"), 1);
    registry.PutString(kWizards, KW("GINAEnabled"), KW("0"));
    registry.PutDword(kHklmVlxLocal, KW("GinaEnabled"), 1);
    registry.PutString(kVlxPolicy, KW("GinaEnabled"), KW("0"));
    registry.PutDword(kWizards, KW("WrapCredProvCLSID"), 5);
    const ProviderSettings settings = ReadSettings();
    EXPECT_EQ(settings.enabledProducts, kProductResetLink | kProductEnforcement);
    EXPECT_TRUE(settings.wrappedClsidText.empty());
    EXPECT_TRUE(Contains(capture.Trace(), "Information: KORVA functionality enabled."));
    EXPECT_TRUE(Contains(capture.Trace(), "Information: VLX functionality enabled."));
}

TEST(ResetWizardTest, LocationFromTheRegistry) {
    const WString key = WString(KW("HKEY_LOCAL_MACHINE\\")) + kResetWizardKey;
    struct Row {
        uint32_t type;  // kRegNone: no value
        const WChar* stored;
        bool failConnect;
        const WChar* expected;
    };
    const Row rows[] = {{platform::kRegSz, KW("C:\\Reset\\wizard.exe"), false, KW("C:\\Reset\\wizard.exe")},
                        {platform::kRegExpandSz, KW("%ProgramFiles%\\w.exe"), false,
                         KW("%ProgramFiles%\\w.exe")},  // unexpanded
                        {platform::kRegNone, nullptr, false, KW("")},
                        {platform::kRegDword, nullptr, false, KW("")},
                        {platform::kRegSz, KW("C:\\x.exe"), true, KW("")}};
    for (const Row& row : rows) {
        platform::MemoryRegistry registry;
        platform::ScopedRegistryOverride use(&registry);
        if (row.type == platform::kRegDword) {
            registry.PutDword(key, kResetWizardLocationValue, 5);
        } else if (row.type != platform::kRegNone) {
            registry.PutString(key, kResetWizardLocationValue, row.stored, row.type);
        }
        if (row.failConnect) {
            registry.FailNext(platform::MemoryRegistry::Op::Connect, winerr::kAccessDenied);
        }
        WString path = KW("stale");
        EXPECT_EQ(GetResetWizardLocation(&path), row.failConnect ? winerr::kAccessDenied : 0);
        EXPECT_EQ(path, row.expected);
        EXPECT_EQ(registry.OpenHandleCount(), 0u);
    }
}

// A process seam that records each start and answers with a set result.
class RecordingProcesses final : public platform::Processes {
  public:
    int32_t RunAndWait(const WChar* application, const WChar* commandLine, const WChar* desktop,
                       uint32_t wait) override {
        calls.push_back({application, commandLine, desktop, Utf8ToUtf16(std::to_string(wait))});
        return result;
    }
    std::vector<std::array<WString, 4>> calls;
    int32_t result = 0;
};

TEST(ResetWizardTest, OneStartOnTheWinlogonDesktopWithoutTimeLimit) {
    struct Row {
        const WChar* path;
        int32_t startResult, expected;
        bool started;
    };
    const Row rows[] = {
        {KW("C:\\W\\wizard.exe"), 0, 0, true},
        {KW("C:\\W\\missing.exe"), winerr::kFileNotFound, winerr::kFileNotFound, true},  // not retried
        {KW(""), 0, winerr::kFileNotFound, false},
        {nullptr, 0, winerr::kFileNotFound, false}};
    for (const Row& row : rows) {
        RecordingProcesses processes;
        processes.result = row.startResult;
        platform::ScopedProcessesOverride use(&processes);
        EXPECT_EQ(StartResetWizard(row.path, KW("CORP"), KW("jsmith")), row.expected);
        ASSERT_EQ(processes.calls.size(), row.started ? 1u : 0u);
        if (row.started) {
            const std::array<WString, 4> expected = {
                row.path, WString(KW("\"")) + row.path + KW("\" \"CORP\" \"jsmith\""),
                KW("WinSta0\\Winlogon"), KW("4294967295")};
            EXPECT_EQ(processes.calls[0], expected);
        }
    }
    // Missing names are empty arguments; quotes inside are passed as they are.
    EXPECT_EQ(BuildResetWizardCommandLine(KW("w.exe"), nullptr, nullptr), KW("\"w.exe\" \"\" \"\""));
    EXPECT_EQ(BuildResetWizardCommandLine(KW("w.exe"), KW("a\"b"), KW("x y")),
              KW("\"w.exe\" \"a\"b\" \"x y\""));
}

// ---- The real process seam with the stub wizard ---------------------------------------------------------

void SetVariable(const char* name, const char* value) {
#if defined(_WIN32)
    SetEnvironmentVariableA(name, value);
#else
    value != nullptr ? setenv(name, value, 1) : unsetenv(name);
#endif
}

class StubWizardTest : public ::testing::Test {
  protected:
    StubWizardTest() {
#if defined(_WIN32)
        wchar_t self[MAX_PATH] = {};
        const std::wstring text(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
        stub_ =
            WString(text.begin(), text.begin() + text.find_last_of(L'\\') + 1) + KW("korva_stub_wizard.exe");
#else
        std::string self(4096, '\0');
        self.resize(std::max<ssize_t>(readlink("/proc/self/exe", self.data(), self.size()), 0));
        stub_ = Utf8ToUtf16(self.substr(0, self.find_last_of('/') + 1) + "korva_stub_wizard");
#endif
        SetVariable("KORVA_STUB_WIZARD_RECORD", Utf16ToUtf8(capture_.Path(KW("record.txt"))).c_str());
    }
    ~StubWizardTest() override {
        for (const char* name :
             {"KORVA_STUB_WIZARD_RECORD", "KORVA_STUB_WIZARD_SLEEP_MS", "KORVA_STUB_WIZARD_EXIT"}) {
            SetVariable(name, nullptr);
        }
    }
    std::string Record() const {
        return capture_.Read(KW("record.txt"), true);
    }

    LogCapture capture_;
    WString stub_;
};

TEST_F(StubWizardTest, TheWizardSeesTheTilesDomainAndUserAsTwoArguments) {
#if defined(_WIN32)
    const std::string desktop = "desktop=WinSta0\\Winlogon\n";
#else
    const std::string desktop;
#endif
    struct Row {
        const WChar* domain;
        const WChar* user;
        std::string arguments;  // after the program name
    };
    const Row rows[] = {
        {nullptr, nullptr, "arg=\narg=\n"},
        {KW("MY DOMAIN"), KW("j smith"), "arg=MY DOMAIN\narg=j smith\n"},
        {KW("CORP"), KW("j\u00F6rg"), "arg=CORP\narg=j\xC3\xB6rg\n"},
        // An unescaped trailing backslash escapes the closing quote: both builds split it alike.
        {KW("CORP"), KW("jsmith\\"), "arg=CORP\narg=jsmith\"\n"},
    };
    // Whatever its exit code, the start returns 0 once the wizard has ended.
    SetVariable("KORVA_STUB_WIZARD_SLEEP_MS", "100");
    SetVariable("KORVA_STUB_WIZARD_EXIT", "7");
    for (const Row& row : rows) {
        ASSERT_EQ(StartResetWizard(stub_.c_str(), row.domain, row.user), 0);
        EXPECT_EQ(Record(), "arg=" + Utf16ToUtf8(stub_) + "\n" + row.arguments + desktop + "ended\n");
    }
    EXPECT_EQ(StartResetWizard((stub_ + KW("-missing")).c_str(), KW("CORP"), KW("jsmith")),
              winerr::kFileNotFound);
}

TEST_F(StubWizardTest, BoundedWaitEndsBeforeTheProgramDoes) {
    SetVariable("KORVA_STUB_WIZARD_SLEEP_MS", "1000");
    const WString line = BuildResetWizardCommandLine(stub_.c_str(), KW("CORP"), KW("jsmith"));
    EXPECT_EQ(platform::Procs().RunAndWait(stub_.c_str(), line.c_str(), nullptr, 50), winerr::kWaitTimeout);
    // The program was left running and ends by itself.
    for (int i = 0; i < 200 && !Contains(Record(), "ended"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(Contains(Record(), "ended"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it exit before the folder goes
}

}  // namespace
}  // namespace korva::testing
