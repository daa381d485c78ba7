#pragma once
// The socket dispatcher: one thread on epoll that watches every socket of platform/net and
// announces, through one sink, the events each selected socket is due. It stands in for the
// asynchronous-selection service of the system's original platform; where that service was
// vague, the rules below are what the system's protocol code relies on. A thread that waits
// for its own sockets (SocketWaitSet) watches the sockets routed to it itself, by the same
// rules; the dispatcher thread watches the rest.
//
// Per socket it keeps the event mask, whether selection is on, the role (unconnected,
// connecting, connected, listening, datagram), whether a write notice is owed, whether the
// close notice went out, and a generation number. Notices are computed from the socket's
// state (bytes waiting, end of stream, error, pending connection) at the moment something may
// have changed: an epoll edge, a receive or peek, an accept, a send that had to wait, a
// (re)start of selection, a change of the notices' owner. The rules:
//  - read: announced when bytes wait after new bytes arrive, after each receive or peek, and
//    when selection (re)starts or changes owner; the sink keeps at most one outstanding;
//  - close: once the peer has ended its stream and every byte has been read, or at once on a
//    reset; again only after a restart of selection or a change of owner; never for a socket
//    that is not connected, never after a local close (closing ends the registration);
//  - write: once after connect or accept (when selection with FD_WRITE is on), then only after
//    a send had to wait for room; never merely because the socket is writable;
//  - accept: when a connection is pending after one arrives, after each accept, and when
//    selection (re)starts; selection may start before listen;
//  - datagram sockets: read when a datagram (even an empty one) waits; a pending ICMP error is
//    consumed here and never announced.
//
// What is due is taken from epoll's own bits where they say it (new bytes, a pending
// connection, the peer's end, an error) and from the result of the receive that ran, so an
// event costs no second look at the socket; only the close of a peer that ended its stream
// asks whether bytes still wait. Sinks are called after the socket's registration lock is
// released, on the thread that found the notice due; they must not call back into
// platform/net and must not block (posting a thread message is the intended use). A notice
// may therefore reach the sink after the socket's state moved on (a read notice for bytes
// another thread took meanwhile): receivers tolerate a read with nothing waiting, and drop a
// notice whose generation is not the socket's current one.

#include "platform/kernel/Types.h"

#include <cstdint>
#include <functional>
#include <memory>

class ISocketNoticeSink {
public:
    virtual ~ISocketNoticeSink() = default;
    // `event` is one FD_ bit of Sockets.h.
    virtual void OnSocketNotice(int s, std::uint64_t generation, unsigned event) = 0;
};

// The epoll set of one thread that waits for its own sockets' events (a session thread, whose
// queue waiter calls Wait): the events of the sockets routed to it (NetRouteEvents) are
// evaluated on that thread, by the same rules, and their notices go to the sink as ever, so
// they reach the thread without a hand-over from the dispatcher thread. Shared by the thread
// and the registrations routed to it.
class SocketWaitSet {
public:
    // nullptr (errno set) when its descriptors cannot be had.
    static std::shared_ptr<SocketWaitSet> Create();
    ~SocketWaitSet();
    SocketWaitSet(const SocketWaitSet&) = delete;
    SocketWaitSet& operator=(const SocketWaitSet&) = delete;

    // Waits up to `timeoutMs` (INFINITE: without a deadline) for events of the set's sockets or
    // a signal of its wake descriptor, and evaluates the events that came.
    void Wait(DWORD timeoutMs);
    // An eventfd whose signal ends a Wait (Wait reads it empty).
    int WakeDescriptor() const { return m_wakeFd; }
    int Descriptor() const { return m_epfd; }

private:
    SocketWaitSet(int epfd, int wakeFd) : m_epfd(epfd), m_wakeFd(wakeFd) {}
    const int m_epfd;
    const int m_wakeFd;
};

namespace SocketDispatcher {

// Starts the dispatcher thread if it does not run yet (the first socket call does so too).
// False (errno set) when epoll or the thread cannot be created. SIGPIPE is ignored from then on.
bool Start();

// The sink that receives every notice (one per process; nullptr drops notices).
void SetSink(ISocketNoticeSink* sink);

// Runs `call` on the dispatcher thread, outside every lock of this layer, soon. An exception it
// throws is swallowed. False when the dispatcher cannot run.
bool PostCall(std::function<void()> call);

// True on the dispatcher thread.
bool IsDispatcherThread();

}  // namespace SocketDispatcher
