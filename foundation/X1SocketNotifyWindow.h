#pragma once
// The process-wide router of socket events. Every X1Socket is registered here by its handle,
// either for an owner thread, which receives its events as the thread messages 0x402-0x405
// (handle in wParam, 0 in lParam), or in callback mode, where its callback (or its own On...
// operations) runs on the callback thread. The socket dispatcher (platform/net) decides when an
// event is due; this object decides where it goes.
//
// Owner threads: a notice is posted only while no notice of the same kind for the same handle
// waits in the owner's queue (so at most one of each kind is outstanding), and every notice
// still waiting is withdrawn when the handle is unregistered or handed to another owner, so a
// handle number that is closed and reused never receives its predecessor's events. An owner
// thread may wait for its own sockets' events (X1SocketOwnerWait below): its notices are then
// found due on that thread and posted to its own queue, with the same rules.
//
// The callback thread: callback-mode sockets run on the thread registered with
// SetCallbackThread (the engine thread in the engine), whichever thread created them; with none
// registered, or once the registered thread has ended, they run on the socket dispatcher's own
// thread (the console's case). The registered thread must read its message queue (a CThread
// message loop, GetMessage or PeekMessage): callbacks arrive as thread calls that run inside
// those reads, never as messages. X1SocketCallbackThread below registers a thread for a scope.
// At most one call per socket and event waits at a time. Unregister (and so Close) waits for
// a callback of that socket in progress on another thread, so a socket's object may be
// destroyed as soon as Close returns; a callback may close its own socket. A thread must not
// close a callback-mode socket while it holds a lock that the socket's callback takes.

#include "platform/kernel/Thread.h"
#include "platform/net/SocketDispatcher.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

class X1Socket;
class X1SocketReadWorker;

class X1SocketNotifyWindow : private ISocketNoticeSink {
public:
    // The thread messages posted to owner threads.
    static constexpr UINT kSocketAccept = 0x402;
    static constexpr UINT kSocketRead = 0x403;
    static constexpr UINT kSocketWrite = 0x404;
    static constexpr UINT kSocketClose = 0x405;

    // The one instance of the process. It is never destroyed: threads still closing sockets
    // while the process exits find it intact.
    static X1SocketNotifyWindow& Instance();

    X1SocketNotifyWindow(const X1SocketNotifyWindow&) = delete;
    X1SocketNotifyWindow& operator=(const X1SocketNotifyWindow&) = delete;

    // Starts the socket dispatcher and the read worker thread, once; later calls do nothing.
    // Throws X1SocketException(0, "X1Socket callback window creation failed") on failure.
    void Create();
    bool IsCreated() const { return m_created.load(); }
    // The read worker (Create must have succeeded).
    X1SocketReadWorker& GetReadWorker();

    // Sets the owner of `handle` (replacing any registration). When the owner changes, the
    // notices still waiting for the previous owner are withdrawn and the socket's state is
    // evaluated again for the new one (bytes waiting give a read notice, a finished peer a
    // close notice).
    void RegisterOwner(int handle, DWORD threadId);
    void RegisterCurrentThread(int handle);
    // Serves `handle` in callback mode through `socket`.
    void RegisterCallback(int handle, X1Socket* socket);
    // Ends the registration of `handle` (nothing for -1): waiting notices are withdrawn; a
    // callback of it in progress on another thread is waited for.
    void Unregister(int handle);
    // Waits until no callback of `socket` is in progress on another thread (X1Socket's
    // destructor calls it, whatever the socket's registration is by then).
    void WaitForCallbacks(const X1Socket* socket);

    // The current registration of `handle`: its owner thread (0 for none) or its callback
    // socket (nullptr for none).
    DWORD GetOwner(int handle) const;
    X1Socket* GetCallbackSocket(int handle) const;

    // The wait set of owner thread `threadId` (X1SocketOwnerWait): the sockets registered for
    // that thread, and the callback-mode sockets while it is the callback thread, have their
    // events routed to it. nullptr ends that; those sockets go back to the dispatcher thread.
    void SetOwnerWaitSet(DWORD threadId, std::shared_ptr<SocketWaitSet> set);

    // The thread on which callbacks run (0: the socket dispatcher's thread).
    void SetCallbackThread(DWORD threadId);
    DWORD GetCallbackThread() const;

    // The thread message for an FD_ event, or 0 for events that are not forwarded.
    static UINT MessageForEvent(unsigned event);

private:
    struct OwnerEntry {
        DWORD thread;
        std::uint64_t generation;
    };
    struct CallbackEntry {
        X1Socket* socket;
        std::uint64_t generation;
        std::atomic<unsigned> pending{0};  // events whose call waits on the callback thread
    };
    // Callbacks in progress, by socket object: the object must outlive them.
    struct Running {
        int count = 0;
        std::thread::id runner;
    };
    using CallbackPtr = std::shared_ptr<CallbackEntry>;

    // The registrations, in shards by handle: every notice, registration and close of every
    // thread looks one up, and one lock for all of them had the session threads queue behind
    // each other. A handle is in at most one of the two maps of its shard.
    struct HandleShard {
        mutable std::mutex mutex;
        std::unordered_map<int, OwnerEntry> owners;
        std::unordered_map<int, CallbackPtr> callbacks;
    };
    // Per owner thread, in shards by thread id: the handles registered for it (so a thread's
    // sockets are found without a walk over every registration) and its wait set. A thread
    // shard's lock is taken after a handle shard's lock, never before.
    struct ThreadShard {
        std::mutex mutex;
        std::unordered_map<DWORD, std::set<int>> handles;
        std::unordered_map<DWORD, std::shared_ptr<SocketWaitSet>> waitSets;
    };
    static constexpr std::size_t kShards = 64;

    X1SocketNotifyWindow() = default;

    HandleShard& ShardOf(int handle) { return m_handleShards[static_cast<unsigned>(handle) % kShards]; }
    const HandleShard& ShardOf(int handle) const {
        return m_handleShards[static_cast<unsigned>(handle) % kShards];
    }
    ThreadShard& ThreadShardOf(DWORD thread) { return m_threadShards[thread % kShards]; }

    void OnSocketNotice(int s, std::uint64_t generation, unsigned event) override;
    // Posts a call of the callback for `event` to the callback thread. The handle's shard
    // lock held.
    void ScheduleCallback(int handle, const CallbackPtr& entry, unsigned event);
    // Runs the callback of `entry` for `event` on this thread, if `entry` still serves
    // `handle`. Takes the handle's shard lock and the running lock itself.
    void RunCallback(int handle, const CallbackPtr& entry, unsigned event);
    // Removes the owner entry of `handle`, withdrawing its waiting notices. `shard`'s lock held.
    void DropOwner(HandleShard& shard, int handle);
    // Enter and remove an owner entry, keeping the handles by owner thread in step; AddOwner
    // returns the owner's wait set (or nullptr). `shard`'s lock held.
    std::shared_ptr<SocketWaitSet> AddOwner(HandleShard& shard, int handle, OwnerEntry entry);
    void EraseOwner(HandleShard& shard, std::unordered_map<int, OwnerEntry>::iterator owner);
    // Posts the notice `message` to the owner in `owner`; drops the entry when its thread has
    // ended. `shard`'s lock held.
    void PostToOwner(HandleShard& shard, std::unordered_map<int, OwnerEntry>::iterator owner,
                     int handle, UINT message);
    // The wait set of `thread` (0: none), or nullptr.
    std::shared_ptr<SocketWaitSet> WaitSetOf(DWORD thread);
    // Every handle served in callback mode now.
    std::vector<int> CallbackHandles();
    // Routes the events of `handles` to `set` and evaluates them again. No lock held.
    static void Reroute(const std::vector<int>& handles, const std::shared_ptr<SocketWaitSet>& set);

    std::mutex m_createMutex;
    std::atomic<bool> m_created{false};
    X1SocketReadWorker* m_worker = nullptr;

    std::array<HandleShard, kShards> m_handleShards;
    std::array<ThreadShard, kShards> m_threadShards;
    std::atomic<DWORD> m_callbackThread{0};
    // Callbacks in progress; taken after a handle shard's lock, never before.
    std::mutex m_runningMutex;
    std::condition_variable m_callbackDone;
    std::map<const X1Socket*, Running> m_running;
};

// Makes the calling thread wait for its own sockets' events, for the life of the object: the
// sockets registered for it are watched by an epoll set of the thread's own, on which the
// thread waits whenever it waits for its next message (InstallQueueWaiter), so their notices
// reach it without passing through the dispatcher thread. The delivery rules stay the same.
// A thread that cannot have a set (no descriptors left) goes on as before. The thread must
// read its queue with its message loop; it must not block for long in a handler while its
// sockets wait (as for any owner thread, their notices wait meanwhile).
class X1SocketOwnerWait {
public:
    X1SocketOwnerWait();
    ~X1SocketOwnerWait();
    X1SocketOwnerWait(const X1SocketOwnerWait&) = delete;
    X1SocketOwnerWait& operator=(const X1SocketOwnerWait&) = delete;

private:
    std::shared_ptr<SocketWaitSet> m_set;
};

// Registers the calling thread as the callback thread for the life of the object, and restores
// the previous one afterwards. The thread must keep reading its message queue meanwhile.
class X1SocketCallbackThread {
public:
    X1SocketCallbackThread();
    ~X1SocketCallbackThread();
    X1SocketCallbackThread(const X1SocketCallbackThread&) = delete;
    X1SocketCallbackThread& operator=(const X1SocketCallbackThread&) = delete;

private:
    DWORD m_previous;
};
