// Locks and threads on Linux, from the standard library. Join with a time limit waits on a condition variable
// that the thread signals as its body returns; std::thread::join alone could block without bound.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/sync.h"
#include "platform/result_codes.h"

namespace korva::platform {

struct RecursiveLock::Impl {
    std::recursive_mutex mutex;
};

RecursiveLock::RecursiveLock() : impl_(std::make_unique<Impl>()) {}
RecursiveLock::~RecursiveLock() = default;
void RecursiveLock::Lock() {
    impl_->mutex.lock();
}
void RecursiveLock::Unlock() {
    impl_->mutex.unlock();
}

struct Thread::Impl {
    // Shared with the running thread, which may outlive a Join that timed out.
    struct State {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    std::thread thread;
    std::shared_ptr<State> state;
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
    if (impl_->thread.joinable()) {
        impl_->thread.join();
    }
}

int32_t Thread::Start(std::function<void()> body) {
    if (!body) {
        return winerr::kInvalidParameter;
    }
    if (impl_->thread.joinable()) {
        if (Running()) {
            return 170;  // ERROR_BUSY: one body at a time
        }
        impl_->thread.join();
    }
    auto state = std::make_shared<Impl::State>();
    try {
        impl_->thread = std::thread([state, work = std::move(body)]() {
            try {
                work();
            } catch (...) {
                // An exception must not end the process from a worker thread.
            }
            std::lock_guard<std::mutex> lock(state->mutex);
            state->done = true;
            state->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return winerr::kNotEnoughMemory;
    }
    impl_->state = std::move(state);
    return winerr::kSuccess;
}

bool Thread::Join(uint32_t milliseconds) {
    if (!impl_->thread.joinable()) {
        return true;
    }
    if (impl_->thread.get_id() == std::this_thread::get_id()) {
        return false;  // a thread cannot wait for its own end
    }
    {
        std::unique_lock<std::mutex> lock(impl_->state->mutex);
        auto isDone = [this] { return impl_->state->done; };
        if (milliseconds == 0xFFFFFFFFu) {
            impl_->state->ended.wait(lock, isDone);
        } else if (!impl_->state->ended.wait_for(lock, std::chrono::milliseconds(milliseconds), isDone)) {
            return false;
        }
    }
    // The body has returned; what is left of the thread is its exit.
    impl_->thread.join();
    return true;
}

bool Thread::Running() const {
    if (!impl_->thread.joinable() || !impl_->state) {
        return false;
    }
    std::lock_guard<std::mutex> lock(impl_->state->mutex);
    return !impl_->state->done;
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

}  // namespace korva::platform
