// The library-wide count of live objects that keep the module loaded, plus the locks taken through the class
// factory. DllCanUnloadNow allows unloading only when it is 0 or less. Changed only atomically: objects may
// end on any thread that drops the last reference.
#pragma once

#include <cstdint>

namespace korva::credprov {

void IncrementObjectCount() noexcept;
void DecrementObjectCount() noexcept;
[[nodiscard]] int32_t ObjectCount() noexcept;

// A member (or base) of every class that counts while it lives: counts up when constructed, down when
// destroyed.
class CountedObject {
  public:
    CountedObject() noexcept { IncrementObjectCount(); }
    ~CountedObject() { DecrementObjectCount(); }
    CountedObject(const CountedObject&) noexcept { IncrementObjectCount(); }
    CountedObject& operator=(const CountedObject&) noexcept = default;
};

}  // namespace korva::credprov
