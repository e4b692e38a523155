// Fakes of what surrounds the provider: the wrapped provider, its credentials (both interface versions), the
// logon user interface's events object, a class factory that hands the fake provider to CreateInstance, and
// the Reset Wizard hook. They are stateful simulations: fields with states and texts, advised events, a
// serialization built from the fields. Any single method can be made to fail (FailNext). The fixture owns
// every fake; a fake's reference count starts at 1 (the owner's) and its destructor checks that every
// reference it handed out came back.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "credprov/credential_provider_abi.h"
#include "credprov/reset_wizard_hook.h"
#include "platform/com.h"
#include "platform/message_box.h"
#include "platform/result_codes.h"
#include "platform/text.h"

namespace korva::testing {

using namespace korva::com;  // NOLINT: the credential interfaces read best unqualified here

KORVA_COM_INTERFACES_BEGIN

// What the fixture owns, whatever interfaces a fake implements.
class FakeBase {
  public:
    virtual ~FakeBase() = default;
};

// Reference counting that never deletes: the owner destroys the fake, and the destructor reports a leak or an
// extra release.
template <typename... Interfaces>
class FakeComObject : public FakeBase, public Interfaces... {
  public:
    FakeComObject() = default;
    FakeComObject(const FakeComObject&) = delete;
    FakeComObject& operator=(const FakeComObject&) = delete;
    ~FakeComObject() override { EXPECT_EQ(count_.load(), 1u) << name_ << ": references not returned"; }

    HRESULT KORVA_COM_CALL QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return kEInvalidArg;
        }
        *ppv = nullptr;
        if (Fail("QueryInterface")) {
            return kENoInterface;
        }
        if (void* found = Find<Interfaces...>(riid)) {
            *ppv = found;
            AddRef();
            return kSOk;
        }
        return kENoInterface;
    }
    ULONG KORVA_COM_CALL AddRef() override { return ++count_; }
    ULONG KORVA_COM_CALL Release() override {
        EXPECT_GT(count_.load(), 1u) << name_ << ": released more often than referenced";
        return --count_;
    }
    [[nodiscard]] ULONG References() const { return count_.load(); }

    // The next call of `method` answers `hr` (several may queue per method).
    void FailNext(const std::string& method, HRESULT hr) { failures_.insert({method, hr}); }
    std::vector<std::string> calls;

  protected:
    // Records the call; true (with *hr set) when a failure was queued for it.
    bool Fail(const std::string& method, HRESULT* hr = nullptr) {
        calls.push_back(method);
        const auto it = failures_.find(method);
        if (it == failures_.end()) {
            return false;
        }
        if (hr != nullptr) {
            *hr = it->second;
        }
        failures_.erase(it);
        return true;
    }
    std::string name_ = "fake";

  private:
    template <typename First, typename... Rest>
    void* Find(REFIID riid) {
        if (ImplementsIid<First>(riid)) {
            return static_cast<First*>(this);
        }
        if constexpr (sizeof...(Rest) > 0) {
            return Find<Rest...>(riid);
        } else {
            return nullptr;
        }
    }

    std::atomic<ULONG> count_{1};
    std::multimap<std::string, HRESULT> failures_;
};

#define KORVA_FAKE_STEP(method)             \
    do {                                    \
        HRESULT injected_ = kSOk;           \
        if (this->Fail(method, &injected_)) \
            return injected_;               \
    } while (0)

// --- Logon user interface events ------------------------------------------------------------------------

struct EventRecord {
    std::string method;
    ICredentialProviderCredential* credential = nullptr;
    DWORD fieldId = 0;
    std::optional<WString> text;
    DWORD number = 0;
};

template <typename Interface>
class FakeLogonEventsT final : public FakeComObject<Interface> {
  public:
    FakeLogonEventsT() { this->name_ = "logon events"; }
    static HWND Window() { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4711)); }

    std::vector<EventRecord> events;

    HRESULT KORVA_COM_CALL SetFieldState(ICredentialProviderCredential* c, DWORD id,
                                         CREDENTIAL_PROVIDER_FIELD_STATE s) override {
        return Record("SetFieldState", c, id, std::nullopt, static_cast<DWORD>(s));
    }
    HRESULT KORVA_COM_CALL SetFieldInteractiveState(ICredentialProviderCredential* c, DWORD id,
                                                    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE s) override {
        return Record("SetFieldInteractiveState", c, id, std::nullopt, static_cast<DWORD>(s));
    }
    HRESULT KORVA_COM_CALL SetFieldString(ICredentialProviderCredential* c, DWORD id, LPCWSTR psz) override {
        return Record("SetFieldString", c, id, psz != nullptr ? std::optional<WString>(psz) : std::nullopt,
                      0);
    }
    HRESULT KORVA_COM_CALL SetFieldCheckbox(ICredentialProviderCredential* c, DWORD id, BOOL checked,
                                            LPCWSTR label) override {
        return Record("SetFieldCheckbox", c, id,
                      label != nullptr ? std::optional<WString>(label) : std::nullopt,
                      static_cast<DWORD>(checked));
    }
    HRESULT KORVA_COM_CALL SetFieldBitmap(ICredentialProviderCredential* c, DWORD id, HBITMAP) override {
        return Record("SetFieldBitmap", c, id, std::nullopt, 0);
    }
    HRESULT KORVA_COM_CALL SetFieldComboBoxSelectedItem(ICredentialProviderCredential* c, DWORD id,
                                                        DWORD item) override {
        return Record("SetFieldComboBoxSelectedItem", c, id, std::nullopt, item);
    }
    HRESULT KORVA_COM_CALL DeleteFieldComboBoxItem(ICredentialProviderCredential* c, DWORD id,
                                                   DWORD item) override {
        return Record("DeleteFieldComboBoxItem", c, id, std::nullopt, item);
    }
    HRESULT KORVA_COM_CALL AppendFieldComboBoxItem(ICredentialProviderCredential* c, DWORD id,
                                                   LPCWSTR item) override {
        return Record("AppendFieldComboBoxItem", c, id,
                      item != nullptr ? std::optional<WString>(item) : std::nullopt, 0);
    }
    HRESULT KORVA_COM_CALL SetFieldSubmitButton(ICredentialProviderCredential* c, DWORD id,
                                                DWORD adjacent) override {
        return Record("SetFieldSubmitButton", c, id, std::nullopt, adjacent);
    }
    HRESULT KORVA_COM_CALL OnCreatingWindow(HWND* owner) override {
        KORVA_FAKE_STEP("OnCreatingWindow");
        if (owner == nullptr) {
            return kEInvalidArg;
        }
        *owner = Window();
        return kSOk;
    }

  protected:
    HRESULT Record(const char* method, ICredentialProviderCredential* c, DWORD id,
                   std::optional<WString> text, DWORD number) {
        KORVA_FAKE_STEP(method);
        events.push_back({method, c, id, std::move(text), number});
        return kSOk;
    }
};

class FakeLogonEvents2 final : public FakeComObject<ICredentialProviderCredentialEvents2> {
  public:
    FakeLogonEvents2() { name_ = "logon events 2"; }
    std::vector<EventRecord> events;
    HRESULT KORVA_COM_CALL SetFieldState(ICredentialProviderCredential* c, DWORD id,
                                         CREDENTIAL_PROVIDER_FIELD_STATE) override {
        return Record("SetFieldState", c, id);
    }
    HRESULT KORVA_COM_CALL SetFieldInteractiveState(ICredentialProviderCredential* c, DWORD id,
                                                    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE) override {
        return Record("SetFieldInteractiveState", c, id);
    }
    HRESULT KORVA_COM_CALL SetFieldString(ICredentialProviderCredential* c, DWORD id, LPCWSTR) override {
        return Record("SetFieldString", c, id);
    }
    HRESULT KORVA_COM_CALL SetFieldCheckbox(ICredentialProviderCredential* c, DWORD id, BOOL,
                                            LPCWSTR) override {
        return Record("SetFieldCheckbox", c, id);
    }
    HRESULT KORVA_COM_CALL SetFieldBitmap(ICredentialProviderCredential* c, DWORD id, HBITMAP) override {
        return Record("SetFieldBitmap", c, id);
    }
    HRESULT KORVA_COM_CALL SetFieldComboBoxSelectedItem(ICredentialProviderCredential* c, DWORD id,
                                                        DWORD) override {
        return Record("SetFieldComboBoxSelectedItem", c, id);
    }
    HRESULT KORVA_COM_CALL DeleteFieldComboBoxItem(ICredentialProviderCredential* c, DWORD id,
                                                   DWORD) override {
        return Record("DeleteFieldComboBoxItem", c, id);
    }
    HRESULT KORVA_COM_CALL AppendFieldComboBoxItem(ICredentialProviderCredential* c, DWORD id,
                                                   LPCWSTR) override {
        return Record("AppendFieldComboBoxItem", c, id);
    }
    HRESULT KORVA_COM_CALL SetFieldSubmitButton(ICredentialProviderCredential* c, DWORD id, DWORD) override {
        return Record("SetFieldSubmitButton", c, id);
    }
    HRESULT KORVA_COM_CALL OnCreatingWindow(HWND* owner) override {
        *owner = nullptr;
        return Record("OnCreatingWindow", nullptr, 0);
    }
    HRESULT KORVA_COM_CALL BeginFieldUpdates() override { return Record("BeginFieldUpdates", nullptr, 0); }
    HRESULT KORVA_COM_CALL EndFieldUpdates() override { return Record("EndFieldUpdates", nullptr, 0); }
    HRESULT KORVA_COM_CALL SetFieldOptions(ICredentialProviderCredential* c, DWORD id,
                                           CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS) override {
        return Record("SetFieldOptions", c, id);
    }

  private:
    HRESULT Record(const char* method, ICredentialProviderCredential* c, DWORD id) {
        KORVA_FAKE_STEP(method);
        events.push_back({method, c, id, std::nullopt, 0});
        return kSOk;
    }
};

using FakeLogonEvents = FakeLogonEventsT<ICredentialProviderCredentialEvents>;

// --- Wrapped credentials -------------------------------------------------------------------------------

struct FakeField {
    CREDENTIAL_PROVIDER_FIELD_TYPE type = CPFT_SMALL_TEXT;
    CREDENTIAL_PROVIDER_FIELD_STATE state = CPFS_DISPLAY_IN_SELECTED_TILE;
    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = CPFIS_NONE;
    WString text;
};

// The packed logon structure a password serialization starts with: header, then domain, user, password.
inline std::vector<uint8_t> PackLogon(const WString& domain, const WString& user, const WString& password) {
    std::vector<uint8_t> header(56, 0);
    uint64_t at = header.size();
    size_t slot = 8;
    std::vector<uint8_t> tail;
    for (const WString* text : {&domain, &user, &password}) {
        const uint16_t length = static_cast<uint16_t>(text->size() * sizeof(WChar));
        std::memcpy(&header[slot], &length, sizeof length);
        std::memcpy(&header[slot + 2], &length, sizeof length);
        std::memcpy(&header[slot + 8], &at, sizeof at);
        const auto* bytes = reinterpret_cast<const uint8_t*>(text->data());
        tail.insert(tail.end(), bytes, bytes + length);
        at += length;
        slot += 16;
    }
    header.insert(header.end(), tail.begin(), tail.end());
    return header;
}

template <typename Interface>
class FakeCredentialT : public FakeComObject<Interface> {
  public:
    explicit FakeCredentialT(std::map<DWORD, FakeField> initial) : fields(std::move(initial)) {
        this->name_ = "credential";
    }
    ~FakeCredentialT() override { advised.reset(); }

    std::map<DWORD, FakeField> fields;
    ComPtr<ICredentialProviderCredentialEvents> advised;
    // The logon structure GetSerialization returns is built from these field IDs (absent: empty texts).
    DWORD domainField = 9, userField = 2, passwordField = 3;
    bool answerSerializationWithoutBytes = false;
    int serializations = 0;

    // Fires SetFieldString through the advised events, naming this credential as the wrapped one does.
    HRESULT FireSetFieldString(DWORD id, const WChar* text) {
        return advised ? advised->SetFieldString(this, id, text) : kEUnexpected;
    }

    HRESULT KORVA_COM_CALL Advise(ICredentialProviderCredentialEvents* events) override {
        KORVA_FAKE_STEP("Advise");
        advised = ComPtr<ICredentialProviderCredentialEvents>::Copy(events);
        return kSOk;
    }
    HRESULT KORVA_COM_CALL UnAdvise() override {
        KORVA_FAKE_STEP("UnAdvise");
        advised.reset();
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetSelected(BOOL* autoLogon) override {
        KORVA_FAKE_STEP("SetSelected");
        if (autoLogon == nullptr) {
            return kEInvalidArg;
        }
        *autoLogon = kFalse;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetDeselected() override {
        KORVA_FAKE_STEP("SetDeselected");
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetFieldState(DWORD id, CREDENTIAL_PROVIDER_FIELD_STATE* s,
                                         CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* i) override {
        KORVA_FAKE_STEP("GetFieldState");
        const auto it = fields.find(id);
        if (it == fields.end()) {
            return kEInvalidArg;
        }
        *s = it->second.state;
        *i = it->second.interactive;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetStringValue(DWORD id, LPWSTR* ppsz) override {
        KORVA_FAKE_STEP("GetStringValue");
        const auto it = fields.find(id);
        if (it == fields.end()) {
            return kEInvalidArg;
        }
        return DupString(it->second.text.c_str(), ppsz);
    }
    HRESULT KORVA_COM_CALL GetBitmapValue(DWORD, HBITMAP* bitmap) override {
        KORVA_FAKE_STEP("GetBitmapValue");
        *bitmap = nullptr;
        return kENotImpl;
    }
    HRESULT KORVA_COM_CALL GetCheckboxValue(DWORD, BOOL*, LPWSTR*) override {
        KORVA_FAKE_STEP("GetCheckboxValue");
        return kENotImpl;
    }
    HRESULT KORVA_COM_CALL GetSubmitButtonValue(DWORD id, DWORD* adjacent) override {
        KORVA_FAKE_STEP("GetSubmitButtonValue");
        *adjacent = id == 0 ? 0 : id - 1;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetComboBoxValueCount(DWORD, DWORD*, DWORD*) override {
        KORVA_FAKE_STEP("GetComboBoxValueCount");
        return kENotImpl;
    }
    HRESULT KORVA_COM_CALL GetComboBoxValueAt(DWORD, DWORD, LPWSTR*) override {
        KORVA_FAKE_STEP("GetComboBoxValueAt");
        return kENotImpl;
    }
    HRESULT KORVA_COM_CALL SetStringValue(DWORD id, LPCWSTR text) override {
        KORVA_FAKE_STEP("SetStringValue");
        const auto it = fields.find(id);
        if (it == fields.end()) {
            return kEInvalidArg;
        }
        it->second.text = text != nullptr ? text : KW("");
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetCheckboxValue(DWORD, BOOL) override {
        KORVA_FAKE_STEP("SetCheckboxValue");
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetComboBoxSelectedValue(DWORD, DWORD) override {
        KORVA_FAKE_STEP("SetComboBoxSelectedValue");
        return kSOk;
    }
    HRESULT KORVA_COM_CALL CommandLinkClicked(DWORD) override {
        KORVA_FAKE_STEP("CommandLinkClicked");
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* response,
                                            CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization,
                                            LPWSTR* status, CREDENTIAL_PROVIDER_STATUS_ICON* icon) override {
        KORVA_FAKE_STEP("GetSerialization");
        ++serializations;
        *response = CPGSR_RETURN_CREDENTIAL_FINISHED;
        *icon = CPSI_NONE;
        *status = nullptr;
        *serialization = {};
        if (answerSerializationWithoutBytes) {
            return kSOk;
        }
        const std::vector<uint8_t> packed =
            PackLogon(Text(domainField), Text(userField), Text(passwordField));
        serialization->rgbSerialization = static_cast<uint8_t*>(TaskAlloc(packed.size()));
        if (serialization->rgbSerialization == nullptr) {
            return kEOutOfMemory;
        }
        std::memcpy(serialization->rgbSerialization, packed.data(), packed.size());
        serialization->cbSerialization = static_cast<ULONG>(packed.size());
        return DupString(KW("status"), status);
    }
    HRESULT KORVA_COM_CALL ReportResult(NTSTATUS, NTSTATUS, LPWSTR* status,
                                        CREDENTIAL_PROVIDER_STATUS_ICON*) override {
        KORVA_FAKE_STEP("ReportResult");
        if (status != nullptr) {
            *status = nullptr;
        }
        return kSOk;
    }

    WString Text(DWORD id) const {
        const auto it = fields.find(id);
        return it == fields.end() ? WString() : it->second.text;
    }
};

using FakeCredentialV1 = FakeCredentialT<ICredentialProviderCredential>;

class FakeCredentialV2 final : public FakeCredentialT<ICredentialProviderCredential2> {
  public:
    using FakeCredentialT::FakeCredentialT;
    HRESULT KORVA_COM_CALL GetUserSid(LPWSTR* sid) override {
        KORVA_FAKE_STEP("GetUserSid");
        return DupString(KW("S-1-5-21-1-2-3-1001"), sid);
    }
};

// --- The wrapped provider ------------------------------------------------------------------------------

struct FakeDescriptor {
    DWORD id;
    CREDENTIAL_PROVIDER_FIELD_TYPE type;
    const WChar* label;
};

class FakeProvider final : public FakeComObject<ICredentialProvider> {
  public:
    FakeProvider() { name_ = "wrapped provider"; }
    ~FakeProvider() override { events.reset(); }

    std::vector<FakeDescriptor> descriptors;
    std::vector<ICredentialProviderCredential*> credentials;  // owned by the fixture
    DWORD defaultIndex = CREDENTIAL_PROVIDER_NO_DEFAULT;
    BOOL autoLogon = kFalse;
    std::optional<DWORD> reportedCredentialCount;  // nonsense to report instead of the real count
    std::optional<DWORD> reportedFieldCount;
    std::vector<CREDENTIAL_PROVIDER_USAGE_SCENARIO> refused;  // answered E_NOTIMPL

    CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario = CPUS_INVALID;
    ComPtr<ICredentialProviderEvents> events;
    UINT_PTR adviseContext = 0;
    struct Received {
        bool present = false;
        GUID clsid{};
        ULONG package = 0;
        std::vector<uint8_t> bytes;
    };
    std::vector<Received> serializations;

    HRESULT KORVA_COM_CALL SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD) override {
        KORVA_FAKE_STEP("SetUsageScenario");
        for (auto r : refused) {
            if (r == cpus) {
                return kENotImpl;
            }
        }
        scenario = cpus;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* s) override {
        KORVA_FAKE_STEP("SetSerialization");
        Received r;
        if (s != nullptr) {
            r.present = true;
            r.clsid = s->clsidCredentialProvider;
            r.package = s->ulAuthenticationPackage;
            if (s->rgbSerialization != nullptr) {
                r.bytes.assign(s->rgbSerialization, s->rgbSerialization + s->cbSerialization);
            }
        }
        serializations.push_back(std::move(r));
        return kSOk;
    }
    HRESULT KORVA_COM_CALL Advise(ICredentialProviderEvents* e, UINT_PTR context) override {
        KORVA_FAKE_STEP("Advise");
        events = ComPtr<ICredentialProviderEvents>::Copy(e);
        adviseContext = context;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL UnAdvise() override {
        KORVA_FAKE_STEP("UnAdvise");
        events.reset();
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetFieldDescriptorCount(DWORD* count) override {
        KORVA_FAKE_STEP("GetFieldDescriptorCount");
        *count = reportedFieldCount.value_or(static_cast<DWORD>(descriptors.size()));
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetFieldDescriptorAt(DWORD index,
                                                CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** out) override {
        KORVA_FAKE_STEP("GetFieldDescriptorAt");
        if (out == nullptr || index >= descriptors.size()) {
            return kEInvalidArg;
        }
        auto* d = static_cast<CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR*>(
            TaskAlloc(sizeof(CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR)));
        if (d == nullptr) {
            return kEOutOfMemory;
        }
        *d = {};
        d->dwFieldID = descriptors[index].id;
        d->cpft = descriptors[index].type;
        const HRESULT hr = DupString(descriptors[index].label, &d->pszLabel);
        if (Failed(hr)) {
            TaskFree(d);
            return hr;
        }
        *out = d;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetCredentialCount(DWORD* count, DWORD* defaultIndex_, BOOL* autoLogon_) override {
        KORVA_FAKE_STEP("GetCredentialCount");
        *count = reportedCredentialCount.value_or(static_cast<DWORD>(credentials.size()));
        *defaultIndex_ = defaultIndex;
        *autoLogon_ = autoLogon;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetCredentialAt(DWORD index, ICredentialProviderCredential** out) override {
        KORVA_FAKE_STEP("GetCredentialAt");
        if (out == nullptr || index >= credentials.size()) {
            return kEInvalidArg;
        }
        *out = credentials[index];
        (*out)->AddRef();
        return kSOk;
    }

  private:
};

// Hands the fake provider to CreateInstance for one CLSID.
class FakeFactory final : public FakeComObject<IClassFactory> {
  public:
    explicit FakeFactory(IUnknown* product) : product_(product) { name_ = "class factory"; }
    HRESULT KORVA_COM_CALL CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv != nullptr) {
            *ppv = nullptr;
        }
        KORVA_FAKE_STEP("CreateInstance");
        if (outer != nullptr) {
            return kClassENoAggregation;
        }
        return product_->QueryInterface(riid, ppv);
    }
    HRESULT KORVA_COM_CALL LockServer(BOOL) override { return kSOk; }

  private:
    IUnknown* product_;
};

// --- The Reset Wizard ----------------------------------------------------------------------------------

class FakeResetWizard final : public ResetWizardHook {
  public:
    int32_t locationResult = 0;
    WString location = KW("C:\\Program Files\\KORVA\\ResetWizard.exe");
    int32_t startResult = 0;
    struct Start {
        WString path;
        std::optional<WString> domain;
        std::optional<WString> userName;
    };
    std::vector<Start> starts;

    int32_t GetResetWizardLocation(WString* path) override {
        *path = locationResult == 0 ? location : WString();
        return locationResult;
    }
    int32_t StartResetWizard(const WChar* path, const WChar* domain, const WChar* userName) override {
        starts.push_back({path != nullptr ? path : KW(""),
                          domain != nullptr ? std::optional<WString>(domain) : std::nullopt,
                          userName != nullptr ? std::optional<WString>(userName) : std::nullopt});
        return startResult;
    }
};

// Message boxes that record what they were asked to show and answer OK; installed while the fake lives.
class RecordingMessageBoxes final : public platform::MessageBoxes {
  public:
    struct Box {
        HWND owner;
        WString text, title;
        uint32_t style;
    };
    std::vector<Box> boxes;
    int32_t Show(HWND owner, const WChar* text, const WChar* title, uint32_t style) override {
        boxes.push_back({owner, text, title, style});
        return platform::kIdOk;
    }

  private:
    platform::ScopedMessageBoxesOverride override_{this};
};

KORVA_COM_INTERFACES_END

}  // namespace korva::testing
