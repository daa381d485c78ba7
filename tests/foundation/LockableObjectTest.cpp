#include "foundation/LockableObject.h"
#include "support/ArchiveHelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr int kHeld = 0;
constexpr int kTimedOut = 258;

void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
}

TEST(LockableObjectTest, UnknownModeReturnsMinusOneAndChangesNothing) {
    CLockableObject object;
    EXPECT_EQ(object.Lock(2, 0), -1);
    EXPECT_EQ(object.Lock(-1), -1);
    EXPECT_EQ(object.GetReaderCount(), 0);
    EXPECT_EQ(object.GetWaitingWriterCount(), 0);
    EXPECT_TRUE(object.IsNoWriterSet());
    EXPECT_FALSE(object.Unlock(2));
    // Unlocks without a lock are refused too.
    EXPECT_FALSE(object.Unlock(CLockableObject::kShared));
    EXPECT_FALSE(object.Unlock(CLockableObject::kExclusive));
    EXPECT_EQ(object.GetReaderCount(), 0);
}

TEST(LockableObjectTest, ReadersShareAndWritersWaitForThem) {
    CLockableObject object;
    ASSERT_EQ(object.Lock(CLockableObject::kShared), kHeld);
    std::thread second([&] {
        EXPECT_EQ(object.Lock(CLockableObject::kShared, 1000), kHeld);
        EXPECT_TRUE(object.Unlock(CLockableObject::kShared));
    });
    second.join();
    EXPECT_EQ(object.GetReaderCount(), 1);
    std::thread writer([&] { EXPECT_EQ(object.Lock(CLockableObject::kExclusive, 30), kTimedOut); });
    writer.join();
    // That time-out was on the readers: the no-writer state is untouched and readers still come.
    EXPECT_TRUE(object.IsNoWriterSet());
    EXPECT_EQ(object.GetWaitingWriterCount(), 0);
    std::thread reader([&] {
        EXPECT_EQ(object.Lock(CLockableObject::kShared, 1000), kHeld);
        object.Unlock(CLockableObject::kShared);
    });
    reader.join();

    std::atomic<bool> written{false};
    std::thread patient([&] {
        EXPECT_EQ(object.Lock(CLockableObject::kExclusive, 5000), kHeld);
        written = true;
        object.Unlock(CLockableObject::kExclusive);
    });
    Pause();
    EXPECT_FALSE(written);
    EXPECT_TRUE(object.Unlock(CLockableObject::kShared));
    patient.join();
    EXPECT_TRUE(written);
    EXPECT_TRUE(object.IsNoWriterSet());
}

TEST(LockableObjectTest, WriterKeepsReadersOutUntilItsOutermostUnlock) {
    CLockableObject object;
    ASSERT_EQ(object.Lock(CLockableObject::kExclusive), kHeld);
    ASSERT_EQ(object.Lock(CLockableObject::kExclusive, 0), kHeld);  // nested
    std::thread reader([&] { EXPECT_EQ(object.Lock(CLockableObject::kShared, 20), kTimedOut); });
    reader.join();
    EXPECT_TRUE(object.Unlock(CLockableObject::kExclusive));
    std::thread stillOut([&] {
        EXPECT_EQ(object.Lock(CLockableObject::kShared, 20), kTimedOut);
        // Another thread cannot release the writer's lock.
        EXPECT_FALSE(object.Unlock(CLockableObject::kExclusive));
    });
    stillOut.join();
    EXPECT_TRUE(object.Unlock(CLockableObject::kExclusive));
    EXPECT_EQ(object.Lock(CLockableObject::kShared, 0), kHeld);
    EXPECT_TRUE(object.Unlock(CLockableObject::kShared));
}

TEST(LockableObjectTest, WriterThatTimesOutOnTheMutexLeavesTheLockUsable) {
    CLockableObject object;
    std::atomic<bool> release{false};
    std::thread holder([&] {
        ASSERT_EQ(object.Lock(CLockableObject::kExclusive), kHeld);
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        object.Unlock(CLockableObject::kExclusive);
    });
    while (object.IsNoWriterSet())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(object.Lock(CLockableObject::kExclusive, 30), kTimedOut);
    EXPECT_EQ(object.GetWaitingWriterCount(), 0);
    release = true;
    holder.join();
    EXPECT_TRUE(object.IsNoWriterSet());
    EXPECT_EQ(object.Lock(CLockableObject::kShared, 1000), kHeld);
    object.Unlock(CLockableObject::kShared);
    EXPECT_EQ(object.Lock(CLockableObject::kExclusive, 1000), kHeld);
    object.Unlock(CLockableObject::kExclusive);
}

TEST(LockableObjectTest, ReadersNeverOverlapAWriter) {
    CLockableObject object;
    std::atomic<int> readers{0}, writers{0}, overlaps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            const int mode = t % 3 == 0 ? CLockableObject::kExclusive : CLockableObject::kShared;
            for (int i = 0; i < 300; ++i) {
                if (object.Lock(mode, 2000) != kHeld)
                    continue;
                if (mode == CLockableObject::kExclusive) {
                    if (++writers != 1 || readers != 0)
                        ++overlaps;
                    --writers;
                } else {
                    ++readers;
                    if (writers != 0)
                        ++overlaps;
                    --readers;
                }
                object.Unlock(mode);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(object.GetReaderCount(), 0);
    EXPECT_EQ(object.GetWaitingWriterCount(), 0);
    EXPECT_TRUE(object.IsNoWriterSet());
}

TEST(LockableObjectTest, WritesNothingAndCopiesGetAFreshLock) {
    CLockableObject object;
    EXPECT_TRUE(StoreBytes([&](CArchive& ar) { object.Serialize(ar); }).empty());
    object.Lock(CLockableObject::kShared);
    CLockableObject copy(object);
    EXPECT_EQ(copy.GetReaderCount(), 0);
    object.Unlock(CLockableObject::kShared);
}

}  // namespace
