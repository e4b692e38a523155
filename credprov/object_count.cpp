#include "credprov/object_count.h"

#include <atomic>

namespace korva::credprov {
namespace {

std::atomic<int32_t> g_objectCount{0};

}  // namespace

void IncrementObjectCount() noexcept {
    g_objectCount.fetch_add(1);
}

void DecrementObjectCount() noexcept {
    g_objectCount.fetch_sub(1);
}

int32_t ObjectCount() noexcept {
    return g_objectCount.load();
}

}  // namespace korva::credprov
