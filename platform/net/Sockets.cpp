#include "platform/net/Sockets.h"

#include "platform/kernel/Clock.h"
#include "platform/net/SocketErrors.h"
#include "platform/net/SocketRegistration.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace SocketDispatcher;

namespace {

// Waits in slices of at most this long, so a wait notices when another thread closes the socket.
constexpr int kWaitSliceMs = 250;
// How long a datagram send waits for room in the send buffer.
constexpr DWORD kDatagramSendWaitMs = 10000;
// Pending ICMP errors consumed in one receive, at most.
constexpr int kMaxErrorsPerReceive = 16;
// The capacity NetMove asks for its pipe (the system's default of 64 KiB is kept when the
// user's allowance for larger pipes is used up).
constexpr int kMovePipeBytes = 262144;

// The calling thread's pipe for NetMove. It is empty between calls: a move that cannot empty
// it closes it, and the next move opens another.
class MovePipe {
public:
    ~MovePipe() { Close(); }

    bool Open() {
        if (m_read >= 0)
            return true;
        int fds[2];
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
            return false;
        m_read = fds[0];
        m_write = fds[1];
        fcntl(m_write, F_SETPIPE_SZ, kMovePipeBytes);
        const int capacity = fcntl(m_write, F_GETPIPE_SZ);
        m_capacity = capacity > 0 ? static_cast<std::size_t>(capacity) : 65536;
        return true;
    }

    void Close() {
        if (m_read >= 0) {
            close(m_read);
            close(m_write);
        }
        m_read = m_write = -1;
    }

    int ReadEnd() const { return m_read; }
    int WriteEnd() const { return m_write; }
    std::size_t Capacity() const { return m_capacity; }

private:
    int m_read = -1;
    int m_write = -1;
    std::size_t m_capacity = 0;
};

thread_local MovePipe t_movePipe;
// The second pipe of NetMove with a copy: it holds the bytes moved until they are in the file.
// Empty between calls, as the first.
thread_local MovePipe t_copyPipe;

// Duplicates the `count` bytes at the front of `pipe` into the copy pipe (they stay in `pipe`
// for the socket). False, with `copy.error` set, when they could not all be.
bool TeeForCopy(MovePipe& pipe, std::size_t count, NetMoveCopy& copy) {
    long n;
    do {
        n = tee(pipe.ReadEnd(), t_copyPipe.WriteEnd(), count, SPLICE_F_NONBLOCK);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<long>(count))
        return true;
    // A part cannot be completed: tee always starts again at the front of `pipe`.
    copy.error = n < 0 ? errno : EIO;
    t_copyPipe.Close();
    return false;
}

// Writes the `count` bytes the copy pipe holds into the copy's file at its offset.
void WriteCopy(std::size_t count, NetMoveCopy& copy) {
    loff_t offset = static_cast<loff_t>(copy.offset);
    std::size_t written = 0;
    while (written < count) {
        const ssize_t n = splice(t_copyPipe.ReadEnd(), nullptr, copy.file, &offset,
                                 count - written, SPLICE_F_MOVE);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        copy.error = n < 0 ? errno : EIO;
        t_copyPipe.Close();  // the bytes it still holds are not written
        break;
    }
    copy.offset += written;
}

bool Fail(int socketError) {
    WSASetLastError(socketError);
    return false;
}

bool FailErrno() { return Fail(SocketErrorFromErrno(errno)); }

// The same for calls that answer a number: -1.
int FailedWith(int socketError) {
    WSASetLastError(socketError);
    return -1;
}

int FailedWithErrno() { return FailedWith(SocketErrorFromErrno(errno)); }

sockaddr_in ToSockaddr(const NetAddress& a) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(a.address);
    sin.sin_port = htons(a.port);
    return sin;
}

NetAddress FromSockaddr(const sockaddr_in& sin) {
    return {ntohl(sin.sin_addr.s_addr), ntohs(sin.sin_port)};
}

RegistrationPtr FindOrFail(int s) {
    RegistrationPtr r = Find(s);
    if (!r)
        Fail(WSAENOTSOCK);
    return r;
}

// Waits until `events` are ready on the socket: 1 when ready, 0 at the deadline (ms on the
// monotonic clock; UINT64_MAX for none), -1 when the socket was closed or poll failed.
int WaitReady(const SocketRegistration& r, short events, std::uint64_t deadline) {
    for (;;) {
        if (!r.alive) {
            WSASetLastError(WSAEINTR);
            return -1;
        }
        if (r.interrupted) {
            WSASetLastError(WSAESHUTDOWN);
            return -1;
        }
        const std::uint64_t now = GetTickCount64();
        if (now >= deadline)
            return 0;
        int slice = static_cast<int>(std::min<std::uint64_t>(deadline - now, kWaitSliceMs));
        pollfd p{r.fd, events, 0};
        int rc = poll(&p, 1, slice);
        if (rc > 0)
            return 1;
        if (rc < 0 && errno != EINTR) {
            FailErrno();
            return -1;
        }
    }
}

std::uint64_t DeadlineAfter(DWORD timeoutMs) {
    return timeoutMs == INFINITE ? UINT64_MAX : GetTickCount64() + timeoutMs;
}

// One receive on a registered socket, with the evaluation that follows it. Datagram sockets
// consume pending ICMP errors and report truncation; stream sockets report nothing waiting as 0.
long Receive(int s, void* buffer, std::size_t size, bool peek, NetAddress* from) {
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return -1;
    NoticeScope scope;
    std::lock_guard<std::mutex> lock(r->mutex);
    const bool datagram = r->role == SocketRole::Datagram;
    sockaddr_in sin{};
    long result = -1;
    int error = 0;
    bool endOfStream = false;
    for (int step = 0; step <= kMaxErrorsPerReceive; ++step) {
        iovec iov{buffer, size};
        msghdr msg{};
        msg.msg_name = &sin;
        msg.msg_namelen = sizeof sin;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        ssize_t n = recvmsg(s, &msg, MSG_DONTWAIT | (peek ? MSG_PEEK : 0));
        if (n >= 0) {
            if (datagram && !peek && (msg.msg_flags & MSG_TRUNC)) {
                error = WSAEMSGSIZE;  // the datagram is gone; its head is in the buffer
            } else {
                result = n;
                endOfStream = n == 0 && !datagram && size > 0;
                if (from && datagram)
                    *from = FromSockaddr(sin);
            }
            break;
        }
        if (errno == EINTR || (datagram && IsIcmpError(errno)))
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            result = 0;
        else
            error = SocketErrorFromErrno(errno);
        break;
    }
    if (result < 0 && error == 0)
        result = 0;  // only ICMP errors were waiting
    if (r->role == SocketRole::Connected && error == 0) {
        // The receive's own result says what is left, except after a full buffer: a peek
        // leaves bytes; fewer bytes than asked for took all there were; 0 from the call is the
        // peer's end. A full buffer may or may not have taken the last byte: asked.
        StreamState st;
        st.bytes = peek && result > 0;
        if (endOfStream)
            r->peerEnded = true;
        st.ended = r->peerEnded;
        const bool full = !peek && result > 0 && static_cast<std::size_t>(result) == size;
        Evaluate(*r, kEvalRead | kEvalClose, false, size > 0 && !full ? &st : nullptr);
    } else {
        Evaluate(*r, kEvalRead | kEvalClose, false);
    }
    if (error != 0)
        return FailedWith(error);
    if (from && !datagram && !NetGetPeerAddress(s, from))
        *from = NetAddress{};
    return result;
}

bool SetIntOption(int s, int level, int name, int value) {
    if (setsockopt(s, level, name, &value, sizeof value) != 0)
        return FailErrno();
    return true;
}

}  // namespace

int NetSocket(int type) {
    int kind;
    if (type == NET_SOCK_STREAM)
        kind = SOCK_STREAM;
    else if (type == NET_SOCK_DGRAM)
        kind = SOCK_DGRAM;
    else
        return FailedWith(WSAESOCKTNOSUPPORT);
    int s = socket(AF_INET, kind | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0)
        return FailedWithErrno();
    const bool datagram = kind == SOCK_DGRAM;
    RegistrationPtr r = Register(s, datagram ? SocketRole::Datagram : SocketRole::Unconnected);
    if (!r) {
        int err = errno;
        close(s);
        return FailedWith(SocketErrorFromErrno(err));
    }
    if (datagram) {
        std::lock_guard<std::mutex> lock(r->mutex);
        r->writeDue = true;  // a datagram socket can send from the start
    }
    return s;
}

bool NetClose(int s) {
    // The registration ends first, so no notice and no dispatcher look can reach the number
    // once close has released it; close itself may linger, so no lock is held across it.
    RegistrationPtr r = Unregister(s);
    if (!r)
        return Fail(WSAENOTSOCK);
    if (close(s) != 0 && errno != EINTR)
        return FailErrno();
    return true;
}

bool NetConnect(int s, const NetAddress& to, DWORD timeoutMs) {
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return false;
    const sockaddr_in sin = ToSockaddr(to);
    {
        std::lock_guard<std::mutex> lock(r->mutex);
        if (r->role == SocketRole::Datagram) {
            if (connect(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0)
                return FailErrno();
            return true;
        }
        if (r->role != SocketRole::Unconnected)
            return Fail(r->role == SocketRole::Connected ? WSAEISCONN : WSAEINVAL);
        r->role = SocketRole::Connecting;
    }
    int error = 0;
    if (connect(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            error = SocketErrorFromErrno(errno);
        } else {
            int ready = WaitReady(*r, POLLOUT, DeadlineAfter(timeoutMs));
            if (ready < 0) {
                error = WSAGetLastError();
            } else if (ready == 0) {
                error = WSAETIMEDOUT;
                // Abandon the attempt, so the socket does not connect behind the caller's back.
                sockaddr unspec{};
                unspec.sa_family = AF_UNSPEC;
                connect(s, &unspec, sizeof unspec);
            } else {
                int soError = 0;
                socklen_t len = sizeof soError;
                if (getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
                    soError = errno;
                if (soError != 0)
                    error = SocketErrorFromErrno(soError);
            }
        }
    }
    NoticeScope scope;
    std::lock_guard<std::mutex> lock(r->mutex);
    if (error != 0) {
        if (r->role == SocketRole::Connecting)
            r->role = SocketRole::Unconnected;
        return Fail(error);
    }
    if (!Watch(*r)) {
        r->role = SocketRole::Unconnected;
        return FailErrno();
    }
    r->role = SocketRole::Connected;
    r->writeDue = true;
    Evaluate(*r, kEvalAll, true);
    return true;
}

bool NetBind(int s, const NetAddress& local) {
    if (!FindOrFail(s))
        return false;
    // Windows lets a listener bind a port that an earlier listener's connections still hold in
    // TIME_WAIT; Linux only with SO_REUSEADDR. Without it a service stopped after traffic could
    // not start again for a minute. On Linux the option never lets a second listener take a
    // port that is listening, so stream sockets always carry it.
    int type = 0;
    socklen_t typeSize = sizeof type;
    if (getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &typeSize) == 0 && type == SOCK_STREAM)
        NetSetReuseAddress(s, true);
    const sockaddr_in sin = ToSockaddr(local);
    if (bind(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0)
        return FailErrno();
    return true;
}

bool NetListen(int s, int backlog) {
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return false;
    NoticeScope scope;
    std::lock_guard<std::mutex> lock(r->mutex);
    if (listen(s, backlog) != 0 || !Watch(*r))
        return FailErrno();
    r->role = SocketRole::Listening;
    Evaluate(*r, kEvalAccept, false);
    return true;
}

int NetAccept(int s, NetAddress* peer, DWORD waitMs) {
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return -1;
    const std::uint64_t deadline = DeadlineAfter(waitMs);
    for (;;) {
        {
            NoticeScope scope;
            std::lock_guard<std::mutex> lock(r->mutex);
            if (!r->alive)
                return FailedWith(WSAEINTR);
            // Trying to accept re-enables the accept notice (as after its connection was taken).
            r->acceptPosted = false;
            sockaddr_in sin{};
            socklen_t len = sizeof sin;
            int a = accept4(s, reinterpret_cast<sockaddr*>(&sin), &len,
                            SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (a >= 0) {
                RegistrationPtr ar = Register(a, SocketRole::Connected, false);
                if (!ar) {
                    int err = errno;
                    close(a);
                    Evaluate(*r, kEvalAccept, false);
                    return FailedWith(SocketErrorFromErrno(err));
                }
                {
                    std::lock_guard<std::mutex> alock(ar->mutex);
                    ar->writeDue = true;
                }
                if (peer)
                    *peer = FromSockaddr(sin);
                Evaluate(*r, kEvalAccept, false);
                return a;
            }
            // A connection that was reset while it waited is skipped, as if never pending.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
                errno != ECONNABORTED)
                return FailedWithErrno();
        }
        if (waitMs == 0)
            return FailedWith(WSAEWOULDBLOCK);
        int ready = WaitReady(*r, POLLIN, deadline);
        if (ready == 0)
            return FailedWith(WSAETIMEDOUT);
        if (ready < 0)
            return -1;
    }
}

long NetSend(int s, const void* bytes, std::size_t count, DWORD timeoutMs) {
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return -1;
    bool datagram;
    {
        std::lock_guard<std::mutex> lock(r->mutex);
        datagram = r->role == SocketRole::Datagram;
    }
    const std::uint64_t deadline = DeadlineAfter(timeoutMs);
    const char* p = static_cast<const char*>(bytes);
    std::size_t sent = 0;
    bool waited = false;
    // A stream send goes on until every byte is out; a datagram (even an empty one) is one send.
    while (datagram || sent < count) {
        ssize_t n = send(s, p + sent, count - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += static_cast<std::size_t>(n);
            if (datagram)
                break;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return FailedWithErrno();
        waited = true;
        int ready = WaitReady(*r, POLLOUT, deadline);
        if (ready == 0)
            return FailedWith(WSAETIMEDOUT);
        if (ready < 0)
            return -1;
    }
    if (waited) {
        NoticeScope scope;
        std::lock_guard<std::mutex> lock(r->mutex);
        r->writeDue = true;
        Evaluate(*r, kEvalWrite, false);
    }
    return static_cast<long>(sent);
}

long NetSendTo(int s, const void* bytes, std::size_t count, const NetAddress& to) {
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return -1;
    if (to.address == NET_ADDR_BROADCAST && !SetIntOption(s, SOL_SOCKET, SO_BROADCAST, 1))
        return -1;
    const sockaddr_in sin = ToSockaddr(to);
    const std::uint64_t deadline = DeadlineAfter(kDatagramSendWaitMs);
    for (;;) {
        ssize_t n = sendto(s, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT,
                           reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return FailedWithErrno();
        int ready = WaitReady(*r, POLLOUT, deadline);
        if (ready == 0)
            return FailedWith(WSAETIMEDOUT);
        if (ready < 0)
            return -1;
    }
}

long NetMove(int from, int to, std::size_t maxBytes, DWORD timeoutMs, std::size_t* taken,
             std::atomic<DWORD>* sentCount, NetMoveCopy* copy) {
    *taken = 0;
    RegistrationPtr rf = FindOrFail(from);
    RegistrationPtr rt = rf ? FindOrFail(to) : nullptr;
    if (!rt)
        return -1;
    for (SocketRegistration* r : {rf.get(), rt.get()}) {
        std::lock_guard<std::mutex> lock(r->mutex);
        if (r->role != SocketRole::Connected)
            return FailedWith(WSAEOPNOTSUPP);
    }
    if (maxBytes == 0)
        return 0;
    MovePipe& pipe = t_movePipe;
    if (!pipe.Open())
        return FailedWith(WSAEOPNOTSUPP);
    std::size_t size = std::min(maxBytes, pipe.Capacity());
    if (copy != nullptr && copy->error == 0) {
        if (!t_copyPipe.Open())
            return FailedWith(WSAEOPNOTSUPP);
        // The copy pipe must take all that is taken in one tee.
        size = std::min(size, t_copyPipe.Capacity());
    } else {
        copy = nullptr;
    }
    long in;
    {
        NoticeScope scope;
        std::lock_guard<std::mutex> lock(rf->mutex);
        do {
            in = splice(from, nullptr, pipe.WriteEnd(), nullptr, size,
                        SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        } while (in < 0 && errno == EINTR);
        // What the move says of `from`: bytes were taken (more may wait: the pipe's slots, not
        // the socket, may have ended it, and a read notice too many is harmless), the peer's
        // end, or nothing waiting. A failure (a reset) is probed, as a failed receive is.
        if (in >= 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            StreamState st;
            st.bytes = in > 0;
            if (in == 0)
                rf->peerEnded = true;
            st.ended = rf->peerEnded;
            Evaluate(*rf, kEvalRead | kEvalClose, false, &st);
        } else {
            Evaluate(*rf, kEvalRead | kEvalClose, false);
        }
    }
    if (in <= 0)
        return 0;
    *taken = static_cast<std::size_t>(in);
    if (copy != nullptr && !TeeForCopy(pipe, *taken, *copy))
        copy = nullptr;
    const std::uint64_t deadline = DeadlineAfter(timeoutMs);
    std::size_t sent = 0;
    bool waited = false;
    int error = 0;
    while (sent < *taken) {
        const ssize_t n = splice(pipe.ReadEnd(), nullptr, to, nullptr, *taken - sent,
                                 SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            if (sentCount != nullptr)
                sentCount->fetch_add(static_cast<DWORD>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waited = true;
            const int ready = WaitReady(*rt, POLLOUT, deadline);
            if (ready > 0)
                continue;
            error = ready == 0 ? WSAETIMEDOUT : WSAGetLastError();
        } else {
            error = n == 0 ? WSAESHUTDOWN : SocketErrorFromErrno(errno);
        }
        break;
    }
    if (waited) {
        NoticeScope scope;
        std::lock_guard<std::mutex> lock(rt->mutex);
        rt->writeDue = true;
        Evaluate(*rt, kEvalWrite, false);
    }
    if (error != 0) {
        pipe.Close();  // what it still holds is lost with the send
        if (copy != nullptr)
            t_copyPipe.Close();
        return FailedWith(error);
    }
    // The file is written once the peer has the bytes, so the peer never waits for it.
    if (copy != nullptr)
        WriteCopy(*taken, *copy);
    return static_cast<long>(sent);
}

int NetSendDatagrams(int s, NetOutgoingDatagram* datagrams, std::size_t count) {
    constexpr std::size_t kMaxBatch = 64;
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return -1;
    sockaddr_in targets[kMaxBatch];
    iovec iovs[kMaxBatch];
    mmsghdr messages[kMaxBatch];
    const std::uint64_t deadline = DeadlineAfter(kDatagramSendWaitMs);
    bool broadcast = false;
    int sentCount = 0;
    // Gives up the datagrams from `from` on.
    const auto giveUpFrom = [&](std::size_t from, int error) {
        for (std::size_t i = from; i < count; ++i) {
            datagrams[i].sent = -1;
            datagrams[i].error = error;
        }
    };
    std::size_t done = 0;
    while (done < count) {
        const std::size_t batch = std::min(count - done, kMaxBatch);
        for (std::size_t i = 0; i < batch; ++i) {
            NetOutgoingDatagram& d = datagrams[done + i];
            if (d.to.address == NET_ADDR_BROADCAST && !broadcast) {
                if (!SetIntOption(s, SOL_SOCKET, SO_BROADCAST, 1)) {
                    giveUpFrom(done, WSAGetLastError());
                    return sentCount;
                }
                broadcast = true;
            }
            targets[i] = ToSockaddr(d.to);
            iovs[i] = {const_cast<void*>(d.bytes), d.count};
            messages[i] = {};
            messages[i].msg_hdr.msg_name = &targets[i];
            messages[i].msg_hdr.msg_namelen = sizeof targets[i];
            messages[i].msg_hdr.msg_iov = &iovs[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int n = sendmmsg(s, messages, static_cast<unsigned>(batch), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            for (int i = 0; i < n; ++i) {
                datagrams[done + static_cast<std::size_t>(i)].sent = static_cast<long>(messages[i].msg_len);
                datagrams[done + static_cast<std::size_t>(i)].error = 0;
            }
            done += static_cast<std::size_t>(n);
            sentCount += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int ready = WaitReady(*r, POLLOUT, deadline);
            if (ready > 0)
                continue;
            giveUpFrom(done, ready == 0 ? WSAETIMEDOUT : WSAGetLastError());
            return sentCount;
        }
        // The first datagram of the run failed: it alone is given up.
        datagrams[done].sent = -1;
        datagrams[done].error = n < 0 ? SocketErrorFromErrno(errno) : WSAENOBUFS;
        ++done;
    }
    return sentCount;
}

long NetRecv(int s, void* buffer, std::size_t size, bool peek) {
    return Receive(s, buffer, size, peek, nullptr);
}

long NetRecvFrom(int s, void* buffer, std::size_t size, NetAddress* from) {
    return Receive(s, buffer, size, false, from);
}

int NetRecvDatagrams(int s, NetDatagram* datagrams, std::size_t count) {
    constexpr std::size_t kMaxBatch = 64;
    count = std::min(count, kMaxBatch);
    if (count == 0)
        return 0;
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return -1;
    NoticeScope scope;
    std::lock_guard<std::mutex> lock(r->mutex);
    if (r->role != SocketRole::Datagram)
        return FailedWith(WSAEOPNOTSUPP);
    sockaddr_in senders[kMaxBatch];
    iovec iovs[kMaxBatch];
    mmsghdr messages[kMaxBatch];
    for (std::size_t i = 0; i < count; ++i) {
        iovs[i] = {datagrams[i].buffer, datagrams[i].size};
        messages[i] = {};
        messages[i].msg_hdr.msg_name = &senders[i];
        messages[i].msg_hdr.msg_namelen = sizeof senders[i];
        messages[i].msg_hdr.msg_iov = &iovs[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    // Receives until the batch is full or the socket is found empty: a short batch can also
    // mean an error stopped it, with datagrams still waiting behind.
    std::size_t got = 0;
    int error = 0;
    int errorsLeft = kMaxErrorsPerReceive;
    bool empty = false;
    while (got < count) {
        const int n = recvmmsg(s, messages + got, static_cast<unsigned>(count - got), MSG_DONTWAIT,
                               nullptr);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EINTR || (IsIcmpError(errno) && errorsLeft-- > 0)))
            continue;
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK)
            empty = true;
        else if (!IsIcmpError(errno))
            error = SocketErrorFromErrno(errno);
        break;
    }
    for (std::size_t i = 0; i < got; ++i) {
        datagrams[i].length = messages[i].msg_len;
        datagrams[i].truncated = (messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        datagrams[i].from = FromSockaddr(senders[i]);
    }
    if (!empty)
        Evaluate(*r, kEvalRead, false);
    if (error != 0 && got == 0)
        return FailedWith(error);
    return static_cast<int>(got);
}

long NetBytesAvailable(int s) {
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return -1;
    std::lock_guard<std::mutex> lock(r->mutex);
    if (r->role != SocketRole::Datagram) {
        int bytes = 0;
        if (ioctl(s, FIONREAD, &bytes) != 0)
            return FailedWithErrno();
        return bytes;
    }
    // Empty datagrams and ICMP errors at the head are consumed: a reader that waits for bytes
    // must not be held up by a datagram that has none. The lock keeps the owner's own reads
    // from slipping between the look and the take.
    for (;;) {
        ssize_t n = recv(s, nullptr, 0, MSG_PEEK | MSG_DONTWAIT | MSG_TRUNC);
        if (n > 0)
            return static_cast<long>(n);
        if (n == 0) {
            char none;
            recv(s, &none, sizeof none, MSG_DONTWAIT);
            continue;
        }
        if (errno == EINTR || IsIcmpError(errno))
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return FailedWithErrno();
    }
}

bool NetShutdownSend(int s) {
    if (shutdown(s, SHUT_WR) != 0)
        return FailErrno();
    return true;
}

bool NetPeerEnded(int s) {
    pollfd p{s, POLLRDHUP, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

bool NetShutdownBoth(int s) {
    if (shutdown(s, SHUT_RDWR) != 0)
        return FailErrno();
    return true;
}

bool NetInterrupt(std::uint64_t generation) {
    RegistrationPtr r = FindByGeneration(generation);
    if (!r)
        return false;
    // Under the registration's lock: NetClose ends the registration under it before the
    // descriptor is released, so the number is still this socket's here.
    std::lock_guard<std::mutex> lock(r->mutex);
    if (!r->alive)
        return false;
    r->interrupted = true;
    shutdown(r->fd, SHUT_RDWR);  // fails harmlessly on a socket that is not connected
    return true;
}

std::size_t NetDrain(int s, DWORD timeoutMs, std::size_t maxBytes) {
    RegistrationPtr r = Find(s);
    if (!r)
        return 0;
    const std::uint64_t deadline = DeadlineAfter(timeoutMs);
    std::size_t drained = 0;
    char scratch[4096];
    while (drained < maxBytes) {
        ssize_t n = recv(s, scratch, std::min(sizeof scratch, maxBytes - drained), MSG_DONTWAIT);
        if (n > 0) {
            drained += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || WaitReady(*r, POLLIN, deadline) <= 0)
            break;
    }
    return drained;
}

bool NetSetLinger(int s, bool on, int seconds) {
    linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = seconds;
    if (setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
        return FailErrno();
    return true;
}

bool NetSetNoDelay(int s, bool on) { return SetIntOption(s, IPPROTO_TCP, TCP_NODELAY, on); }

bool NetSetReuseAddress(int s, bool on) { return SetIntOption(s, SOL_SOCKET, SO_REUSEADDR, on); }

namespace {

bool GetEndAddress(int s, NetAddress* end,
                   int (*query)(int, sockaddr*, socklen_t*)) {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (query(s, reinterpret_cast<sockaddr*>(&sin), &len) != 0)
        return FailErrno();
    *end = FromSockaddr(sin);
    return true;
}

}  // namespace

bool NetGetLocalAddress(int s, NetAddress* local) { return GetEndAddress(s, local, getsockname); }

bool NetGetPeerAddress(int s, NetAddress* peer) { return GetEndAddress(s, peer, getpeername); }

bool NetIsDatagram(int s) {
    RegistrationPtr r = Find(s);
    if (!r)
        return false;
    std::lock_guard<std::mutex> lock(r->mutex);
    return r->role == SocketRole::Datagram;
}

bool NetAsyncSelect(int s, unsigned mask) {
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return false;
    NoticeScope scope;
    std::lock_guard<std::mutex> lock(r->mutex);
    if (mask != 0 && !WatchIfDue(*r))
        return FailErrno();
    r->mask = mask;
    r->selecting = mask != 0;
    Evaluate(*r, kEvalAll, true);
    return true;
}

bool NetRouteEvents(int s, std::shared_ptr<SocketWaitSet> set) {
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return false;
    std::lock_guard<std::mutex> lock(r->mutex);
    if (!RouteEvents(*r, std::move(set)))
        return FailErrno();
    return true;
}

bool NetReevaluate(int s) {
    RegistrationPtr r = FindOrFail(s);
    if (!r)
        return false;
    NoticeScope scope;
    std::lock_guard<std::mutex> lock(r->mutex);
    Evaluate(*r, kEvalRead | kEvalClose | kEvalAccept, true);
    return true;
}

std::uint64_t NetGeneration(int s) {
    RegistrationPtr r = Find(s);
    return r ? r->generation : 0;
}
