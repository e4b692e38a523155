// The provider KORVACredProvx64.dll wraps under Wine, registered as the password provider, in its layout
// (1 user, 2 old, 3 new, 4 confirmation, 8 domain); two credentials, the second of the first version only.
#include <windows.h>

#define KORVA_FAKE_EXPECT(condition, what) (void)(condition)
#include "credprov/class_ids.h"
#include "tests/credprov/com_fakes.h"

namespace {

using namespace korva::testing;
using korva::kSFalse;
using korva::kSOk;

std::map<DWORD, FakeField> Fields(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus) {
    const auto changeOnly = cpus == CPUS_CHANGE_PASSWORD ? CPFS_DISPLAY_IN_SELECTED_TILE : CPFS_HIDDEN;
    const CREDENTIAL_PROVIDER_FIELD_TYPE types[] = {
        CPFT_LARGE_TEXT,    CPFT_EDIT_TEXT,  CPFT_PASSWORD_TEXT, CPFT_PASSWORD_TEXT, CPFT_PASSWORD_TEXT,
        CPFT_SUBMIT_BUTTON, CPFT_SMALL_TEXT, CPFT_SMALL_TEXT,    CPFT_SMALL_TEXT};
    std::map<DWORD, FakeField> fields;
    for (DWORD id = 0; id < 9; ++id) {
        fields[id] = {
            types[id], id == 3 || id == 4 ? changeOnly : CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_NONE, {}};
    }
    fields[0].text = L"Fake user";
    fields[1].text = L"CORP\\jsmith";
    fields[8].text = L"CORP";
    return fields;
}

// Made once and never destroyed: the module may be unloaded after COM has gone.
struct Fakes {
    FakeCredential credentials[2] = {FakeCredential(Fields(CPUS_LOGON)), FakeCredential(Fields(CPUS_LOGON))};
    FakeProvider provider;
    FakeFactory factory{&provider};
    HMODULE module = nullptr;

    Fakes() {
        for (const auto& [id, field] : Fields(CPUS_LOGON)) {
            provider.descriptors.push_back({id, field.type});
        }
        credentials[1].hidden = &IidOf<ICredentialProviderCredential2>();
        for (FakeCredential& credential : credentials) {
            credential.packed = {8, 1, 2};
            credential.greeted = 1;
            provider.credentials.push_back(&credential);
        }
        provider.onScenario = [this](CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus) {
            for (FakeCredential& credential : credentials) {
                credential.fields = Fields(cpus);
            }
        };
    }
    LONG Outstanding() const {
        LONG references = static_cast<LONG>(provider.References()) - 1;
        for (const FakeCredential& credential : credentials) {
            references += static_cast<LONG>(credential.References()) - 1;
        }
        return references;
    }
};

Fakes& Instance() {
    static Fakes& fakes = *new Fakes;
    return fakes;
}

std::wstring ClassKey() {
    wchar_t text[64] = {};
    StringFromGUID2(korva::kPasswordProviderClsid, text, 64);
    return std::wstring(L"CLSID\\") + text;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD, LPVOID) {
    Instance().module = module;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID riid, void** ppv) {
    return Instance().factory.QueryInterface(riid, ppv);
}

// The references handed out and not returned: what the wrapper leaked.
extern "C" LONG FakeLiveObjects() {
    return Instance().Outstanding();
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return FakeLiveObjects() == 0 ? kSOk : kSFalse;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    wchar_t path[MAX_PATH] = {};
    const std::wstring module(path, GetModuleFileNameW(Instance().module, path, MAX_PATH));
    const std::wstring values[][3] = {{ClassKey(), L"", L"KORVA test provider"},
                                      {ClassKey() + L"\\InprocServer32", L"", module},
                                      {ClassKey() + L"\\InprocServer32", L"ThreadingModel", L"Apartment"}};
    for (const auto& [key, name, value] : values) {
        const LONG result =
            RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name.empty() ? nullptr : name.c_str(), REG_SZ,
                            value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        if (result != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(result);
        }
    }
    return kSOk;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey().c_str());
    return kSOk;
}
