// The directory backend over Windows' own APIs: netapi32 (join information, the domain-controller locator),
// NTDSAPI (binding a controller, cracking names), advapi32 (account look-ups, SID text) and ADSI through COM
// (NameTranslate, ADsGetObject). Each method is a thin wrapper: same arguments, the call's own error code,
// and every buffer, handle and interface the call hands out released before returning or when the wrapper
// object is destroyed.
#include <windows.h>
// In this order: COM and OLE Automation (which the lean windows.h leaves out), then what builds on them.
#include <ole2.h>
#include <oleauto.h>
// clang-format off
#include <activeds.h>
#include <dsgetdc.h>
#include <lm.h>
#include <ntdsapi.h>
#include <sddl.h>
// clang-format on

#include <memory>
#include <new>
#include <vector>

#include "directory/backend.h"
#include "platform/unique_handle.h"

namespace korva {

namespace {

// The class and interface identifiers, from the ADSI headers' documentation (so that no GUID library is
// linked).
constexpr GUID kClsidNameTranslate = {
    0x274FAE1F, 0x3626, 0x11D1, {0xA3, 0xA4, 0x00, 0xC0, 0x4F, 0xB9, 0x50, 0xDC}};
constexpr GUID kIidNameTranslate = {
    0xB1B272A3, 0x3625, 0x11D1, {0xA3, 0xA4, 0x00, 0xC0, 0x4F, 0xB9, 0x50, 0xDC}};
constexpr GUID kIidAds = {0xFD8256D0, 0xFD15, 0x11CE, {0xAB, 0xC4, 0x02, 0x60, 0x8C, 0x9E, 0x75, 0x53}};
constexpr GUID kIidAdsUser = {0x3E37E320, 0x17E2, 0x11CF, {0xAB, 0xC4, 0x02, 0x60, 0x8C, 0x9E, 0x75, 0x53}};
constexpr GUID kIidAdsLargeInteger = {
    0x9068270B, 0x0939, 0x11D1, {0x8B, 0xE1, 0x00, 0xC0, 0x4F, 0xD8, 0xD5, 0x03}};

const GUID& InterfaceId(ObjectInterface iface) {
    return iface == ObjectInterface::User ? kIidAdsUser : kIidAds;
}

template <typename T>
struct ComPolicy {
    using Type = T*;
    static constexpr Type Invalid() { return nullptr; }
    static void Close(Type value) noexcept { value->Release(); }
};
template <typename T>
using ComHolder = UniqueHandle<ComPolicy<T>>;

using Bstr = UniqueHandle<ClosedBy<SysFreeString>>;

struct DsHandlePolicy {
    using Type = HANDLE;
    static constexpr Type Invalid() { return nullptr; }
    static void Close(Type value) noexcept { DsUnBindW(&value); }
};

int32_t LastError() {
    return static_cast<int32_t>(GetLastError());
}

// A BSTR copy of a text; null for null. Allocation failure shows as a null copy of a non-null text.
Bstr MakeBstr(const WChar* text) {
    return Bstr(text != nullptr ? SysAllocString(text) : nullptr);
}

WString FromBstr(BSTR text) {
    return text != nullptr ? WString(text, SysStringLen(text)) : WString();
}

// The bytes as a SID the security functions may read: long enough for its own length field and valid.
bool IsUsableSid(const SidBytes& sid) {
    if (sid.size() < 8 || sid.size() > SECURITY_MAX_SID_SIZE)
        return false;
    PSID psid = const_cast<uint8_t*>(sid.data());
    return GetSidLengthRequired(sid[1]) <= sid.size() && IsValidSid(psid) != FALSE;
}

class WindowsBinding final : public DomainControllerBinding {
  public:
    explicit WindowsBinding(HANDLE handle) : handle_(handle) {}

    int32_t CrackName(uint32_t flags, uint32_t offeredFormat, uint32_t desiredFormat, const WChar* name,
                      CrackedName* out) override {
        *out = CrackedName{};
        UniqueHandle<ClosedBy<DsFreeNameResultW>> result;
        const LPCWSTR names[] = {name};
        const DWORD rc = DsCrackNamesW(handle_.get(), static_cast<DS_NAME_FLAGS>(flags),
                                       static_cast<DS_NAME_FORMAT>(offeredFormat),
                                       static_cast<DS_NAME_FORMAT>(desiredFormat), 1, names, result.put());
        if (rc != ERROR_SUCCESS)
            return static_cast<int32_t>(rc);
        if (!result || result.get()->cItems == 0 || result.get()->rItems == nullptr)
            return 0;
        const DS_NAME_RESULT_ITEMW& item = result.get()->rItems[0];
        out->hasItem = true;
        out->status = item.status;
        out->domain = item.pDomain != nullptr ? WString(item.pDomain) : WString();
        out->name = item.pName != nullptr ? WString(item.pName) : WString();
        return 0;
    }

  private:
    UniqueHandle<DsHandlePolicy> handle_;
};

class WindowsTranslator final : public NameTranslator {
  public:
    explicit WindowsTranslator(IADsNameTranslate* object) : object_(object) {}

    int32_t Init(uint32_t initType, const WChar* domain) override {
        const Bstr text = MakeBstr(domain);
        if (domain != nullptr && !text)
            return kEOutOfMemory;
        return object_.get()->Init(static_cast<LONG>(initType), text.get());
    }
    int32_t Set(uint32_t nameType, const WChar* name) override {
        const Bstr text = MakeBstr(name);
        if (name != nullptr && !text)
            return kEOutOfMemory;
        return object_.get()->Set(static_cast<LONG>(nameType), text.get());
    }
    int32_t Get(uint32_t nameType, WString* name) override {
        name->clear();
        Bstr text;
        const HRESULT hr = object_.get()->Get(static_cast<LONG>(nameType), text.put());
        if (SUCCEEDED(hr))
            *name = FromBstr(text.get());
        return hr;
    }

  private:
    ComHolder<IADsNameTranslate> object_;
};

// A VARIANT that owns what it holds; the array wrappers below share it.
struct OwnedVariant {
    VARIANT value;
    OwnedVariant() { VariantInit(&value); }
    ~OwnedVariant() { VariantClear(&value); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;
};

// An octet string as ADSI hands it over: a SAFEARRAY of bytes, read through the SafeArray calls.
class SafeByteArray final : public ByteArray {
  public:
    SafeByteArray(std::shared_ptr<OwnedVariant> holder, SAFEARRAY* array)
        : holder_(std::move(holder)), array_(array) {}
    int32_t GetLowerBound(int32_t* lower) const override {
        LONG bound = 0;
        const HRESULT hr = SafeArrayGetLBound(array_, 1, &bound);
        *lower = SUCCEEDED(hr) ? bound : 0;
        return hr;
    }
    int32_t GetUpperBound(int32_t* upper) const override {
        LONG bound = 0;
        const HRESULT hr = SafeArrayGetUBound(array_, 1, &bound);
        *upper = SUCCEEDED(hr) ? bound : 0;
        return hr;
    }
    int32_t AccessData(const uint8_t** data) override {
        void* raw = nullptr;
        const HRESULT hr = SafeArrayAccessData(array_, &raw);
        *data = SUCCEEDED(hr) ? static_cast<const uint8_t*>(raw) : nullptr;
        return hr;
    }
    int32_t Unaccess() override { return SafeArrayUnaccessData(array_); }

  private:
    std::shared_ptr<OwnedVariant> holder_;
    SAFEARRAY* array_;
};

// Reads a one-dimensional SAFEARRAY of VARIANTs into texts (every element a BSTR) or reports its kind.
int32_t ReadVariantArray(SAFEARRAY* array, AttributeValue* value) {
    LONG lower = 0;
    LONG upper = -1;
    HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
    if (SUCCEEDED(hr))
        hr = SafeArrayGetUBound(array, 1, &upper);
    VARIANT* elements = nullptr;
    if (SUCCEEDED(hr))
        hr = SafeArrayAccessData(array, reinterpret_cast<void**>(&elements));
    if (FAILED(hr))
        return hr;
    std::vector<WString> texts;
    bool allTexts = true;
    bool allBytes = true;
    try {
        for (LONG i = 0; i <= upper - lower; ++i) {
            const VARIANT& element = elements[i];
            allTexts = allTexts && element.vt == VT_BSTR;
            allBytes = allBytes && element.vt == (VT_ARRAY | VT_UI1);
            if (element.vt == VT_BSTR)
                texts.push_back(FromBstr(element.bstrVal));
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    const HRESULT unlocked = SafeArrayUnaccessData(array);
    if (FAILED(hr))
        return hr;
    if (allTexts) {
        value->kind = AttributeValue::Kind::TextList;
        value->texts = std::make_shared<StoredTextArray>(std::move(texts));
    } else if (allBytes) {
        value->kind = AttributeValue::Kind::ByteList;
    }
    return unlocked;
}

class WindowsObject final : public DirectoryObject {
  public:
    WindowsObject(IADs* object, bool boundAsUser) : object_(object), boundAsUser_(boundAsUser) {}

    int32_t QueryInterface(ObjectInterface iface) override {
        IUnknown* other = nullptr;
        const HRESULT hr =
            object_.get()->QueryInterface(InterfaceId(iface), reinterpret_cast<void**>(&other));
        if (SUCCEEDED(hr) && other != nullptr)
            other->Release();
        return hr;
    }

    int32_t GetInfo() override { return object_.get()->GetInfo(); }

    int32_t Get(const WChar* attribute, AttributeValue* value) override {
        *value = AttributeValue{};
        const Bstr name = MakeBstr(attribute);
        if (!name)
            return E_OUTOFMEMORY;
        std::shared_ptr<OwnedVariant> holder;
        try {
            holder = std::make_shared<OwnedVariant>();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        HRESULT hr = object_.get()->Get(name.get(), &holder->value);
        if (FAILED(hr))
            return hr;
        VARIANT& v = holder->value;
        try {
            if (v.vt == VT_BSTR) {
                value->kind = AttributeValue::Kind::Text;
                value->text = FromBstr(v.bstrVal);
            } else if (v.vt == (VT_ARRAY | VT_UI1) && v.parray != nullptr) {
                value->kind = AttributeValue::Kind::Bytes;
                value->bytes = std::make_shared<SafeByteArray>(holder, v.parray);
            } else if (v.vt == (VT_ARRAY | VT_VARIANT) && v.parray != nullptr) {
                hr = ReadVariantArray(v.parray, value);
            } else if (v.vt == VT_DISPATCH && v.pdispVal != nullptr) {
                hr = ReadLargeInteger(v.pdispVal, value);
            }
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        if (FAILED(hr))
            *value = AttributeValue{};
        return hr;
    }

    int32_t GetUserProperty(UserProperty property, WString* value) override {
        value->clear();
        if (!boundAsUser_)
            return E_NOINTERFACE;
        IADsUser* user = static_cast<IADsUser*>(object_.get());
        Bstr text;
        HRESULT hr = E_INVALIDARG;
        switch (property) {
            case UserProperty::FirstName:
                hr = user->get_FirstName(text.put());
                break;
            case UserProperty::LastName:
                hr = user->get_LastName(text.put());
                break;
            case UserProperty::FullName:
                hr = user->get_FullName(text.put());
                break;
        }
        if (SUCCEEDED(hr))
            *value = FromBstr(text.get());
        return hr;
    }

  private:
    // pwdLastSet and other Integer8 values arrive as an object offering IADsLargeInteger.
    static HRESULT ReadLargeInteger(IDispatch* dispatch, AttributeValue* value) {
        ComHolder<IADsLargeInteger> large;
        if (FAILED(dispatch->QueryInterface(kIidAdsLargeInteger, reinterpret_cast<void**>(large.put())))) {
            value->kind = AttributeValue::Kind::Object;
            return S_OK;
        }
        LONG high = 0;
        LONG low = 0;
        HRESULT hr = large.get()->get_HighPart(&high);
        if (SUCCEEDED(hr))
            hr = large.get()->get_LowPart(&low);
        if (SUCCEEDED(hr)) {
            value->kind = AttributeValue::Kind::LargeInteger;
            value->largeInteger = static_cast<int64_t>(
                (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | static_cast<uint32_t>(low));
        }
        return hr;
    }

    ComHolder<IADs> object_;
    bool boundAsUser_;
};

class WindowsDirectoryBackend final : public DirectoryBackend {
  public:
    int32_t GetJoinInformation(WString* name, uint32_t* status) override {
        name->clear();
        *status = kNetSetupUnknownStatus;
        LPWSTR buffer = nullptr;
        NETSETUP_JOIN_STATUS joinStatus = NetSetupUnknownStatus;
        const NET_API_STATUS rc = NetGetJoinInformation(nullptr, &buffer, &joinStatus);
        const UniqueHandle<ClosedBy<NetApiBufferFree>> owned(buffer);
        if (rc != NERR_Success)
            return static_cast<int32_t>(rc);
        *name = buffer != nullptr ? WString(buffer) : WString();
        *status = static_cast<uint32_t>(joinStatus);
        return 0;
    }

    int32_t GetDcName(const WChar* domainName, uint32_t flags, DomainControllerInfo* info) override {
        *info = DomainControllerInfo{};
        PDOMAIN_CONTROLLER_INFOW record = nullptr;
        const DWORD rc = DsGetDcNameW(nullptr, domainName, nullptr, nullptr, flags, &record);
        const UniqueHandle<ClosedBy<NetApiBufferFree>> owned(record);
        if (rc != ERROR_SUCCESS)
            return static_cast<int32_t>(rc);
        if (record == nullptr)
            return ERROR_INVALID_DATA;
        if (record->DomainControllerName != nullptr)
            info->domainControllerName = record->DomainControllerName;
        if (record->DomainName != nullptr)
            info->domainName = record->DomainName;
        return 0;
    }

    int32_t BindDomainController(const WChar* domainName,
                                 std::unique_ptr<DomainControllerBinding>* binding) override {
        binding->reset();
        HANDLE handle = nullptr;
        const DWORD rc = DsBindW(nullptr, domainName, &handle);
        UniqueHandle<DsHandlePolicy> owned(handle);
        if (rc != ERROR_SUCCESS)
            return static_cast<int32_t>(rc);
        *binding = std::make_unique<WindowsBinding>(owned.release());
        return 0;
    }

    int32_t LookupAccountName(const WChar* systemName, const WChar* accountName,
                              AccountSidBuffers* buffers) override {
        buffers->sid.clear();
        buffers->domain.clear();
        buffers->use = 0;
        std::vector<uint8_t> sid(buffers->sidSize);
        std::vector<WChar> domain(buffers->domainSize);
        DWORD sidSize = buffers->sidSize;
        DWORD domainSize = buffers->domainSize;
        SID_NAME_USE use = SidTypeUnknown;
        if (::LookupAccountNameW(systemName, accountName, sid.empty() ? nullptr : sid.data(), &sidSize,
                                 domain.empty() ? nullptr : domain.data(), &domainSize, &use) == FALSE) {
            const int32_t error = LastError();
            if (error == ERROR_INSUFFICIENT_BUFFER) {
                buffers->sidSize = sidSize;
                buffers->domainSize = domainSize;
            }
            return error;
        }
        const DWORD length = GetLengthSid(sid.data());
        buffers->sid.assign(sid.begin(), sid.begin() + length);
        buffers->domain.assign(domain.data(), domainSize);
        buffers->use = static_cast<uint32_t>(use);
        buffers->sidSize = length;
        buffers->domainSize = domainSize;
        return 0;
    }

    int32_t LookupAccountSid(const WChar* systemName, const SidBytes& sid,
                             AccountNameBuffers* buffers) override {
        buffers->name.clear();
        buffers->domain.clear();
        buffers->use = 0;
        if (!IsUsableSid(sid))
            return ERROR_INVALID_SID;
        std::vector<WChar> name(buffers->nameSize);
        std::vector<WChar> domain(buffers->domainSize);
        DWORD nameSize = buffers->nameSize;
        DWORD domainSize = buffers->domainSize;
        SID_NAME_USE use = SidTypeUnknown;
        SidBytes copy = sid;
        if (::LookupAccountSidW(systemName, copy.data(), name.empty() ? nullptr : name.data(), &nameSize,
                                domain.empty() ? nullptr : domain.data(), &domainSize, &use) == FALSE) {
            const int32_t error = LastError();
            if (error == ERROR_INSUFFICIENT_BUFFER) {
                buffers->nameSize = nameSize;
                buffers->domainSize = domainSize;
            }
            return error;
        }
        buffers->name.assign(name.data(), nameSize);
        buffers->domain.assign(domain.data(), domainSize);
        buffers->use = static_cast<uint32_t>(use);
        buffers->nameSize = nameSize;
        buffers->domainSize = domainSize;
        return 0;
    }

    int32_t SidToString(const SidBytes& sid, WString* text, int32_t* releaseResult) override {
        text->clear();
        *releaseResult = 0;
        if (!IsUsableSid(sid))
            return ERROR_INVALID_SID;
        SidBytes copy = sid;
        LPWSTR converted = nullptr;
        if (ConvertSidToStringSidW(copy.data(), &converted) == FALSE)
            return LastError();
        *text = converted;
        if (LocalFree(converted) != nullptr)
            *releaseResult = LastError();
        return 0;
    }

    int32_t StringToSid(const WChar* text, SidBytes* sid) override {
        sid->clear();
        if (text == nullptr)
            return ERROR_INVALID_SID;
        PSID converted = nullptr;
        if (ConvertStringSidToSidW(text, &converted) == FALSE)
            return LastError();
        const UniqueHandle<ClosedBy<LocalFree>> owned(converted);
        const auto* bytes = static_cast<const uint8_t*>(converted);
        sid->assign(bytes, bytes + GetLengthSid(converted));
        return 0;
    }

    int32_t InitializeCom() override { return CoInitialize(nullptr); }
    void UninitializeCom() override { CoUninitialize(); }

    int32_t CreateNameTranslate(std::unique_ptr<NameTranslator>* translator) override {
        translator->reset();
        ComHolder<IADsNameTranslate> object;
        const HRESULT hr = CoCreateInstance(kClsidNameTranslate, nullptr, CLSCTX_INPROC_SERVER,
                                            kIidNameTranslate, reinterpret_cast<void**>(object.put()));
        if (FAILED(hr))
            return hr;
        if (!object)
            return E_POINTER;
        *translator = std::make_unique<WindowsTranslator>(object.release());
        return S_OK;
    }

    int32_t BindObject(const WChar* ldapPath, ObjectInterface iface,
                       std::unique_ptr<DirectoryObject>* object) override {
        object->reset();
        ComHolder<IADs> bound;
        const HRESULT hr = ADsGetObject(ldapPath, InterfaceId(iface), reinterpret_cast<void**>(bound.put()));
        if (FAILED(hr))
            return hr;
        if (!bound)
            return E_POINTER;
        *object = std::make_unique<WindowsObject>(bound.release(), iface == ObjectInterface::User);
        return S_OK;
    }
};

}  // namespace

std::unique_ptr<DirectoryBackend> CreateSystemDirectoryBackend() {
    return std::make_unique<WindowsDirectoryBackend>();
}

}  // namespace korva
