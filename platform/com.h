// COM basics for both builds: the types (GUID, HRESULT, IUnknown, IClassFactory, window and bitmap handles),
// the task allocator, GUID text, object creation, and the RAII holders the COM classes are written with.
//
// Windows: the types are the system's own (from <objbase.h>) and the functions forward to ole32.
// Linux: a small shim with the same binary layout: IUnknown is a pure interface with QueryInterface, AddRef and
// Release in that order, the task allocator is malloc/free, and CreateInstance looks the class up in a
// process-wide table of in-process class factories that tests fill with RegisterClassFactory.
//
// Code above the platform library uses only the names in korva::com. The functions carry our own names
// (TaskAlloc, DupString, ParseGuid, CreateInstance...) rather than the Win32 ones, so that a file that also
// sees <objbase.h> never meets two functions of the same name.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/result_codes.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

#if defined(_WIN32)
#include <objbase.h>
#include <unknwn.h>
#define KORVA_COM_CALL STDMETHODCALLTYPE
#else
#define KORVA_COM_CALL
#endif

// Interfaces are declared between these two: the system's IUnknown has a public non-virtual destructor, which
// gcc reports for every interface derived from it, although no object is ever deleted through an interface.
#define KORVA_COM_INTERFACES_BEGIN \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wnon-virtual-dtor\"")
#define KORVA_COM_INTERFACES_END _Pragma("GCC diagnostic pop")

#if !defined(_WIN32)
// As in the system headers, the reference types are macros, so that every namespace can use them.
#define REFGUID const ::korva::com::GUID&
#define REFIID const ::korva::com::GUID&
#define REFCLSID const ::korva::com::GUID&
#endif

namespace korva::com {

#if defined(_WIN32)
using ::BOOL;
using ::CLSID;
using ::DWORD;
using ::GUID;
using ::HBITMAP;
using ::HRESULT;
using ::HWND;
using ::IClassFactory;
using ::IID;
using ::IUnknown;
using ::UINT_PTR;
using ::ULONG;
// REFGUID, REFIID and REFCLSID are macros of the system headers (const references).
#else
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using BOOL = int32_t;
using UINT_PTR = uintptr_t;
// Window and bitmap handles only pass through the credential interfaces; on Linux nothing can be done with
// them, so they are opaque.
struct HWND__;
using HWND = HWND__*;
struct HBITMAP__;
using HBITMAP = HBITMAP__*;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

  protected:
    ~IClassFactory() = default;
};
#endif

static_assert(sizeof(GUID) == 16, "a GUID is 16 bytes on both builds");
static_assert(sizeof(HRESULT) == 4 && sizeof(ULONG) == 4 && sizeof(DWORD) == 4 && sizeof(BOOL) == 4,
              "the credential interfaces' integers are 32 bits on both builds");

constexpr BOOL kTrue = 1;
constexpr BOOL kFalse = 0;

// CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER
constexpr DWORD kClsctxAll = 0x17;
constexpr DWORD kClsctxInprocServer = 0x1;

inline constexpr bool Succeeded(HRESULT hr) {
    return hr >= 0;
}
inline constexpr bool Failed(HRESULT hr) {
    return hr < 0;
}

// Member-wise GUID comparison usable in constant expressions (tables of well-known CLSIDs).
constexpr bool SameGuid(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}

inline constexpr GUID kGuidNull = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID kIidIUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID kIidIClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The interface ID of an interface type, and the interface it derives from (void for IUnknown). Interfaces
// declared by this project carry `static constexpr IID kIid` and `using Base = ...`; the system's two are
// described here.
template <typename I>
struct InterfaceTraits {
    static constexpr const IID& kIid = I::kIid;
    using Base = typename I::Base;
};
template <>
struct InterfaceTraits<IUnknown> {
    static constexpr const IID& kIid = kIidIUnknown;
    using Base = void;
};
template <>
struct InterfaceTraits<IClassFactory> {
    static constexpr const IID& kIid = kIidIClassFactory;
    using Base = IUnknown;
};

template <typename I>
constexpr const IID& IidOf() {
    return InterfaceTraits<I>::kIid;
}

// True when `riid` names I or one of the interfaces it derives from.
template <typename I>
constexpr bool ImplementsIid(REFIID riid) {
    if (SameGuid(riid, IidOf<I>())) {
        return true;
    }
    using Base = typename InterfaceTraits<I>::Base;
    if constexpr (std::is_void_v<Base>) {
        return false;
    } else {
        return ImplementsIid<Base>(riid);
    }
}

// ---- Task allocator -------------------------------------------------------------------------------------

// CoTaskMemAlloc / CoTaskMemFree. Memory handed across a COM interface comes from here.
[[nodiscard]] void* TaskAlloc(size_t bytes) noexcept;
void TaskFree(void* memory) noexcept;
// SHStrDupW: a task-allocated copy of `source` in *copy. E_INVALIDARG for a null source or out-pointer,
// E_OUTOFMEMORY when the copy cannot be allocated; *copy is null on every failure.
[[nodiscard]] HRESULT DupString(const WChar* source, WChar** copy) noexcept;

// Test hook: the allocation `nth` (0 = the next one) of task memory and of objects made with MakeObject, counted
// from construction, fails; later ones succeed again. Process-wide; restored when the guard ends.
class ScopedAllocationFailure {
  public:
    explicit ScopedAllocationFailure(int nth);
    ~ScopedAllocationFailure();
    ScopedAllocationFailure(const ScopedAllocationFailure&) = delete;
    ScopedAllocationFailure& operator=(const ScopedAllocationFailure&) = delete;
    // Whether the planned failure has happened yet.
    [[nodiscard]] bool Triggered() const;

  private:
    int previous_;
};

// Counts an allocation against ScopedAllocationFailure: false when this one is to fail.
[[nodiscard]] bool AllocationAllowed() noexcept;

// Test hook: `observer` sees each block TaskFree is given, just before it is freed (to check that secrets
// were wiped). Process-wide; restored when the guard ends.
class ScopedTaskFreeObserver {
  public:
    using Observer = void (*)(const void* memory, void* context);
    ScopedTaskFreeObserver(Observer observer, void* context);
    ~ScopedTaskFreeObserver();
    ScopedTaskFreeObserver(const ScopedTaskFreeObserver&) = delete;
    ScopedTaskFreeObserver& operator=(const ScopedTaskFreeObserver&) = delete;

  private:
    Observer previousObserver_;
    void* previousContext_;
};
// Called by TaskFree on both builds.
void NotifyTaskFree(const void* memory) noexcept;

// new (std::nothrow) that also honours ScopedAllocationFailure; null when the object cannot be made.
template <typename T, typename... Args>
[[nodiscard]] T* MakeObject(Args&&... args) noexcept {
    if (!AllocationAllowed()) {
        return nullptr;
    }
    return new (std::nothrow) T(std::forward<Args>(args)...);
}

// ---- GUID text ------------------------------------------------------------------------------------------

// CLSIDFromString for the registry form "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (hex digits in either case).
// A null text gives the null GUID and S_OK; anything malformed gives CO_E_CLASSSTRING and the null GUID.
[[nodiscard]] HRESULT ParseGuid(const WChar* text, GUID* guid) noexcept;
// StringFromGUID2: the registry form in upper case, zero-terminated; the number of characters written
// including the zero, or 0 when `capacity` is below 39.
int FormatGuid(const GUID& guid, WChar* buffer, int capacity) noexcept;
WString GuidToString(const GUID& guid);

// ---- Objects ----------------------------------------------------------------------------------------------

// CoCreateInstance.
[[nodiscard]] HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                                     void** ppv) noexcept;

// Makes `factory` answer CreateInstance for `clsid` in this process until the guard ends (Windows:
// CoRegisterClassObject; Linux: the shim's table). Tests plug fake providers in with it.
class ScopedClassFactoryRegistration {
  public:
    ScopedClassFactoryRegistration(REFCLSID clsid, IClassFactory* factory);
    ~ScopedClassFactoryRegistration();
    ScopedClassFactoryRegistration(const ScopedClassFactoryRegistration&) = delete;
    ScopedClassFactoryRegistration& operator=(const ScopedClassFactoryRegistration&) = delete;
    [[nodiscard]] HRESULT Result() const { return result_; }

  private:
    DWORD cookie_ = 0;
    HRESULT result_;
};

// CoInitializeEx (apartment-threaded) for the guard's lifetime; a no-op on Linux.
class ScopedApartment {
  public:
    ScopedApartment();
    ~ScopedApartment();
    ScopedApartment(const ScopedApartment&) = delete;
    ScopedApartment& operator=(const ScopedApartment&) = delete;
    [[nodiscard]] HRESULT Result() const { return result_; }

  private:
    HRESULT result_;
};

// ---- Holders ----------------------------------------------------------------------------------------------

// A counted reference to a COM interface.
template <typename T>
class [[nodiscard]] ComPtr {
  public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}  // NOLINT: null converts implicitly, as for raw pointers
    ~ComPtr() { reset(); }

    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* raw) noexcept {
        ComPtr result;
        result.ptr_ = raw;
        return result;
    }
    // Adds a reference of its own.
    static ComPtr Copy(T* raw) noexcept {
        if (raw != nullptr) {
            raw->AddRef();
        }
        return Attach(raw);
    }

    ComPtr(const ComPtr& other) noexcept : ptr_(other.ptr_) {
        if (ptr_ != nullptr) {
            ptr_->AddRef();
        }
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(const ComPtr& other) noexcept {
        if (this != &other) {
            ComPtr copy(other);
            swap(copy);
        }
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }

    [[nodiscard]] T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    void reset() noexcept {
        if (T* old = std::exchange(ptr_, nullptr)) {
            old->Release();
        }
    }
    // Releases what is held, then exposes the empty slot for an out-parameter.
    [[nodiscard]] T** put() noexcept {
        reset();
        return &ptr_;
    }
    [[nodiscard]] void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    // Gives the reference to the caller.
    [[nodiscard]] T* detach() noexcept { return std::exchange(ptr_, nullptr); }
    void swap(ComPtr& other) noexcept { std::swap(ptr_, other.ptr_); }

    // QueryInterface for U into `out` (released first); E_POINTER when nothing is held.
    template <typename U>
    [[nodiscard]] HRESULT As(ComPtr<U>* out) const noexcept {
        if (ptr_ == nullptr) {
            out->reset();
            return kEPointer;
        }
        return ptr_->QueryInterface(IidOf<U>(), out->put_void());
    }
    // Hands a new reference out through a raw out-parameter (null stays null).
    [[nodiscard]] HRESULT CopyTo(T** out) const noexcept {
        if (out == nullptr) {
            return kEPointer;
        }
        *out = ptr_;
        if (ptr_ != nullptr) {
            ptr_->AddRef();
        }
        return kSOk;
    }

  private:
    T* ptr_ = nullptr;
};

// A COM object implementing `Interfaces...`: an atomic 32-bit reference count that starts at 1 (the
// creator's reference), QueryInterface over the listed interfaces and their bases, and deletion when Release
// brings the count to 0. A class that answers further interfaces (by handing the request to an object it
// wraps) overrides QueryOtherInterface.
KORVA_COM_INTERFACES_BEGIN
template <typename... Interfaces>
class ComObject : public Interfaces... {
    static_assert(sizeof...(Interfaces) > 0, "a COM object implements at least one interface");

  public:
    HRESULT KORVA_COM_CALL QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return kEInvalidArg;
        }
        if (void* found = Find<Interfaces...>(riid)) {
            *ppv = found;
            AddRef();
            return kSOk;
        }
        return QueryOtherInterface(riid, ppv);
    }
    ULONG KORVA_COM_CALL AddRef() override { return count_.fetch_add(1) + 1; }
    ULONG KORVA_COM_CALL Release() override {
        const ULONG remaining = count_.fetch_sub(1) - 1;
        if (remaining == 0) {
            delete this;
        }
        return remaining;
    }

    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;

    // Called for an interface none of `Interfaces...` implements; must set *ppv (null on failure).
    virtual HRESULT QueryOtherInterface(REFIID /*riid*/, void** ppv) {
        *ppv = nullptr;
        return kENoInterface;
    }
    [[nodiscard]] ULONG ReferenceCount() const { return count_.load(); }

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
};
KORVA_COM_INTERFACES_END

// Task-allocated memory, freed with TaskFree.
template <typename T>
struct TaskMemPolicy {
    using Type = T*;
    static constexpr Type Invalid() { return nullptr; }
    static void Close(Type value) noexcept { TaskFree(value); }
};
template <typename T>
using UniqueTaskMem = UniqueHandle<TaskMemPolicy<T>>;
using TaskString = UniqueTaskMem<WChar>;

// A task-allocated text that may hold a password: overwritten up to its terminating zero before it is freed.
struct SecureTaskStringPolicy {
    using Type = WChar*;
    static constexpr Type Invalid() { return nullptr; }
    static void Close(Type value) noexcept {
        SecureZero(value, WLen(value) * sizeof(WChar));
        TaskFree(value);
    }
};
using SecureTaskString = UniqueHandle<SecureTaskStringPolicy>;

// A task-allocated byte buffer of known size that may hold a password (a credential serialization):
// overwritten before it is freed.
class [[nodiscard]] SecureTaskBytes {
  public:
    SecureTaskBytes() noexcept = default;
    ~SecureTaskBytes() { reset(); }
    SecureTaskBytes(SecureTaskBytes&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    SecureTaskBytes& operator=(SecureTaskBytes&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    SecureTaskBytes(const SecureTaskBytes&) = delete;
    SecureTaskBytes& operator=(const SecureTaskBytes&) = delete;

    // Takes over `size` task-allocated bytes at `data`.
    static SecureTaskBytes Attach(uint8_t* data, size_t size) noexcept {
        SecureTaskBytes result;
        result.data_ = data;
        result.size_ = data != nullptr ? size : 0;
        return result;
    }
    // A task-allocated copy of `size` bytes (empty for size 0); false when it cannot be allocated.
    [[nodiscard]] bool CopyFrom(const void* source, size_t size) noexcept;

    [[nodiscard]] uint8_t* get() const noexcept { return data_; }
    [[nodiscard]] size_t size() const noexcept { return size_; }
    [[nodiscard]] uint8_t* release() noexcept {
        size_ = 0;
        return std::exchange(data_, nullptr);
    }
    void reset() noexcept;

  private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace korva::com
