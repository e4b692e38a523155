// The in-memory registry installed for its lifetime; fails the test that leaves keys open.
#pragma once

#include <gtest/gtest.h>

#include "platform/memory_registry.h"

namespace korva::testing {

class FakeRegistry final : public platform::MemoryRegistry {
  public:
    FakeRegistry() : override_(this) {}
    ~FakeRegistry() override {
        if (checkLeaks_) {
            EXPECT_EQ(OpenHandleCount(), 0u) << "registry keys left open";
        }
    }
    // For a test that leaves keys open on purpose.
    void DisarmLeakCheck() { checkLeaks_ = false; }

  private:
    platform::ScopedRegistryOverride override_;
    bool checkLeaks_ = true;
};

}  // namespace korva::testing
