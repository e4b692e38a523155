// The in-memory registry installed for its lifetime; fails the test that leaves keys open.
#pragma once

#include <gtest/gtest.h>

#include "platform/memory_registry.h"

namespace korva::testing {

class FakeRegistry : public platform::MemoryRegistry {
  public:
    FakeRegistry() : override_(this) {}
    ~FakeRegistry() override { EXPECT_EQ(OpenHandleCount(), 0u) << "registry keys left open"; }

  private:
    platform::ScopedRegistryOverride override_;
};

}  // namespace korva::testing
