#pragma once
// The dispatcher's record of one socket (internal to platform/net: Sockets.cpp and
// SocketDispatcher.cpp). A registration lives from NetSocket/NetAccept to NetClose; its
// generation is never reused, so an epoll event or a notice made for it can never be taken for
// a later socket that got the same descriptor number.
//
// Locking: `mutex` guards the fields below it and is held around every non-blocking call on
// the descriptor that can change what is due (receive, peek, accept) together with the
// evaluation that follows, so the dispatcher's view and the socket's state never disagree.
// The notices an evaluation finds due are handed to the sink only once the lock is released
// (NoticeScope), so a woken owner never finds the lock still held by the thread that woke it.
// The table lock of the dispatcher is never taken while a registration lock is held, except
// to register the socket that an accept created.

#include "platform/kernel/Types.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/net/SocketDispatcher.h"

enum class SocketRole { Unconnected, Connecting, Connected, Listening, Datagram };

struct SocketRegistration {
    SocketRegistration(int s, std::uint64_t gen, SocketRole r) : fd(s), generation(gen), role(r) {}

    std::mutex mutex;
    const int fd;
    const std::uint64_t generation;
    // Cleared (under `mutex`) when the socket is closed; readable without the lock by waiters
    // that poll in slices and must stop when another thread closes the socket.
    std::atomic<bool> alive{true};
    // Set by NetInterrupt (under `mutex`); waiters give up when they see it.
    std::atomic<bool> interrupted{false};

    SocketRole role;
    unsigned mask = 0;
    bool selecting = false;
    bool writeDue = false;     // a write notice is owed (after connect/accept, or a waiting send)
    bool closePosted = false;  // the close notice went out since selection last (re)started
    // An accept notice went out and no accept has been tried since: further arrivals wait for
    // that accept, so each notice stands for a connection its owner has not yet been told of.
    bool acceptPosted = false;
    bool watched = false;      // in an epoll set (connected, listening and datagram sockets)
    // The thread's set its events go to (RouteEvents; null: the dispatcher's), and the epoll
    // descriptor it is in while watched.
    std::shared_ptr<SocketWaitSet> waitSet;
    int epfd = -1;
    bool peerEnded = false;    // the peer ended its stream (epoll's RDHUP/HUP, or a receive of 0)
};

using RegistrationPtr = std::shared_ptr<SocketRegistration>;

namespace SocketDispatcher {

// What an evaluation looks at.
inline constexpr unsigned kEvalRead = 1;
inline constexpr unsigned kEvalWrite = 2;
inline constexpr unsigned kEvalClose = 4;
inline constexpr unsigned kEvalAccept = 8;
inline constexpr unsigned kEvalAll = 15;

// Errors that an ICMP message leaves pending on a datagram socket; they are consumed, never
// reported, so one unreachable peer cannot fail the socket's other traffic.
inline bool IsIcmpError(int err) {
    return err == ECONNREFUSED || err == EHOSTUNREACH || err == ENETUNREACH || err == EHOSTDOWN;
}

// What is known of a connected stream socket (or, `bytes`, of a listener: a connection is
// pending) without asking the kernel again.
struct StreamState {
    bool bytes = false;   // bytes wait (or may: a notice too many is harmless, one too few not)
    bool ended = false;   // the peer ended its stream (or both directions are shut)
    bool failed = false;  // a pending error: the connection was reset
};

// Collects the notices that evaluations on this thread find due while it lives, and hands
// them to the sink when the outermost scope ends. Declare one before taking a registration
// lock, so that the notices go out after the lock is released.
class NoticeScope {
public:
    NoticeScope();
    ~NoticeScope();
    NoticeScope(const NoticeScope&) = delete;
    NoticeScope& operator=(const NoticeScope&) = delete;
};

// Registers `fd` under a new generation; sockets of the roles that can have events are
// watched by epoll at once (with `watch`), an unconnected stream socket only once it connects
// or listens (Watch), an accepted one once its events are routed or selected (the thread that
// will own it is known then, and it goes straight to that thread's set). nullptr (errno set)
// when the dispatcher cannot.
RegistrationPtr Register(int fd, SocketRole role, bool watch = true);

// Adds a registered socket to its epoll set (nothing when it is there already); epoll reports
// what is already waiting at once. Call with r.mutex held. False (errno set) on failure.
bool Watch(SocketRegistration& r);
// Watch for a socket whose role has events (connected, listening, datagram); true for others.
bool WatchIfDue(SocketRegistration& r);

// Sends the epoll events of `r` to `set` from now on (nullptr: to the dispatcher thread),
// moving it between epoll sets when it is watched. Call with r.mutex held. False (errno set)
// when it cannot be watched where it should be.
bool RouteEvents(SocketRegistration& r, std::shared_ptr<SocketWaitSet> set);

// The live registration of `fd`, or nullptr.
RegistrationPtr Find(int fd);
// The live registration of that generation, or nullptr.
RegistrationPtr FindByGeneration(std::uint64_t generation);

// Ends the registration of `fd` (no notice is made for it afterwards) and returns it, or
// nullptr when there was none. The descriptor itself is left open.
RegistrationPtr Unregister(int fd);

// Announces what is due for `r` among `what`; `restart` makes a close notice due again. A
// connected stream socket's, a listener's or a datagram socket's state is `known` when the
// caller has it (from epoll's bits or a receive's result), else it is probed with poll (and,
// for a peer that ended, FIONREAD; on a datagram socket, a peek that consumes ICMP errors).
// Call with r.mutex held, inside a NoticeScope.
void Evaluate(SocketRegistration& r, unsigned what, bool restart,
              const StreamState* known = nullptr);

// The state poll finds (and FIONREAD, once the peer ended). r.mutex held.
StreamState ProbeStream(SocketRegistration& r);

}  // namespace SocketDispatcher
