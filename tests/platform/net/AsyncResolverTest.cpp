#include "platform/net/AsyncResolver.h"

#include "platform/kernel/Sync.h"
#include "platform/net/HostsFile.h"
#include "support/FrameworkTestKit.h"
#include "support/TempDir.h"
#include "platform/kernel/Thread.h"
#include "platform/net/SocketErrors.h"
#include "support/TimeScale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kDone = 0x40A;

// The completions that reach the calling thread, each within `timeoutMs` (scaled for the
// build): id to lParam.
std::map<std::uint64_t, std::intptr_t> Completions(std::size_t wanted, int timeoutMs = 5000) {
    std::map<std::uint64_t, std::intptr_t> got;
    ThreadMessage msg;
    while (got.size() < wanted && GetMessageTimeout(msg, ScaledMs(timeoutMs)) == WAIT_OBJECT_0) {
        if (msg.message == kDone)
            got[msg.wParam] = msg.lParam;
    }
    return got;
}

}  // namespace

TEST(AsyncResolverTest, ResultsReachTheRequesterUnderIdsNeverReused) {
    CAsyncResolver resolver(2, 16);
    const DWORD me = GetCurrentThreadId();
    const std::uint64_t found = resolver.Start("localhost", me, kDone);
    const std::uint64_t numeric = resolver.Start("10.1.2.3", me, kDone);
    const std::uint64_t refused = resolver.Start("bad\x01name", me, kDone);
    // A request's finish runs on the lookup thread with the outcome, before the completion.
    std::map<std::string, int> finishes;  // the official name (or "-") to the error
    const auto finish = [&](int error, const HostLookup& lookup) {
        EXPECT_NE(GetCurrentThreadId(), me);
        finishes[lookup.officialName.empty() ? "-" : lookup.officialName] = error;
    };
    const std::uint64_t prepared = resolver.Start("localhost", me, kDone, [] { return 691; },
                                                  CAsyncResolver::Notice::eachRequest, finish);
    EXPECT_EQ(resolver.Start("", me, kDone), 0u);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
    ASSERT_NE(found, 0u);
    EXPECT_EQ(numeric, found + 1);
    EXPECT_EQ(refused, found + 2);
    EXPECT_EQ(prepared, found + 3);

    const auto done = Completions(4);
    ASSERT_EQ(done.size(), 4u);
    int error = -1;
    HostLookup lookup;
    ASSERT_TRUE(resolver.TakeResult(found, &error, &lookup));
    EXPECT_EQ(error, 0);
    EXPECT_EQ(done.at(found) & 0xFFFF, static_cast<std::intptr_t>(lookup.officialName.size() + 1 +
                                                                  4 * lookup.addresses.size()));
    EXPECT_EQ(lookup.officialName, "localhost");
    ASSERT_FALSE(lookup.addresses.empty());
    EXPECT_EQ(lookup.addresses.front() >> 24, 127u);
    EXPECT_FALSE(resolver.TakeResult(found, &error, &lookup));  // taken once
    ASSERT_TRUE(resolver.TakeResult(numeric, &error, &lookup));
    EXPECT_EQ(lookup.officialName, "10.1.2.3");
    ASSERT_TRUE(resolver.TakeResult(refused, &error, &lookup));
    EXPECT_EQ(CAsyncResolver::ReplyError(done.at(refused)), WSAHOST_NOT_FOUND);
    ASSERT_TRUE(resolver.TakeResult(prepared, &error, &lookup));
    EXPECT_EQ(error, 691);  // the preparation's failure; no lookup made
    EXPECT_EQ(finishes, (std::map<std::string, int>{{"-", 691}}));
    const std::uint64_t finished = resolver.Start("localhost", me, kDone, {},
                                                  CAsyncResolver::Notice::eachRequest, finish);
    ASSERT_EQ(Completions(1).count(finished), 1u);
    EXPECT_EQ(finishes, (std::map<std::string, int>{{"-", 691}, {"localhost", 0}}));
    ASSERT_TRUE(resolver.TakeResult(finished, &error, &lookup));
    EXPECT_EQ(resolver.GetRequestCount(), 0u);
    EXPECT_LE(resolver.GetThreadCount(), 2u);
}

TEST(AsyncResolverTest, SlowLookupsHoldNobodyUpAndCancelledOrAbandonedOnesDeliverNothing) {
    CAsyncResolver resolver(2, 5);
    const DWORD me = GetCurrentThreadId();
    CEvent entered1, entered2, release(true);
    const auto holding = [&](CEvent& entered) {
        return [&] {
            entered.Set();
            release.Wait(10000);
            return 0;
        };
    };
    // One lookup thread is held inside the first request; the second thread serves the next.
    const std::uint64_t held = resolver.Start("localhost", me, kDone, holding(entered1));
    ASSERT_EQ(entered1.Wait(ScaledMs(5000)), WAIT_OBJECT_0);
    const std::uint64_t quick = resolver.Start("localhost", me, kDone);
    auto done = Completions(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done.begin()->first, quick);
    int error = 0;
    HostLookup lookup;
    ASSERT_TRUE(resolver.TakeResult(quick, &error, &lookup));

    // Both threads held: later requests wait in the queue, up to the limit of five; one of
    // them for a requester that has ended by the time its lookup is done.
    const std::uint64_t held2 = resolver.Start("localhost", me, kDone, holding(entered2));
    ASSERT_EQ(entered2.Wait(ScaledMs(5000)), WAIT_OBJECT_0);
    const std::uint64_t waiting = resolver.Start("localhost", me, kDone);
    const std::uint64_t kept = resolver.Start("localhost", me, kDone);
    std::uint64_t orphan = 0;
    std::thread requester([&] { orphan = resolver.Start("localhost", GetCurrentThreadId(), kDone); });
    requester.join();
    ASSERT_NE(orphan, 0u);
    EXPECT_EQ(resolver.Start("localhost", me, kDone), 0u);
    EXPECT_EQ(WSAGetLastError(), WSAENOBUFS);

    EXPECT_TRUE(resolver.Cancel(held));     // while its lookup runs
    EXPECT_TRUE(resolver.Cancel(waiting));  // while it waits in the queue
    EXPECT_FALSE(resolver.Cancel(waiting));
    release.Set();
    done = Completions(3, 1000);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done.count(held2), 1u);
    EXPECT_EQ(done.count(kept), 1u);

    // The ended requester's result is not kept.
    ASSERT_TRUE(resolver.TakeResult(held2, &error, &lookup));
    ASSERT_TRUE(resolver.TakeResult(kept, &error, &lookup));
    for (int i = 0; i < 500 && resolver.GetRequestCount() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(resolver.GetRequestCount(), 0u);
}

TEST(AsyncResolverTest, RequestsBehindTheFirstThreadsStuckInSlowLookupsGetAnotherThread) {
    CAsyncResolver resolver(CAsyncResolver::kEagerThreads + 2, 32);
    const DWORD me = GetCurrentThreadId();
    CEvent release(true);
    std::atomic<int> entered{0};
    const auto held = [&] {
        ++entered;
        release.Wait(10000);
        return 0;
    };
    std::vector<std::uint64_t> slow;
    for (std::size_t i = 0; i < CAsyncResolver::kEagerThreads; ++i)
        slow.push_back(resolver.Start("localhost", me, kDone, held));
    for (int i = 0; i < 500 && entered < static_cast<int>(slow.size()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(entered.load(), static_cast<int>(slow.size()));
    // Those threads are woken at once; the watch adds one for these within milliseconds.
    const std::uint64_t quick = resolver.Start("localhost", me, kDone);
    const std::uint64_t next = resolver.Start("localhost", me, kDone);
    const auto done = Completions(2, 2000);
    release.Set();
    EXPECT_EQ(done.size(), 2u);
    EXPECT_EQ(done.count(quick) + done.count(next), 2u);
    EXPECT_EQ(Completions(slow.size()).size(), slow.size());
    EXPECT_LE(resolver.GetThreadCount(), CAsyncResolver::kEagerThreads + 2);
}

TEST(AsyncResolverTest, FinishedLookupsAreTakenTogetherPerRequesterAndStartsInABatchAllRun) {
    CAsyncResolver resolver(4, 16);
    const DWORD me = GetCurrentThreadId();
    std::uint64_t ids[5] = {};
    {
        // Requests started in a batch wake a lookup thread at its end, and all of them run.
        CAsyncResolver::Batch batch(resolver);
        for (std::uint64_t& id : ids)
            id = resolver.Start("localhost", me, kDone);
    }
    // Another requester's, held until that thread has ended.
    std::uint64_t other = 0;
    CEvent ended(true);
    std::thread requester([&] {
        other = resolver.Start("localhost", GetCurrentThreadId(), kDone,
                               [&] { return ended.Wait(10000) == WAIT_OBJECT_0 ? 0 : 1; });
    });
    requester.join();
    ended.Set();
    ASSERT_EQ(Completions(5).size(), 5u);
    int error = -1;
    HostLookup lookup;
    ASSERT_TRUE(resolver.TakeResult(ids[0], &error, &lookup));
    EXPECT_TRUE(resolver.Cancel(ids[1]));

    // The rest of this thread's, not the other thread's (dropped: that thread has ended).
    std::vector<CAsyncResolver::FinishedLookup> finished;
    resolver.TakeFinished(me, &finished);
    ASSERT_EQ(finished.size(), 3u);
    std::vector<std::uint64_t> taken;
    for (const CAsyncResolver::FinishedLookup& result : finished) {
        taken.push_back(result.id);
        EXPECT_EQ(result.error, 0);
    }
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(taken, (std::vector<std::uint64_t>{ids[2], ids[3], ids[4]}));
    EXPECT_FALSE(resolver.TakeResult(ids[2], &error, &lookup));
    finished.clear();
    resolver.TakeFinished(me, &finished);
    EXPECT_TRUE(finished.empty());
    for (int i = 0; i < 500 && resolver.GetRequestCount() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(resolver.GetRequestCount(), 0u);
    EXPECT_NE(other, 0u);
}

TEST(AsyncResolverTest, OncePerTakeRequestsWakeTheRequesterOncePerTakeAndGoWithAnEndedOne) {
    CAsyncResolver resolver(4, 16);
    const DWORD me = GetCurrentThreadId();
    std::vector<std::uint64_t> ids;
    for (int i = 0; i < 6; ++i)
        ids.push_back(resolver.Start("localhost", me, kDone, {}, CAsyncResolver::Notice::oncePerTake));
    // Each message carries the id of a finished request and stands for all that finished
    // before the take that follows it: never more messages than takes, none left over.
    std::vector<std::uint64_t> taken;
    int messages = 0;
    int takes = 0;
    ThreadMessage msg;
    while (taken.size() < ids.size() && GetMessageTimeout(msg, 5000) == WAIT_OBJECT_0) {
        ASSERT_EQ(msg.message, kDone);
        EXPECT_NE(std::find(ids.begin(), ids.end(), msg.wParam), ids.end());
        ++messages;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let more finish meanwhile
        std::vector<CAsyncResolver::FinishedLookup> finished;
        resolver.TakeFinished(me, &finished);
        ++takes;
        for (const CAsyncResolver::FinishedLookup& result : finished)
            taken.push_back(result.id);
    }
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(taken, ids);
    EXPECT_EQ(messages, takes);
    EXPECT_FALSE(PeekMessage(msg, false));

    // A requester that has ended by the time its lookups finish leaves nothing behind.
    CEvent release(true);
    std::thread requester([&] {
        const auto held = [&] { return release.Wait(10000) == WAIT_OBJECT_0 ? 0 : 1; };
        for (int i = 0; i < 4; ++i)
            resolver.Start("localhost", GetCurrentThreadId(), kDone, held,
                           CAsyncResolver::Notice::oncePerTake);
    });
    requester.join();
    release.Set();
    for (int i = 0; i < 500 && resolver.GetRequestCount() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(resolver.GetRequestCount(), 0u);
}

namespace {

// A resolver whose lookups of names beginning "hang" stay inside the lookup (as the system
// resolver does while the name servers do not answer) until released; other names are found
// at 10.0.0.1 at once. Names of its hosts file ("listed.test") take no client's share.
struct HangingLookups {
    static constexpr auto kDeadline = std::chrono::milliseconds(400);
    TempDir dir;
    CHostsFile hosts{WriteHosts(dir.Path() + "/hosts")};
    CEvent release{true, false};
    std::atomic<int> inside{0};
    std::atomic<int> most{0};  // the most lookups inside at once

    CAsyncResolver::Limits Limits() {
        CAsyncResolver::Limits limits;
        limits.threads = 4;
        limits.requests = 32;
        limits.clientThreads = 2;
        limits.clientRequests = 4;
        limits.deadline = kDeadline;
        limits.hostsFile = &hosts;
        limits.lookup = [this](const std::string& host, HostLookup* lookup) {
            if (host.rfind("hang", 0) == 0) {
                const int now = ++inside;
                for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
                }
                release.Wait(20000);
                --inside;
                WSASetLastError(WSAHOST_NOT_FOUND);
                return false;
            }
            lookup->officialName = host;
            lookup->addresses = {0x0A000001};
            return true;
        };
        return limits;
    }

    static std::string WriteHosts(const std::string& path) {
        std::ofstream(path) << "10.0.0.2 listed.test\n";
        return path;
    }
};

}  // namespace

TEST(AsyncResolverTest, LookupsTheNetworkHoldsUpTimeOutAndTakeOnlyTheirClientsShare) {
    HangingLookups hanging;
    CAsyncResolver resolver(hanging.Limits());
    const DWORD me = GetCurrentThreadId();
    std::mutex mutex;
    std::map<std::uint64_t, int> finishes;  // id to the error its finish saw, on other threads
    std::atomic<std::uint64_t> finishing{0};
    const auto start = [&](const std::string& name, std::uint32_t client) {
        const std::uint64_t id = ++finishing;  // ids count from 1 in the order started
        return resolver.Start(name, me, kDone, {}, CAsyncResolver::Notice::eachRequest,
                              [&, id](int error, const HostLookup&) {
                                  EXPECT_NE(GetCurrentThreadId(), me);
                                  std::lock_guard<std::mutex> lock(mutex);
                                  finishes[id] = error;
                              },
                              client);
    };
    const auto began = std::chrono::steady_clock::now();

    // Client 1's lookups hang: two take its two threads, two wait, a fifth is refused.
    std::vector<std::uint64_t> hung;
    for (int i = 0; i < 4; ++i)
        hung.push_back(start("hang" + std::to_string(i), 1));
    EXPECT_EQ(start("hang4", 1), 0u);
    EXPECT_EQ(WSAGetLastError(), WSAENOBUFS);
    --finishing;
    // Client 2 and a name of the hosts file (client 1's) go ahead on the threads left.
    const std::uint64_t other = start("other.test", 2);
    const std::uint64_t listed = start("listed.test", 1);
    auto done = Completions(2);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(CAsyncResolver::ReplyError(done.at(other)), 0);  // found, not timed out
    EXPECT_EQ(CAsyncResolver::ReplyError(done.at(listed)), 0);

    // At the deadline all four are done as timed out, the two inside their lookups too.
    done = Completions(4);
    ASSERT_EQ(done.size(), 4u);
    EXPECT_GE(std::chrono::steady_clock::now() - began, HangingLookups::kDeadline);
    for (std::uint64_t id : hung) {
        EXPECT_EQ(CAsyncResolver::ReplyError(done.at(id)), CAsyncResolver::kTimedOut);
        int error = 0;
        HostLookup lookup;
        ASSERT_TRUE(resolver.TakeResult(id, &error, &lookup));
        EXPECT_EQ(error, CAsyncResolver::kTimedOut);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(finishes.size(), 6u);
        for (std::uint64_t id = 1; id <= 4; ++id)
            EXPECT_EQ(finishes[id], CAsyncResolver::kTimedOut);
    }
    EXPECT_EQ(hanging.most.load(), 2);

    // Its share of requests is free again, while its threads are still held: a new request
    // waits, and a cancelled one is forgotten.
    const std::uint64_t again = start("again.test", 1);
    const std::uint64_t dropped = start("dropped.test", 1);
    EXPECT_TRUE(resolver.Cancel(dropped));
    hanging.release.Set();
    done = Completions(2, 1000);
    ASSERT_EQ(done.size(), 1u);  // the hung lookups' own outcomes go to nobody
    EXPECT_EQ(CAsyncResolver::ReplyError(done.at(again)), 0);
    EXPECT_LE(resolver.GetThreadCount(), 4u);
    int error = 0;
    HostLookup lookup;
    ASSERT_TRUE(resolver.TakeResult(again, &error, &lookup));
    ASSERT_TRUE(resolver.TakeResult(other, &error, &lookup));
    ASSERT_TRUE(resolver.TakeResult(listed, &error, &lookup));
    EXPECT_EQ(resolver.GetRequestCount(), 0u);
}

TEST(AsyncResolverTest, ARequestPastItsDeadlineWhilePreparedOrCancelledInsideItsLookupGetsNoLookupOutcome) {
    HangingLookups hanging;
    CAsyncResolver resolver(hanging.Limits());
    const DWORD me = GetCurrentThreadId();
    // Prepared past its deadline (a slow dial, say): done as timed out once the preparation is
    // over, without a lookup.
    CEvent prepared{true, false};
    const std::uint64_t slow = resolver.Start("found.test", me, kDone, [&] {
        prepared.Wait(20000);
        return 0;
    });
    // Started after it, inside its lookup at its own deadline: done by then, and so due after
    // the first.
    const std::uint64_t later = resolver.Start("hang2.test", me, kDone, {},
                                               CAsyncResolver::Notice::eachRequest, {}, 3);
    // Cancelled inside its lookup: nothing comes, and its hooks go at once.
    std::atomic<bool> finished{false};
    auto held = std::make_shared<int>(0);
    const std::uint64_t cancelled = resolver.Start(
        "hang.test", me, kDone, [held] { return 0; }, CAsyncResolver::Notice::eachRequest,
        [&](int, const HostLookup&) { finished = true; }, 2);
    ASSERT_TRUE(WaitFor([&] { return hanging.inside == 2; }));
    EXPECT_TRUE(resolver.Cancel(cancelled));
    EXPECT_EQ(held.use_count(), 1);
    EXPECT_FALSE(resolver.Cancel(cancelled));

    auto done = Completions(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(CAsyncResolver::ReplyError(done.at(later)), CAsyncResolver::kTimedOut);
    prepared.Set();
    done = Completions(2, 1000);
    ASSERT_EQ(done.size(), 1u);  // nothing of the cancelled one
    EXPECT_EQ(CAsyncResolver::ReplyError(done.at(slow)), CAsyncResolver::kTimedOut);
    int error = 0;
    HostLookup lookup;
    ASSERT_TRUE(resolver.TakeResult(slow, &error, &lookup));
    EXPECT_TRUE(lookup.addresses.empty());
    ASSERT_TRUE(resolver.TakeResult(later, &error, &lookup));
    hanging.release.Set();
    ASSERT_TRUE(WaitFor([&] { return hanging.inside == 0; }));
    EXPECT_FALSE(finished.load());
    EXPECT_EQ(resolver.GetRequestCount(), 0u);
}
