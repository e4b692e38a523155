// A host that plays the logon user interface under Wine: it registers KORVACredProvx64.dll and the test
// provider with regsvr32, reads the keys back from Wine's registry, creates the filter and the provider with
// CoCreateInstance through the registry, and drives them as the logon screen does.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstring>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "credprov/class_ids.h"
#include "credprov/credential_provider_abi.h"
#include "platform/com.h"

namespace korva {
namespace {

using namespace korva;
using namespace korva::com;

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L"\\/") + 1);
}

const std::wstring kModule = L"KORVACredProvx64.dll";
const std::wstring kFakeProvider = L"korva_fake_provider.dll";

// Runs a program with a command line and returns its exit code (or a large number when it did not start).
DWORD Run(const std::wstring& commandLine) {
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        return 0xFFFF0000u | GetLastError();
    }
    WaitForSingleObject(info.hProcess, 60000);
    DWORD code = 0xFFFFFFFFu;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

DWORD Regsvr32(const std::wstring& dll, bool unregister) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return Run(L"\"" + std::wstring(system) + L"\\regsvr32.exe\" /s " + (unregister ? L"/u " : L"") + L"\"" +
               OwnFolder() + dll + L"\"");
}

// A REG_SZ value, or "(missing)".
std::wstring ReadString(HKEY root, const std::wstring& key, const wchar_t* name) {
    wchar_t data[512] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return L"(missing)";
    }
    const LONG result = RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS && type == REG_SZ ? std::wstring(data) : L"(missing)";
}

bool KeyExists(HKEY root, const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

void SetMachineValue(const std::wstring& key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY handle = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(handle);
}

void SetMachineString(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    SetMachineValue(key, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void SetMachineDword(const std::wstring& key, const wchar_t* name, DWORD value) {
    SetMachineValue(key, name, REG_DWORD, &value, sizeof(value));
}

void DeleteMachineValue(const std::wstring& key, const wchar_t* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_WRITE, &handle) == ERROR_SUCCESS) {
        RegDeleteValueW(handle, name);
        RegCloseKey(handle);
    }
}

const std::wstring kWizardsPolicy = L"SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards";
const std::wstring kLinkLocal = L"SOFTWARE\\Quillmarsh\\KORVA\\GINA";
const std::wstring kResetWizard = L"SOFTWARE\\Quillmarsh\\KORVA\\Reset Wizard";

class LogonHostTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(Regsvr32(kModule, false), 0u);
        ASSERT_EQ(Regsvr32(kFakeProvider, false), 0u);
    }
    static void TearDownTestSuite() {
        (void)Regsvr32(kFakeProvider, true);
        (void)Regsvr32(kModule, true);
    }
    void SetUp() override { ASSERT_TRUE(Succeeded(apartment_.Result())); }

    // The module's own DllCanUnloadNow, once COM has loaded it.
    HRESULT ModuleCanUnloadNow() {
        HMODULE module = GetModuleHandleW(kModule.c_str());
        if (module == nullptr) {
            return kSOk;
        }
        auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
        return canUnload != nullptr ? canUnload() : kEFail;
    }
    // The test provider's count of its live objects (0 when it is not loaded).
    LONG FakeLiveObjects() {
        HMODULE module = GetModuleHandleW(kFakeProvider.c_str());
        if (module == nullptr) {
            return 0;
        }
        auto live =
            reinterpret_cast<LONG (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "FakeLiveObjects")));
        return live != nullptr ? live() : -1;
    }

    ScopedApartment apartment_;
};

TEST_F(LogonHostTest, Regsvr32WritesTheClassKeys) {
    struct Row {
        const wchar_t* key;
        const wchar_t* name;
        const wchar_t* data;
    };
    const Row rows[] = {
        {L"CLSID\\{33592d29-4c1d-4732-a607-d01a81215385}", nullptr, L"KORVACredentialProvider"},
        {L"CLSID\\{33592d29-4c1d-4732-a607-d01a81215385}\\InprocServer32", nullptr, L"KORVACredProvx64.dll"},
        {L"CLSID\\{33592d29-4c1d-4732-a607-d01a81215385}\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {L"CLSID\\{2c766ae5-77fb-4726-9bd4-646ebb77f0ec}", nullptr, L"KORVACredentialProviderFilter"},
        {L"CLSID\\{2c766ae5-77fb-4726-9bd4-646ebb77f0ec}\\InprocServer32", nullptr, L"KORVACredProvx64.dll"},
        {L"CLSID\\{2c766ae5-77fb-4726-9bd4-646ebb77f0ec}\\InprocServer32", L"ThreadingModel", L"Apartment"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, row.key, row.name), row.data);
    }
}

TEST_F(LogonHostTest, Regsvr32UnregisterRemovesTheKeysAndRegisterRestoresThem) {
    ASSERT_EQ(Regsvr32(kModule, true), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{33592d29-4c1d-4732-a607-d01a81215385}"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{2c766ae5-77fb-4726-9bd4-646ebb77f0ec}"));
    ComPtr<ICredentialProviderFilter> filter;
    EXPECT_EQ(CreateInstance(kFilterClsid, nullptr, kClsctxInprocServer, ICredentialProviderFilter::kIid,
                             filter.put_void()),
              kRegdbEClassNotReg);
    ASSERT_EQ(Regsvr32(kModule, false), 0u);
    EXPECT_TRUE(
        KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{2c766ae5-77fb-4726-9bd4-646ebb77f0ec}\\InprocServer32"));
}

std::vector<BOOL> RunFilter(ICredentialProviderFilter* filter, std::vector<CLSID> providers) {
    std::vector<BOOL> allow(providers.size(), kTrue);
    EXPECT_EQ(filter->Filter(CPUS_LOGON, 0, providers.data(), allow.data(), static_cast<DWORD>(allow.size())),
              kSOk);
    return allow;
}

TEST_F(LogonHostTest, FilterCreatedThroughTheRegistryHidesTheWrappedProviders) {
    const CLSID extra = {0x0C0C0C0C, 0x4444, 0x5555, {0x66, 0x66, 0, 0, 0, 0, 0, 0x02}};
    const CLSID unrelated = {0x0B0B0B0B, 0x1111, 0x2222, {0x33, 0x33, 0, 0, 0, 0, 0, 0x01}};
    const std::vector<CLSID> providers = {kProviderClsid,
                                          kPasswordProviderClsid,
                                          kSecondFallbackClsid,
                                          kHiddenPasswordProviderClsid,
                                          kDefaultWrappedClsid,
                                          extra,
                                          unrelated};
    {
        ComPtr<ICredentialProviderFilter> filter;
        ASSERT_EQ(CreateInstance(kFilterClsid, nullptr, kClsctxAll, ICredentialProviderFilter::kIid,
                                 filter.put_void()),
                  kSOk);
        EXPECT_EQ(RunFilter(filter.get(), providers),
                  (std::vector<BOOL>{kTrue, kFalse, kFalse, kFalse, kFalse, kTrue, kTrue}));
        // The filter does not keep the module loaded.
        EXPECT_EQ(ModuleCanUnloadNow(), kSOk);

        // A remote credential comes back addressed to the wrapper, bytes copied.
        uint8_t bytes[] = {1, 2, 3, 4};
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in{};
        in.ulAuthenticationPackage = 3;
        in.clsidCredentialProvider = kPasswordProviderClsid;
        in.cbSerialization = sizeof(bytes);
        in.rgbSerialization = bytes;
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
        ASSERT_EQ(filter->UpdateRemoteCredential(&in, &out), kSOk);
        EXPECT_TRUE(SameGuid(out.clsidCredentialProvider, kProviderClsid));
        ASSERT_EQ(out.cbSerialization, sizeof(bytes));
        EXPECT_EQ(std::memcmp(out.rgbSerialization, bytes, sizeof(bytes)), 0);
        CoTaskMemFree(out.rgbSerialization);
    }
    // One more provider named in the machine policy is hidden by the next filter.
    SetMachineString(kWizardsPolicy, L"FilterCredProvCLSID", L"{0c0c0c0c-4444-5555-6666-000000000002}");
    {
        ComPtr<ICredentialProviderFilter> filter;
        ASSERT_EQ(CreateInstance(kFilterClsid, nullptr, kClsctxAll, ICredentialProviderFilter::kIid,
                                 filter.put_void()),
                  kSOk);
        EXPECT_EQ(RunFilter(filter.get(), providers),
                  (std::vector<BOOL>{kTrue, kFalse, kFalse, kFalse, kFalse, kFalse, kTrue}));
    }
    DeleteMachineValue(kWizardsPolicy, L"FilterCredProvCLSID");
}

TEST_F(LogonHostTest, DllCanUnloadNowFollowsFactoryLocks) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(kProviderClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.put_void()),
              kSOk);
    EXPECT_EQ(ModuleCanUnloadNow(), kSOk);
    ASSERT_EQ(factory->LockServer(TRUE), kSOk);
    EXPECT_EQ(ModuleCanUnloadNow(), kSFalse);
    ASSERT_EQ(factory->LockServer(FALSE), kSOk);
    EXPECT_EQ(ModuleCanUnloadNow(), kSOk);
}

TEST_F(LogonHostTest, TheTestProviderEnumeratesItsOwnTiles) {
    struct Row {
        CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus;
        DWORD newPasswordState;
    };
    for (const Row& row :
         {Row{CPUS_LOGON, CPFS_HIDDEN}, Row{CPUS_CHANGE_PASSWORD, CPFS_DISPLAY_IN_SELECTED_TILE}}) {
        SCOPED_TRACE(row.cpus);
        ComPtr<ICredentialProvider> provider;
        ASSERT_EQ(CreateInstance(kPasswordProviderClsid, nullptr, kClsctxAll, ICredentialProvider::kIid,
                                 provider.put_void()),
                  kSOk);
        ASSERT_EQ(provider->SetUsageScenario(row.cpus, 0), kSOk);
        DWORD count = 0;
        ASSERT_EQ(provider->GetFieldDescriptorCount(&count), kSOk);
        EXPECT_EQ(count, 9u);
        DWORD credentials = 0;
        DWORD defaultIndex = 0;
        BOOL autoLogon = kTrue;
        ASSERT_EQ(provider->GetCredentialCount(&credentials, &defaultIndex, &autoLogon), kSOk);
        ASSERT_EQ(credentials, 2u);
        ComPtr<ICredentialProviderCredential> first;
        ComPtr<ICredentialProviderCredential> second;
        ASSERT_EQ(provider->GetCredentialAt(0, first.put()), kSOk);
        ASSERT_EQ(provider->GetCredentialAt(1, second.put()), kSOk);
        ComPtr<ICredentialProviderCredential2> version2;
        EXPECT_EQ(first.As(&version2), kSOk);
        EXPECT_EQ(second.As(&version2), kENoInterface);
        CREDENTIAL_PROVIDER_FIELD_STATE state = CPFS_HIDDEN;
        CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = CPFIS_NONE;
        ASSERT_EQ(first->GetFieldState(3, &state, &interactive), kSOk);
        EXPECT_EQ(static_cast<DWORD>(state), row.newPasswordState);
    }
    // Every object the test provider made is gone again.
    EXPECT_EQ(FakeLiveObjects(), 0);
}

// ---- The provider, wrapping the test provider ------------------------------------------------------------

// The logon user interface's events object for one credential: records the credential and text of each
// SetFieldString.
class HostCredentialEvents final : public ComObject<ICredentialProviderCredentialEvents2> {
  public:
    struct FieldString {
        ICredentialProviderCredential* credential;
        DWORD field;
        std::wstring text;
    };
    std::vector<FieldString> strings;

  private:
    HRESULT KORVA_COM_CALL SetFieldState(ICredentialProviderCredential*, DWORD,
                                         CREDENTIAL_PROVIDER_FIELD_STATE) override {
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetFieldInteractiveState(ICredentialProviderCredential*, DWORD,
                                                    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE) override {
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetFieldString(ICredentialProviderCredential* credential, DWORD field,
                                          LPCWSTR text) override {
        strings.push_back({credential, field, text != nullptr ? text : L"(null)"});
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetFieldCheckbox(ICredentialProviderCredential*, DWORD, BOOL, LPCWSTR) override {
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetFieldBitmap(ICredentialProviderCredential*, DWORD, HBITMAP) override {
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetFieldComboBoxSelectedItem(ICredentialProviderCredential*, DWORD,
                                                        DWORD) override {
        return kSOk;
    }
    HRESULT KORVA_COM_CALL DeleteFieldComboBoxItem(ICredentialProviderCredential*, DWORD, DWORD) override {
        return kSOk;
    }
    HRESULT KORVA_COM_CALL AppendFieldComboBoxItem(ICredentialProviderCredential*, DWORD, LPCWSTR) override {
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetFieldSubmitButton(ICredentialProviderCredential*, DWORD, DWORD) override {
        return kSOk;
    }
    HRESULT KORVA_COM_CALL OnCreatingWindow(HWND* owner) override {
        if (owner != nullptr) {
            *owner = nullptr;
        }
        return kSOk;
    }
    HRESULT KORVA_COM_CALL BeginFieldUpdates() override { return kSOk; }
    HRESULT KORVA_COM_CALL EndFieldUpdates() override { return kSOk; }
    HRESULT KORVA_COM_CALL SetFieldOptions(ICredentialProviderCredential*, DWORD,
                                           CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS) override {
        return kSOk;
    }
};

class HostProviderEvents final : public ComObject<ICredentialProviderEvents> {
    HRESULT KORVA_COM_CALL CredentialsChanged(UINT_PTR) override { return kSOk; }
};

class ProviderHostTest : public LogonHostTest {
  protected:
    void SetUp() override {
        LogonHostTest::SetUp();
        // The link's local switch; the policy switch defaults to on.
        SetMachineDword(kLinkLocal, L"GINAEnabled", 1);
    }
    void TearDown() override {
        DeleteMachineValue(kLinkLocal, L"GINAEnabled");
        DeleteMachineValue(kResetWizard, L"Reset Wizard Location");
    }
    // The provider as the logon user interface creates it; skips the test while the module does not serve it.
    ComPtr<ICredentialProvider> CreateProvider(HRESULT* result) {
        ComPtr<ICredentialProvider> provider;
        *result = CreateInstance(kProviderClsid, nullptr, kClsctxAll, ICredentialProvider::kIid,
                                 provider.put_void());
        return provider;
    }
};

#define KORVA_CREATE_PROVIDER_OR_SKIP(name)                                 \
    HRESULT created_ = kEFail;                                              \
    ComPtr<ICredentialProvider> name = CreateProvider(&created_);           \
    if (created_ == kClassEClassNotAvailable) {                             \
        GTEST_SKIP() << "the module does not serve the provider class yet"; \
    }                                                                       \
    ASSERT_EQ(created_, kSOk)

TEST_F(ProviderHostTest, EnumerationPerScenario) {
    struct Row {
        CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus;
        DWORD fields;  // the test provider's 9, plus the link where it is shown
    };
    const Row rows[] = {
        {CPUS_LOGON, 10}, {CPUS_UNLOCK_WORKSTATION, 10}, {CPUS_CREDUI, 10}, {CPUS_CHANGE_PASSWORD, 9}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.cpus);
        const auto start = std::chrono::steady_clock::now();
        KORVA_CREATE_PROVIDER_OR_SKIP(provider);
        ComPtr<HostProviderEvents> providerEvents =
            ComPtr<HostProviderEvents>::Attach(new HostProviderEvents());
        ASSERT_EQ(provider->SetUsageScenario(row.cpus, 0), kSOk);
        ASSERT_EQ(provider->Advise(providerEvents.get(), 42), kSOk);
        DWORD count = 0;
        ASSERT_EQ(provider->GetFieldDescriptorCount(&count), kSOk);
        EXPECT_EQ(count, row.fields);
        DWORD credentials = 0;
        DWORD defaultIndex = 0;
        BOOL autoLogon = kTrue;
        ASSERT_EQ(provider->GetCredentialCount(&credentials, &defaultIndex, &autoLogon), kSOk);
        ASSERT_EQ(credentials, 2u);
        ComPtr<ICredentialProviderCredential> first;
        ASSERT_EQ(provider->GetCredentialAt(0, first.put()), kSOk);
        LPWSTR label = nullptr;
        ASSERT_EQ(first->GetStringValue(0, &label), kSOk);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_STREQ(label, L"Fake user");
        CoTaskMemFree(label);
        // Measured, not asserted: the first row includes loading both DLLs.
        std::cout << "scenario " << row.cpus << ": CoCreateInstance to the first tile's text "
                  << std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() << " us\n";
        if (count == 10) {
            UniqueFieldDescriptor link;
            ASSERT_EQ(provider->GetFieldDescriptorAt(9, link.put()), kSOk);
            EXPECT_EQ(link.get()->cpft, CPFT_COMMAND_LINK);
            EXPECT_EQ(link.get()->dwFieldID, 9u);
            LPWSTR text = nullptr;
            ASSERT_EQ(first->GetStringValue(9, &text), kSOk);
            EXPECT_STREQ(text, L"Forgot my password...");
            CoTaskMemFree(text);
        }
        // The first tile keeps its second interface version, the second has none.
        ComPtr<ICredentialProviderCredential> second;
        ASSERT_EQ(provider->GetCredentialAt(1, second.put()), kSOk);
        ComPtr<ICredentialProviderCredential2> version2;
        EXPECT_EQ(first.As(&version2), kSOk);
        EXPECT_NE(second.As(&version2), kSOk);
        ComPtr<ICredentialProviderCredential> beyond;
        EXPECT_EQ(provider->GetCredentialAt(2, beyond.put()), kEInvalidArg);
        ASSERT_EQ(provider->UnAdvise(), kSOk);
    }
    // Every reference the wrapper took on the test provider's objects was given back, and the module may go.
    EXPECT_EQ(FakeLiveObjects(), 0);
    EXPECT_EQ(ModuleCanUnloadNow(), kSOk);
}

TEST_F(ProviderHostTest, EventsReachTheHostNamingTheWrappersCredential) {
    KORVA_CREATE_PROVIDER_OR_SKIP(provider);
    ASSERT_EQ(provider->SetUsageScenario(CPUS_LOGON, 0), kSOk);
    DWORD credentials = 0;
    DWORD defaultIndex = 0;
    BOOL autoLogon = kFalse;
    ASSERT_EQ(provider->GetCredentialCount(&credentials, &defaultIndex, &autoLogon), kSOk);
    ComPtr<ICredentialProviderCredential> tile;
    ASSERT_EQ(provider->GetCredentialAt(0, tile.put()), kSOk);
    ComPtr<HostCredentialEvents> events = ComPtr<HostCredentialEvents>::Attach(new HostCredentialEvents());
    ASSERT_EQ(tile->Advise(events.get()), kSOk);
    // Typing into the user-name box (field 1 of the password provider's layout) makes the test provider report
    // a new tile text; the host hears it from the tile it knows.
    ASSERT_EQ(tile->SetStringValue(1, L"CORP\\mdoe"), kSOk);
    ASSERT_EQ(events->strings.size(), 1u);
    EXPECT_EQ(events->strings[0].credential, tile.get());
    EXPECT_EQ(events->strings[0].field, 0u);
    EXPECT_EQ(events->strings[0].text, L"Hello CORP\\mdoe");

    // At submit the test provider's serialization comes back unchanged.
    CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION serialization{};
    LPWSTR status = nullptr;
    CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_NONE;
    ASSERT_EQ(tile->GetSerialization(&response, &serialization, &status, &icon), kSOk);
    EXPECT_EQ(response, CPGSR_RETURN_CREDENTIAL_FINISHED);
    ASSERT_GE(serialization.cbSerialization, sizeof(KERB_INTERACTIVE_UNLOCK_LOGON));
    const auto* logon = reinterpret_cast<const KERB_INTERACTIVE_LOGON*>(serialization.rgbSerialization);
    EXPECT_EQ(logon->UserName.Length, 4 * sizeof(wchar_t));
    CoTaskMemFree(serialization.rgbSerialization);
    CoTaskMemFree(status);

    ASSERT_EQ(tile->UnAdvise(), kSOk);
    tile.reset();
    provider.reset();
    EXPECT_EQ(FakeLiveObjects(), 0);
    EXPECT_EQ(ModuleCanUnloadNow(), kSOk);
}

TEST_F(ProviderHostTest, TheLinkStartsTheWizardOnTheWinlogonDesktopWithTheTilesNames) {
    const std::wstring record = OwnFolder() + L"wizard_record.txt";
    DeleteFileW(record.c_str());
    SetEnvironmentVariableW(L"KORVA_STUB_WIZARD_RECORD", record.c_str());
    SetEnvironmentVariableW(L"KORVA_STUB_WIZARD_SLEEP_MS", L"200");
    SetMachineString(kResetWizard, L"Reset Wizard Location", OwnFolder() + L"korva_stub_wizard.exe");
    {
        KORVA_CREATE_PROVIDER_OR_SKIP(provider);
        ASSERT_EQ(provider->SetUsageScenario(CPUS_LOGON, 0), kSOk);
        DWORD count = 0;
        ASSERT_EQ(provider->GetFieldDescriptorCount(&count), kSOk);
        DWORD credentials = 0;
        DWORD defaultIndex = 0;
        BOOL autoLogon = kFalse;
        ASSERT_EQ(provider->GetCredentialCount(&credentials, &defaultIndex, &autoLogon), kSOk);
        ComPtr<ICredentialProviderCredential> tile;
        ASSERT_EQ(provider->GetCredentialAt(0, tile.put()), kSOk);
        ASSERT_EQ(tile->SetStringValue(1, L"CORP\\jsmith"), kSOk);
        // Returns only once the wizard has ended.
        ASSERT_EQ(tile->CommandLinkClicked(9), kSOk);
    }
    SetEnvironmentVariableW(L"KORVA_STUB_WIZARD_RECORD", nullptr);
    SetEnvironmentVariableW(L"KORVA_STUB_WIZARD_SLEEP_MS", nullptr);
    std::string text;
    if (FILE* file = _wfopen(record.c_str(), L"rb")) {
        char buffer[4096];
        size_t read = 0;
        while ((read = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
            text.append(buffer, read);
        }
        std::fclose(file);
    }
    EXPECT_NE(text.find("arg=CORP\narg=jsmith\n"), std::string::npos) << text;
    EXPECT_NE(text.find("desktop=WinSta0\\Winlogon\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ended\n"), std::string::npos) << text;
    DeleteFileW(record.c_str());
}

}  // namespace
}  // namespace korva
