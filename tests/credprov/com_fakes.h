// Stateful fakes of the wrapped provider, its credentials and the logon events; any call can fail (FailNext).
#pragma once

#if !defined(KORVA_FAKE_EXPECT)
#include <gtest/gtest.h>
#define KORVA_FAKE_EXPECT(condition, what) EXPECT_TRUE(condition) << name_ << what
#endif

#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "credprov/credential_provider_abi.h"
#include "platform/com.h"

namespace korva::testing {

using namespace korva::com;  // NOLINT: the credential interfaces read best unqualified here

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

KORVA_COM_INTERFACES_BEGIN

// Reference counting that never deletes: the owner destroys the fake.
template <typename Interface>
class FakeCom : public Interface {
  public:
    explicit FakeCom(const char* name) : name_(name) {}  // not copyable: the count is atomic
    virtual ~FakeCom() { KORVA_FAKE_EXPECT(count_.load() == 1, ": references not returned"); }

    HRESULT KORVA_COM_CALL QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (Step("QueryInterface") != kSOk || !ImplementsIid<Interface>(riid) ||
            (hidden != nullptr && SameGuid(riid, *hidden))) {
            return kENoInterface;
        }
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return kSOk;
    }
    ULONG KORVA_COM_CALL AddRef() override { return ++count_; }
    ULONG KORVA_COM_CALL Release() override {
        KORVA_FAKE_EXPECT(count_.load() > 1, ": released more often than referenced");
        return --count_;
    }
    ULONG References() const { return count_.load(); }
    // The next call of `method` answers `hr`.
    void FailNext(const std::string& method, HRESULT hr) { failures_.insert({method, hr}); }

    std::vector<std::string> calls;
    const IID* hidden = nullptr;  // an interface this object pretends not to have (an older version)

  protected:
    // Records the call and answers the failure planned for it, if any.
    HRESULT Step(const std::string& method) {
        calls.push_back(method);
        const auto it = failures_.find(method);
        const HRESULT hr = it != failures_.end() ? it->second : kSOk;
        if (it != failures_.end()) {
            failures_.erase(it);
        }
        return hr;
    }

  private:
    const char* name_;
    std::atomic<ULONG> count_{1};
    std::multimap<std::string, HRESULT> failures_;
};

#define KORVA_FAKE_STEP(method)                                    \
    if (HRESULT injected_ = this->Step(method); injected_ != kSOk) \
    return injected_

struct EventRecord {
    std::string method;
    ICredentialProviderCredential* credential;
    DWORD fieldId;
    std::optional<WString> text;
};

class FakeLogonEvents final : public FakeCom<ICredentialProviderCredentialEvents2> {
  public:
    FakeLogonEvents() : FakeCom("logon events") {}
    static HWND Window() { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4711)); }
    std::vector<EventRecord> events;

    using C = ICredentialProviderCredential*;
    using State = CREDENTIAL_PROVIDER_FIELD_STATE;
    using Interactive = CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE;
#define KORVA_EVENT(method, params, c, id, text)    \
    HRESULT KORVA_COM_CALL method params override { \
        return Rec(#method, c, id, text);           \
    }
    KORVA_EVENT(SetFieldState, (C c, DWORD id, State), c, id, nullptr)
    KORVA_EVENT(SetFieldInteractiveState, (C c, DWORD id, Interactive), c, id, nullptr)
    KORVA_EVENT(SetFieldString, (C c, DWORD id, LPCWSTR text), c, id, text)
    KORVA_EVENT(SetFieldCheckbox, (C c, DWORD id, BOOL, LPCWSTR label), c, id, label)
    KORVA_EVENT(SetFieldBitmap, (C c, DWORD id, HBITMAP), c, id, nullptr)
    KORVA_EVENT(SetFieldComboBoxSelectedItem, (C c, DWORD id, DWORD), c, id, nullptr)
    KORVA_EVENT(DeleteFieldComboBoxItem, (C c, DWORD id, DWORD), c, id, nullptr)
    KORVA_EVENT(AppendFieldComboBoxItem, (C c, DWORD id, LPCWSTR item), c, id, item)
    KORVA_EVENT(SetFieldSubmitButton, (C c, DWORD id, DWORD), c, id, nullptr)
    KORVA_EVENT(SetFieldOptions, (C c, DWORD id, CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS), c, id,
                nullptr)
    KORVA_EVENT(BeginFieldUpdates, (), nullptr, 0, nullptr)
    KORVA_EVENT(EndFieldUpdates, (), nullptr, 0, nullptr)
#undef KORVA_EVENT
    HRESULT KORVA_COM_CALL OnCreatingWindow(HWND* owner) override {
        KORVA_FAKE_STEP("OnCreatingWindow");
        *owner = Window();
        return kSOk;
    }

  private:
    HRESULT Rec(const char* method, C c, DWORD id, const WChar* text) {
        KORVA_FAKE_STEP(method);
        events.push_back({method, c, id, text != nullptr ? std::optional<WString>(text) : std::nullopt});
        return kSOk;
    }
};

struct FakeField {
    CREDENTIAL_PROVIDER_FIELD_TYPE type = CPFT_SMALL_TEXT;
    WString text{};
    CREDENTIAL_PROVIDER_FIELD_STATE state = CPFS_DISPLAY_IN_SELECTED_TILE;
    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = CPFIS_NONE;
};

// The packed logon structure a password serialization starts with: header, then the counted texts.
inline std::vector<uint8_t> PackLogon(std::vector<WString> texts) {
    std::vector<uint8_t> packed(56, 0);
    uint64_t at = packed.size();
    for (size_t i = 0; i < texts.size(); ++i) {
        const uint16_t length = static_cast<uint16_t>(texts[i].size() * sizeof(WChar));
        std::memcpy(&packed[8 + 16 * i], &length, sizeof length);
        std::memcpy(&packed[10 + 16 * i], &length, sizeof length);
        std::memcpy(&packed[16 + 16 * i], &at, sizeof at);
        at += length;
    }
    for (const WString& text : texts) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
        packed.insert(packed.end(), bytes, bytes + text.size() * sizeof(WChar));
    }
    return packed;
}

// `hidden` set to the second version's IID makes a first-version credential (so for the events).
class FakeCredential final : public FakeCom<ICredentialProviderCredential2> {
  public:
    explicit FakeCredential(std::map<DWORD, FakeField> initial)
        : FakeCom("credential"), fields(std::move(initial)) {}

    std::map<DWORD, FakeField> fields;
    ComPtr<ICredentialProviderCredentialEvents> advised;
    int serializations = 0;
    std::array<DWORD, 3> packed = {9, 2, 3};  // the domain, user name and password fields it serializes
    DWORD greeted = ~0u;  // typing into this field fires "Hello <text>" for field 0 through the events

    WString Text(DWORD id) const { return fields.count(id) != 0 ? fields.at(id).text : WString(); }

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
        return autoLogon != nullptr ? (*autoLogon = kFalse, kSOk) : kEInvalidArg;
    }
    HRESULT KORVA_COM_CALL GetFieldState(DWORD id, CREDENTIAL_PROVIDER_FIELD_STATE* s,
                                         CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* i) override {
        KORVA_FAKE_STEP("GetFieldState");
        if (fields.count(id) == 0) {
            return kEInvalidArg;
        }
        *s = fields[id].state;
        *i = fields[id].interactive;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetStringValue(DWORD id, LPWSTR* text) override {
        KORVA_FAKE_STEP("GetStringValue");
        return fields.count(id) == 0 ? kEInvalidArg : DupString(fields[id].text.c_str(), text);
    }
    HRESULT KORVA_COM_CALL SetStringValue(DWORD id, LPCWSTR text) override {
        KORVA_FAKE_STEP("SetStringValue");
        if (fields.count(id) == 0) {
            return kEInvalidArg;
        }
        fields[id].text = text;
        if (id == greeted && advised) {
            (void)advised->SetFieldString(this, 0, (KW("Hello ") + fields[id].text).c_str());
        }
        return kSOk;
    }
#define KORVA_STEP_ONLY(method, ...)                      \
    HRESULT KORVA_COM_CALL method(__VA_ARGS__) override { \
        return Step(#method);                             \
    }
    KORVA_STEP_ONLY(GetBitmapValue, DWORD, HBITMAP*)
    KORVA_STEP_ONLY(GetCheckboxValue, DWORD, BOOL*, LPWSTR*)
    KORVA_STEP_ONLY(GetSubmitButtonValue, DWORD, DWORD*)
    KORVA_STEP_ONLY(GetComboBoxValueCount, DWORD, DWORD*, DWORD*)
    KORVA_STEP_ONLY(GetComboBoxValueAt, DWORD, DWORD, LPWSTR*)
    KORVA_STEP_ONLY(SetCheckboxValue, DWORD, BOOL)
    KORVA_STEP_ONLY(SetComboBoxSelectedValue, DWORD, DWORD)
    KORVA_STEP_ONLY(CommandLinkClicked, DWORD)
    KORVA_STEP_ONLY(ReportResult, NTSTATUS, NTSTATUS, LPWSTR*, CREDENTIAL_PROVIDER_STATUS_ICON*)
    KORVA_STEP_ONLY(SetDeselected)
#undef KORVA_STEP_ONLY
    HRESULT KORVA_COM_CALL GetUserSid(LPWSTR* sid) override {
        return DupString(KW("S-1-5-21-1-2-3-1001"), sid);
    }
    HRESULT KORVA_COM_CALL GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* response,
                                            CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization,
                                            LPWSTR* status, CREDENTIAL_PROVIDER_STATUS_ICON* icon) override {
        KORVA_FAKE_STEP("GetSerialization");
        ++serializations;
        *response = CPGSR_RETURN_CREDENTIAL_FINISHED;
        *icon = CPSI_NONE;
        *serialization = {};
        const std::vector<uint8_t> bytes = PackLogon({Text(packed[0]), Text(packed[1]), Text(packed[2])});
        serialization->rgbSerialization = static_cast<uint8_t*>(TaskAlloc(bytes.size()));
        std::memcpy(serialization->rgbSerialization, bytes.data(), bytes.size());
        serialization->cbSerialization = static_cast<ULONG>(bytes.size());
        return DupString(KW("status"), status);
    }
};

class FakeProvider final : public FakeCom<ICredentialProvider> {
  public:
    FakeProvider() : FakeCom("wrapped provider") {}

    std::map<DWORD, FakeField> layout;  // the fields described, in the order of their IDs
    std::vector<ICredentialProviderCredential*> credentials;           // owned by the fixture
    std::optional<DWORD> reportedCredentialCount, reportedFieldCount;  // nonsense instead of the real counts
    std::vector<std::optional<CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION>> serializations;  // bytes dropped

    HRESULT KORVA_COM_CALL SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO, DWORD) override {
        return Step("SetUsageScenario");
    }
    HRESULT KORVA_COM_CALL SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* s) override {
        KORVA_FAKE_STEP("SetSerialization");
        serializations.push_back(s != nullptr ? std::optional(*s) : std::nullopt);
        return kSOk;
    }
    HRESULT KORVA_COM_CALL Advise(ICredentialProviderEvents*, UINT_PTR) override { return Step("Advise"); }
    HRESULT KORVA_COM_CALL UnAdvise() override { return Step("UnAdvise"); }
    HRESULT KORVA_COM_CALL GetFieldDescriptorCount(DWORD* count) override {
        KORVA_FAKE_STEP("GetFieldDescriptorCount");
        *count = reportedFieldCount.value_or(static_cast<DWORD>(layout.size()));
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetFieldDescriptorAt(DWORD index,
                                                CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** out) override {
        KORVA_FAKE_STEP("GetFieldDescriptorAt");
        if (index >= layout.size()) {
            return kEInvalidArg;
        }
        auto* d = static_cast<CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR*>(TaskAlloc(sizeof(**out)));
        if (d == nullptr) {
            return kEOutOfMemory;
        }
        const auto field = std::next(layout.begin(), index);
        *d = {field->first, field->second.type, nullptr, kGuidNull};
        *out = d;
        return DupString(KW("label"), &d->pszLabel);
    }
    HRESULT KORVA_COM_CALL GetCredentialCount(DWORD* count, DWORD* defaultIndex, BOOL* autoLogon) override {
        KORVA_FAKE_STEP("GetCredentialCount");
        *count = reportedCredentialCount.value_or(static_cast<DWORD>(credentials.size()));
        *defaultIndex = CREDENTIAL_PROVIDER_NO_DEFAULT;
        *autoLogon = kFalse;
        return kSOk;
    }
    HRESULT KORVA_COM_CALL GetCredentialAt(DWORD index, ICredentialProviderCredential** out) override {
        KORVA_FAKE_STEP("GetCredentialAt");
        if (index >= credentials.size()) {
            return kEInvalidArg;
        }
        *out = credentials[index];
        (*out)->AddRef();
        return kSOk;
    }
};

class FakeFactory final : public FakeCom<IClassFactory> {
  public:
    explicit FakeFactory(IUnknown* product) : FakeCom("class factory"), product_(product) {}
    HRESULT KORVA_COM_CALL CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        *ppv = nullptr;
        KORVA_FAKE_STEP("CreateInstance");
        return product_->QueryInterface(riid, ppv);
    }
    HRESULT KORVA_COM_CALL LockServer(BOOL) override { return kSOk; }

  private:
    IUnknown* product_;
};

KORVA_COM_INTERFACES_END

}  // namespace korva::testing
