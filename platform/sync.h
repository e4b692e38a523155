// Locks and threads. Windows: CRITICAL_SECTION and CreateThread; elsewhere the standard library.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace korva::platform {

// A recursive lock (a critical section): the owning thread may take it again.
class RecursiveLock {
  public:
    RecursiveLock();
    ~RecursiveLock();
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;
    void Lock();
    void Unlock();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class LockGuard {
  public:
    explicit LockGuard(RecursiveLock& lock) : lock_(lock) { lock_.Lock(); }
    ~LockGuard() { lock_.Unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

  private:
    RecursiveLock& lock_;
};

// A joinable thread running `body`. Destroying a thread that was not joined joins it.
class Thread {
  public:
    Thread();
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // 0 or a Windows error code.
    [[nodiscard]] int32_t Start(std::function<void()> body);
    // Waits at most `milliseconds` (0xFFFFFFFF = without bound); true when the thread has ended.
    [[nodiscard]] bool Join(uint32_t milliseconds);
    bool Running() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

uint32_t CurrentThreadId();

}  // namespace korva::platform
