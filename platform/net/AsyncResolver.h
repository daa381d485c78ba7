#pragma once
// Asynchronous host lookups: a bounded pool of lookup threads over the system resolver
// (LookupHost: IPv4 addresses and the official name). A thread that must never block asks for
// a lookup and goes on; when the lookup is done, the requesting thread gets a thread message
// (its number chosen by the requester) whose wParam is the request id and whose lParam is
// MakeReply(length, error): the error in the high 16 bits (0 = found; 11001-11004 as
// WSAGetLastError() gives them for the lookup), the result's size in the low 16 bits. The
// requester then takes the result with TakeResult.
//
// Ids count up from 1 in 64 bits and are never reused. Every request that is neither cancelled
// nor abandoned gets exactly one message (a request made with Notice::oncePerTake: see there):
// a post refused because the requester's queue is full is retried until it is taken or the
// request cancelled. A cancelled request gets no message after Cancel returns (one posted
// earlier finds no result), and a lookup that finishes after it is discarded; so is the result
// of a requester whose thread has ended before the completion was posted. A requester ends by
// cancelling what it still waits for: a completion posted just before its end would otherwise
// keep its result until the resolver goes.
//
// Deadlines. A request not done within the deadline of its start (waiting for a thread, or
// inside a lookup the system resolver holds on the network) is done at once with the error
// kTimedOut, the error the system resolver gives when the name servers do not answer; its
// lookup, when one runs, goes on to its end on its thread and its outcome is dropped.
//
// Shares. Each request is made for a client (a 32-bit key, the client's address): one client
// has at most `clientThreads` lookup threads inside its requests and `clientRequests` requests
// outstanding, so a client whose names the network holds up cannot take the threads or the
// queue from the others. The waiting requests of the clients are taken in turn, the oldest of
// each first. A name the hosts file lists (CHostsFile) is looked up before them and counts
// for no share: the system resolver answers it from this host at once.
//
// Requests wait for one of at most `threads` lookup threads (started as the queue needs them
// and kept until the resolver goes); see kEagerThreads. At most `requests` may be outstanding
// at once (waiting, running, or done and not yet taken): beyond that, or beyond its client's
// share, Start fails with WSAENOBUFS, so a flood of queries cannot grow the queue without
// bound. A request's record is kept for the next one when it goes, so a steady flow of
// requests allocates nothing once the resolver has seen its peak.

#include "platform/kernel/Types.h"
#include "platform/net/Resolver.h"
#include "platform/net/SocketErrors.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class CHostsFile;

class CAsyncResolver {
public:
    // What a request runs around its lookup, on the resolver's threads, one call at a time.
    // The resolver holds the hooks given to a Start that succeeded until it calls
    // ReleaseHooks, exactly once, never with a lock of the resolver held: after AfterLookup
    // when the request was done (found, failed or timed out), or without it, on the thread
    // that let the request go, for a request cancelled or dropped before it was done.
    class Hooks {
    public:
        // On the lookup thread, before the lookup: 0 lets it go on, any other value is the
        // request's error (the lookup is not made).
        virtual int BeforeLookup() { return 0; }
        // Once the request is done, before its completion is posted, with the outcome the
        // requester will take (error 0: found): on the lookup thread, or, for a request
        // whose deadline passed (kTimedOut), on the resolver's watch thread. A request
        // cancelled while this runs gets no completion.
        virtual void AfterLookup(int /*error*/, const HostLookup& /*lookup*/) {}
        virtual void ReleaseHooks() = 0;

    protected:
        ~Hooks() = default;
    };
    // The same as two functions, for requesters that need nothing more.
    using Prepare = std::function<int()>;
    using Finish = std::function<void(int error, const HostLookup& lookup)>;

    // How a completion reaches its requester. eachRequest: a message of its own. oncePerTake,
    // for a requester that takes every finished request of its thread (TakeFinished) whenever
    // it gets a completion: a message only when none is on its way since the requester last
    // took them, carrying the id of the request that posted it; the requests that finish
    // before the requester looks ride on that one message and wake it once.
    enum class Notice { eachRequest, oncePerTake };

    static constexpr std::size_t kDefaultThreads = 32;
    static constexpr std::size_t kDefaultMaxRequests = 4096;
    // One client's share: a quarter of the threads and of the requests.
    static constexpr std::size_t kDefaultClientThreads = kDefaultThreads / 4;
    static constexpr std::size_t kDefaultClientRequests = kDefaultMaxRequests / 4;
    // A client waits no longer than its own resolver would for a name server (glibc's first
    // try lasts 5 s).
    static constexpr std::chrono::milliseconds kDefaultDeadline{5000};
    // The error of a request whose deadline passed.
    static constexpr int kTimedOut = WSATRY_AGAIN;
    // Threads woken at once for the requests waiting, at most, while every thread awake is
    // inside a request: a lookup from the hosts file takes some microseconds, so a few threads
    // keep up with any burst, and waking all of them costs more than the lookups. Beyond
    // them a request waits for the first thread to finish; while a request waits longer than
    // a millisecond, one more is woken each millisecond.
    static constexpr std::size_t kEagerThreads = 4;

    struct Limits {
        std::size_t threads = kDefaultThreads;
        std::size_t requests = kDefaultMaxRequests;
        std::size_t clientThreads = kDefaultClientThreads;
        std::size_t clientRequests = kDefaultClientRequests;
        std::chrono::milliseconds deadline = kDefaultDeadline;
        CHostsFile* hostsFile = nullptr;  // null: the system's
        // How a name is looked up (false with WSAGetLastError() set when it is not found):
        // LookupHost unless another is given. Called on the lookup threads, many at once.
        std::function<bool(const std::string& host, HostLookup* lookup)> lookup;
    };

    // The default limits.
    CAsyncResolver();
    explicit CAsyncResolver(const Limits& limits);
    // `threads` and `maxRequests` in all, and no smaller share for one client.
    CAsyncResolver(std::size_t threads, std::size_t maxRequests);
    // Drops every request and waits for the lookup threads to finish their current lookup.
    ~CAsyncResolver();
    CAsyncResolver(const CAsyncResolver&) = delete;
    CAsyncResolver& operator=(const CAsyncResolver&) = delete;

    // The process's resolver. It is never destroyed: a lookup thread may be waiting on the
    // network when the process ends.
    static CAsyncResolver& Instance();

    // The lParam of a completion: error in the high half, length in the low half.
    static std::intptr_t MakeReply(std::size_t length, int error);
    static int ReplyError(std::intptr_t reply) { return static_cast<int>((reply >> 16) & 0xFFFF); }

    // Queues a lookup of `host` for `client` whose completion is posted as `message` to
    // thread `threadId`. Returns the request id, or 0 with WSAGetLastError() set: WSAENOBUFS
    // when the resolver or the client holds its limit of requests, WSAHOST_NOT_FOUND for an
    // empty name. `hooks` (held as Hooks says when the id is not 0) run around the lookup.
    std::uint64_t Start(const std::string& host, DWORD threadId, UINT message, Hooks& hooks,
                        Notice notice, std::uint32_t client);
    std::uint64_t Start(const std::string& host, DWORD threadId, UINT message,
                        Prepare prepare = {}, Notice notice = Notice::eachRequest,
                        Finish finish = {}, std::uint32_t client = 0);
    // Forgets the request, whatever its state: no completion reaches its requester afterwards.
    // False when it was not known (never made, already taken or already cancelled).
    bool Cancel(std::uint64_t id);
    // The result of a finished request, which the resolver then forgets: the error (0 when
    // found) and, when found, the lookup. False when the request is unknown or not finished.
    bool TakeResult(std::uint64_t id, int* error, HostLookup* lookup);

    // While one lives on a thread, the requests that thread starts on this resolver wait for
    // its end before a lookup thread is woken for them: a burst of requests costs its
    // requester one wake-up, and the lookup threads wake each other for the rest. Nested
    // batches wait for the outermost.
    class Batch {
    public:
        explicit Batch(CAsyncResolver& resolver);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        friend class CAsyncResolver;
        CAsyncResolver& m_resolver;
        Batch* const m_outer;
        bool m_wakeOwed = false;
    };

    struct FinishedLookup {
        std::uint64_t id = 0;
        int error = 0;
    };
    // Every finished request of the requester thread `threadId`, in the order they finished,
    // appended to `finished` and forgotten: a requester that is handed one completion may take
    // the others that finished meanwhile at once (their messages then find no result). Only
    // the ids and errors come: such a requester has its results from the requests' hooks.
    void TakeFinished(DWORD threadId, std::vector<FinishedLookup>* finished);

    // Requests outstanding (waiting, running, or finished and not taken).
    std::size_t GetRequestCount() const;
    std::size_t GetThreadCount() const;

private:
    using Clock = std::chrono::steady_clock;

    // An intrusive list, in the order items were added, through the links `Prev` and `Next`.
    template <class T, T* T::*Prev, T* T::*Next>
    struct Chain {
        T* head = nullptr;
        T* tail = nullptr;
        void PushBack(T* item) {
            item->*Prev = tail;
            item->*Next = nullptr;
            (tail != nullptr ? tail->*Next : head) = item;
            tail = item;
        }
        void Remove(T* item) {
            (item->*Prev != nullptr ? item->*Prev->*Next : head) = item->*Next;
            (item->*Next != nullptr ? item->*Next->*Prev : tail) = item->*Prev;
            item->*Prev = item->*Next = nullptr;
        }
    };

    // waiting: in a queue. running: a lookup thread has it, preparing (its hooks lent to the
    // thread) or looking up (its hooks parked in the record). completing: a thread runs its
    // AfterLookup. finished: in its requester's finished list until taken.
    enum class State { waiting, running, completing, finished };
    struct Client;
    // A lookup thread works with its own copy of the host and its own result, so a request
    // whose lookup is held up can be done (timed out) or forgotten (cancelled) meanwhile; the
    // record is touched under m_mutex only.
    struct Request {
        std::uint64_t id = 0;
        std::string host;
        DWORD threadId = 0;
        UINT message = 0;
        Hooks* hooks = nullptr;
        Notice notice = Notice::eachRequest;
        State state = State::waiting;
        bool cancelled = false;  // preparing or completing: dropped once that is over
        bool overdue = false;    // preparing when its deadline passed: done as timed out after
        bool pending = false;    // in m_pending
        int error = 0;
        HostLookup lookup;
        Client* client = nullptr;  // null for a name of the hosts file, which takes no share
        Clock::time_point deadline;
        Request* prev = nullptr;  // in its queue, or in its requester's finished list
        Request* next = nullptr;
        Request* olderPending = nullptr;
        Request* youngerPending = nullptr;
    };
    using List = Chain<Request, &Request::prev, &Request::next>;
    using PendingList = Chain<Request, &Request::olderPending, &Request::youngerPending>;
    // The requests of one client not yet retired, and its waiting ones, oldest first. Ready
    // (in m_ready) while it has a request waiting and threads to spare.
    struct Client {
        std::uint32_t key = 0;
        std::size_t threads = 0;   // lookup threads inside its requests (timed out ones too)
        std::size_t requests = 0;  // its requests not yet retired
        List waiting;
        bool ready = false;
        Client* prevReady = nullptr;
        Client* nextReady = nullptr;
    };
    using ReadyList = Chain<Client, &Client::prevReady, &Client::nextReady>;
    using ClientMap = std::unordered_map<std::uint32_t, Client>;
    // Finished requests not yet taken, of one requester thread, in the order they finished,
    // and whether a oncePerTake completion for them is on its way.
    struct Finished {
        DWORD threadId = 0;
        List requests;
        bool noticePosted = false;
    };
    using RequestMap = std::unordered_map<std::uint64_t, Request>;

    // A lookup thread waiting for a request: woken alone, by whoever hands it work, after
    // that one has let go of the lock (so the woken thread does not wait for it at once).
    // Shared, since the notice comes after the lock and may find the thread gone.
    struct Sleeper {
        std::condition_variable wake;
        bool woken = false;
    };

    void Work();
    // Whether a free thread has a request to take, and which one it takes next: a name of the
    // hosts file first, then the oldest waiting request of the next client in turn. m_mutex
    // held.
    bool HasWork() const { return m_hostsQueue.head != nullptr || m_ready.head != nullptr; }
    Request* NextRequest() const;
    // Takes NextRequest out of its queue for a lookup thread. m_mutex held.
    Request* TakeNextRequest();
    // A lookup thread is done with a request of `client` (null: of the hosts file). m_mutex
    // held.
    void LeaveRequest(Client* client);
    // Makes sure a thread will take the queue's next request: a free thread is awake, or one
    // is chosen to wake (`*toWake`, for the caller to notify once it has let go of m_mutex) or
    // added, or, with enough threads inside requests, the watch looks after it. `stalled`:
    // the watch asks, nobody having taken a request for a while. False when none is free and
    // none could be added. m_mutex held.
    bool WakeIfNobodyFree(std::shared_ptr<Sleeper>* toWake, bool stalled = false);
    // Starts the watch's thread if it has not been; false when it cannot be. m_mutex held.
    bool StartWatch();
    // Has the watch look after the queue; false when it cannot be started. m_mutex held.
    bool ArmWatch();
    // The watch's thread: it completes the requests whose deadline has passed, and, while it
    // is armed, every kStallTime it wakes one more lookup thread if the next request to be
    // taken was already there the time before.
    void Watch();
    // Completes, as timed out, every request whose deadline is `now` or earlier; a request
    // that is being prepared is marked for its thread. Lets go of m_mutex meanwhile.
    void CompleteOverdue(Clock::time_point now, std::unique_lock<std::mutex>& lock);
    static void Wake(const std::shared_ptr<Sleeper>& sleeper);
    // A new request's record, kept ones first. m_mutex held.
    Request& AddRequest(std::uint64_t id);
    // The client of `key`, made when it has none. m_mutex held.
    Client& FindClient(std::uint32_t key);
    // Keeps `client` in m_ready while it is ready, and forgets it when it has nothing more.
    // m_mutex held.
    void UpdateClient(Client& client);
    // Takes a waiting or running request out of its queue and out of m_pending. m_mutex held.
    void Unqueue(Request& request);
    // Forgets `request`, keeping its record for a later one; the hooks it still holds go to
    // `*release`. m_mutex held.
    void Retire(Request& request, Hooks** release = nullptr);
    // Marks a completing request finished with `error` and `*lookup` (taken; null: none) and
    // posts its completion, letting go of m_mutex meanwhile; retires it when it was
    // cancelled.
    void Complete(Request& request, int error, HostLookup* lookup, std::unique_lock<std::mutex>& lock);
    Finished* FindFinished(DWORD threadId);
    // Takes a finished request out of its requester's list. m_mutex held.
    void Unfinish(Request& request);
    // Posts the completion of `id`; drops the request (with Notice::oncePerTake, every
    // finished request of that requester) when its requester has ended.
    void Deliver(std::uint64_t id, DWORD threadId, UINT message, std::intptr_t reply, Notice notice);

    const std::size_t m_maxThreads;
    const std::size_t m_maxRequests;
    const std::size_t m_clientThreads;
    const std::size_t m_clientRequests;
    const Clock::duration m_deadline;
    CHostsFile& m_hostsFile;
    const std::function<bool(const std::string&, HostLookup*)> m_lookup;  // empty: LookupHost
    mutable std::mutex m_mutex;
    RequestMap m_requests;
    std::vector<RequestMap::node_type> m_spare;  // records of requests gone, for the next ones
    ClientMap m_clients;
    std::vector<ClientMap::node_type> m_spareClients;
    List m_hostsQueue;       // waiting requests for names of the hosts file
    ReadyList m_ready;       // clients with a request to take, in turn
    PendingList m_pending;   // waiting and running requests, oldest (first due) first
    std::vector<Finished> m_finished;  // one per requester thread with finished requests
    std::vector<std::thread> m_threads;
    std::vector<std::shared_ptr<Sleeper>> m_sleepers;  // waiting for a request, the latest last
    std::size_t m_busyThreads = 0;     // inside a request's preparation, lookup or completion
    std::thread m_watch;
    std::condition_variable m_watchWake;
    bool m_watchArmed = false;
    bool m_watchAsleep = false;  // nothing pending: a new request wakes it
    bool m_deferred = false;  // a wake was left to the watch since it last looked
    std::uint64_t m_lastId = 0;
    std::atomic<bool> m_stopping{false};
};
