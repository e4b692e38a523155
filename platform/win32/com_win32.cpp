// The COM basics on Windows: thin forwards to ole32.
#include "platform/com.h"

namespace korva::com {

void* TaskAlloc(size_t bytes) noexcept {
    if (!AllocationAllowed()) {
        return nullptr;
    }
    return ::CoTaskMemAlloc(bytes);
}

void TaskFree(void* memory) noexcept {
    NotifyTaskFree(memory);
    ::CoTaskMemFree(memory);
}

HRESULT ParseGuid(const WChar* text, GUID* guid) noexcept {
    if (guid == nullptr) {
        return kEInvalidArg;
    }
    const HRESULT result = ::CLSIDFromString(text, guid);
    if (Failed(result)) {
        *guid = kGuidNull;
    }
    return result;
}

int FormatGuid(const GUID& guid, WChar* buffer, int capacity) noexcept {
    if (buffer == nullptr) {
        return 0;
    }
    return ::StringFromGUID2(guid, buffer, capacity);
}

HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) {
        return kEPointer;
    }
    return ::CoCreateInstance(clsid, outer, context, riid, ppv);
}

ScopedClassFactoryRegistration::ScopedClassFactoryRegistration(REFCLSID clsid, IClassFactory* factory)
    : result_(kSOk) {
    if (factory == nullptr) {
        result_ = kEInvalidArg;
        return;
    }
    result_ = ::CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    if (Failed(result_)) {
        cookie_ = 0;
    }
}

ScopedClassFactoryRegistration::~ScopedClassFactoryRegistration() {
    if (cookie_ != 0) {
        (void)::CoRevokeClassObject(cookie_);
    }
}

ScopedApartment::ScopedApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}

ScopedApartment::~ScopedApartment() {
    // S_FALSE (already initialised on this thread) also takes a count that must be given back.
    if (Succeeded(result_)) {
        ::CoUninitialize();
    }
}

}  // namespace korva::com
