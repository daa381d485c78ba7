#include "platform/net/SocketDispatcher.h"

#include "platform/net/SocketRegistration.h"
#include "platform/net/Sockets.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

// Generation 0 marks the wake-up descriptor in epoll's data; registrations start at 1.
constexpr std::uint64_t kWakeToken = 0;
constexpr int kMaxEvents = 64;
// A datagram socket's queue of ICMP errors is consumed in at most this many steps per look.
constexpr int kMaxErrorsPerLook = 16;

thread_local bool t_isDispatcherThread = false;

struct Dispatcher {
    std::mutex startMutex;
    bool started = false;
    int epfd = -1;
    int wakefd = -1;

    std::mutex tableMutex;
    std::unordered_map<int, RegistrationPtr> byFd;
    std::unordered_map<std::uint64_t, RegistrationPtr> byGeneration;
    std::uint64_t nextGeneration = 1;

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

struct StreamState {
    int bytes = 0;
    bool ended = false;   // the peer ended its stream (or both directions are shut)
    bool failed = false;  // a pending error: the connection was reset
};

StreamState LookAtStream(int fd) {
    StreamState st;
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0)
        return st;
    st.ended = (p.revents & (POLLRDHUP | POLLHUP)) != 0;
    st.failed = (p.revents & POLLERR) != 0;
    // A stream with bytes waiting always polls readable: without that, there is nothing to count.
    if ((p.revents & POLLIN) && ioctl(fd, FIONREAD, &st.bytes) != 0)
        st.bytes = 0;
    return st;
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
            RegistrationPtr r;
            {
                std::lock_guard<std::mutex> lock(D().tableMutex);
                auto it = D().byGeneration.find(token);
                if (it != D().byGeneration.end())
                    r = it->second;
            }
            if (!r)
                continue;  // closed since epoll reported it
            std::lock_guard<std::mutex> lock(r->mutex);
            SocketDispatcher::Evaluate(*r, SocketDispatcher::kEvalRead |
                                               SocketDispatcher::kEvalClose |
                                               SocketDispatcher::kEvalAccept,
                                       false);
        }
        RunCalls();
    }
}

void Notify(const SocketRegistration& r, unsigned event) {
    if (ISocketNoticeSink* sink = D().sink.load())
        sink->OnSocketNotice(r.fd, r.generation, event);
}

}  // namespace

namespace SocketDispatcher {

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

RegistrationPtr Register(int fd, SocketRole role) {
    if (!Start())
        return nullptr;
    Dispatcher& d = D();
    std::lock_guard<std::mutex> lock(d.tableMutex);
    auto stale = d.byFd.find(fd);
    if (stale != d.byFd.end()) {
        // The number was closed behind this layer's back and handed out again: the old
        // registration is over.
        stale->second->alive = false;
        d.byGeneration.erase(stale->second->generation);
        d.byFd.erase(stale);
        epoll_ctl(d.epfd, EPOLL_CTL_DEL, fd, nullptr);
    }
    auto r = std::make_shared<SocketRegistration>(fd, d.nextGeneration++, role);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    ev.data.u64 = r->generation;
    if (epoll_ctl(d.epfd, EPOLL_CTL_ADD, fd, &ev) != 0)
        return nullptr;
    d.byFd.emplace(fd, r);
    d.byGeneration.emplace(r->generation, r);
    return r;
}

RegistrationPtr Find(int fd) {
    std::lock_guard<std::mutex> lock(D().tableMutex);
    auto it = D().byFd.find(fd);
    return it == D().byFd.end() ? nullptr : it->second;
}

RegistrationPtr Unregister(int fd) {
    RegistrationPtr r;
    {
        std::lock_guard<std::mutex> lock(D().tableMutex);
        auto it = D().byFd.find(fd);
        if (it == D().byFd.end())
            return nullptr;
        r = it->second;
        D().byGeneration.erase(r->generation);
        D().byFd.erase(it);
    }
    std::lock_guard<std::mutex> lock(r->mutex);
    r->alive = false;
    epoll_ctl(D().epfd, EPOLL_CTL_DEL, fd, nullptr);
    return r;
}

void Evaluate(SocketRegistration& r, unsigned what, bool restart) {
    if (!r.alive)
        return;
    if (restart)
        r.closePosted = false;
    if (!r.selecting)
        return;
    switch (r.role) {
    case SocketRole::Listening:
        if ((what & kEvalAccept) && (r.mask & FD_ACCEPT) && ConnectionPending(r.fd))
            Notify(r, FD_ACCEPT);
        break;
    case SocketRole::Connected: {
        if ((what & kEvalWrite) && (r.mask & FD_WRITE) && r.writeDue) {
            r.writeDue = false;
            Notify(r, FD_WRITE);
        }
        if (!(what & (kEvalRead | kEvalClose)))
            break;
        const StreamState st = LookAtStream(r.fd);
        if ((what & kEvalRead) && (r.mask & FD_READ) && st.bytes > 0)
            Notify(r, FD_READ);
        if ((what & kEvalClose) && (r.mask & FD_CLOSE) && !r.closePosted &&
            (st.failed || (st.ended && st.bytes == 0))) {
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
        if ((what & kEvalRead) && (r.mask & FD_READ) && DatagramWaiting(r.fd))
            Notify(r, FD_READ);
        break;
    case SocketRole::Unconnected:
    case SocketRole::Connecting:
        break;  // a socket that is not connected or listening has nothing to announce
    }
}

}  // namespace SocketDispatcher
