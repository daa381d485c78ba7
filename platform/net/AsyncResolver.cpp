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

// The calling thread's innermost batch of requests.
thread_local CAsyncResolver::Batch* t_batch = nullptr;

}  // namespace

CAsyncResolver::CAsyncResolver(std::size_t threads, std::size_t maxRequests)
    : m_maxThreads(std::max<std::size_t>(threads, 1)),
      m_maxRequests(std::max<std::size_t>(maxRequests, 1)) {}

CAsyncResolver::~CAsyncResolver() {
    std::vector<std::thread> threads;
    std::unordered_map<std::uint64_t, Request> requests;  // dropped outside the lock
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        requests.swap(m_requests);
        m_queue.clear();
        m_finished.clear();
        threads.swap(m_threads);
        for (const std::shared_ptr<Sleeper>& sleeper : m_sleepers)
            sleeper->wake.notify_one();
        m_sleepers.clear();
    }
    for (std::thread& thread : threads)
        thread.join();
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
    if (host.empty()) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return 0;
    }
    // Made before the lock, so the lookup threads that take and finish requests under it
    // wait for less.
    Request request;
    request.host = host;
    request.threadId = threadId;
    request.message = message;
    request.prepare = std::move(prepare);
    request.finish = std::move(finish);
    request.notice = notice;
    std::uint64_t id = 0;
    std::shared_ptr<Sleeper> toWake;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || m_requests.size() >= m_maxRequests) {
            WSASetLastError(WSAENOBUFS);
            return 0;
        }
        id = ++m_lastId;
        m_requests.try_emplace(id, std::move(request));
        m_queue.push_back(id);
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
            m_queue.pop_back();
            m_requests.erase(id);
            WSASetLastError(WSAENOBUFS);
            return 0;
        }
    }
    Wake(toWake);
    return id;
}

bool CAsyncResolver::WakeIfNobodyFree(std::shared_ptr<Sleeper>* toWake) {
    // A thread that is awake and not inside a request takes the queue's next request. Only
    // when there is none is one woken (the most recent sleeper, whose stack is warm) or added;
    // each thread that takes a request does the same for the requests behind it, so a burst
    // of requests wakes threads one after another, each woken by the one before, and a slow
    // lookup never holds up the requests behind it.
    if (m_threads.size() > m_sleepers.size() + m_busyThreads)
        return true;
    if (!m_sleepers.empty()) {
        *toWake = std::move(m_sleepers.back());
        m_sleepers.pop_back();
        (*toWake)->woken = true;
        return true;
    }
    if (m_threads.size() >= m_maxThreads)
        return true;  // every thread is inside a lookup: the first to finish takes it
    try {
        m_threads.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        return false;  // the threads there are will take it
    }
    return true;
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
        if (!m_resolver.m_queue.empty())
            m_resolver.WakeIfNobodyFree(&toWake);
    }
    Wake(toWake);
}

bool CAsyncResolver::Cancel(std::uint64_t id) {
    // Destroyed outside the lock: they may hold references of the requester.
    Prepare prepare;
    Finish finish;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_requests.find(id);
    if (it == m_requests.end())
        return false;
    prepare = std::move(it->second.prepare);
    finish = std::move(it->second.finish);
    if (it->second.state == State::finished)
        ForgetFinished(it->second.threadId, id);
    m_requests.erase(it);
    // A waiting id left in the queue is skipped by the thread that takes it.
    return true;
}

bool CAsyncResolver::TakeResult(std::uint64_t id, int* error, HostLookup* lookup) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_requests.find(id);
    if (it == m_requests.end() || it->second.state != State::finished)
        return false;
    *error = it->second.error;
    *lookup = std::move(it->second.lookup);
    ForgetFinished(it->second.threadId, id);
    m_requests.erase(it);
    return true;
}

void CAsyncResolver::TakeFinished(DWORD threadId, std::vector<FinishedLookup>* finished) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto list = m_finished.find(threadId);
    if (list == m_finished.end())
        return;
    for (const std::uint64_t id : list->second.ids) {
        auto it = m_requests.find(id);
        if (it == m_requests.end())
            continue;
        finished->push_back({id, it->second.error, std::move(it->second.lookup)});
        m_requests.erase(it);
    }
    m_finished.erase(list);
}

void CAsyncResolver::ForgetFinished(DWORD threadId, std::uint64_t id) {
    auto list = m_finished.find(threadId);
    if (list == m_finished.end())
        return;
    std::vector<std::uint64_t>& ids = list->second.ids;
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
    if (ids.empty())
        m_finished.erase(list);
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
        if (!m_stopping && m_queue.empty()) {
            sleeper->woken = false;
            m_sleepers.push_back(sleeper);
            sleeper->wake.wait(lock, [&] { return sleeper->woken || m_stopping; });
        }
        if (m_stopping)
            return;
        if (m_queue.empty())
            continue;
        const std::uint64_t id = m_queue.front();
        m_queue.pop_front();
        auto it = m_requests.find(id);
        if (it == m_requests.end())
            continue;  // cancelled while it waited
        ++m_busyThreads;
        std::shared_ptr<Sleeper> toWake;
        if (!m_queue.empty())
            WakeIfNobodyFree(&toWake);
        Request& request = it->second;
        request.state = State::running;
        const std::string host = request.host;
        const DWORD threadId = request.threadId;
        const UINT message = request.message;
        const Notice notice = request.notice;
        Prepare prepare = std::move(request.prepare);
        Finish finish = std::move(request.finish);
        lock.unlock();
        Wake(toWake);

        int error = prepare ? prepare() : 0;
        prepare = nullptr;
        HostLookup lookup;
        if (error == 0 && !LookupHost(host, &lookup))
            error = WSAGetLastError();
        if (finish)
            finish(error, lookup);
        finish = nullptr;
        const std::size_t length =
            error != 0 ? 0 : lookup.officialName.size() + 1 + 4 * lookup.addresses.size();

        lock.lock();
        --m_busyThreads;
        it = m_requests.find(id);
        if (it == m_requests.end())
            continue;  // cancelled during the lookup
        it->second.state = State::finished;
        it->second.error = error;
        it->second.lookup = std::move(lookup);
        Finished& finished = m_finished[threadId];
        finished.ids.push_back(id);
        const bool post = notice == Notice::eachRequest || !finished.noticePosted;
        finished.noticePosted = true;
        if (post) {
            // A completion that rides on one already posted (Notice::oncePerTake) needs no
            // post, and the thread goes on to the next request without letting go of the lock.
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
            if (!full) {
                // The requester has ended: nobody will take it.
                if (notice == Notice::oncePerTake) {
                    auto list = m_finished.find(threadId);
                    if (list != m_finished.end()) {
                        for (const std::uint64_t finished : list->second.ids)
                            m_requests.erase(finished);
                        m_finished.erase(list);
                    }
                } else if (m_requests.erase(id) != 0) {
                    ForgetFinished(threadId, id);
                }
                return;
            }
            // Still owed: the request is there (oncePerTake: the requester has not taken
            // what this message announces).
            if (m_stopping || (notice == Notice::oncePerTake ? m_finished.count(threadId) == 0
                                                             : m_requests.count(id) == 0))
                return;
        }
        std::this_thread::sleep_for(kFullQueueRetry);
    }
}
