#include "platform/kernel/Thread.h"

#include "platform/kernel/Clock.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

class MessageQueue {
public:
    explicit MessageQueue(DWORD id) : m_id(id) {}

    DWORD Id() const { return m_id; }

    DWORD Post(const ThreadMessage& msg) { return Add({msg, 0, {}}, false); }

    // Adds `msg` unless a message with the same number and wParam is still waiting.
    DWORD PostOnce(const ThreadMessage& msg) { return Add({msg, 0, {}}, true); }

    // A refused call is destroyed with Add's argument, after our lock is released.
    DWORD PostCall(std::function<void()> call) { return Add({{}, 0, std::move(call)}, false); }

    std::size_t Withdraw(UINT first, UINT last, std::uintptr_t wParam) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::size_t count = 0;
        for (auto it = m_queue.begin(); it != m_queue.end();) {
            if (!it->call && it->msg.message >= first && it->msg.message <= last &&
                it->msg.wParam == wParam) {
                it = m_queue.erase(it);
                ++count;
            } else {
                ++it;
            }
        }
        return count;
    }

    // Fills `msg` with the next message or due timer, waiting up to `timeoutMs`.
    bool Receive(ThreadMessage& msg, DWORD timeoutMs, bool remove) {
        const std::uint64_t start = GetTickCount64();
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            const std::uint64_t now = GetTickCount64();
            Timer* timer = nullptr;
            for (Timer& t : m_timers)
                if (!timer || t.due < timer->due)
                    timer = &t;
            if (timer && timer->due <= now &&
                (m_queue.empty() || timer->due <= m_queue.front().postedAt)) {
                msg = {WM_TIMER, timer->id, 0};
                if (remove)
                    timer->due = now + std::max<DWORD>(timer->period, 1);
                return true;
            }
            if (!m_queue.empty()) {
                if (m_queue.front().call) {
                    // A posted call runs here, on the reading thread, without our lock, and
                    // is taken whether or not the reader removes messages.
                    std::function<void()> call = std::move(m_queue.front().call);
                    m_queue.pop_front();
                    lock.unlock();
                    try {
                        call();
                    } catch (...) {
                    }
                    call = nullptr;
                    lock.lock();
                    continue;
                }
                msg = m_queue.front().msg;
                if (remove)
                    m_queue.pop_front();
                return true;
            }
            std::uint64_t wakeAt = UINT64_MAX;
            if (timeoutMs != INFINITE) {
                wakeAt = start + timeoutMs;
                if (now >= wakeAt)
                    return false;
            }
            if (timer)
                wakeAt = std::min(wakeAt, timer->due);
            if (m_waiter) {
                // The waiter runs without our lock: posts meanwhile signal the wake descriptor.
                auto waiter = m_waiter;
                m_waiting = true;
                lock.unlock();
                (*waiter)(wakeAt == UINT64_MAX ? INFINITE
                                            : static_cast<DWORD>(std::min<std::uint64_t>(
                                                  wakeAt - now, INFINITE - 1)));
                lock.lock();
                m_waiting = false;
                m_wakeSignalled = false;
                continue;
            }
            if (wakeAt == UINT64_MAX)
                m_cv.wait(lock);
            else
                m_cv.wait_for(lock, std::chrono::milliseconds(wakeAt - now));
        }
    }

    void Close() {
        std::deque<Entry> dropped;  // calls among them are destroyed after the lock is released
        std::shared_ptr<std::function<void(DWORD)>> waiter;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        dropped.swap(m_queue);
        m_timers.clear();
        waiter.swap(m_waiter);
    }

    void InstallWaiter(std::function<void(DWORD)> wait, int wakeFd) {
        auto waiter = std::make_shared<std::function<void(DWORD)>>(std::move(wait));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waiter.swap(waiter);
        m_wakeFd = wakeFd;
    }

    void RemoveWaiter() {
        std::shared_ptr<std::function<void(DWORD)>> waiter;  // destroyed after the lock
        std::lock_guard<std::mutex> lock(m_mutex);
        waiter.swap(m_waiter);
    }

    bool AddTimer(DWORD id, DWORD periodMs) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            return false;
        m_timers.push_back({id, periodMs, GetTickCount64() + std::max<DWORD>(periodMs, 1)});
        if (m_waiter && m_waiting && !IsOwnThread()) {
            // The waiter's deadline was taken without this timer.
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = write(m_wakeFd, &one, sizeof one);
            m_wakeSignalled = true;
        } else {
            m_cv.notify_one();
        }
        return true;
    }

    bool RemoveTimer(DWORD id) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_timers.begin(), m_timers.end(),
                               [id](const Timer& t) { return t.id == id; });
        if (it == m_timers.end())
            return false;
        m_timers.erase(it);
        return true;
    }

private:
    struct Entry {
        ThreadMessage msg;
        std::uint64_t postedAt;
        std::function<void()> call;  // set for a posted call, which carries no message
    };

    DWORD Add(Entry entry, bool once) {
        std::shared_ptr<std::function<void(DWORD)>> waker;
        int wakeFd = -1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_closed)
                return ERROR_INVALID_THREAD_ID;
            if (once) {
                for (const Entry& waiting : m_queue)
                    if (!waiting.call && waiting.msg.message == entry.msg.message &&
                        waiting.msg.wParam == entry.msg.wParam)
                        return ERROR_SUCCESS;
            }
            if (m_queue.size() >= kMaxQueuedMessages)
                return ERROR_NOT_ENOUGH_QUOTA;
            entry.postedAt = GetTickCount64();
            m_queue.push_back(std::move(entry));
            if (m_waiter) {
                // A thread's posts to itself need no wake: it looks at its queue again as
                // soon as its waiter returns. One signal stands for every post until then.
                // The waiter is held until the signal is written: it keeps the descriptor open.
                if (m_waiting && !m_wakeSignalled && !IsOwnThread()) {
                    waker = m_waiter;
                    wakeFd = m_wakeFd;
                    m_wakeSignalled = true;
                }
                if (!waker)
                    return ERROR_SUCCESS;
            }
        }
        // Woken after the lock is released, so the reader does not wake into a held lock.
        // The poster keeps the queue alive (PostToQueue holds it) until this returns.
        if (waker) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = write(wakeFd, &one, sizeof one);
        } else {
            m_cv.notify_one();
        }
        return ERROR_SUCCESS;
    }

    bool IsOwnThread() const;

    struct Timer {
        DWORD id;
        DWORD period;
        std::uint64_t due;
    };

    const DWORD m_id;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Entry> m_queue;
    std::vector<Timer> m_timers;
    bool m_closed = false;
    // The waiter (InstallQueueWaiter) and its wake descriptor, which the waiter's owner keeps
    // open while the waiter lives; while it runs m_waiting is set, and m_wakeSignalled once a
    // post has signalled the descriptor.
    std::shared_ptr<std::function<void(DWORD)>> m_waiter;
    int m_wakeFd = -1;
    bool m_waiting = false;
    bool m_wakeSignalled = false;
};

// Thread ids and timer ids to their queues. Built on first use and never destroyed, so threads
// still running while static objects are torn down at exit find it intact.
struct QueueRegistry {
    std::mutex mutex;
    std::unordered_map<DWORD, std::shared_ptr<MessageQueue>> queues;
    std::unordered_map<DWORD, std::weak_ptr<MessageQueue>> timers;
    DWORD nextThreadId = 1;
    DWORD nextTimerId = 1;

    static QueueRegistry& Get() {
        static QueueRegistry* registry = new QueueRegistry;
        return *registry;
    }

    std::shared_ptr<MessageQueue> Create() {
        std::lock_guard<std::mutex> lock(mutex);
        DWORD id = nextThreadId++;
        if (nextThreadId == 0)
            nextThreadId = 1;
        auto queue = std::make_shared<MessageQueue>(id);
        queues.emplace(id, queue);
        return queue;
    }

    std::shared_ptr<MessageQueue> Find(DWORD id) {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = queues.find(id);
        return it == queues.end() ? nullptr : it->second;
    }

    void Remove(const std::shared_ptr<MessageQueue>& queue) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            queues.erase(queue->Id());
            for (auto it = timers.begin(); it != timers.end();) {
                auto owner = it->second.lock();
                if (!owner || owner == queue)
                    it = timers.erase(it);
                else
                    ++it;
            }
        }
        queue->Close();
    }

    DWORD AddTimer(const std::shared_ptr<MessageQueue>& queue, DWORD periodMs) {
        DWORD id;
        {
            std::lock_guard<std::mutex> lock(mutex);
            id = nextTimerId++;
            if (nextTimerId == 0)
                nextTimerId = 1;
            timers.emplace(id, queue);
        }
        if (!queue->AddTimer(id, periodMs)) {
            std::lock_guard<std::mutex> lock(mutex);
            timers.erase(id);
            return 0;
        }
        return id;
    }

    bool KillTimer(DWORD id) {
        std::shared_ptr<MessageQueue> queue;
        {
            std::lock_guard<std::mutex> lock(mutex);
            auto it = timers.find(id);
            if (it == timers.end())
                return false;
            queue = it->second.lock();
            timers.erase(it);
        }
        return queue && queue->RemoveTimer(id);
    }
};

// The calling thread's queue. A thread that is not a CThread gets one on first use; it is
// withdrawn when the thread ends.
struct QueueBinding {
    std::shared_ptr<MessageQueue> queue;
    bool owned = false;
    ~QueueBinding() {
        if (queue && owned)
            QueueRegistry::Get().Remove(queue);
    }
};
thread_local QueueBinding t_binding;
thread_local const void* t_currentThreadObject = nullptr;

// Functions that reset the per-thread values of other layers between two runs of one system
// thread. Never destroyed, like the registry.
std::vector<void (*)()>& ThreadStateResets() {
    static auto* resets = new std::vector<void (*)()>;
    return *resets;
}
std::mutex g_resetsMutex;

// System threads that have served a CThread wait here for the next one: creating a system
// thread for each CThread and ending it afterwards (its stack mapped, then freed with the TLB
// shootdowns that brings) costs more than a short session's own work. A parked thread that
// gets no work for a while ends; at most kMaxParked wait at once.
class ThreadPark {
public:
    static ThreadPark& Get() {
        static ThreadPark* park = new ThreadPark;
        return *park;
    }

    // Runs `job` on a parked system thread, or on a new one. Throws std::system_error when
    // no thread could be created.
    void Run(std::function<void()> job) {
        std::shared_ptr<Worker> worker;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_idle.empty()) {
                worker = std::move(m_idle.back());
                m_idle.pop_back();
            }
        }
        if (worker) {
            {
                std::lock_guard<std::mutex> lock(worker->mutex);
                worker->job = std::move(job);
            }
            worker->wake.notify_one();
            return;
        }
        auto fresh = std::make_shared<Worker>();
        fresh->job = std::move(job);
        std::thread(&ThreadPark::Serve, this, std::move(fresh)).detach();
    }

private:
    static constexpr std::size_t kMaxParked = 256;
    static constexpr auto kParkTime = std::chrono::seconds(2);

    // Each worker sleeps on a lock and condition of its own: the park's lock guards only the
    // list of idle workers, so a worker woken for a job never queues behind the others.
    struct Worker {
        std::mutex mutex;
        std::condition_variable wake;
        std::function<void()> job;  // set, under the worker's mutex, when work is handed over
    };

    // The next job of `self`, which has just been put on the idle list; none when it waited
    // kParkTime in vain (it is then off the list).
    std::function<void()> AwaitJob(const std::shared_ptr<Worker>& self) {
        std::unique_lock<std::mutex> own(self->mutex);
        if (!self->wake.wait_for(own, kParkTime, [&] { return bool(self->job); })) {
            own.unlock();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                auto it = std::find(m_idle.begin(), m_idle.end(), self);
                if (it != m_idle.end()) {
                    m_idle.erase(it);
                    return nullptr;
                }
            }
            // Taken off the list by Run just now: its job is on the way.
            own.lock();
            self->wake.wait(own, [&] { return bool(self->job); });
        }
        return std::exchange(self->job, nullptr);
    }

    void Serve(std::shared_ptr<Worker> self) {
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> own(self->mutex);
            job = std::exchange(self->job, nullptr);
        }
        while (job) {
            job();
            job = nullptr;
            ResetThreadState();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_idle.size() >= kMaxParked)
                    return;
                m_idle.push_back(self);
            }
            job = AwaitJob(self);
        }
    }

    static void ResetThreadState();

    std::mutex m_mutex;
    std::vector<std::shared_ptr<Worker>> m_idle;
};

MessageQueue& CurrentQueue() {
    if (!t_binding.queue) {
        t_binding.queue = QueueRegistry::Get().Create();
        t_binding.owned = true;
    }
    return *t_binding.queue;
}

bool MessageQueue::IsOwnThread() const { return t_binding.queue.get() == this; }

void ThreadPark::ResetThreadState() {
    t_binding.queue.reset();
    t_binding.owned = false;
    t_currentThreadObject = nullptr;
    SetLastError(ERROR_SUCCESS);
    errno = 0;
    std::vector<void (*)()> resets;
    {
        std::lock_guard<std::mutex> lock(g_resetsMutex);
        resets = ThreadStateResets();
    }
    for (void (*reset)() : resets)
        reset();
}

}  // namespace

void RegisterThreadStateReset(void (*reset)()) {
    std::lock_guard<std::mutex> lock(g_resetsMutex);
    ThreadStateResets().push_back(reset);
}

DWORD GetCurrentThreadId() { return CurrentQueue().Id(); }

namespace {

// Runs `op` on the queue of `threadId` and turns its error into the kernel's last error.
template <typename Op>
bool PostToQueue(DWORD threadId, Op op) {
    auto queue = QueueRegistry::Get().Find(threadId);
    DWORD error = queue ? op(*queue) : ERROR_INVALID_THREAD_ID;
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return false;
    }
    return true;
}

}  // namespace

bool PostThreadMessage(DWORD threadId, UINT message, std::uintptr_t wParam, std::intptr_t lParam) {
    return PostToQueue(threadId, [&](MessageQueue& q) { return q.Post({message, wParam, lParam}); });
}

bool PostThreadMessageOnce(DWORD threadId, UINT message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
    return PostToQueue(threadId,
                       [&](MessageQueue& q) { return q.PostOnce({message, wParam, lParam}); });
}

std::size_t WithdrawThreadMessages(DWORD threadId, UINT first, UINT last, std::uintptr_t wParam) {
    auto queue = QueueRegistry::Get().Find(threadId);
    return queue ? queue->Withdraw(first, last, wParam) : 0;
}

bool PostThreadCall(DWORD threadId, std::function<void()> call) {
    return PostToQueue(threadId, [&](MessageQueue& q) { return q.PostCall(std::move(call)); });
}

void PostQuitMessage(int exitCode) {
    CurrentQueue().Post({WM_QUIT, static_cast<std::uintptr_t>(exitCode), 0});
}

bool GetMessage(ThreadMessage& msg) {
    CurrentQueue().Receive(msg, INFINITE, true);
    return msg.message != WM_QUIT;
}

DWORD GetMessageTimeout(ThreadMessage& msg, DWORD timeoutMs) {
    return CurrentQueue().Receive(msg, timeoutMs, true) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

bool PeekMessage(ThreadMessage& msg, bool remove) { return CurrentQueue().Receive(msg, 0, remove); }

void InstallQueueWaiter(std::function<void(DWORD timeoutMs)> wait, int wakeFd) {
    CurrentQueue().InstallWaiter(std::move(wait), wakeFd);
}

void RemoveQueueWaiter() { CurrentQueue().RemoveWaiter(); }

DWORD SetThreadTimer(DWORD threadId, DWORD periodMs) {
    auto queue = QueueRegistry::Get().Find(threadId);
    if (!queue) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return 0;
    }
    return QueueRegistry::Get().AddTimer(queue, periodMs);
}

DWORD SetTimer(DWORD periodMs) { return SetThreadTimer(GetCurrentThreadId(), periodMs); }

bool KillTimer(DWORD timerId) { return QueueRegistry::Get().KillTimer(timerId); }

struct CThread::State {
    std::shared_ptr<MessageQueue> queue;
    std::shared_ptr<CEvent> ended = std::make_shared<CEvent>(true, false);
    std::atomic<bool> started{false};
    std::atomic<int> exitCode{0};

    State() : queue(QueueRegistry::Get().Create()) {}
};

CThread::CThread() : m_state(std::make_shared<State>()), m_nThreadID(m_state->queue->Id()) {}

CThread::~CThread() {
    // A thread object destroyed by another thread while its thread still runs would leave the
    // thread running on freed memory: wait for it instead.
    if (m_state->started && t_currentThreadObject != this)
        m_state->ended->Wait(INFINITE);
    QueueRegistry::Get().Remove(m_state->queue);
}

bool CThread::CreateThread() {
    if (m_state->started.exchange(true)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    try {
        ThreadPark::Get().Run([this, state = m_state] { Main(this, state); });
    } catch (const std::system_error&) {
        m_state->started = false;
        SetLastError(ERROR_OUTOFMEMORY);
        return false;
    }
    return true;
}

void CThread::Main(CThread* self, std::shared_ptr<State> state) {
    t_binding.queue = state->queue;
    t_binding.owned = false;
    t_currentThreadObject = self;
    int code = -1;
    try {
        code = self->InitInstance() ? self->Run() : self->ExitInstance();
    } catch (...) {
        code = -1;
    }
    QueueRegistry::Get().Remove(state->queue);
    state->exitCode = code;
    if (self->m_bAutoDelete)
        self->Delete();
    state->ended->Set();
}

bool CThread::PostThreadMessage(UINT message, std::uintptr_t wParam, std::intptr_t lParam) const {
    return ::PostThreadMessage(m_nThreadID, message, wParam, lParam);
}

DWORD CThread::WaitForExit(DWORD timeoutMs) const {
    if (!m_state->started)
        return WAIT_OBJECT_0;
    return m_state->ended->Wait(timeoutMs);
}

bool CThread::HasStarted() const { return m_state->started; }

bool CThread::HasEnded() const { return m_state->ended->IsSignalled(); }

int CThread::ExitCode() const { return m_state->exitCode; }

std::shared_ptr<CEvent> CThread::EndedEvent() const { return m_state->ended; }

int CThread::Run() {
    for (;;) {
        try {
            if (!PumpMessage())
                break;
        } catch (...) {
            OnMessageException();
        }
    }
    return ExitInstance();
}

int CThread::ExitInstance() { return static_cast<int>(m_msgCur.wParam); }

bool CThread::PumpMessage() {
    if (!::GetMessage(m_msgCur))
        return false;
    if (!PreTranslateMessage(m_msgCur))
        OnThreadMessage(m_msgCur);
    return true;
}
