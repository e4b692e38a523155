// Locks and threads on Windows: a critical section, and CreateThread with WaitForSingleObject for a join with
// a time limit.
#include <windows.h>

#include "platform/sync.h"
#include "platform/result_codes.h"

namespace korva::platform {

struct RecursiveLock::Impl {
    CRITICAL_SECTION section;
};

RecursiveLock::RecursiveLock() : impl_(std::make_unique<Impl>()) {
    InitializeCriticalSection(&impl_->section);
}
RecursiveLock::~RecursiveLock() {
    DeleteCriticalSection(&impl_->section);
}
void RecursiveLock::Lock() {
    EnterCriticalSection(&impl_->section);
}
void RecursiveLock::Unlock() {
    LeaveCriticalSection(&impl_->section);
}

struct Thread::Impl {
    HANDLE handle = nullptr;

    static DWORD WINAPI Run(void* parameter) {
        std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
        try {
            (*body)();
        } catch (...) {
            // An exception must not end the process from a worker thread.
        }
        return 0;
    }

    void Close() {
        if (handle != nullptr) {
            CloseHandle(handle);
            handle = nullptr;
        }
    }
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
    if (impl_->handle != nullptr) {
        WaitForSingleObject(impl_->handle, INFINITE);
        impl_->Close();
    }
}

int32_t Thread::Start(std::function<void()> body) {
    if (!body) {
        return winerr::kInvalidParameter;
    }
    if (impl_->handle != nullptr) {
        if (WaitForSingleObject(impl_->handle, 0) != WAIT_OBJECT_0) {
            return 170;  // ERROR_BUSY: one body at a time
        }
        impl_->Close();
    }
    auto* parameter = new std::function<void()>(std::move(body));
    impl_->handle = CreateThread(nullptr, 0, &Impl::Run, parameter, 0, nullptr);
    if (impl_->handle == nullptr) {
        const DWORD error = GetLastError();
        delete parameter;
        return error != 0 ? static_cast<int32_t>(error) : winerr::kNotEnoughMemory;
    }
    return winerr::kSuccess;
}

bool Thread::Join(uint32_t milliseconds) {
    if (impl_->handle == nullptr) {
        return true;
    }
    if (GetThreadId(impl_->handle) == GetCurrentThreadId()) {
        return false;  // a thread cannot wait for its own end
    }
    const DWORD wait = milliseconds == 0xFFFFFFFFu ? INFINITE : milliseconds;
    return WaitForSingleObject(impl_->handle, wait) == WAIT_OBJECT_0;
}

bool Thread::Running() const {
    return impl_->handle != nullptr && WaitForSingleObject(impl_->handle, 0) == WAIT_TIMEOUT;
}

uint32_t CurrentThreadId() {
    return GetCurrentThreadId();
}

}  // namespace korva::platform
