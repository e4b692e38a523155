// A credential provider of the project's own, built as its own DLL for the Wine tests: the provider that
// KORVACredProvx64.dll wraps there. It registers itself (DllRegisterServer) under the CLSID named by the
// environment variable KORVA_FAKE_PROVIDER_CLSID, by default the Windows password provider's, and lays out its
// fields as the wrapper expects for the CLSID it was created under:
//
//   layout (by CLSID)        user  old/password  new  confirm  domain text   fields
//   password provider (2)       1       2          3      4        8            9
//   default provider (1)        4       5          6      7       10           11
//   any other (0)               2       3          4      5        9           10
//
// Field 0 is the tile's large text; the highest free ID below the domain text is the submit button; other
// free IDs are small texts. On the change-password screen the old, new and confirmation boxes are shown; on
// every other screen only the password box (the "old" ID) is. Two credentials: the first has
// ICredentialProviderCredential2, the second only ICredentialProviderCredential.
//
// What the wrapper passes on can be seen from outside: typing into the user-name box fires SetFieldString on
// the advised events object for field 0 ("Hello <user>") naming this credential, and GetSerialization packs a
// KERB_INTERACTIVE_UNLOCK_LOGON with the domain and account split from the user-name box. FakeLiveObjects
// (exported) counts the provider's objects still alive, so a host sees references the wrapper leaked.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "credprov/class_ids.h"
#include "credprov/credential_provider_abi.h"
#include "platform/com.h"

namespace {

using namespace korva;
using namespace korva::com;

std::atomic<LONG> g_liveObjects{0};
HMODULE g_module = nullptr;

struct Layout {
    DWORD user;
    DWORD password;  // the old password on the change-password screen
    DWORD newPassword;
    DWORD confirmation;
    DWORD domain;
};

Layout LayoutFor(const CLSID& clsid) {
    if (SameGuid(clsid, korva::kPasswordProviderClsid)) {
        return {1, 2, 3, 4, 8};
    }
    if (SameGuid(clsid, korva::kDefaultWrappedClsid)) {
        return {4, 5, 6, 7, 10};
    }
    return {2, 3, 4, 5, 9};
}

struct Field {
    CREDENTIAL_PROVIDER_FIELD_TYPE type;
    std::wstring label;
    CREDENTIAL_PROVIDER_FIELD_STATE state;
    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive;
    std::wstring value;
};

std::vector<Field> FieldsFor(const Layout& layout, CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus) {
    const bool changing = cpus == CPUS_CHANGE_PASSWORD;
    std::vector<Field> fields(
        layout.domain + 1, Field{CPFT_SMALL_TEXT, L"Note", CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_NONE, L""});
    fields[0] = {CPFT_LARGE_TEXT, L"Tile", CPFS_DISPLAY_IN_BOTH, CPFIS_NONE, L"Fake user"};
    fields[layout.user] = {CPFT_EDIT_TEXT, L"User name", CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_FOCUSED,
                           L"CORP\\jsmith"};
    fields[layout.password] = {CPFT_PASSWORD_TEXT, changing ? L"Old password" : L"Password",
                               CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_NONE, L""};
    const CREDENTIAL_PROVIDER_FIELD_STATE changeOnly = changing ? CPFS_DISPLAY_IN_SELECTED_TILE : CPFS_HIDDEN;
    fields[layout.newPassword] = {CPFT_PASSWORD_TEXT, L"New password", changeOnly, CPFIS_NONE, L""};
    fields[layout.confirmation] = {CPFT_PASSWORD_TEXT, L"Confirm password", changeOnly, CPFIS_NONE, L""};
    fields[layout.domain] = {CPFT_SMALL_TEXT, L"Domain", CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_NONE,
                             L"Domain: CORP"};
    for (DWORD id = layout.domain; id-- > 1;) {
        if (id != layout.user && id != layout.password && id != layout.newPassword &&
            id != layout.confirmation) {
            fields[id] = {CPFT_SUBMIT_BUTTON, L"Submit", CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_NONE, L""};
            break;
        }
    }
    return fields;
}

HRESULT Copy(const std::wstring& text, LPWSTR* out) {
    return DupString(text.c_str(), out);
}

class LiveObject {
  public:
    LiveObject() { ++g_liveObjects; }
    ~LiveObject() { --g_liveObjects; }
    LiveObject(const LiveObject&) = delete;
    LiveObject& operator=(const LiveObject&) = delete;
};

class FakeCredential final : public ComObject<ICredentialProviderCredential2> {
  public:
    FakeCredential(const Layout& layout, std::vector<Field> fields, bool version2)
        : layout_(layout), fields_(std::move(fields)), version2_(version2) {}

  private:
    ~FakeCredential() override = default;

    // A V1 credential must not answer ICredentialProviderCredential2.
    HRESULT KORVA_COM_CALL QueryInterface(REFIID riid, void** ppv) override {
        if (!version2_ && ppv != nullptr && SameGuid(riid, ICredentialProviderCredential2::kIid)) {
            *ppv = nullptr;
            return kENoInterface;
        }
        return ComObject::QueryInterface(riid, ppv);
    }

    bool Valid(DWORD id) const { return id < fields_.size(); }

    HRESULT KORVA_COM_CALL Advise(ICredentialProviderCredentialEvents* pcpce) override {
        events_ = ComPtr<ICredentialProviderCredentialEvents>::Copy(pcpce);
        return kSOk;
    }
    HRESULT KORVA_COM_CALL UnAdvise() override {
        events_.reset();
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetSelected(BOOL* pbAutoLogon) override {
        if (pbAutoLogon == nullptr) {
            return kEInvalidArg;
        }
        *pbAutoLogon = kFalse;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetDeselected() override { return kSOk; }
    HRESULT KORVA_COM_CALL GetFieldState(DWORD id, CREDENTIAL_PROVIDER_FIELD_STATE* pcpfs,
                                         CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* pcpfis) override {
        if (!Valid(id) || pcpfs == nullptr || pcpfis == nullptr) {
            return kEInvalidArg;
        }
        *pcpfs = fields_[id].state;
        *pcpfis = fields_[id].interactive;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetStringValue(DWORD id, LPWSTR* ppsz) override {
        if (!Valid(id) || ppsz == nullptr) {
            return kEInvalidArg;
        }
        return Copy(fields_[id].value, ppsz);
    }
    HRESULT KORVA_COM_CALL GetBitmapValue(DWORD, HBITMAP* phbmp) override {
        if (phbmp != nullptr) {
            *phbmp = nullptr;
        }
        return kENotImpl;
    }
    HRESULT KORVA_COM_CALL GetCheckboxValue(DWORD, BOOL*, LPWSTR*) override { return kENotImpl; }
    HRESULT KORVA_COM_CALL GetSubmitButtonValue(DWORD id, DWORD* pdwAdjacentTo) override {
        if (!Valid(id) || pdwAdjacentTo == nullptr || fields_[id].type != CPFT_SUBMIT_BUTTON) {
            return kEInvalidArg;
        }
        *pdwAdjacentTo = layout_.password;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetComboBoxValueCount(DWORD, DWORD*, DWORD*) override { return kENotImpl; }
    HRESULT KORVA_COM_CALL GetComboBoxValueAt(DWORD, DWORD, LPWSTR*) override { return kENotImpl; }
    HRESULT KORVA_COM_CALL SetStringValue(DWORD id, LPCWSTR psz) override {
        if (!Valid(id) || psz == nullptr) {
            return kEInvalidArg;
        }
        fields_[id].value = psz;
        if (id == layout_.user && events_) {
            // The logon user interface must hear this from the wrapper's credential, not from this one.
            (void)events_->SetFieldString(this, 0, (L"Hello " + fields_[id].value).c_str());
        }
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetCheckboxValue(DWORD, BOOL) override { return kENotImpl; }
    HRESULT KORVA_COM_CALL SetComboBoxSelectedValue(DWORD, DWORD) override { return kENotImpl; }
    HRESULT KORVA_COM_CALL CommandLinkClicked(DWORD) override { return kENotImpl; }
    HRESULT KORVA_COM_CALL
    GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* pcpgsr,
                     CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs, LPWSTR* ppszOptionalStatusText,
                     CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) override {
        if (pcpgsr == nullptr || pcpcs == nullptr) {
            return kEInvalidArg;
        }
        if (ppszOptionalStatusText != nullptr) {
            *ppszOptionalStatusText = nullptr;
        }
        if (pcpsiOptionalStatusIcon != nullptr) {
            *pcpsiOptionalStatusIcon = CPSI_NONE;
        }
        const std::wstring& user = fields_[layout_.user].value;
        const size_t slash = user.find(L'\\');
        const std::wstring domain = slash == std::wstring::npos ? L"" : user.substr(0, slash);
        const std::wstring account = slash == std::wstring::npos ? user : user.substr(slash + 1);
        const std::wstring& password = fields_[layout_.password].value;
        const size_t header = sizeof(KERB_INTERACTIVE_UNLOCK_LOGON);
        const size_t total = header + (domain.size() + account.size() + password.size()) * sizeof(wchar_t);
        auto* bytes = static_cast<uint8_t*>(TaskAlloc(total));
        if (bytes == nullptr) {
            return kEOutOfMemory;
        }
        std::memset(bytes, 0, total);
        auto* logon = reinterpret_cast<KERB_INTERACTIVE_UNLOCK_LOGON*>(bytes);
        logon->Logon.MessageType = kKerbWorkstationUnlockLogon;
        size_t offset = header;
        auto pack = [&](UNICODE_STRING* target, const std::wstring& text) {
            target->Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
            target->MaximumLength = target->Length;
            // Packed: the buffer holds the offset from the start of the serialization.
            target->Buffer = reinterpret_cast<PWSTR>(offset);
            std::memcpy(bytes + offset, text.data(), target->Length);
            offset += target->Length;
        };
        pack(&logon->Logon.LogonDomainName, domain);
        pack(&logon->Logon.UserName, account);
        pack(&logon->Logon.Password, password);
        pcpcs->ulAuthenticationPackage = 0;
        pcpcs->clsidCredentialProvider = korva::kPasswordProviderClsid;
        pcpcs->cbSerialization = static_cast<ULONG>(total);
        pcpcs->rgbSerialization = bytes;
        *pcpgsr = CPGSR_RETURN_CREDENTIAL_FINISHED;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL ReportResult(NTSTATUS, NTSTATUS, LPWSTR* ppszOptionalStatusText,
                                        CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) override {
        if (ppszOptionalStatusText != nullptr) {
            *ppszOptionalStatusText = nullptr;
        }
        if (pcpsiOptionalStatusIcon != nullptr) {
            *pcpsiOptionalStatusIcon = CPSI_NONE;
        }
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetUserSid(LPWSTR* sid) override { return DupString(L"S-1-5-21-1-2-3-1001", sid); }

    Layout layout_;
    std::vector<Field> fields_;
    bool version2_;
    ComPtr<ICredentialProviderCredentialEvents> events_;
    LiveObject live_;
};

class FakeProvider final : public ComObject<ICredentialProvider> {
  public:
    explicit FakeProvider(const CLSID& clsid) : layout_(LayoutFor(clsid)) {}

  private:
    ~FakeProvider() override = default;

    HRESULT KORVA_COM_CALL SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD) override {
        if (cpus == CPUS_PLAP || cpus == CPUS_INVALID) {
            return kENotImpl;
        }
        fields_ = FieldsFor(layout_, cpus);
        credentials_.clear();
        for (bool version2 : {true, false}) {
            credentials_.push_back(ComPtr<ICredentialProviderCredential>::Attach(
                new FakeCredential(layout_, fields_, version2)));
        }
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION*) override {
        return kSOk;
    }
    HRESULT KORVA_COM_CALL Advise(ICredentialProviderEvents* pcpe, UINT_PTR) override {
        events_ = ComPtr<ICredentialProviderEvents>::Copy(pcpe);
        return kSOk;
    }
    HRESULT KORVA_COM_CALL UnAdvise() override {
        events_.reset();
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetFieldDescriptorCount(DWORD* pdwCount) override {
        if (pdwCount == nullptr) {
            return kEInvalidArg;
        }
        *pdwCount = static_cast<DWORD>(fields_.size());
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetFieldDescriptorAt(DWORD index,
                                                CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** out) override {
        if (out == nullptr || index >= fields_.size()) {
            return kEInvalidArg;
        }
        auto* descriptor = static_cast<CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR*>(
            TaskAlloc(sizeof(CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR)));
        if (descriptor == nullptr) {
            return kEOutOfMemory;
        }
        descriptor->dwFieldID = index;
        descriptor->cpft = fields_[index].type;
        descriptor->guidFieldType = kGuidNull;
        const HRESULT copied = Copy(fields_[index].label, &descriptor->pszLabel);
        if (Failed(copied)) {
            TaskFree(descriptor);
            return copied;
        }
        *out = descriptor;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetCredentialCount(DWORD* pdwCount, DWORD* pdwDefault,
                                              BOOL* pbAutoLogon) override {
        if (pdwCount == nullptr || pdwDefault == nullptr || pbAutoLogon == nullptr) {
            return kEInvalidArg;
        }
        *pdwCount = static_cast<DWORD>(credentials_.size());
        *pdwDefault = CREDENTIAL_PROVIDER_NO_DEFAULT;
        *pbAutoLogon = kFalse;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetCredentialAt(DWORD index, ICredentialProviderCredential** out) override {
        if (out == nullptr || index >= credentials_.size()) {
            return kEInvalidArg;
        }
        return credentials_[index].CopyTo(out);
    }

    Layout layout_;
    std::vector<Field> fields_;
    std::vector<ComPtr<ICredentialProviderCredential>> credentials_;
    ComPtr<ICredentialProviderEvents> events_;
    LiveObject live_;
};

class FakeFactory final : public ComObject<IClassFactory> {
  public:
    explicit FakeFactory(const CLSID& clsid) : clsid_(clsid) {}

  private:
    ~FakeFactory() override = default;
    HRESULT KORVA_COM_CALL CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return kEInvalidArg;
        }
        *ppv = nullptr;
        if (outer != nullptr) {
            return kClassENoAggregation;
        }
        auto* provider = new FakeProvider(clsid_);
        const HRESULT result = provider->QueryInterface(riid, ppv);
        provider->Release();
        return result;
    }
    HRESULT KORVA_COM_CALL LockServer(BOOL) override { return kSOk; }

    CLSID clsid_;
};

CLSID RegisteredClsid() {
    wchar_t text[64] = {};
    CLSID clsid = korva::kPasswordProviderClsid;
    if (GetEnvironmentVariableW(L"KORVA_FAKE_PROVIDER_CLSID", text, 64) > 0) {
        (void)CLSIDFromString(text, &clsid);
    }
    return clsid;
}

std::wstring ClsidKey(const CLSID& clsid) {
    wchar_t text[64] = {};
    StringFromGUID2(clsid, text, 64);
    return std::wstring(L"CLSID\\") + text;
}

LONG SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    LONG result =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    result = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return result;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    auto* factory = new FakeFactory(rclsid);
    const HRESULT result = factory->QueryInterface(riid, ppv);
    factory->Release();
    return result;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return g_liveObjects.load() == 0 ? kSOk : kSFalse;
}

extern "C" LONG FakeLiveObjects() {
    return g_liveObjects.load();
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_module, path, MAX_PATH);
    const std::wstring key = ClsidKey(RegisteredClsid());
    LONG result = SetString(key, nullptr, L"KORVA test provider");
    if (result == ERROR_SUCCESS) {
        result = SetString(key + L"\\InprocServer32", nullptr, path);
    }
    if (result == ERROR_SUCCESS) {
        result = SetString(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    }
    return HRESULT_FROM_WIN32(result);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    const std::wstring key = ClsidKey(RegisteredClsid());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    return kSOk;
}
