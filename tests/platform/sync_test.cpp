#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>

#include "tests/support/result_assert.h"

namespace korva::platform {
namespace {

TEST(SyncTest, OwnerReentersTheLockAndJoinTimesOutUntilTheOtherThreadGetsIt) {
    RecursiveLock lock;
    lock.Lock();
    lock.Lock();  // re-entry by the owner does not deadlock
    std::atomic<bool> acquired{false};
    Thread other;
    ASSERT_OK(other.Start([&] {
        LockGuard guard(lock);
        acquired = true;
    }));
    lock.Unlock();
    // Still held once by this thread: the other thread cannot have it, and joining it times out.
    EXPECT_FALSE(other.Join(30));
    EXPECT_TRUE(other.Running());
    lock.Unlock();
    EXPECT_TRUE(other.Join(0xFFFFFFFF));
    EXPECT_TRUE(acquired.load());
    EXPECT_FALSE(other.Running());
}

}  // namespace
}  // namespace korva::platform
