#include "platform/kernel/Clock.h"
#include "platform/kernel/Sync.h"
#include "support/SocketTestKit.h"
#include "support/TimeScale.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(EventTest, WaitTimesOutWith258) {
    CEvent event;
    std::uint64_t start = GetTickCount64();
    EXPECT_EQ(event.Wait(60), WAIT_TIMEOUT);
    EXPECT_GE(GetTickCount64() - start, 55u);
    EXPECT_EQ(WAIT_TIMEOUT, 258u);
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSet) {
    CEvent event(false, false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (event.Wait(ScaledMs(30000)) == WAIT_OBJECT_0)
                ++released;
        });
    Sleep(50);
    event.Set();
    ASSERT_TRUE(WaitUntil([&] { return released == 1; }));
    Sleep(100);  // and nobody else
    EXPECT_EQ(released, 1);
    // A Set while the event is already signalled releases nobody extra: set, let one go, set.
    event.Set();
    while (released < 2)
        Sleep(1);
    event.Set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released, 3);
    EXPECT_FALSE(event.IsSignalled());
}

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
    CEvent event(true, true);
    EXPECT_EQ(event.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(event.Wait(INFINITE), WAIT_OBJECT_0);
    event.Reset();
    EXPECT_EQ(event.Wait(10), WAIT_TIMEOUT);
}

TEST(MutexTest, TheOwnerMayLockAgainAndOthersWait) {
    CMutex mutex;
    ASSERT_EQ(mutex.Lock(), WAIT_OBJECT_0);
    ASSERT_EQ(mutex.Lock(0), WAIT_OBJECT_0);
    EXPECT_TRUE(mutex.IsHeldByCurrentThread());
    DWORD other = 0;
    std::thread([&] { other = mutex.Lock(30); }).join();
    EXPECT_EQ(other, WAIT_TIMEOUT);
    EXPECT_TRUE(mutex.Unlock());
    std::thread([&] { other = mutex.Lock(30); }).join();
    EXPECT_EQ(other, WAIT_TIMEOUT);  // still held once
    EXPECT_TRUE(mutex.Unlock());
    EXPECT_FALSE(mutex.Unlock());  // not held any more
    std::thread([&] {
        other = mutex.Lock(30);
        mutex.Unlock();
    }).join();
    EXPECT_EQ(other, WAIT_OBJECT_0);
}

TEST(MutexTest, UnlockByANonOwnerFailsAndChangesNothing) {
    CMutex mutex;
    mutex.Lock();
    bool unlocked = true;
    std::thread([&] { unlocked = mutex.Unlock(); }).join();
    EXPECT_FALSE(unlocked);
    EXPECT_TRUE(mutex.IsHeldByCurrentThread());
    mutex.Unlock();
}

TEST(MutexTest, ExcludesAcrossThreads) {
    CMutex mutex;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CMutexLock outer(mutex);
                CMutexLock inner(mutex);
                ++counter;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 80000);
}

TEST(ClockTest, TickCountIsTheLowHalfOfTheMonotonicClock) {
    std::uint64_t a = GetTickCount64();
    Sleep(20);
    std::uint64_t b = GetTickCount64();
    EXPECT_GE(b - a, 19u);
    EXPECT_EQ(static_cast<DWORD>(GetTickCount64() - GetTickCount()) % 1000u, 0u);
}

}  // namespace
