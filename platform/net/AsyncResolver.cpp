#include "platform/net/AsyncResolver.h"

#include "platform/kernel/Clock.h"
#include "platform/net/HostsFile.h"
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

// Records kept for later requests and clients, at most: enough for a busy resolver's flow,
// without holding a flood's peak for ever.
constexpr std::size_t kMaxSpareRecords = 512;
constexpr std::size_t kMaxSpareClients = 64;

// The outcome a request done without a lookup reports.
const HostLookup g_noLookup;

// A new entry of `key` in `map`, in a node kept in `spare` when there is one (its value as its
// last entry left it).
template <class Map>
typename Map::mapped_type& InsertReusing(Map& map, std::vector<typename Map::node_type>& spare,
                                         typename Map::key_type key) {
    if (spare.empty())
        return map.try_emplace(key).first->second;
    typename Map::node_type node = std::move(spare.back());
    spare.pop_back();
    node.key() = key;
    return map.insert(std::move(node)).position->second;
}

// Takes the entry at `it` out of `map`, keeping its node in `spare` while that holds fewer
// than `most`.
template <class Map>
void EraseKeeping(Map& map, typename Map::iterator it, std::vector<typename Map::node_type>& spare,
                  std::size_t most) {
    if (spare.size() < most)
        spare.push_back(map.extract(it));
    else
        map.erase(it);
}

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

}  // namespace


namespace {

CAsyncResolver::Limits WholeShares(std::size_t threads, std::size_t maxRequests) {
    CAsyncResolver::Limits limits;
    limits.threads = limits.clientThreads = threads;
    limits.requests = limits.clientRequests = maxRequests;
    return limits;
}

}  // namespace

CAsyncResolver::CAsyncResolver() : CAsyncResolver(Limits{}) {}

CAsyncResolver::CAsyncResolver(std::size_t threads, std::size_t maxRequests)
    : CAsyncResolver(WholeShares(threads, maxRequests)) {}

CAsyncResolver::CAsyncResolver(const Limits& limits)
    : m_maxThreads(std::max<std::size_t>(limits.threads, 1)),
      m_maxRequests(std::max<std::size_t>(limits.requests, 1)),
      m_clientThreads(std::clamp<std::size_t>(limits.clientThreads, 1, m_maxThreads)),
      m_clientRequests(std::clamp<std::size_t>(limits.clientRequests, 1, m_maxRequests)),
      m_deadline(std::max(limits.deadline, std::chrono::milliseconds(1))),
      m_hostsFile(limits.hostsFile != nullptr ? *limits.hostsFile : CHostsFile::System()),
      m_lookup(limits.lookup) {}

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
    // The threads leave the hooks they hold in their records, and touch nothing once they
    // see the resolver stopping.
    for (std::thread& thread : threads)
        thread.join();
    for (auto& [id, request] : m_requests) {
        if (request.hooks != nullptr)
            request.hooks->ReleaseHooks();
    }
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
                                    Prepare prepare, Notice notice, Finish finish,
                                    std::uint32_t client) {
    if (!prepare && !finish)
        return Start(host, threadId, message, g_noHooks, notice, client);
    auto* hooks = new CFunctionHooks(std::move(prepare), std::move(finish));
    const std::uint64_t id = Start(host, threadId, message, *hooks, notice, client);
    if (id == 0)
        hooks->ReleaseHooks();
    return id;
}

std::uint64_t CAsyncResolver::Start(const std::string& host, DWORD threadId, UINT message,
                                    Hooks& hooks, Notice notice, std::uint32_t client) {
    if (host.empty()) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return 0;
    }
    // Worked out before the lock: whether the name goes ahead of the clients', and when the
    // request is due.
    const bool hostsName = m_hostsFile.Lists(host);
    const Clock::time_point deadline = Clock::now() + m_deadline;
    std::shared_ptr<Sleeper> toWake;
    bool wakeWatch = false;
    std::uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || m_requests.size() >= m_maxRequests) {
            WSASetLastError(WSAENOBUFS);
            return 0;
        }
        Client* owner = nullptr;
        if (!hostsName) {
            owner = &FindClient(client);
            if (owner->requests >= m_clientRequests) {
                WSASetLastError(WSAENOBUFS);
                return 0;
            }
        }
        id = ++m_lastId;
        Request& request = AddRequest(id);
        request.host.assign(host);
        request.threadId = threadId;
        request.message = message;
        request.hooks = &hooks;
        request.notice = notice;
        request.client = owner;
        request.deadline = deadline;
        if (owner != nullptr) {
            ++owner->requests;
            owner->waiting.PushBack(&request);
            UpdateClient(*owner);
        } else {
            m_hostsQueue.PushBack(&request);
        }
        request.pending = true;
        m_pending.PushBack(&request);
        if (m_watchAsleep) {
            m_watchAsleep = false;
            wakeWatch = true;
        } else {
            StartWatch();  // without it requests have no deadline, and nothing else is amiss
        }
        Batch* outermost = nullptr;
        for (Batch* batch = t_batch; batch != nullptr; batch = batch->m_outer) {
            if (&batch->m_resolver == this)
                outermost = batch;
        }
        if (outermost != nullptr && !m_threads.empty()) {
            outermost->m_wakeOwed = true;
        } else if ((owner == nullptr || owner->ready) && !WakeIfNobodyFree(&toWake) &&
                   m_threads.empty()) {
            // No thread could be made, and none is there to take it.
            request.hooks = nullptr;  // not taken: the caller keeps them
            Retire(request);
            WSASetLastError(WSAENOBUFS);
            return 0;
        }
    }
    if (wakeWatch)
        m_watchWake.notify_one();
    Wake(toWake);
    return id;
}

CAsyncResolver::Request& CAsyncResolver::AddRequest(std::uint64_t id) {
    Request& request = InsertReusing(m_requests, m_spare, id);
    // What a record keeps from its last request is the room of its strings and lists.
    request.id = id;
    request.state = State::waiting;
    request.cancelled = false;
    request.overdue = false;
    request.error = 0;
    return request;
}

CAsyncResolver::Client& CAsyncResolver::FindClient(std::uint32_t key) {
    if (const auto it = m_clients.find(key); it != m_clients.end())
        return it->second;
    Client& client = InsertReusing(m_clients, m_spareClients, key);
    client = Client{};
    client.key = key;
    return client;
}

void CAsyncResolver::UpdateClient(Client& client) {
    const bool ready = client.waiting.head != nullptr && client.threads < m_clientThreads;
    if (ready != client.ready) {
        client.ready = ready;
        if (ready)
            m_ready.PushBack(&client);
        else
            m_ready.Remove(&client);
    }
    if (client.threads == 0 && client.requests == 0)
        EraseKeeping(m_clients, m_clients.find(client.key), m_spareClients, kMaxSpareClients);
}

CAsyncResolver::Request* CAsyncResolver::NextRequest() const {
    if (m_hostsQueue.head != nullptr)
        return m_hostsQueue.head;
    return m_ready.head != nullptr ? m_ready.head->waiting.head : nullptr;
}

CAsyncResolver::Request* CAsyncResolver::TakeNextRequest() {
    if (Request* request = m_hostsQueue.head) {
        m_hostsQueue.Remove(request);
        return request;
    }
    Client* client = m_ready.head;
    if (client == nullptr)
        return nullptr;
    Request* request = client->waiting.head;
    client->waiting.Remove(request);
    ++client->threads;
    // Its turn is over: back at the end of the turns while it stays ready.
    m_ready.Remove(client);
    client->ready = false;
    UpdateClient(*client);
    return request;
}

void CAsyncResolver::LeaveRequest(Client* client) {
    --m_busyThreads;
    if (client != nullptr) {
        --client->threads;
        UpdateClient(*client);
    }
}

void CAsyncResolver::Unqueue(Request& request) {
    if (request.state == State::waiting) {
        if (Client* client = request.client) {
            client->waiting.Remove(&request);
            UpdateClient(*client);  // kept: the request still counts for it
        } else {
            m_hostsQueue.Remove(&request);
        }
    }
    if (request.pending) {
        m_pending.Remove(&request);
        request.pending = false;
    }
}

void CAsyncResolver::Retire(Request& request, Hooks** release) {
    Unqueue(request);
    if (request.hooks != nullptr && release != nullptr)
        *release = request.hooks;
    request.hooks = nullptr;
    if (Client* client = std::exchange(request.client, nullptr)) {
        --client->requests;
        UpdateClient(*client);
    }
    EraseKeeping(m_requests, m_requests.find(request.id), m_spare, kMaxSpareRecords);
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

bool CAsyncResolver::StartWatch() {
    if (m_watch.joinable())
        return true;
    try {
        m_watch = std::thread([this] { Watch(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool CAsyncResolver::ArmWatch() {
    m_deferred = true;
    if (m_watchArmed)
        return true;
    if (!StartWatch())
        return false;  // no watch: wake threads at once
    m_watchArmed = true;
    m_watchAsleep = false;
    m_watchWake.notify_one();
    return true;
}

void CAsyncResolver::Watch() {
    constexpr Clock::time_point kNever = Clock::time_point::max();
    std::unique_lock<std::mutex> lock(m_mutex);
    std::uint64_t idleSeen = 0;   // the last id when the watch last found nothing pending
    std::uint64_t stallSeen = 0;  // the last id when the armed watch last looked
    Clock::time_point stallLook = kNever;
    while (!m_stopping) {
        const Clock::time_point now = Clock::now();
        if (m_pending.head != nullptr && m_pending.head->deadline <= now) {
            CompleteOverdue(now, lock);
            continue;
        }
        if (!m_watchArmed) {
            stallLook = kNever;
        } else if (stallLook == kNever) {
            m_deferred = false;
            stallSeen = m_lastId;
            stallLook = now + kStallTime;
        } else if (now >= stallLook) {
            stallLook = kNever;
            const Request* next = NextRequest();
            if (next == nullptr) {
                m_watchArmed = m_deferred;  // kept armed while requests keep coming
            } else if (next->id <= stallSeen) {
                // The next request was already there the time before: the threads awake are
                // inside slow lookups, or too few for the flow (they share the processors
                // with others).
                std::shared_ptr<Sleeper> toWake;
                WakeIfNobodyFree(&toWake, true);
                lock.unlock();
                Wake(toWake);
                lock.lock();
            }
            continue;
        }
        const Clock::time_point until =
            std::min(stallLook, m_pending.head != nullptr ? m_pending.head->deadline : kNever);
        if (until != kNever) {
            m_watchWake.wait_until(lock, until);
        } else if (m_lastId != idleSeen) {
            // Nothing pending: one round as long as the deadline before it sleeps until a
            // request wakes it, so a flow of requests with gaps between them wakes it no more
            // often than that.
            idleSeen = m_lastId;
            m_watchWake.wait_for(lock, m_deadline);
        } else {
            m_watchAsleep = true;
            m_watchWake.wait(lock, [&] { return !m_watchAsleep || m_stopping.load(); });
        }
    }
}

void CAsyncResolver::CompleteOverdue(Clock::time_point now, std::unique_lock<std::mutex>& lock) {
    struct Due {
        Request* request;
        Hooks* hooks;
    };
    std::vector<Due> due;
    while (Request* request = m_pending.head) {
        if (request->deadline > now)
            break;
        if (request->state == State::running && request->hooks == nullptr) {
            // Being prepared: its thread does it once the preparation is over.
            request->overdue = true;
            Unqueue(*request);
            continue;
        }
        // Waiting, or inside a lookup that its thread finishes for nobody.
        Unqueue(*request);
        due.push_back({request, std::exchange(request->hooks, nullptr)});
        request->state = State::completing;
    }
    if (due.empty())
        return;
    lock.unlock();
    for (const Due& d : due) {
        d.hooks->AfterLookup(kTimedOut, g_noLookup);
        d.hooks->ReleaseHooks();
    }
    lock.lock();
    for (const Due& d : due) {
        if (m_stopping)
            return;
        Complete(*d.request, kTimedOut, nullptr, lock);
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
        if (m_resolver.HasWork())
            m_resolver.WakeIfNobodyFree(&toWake);
    }
    Wake(toWake);
}

bool CAsyncResolver::Cancel(std::uint64_t id) {
    Hooks* release = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_requests.find(id);
        if (it == m_requests.end() || it->second.cancelled)
            return false;
        Request& request = it->second;
        switch (request.state) {
        case State::running:
            if (request.hooks == nullptr) {
                request.cancelled = true;  // being prepared: its thread drops it after
                return true;
            }
            break;  // looking up: its thread finds it gone
        case State::completing:
            request.cancelled = true;  // its completion is not posted
            return true;
        case State::waiting:
            break;
        case State::finished:
            Unfinish(request);
            break;
        }
        Retire(request, &release);
    }
    if (release != nullptr)
        release->ReleaseHooks();  // they may hold references of the requester
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
    std::string host;    // the name this thread looks up
    HostLookup lookup;   // and what it finds, until it hands that to the request
    for (;;) {
        if (!m_stopping && !HasWork()) {
            sleeper->woken = false;
            m_sleepers.push_back(sleeper);
            sleeper->wake.wait(lock, [&] { return sleeper->woken || m_stopping; });
        }
        if (m_stopping)
            return;
        Request* request = TakeNextRequest();
        if (request == nullptr)
            continue;
        request->state = State::running;
        ++m_busyThreads;
        std::shared_ptr<Sleeper> toWake;
        if (HasWork())
            WakeIfNobodyFree(&toWake);
        Hooks* hooks = std::exchange(request->hooks, nullptr);  // lent while it is prepared
        host.swap(request->host);
        const std::uint64_t id = request->id;
        Client* const client = request->client;  // kept while this thread counts for it
        lock.unlock();
        Wake(toWake);

        int error = hooks->BeforeLookup();
        lock.lock();
        // While it was prepared the record stayed put: a cancel or its deadline only marked it.
        if (m_stopping) {
            request->hooks = hooks;  // released with the resolver
            return;
        }
        if (request->cancelled) {
            Retire(*request);
            LeaveRequest(client);
            lock.unlock();
            hooks->ReleaseHooks();
            lock.lock();
            continue;
        }
        if (request->overdue)
            error = kTimedOut;
        if (error == 0) {
            request->hooks = hooks;  // parked: its deadline may do the request meanwhile
            lock.unlock();
            const bool found = m_lookup ? m_lookup(host, &lookup) : LookupHost(host, &lookup);
            error = found ? 0 : WSAGetLastError();
            lock.lock();
            if (m_stopping)
                return;
            const auto it = m_requests.find(id);
            if (it == m_requests.end() || it->second.state != State::running) {
                LeaveRequest(client);  // done or forgotten meanwhile: nobody waits for this
                continue;
            }
            request = &it->second;
            hooks = std::exchange(request->hooks, nullptr);
        } else {
            lookup.officialName.clear();
            lookup.addresses.clear();
        }
        Unqueue(*request);
        request->state = State::completing;
        lock.unlock();
        hooks->AfterLookup(error, lookup);
        hooks->ReleaseHooks();
        lock.lock();
        LeaveRequest(client);
        if (m_stopping)
            return;
        Complete(*request, error, &lookup, lock);
    }
}

void CAsyncResolver::Complete(Request& request, int error, HostLookup* lookup,
                              std::unique_lock<std::mutex>& lock) {
    if (request.cancelled) {
        Retire(request);
        return;
    }
    request.state = State::finished;
    request.error = error;
    if (lookup != nullptr) {
        std::swap(request.lookup, *lookup);
    } else {
        request.lookup.officialName.clear();
        request.lookup.addresses.clear();
    }
    const std::size_t length =
        error != 0 ? 0 : request.lookup.officialName.size() + 1 + 4 * request.lookup.addresses.size();
    Finished* finished = FindFinished(request.threadId);
    if (finished == nullptr) {
        m_finished.push_back(Finished{request.threadId, {}, false});
        finished = &m_finished.back();
    }
    finished->requests.PushBack(&request);
    const Notice notice = request.notice;
    const bool post = notice == Notice::eachRequest || !finished->noticePosted;
    if (notice == Notice::oncePerTake)
        finished->noticePosted = true;
    if (!post)
        return;  // it rides on a completion already posted (Notice::oncePerTake)
    const std::uint64_t id = request.id;
    const DWORD threadId = request.threadId;
    const UINT message = request.message;
    lock.unlock();
    Deliver(id, threadId, message, MakeReply(length, error), notice);
    lock.lock();
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
