// The logon user interface under Wine: regsvr32, CoCreateInstance through the registry, the screen's calls.
#include <gtest/gtest.h>

#include <process.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "credprov/class_ids.h"
#include "tests/credprov/com_fakes.h"

namespace korva::testing {
namespace {

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    const std::wstring text(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return text.substr(0, text.find_last_of(L"\\/") + 1);
}

const std::wstring kModule = L"KORVACredProvx64.dll";
const std::wstring kFakeProvider = L"korva_fake_provider.dll";
const wchar_t* const kLinkLocal = L"SOFTWARE\\Quillmarsh\\KORVA\\GINA";
const wchar_t* const kWizardsPolicy = L"SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards";
const wchar_t* const kProviderKey = L"CLSID\\{33592d29-4c1d-4732-a607-d01a81215385}";
const wchar_t* const kFilterKey = L"CLSID\\{2c766ae5-77fb-4726-9bd4-646ebb77f0ec}";
const wchar_t* const kFakeProviderKey = L"CLSID\\{60b78e88-ead8-445c-9cfd-0b87f74ea6cd}";

// regsvr32's exit code: 0 when the module's (un)registration succeeded.
DWORD Regsvr32(bool unregister) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring program = std::wstring(system) + L"\\regsvr32.exe",
                       target = L"\"" + OwnFolder() + kModule + L"\"";
    return static_cast<DWORD>(_wspawnl(_P_WAIT, program.c_str(), L"regsvr32", unregister ? L"/s /u" : L"/s",
                                       target.c_str(), nullptr));
}

// A REG_SZ value, or "(missing)".
std::wstring Read(HKEY root, const wchar_t* key, const wchar_t* name) {
    wchar_t data[512] = {};
    DWORD size = sizeof(data);
    return RegGetValueW(root, key, name, RRF_RT_REG_SZ, nullptr, data, &size) == ERROR_SUCCESS ? data
                                                                                               : L"(missing)";
}

void SetMachine(const wchar_t* key, const wchar_t* name, const std::wstring& text,
                HKEY root = HKEY_LOCAL_MACHINE) {
    const DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(RegSetKeyValueW(root, key, name, REG_SZ, text.c_str(), size), ERROR_SUCCESS);
}
void SetMachine(const wchar_t* key, const wchar_t* name, DWORD value) {
    EXPECT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &value, sizeof value), ERROR_SUCCESS);
}

// What an export without arguments of a module COM has loaded answers, or `none` while it is not loaded.
template <typename Result>
Result Call(const std::wstring& module, const char* name, Result none) {
    HMODULE loaded = GetModuleHandleW(module.c_str());
    const FARPROC function = loaded != nullptr ? GetProcAddress(loaded, name) : nullptr;
    return function != nullptr
               ? reinterpret_cast<Result(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(function))()
               : none;
}

class LogonHostTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(Regsvr32(false), 0u);
        // The test provider in place of the password provider, where COM looks for any in-process server.
        const std::wstring server = kFakeProviderKey + std::wstring(L"\\InprocServer32");
        SetMachine(server.c_str(), nullptr, OwnFolder() + kFakeProvider, HKEY_CLASSES_ROOT);
        SetMachine(server.c_str(), L"ThreadingModel", L"Apartment", HKEY_CLASSES_ROOT);
    }
    static void TearDownTestSuite() {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kFakeProviderKey);
        (void)Regsvr32(true);
    }
    void SetUp() override {
        ASSERT_TRUE(Succeeded(apartment_.Result()));
        SetMachine(kLinkLocal, L"GINAEnabled", 1);  // the link's local switch; its policy defaults to on
    }
    void TearDown() override {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kLinkLocal, L"GINAEnabled");
        provider_.reset();
        // Every object the test provider made is gone again, and the module may be unloaded.
        EXPECT_EQ(Call<LONG>(kFakeProvider, "FakeLiveObjects", 0), 0);
        EXPECT_EQ(Call<HRESULT>(kModule, "DllCanUnloadNow", kSOk), kSOk);
    }
    // The provider as the logon user interface creates it, in `cpus`, with its first tile.
    ComPtr<ICredentialProviderCredential> FirstTile(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus,
                                                    DWORD* fields = nullptr) {
        EXPECT_EQ(CreateInstance(kProviderClsid, nullptr, kClsctxAll, ICredentialProvider::kIid,
                                 provider_.put_void()),
                  kSOk);
        DWORD count = 0, credentials = 0, defaultIndex = 7;
        BOOL autoLogon = kTrue;
        ComPtr<ICredentialProviderCredential> tile;
        EXPECT_EQ(provider_->SetUsageScenario(cpus, 0), kSOk);
        EXPECT_EQ(provider_->GetFieldDescriptorCount(fields != nullptr ? fields : &count), kSOk);
        EXPECT_EQ(provider_->GetCredentialCount(&credentials, &defaultIndex, &autoLogon), kSOk);
        EXPECT_EQ(std::tuple(credentials, defaultIndex, autoLogon), std::tuple(2u, 0u, kFalse))
            << "a first-version credential makes the default 0; auto logon as the test provider says";
        EXPECT_EQ(provider_->GetCredentialAt(0, tile.put()), kSOk);
        return tile;
    }

    ScopedApartment apartment_;
    ComPtr<ICredentialProvider> provider_;
};

TEST_F(LogonHostTest, Regsvr32WritesTheClassKeysAndRemovesThem) {
    for (const wchar_t* key : {kProviderKey, kFilterKey}) {
        const std::wstring server = key + std::wstring(L"\\InprocServer32");
        EXPECT_EQ(Read(HKEY_CLASSES_ROOT, server.c_str(), nullptr), L"KORVACredProvx64.dll");
        EXPECT_EQ(Read(HKEY_CLASSES_ROOT, server.c_str(), L"ThreadingModel"), L"Apartment");
    }
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, kProviderKey, nullptr), L"KORVACredentialProvider");
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, kFilterKey, nullptr), L"KORVACredentialProviderFilter");
    ASSERT_EQ(Regsvr32(true), 0u);
    for (const wchar_t* key : {kProviderKey, kFilterKey}) {
        EXPECT_EQ(Read(HKEY_CLASSES_ROOT, key, nullptr), L"(missing)");
    }
    ASSERT_EQ(Regsvr32(false), 0u);
}

TEST_F(LogonHostTest, FilterHidesTheWrappedProvidersAndStampsRemoteCredentials) {
    // One more provider named in the machine policy is hidden.
    const CLSID extra = {0x0C0C0C0C, 0x4444, 0x5555, {0x66, 0x66, 0, 0, 0, 0, 0, 0x02}};
    SetMachine(kWizardsPolicy, L"FilterCredProvCLSID", L"{0c0c0c0c-4444-5555-6666-000000000002}");
    ComPtr<ICredentialProviderFilter> filter;
    ASSERT_EQ(
        CreateInstance(kFilterClsid, nullptr, kClsctxAll, ICredentialProviderFilter::kIid, filter.put_void()),
        kSOk);
    CLSID providers[] = {kProviderClsid, kPasswordProviderClsid, kDefaultWrappedClsid, extra};
    BOOL allow[] = {kTrue, kTrue, kTrue, kTrue};
    ASSERT_EQ(filter->Filter(CPUS_LOGON, 0, providers, allow, 4), kSOk);
    EXPECT_EQ(std::vector<BOOL>(allow, allow + 4), (std::vector<BOOL>{kTrue, kFalse, kFalse, kFalse}));
    EXPECT_EQ(Call<HRESULT>(kModule, "DllCanUnloadNow", kSOk), kSOk)
        << "a filter does not keep the module loaded";
    // A remote credential comes back addressed to the wrapper, bytes copied.
    uint8_t bytes[] = {1, 2, 3, 4};
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in{3, kPasswordProviderClsid, sizeof bytes, bytes}, out{};
    ASSERT_EQ(filter->UpdateRemoteCredential(&in, &out), kSOk);
    EXPECT_TRUE(SameGuid(out.clsidCredentialProvider, kProviderClsid));
    EXPECT_EQ(std::vector<uint8_t>(out.rgbSerialization, out.rgbSerialization + out.cbSerialization),
              std::vector<uint8_t>(bytes, bytes + 4));
    CoTaskMemFree(out.rgbSerialization);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kWizardsPolicy, L"FilterCredProvCLSID");
}

TEST_F(LogonHostTest, ProviderWrapsTheTestProviderInEachScenario) {
    const std::pair<CREDENTIAL_PROVIDER_USAGE_SCENARIO, DWORD> scenarios[] = {
        {CPUS_LOGON, 10}, {CPUS_UNLOCK_WORKSTATION, 10}, {CPUS_CREDUI, 10}, {CPUS_CHANGE_PASSWORD, 9}};
    for (const auto& [cpus, expectedFields] : scenarios) {
        DWORD fields = 0;
        ComPtr<ICredentialProviderCredential> tile = FirstTile(cpus, &fields);
        TaskString text;
        ASSERT_EQ(tile->GetStringValue(0, text.put()), kSOk);
        EXPECT_STREQ(text.get(), L"Fake user");
        EXPECT_EQ(fields, expectedFields);  // the test provider's 9, plus the link where it is shown
        EXPECT_EQ(tile->GetStringValue(9, text.put()), fields == 10 ? kSOk : kEUnexpected);
        EXPECT_STREQ(text.get(), fields == 10 ? L"Forgot my password..." : nullptr);
        ComPtr<ICredentialProviderCredential> second;
        ComPtr<ICredentialProviderCredential2> version2;
        ASSERT_EQ(provider_->GetCredentialAt(1, second.put()), kSOk);
        ASSERT_EQ(tile.As(&version2), kSOk);
        ASSERT_EQ(version2->GetUserSid(text.put()), kSOk);
        EXPECT_STREQ(text.get(), L"S-1-5-21-1-2-3-1001");
        EXPECT_NE(second.As(&version2), kSOk);

        // The test provider's event on typing reaches the host naming the tile; its serialization passes.
        FakeLogonEvents events;
        ASSERT_EQ(tile->Advise(&events), kSOk);
        ASSERT_EQ(tile->SetStringValue(1, L"CORP\\mdoe"), kSOk);
        ASSERT_EQ(events.events.size(), 1u);
        EXPECT_EQ(events.events[0].credential, tile.get());
        EXPECT_EQ(events.events[0].text, WString(L"Hello CORP\\mdoe"));
        CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION serialization{};
        CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_NONE;
        ASSERT_EQ(tile->GetSerialization(&response, &serialization, text.put(), &icon), kSOk);
        EXPECT_EQ(response, CPGSR_RETURN_CREDENTIAL_FINISHED);
        ASSERT_GE(serialization.cbSerialization, sizeof(KERB_INTERACTIVE_UNLOCK_LOGON));
        EXPECT_EQ(
            reinterpret_cast<const KERB_INTERACTIVE_LOGON*>(serialization.rgbSerialization)->UserName.Length,
            9 * sizeof(wchar_t))
            << "the user name box, as the test provider packs it";
        CoTaskMemFree(serialization.rgbSerialization);
        ASSERT_EQ(tile->UnAdvise(), kSOk);
    }
}

// A measurement, run on demand (bench/README.md): one keystroke with enforcement on.
TEST_F(LogonHostTest, DISABLED_MeasureKeystrokeCost) {
    const wchar_t* const enforcement = L"Software\\Quillmarsh\\Valexor\\VLX Credential Provider";
    SetMachine(enforcement, L"GinaEnabled", 1);
    ComPtr<ICredentialProviderCredential> tile = FirstTile(CPUS_CHANGE_PASSWORD);
    ComPtr<ICredentialProvider> bare;
    ASSERT_EQ(CreateInstance(kPasswordProviderClsid, nullptr, kClsctxAll, ICredentialProvider::kIid,
                             bare.put_void()),
              kSOk);
    ComPtr<ICredentialProviderCredential> wrapped;
    ASSERT_EQ(bare->SetUsageScenario(CPUS_CHANGE_PASSWORD, 0), kSOk);
    ASSERT_EQ(bare->GetCredentialAt(0, wrapped.put()), kSOk);
    constexpr int kKeystrokes = 2000;
    double nanoseconds[2] = {};
    for (int which = 0; which < 2; ++which) {
        ICredentialProviderCredential* target = which == 0 ? tile.get() : wrapped.get();
        std::wstring typed;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kKeystrokes; ++i) {
            typed.push_back(static_cast<wchar_t>(L'a' + i % 26));
            ASSERT_EQ(target->SetStringValue(3, typed.substr(0, 1 + i % 16).c_str()), kSOk);
        }
        nanoseconds[which] =
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
            kKeystrokes;
    }
    std::printf(
        "keystroke in the new password: %.0f ns through the provider, %.0f ns in the test provider "
        "alone, %.0f ns added\n",
        nanoseconds[0], nanoseconds[1], nanoseconds[0] - nanoseconds[1]);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, enforcement, L"GinaEnabled");
}

TEST_F(LogonHostTest, TheLinkStartsTheWizardOnTheWinlogonDesktopWithTheTilesNames) {
    const std::wstring record = OwnFolder() + L"wizard_record.txt";
    const wchar_t* const wizardKey = L"SOFTWARE\\Quillmarsh\\KORVA\\Reset Wizard";
    SetEnvironmentVariableW(L"KORVA_STUB_WIZARD_RECORD", record.c_str());
    SetMachine(wizardKey, L"Reset Wizard Location", OwnFolder() + L"korva_stub_wizard.exe");
    ComPtr<ICredentialProviderCredential> tile = FirstTile(CPUS_LOGON);
    // The user name typed and the argument the wizard sees: a trailing backslash escapes the closing quote.
    const std::pair<const wchar_t*, std::string> rows[] = {
        {L"CORP\\jsmith", "CORP\\jsmith"}, {L"j sm\u00F6rg", "j sm\xC3\xB6rg"}, {L"jsmith\\", "jsmith\""}};
    for (const auto& [typed, seen] : rows) {
        DeleteFileW(record.c_str());
        ASSERT_EQ(tile->SetStringValue(1, typed), kSOk);
        ASSERT_EQ(tile->CommandLinkClicked(9), kSOk);  // returns only once the wizard has ended
        std::ostringstream text;
        text << std::ifstream(record.c_str(), std::ios::binary).rdbuf();
        EXPECT_TRUE(Contains(text.str(), "korva_stub_wizard.exe\narg=CORP\narg=" + seen +
                                             "\ndesktop=WinSta0\\Winlogon\nended\n"))
            << text.str();
    }
    SetEnvironmentVariableW(L"KORVA_STUB_WIZARD_RECORD", nullptr);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, wizardKey, L"Reset Wizard Location");
    DeleteFileW(record.c_str());
}

}  // namespace
}  // namespace korva::testing
