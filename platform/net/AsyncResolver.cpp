#include "platform/net/AsyncResolver.h"

#include "platform/kernel/Clock.h"
#include "platform/kernel/Thread.h"
#include "platform/net/SocketErrors.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

namespace {

// How long a lookup thread waits before it posts again to a requester whose queue was full.
constexpr auto kFullQueueRetry = std::chrono::milliseconds(1);

// How long the watch lets requests wait while nobody takes one before it wakes a thread.
constexpr auto kStallTime = std::chrono::milliseconds(1);

// Records kept for later requests, at most: enough for a busy resolver's flow, without
// holding a flood's peak for ever.
constexpr std::size_t kMaxSpareRecords = 512;

// The calling thread's innermost batch of requests.
thread_local CAsyncResolver::Batch* t_batch = nullptr;

// Hooks made of two functions; they go with their request.
class CFunctionHooks final : public CAsyncResolver::Hooks {
public:
    CFunctionHooks(CAsyncResolver::Prepare prepare, CAsyncResolver::Finish finish)
        : m_prepare(std::move(prepare)), m_finish(std::move(finish)) {}
    int BeforeLookup() override { return m_prepare ? m_prepare() : 0; }
    void AfterLookup(int error, const HostLookup& lookup) override {
        if (m_finish)
            m_finish(error, lookup);
    }
    void ReleaseHooks() override { delete this; }

private:
    ~CFunctionHooks() = default;
    CAsyncResolver::Prepare m_prepare;
    CAsyncResolver::Finish m_finish;
};

// The resolver's own hooks for a request that has none.
class CNoHooks final : public CAsyncResolver::Hooks {
public:
    void ReleaseHooks() override {}
};
CNoHooks g_noHooks;

void ReleaseAll(const std::vector<CAsyncResolver::Hooks*>& hooks) {
    for (CAsyncResolver::Hooks* h : hooks)
        h->ReleaseHooks();
}

}  // namespace

void CAsyncResolver::List::PushBack(Request* request) {
    request->prev = tail;
    request->next = nullptr;
    (tail != nullptr ? tail->next : head) = request;
    tail = request;
}

void CAsyncResolver::List::Remove(Request* request) {
    (request->prev != nullptr ? request->prev->next : head) = request->next;
    (request->next != nullptr ? request->next->prev : tail) = request->prev;
    request->prev = request->next = nullptr;
}

CAsyncResolver::CAsyncResolver(std::size_t threads, std::size_t maxRequests)
    : m_maxThreads(std::max<std::size_t>(threads, 1)),
      m_maxRequests(std::max<std::size_t>(maxRequests, 1)) {}

CAsyncResolver::~CAsyncResolver() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        threads.swap(m_threads);
        if (m_watch.joinable())
            threads.push_back(std::move(m_watch));
        m_watchWake.notify_one();
        for (const std::shared_ptr<Sleeper>& sleeper : m_sleepers)
            sleeper->wake.notify_one();
        m_sleepers.clear();
    }
    // The running requests' records are their threads' until these have ended.
    for (std::thread& thread : threads)
        thread.join();
    std::vector<Hooks*> release;
    for (auto& [id, request] : m_requests) {
        if (request.hooks != nullptr)
            release.push_back(request.hooks);
    }
    ReleaseAll(release);
}

CAsyncResolver& CAsyncResolver::Instance() {
    static CAsyncResolver* const resolver = new CAsyncResolver();
    return *resolver;
}

std::intptr_t CAsyncResolver::MakeReply(std::size_t length, int error) {
    return static_cast<std::intptr_t>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) |
                                      static_cast<std::uint32_t>(std::min<std::size_t>(length, 0xFFFF)));
}

std::uint64_t CAsyncResolver::Start(const std::string& host, DWORD threadId, UINT message,
                                    Prepare prepare, Notice notice, Finish finish) {
    if (!prepare && !finish)
        return Start(host, threadId, message, g_noHooks, notice);
    auto* hooks = new CFunctionHooks(std::move(prepare), std::move(finish));
    const std::uint64_t id = Start(host, threadId, message, *hooks, notice);
    if (id == 0)
        hooks->ReleaseHooks();
    return id;
}

std::uint64_t CAsyncResolver::Start(const std::string& host, DWORD threadId, UINT message,
                                    Hooks& hooks, Notice notice) {
    if (host.empty()) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return 0;
    }
    std::shared_ptr<Sleeper> toWake;
    std::uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || m_requests.size() >= m_maxRequests) {
            WSASetLastError(WSAENOBUFS);
            return 0;
        }
        id = ++m_lastId;
        Request& request = AddRequest(id);
        request.host.assign(host);
        request.threadId = threadId;
        request.message = message;
        request.hooks = &hooks;
        request.notice = notice;
        m_queue.PushBack(&request);
        Batch* outermost = nullptr;
        for (Batch* batch = t_batch; batch != nullptr; batch = batch->m_outer) {
            if (&batch->m_resolver == this)
                outermost = batch;
        }
        if (outermost != nullptr && !m_threads.empty()) {
            outermost->m_wakeOwed = true;
            return id;
        }
        if (!WakeIfNobodyFree(&toWake) && m_threads.empty()) {
            // No thread could be made, and none is there to take it.
            m_queue.Remove(&request);
            request.hooks = nullptr;  // not taken: the caller keeps them
            Retire(request);
            WSASetLastError(WSAENOBUFS);
            return 0;
        }
    }
    Wake(toWake);
    return id;
}

CAsyncResolver::Request& CAsyncResolver::AddRequest(std::uint64_t id) {
    if (m_spare.empty()) {
        Request& request = m_requests.try_emplace(id).first->second;
        request.id = id;
        return request;
    }
    RequestMap::node_type node = std::move(m_spare.back());
    m_spare.pop_back();
    node.key() = id;
    Request& request = m_requests.insert(std::move(node)).position->second;
    // What a record keeps from its last request is the room of its strings and lists.
    request.id = id;
    request.state = State::waiting;
    request.cancelled = false;
    request.error = 0;
    return request;
}

void CAsyncResolver::Retire(Request& request, std::vector<Hooks*>* release) {
    if (request.hooks != nullptr && release != nullptr)
        release->push_back(request.hooks);
    request.hooks = nullptr;
    auto it = m_requests.find(request.id);
    if (m_spare.size() >= kMaxSpareRecords) {
        m_requests.erase(it);
        return;
    }
    m_spare.push_back(m_requests.extract(it));
}

bool CAsyncResolver::WakeIfNobodyFree(std::shared_ptr<Sleeper>* toWake, bool stalled) {
    // A thread that is awake and not inside a request takes the queue's next request. Only
    // when there is none is one woken (the most recent sleeper, whose stack is warm) or added;
    // each thread that takes a request does the same for the requests behind it, so a burst
    // of requests wakes threads one after another, each woken by the one before, up to
    // kEagerThreads; the watch adds more while none of them finishes, so a slow lookup never
    // holds up the requests behind it for long.
    if (m_threads.size() > m_sleepers.size() + m_busyThreads)
        return true;
    if (m_sleepers.empty() && m_threads.size() >= m_maxThreads)
        return true;  // every thread is inside a lookup: the first to finish takes it
    if (!stalled && m_busyThreads >= kEagerThreads && ArmWatch())
        return true;
    if (!m_sleepers.empty()) {
        *toWake = std::move(m_sleepers.back());
        m_sleepers.pop_back();
        (*toWake)->woken = true;
        return true;
    }
    try {
        m_threads.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        return false;  // the threads there are will take it
    }
    return true;
}

bool CAsyncResolver::ArmWatch() {
    m_deferred = true;
    if (m_watchArmed)
        return true;
    if (!m_watch.joinable()) {
        try {
            m_watch = std::thread([this] { Watch(); });
        } catch (const std::system_error&) {
            return false;  // no watch: wake threads at once
        }
    }
    m_watchArmed = true;
    m_watchWake.notify_one();
    return true;
}

void CAsyncResolver::Watch() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (!m_watchArmed) {
            m_watchWake.wait(lock, [&] { return m_watchArmed || m_stopping; });
            continue;
        }
        m_deferred = false;
        const std::uint64_t seen = m_lastId;
        m_watchWake.wait_for(lock, kStallTime, [&] { return m_stopping.load(); });
        if (m_stopping)
            return;
        if (m_queue.head == nullptr) {
            m_watchArmed = m_deferred;  // kept armed while requests keep coming
            continue;
        }
        if (m_queue.head->id > seen)
            continue;
        // The oldest request has waited a while: the threads awake are inside slow lookups,
        // or too few for the flow (they share the processors with others).
        std::shared_ptr<Sleeper> toWake;
        WakeIfNobodyFree(&toWake, true);
        lock.unlock();
        Wake(toWake);
        lock.lock();
    }
}

void CAsyncResolver::Wake(const std::shared_ptr<Sleeper>& sleeper) {
    if (sleeper)
        sleeper->wake.notify_one();
}

CAsyncResolver::Batch::Batch(CAsyncResolver& resolver) : m_resolver(resolver), m_outer(t_batch) {
    t_batch = this;
}

CAsyncResolver::Batch::~Batch() {
    t_batch = m_outer;
    if (!m_wakeOwed)
        return;
    std::shared_ptr<Sleeper> toWake;
    {
        std::lock_guard<std::mutex> lock(m_resolver.m_mutex);
        if (m_resolver.m_queue.head != nullptr)
            m_resolver.WakeIfNobodyFree(&toWake);
    }
    Wake(toWake);
}

bool CAsyncResolver::Cancel(std::uint64_t id) {
    std::vector<Hooks*> release;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_requests.find(id);
        if (it == m_requests.end() || it->second.cancelled)
            return false;
        Request& request = it->second;
        switch (request.state) {
        case State::running:
            request.cancelled = true;  // its thread holds the record until the lookup is done
            return true;
        case State::waiting:
            m_queue.Remove(&request);
            break;
        case State::finished:
            Unfinish(request);
            break;
        }
        Retire(request, &release);
    }
    ReleaseAll(release);  // they may hold references of the requester
    return true;
}

bool CAsyncResolver::TakeResult(std::uint64_t id, int* error, HostLookup* lookup) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_requests.find(id);
    if (it == m_requests.end() || it->second.state != State::finished)
        return false;
    Request& request = it->second;
    *error = request.error;
    *lookup = request.lookup;
    Unfinish(request);
    Retire(request);
    return true;
}

void CAsyncResolver::TakeFinished(DWORD threadId, std::vector<FinishedLookup>* finished) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Finished* list = FindFinished(threadId);
    if (list == nullptr)
        return;
    while (Request* request = list->requests.head) {
        list->requests.Remove(request);
        finished->push_back({request->id, request->error});
        Retire(*request);
    }
    *list = std::move(m_finished.back());
    m_finished.pop_back();
}

CAsyncResolver::Finished* CAsyncResolver::FindFinished(DWORD threadId) {
    for (Finished& list : m_finished) {
        if (list.threadId == threadId)
            return &list;
    }
    return nullptr;
}

void CAsyncResolver::Unfinish(Request& request) {
    Finished* list = FindFinished(request.threadId);
    if (list == nullptr)
        return;
    list->requests.Remove(&request);
    // Kept while its notice is on its way, so no second one is posted for the same take.
    if (list->requests.head == nullptr && !list->noticePosted) {
        *list = std::move(m_finished.back());
        m_finished.pop_back();
    }
}

std::size_t CAsyncResolver::GetRequestCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.size();
}

std::size_t CAsyncResolver::GetThreadCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_threads.size();
}

void CAsyncResolver::Work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto sleeper = std::make_shared<Sleeper>();
    for (;;) {
        if (!m_stopping && m_queue.head == nullptr) {
            sleeper->woken = false;
            m_sleepers.push_back(sleeper);
            sleeper->wake.wait(lock, [&] { return sleeper->woken || m_stopping; });
        }
        if (m_stopping)
            return;
        Request* request = m_queue.head;
        if (request == nullptr)
            continue;
        m_queue.Remove(request);
        request->state = State::running;
        ++m_busyThreads;
        std::shared_ptr<Sleeper> toWake;
        if (m_queue.head != nullptr)
            WakeIfNobodyFree(&toWake);
        Hooks* const hooks = std::exchange(request->hooks, nullptr);
        lock.unlock();
        Wake(toWake);

        // The record is this thread's until it is marked finished under the lock.
        int error = hooks->BeforeLookup();
        if (error != 0) {
            request->lookup.officialName.clear();
            request->lookup.addresses.clear();
        } else if (!LookupHost(request->host, &request->lookup)) {
            error = WSAGetLastError();
        }
        hooks->AfterLookup(error, request->lookup);
        hooks->ReleaseHooks();
        const std::size_t length =
            error != 0 ? 0
                       : request->lookup.officialName.size() + 1 + 4 * request->lookup.addresses.size();

        lock.lock();
        --m_busyThreads;
        if (m_stopping)
            return;  // the resolver drops the record once this thread has ended
        if (request->cancelled) {
            Retire(*request);
            continue;
        }
        request->state = State::finished;
        request->error = error;
        Finished* finished = FindFinished(request->threadId);
        if (finished == nullptr) {
            m_finished.push_back(Finished{request->threadId, {}, false});
            finished = &m_finished.back();
        }
        finished->requests.PushBack(request);
        const Notice notice = request->notice;
        const bool post = notice == Notice::eachRequest || !finished->noticePosted;
        if (notice == Notice::oncePerTake)
            finished->noticePosted = true;
        if (post) {
            // A completion that rides on one already posted (Notice::oncePerTake) needs no
            // post, and the thread goes on to the next request without letting go of the lock.
            const std::uint64_t id = request->id;
            const DWORD threadId = request->threadId;
            const UINT message = request->message;
            lock.unlock();
            Deliver(id, threadId, message, MakeReply(length, error), notice);
            lock.lock();
        }
    }
}

void CAsyncResolver::Deliver(std::uint64_t id, DWORD threadId, UINT message,
                             std::intptr_t reply, Notice notice) {
    for (;;) {
        if (PostThreadMessage(threadId, message, static_cast<std::uintptr_t>(id), reply))
            return;
        const bool full = GetLastError() == ERROR_NOT_ENOUGH_QUOTA;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return;
            if (!full) {
                // The requester has ended: nobody will take it.
                if (notice == Notice::oncePerTake) {
                    if (Finished* list = FindFinished(threadId)) {
                        while (Request* request = list->requests.head) {
                            list->requests.Remove(request);
                            Retire(*request);
                        }
                        *list = std::move(m_finished.back());
                        m_finished.pop_back();
                    }
                } else if (auto it = m_requests.find(id);
                           it != m_requests.end() && it->second.state == State::finished) {
                    Unfinish(it->second);
                    Retire(it->second);
                }
                return;
            }
            // Still owed: the request is there (oncePerTake: the requester has not taken
            // what this message announces).
            if (notice == Notice::oncePerTake ? FindFinished(threadId) == nullptr
                                              : m_requests.count(id) == 0)
                return;
        }
        std::this_thread::sleep_for(kFullQueueRetry);
    }
}
