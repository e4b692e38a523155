// Ownership of OS resources: one move-only holder with a close policy, and a scope-exit helper.
//
// A close policy is a struct with
//   using Type = ...;                        // the raw handle type
//   static constexpr Type Invalid();         // the value that owns nothing
//   static void Close(Type value) noexcept;  // releases a valid value
// Registry keys, directory bindings, LDAP sessions, Win32 handles and COM pointers each get a policy; the
// holder is the same for all of them. A handle that one function of one argument releases, and that is empty
// when zero, needs no policy of its own: UniqueHandle<ClosedBy<SysFreeString>>.
//
// put() releases what the holder owns before it hands out the address, so a function that fills an
// out-parameter never overwrites (and leaks) a value the holder still owned:
//   UniqueHandle<RegKeyPolicy> key;
//   if (Reg().OpenKey(root, path, access, key.put()) != 0) ...   // key is closed when it leaves scope
#pragma once

#include <utility>

namespace korva {

namespace detail {
template <typename F>
struct OnlyArgument;
template <typename R, typename A>
struct OnlyArgument<R (*)(A)> {
    using Type = A;
};
template <typename R, typename A>
struct OnlyArgument<R (*)(A) noexcept> {
    using Type = A;
};
}  // namespace detail

// The close policy of a handle released by `Release(handle)` and empty when zero (null).
template <auto Release>
struct ClosedBy {
    using Type = typename detail::OnlyArgument<decltype(Release)>::Type;
    static constexpr Type Invalid() { return Type{}; }
    static void Close(Type value) noexcept { (void)Release(value); }
};

template <typename Policy>
class [[nodiscard]] UniqueHandle {
  public:
    using Type = typename Policy::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    [[nodiscard]] Type get() const noexcept { return value_; }
    [[nodiscard]] bool valid() const noexcept { return value_ != Policy::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Closes the owned value (if any) and takes `value`.
    void reset(Type value = Policy::Invalid()) noexcept {
        const Type old = std::exchange(value_, value);
        if (old != Policy::Invalid()) {
            Policy::Close(old);
        }
    }
    // Gives up ownership without closing.
    [[nodiscard]] Type release() noexcept { return std::exchange(value_, Policy::Invalid()); }
    // Closes the owned value, then exposes the (now invalid) slot for an out-parameter.
    [[nodiscard]] Type* put() noexcept {
        reset();
        return &value_;
    }

  private:
    Type value_ = Policy::Invalid();
};

// Runs a callable when the scope ends, unless dismissed.
template <typename F>
class [[nodiscard]] ScopeExit {
  public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ~ScopeExit() {
        if (active_) {
            f_();
        }
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void Dismiss() noexcept { active_ = false; }

  private:
    F f_;
    bool active_ = true;
};

}  // namespace korva
