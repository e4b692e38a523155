// The portable half of the COM basics: string copies, the allocation-failure hook and the wiping byte buffer.
// The task allocator, GUID text and object creation are in win32/com_win32.cpp and posix/com_posix.cpp.
#include "platform/com.h"

#include <cstring>

namespace korva::com {
namespace {

// Allocations still to go before the planned failure; negative: none planned.
std::atomic<int> g_allocationsBeforeFailure{-1};
std::atomic<bool> g_failureTriggered{false};

ScopedTaskFreeObserver::Observer g_freeObserver = nullptr;
void* g_freeObserverContext = nullptr;

}  // namespace

bool AllocationAllowed() noexcept {
    int remaining = g_allocationsBeforeFailure.load();
    while (remaining >= 0) {
        if (g_allocationsBeforeFailure.compare_exchange_weak(remaining, remaining - 1)) {
            if (remaining == 0) {
                g_failureTriggered.store(true);
                return false;
            }
            return true;
        }
    }
    return true;
}

ScopedAllocationFailure::ScopedAllocationFailure(int nth) : previous_(g_allocationsBeforeFailure.load()) {
    g_failureTriggered.store(false);
    g_allocationsBeforeFailure.store(nth);
}

ScopedAllocationFailure::~ScopedAllocationFailure() {
    g_allocationsBeforeFailure.store(previous_);
}

bool ScopedAllocationFailure::Triggered() const {
    return g_failureTriggered.load();
}

ScopedTaskFreeObserver::ScopedTaskFreeObserver(Observer observer, void* context)
    : previousObserver_(g_freeObserver), previousContext_(g_freeObserverContext) {
    g_freeObserver = observer;
    g_freeObserverContext = context;
}

ScopedTaskFreeObserver::~ScopedTaskFreeObserver() {
    g_freeObserver = previousObserver_;
    g_freeObserverContext = previousContext_;
}

void NotifyTaskFree(const void* memory) noexcept {
    if (g_freeObserver != nullptr && memory != nullptr) {
        g_freeObserver(memory, g_freeObserverContext);
    }
}

HRESULT DupString(const WChar* source, WChar** copy) noexcept {
    if (copy == nullptr) {
        return kEInvalidArg;
    }
    *copy = nullptr;
    if (source == nullptr) {
        return kEInvalidArg;
    }
    const size_t bytes = (WLen(source) + 1) * sizeof(WChar);
    auto* text = static_cast<WChar*>(TaskAlloc(bytes));
    if (text == nullptr) {
        return kEOutOfMemory;
    }
    std::memcpy(text, source, bytes);
    *copy = text;
    return kSOk;
}

WString GuidToString(const GUID& guid) {
    WChar buffer[40] = {};
    const int written = FormatGuid(guid, buffer, 40);
    return written > 0 ? WString(buffer, static_cast<size_t>(written - 1)) : WString();
}

bool SecureTaskBytes::CopyFrom(const void* source, size_t size) noexcept {
    reset();
    if (size == 0) {
        return true;
    }
    auto* copy = static_cast<uint8_t*>(TaskAlloc(size));
    if (copy == nullptr) {
        return false;
    }
    std::memcpy(copy, source, size);
    data_ = copy;
    size_ = size;
    return true;
}

void SecureTaskBytes::reset() noexcept {
    if (data_ != nullptr) {
        SecureZero(data_, size_);
        TaskFree(data_);
    }
    data_ = nullptr;
    size_ = 0;
}

}  // namespace korva::com
