#include "platform/net/SocketDispatcher.h"

#include "platform/net/SocketRegistration.h"
#include "platform/net/Sockets.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// Generation 0 marks the wake-up descriptor in epoll's data; registrations start at 1.
constexpr std::uint64_t kWakeToken = 0;
constexpr int kMaxEvents = 64;
// A datagram socket's queue of ICMP errors is consumed in at most this many steps per look.
constexpr int kMaxErrorsPerLook = 16;

thread_local bool t_isDispatcherThread = false;

constexpr std::size_t kTableShards = 64;

struct TableShard {
    std::mutex mutex;
    std::unordered_map<int, RegistrationPtr> byFd;
    std::unordered_map<std::uint64_t, RegistrationPtr> byGeneration;
};

struct Dispatcher {
    std::mutex startMutex;
    bool started = false;
    int epfd = -1;
    int wakefd = -1;

    // The registrations, in shards by descriptor number: every socket operation looks its
    // registration up, and one table lock for all of them made the session threads queue for
    // it. A registration's generation falls in the shard of its descriptor.
    std::array<TableShard, kTableShards> table;
    std::atomic<std::uint64_t> nextGeneration{1};

    std::mutex callMutex;
    std::vector<std::function<void()>> calls;

    std::atomic<ISocketNoticeSink*> sink{nullptr};
};

// Built on first use and never destroyed: the dispatcher thread and sockets closed during
// static destruction still find it intact.
Dispatcher& D() {
    static Dispatcher* dispatcher = new Dispatcher;
    return *dispatcher;
}

TableShard& ShardOfFd(int fd) { return D().table[static_cast<unsigned>(fd) % kTableShards]; }

TableShard& ShardOfGeneration(std::uint64_t generation) {
    return D().table[generation % kTableShards];
}

// A new generation for a registration of `fd`, in the shard of `fd`.
std::uint64_t NewGeneration(int fd) {
    return D().nextGeneration.fetch_add(1, std::memory_order_relaxed) * kTableShards +
           static_cast<unsigned>(fd) % kTableShards;
}

RegistrationPtr FindGeneration(std::uint64_t token) {
    TableShard& shard = ShardOfGeneration(token);
    std::lock_guard<std::mutex> lock(shard.mutex);
    auto it = shard.byGeneration.find(token);
    return it == shard.byGeneration.end() ? nullptr : it->second;
}

// Notices found due on this thread, held until its outermost NoticeScope ends.
struct HeldNotice {
    int fd;
    std::uint64_t generation;
    unsigned event;
};
thread_local std::vector<HeldNotice> t_heldNotices;
thread_local int t_noticeScopes = 0;

void Deliver(int fd, std::uint64_t generation, unsigned event) {
    if (ISocketNoticeSink* sink = D().sink.load())
        sink->OnSocketNotice(fd, generation, event);
}

// True when a datagram, empty or not, waits. Pending ICMP errors are consumed on the way.
bool DatagramWaiting(int fd) {
    for (int step = 0; step < kMaxErrorsPerLook; ++step) {
        if (recv(fd, nullptr, 0, MSG_PEEK | MSG_DONTWAIT | MSG_TRUNC) >= 0)
            return true;
        if (errno != EINTR && !SocketDispatcher::IsIcmpError(errno))
            return false;
    }
    return false;
}

bool ConnectionPending(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

void RunCalls() {
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard<std::mutex> lock(D().callMutex);
        calls.swap(D().calls);
    }
    for (auto& call : calls) {
        try {
            call();
        } catch (...) {
        }
        call = nullptr;
    }
}

void DrainWakeups(int wakefd) {
    std::uint64_t count;
    while (read(wakefd, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
    }
}

// What epoll's own bits say, evaluated without asking the socket again; only a peer that has
// ended its stream is asked whether bytes still wait before its close is announced, and a
// listener whether a connection still waits.
void OnEpollEvent(SocketRegistration& r, std::uint32_t bits) {
    SocketDispatcher::NoticeScope scope;
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.role == SocketRole::Listening) {
        // Asked again, not taken from the bits: the owner may have accepted the connection
        // these bits announce while they waited here, and a notice for it would find nothing.
        SocketDispatcher::Evaluate(r, SocketDispatcher::kEvalAccept, false);
        return;
    }
    if (r.role == SocketRole::Datagram && !(bits & EPOLLERR)) {
        // A datagram arrived: epoll's bit says so without a look at the socket, which would
        // hold the registration while its owner waits to receive. Only a pending ICMP error
        // needs the look, which consumes it.
        SocketDispatcher::StreamState arrived;
        arrived.bytes = (bits & EPOLLIN) != 0;
        SocketDispatcher::Evaluate(r, SocketDispatcher::kEvalRead, false, &arrived);
        return;
    }
    if (r.role != SocketRole::Connected) {
        SocketDispatcher::Evaluate(r, SocketDispatcher::kEvalRead | SocketDispatcher::kEvalClose,
                                   false);
        return;
    }
    if (bits & (EPOLLRDHUP | EPOLLHUP))
        r.peerEnded = true;
    SocketDispatcher::StreamState st;
    st.failed = (bits & EPOLLERR) != 0;
    st.ended = r.peerEnded;
    if (st.ended && !st.failed) {
        int waiting = 0;
        st.bytes = ioctl(r.fd, FIONREAD, &waiting) == 0 && waiting > 0;
    } else {
        st.bytes = (bits & EPOLLIN) != 0;
    }
    SocketDispatcher::Evaluate(r, SocketDispatcher::kEvalRead | SocketDispatcher::kEvalClose, false,
                               &st);
}

void Loop(int epfd, int wakefd) {
    t_isDispatcherThread = true;
    epoll_event events[kMaxEvents];
    for (;;) {
        int n = epoll_wait(epfd, events, kMaxEvents, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;  // only a broken epoll descriptor gets here; nothing can be watched now
        }
        for (int i = 0; i < n; ++i) {
            const std::uint64_t token = events[i].data.u64;
            if (token == kWakeToken) {
                DrainWakeups(wakefd);
                continue;
            }
            RegistrationPtr r = FindGeneration(token);
            if (!r)
                continue;  // closed since epoll reported it
            OnEpollEvent(*r, events[i].events);
        }
        RunCalls();
    }
}

void Notify(const SocketRegistration& r, unsigned event) {
    if (t_noticeScopes > 0)
        t_heldNotices.push_back({r.fd, r.generation, event});
    else
        Deliver(r.fd, r.generation, event);
}

// Adds `r` to the epoll set (the epoll descriptor is fixed once started; r.watched is
// guarded by r.mutex, or not yet shared). A descriptor that is still there under an ended registration
// (detached without a close, or closed and reused behind this layer's back) is taken over
// with its new generation. Events of an ended generation are dropped on arrival, so a
// closed descriptor leaves the set with its close and needs no call of its own.
bool AddToEpoll(SocketRegistration& r) {
    const int epfd = r.waitSet ? r.waitSet->Descriptor() : D().epfd;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    ev.data.u64 = r.generation;
    if (epoll_ctl(epfd, EPOLL_CTL_ADD, r.fd, &ev) != 0 &&
        (errno != EEXIST || epoll_ctl(epfd, EPOLL_CTL_MOD, r.fd, &ev) != 0))
        return false;
    r.watched = true;
    r.epfd = epfd;
    return true;
}


}  // namespace

std::shared_ptr<SocketWaitSet> SocketWaitSet::Create() {
    const int epfd = epoll_create1(EPOLL_CLOEXEC);
    if (epfd < 0)
        return nullptr;
    const int wakefd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeToken;
    if (wakefd < 0 || epoll_ctl(epfd, EPOLL_CTL_ADD, wakefd, &ev) != 0) {
        const int err = errno;
        if (wakefd >= 0)
            close(wakefd);
        close(epfd);
        errno = err;
        return nullptr;
    }
    return std::shared_ptr<SocketWaitSet>(new SocketWaitSet(epfd, wakefd));
}

SocketWaitSet::~SocketWaitSet() {
    close(m_wakeFd);
    close(m_epfd);
}

void SocketWaitSet::Wait(DWORD timeoutMs) {
    epoll_event events[kMaxEvents];
    const int timeout = timeoutMs == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(timeoutMs, 0x7FFFFFFF));
    const int n = epoll_wait(m_epfd, events, kMaxEvents, timeout);
    for (int i = 0; i < n; ++i) {
        const std::uint64_t token = events[i].data.u64;
        if (token == kWakeToken) {
            DrainWakeups(m_wakeFd);
            continue;
        }
        if (RegistrationPtr r = FindGeneration(token))
            OnEpollEvent(*r, events[i].events);
    }
}

namespace SocketDispatcher {

NoticeScope::NoticeScope() { ++t_noticeScopes; }

NoticeScope::~NoticeScope() {
    if (--t_noticeScopes > 0 || t_heldNotices.empty())
        return;
    std::vector<HeldNotice> notices;
    notices.swap(t_heldNotices);
    for (const HeldNotice& n : notices)
        Deliver(n.fd, n.generation, n.event);
}

bool Start() {
    Dispatcher& d = D();
    std::lock_guard<std::mutex> lock(d.startMutex);
    if (d.started)
        return true;
    int epfd = epoll_create1(EPOLL_CLOEXEC);
    if (epfd < 0)
        return false;
    int wakefd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakefd < 0) {
        int err = errno;
        close(epfd);
        errno = err;
        return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeToken;
    if (epoll_ctl(epfd, EPOLL_CTL_ADD, wakefd, &ev) != 0) {
        int err = errno;
        close(wakefd);
        close(epfd);
        errno = err;
        return false;
    }
    // A peer that goes away mid-send must fail the send, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        std::thread(Loop, epfd, wakefd).detach();
    } catch (const std::system_error&) {
        close(wakefd);
        close(epfd);
        errno = EAGAIN;
        return false;
    }
    d.epfd = epfd;
    d.wakefd = wakefd;
    d.started = true;
    return true;
}

void SetSink(ISocketNoticeSink* sink) { D().sink.store(sink); }

bool PostCall(std::function<void()> call) {
    if (!Start())
        return false;
    {
        std::lock_guard<std::mutex> lock(D().callMutex);
        D().calls.push_back(std::move(call));
    }
    const std::uint64_t one = 1;
    // A full counter still wakes the loop, so a failed write loses nothing.
    [[maybe_unused]] ssize_t written = write(D().wakefd, &one, sizeof one);
    return true;
}

bool IsDispatcherThread() { return t_isDispatcherThread; }

RegistrationPtr Register(int fd, SocketRole role, bool watch) {
    if (!Start())
        return nullptr;
    RegistrationPtr r;
    TableShard& shard = ShardOfFd(fd);
    {
        std::lock_guard<std::mutex> lock(shard.mutex);
        auto stale = shard.byFd.find(fd);
        if (stale != shard.byFd.end()) {
            // The number was closed behind this layer's back and handed out again: the old
            // registration is over.
            stale->second->alive = false;
            shard.byGeneration.erase(stale->second->generation);
            shard.byFd.erase(stale);
        }
        r = std::make_shared<SocketRegistration>(fd, NewGeneration(fd), role);
        shard.byFd.emplace(fd, r);
        shard.byGeneration.emplace(r->generation, r);
    }
    // Added to epoll outside the table lock: epoll reports what already waits at once, and
    // the dispatcher must find the registration then without waiting for this thread. The
    // registration is not handed out yet, so `watched` is this thread's alone.
    if (watch && role != SocketRole::Unconnected && !AddToEpoll(*r)) {
        const int err = errno;
        std::lock_guard<std::mutex> lock(shard.mutex);
        auto it = shard.byFd.find(fd);
        if (it != shard.byFd.end() && it->second == r)
            shard.byFd.erase(it);
        shard.byGeneration.erase(r->generation);
        r->alive = false;
        errno = err;
        return nullptr;
    }
    return r;
}

bool Watch(SocketRegistration& r) { return r.watched || AddToEpoll(r); }

bool WatchIfDue(SocketRegistration& r) {
    return r.role == SocketRole::Unconnected || r.role == SocketRole::Connecting || Watch(r);
}

bool RouteEvents(SocketRegistration& r, std::shared_ptr<SocketWaitSet> set) {
    if (r.waitSet == set)
        return WatchIfDue(r);
    const int from = r.watched ? r.epfd : -1;
    // The old set's descriptor stays open (held here) until the socket has left it.
    const std::shared_ptr<SocketWaitSet> old = std::exchange(r.waitSet, std::move(set));
    if (from < 0)
        return WatchIfDue(r);
    if (from == (r.waitSet ? r.waitSet->Descriptor() : D().epfd))
        return true;
    // Added to the new set first: epoll reports there what already waits, so nothing that
    // happened meanwhile is missed; an event the old set still hands out is evaluated there,
    // which is as good.
    r.watched = false;
    if (!AddToEpoll(r)) {
        r.watched = true;
        return false;
    }
    epoll_ctl(from, EPOLL_CTL_DEL, r.fd, nullptr);
    return true;
}

RegistrationPtr Find(int fd) {
    TableShard& shard = ShardOfFd(fd);
    std::lock_guard<std::mutex> lock(shard.mutex);
    auto it = shard.byFd.find(fd);
    return it == shard.byFd.end() ? nullptr : it->second;
}

RegistrationPtr FindByGeneration(std::uint64_t generation) { return FindGeneration(generation); }

RegistrationPtr Unregister(int fd) {
    RegistrationPtr r;
    {
        TableShard& shard = ShardOfFd(fd);
        std::lock_guard<std::mutex> lock(shard.mutex);
        auto it = shard.byFd.find(fd);
        if (it == shard.byFd.end())
            return nullptr;
        r = it->second;
        shard.byGeneration.erase(r->generation);
        shard.byFd.erase(it);
    }
    std::lock_guard<std::mutex> lock(r->mutex);
    r->alive = false;
    return r;
}

StreamState ProbeStream(SocketRegistration& r) {
    StreamState st;
    pollfd p{r.fd, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0)
        return st;
    if (p.revents & (POLLRDHUP | POLLHUP))
        r.peerEnded = true;
    st.ended = r.peerEnded;
    st.failed = (p.revents & POLLERR) != 0;
    if (!(p.revents & POLLIN))
        return st;
    // Readable and not ended: bytes wait. Readable and ended: the end itself makes it
    // readable, so only the count tells.
    int waiting = 0;
    st.bytes = !st.ended || (ioctl(r.fd, FIONREAD, &waiting) == 0 && waiting > 0);
    return st;
}

void Evaluate(SocketRegistration& r, unsigned what, bool restart, const StreamState* known) {
    if (!r.alive)
        return;
    if (restart) {
        r.closePosted = false;
        r.acceptPosted = false;
    }
    if (!r.selecting)
        return;
    switch (r.role) {
    case SocketRole::Listening:
        if ((what & kEvalAccept) && (r.mask & FD_ACCEPT) && !r.acceptPosted &&
            (known ? known->bytes : ConnectionPending(r.fd))) {
            r.acceptPosted = true;
            Notify(r, FD_ACCEPT);
        }
        break;
    case SocketRole::Connected: {
        if ((what & kEvalWrite) && (r.mask & FD_WRITE) && r.writeDue) {
            r.writeDue = false;
            Notify(r, FD_WRITE);
        }
        if (!(what & (kEvalRead | kEvalClose)))
            break;
        const bool wantRead = (what & kEvalRead) && (r.mask & FD_READ);
        const bool wantClose = (what & kEvalClose) && (r.mask & FD_CLOSE) && !r.closePosted;
        if (!wantRead && !wantClose)
            break;
        const StreamState st = known ? *known : ProbeStream(r);
        if (wantRead && st.bytes)
            Notify(r, FD_READ);
        if (wantClose && (st.failed || (st.ended && !st.bytes))) {
            r.closePosted = true;
            Notify(r, FD_CLOSE);
        }
        break;
    }
    case SocketRole::Datagram:
        if ((what & kEvalWrite) && (r.mask & FD_WRITE) && r.writeDue) {
            r.writeDue = false;
            Notify(r, FD_WRITE);
        }
        if ((what & kEvalRead) && (r.mask & FD_READ) &&
            (known ? known->bytes : DatagramWaiting(r.fd)))
            Notify(r, FD_READ);
        break;
    case SocketRole::Unconnected:
    case SocketRole::Connecting:
        break;  // a socket that is not connected or listening has nothing to announce
    }
}

}  // namespace SocketDispatcher
