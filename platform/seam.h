// The plumbing every OS seam shares: one process-wide replacement a test may install, and the scope that
// installs it and puts the previous one back. Each seam's accessor returns the replacement when there is one,
// else the OS's own implementation.
#pragma once

#include <atomic>

namespace korva::platform {

template <typename Interface>
class ScopedOverride {
  public:
    explicit ScopedOverride(Interface* replacement) noexcept : previous_(Slot().exchange(replacement)) {}
    ~ScopedOverride() { Slot().store(previous_); }
    ScopedOverride(const ScopedOverride&) = delete;
    ScopedOverride& operator=(const ScopedOverride&) = delete;

    // The replacement installed now; null when there is none.
    [[nodiscard]] static Interface* Installed() noexcept { return Slot().load(); }

  private:
    static std::atomic<Interface*>& Slot() noexcept {
        static std::atomic<Interface*> slot{nullptr};
        return slot;
    }

    Interface* previous_;
};

}  // namespace korva::platform
