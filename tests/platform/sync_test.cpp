#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "platform/win_errors.h"

namespace korva::platform {
namespace {

// A gate a thread body waits at until the test opens it; no test sleeps.
class Gate {
  public:
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

TEST(ThreadTest, JoinTimesOutWhileTheBodyIsBlockedAndSucceedsAfterRelease) {
    Gate gate;
    Thread thread;
    ASSERT_EQ(thread.Start([&gate] { gate.Wait(); }), winerr::kSuccess);
    EXPECT_TRUE(thread.Running());
    EXPECT_FALSE(thread.Join(0));
    EXPECT_FALSE(thread.Join(30));
    gate.Open();
    EXPECT_TRUE(thread.Join(0xFFFFFFFF));
    EXPECT_FALSE(thread.Running());
    // Joining again is harmless.
    EXPECT_TRUE(thread.Join(0));
}

TEST(ThreadTest, OneBodyAtATimeAndRestartAfterEnd) {
    Gate gate;
    std::atomic<int> runs{0};
    Thread thread;
    EXPECT_EQ(thread.Start(nullptr), winerr::kInvalidParameter);
    ASSERT_EQ(thread.Start([&] {
        gate.Wait();
        ++runs;
    }),
              winerr::kSuccess);
    // A second start while the first body runs is refused and does not disturb it.
    EXPECT_NE(thread.Start([&] { runs += 100; }), winerr::kSuccess);
    gate.Open();
    ASSERT_TRUE(thread.Join(0xFFFFFFFF));
    ASSERT_EQ(thread.Start([&] { ++runs; }), winerr::kSuccess);
    ASSERT_TRUE(thread.Join(0xFFFFFFFF));
    EXPECT_EQ(runs.load(), 2);
}

TEST(ThreadTest, AnExceptionInTheBodyEndsOnlyTheThread) {
    Thread thread;
    ASSERT_EQ(thread.Start([] { throw std::runtime_error("boom"); }), winerr::kSuccess);
    EXPECT_TRUE(thread.Join(0xFFFFFFFF));
}

TEST(ThreadTest, DestructionJoins) {
    std::atomic<bool> finished{false};
    Gate gate;
    {
        Thread thread;
        ASSERT_EQ(thread.Start([&] {
            gate.Wait();
            finished = true;
        }),
                  winerr::kSuccess);
        gate.Open();
    }
    EXPECT_TRUE(finished.load());
}

TEST(ThreadTest, ABodyJoiningItsOwnThreadDoesNotWait) {
    Gate started;
    std::atomic<int> joined{-1};
    Thread thread;
    ASSERT_EQ(thread.Start([&] {
        started.Wait();
        // With a bound or without, waiting for oneself would never end.
        joined = thread.Join(0xFFFFFFFF) ? 1 : 0;
    }),
              winerr::kSuccess);
    started.Open();
    ASSERT_TRUE(thread.Join(0xFFFFFFFF));
    EXPECT_EQ(joined.load(), 0);
}

TEST(ThreadTest, UnstartedThreadJoinsAtOnce) {
    Thread thread;
    EXPECT_FALSE(thread.Running());
    EXPECT_TRUE(thread.Join(0));
}

TEST(ThreadTest, ThreadIdsDifferBetweenThreads) {
    const uint32_t mine = CurrentThreadId();
    EXPECT_EQ(CurrentThreadId(), mine);
    std::atomic<uint32_t> theirs{0};
    Thread thread;
    ASSERT_EQ(thread.Start([&] { theirs = CurrentThreadId(); }), winerr::kSuccess);
    ASSERT_TRUE(thread.Join(0xFFFFFFFF));
    EXPECT_NE(theirs.load(), 0u);
    EXPECT_NE(theirs.load(), mine);
}

TEST(RecursiveLockTest, OwnerReentersAndOthersWaitForTheLastUnlock) {
    RecursiveLock lock;
    lock.Lock();
    {
        LockGuard again(lock);  // re-entry by the owner does not deadlock
    }
    lock.Lock();
    std::atomic<bool> acquired{false};
    Thread other;
    ASSERT_EQ(other.Start([&] {
        LockGuard guard(lock);
        acquired = true;
    }),
              winerr::kSuccess);
    lock.Unlock();
    // Still held once by this thread: the other thread cannot have it yet.
    EXPECT_FALSE(other.Join(30));
    EXPECT_FALSE(acquired.load());
    lock.Unlock();
    EXPECT_TRUE(other.Join(0xFFFFFFFF));
    EXPECT_TRUE(acquired.load());
}

}  // namespace
}  // namespace korva::platform
