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

void X1SocketNotifyWindow::DropOwner(int handle) {
    auto it = m_owners.find(handle);
    if (it == m_owners.end())
        return;
    WithdrawThreadMessages(it->second.thread, kSocketAccept, kSocketClose,
                           static_cast<std::uintptr_t>(handle));
    EraseOwner(it);
}

void X1SocketNotifyWindow::AddOwner(int handle, OwnerEntry entry) {
    m_owners[handle] = entry;
    m_handlesByOwner[entry.thread].insert(handle);
}

void X1SocketNotifyWindow::EraseOwner(std::map<int, OwnerEntry>::iterator owner) {
    auto handles = m_handlesByOwner.find(owner->second.thread);
    if (handles != m_handlesByOwner.end()) {
        handles->second.erase(owner->first);
        if (handles->second.empty())
            m_handlesByOwner.erase(handles);
    }
    m_owners.erase(owner);
}

void X1SocketNotifyWindow::RegisterOwner(int handle, DWORD threadId) {
    if (handle == INVALID_SOCKET_HANDLE)
        return;
    const std::uint64_t generation = NetGeneration(handle);
    std::shared_ptr<SocketWaitSet> set;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_owners.find(handle);
        if (it != m_owners.end() && it->second.thread == threadId &&
            it->second.generation == generation)
            return;  // no change: nothing to hand over
        DropOwner(handle);
        m_callbacks.erase(handle);
        AddOwner(handle, {threadId, generation});
        auto waits = m_waitSets.find(threadId);
        if (waits != m_waitSets.end())
            set = waits->second;
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
    std::shared_ptr<SocketWaitSet> set;
    entry->socket = socket;
    entry->generation = NetGeneration(handle);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_callbacks.find(handle);
        if (it != m_callbacks.end() && it->second->socket == socket &&
            it->second->generation == entry->generation)
            return;
        DropOwner(handle);
        m_callbacks[handle] = entry;
        set = CallbackWaitSet();
    }
    NetRouteEvents(handle, std::move(set));
    NetReevaluate(handle);
}

void X1SocketNotifyWindow::Unregister(int handle) {
    if (handle == INVALID_SOCKET_HANDLE)
        return;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_owners.count(handle)) {
        DropOwner(handle);
        return;
    }
    auto it = m_callbacks.find(handle);
    if (it == m_callbacks.end())
        return;
    const X1Socket* socket = it->second->socket;
    m_callbacks.erase(it);
    WaitForCallbacks(lock, socket);
}

void X1SocketNotifyWindow::WaitForCallbacks(const X1Socket* socket) {
    std::unique_lock<std::mutex> lock(m_mutex);
    WaitForCallbacks(lock, socket);
}

void X1SocketNotifyWindow::WaitForCallbacks(std::unique_lock<std::mutex>& lock,
                                            const X1Socket* socket) {
    const auto self = std::this_thread::get_id();
    m_callbackDone.wait(lock, [&] {
        auto it = m_running.find(socket);
        return it == m_running.end() || it->second.runner == self;
    });
}

void X1SocketNotifyWindow::PostToOwner(std::map<int, OwnerEntry>::iterator owner, int handle,
                                       UINT message) {
    if (message != 0 &&
        !PostThreadMessageOnce(owner->second.thread, message, static_cast<std::uintptr_t>(handle),
                               0) &&
        GetLastError() == ERROR_INVALID_THREAD_ID)
        EraseOwner(owner);  // its thread has ended: nobody will ever read these
}

DWORD X1SocketNotifyWindow::GetOwner(int handle) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_owners.find(handle);
    return it == m_owners.end() ? 0 : it->second.thread;
}

X1Socket* X1SocketNotifyWindow::GetCallbackSocket(int handle) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_callbacks.find(handle);
    return it == m_callbacks.end() ? nullptr : it->second->socket;
}

void X1SocketNotifyWindow::SetOwnerWaitSet(DWORD threadId, std::shared_ptr<SocketWaitSet> set) {
    std::vector<int> handles;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (set)
            m_waitSets[threadId] = set;
        else
            m_waitSets.erase(threadId);
        auto owned = m_handlesByOwner.find(threadId);
        if (owned != m_handlesByOwner.end())
            handles.assign(owned->second.begin(), owned->second.end());
        if (threadId == m_callbackThread)
            for (const auto& callback : m_callbacks)
                handles.push_back(callback.first);
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

std::shared_ptr<SocketWaitSet> X1SocketNotifyWindow::CallbackWaitSet() const {
    auto it = m_waitSets.find(m_callbackThread);
    return m_callbackThread == 0 || it == m_waitSets.end() ? nullptr : it->second;
}

void X1SocketNotifyWindow::SetCallbackThread(DWORD threadId) {
    std::vector<int> handles;
    std::shared_ptr<SocketWaitSet> set;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::shared_ptr<SocketWaitSet> before = CallbackWaitSet();
        m_callbackThread = threadId;
        set = CallbackWaitSet();
        if (set != before)
            for (const auto& callback : m_callbacks)
                handles.push_back(callback.first);
    }
    Reroute(handles, set);
}

DWORD X1SocketNotifyWindow::GetCallbackThread() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_callbackThread;
}

void X1SocketNotifyWindow::OnSocketNotice(int s, std::uint64_t generation, unsigned event) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto owner = m_owners.find(s);
    if (owner != m_owners.end()) {
        if (owner->second.generation == generation)
            PostToOwner(owner, s, MessageForEvent(event));
        return;
    }
    auto callback = m_callbacks.find(s);
    if (callback == m_callbacks.end() || callback->second->generation != generation ||
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
        std::unique_lock<std::mutex> lock(m_mutex);
        RunCallback(lock, handle, entry, event);
    };
    if (m_callbackThread != 0) {
        if (PostThreadCall(m_callbackThread, call))
            return;
        m_callbackThread = 0;  // the callback thread has ended: serve callbacks here from now on
    }
    SocketDispatcher::PostCall(std::move(call));
}

void X1SocketNotifyWindow::RunCallback(std::unique_lock<std::mutex>& lock, int handle,
                                       const CallbackPtr& entry, unsigned event) {
    auto it = m_callbacks.find(handle);
    if (it == m_callbacks.end() || it->second != entry)
        return;  // closed or handed on since the event was made
    X1Socket* socket = entry->socket;
    if (socket->GetHandle() == INVALID_SOCKET_HANDLE) {
        m_callbacks.erase(it);
        return;
    }
    Running& running = m_running[socket];
    ++running.count;
    running.runner = std::this_thread::get_id();
    lock.unlock();
    Invoke(socket, event);
    lock.lock();
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
