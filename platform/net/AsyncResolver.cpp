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
// How long an idle lookup thread looks at the queue before it sleeps: a little more than the
// time between two queries of a busy network, a little less than one of a quiet one.
constexpr auto kLookBeforeSleep = std::chrono::microseconds(200);

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
        m_queued = 0;
        threads.swap(m_threads);
    }
    m_wake.notify_all();
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
                                    Prepare prepare) {
    if (host.empty()) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return 0;
    }
    std::uint64_t id = 0;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || m_requests.size() >= m_maxRequests) {
            WSASetLastError(WSAENOBUFS);
            return 0;
        }
        id = ++m_lastId;
        Request& request = m_requests[id];
        request.host = host;
        request.threadId = threadId;
        request.message = message;
        request.prepare = std::move(prepare);
        m_queue.push_back(id);
        m_queued = m_queue.size();
        // Threads that are awake and free take the queue's requests; a sleeping thread is
        // woken, or a thread added, only for requests beyond those. A thread inside a lookup
        // is not counted: a slow name must not hold up the requests behind it.
        const std::size_t free = m_threads.size() - m_sleepingThreads - m_busyThreads;
        if (m_queue.size() > free) {
            if (m_sleepingThreads > 0) {
                wake = true;
            } else if (m_threads.size() < m_maxThreads) {
                try {
                    m_threads.emplace_back([this] { Work(); });
                } catch (const std::system_error&) {
                    // The threads there are will take it; with none, it cannot run.
                    if (m_threads.empty()) {
                        m_queue.pop_back();
                        m_queued = m_queue.size();
                        m_requests.erase(id);
                        WSASetLastError(WSAENOBUFS);
                        return 0;
                    }
                }
            }
        }
    }
    if (wake)
        m_wake.notify_one();
    return id;
}

bool CAsyncResolver::Cancel(std::uint64_t id) {
    Prepare prepare;  // destroyed outside the lock: it may hold references of the requester
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_requests.find(id);
    if (it == m_requests.end())
        return false;
    prepare = std::move(it->second.prepare);
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
    m_requests.erase(it);
    return true;
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
    for (;;) {
        if (!m_stopping && m_queue.empty() && !m_looking) {
            // A request usually follows soon under load: one idle thread looks again for a
            // moment before sleeping, which spares the requester the cost of waking a thread.
            m_looking = true;
            lock.unlock();
            const auto until = std::chrono::steady_clock::now() + kLookBeforeSleep;
            while (m_queued.load() == 0 && !m_stopping.load() &&
                   std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
            lock.lock();
            m_looking = false;
        }
        while (!m_stopping && m_queue.empty()) {
            ++m_sleepingThreads;
            m_wake.wait(lock);
            --m_sleepingThreads;
        }
        if (m_stopping)
            return;
        const std::uint64_t id = m_queue.front();
        m_queue.pop_front();
        m_queued = m_queue.size();
        auto it = m_requests.find(id);
        if (it == m_requests.end())
            continue;  // cancelled while it waited
        Request& request = it->second;
        request.state = State::running;
        ++m_busyThreads;
        const std::string host = request.host;
        const DWORD threadId = request.threadId;
        const UINT message = request.message;
        Prepare prepare = std::move(request.prepare);
        lock.unlock();

        int error = prepare ? prepare() : 0;
        prepare = nullptr;
        HostLookup lookup;
        if (error == 0 && !LookupHost(host, &lookup))
            error = WSAGetLastError();
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
        lock.unlock();
        Deliver(id, threadId, message, MakeReply(length, error));
        lock.lock();
    }
}

void CAsyncResolver::Deliver(std::uint64_t id, DWORD threadId, UINT message,
                             std::intptr_t reply) {
    for (;;) {
        if (PostThreadMessage(threadId, message, static_cast<std::uintptr_t>(id), reply))
            return;
        const bool full = GetLastError() == ERROR_NOT_ENOUGH_QUOTA;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!full) {
                m_requests.erase(id);  // the requester has ended: nobody will take it
                return;
            }
            if (m_stopping || m_requests.find(id) == m_requests.end())
                return;
        }
        std::this_thread::sleep_for(kFullQueueRetry);
    }
}
