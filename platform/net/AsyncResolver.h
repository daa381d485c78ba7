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
// nor abandoned gets exactly one message (a request made with Notice::oncePerTake: see there): a post refused because the requester's queue is full
// is retried until it is taken or the request cancelled. A cancelled request gets no message
// after Cancel returns (one posted earlier finds no result), and a lookup that finishes after
// it is discarded; so is the result of a requester whose thread has ended before the
// completion was posted. A requester ends by cancelling what it still waits for: a completion
// posted just before its end would otherwise keep its result until the resolver goes.
//
// Requests wait in one queue, first in first out, for one of at most `threads` lookup threads
// (started as the queue needs them and kept until the resolver goes); see kEagerThreads. At most `maxRequests`
// may be outstanding at once (waiting, running, cancelled while running, or done and not yet
// taken): beyond that Start fails with WSAENOBUFS, so a flood of queries cannot grow the queue
// without bound. A request's record is kept for the next one when it goes, so a steady flow of
// requests allocates nothing once the resolver has seen its peak.

#include "platform/kernel/Types.h"
#include "platform/net/Resolver.h"

#include <atomic>
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

class CAsyncResolver {
public:
    // What a request runs on its lookup thread around the lookup. The resolver holds the hooks
    // given to a Start that succeeded until it calls ReleaseHooks, exactly once: after
    // AfterLookup on the lookup thread, or, for a request that never ran (cancelled while it
    // waited, dropped with the resolver), on the thread that dropped it; never with a lock of
    // the resolver held.
    class Hooks {
    public:
        // Before the lookup: 0 lets it go on, any other value is the request's error (the
        // lookup is not made).
        virtual int BeforeLookup() { return 0; }
        // After the lookup, before its completion is posted, with the outcome the requester
        // will take (error 0: found). It runs even when the request was cancelled meanwhile: a
        // requester that cancels checks its own state in it.
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

    static constexpr std::size_t kDefaultThreads = 16;
    static constexpr std::size_t kDefaultMaxRequests = 4096;
    // Threads woken at once for the requests waiting, at most, while every thread awake is
    // inside a request: a lookup from the hosts file takes some microseconds, so a few threads
    // keep up with any burst, and waking all of them costs more than the lookups. Beyond
    // them a request waits for the first thread to finish; while a request waits longer than
    // a millisecond, one more is woken each millisecond.
    static constexpr std::size_t kEagerThreads = 4;

    explicit CAsyncResolver(std::size_t threads = kDefaultThreads,
                            std::size_t maxRequests = kDefaultMaxRequests);
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

    // Queues a lookup of `host` whose completion is posted as `message` to thread `threadId`.
    // Returns the request id, or 0 with WSAGetLastError() set: WSAENOBUFS when the resolver
    // holds its limit of requests, WSAHOST_NOT_FOUND for an empty name. `hooks` (held as
    // Hooks says when the id is not 0) run around the lookup.
    std::uint64_t Start(const std::string& host, DWORD threadId, UINT message, Hooks& hooks,
                        Notice notice);
    std::uint64_t Start(const std::string& host, DWORD threadId, UINT message,
                        Prepare prepare = {}, Notice notice = Notice::eachRequest,
                        Finish finish = {});
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
    enum class State { waiting, running, finished };
    // Linked into the queue while it waits and into its requester's finished list once done.
    // Its host and lookup belong to the lookup thread while it runs.
    struct Request {
        std::uint64_t id = 0;
        std::string host;
        DWORD threadId = 0;
        UINT message = 0;
        Hooks* hooks = nullptr;
        Notice notice = Notice::eachRequest;
        State state = State::waiting;
        bool cancelled = false;  // while running: its thread drops it when done
        int error = 0;
        HostLookup lookup;
        Request* prev = nullptr;
        Request* next = nullptr;
    };
    struct List {
        Request* head = nullptr;
        Request* tail = nullptr;
        void PushBack(Request* request);
        void Remove(Request* request);
    };
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
    // Makes sure a thread will take the queue's next request: a free thread is awake, or one
    // is chosen to wake (`*toWake`, for the caller to notify once it has let go of m_mutex) or
    // added, or, with enough threads inside requests, the watch looks after it. `stalled`:
    // the watch asks, nobody having taken a request for a while. False when none is free and
    // none could be added. m_mutex held.
    bool WakeIfNobodyFree(std::shared_ptr<Sleeper>* toWake, bool stalled = false);
    // Has the watch look after the queue; false when it cannot be started. m_mutex held.
    bool ArmWatch();
    // The watch's thread: while it is armed, every kStallTime it wakes one more lookup thread
    // if the oldest request waiting was already there the time before.
    void Watch();
    static void Wake(const std::shared_ptr<Sleeper>& sleeper);
    // A new request's record, kept ones first. m_mutex held.
    Request& AddRequest(std::uint64_t id);
    // Forgets `request`, keeping its record for a later one; the hooks it still holds go to
    // `*release`. m_mutex held.
    void Retire(Request& request, std::vector<Hooks*>* release = nullptr);
    Finished* FindFinished(DWORD threadId);
    // Takes a finished request out of its requester's list. m_mutex held.
    void Unfinish(Request& request);
    // Posts the completion of `id`; drops the request (with Notice::oncePerTake, every
    // finished request of that requester) when its requester has ended.
    void Deliver(std::uint64_t id, DWORD threadId, UINT message, std::intptr_t reply, Notice notice);

    const std::size_t m_maxThreads;
    const std::size_t m_maxRequests;
    mutable std::mutex m_mutex;
    RequestMap m_requests;
    std::vector<RequestMap::node_type> m_spare;  // records of requests gone, for the next ones
    List m_queue;
    std::vector<Finished> m_finished;  // one per requester thread with finished requests
    std::vector<std::thread> m_threads;
    std::vector<std::shared_ptr<Sleeper>> m_sleepers;  // waiting for a request, the latest last
    std::size_t m_busyThreads = 0;     // inside a request's preparation or lookup
    std::thread m_watch;
    std::condition_variable m_watchWake;
    bool m_watchArmed = false;
    bool m_deferred = false;  // a wake was left to the watch since it last looked
    std::uint64_t m_lastId = 0;
    std::atomic<bool> m_stopping{false};
};
