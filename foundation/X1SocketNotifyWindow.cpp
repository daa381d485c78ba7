#include "foundation/X1SocketNotifyWindow.h"

#include "foundation/SocketErrorTexts.h"
#include "foundation/X1Socket.h"
#include "foundation/X1SocketException.h"
#include "foundation/X1SocketReadWorker.h"
#include "platform/kernel/Clock.h"
#include "platform/net/Sockets.h"

#include <vector>

namespace {

// Marks a callback call as no longer waiting when it is destroyed without having run (its
// thread ended, or the post failed), so the next event of that kind is scheduled again.
struct PendingCall {
    std::shared_ptr<std::atomic<unsigned>> pending;
    unsigned event;
    bool ran = false;
    ~PendingCall() {
        if (!ran)
            pending->fetch_and(~event);
    }
};

void Invoke(X1Socket* socket, unsigned event) {
    try {
        if (X1SocketCallback callback = socket->GetCallback()) {
            callback(socket->GetUserData(), socket, event);
            return;
        }
        switch (event) {
        case FD_READ:
            socket->OnRead();
            break;
        case FD_WRITE:
            socket->OnWrite();
            break;
        case FD_ACCEPT:
            socket->OnAccept();
            break;
        case FD_CLOSE:
            socket->OnClose();
            break;
        default:
            break;
        }
    } catch (CException* e) {
        e->Delete();  // a failing handler must not stop the routing of later notifications
    } catch (...) {
    }
}

}  // namespace

X1SocketNotifyWindow& X1SocketNotifyWindow::Instance() {
    static X1SocketNotifyWindow* window = new X1SocketNotifyWindow;
    return *window;
}

void X1SocketNotifyWindow::Create() {
    std::lock_guard<std::mutex> lock(m_createMutex);
    if (m_created)
        return;
    if (!SocketDispatcher::Start())
        throw new X1SocketException(0, kNotifyWindowFailedText);
    SocketDispatcher::SetSink(this);
    auto* worker = new X1SocketReadWorker;
    if (!worker->CreateThread()) {
        delete worker;
        throw new X1SocketException(0, kNotifyWindowFailedText);
    }
    m_worker = worker;
    m_created = true;
}

X1SocketReadWorker& X1SocketNotifyWindow::GetReadWorker() { return *m_worker; }

UINT X1SocketNotifyWindow::MessageForEvent(unsigned event) {
    switch (event) {
    case FD_ACCEPT:
        return kSocketAccept;
    case FD_READ:
        return kSocketRead;
    case FD_WRITE:
        return kSocketWrite;
    case FD_CLOSE:
        return kSocketClose;
    default:
        return 0;
    }
}

void X1SocketNotifyWindow::DropOwner(HandleShard& shard, int handle) {
    auto it = shard.owners.find(handle);
    if (it == shard.owners.end())
        return;
    WithdrawThreadMessages(it->second.thread, kSocketAccept, kSocketClose,
                           static_cast<std::uintptr_t>(handle));
    EraseOwner(shard, it);
}

std::shared_ptr<SocketWaitSet> X1SocketNotifyWindow::AddOwner(HandleShard& shard, int handle,
                                                              OwnerEntry entry) {
    shard.owners[handle] = entry;
    ThreadShard& threads = ThreadShardOf(entry.thread);
    std::lock_guard<std::mutex> lock(threads.mutex);
    threads.handles[entry.thread].insert(handle);
    auto set = threads.waitSets.find(entry.thread);
    return set == threads.waitSets.end() ? nullptr : set->second;
}

void X1SocketNotifyWindow::EraseOwner(HandleShard& shard,
                                      std::unordered_map<int, OwnerEntry>::iterator owner) {
    const DWORD thread = owner->second.thread;
    {
        ThreadShard& threads = ThreadShardOf(thread);
        std::lock_guard<std::mutex> lock(threads.mutex);
        auto handles = threads.handles.find(thread);
        if (handles != threads.handles.end()) {
            handles->second.erase(owner->first);
            if (handles->second.empty())
                threads.handles.erase(handles);
        }
    }
    shard.owners.erase(owner);
}

void X1SocketNotifyWindow::RegisterOwner(int handle, DWORD threadId) {
    if (handle == INVALID_SOCKET_HANDLE)
        return;
    const std::uint64_t generation = NetGeneration(handle);
    std::shared_ptr<SocketWaitSet> set;
    {
        HandleShard& shard = ShardOf(handle);
        std::lock_guard<std::mutex> lock(shard.mutex);
        auto it = shard.owners.find(handle);
        if (it != shard.owners.end() && it->second.thread == threadId &&
            it->second.generation == generation)
            return;  // no change: nothing to hand over
        DropOwner(shard, handle);
        shard.callbacks.erase(handle);
        set = AddOwner(shard, handle, {threadId, generation});
    }
    NetRouteEvents(handle, std::move(set));
    NetReevaluate(handle);
}

void X1SocketNotifyWindow::RegisterCurrentThread(int handle) {
    RegisterOwner(handle, GetCurrentThreadId());
}

void X1SocketNotifyWindow::RegisterCallback(int handle, X1Socket* socket) {
    if (handle == INVALID_SOCKET_HANDLE)
        return;
    auto entry = std::make_shared<CallbackEntry>();
    entry->socket = socket;
    entry->generation = NetGeneration(handle);
    {
        HandleShard& shard = ShardOf(handle);
        std::lock_guard<std::mutex> lock(shard.mutex);
        auto it = shard.callbacks.find(handle);
        if (it != shard.callbacks.end() && it->second->socket == socket &&
            it->second->generation == entry->generation)
            return;
        DropOwner(shard, handle);
        shard.callbacks[handle] = entry;
    }
    NetRouteEvents(handle, WaitSetOf(m_callbackThread.load()));
    NetReevaluate(handle);
}

void X1SocketNotifyWindow::Unregister(int handle) {
    if (handle == INVALID_SOCKET_HANDLE)
        return;
    const X1Socket* socket = nullptr;
    {
        HandleShard& shard = ShardOf(handle);
        std::lock_guard<std::mutex> lock(shard.mutex);
        if (shard.owners.count(handle)) {
            DropOwner(shard, handle);
            return;
        }
        auto it = shard.callbacks.find(handle);
        if (it == shard.callbacks.end())
            return;
        socket = it->second->socket;
        shard.callbacks.erase(it);
    }
    // A callback that found the entry before it went is marked as running by now (it marks
    // itself under the shard's lock).
    WaitForCallbacks(socket);
}

void X1SocketNotifyWindow::WaitForCallbacks(const X1Socket* socket) {
    const auto self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(m_runningMutex);
    m_callbackDone.wait(lock, [&] {
        auto it = m_running.find(socket);
        return it == m_running.end() || it->second.runner == self;
    });
}

void X1SocketNotifyWindow::PostToOwner(HandleShard& shard,
                                       std::unordered_map<int, OwnerEntry>::iterator owner,
                                       int handle, UINT message) {
    if (message != 0 &&
        !PostThreadMessageOnce(owner->second.thread, message, static_cast<std::uintptr_t>(handle),
                               0) &&
        GetLastError() == ERROR_INVALID_THREAD_ID)
        EraseOwner(shard, owner);  // its thread has ended: nobody will ever read these
}

DWORD X1SocketNotifyWindow::GetOwner(int handle) const {
    const HandleShard& shard = ShardOf(handle);
    std::lock_guard<std::mutex> lock(shard.mutex);
    auto it = shard.owners.find(handle);
    return it == shard.owners.end() ? 0 : it->second.thread;
}

X1Socket* X1SocketNotifyWindow::GetCallbackSocket(int handle) const {
    const HandleShard& shard = ShardOf(handle);
    std::lock_guard<std::mutex> lock(shard.mutex);
    auto it = shard.callbacks.find(handle);
    return it == shard.callbacks.end() ? nullptr : it->second->socket;
}

std::shared_ptr<SocketWaitSet> X1SocketNotifyWindow::WaitSetOf(DWORD thread) {
    if (thread == 0)
        return nullptr;
    ThreadShard& threads = ThreadShardOf(thread);
    std::lock_guard<std::mutex> lock(threads.mutex);
    auto it = threads.waitSets.find(thread);
    return it == threads.waitSets.end() ? nullptr : it->second;
}

std::vector<int> X1SocketNotifyWindow::CallbackHandles() {
    std::vector<int> handles;
    for (HandleShard& shard : m_handleShards) {
        std::lock_guard<std::mutex> lock(shard.mutex);
        for (const auto& callback : shard.callbacks)
            handles.push_back(callback.first);
    }
    return handles;
}

void X1SocketNotifyWindow::SetOwnerWaitSet(DWORD threadId, std::shared_ptr<SocketWaitSet> set) {
    std::vector<int> handles;
    {
        ThreadShard& threads = ThreadShardOf(threadId);
        std::lock_guard<std::mutex> lock(threads.mutex);
        if (set)
            threads.waitSets[threadId] = set;
        else
            threads.waitSets.erase(threadId);
        auto owned = threads.handles.find(threadId);
        if (owned != threads.handles.end())
            handles.assign(owned->second.begin(), owned->second.end());
    }
    if (threadId == m_callbackThread.load()) {
        const std::vector<int> callbacks = CallbackHandles();
        handles.insert(handles.end(), callbacks.begin(), callbacks.end());
    }
    Reroute(handles, set);
}

void X1SocketNotifyWindow::Reroute(const std::vector<int>& handles,
                                   const std::shared_ptr<SocketWaitSet>& set) {
    for (int handle : handles) {
        NetRouteEvents(handle, set);
        NetReevaluate(handle);
    }
}

void X1SocketNotifyWindow::SetCallbackThread(DWORD threadId) {
    const std::shared_ptr<SocketWaitSet> before = WaitSetOf(m_callbackThread.exchange(threadId));
    const std::shared_ptr<SocketWaitSet> set = WaitSetOf(threadId);
    if (set != before)
        Reroute(CallbackHandles(), set);
}

DWORD X1SocketNotifyWindow::GetCallbackThread() const { return m_callbackThread.load(); }

void X1SocketNotifyWindow::OnSocketNotice(int s, std::uint64_t generation, unsigned event) {
    HandleShard& shard = ShardOf(s);
    std::lock_guard<std::mutex> lock(shard.mutex);
    auto owner = shard.owners.find(s);
    if (owner != shard.owners.end()) {
        if (owner->second.generation == generation)
            PostToOwner(shard, owner, s, MessageForEvent(event));
        return;
    }
    auto callback = shard.callbacks.find(s);
    if (callback == shard.callbacks.end() || callback->second->generation != generation ||
        MessageForEvent(event) == 0)
        return;
    if (callback->second->pending.fetch_or(event) & event)
        return;  // a call for this event still waits
    ScheduleCallback(s, callback->second, event);
}

void X1SocketNotifyWindow::ScheduleCallback(int handle, const CallbackPtr& entry, unsigned event) {
    // The pending bits are shared with the call's guard, which may outlive the entry's map slot.
    auto pending = std::shared_ptr<std::atomic<unsigned>>(entry, &entry->pending);
    auto guard = std::make_shared<PendingCall>();
    guard->pending = pending;
    guard->event = event;
    auto call = [this, handle, entry, event, guard] {
        guard->ran = true;
        entry->pending.fetch_and(~event);
        RunCallback(handle, entry, event);
    };
    DWORD thread = m_callbackThread.load();
    if (thread != 0) {
        if (PostThreadCall(thread, call))
            return;
        // The callback thread has ended: serve callbacks here from now on.
        m_callbackThread.compare_exchange_strong(thread, 0);
    }
    SocketDispatcher::PostCall(std::move(call));
}

void X1SocketNotifyWindow::RunCallback(int handle, const CallbackPtr& entry, unsigned event) {
    X1Socket* socket = nullptr;
    {
        HandleShard& shard = ShardOf(handle);
        std::lock_guard<std::mutex> lock(shard.mutex);
        auto it = shard.callbacks.find(handle);
        if (it == shard.callbacks.end() || it->second != entry)
            return;  // closed or handed on since the event was made
        socket = entry->socket;
        if (socket->GetHandle() == INVALID_SOCKET_HANDLE) {
            shard.callbacks.erase(it);
            return;
        }
        // Marked before the shard's lock goes, so an Unregister that removes the entry next
        // finds the call running and waits for it.
        std::lock_guard<std::mutex> running(m_runningMutex);
        Running& mark = m_running[socket];
        ++mark.count;
        mark.runner = std::this_thread::get_id();
    }
    Invoke(socket, event);
    std::lock_guard<std::mutex> running(m_runningMutex);
    auto done = m_running.find(socket);
    if (--done->second.count == 0)
        m_running.erase(done);
    m_callbackDone.notify_all();
}

X1SocketCallbackThread::X1SocketCallbackThread()
    : m_previous(X1SocketNotifyWindow::Instance().GetCallbackThread()) {
    X1SocketNotifyWindow::Instance().SetCallbackThread(GetCurrentThreadId());
}

X1SocketCallbackThread::~X1SocketCallbackThread() {
    X1SocketNotifyWindow::Instance().SetCallbackThread(m_previous);
}

namespace {

// The wait set of the calling system thread, made on first use and kept while the thread lives:
// system threads serve one session after another (CThread), and each can use it in turn.
std::shared_ptr<SocketWaitSet> ThreadWaitSet() {
    thread_local std::shared_ptr<SocketWaitSet> set;
    if (!set)
        set = SocketWaitSet::Create();
    return set;
}

}  // namespace

X1SocketOwnerWait::X1SocketOwnerWait() : m_set(ThreadWaitSet()) {
    if (!m_set)
        return;
    const int wake = m_set->WakeDescriptor();
    InstallQueueWaiter([set = m_set](DWORD timeoutMs) { set->Wait(timeoutMs); }, wake);
    X1SocketNotifyWindow::Instance().SetOwnerWaitSet(GetCurrentThreadId(), m_set);
}

X1SocketOwnerWait::~X1SocketOwnerWait() {
    if (!m_set)
        return;
    X1SocketNotifyWindow::Instance().SetOwnerWaitSet(GetCurrentThreadId(), nullptr);
    RemoveQueueWaiter();
}
