#include "platform/kernel/Clock.h"
#include "platform/kernel/Thread.h"
#include "support/SocketTestKit.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Records every message it handles; throws on message WM_USER + 99.
class RecordingThread : public CThread {
public:
    std::mutex mutex;
    std::vector<ThreadMessage> seen;
    std::atomic<int> exceptions{0};
    CEvent handled{false, false};

protected:
    void OnThreadMessage(const ThreadMessage& msg) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            seen.push_back(msg);
        }
        handled.Set();
        if (msg.message == WM_USER + 99)
            throw std::runtime_error("handler failure");
    }
    void OnMessageException() override { ++exceptions; }
};

TEST(ThreadTest, MessagesArriveInPostOrderAndQuitCarriesTheExitCode) {
    RecordingThread thread;
    // The queue exists before the thread starts: these are kept, not lost.
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(thread.PostThreadMessage(WM_USER + 1, i, -i));
    ASSERT_TRUE(thread.CreateThread());
    ASSERT_TRUE(thread.PostThreadMessage(WM_QUIT, 42, 0));
    ASSERT_EQ(thread.WaitForExit(5000), WAIT_OBJECT_0);
    EXPECT_EQ(thread.ExitCode(), 42);
    ASSERT_EQ(thread.seen.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(thread.seen[i].wParam, static_cast<std::uintptr_t>(i));
        EXPECT_EQ(thread.seen[i].lParam, -i);
    }
}

TEST(ThreadTest, PostToAnEndedThreadFailsWithInvalidThreadId) {
    RecordingThread thread;
    ASSERT_TRUE(thread.CreateThread());
    DWORD id = thread.ThreadId();
    ASSERT_TRUE(PostThreadMessage(id, WM_QUIT, 0, 0));
    ASSERT_EQ(thread.WaitForExit(5000), WAIT_OBJECT_0);
    SetLastError(0);
    EXPECT_FALSE(PostThreadMessage(id, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    // Ids are never handed out again: a new thread cannot receive the old thread's mail.
    RecordingThread next;
    EXPECT_NE(next.ThreadId(), id);
    EXPECT_FALSE(PostThreadMessage(0, WM_USER, 0, 0));
}

// Looks at what it starts with, then leaves a last error and an unread message behind.
class LeftoverThread : public CThread {
public:
    DWORD errorAtStart = 0xFFFFFFFF;
    DWORD idSeen = 0;
    bool messageWaiting = true;
    std::thread::id systemThread;

protected:
    bool InitInstance() override {
        errorAtStart = GetLastError();
        idSeen = GetCurrentThreadId();
        ThreadMessage msg;
        messageWaiting = PeekMessage(msg, false);
        systemThread = std::this_thread::get_id();
        SetLastError(1234);
        ::PostThreadMessage(GetCurrentThreadId(), WM_USER, 0, 0);
        return false;
    }
};

TEST(ThreadTest, ReusedSystemThreadsStartEachThreadWithItsOwnIdEmptyQueueAndNoError) {
    constexpr int kRuns = 20;
    std::vector<DWORD> ids;
    std::vector<std::thread::id> systemThreads;
    for (int i = 0; i < kRuns; ++i) {
        Sleep(50);  // time for the last system thread to park (it stays parked for seconds)
        LeftoverThread thread;
        ASSERT_TRUE(thread.CreateThread());
        ASSERT_EQ(thread.WaitForExit(5000), WAIT_OBJECT_0);
        EXPECT_EQ(thread.errorAtStart, 0u);
        EXPECT_EQ(thread.idSeen, thread.ThreadId());
        EXPECT_FALSE(thread.messageWaiting);
        for (DWORD earlier : ids)
            EXPECT_NE(thread.ThreadId(), earlier);
        ids.push_back(thread.ThreadId());
        if (std::find(systemThreads.begin(), systemThreads.end(), thread.systemThread) ==
            systemThreads.end())
            systemThreads.push_back(thread.systemThread);
    }
    EXPECT_LT(systemThreads.size(), static_cast<std::size_t>(kRuns));  // reuse did happen
}

TEST(ThreadTest, AThrowingHandlerDoesNotEndTheLoop) {
    RecordingThread thread;
    ASSERT_TRUE(thread.CreateThread());
    thread.PostThreadMessage(WM_USER + 99, 0, 0);
    thread.PostThreadMessage(WM_USER + 2, 7, 0);
    thread.PostThreadMessage(WM_QUIT, 3, 0);
    ASSERT_EQ(thread.WaitForExit(5000), WAIT_OBJECT_0);
    EXPECT_EQ(thread.exceptions, 1);
    ASSERT_EQ(thread.seen.size(), 2u);
    EXPECT_EQ(thread.seen[1].message, WM_USER + 2u);
    EXPECT_EQ(thread.ExitCode(), 3);
}

TEST(ThreadTest, InitInstanceFalseSkipsTheLoop) {
    struct Refusing : RecordingThread {
        bool InitInstance() override { return false; }
        int ExitInstance() override { return 17; }
    } thread;
    thread.PostThreadMessage(WM_USER, 0, 0);
    ASSERT_TRUE(thread.CreateThread());
    ASSERT_EQ(thread.WaitForExit(5000), WAIT_OBJECT_0);
    EXPECT_EQ(thread.ExitCode(), 17);
    EXPECT_TRUE(thread.seen.empty());
    EXPECT_FALSE(thread.CreateThread());
}

TEST(ThreadTest, AutoDeleteThreadDeletesItselfAfterItsLoop) {
    static std::atomic<int> destroyed{0};
    struct SelfDeleting : CThread {
        ~SelfDeleting() override { ++destroyed; }
    };
    auto* thread = new SelfDeleting;
    thread->m_bAutoDelete = true;
    auto ended = thread->EndedEvent();
    DWORD id = thread->ThreadId();
    ASSERT_TRUE(thread->CreateThread());
    PostThreadMessage(id, WM_QUIT, 0, 0);
    ASSERT_EQ(ended->Wait(5000), WAIT_OBJECT_0);
    EXPECT_EQ(destroyed, 1);
}

TEST(ThreadTest, AutoDeleteGivesTheObjectUpThroughDeleteOnItsOwnThreadAfterItsQueueClosed) {
    // A shared object: the thread gives up its own reference, the test keeps another.
    struct Shared : CThread {
        std::atomic<int> references{2};
        std::atomic<bool> exited{false};
        std::atomic<bool> deleteSawExit{false};
        std::atomic<bool> deleteOnOwnThread{false};
        std::atomic<bool> postFailedInDelete{false};
        int ExitInstance() override {
            exited = true;
            return 5;
        }
        void Delete() override {
            deleteSawExit = exited.load();
            deleteOnOwnThread = GetCurrentThreadId() == ThreadId();
            postFailedInDelete = !PostThreadMessage(WM_USER, 0, 0);
            if (--references == 0)
                delete this;
        }
    };
    auto* thread = new Shared;
    thread->m_bAutoDelete = true;
    auto ended = thread->EndedEvent();
    ASSERT_TRUE(thread->CreateThread());
    thread->PostThreadMessage(WM_QUIT, 0, 0);
    ASSERT_EQ(ended->Wait(5000), WAIT_OBJECT_0);
    EXPECT_TRUE(thread->deleteSawExit);
    EXPECT_TRUE(thread->deleteOnOwnThread);
    EXPECT_TRUE(thread->postFailedInDelete);
    EXPECT_EQ(thread->ExitCode(), 5);
    ASSERT_EQ(--thread->references, 0);
    delete thread;  // the last holder; the thread has ended, so nothing waits
}

TEST(ThreadTest, PlainThreadsGetAQueueOnFirstUseAndLoseItWhenTheyEnd) {
    std::atomic<DWORD> id{0};
    std::atomic<int> got{0};
    std::thread worker([&] {
        id = GetCurrentThreadId();
        ThreadMessage msg;
        while (GetMessage(msg))
            got = static_cast<int>(msg.wParam);
    });
    while (id == 0)
        Sleep(1);
    ASSERT_TRUE(PostThreadMessage(id, WM_USER, 5, 0));
    ASSERT_TRUE(PostThreadMessage(id, WM_QUIT, 0, 0));
    worker.join();
    EXPECT_EQ(got, 5);
    EXPECT_FALSE(PostThreadMessage(id, WM_USER, 0, 0));
}

TEST(ThreadTest, GetMessageTimeoutTimesOutOnAnEmptyQueue) {
    ThreadMessage msg;
    std::uint64_t start = GetTickCount64();
    EXPECT_EQ(GetMessageTimeout(msg, 50), WAIT_TIMEOUT);
    EXPECT_GE(GetTickCount64() - start, 45u);
    PostThreadMessage(GetCurrentThreadId(), WM_USER + 3, 1, 2);
    ASSERT_EQ(GetMessageTimeout(msg, 50), WAIT_OBJECT_0);
    EXPECT_EQ(msg.message, WM_USER + 3u);
    EXPECT_FALSE(PeekMessage(msg, true));
}

TEST(ThreadTest, AQueueWaiterSleepsInsteadOfTheQueueAndIsWokenOnlyByOtherThreads) {
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(wakeFd, 0);
    std::vector<DWORD> timeouts;
    int signalled = 0;
    bool postOwnWork = false;
    std::atomic<bool> waiting{false};  // the other thread posts only once the waiter waits
    InstallQueueWaiter([&](DWORD timeoutMs) {
        timeouts.push_back(timeoutMs);
        waiting = true;
        if (postOwnWork) {
            postOwnWork = false;
            PostThreadMessage(GetCurrentThreadId(), WM_USER + 7, 0, 0);
            return;
        }
        pollfd p{wakeFd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs == INFINITE ? -1 : static_cast<int>(timeoutMs)) > 0) {
            std::uint64_t count = 0;
            ASSERT_EQ(read(wakeFd, &count, sizeof count), static_cast<ssize_t>(sizeof count));
            ++signalled;
        }
    }, wakeFd);
    struct Removal {
        int fd;
        ~Removal() {  // also when an assertion ends the test early
            RemoveQueueWaiter();
            close(fd);
        }
    } removal{wakeFd};
    ThreadMessage msg;

    // Another thread's post wakes the waiter; the thread's own work posts without a wake.
    std::thread poster([target = GetCurrentThreadId(), &waiting] {
        while (!waiting)
            Sleep(1);
        PostThreadMessage(target, WM_USER + 5, 1, 0);
    });
    ASSERT_EQ(GetMessageTimeout(msg, 5000), WAIT_OBJECT_0);
    poster.join();
    EXPECT_EQ(msg.message, WM_USER + 5u);
    EXPECT_EQ(signalled, 1);
    ASSERT_FALSE(timeouts.empty());
    EXPECT_LE(timeouts.front(), 5000u);
    postOwnWork = true;
    ASSERT_TRUE(GetMessage(msg));
    EXPECT_EQ(msg.message, WM_USER + 7u);
    EXPECT_EQ(timeouts.back(), INFINITE);
    pollfd p{wakeFd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);  // nothing signalled for a post of the thread's own

    // A timer's due time bounds the waiter's sleep.
    const DWORD timer = SetTimer(40);
    ASSERT_EQ(GetMessageTimeout(msg, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_LE(timeouts.back(), 40u);
    KillTimer(timer);

    RemoveQueueWaiter();
    const std::size_t calls = timeouts.size();
    EXPECT_EQ(GetMessageTimeout(msg, 20), WAIT_TIMEOUT);
    EXPECT_EQ(timeouts.size(), calls);
}

TEST(ThreadTest, QueueRefusesPostsBeyondItsBound) {
    RecordingThread thread;  // never started: nothing drains it
    std::size_t accepted = 0;
    while (thread.PostThreadMessage(WM_USER, 0, 0) && accepted <= kMaxQueuedMessages)
        ++accepted;
    EXPECT_EQ(accepted, kMaxQueuedMessages);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
}

TEST(ThreadTest, PostOnceKeepsOneWaitingMessagePerNumberAndWParam) {
    const DWORD self = GetCurrentThreadId();
    ASSERT_TRUE(PostThreadMessageOnce(self, WM_USER + 3, 7, 1));
    ASSERT_TRUE(PostThreadMessageOnce(self, WM_USER + 3, 7, 2));  // folded into the first
    ASSERT_TRUE(PostThreadMessageOnce(self, WM_USER + 3, 8, 3));  // another wParam
    ASSERT_TRUE(PostThreadMessageOnce(self, WM_USER + 4, 7, 4));  // another number
    ThreadMessage msg;
    std::vector<std::pair<UINT, std::intptr_t>> got;
    while (PeekMessage(msg, true))
        got.push_back({msg.message, msg.lParam});
    EXPECT_EQ(got, (std::vector<std::pair<UINT, std::intptr_t>>{
                       {WM_USER + 3, 1}, {WM_USER + 3, 3}, {WM_USER + 4, 4}}));
    // Once taken, the same notice may be posted again.
    ASSERT_TRUE(PostThreadMessageOnce(self, WM_USER + 3, 7, 5));
    ASSERT_TRUE(PeekMessage(msg, true));
    EXPECT_EQ(msg.lParam, 5);
}

TEST(ThreadTest, WithdrawRemovesOnlyTheMatchingWaitingMessages) {
    const DWORD self = GetCurrentThreadId();
    PostThreadMessage(self, WM_USER + 2, 5, 0);
    PostThreadMessage(self, WM_USER + 3, 5, 0);
    PostThreadMessage(self, WM_USER + 3, 6, 0);
    PostThreadMessage(self, WM_USER + 6, 5, 0);
    EXPECT_EQ(WithdrawThreadMessages(self, WM_USER + 2, WM_USER + 5, 5), 2u);
    ThreadMessage msg;
    std::vector<std::pair<UINT, std::uintptr_t>> left;
    while (PeekMessage(msg, true))
        left.push_back({msg.message, msg.wParam});
    EXPECT_EQ(left, (std::vector<std::pair<UINT, std::uintptr_t>>{{WM_USER + 3, 6},
                                                                   {WM_USER + 6, 5}}));
    EXPECT_EQ(WithdrawThreadMessages(0xFFFFFFF0u, WM_USER, WM_USER + 9, 5), 0u);
}

TEST(ThreadTest, PostedCallsRunInsideQueueReadsInOrderAndAreNeverReturned) {
    RecordingThread thread;
    std::vector<int> order;  // touched only on the thread, read after it ended
    std::thread::id ranOn;
    ASSERT_TRUE(thread.PostThreadMessage(WM_USER + 1, 1, 0));
    ASSERT_TRUE(PostThreadCall(thread.ThreadId(), [&] {
        order.push_back(2);
        ranOn = std::this_thread::get_id();
        throw std::runtime_error("swallowed");
    }));
    ASSERT_TRUE(thread.PostThreadMessage(WM_USER + 1, 3, 0));
    ASSERT_TRUE(PostThreadCall(thread.ThreadId(), [&] { order.push_back(4); }));
    ASSERT_TRUE(thread.PostThreadMessage(WM_QUIT, 0, 0));
    ASSERT_TRUE(thread.CreateThread());
    ASSERT_EQ(thread.WaitForExit(5000), WAIT_OBJECT_0);
    ASSERT_EQ(thread.seen.size(), 2u);  // the calls never reached the handler
    EXPECT_EQ(thread.seen[0].wParam, 1u);
    EXPECT_EQ(thread.seen[1].wParam, 3u);
    EXPECT_EQ(order, (std::vector<int>{2, 4}));
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_EQ(thread.exceptions, 0);
}

TEST(ThreadTest, CallsToAnEndedThreadFailAndWaitingCallsAreDestroyedUnrun) {
    auto token = std::make_shared<int>(0);
    bool ran = false;
    {
        RecordingThread thread;
        ASSERT_TRUE(thread.CreateThread());
        // The thread reads WM_QUIT first and ends with the call still waiting.
        ASSERT_TRUE(thread.PostThreadMessage(WM_QUIT, 0, 0));
        ASSERT_EQ(thread.WaitForExit(5000), WAIT_OBJECT_0);
        SetLastError(0);
        EXPECT_FALSE(PostThreadCall(thread.ThreadId(), [token, &ran] { ran = true; }));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    }
    EXPECT_EQ(token.use_count(), 1);  // the refused call let go of what it held
    RecordingThread late;
    ASSERT_TRUE(PostThreadCall(late.ThreadId(), [token, &ran] { ran = true; }));
    ASSERT_TRUE(late.PostThreadMessage(WM_QUIT, 0, 0));
    // Quit is read before the call can run: destroying the queue drops the call.
    PostThreadCall(late.ThreadId(), [token, &ran] { ran = true; });
    ASSERT_TRUE(late.CreateThread());
    ASSERT_EQ(late.WaitForExit(5000), WAIT_OBJECT_0);
    EXPECT_TRUE(ran);  // the first call ran before WM_QUIT
    EXPECT_TRUE(WaitUntil([&] { return token.use_count() == 1; }));
}

TEST(TimerTest, ALateReaderSeesOneTimerMessageNotABacklog) {
    std::atomic<DWORD> id{0};
    std::atomic<DWORD> timer{0};
    CEvent slept, posted;
    int timerMessages = 0;
    std::thread worker([&] {
        id = GetCurrentThreadId();
        timer = SetTimer(10);
        Sleep(200);  // twenty periods pass unread
        slept.Set();
        posted.Wait(INFINITE);
        ThreadMessage msg;
        while (GetMessage(msg))
            if (msg.message == WM_TIMER && msg.wParam == timer)
                ++timerMessages;
    });
    // Posted after the timer fell due but before the reader looks: the single WM_TIMER comes
    // first, then the quit.
    slept.Wait(INFINITE);
    PostThreadMessage(id, WM_QUIT, 0, 0);
    posted.Set();
    worker.join();
    EXPECT_EQ(timerMessages, 1);
}

TEST(TimerTest, TimersFireRepeatedlyAndCanBeKilledFromAnotherThread) {
    RecordingThread thread;
    ASSERT_TRUE(thread.CreateThread());
    DWORD timer = SetThreadTimer(thread.ThreadId(), 20);
    ASSERT_NE(timer, 0u);
    auto countTimers = [&] {
        std::lock_guard<std::mutex> lock(thread.mutex);
        int n = 0;
        for (auto& m : thread.seen)
            n += (m.message == WM_TIMER && m.wParam == timer);
        return n;
    };
    EXPECT_TRUE(WaitUntil([&] { return countTimers() >= 3; }));
    EXPECT_TRUE(KillTimer(timer));
    EXPECT_FALSE(KillTimer(timer));
    // Whatever was queued before the kill is handled before this marker.
    thread.PostThreadMessage(WM_USER + 4, 0, 0);
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(thread.mutex);
        return !thread.seen.empty() && thread.seen.back().message == WM_USER + 4u;
    }));
    int after = countTimers();
    Sleep(100);
    EXPECT_EQ(countTimers(), after);
    thread.PostThreadMessage(WM_QUIT, 0, 0);
    thread.WaitForExit(5000);
    EXPECT_EQ(SetThreadTimer(thread.ThreadId(), 10), 0u);
}

TEST(TimerTest, TwoTimersOnOneThreadHaveDistinctIds) {
    DWORD a = SetTimer(1000), b = SetTimer(1000);
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_TRUE(KillTimer(a));
    EXPECT_TRUE(KillTimer(b));
}

}  // namespace
