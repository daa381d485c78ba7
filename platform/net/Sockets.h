#pragma once
// The socket calls of the system: IPv4 stream and datagram sockets whose failures carry the
// classic socket error numbers (SocketErrors.h; WSAGetLastError() after a failing call), and
// whose events are announced by the socket dispatcher (SocketDispatcher.h) once selection is on.
//
// Every socket made here is non-blocking underneath; the calls that wait (connect, a send that
// finds no room, an accept asked to wait) wait with poll and a deadline, and give up when the
// socket is closed by another thread. Receives never wait. Sends never raise SIGPIPE.
//
// A descriptor is known to this layer from NetSocket or NetAccept until NetClose; calls on any
// other descriptor fail with WSAENOTSOCK.

#include "platform/kernel/Types.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class SocketWaitSet;

inline constexpr int NET_SOCK_STREAM = 1;
inline constexpr int NET_SOCK_DGRAM = 2;

// Event bits of the asynchronous selection.
inline constexpr unsigned FD_READ = 0x01;
inline constexpr unsigned FD_WRITE = 0x02;
inline constexpr unsigned FD_OOB = 0x04;
inline constexpr unsigned FD_ACCEPT = 0x08;
inline constexpr unsigned FD_CONNECT = 0x10;
inline constexpr unsigned FD_CLOSE = 0x20;

inline constexpr int INVALID_SOCKET_HANDLE = -1;
inline constexpr DWORD NET_ADDR_ANY = 0;
inline constexpr DWORD NET_ADDR_BROADCAST = 0xFFFFFFFFu;

// An IPv4 address and port, both in host byte order.
struct NetAddress {
    DWORD address = 0;
    WORD port = 0;
};

// A new socket of NET_SOCK_STREAM or NET_SOCK_DGRAM, or -1.
int NetSocket(int type);

// Ends the socket's notices, then closes it. The descriptor is released even when close
// reports an error (false then).
bool NetClose(int s);

// Connects, waiting at most `timeoutMs` (WSAETIMEDOUT after that; the attempt is abandoned). A
// datagram socket only fixes its peer.
bool NetConnect(int s, const NetAddress& to, DWORD timeoutMs);

bool NetBind(int s, const NetAddress& local);
bool NetListen(int s, int backlog);

// Takes a pending connection: its new socket, or -1. With `waitMs` 0 it never waits
// (WSAEWOULDBLOCK when nothing is pending); otherwise it waits that long (INFINITE: until a
// connection comes or the socket is closed).
int NetAccept(int s, NetAddress* peer, DWORD waitMs);

// Sends all `count` bytes of a stream socket, waiting for room up to `timeoutMs` in all
// (WSAETIMEDOUT after that); one datagram on a datagram socket. Returns the count or -1.
long NetSend(int s, const void* bytes, std::size_t count, DWORD timeoutMs);

// One datagram to `to` (the broadcast address is allowed). Returns the count or -1.
long NetSendTo(int s, const void* bytes, std::size_t count, const NetAddress& to);

// One datagram for NetSendDatagrams: the caller sets `bytes`, `count` and `to`; the call sets
// `sent` (the count, or -1) and `error` (0, or the socket error code of a failed send).
struct NetOutgoingDatagram {
    const void* bytes = nullptr;
    std::size_t count = 0;
    NetAddress to;
    long sent = 0;
    int error = 0;
};

// Sends `count` datagrams in order, many per system call, each as NetSendTo would (waiting for
// room up to the same bound, for the whole call): a datagram that fails is marked and the
// others still go. Returns how many were sent, or -1 (nothing sent) when `s` is no socket.
int NetSendDatagrams(int s, NetOutgoingDatagram* datagrams, std::size_t count);

// Takes (or, with `peek`, copies) at most `size` waiting bytes; 0 when none wait. On a
// datagram socket: one datagram; an empty one is consumed and gives 0; one longer than `size`
// is consumed and fails with WSAEMSGSIZE; a pending ICMP error is consumed and not reported.
long NetRecv(int s, void* buffer, std::size_t size, bool peek);

// A file that NetMove writes the bytes it moves into as they pass (a web cache's content file
// filled while the response is relayed). The caller sets `file` (open for writing) and
// `offset` (where the bytes go); the move advances `offset` past what it wrote, after the
// bytes were sent, and sets `error` (an errno) when a write failed or fell short: the bytes
// from there on are not written, the move goes on. A move whose send fails writes nothing.
struct NetMoveCopy {
    int file = -1;
    std::uint64_t offset = 0;
    int error = 0;
};

// Moves at most `maxBytes` of the bytes waiting on connected stream socket `from` to connected
// stream socket `to` without copying them through this process (splice through a pipe of the
// calling thread): the count moved, 0 when nothing waited (or `from` failed, as NetRecv reads
// a failed stream). Sending waits for room up to `timeoutMs` as NetSend does; when it fails,
// -1, and `*taken` says how many bytes had been taken from `from` (those not sent are lost, as
// the bytes of a failed NetSend are). `sentCount` (when given) counts the bytes sent as they
// go, so that another thread sees a slow peer's progress while a send waits. With `copy`, the
// bytes moved are written into its file too (the kernel copies them into the file; a second
// pipe of the thread holds them meanwhile). Fails with WSAEOPNOTSUPP, taking nothing, when
// either socket is not a connected stream or the thread cannot have its pipes: the caller
// copies.
long NetMove(int from, int to, std::size_t maxBytes, DWORD timeoutMs, std::size_t* taken,
             std::atomic<DWORD>* sentCount = nullptr, NetMoveCopy* copy = nullptr);

// NetRecv with the sender's address (a stream socket gives its peer).
long NetRecvFrom(int s, void* buffer, std::size_t size, NetAddress* from);

// One datagram taken by NetRecvDatagrams: the caller sets `buffer` and `size`; the call sets
// `length` (the bytes kept), `from` and `truncated` (the datagram was longer than `size` and
// only its head is kept; the rest is gone).
struct NetDatagram {
    void* buffer = nullptr;
    std::size_t size = 0;
    std::size_t length = 0;
    NetAddress from;
    bool truncated = false;
};

// Takes up to `count` (at most 64) waiting datagrams of a datagram socket, many per system
// call: how many (empty datagrams count, with length 0), 0 when none wait, or -1. Pending ICMP
// errors are consumed and not reported. When the socket was found empty the read notice is
// not evaluated again (the next datagram announces itself); after a full batch it is.
int NetRecvDatagrams(int s, NetDatagram* datagrams, std::size_t count);

// Bytes waiting on a stream socket; on a datagram socket the length of the next datagram,
// after consuming empty datagrams at the head of the queue. -1 on failure.
long NetBytesAvailable(int s);

bool NetShutdownSend(int s);
// Whether the peer of a connected stream socket has ended its stream (or the connection
// failed), even while bytes it sent before still wait unread.
bool NetPeerEnded(int s);
// Ends both directions: a read or connect waiting on the socket in another thread returns (the
// peer sees the end of stream); the handle stays open until closed.
bool NetShutdownBoth(int s);
// From any thread, for the socket whose registration is `generation` (NetGeneration): ends
// both directions, and every wait of this layer on it (a send for room, a connect, an accept)
// gives up with WSAESHUTDOWN within moments. False, and nothing done, when that socket has
// been closed: its descriptor number may already be another socket's.
bool NetInterrupt(std::uint64_t generation);

// Reads and discards what arrives until the peer's end of stream, `maxBytes` or `timeoutMs`;
// returns the bytes discarded.
std::size_t NetDrain(int s, DWORD timeoutMs, std::size_t maxBytes);

bool NetSetLinger(int s, bool on, int seconds);
bool NetSetNoDelay(int s, bool on);
bool NetSetReuseAddress(int s, bool on);
bool NetGetLocalAddress(int s, NetAddress* local);
bool NetGetPeerAddress(int s, NetAddress* peer);
bool NetIsDatagram(int s);

// Asynchronous selection: starts (or restarts) announcing the events in `mask` for the socket,
// or stops with mask 0. Starting re-evaluates the socket's state at once (SocketDispatcher.h
// gives the rules).
bool NetAsyncSelect(int s, unsigned mask);

// Sends the socket's events to `set`, the wait set of the thread its notices go to, or, with
// nullptr, to the dispatcher thread (SocketDispatcher.h). Notices and their rules stay the
// same either way; only the thread that finds them due changes.
bool NetRouteEvents(int s, std::shared_ptr<SocketWaitSet> set);

// Re-evaluates a selected socket after its notices changed hands, as a restart would.
bool NetReevaluate(int s);

// The generation of the socket's registration: a number never given to another socket of the
// process, so a notice can be matched to the socket it was made for. 0 for an unknown handle.
std::uint64_t NetGeneration(int s);
