#pragma once
// COutboundTargetGuard: the one check every outbound connection of the engine passes before it
// connects or sends (two-ended sessions through COutboundConnection, and the SOCKS, FTP,
// streaming and mapping sessions for their own targets).
//
// It refuses
//   - a host name that is empty, longer than kMaxHostNameLength, or holds a space, NUL or any
//     other control byte (CR and LF included), before any lookup: such a name must never reach
//     a resolver or an upstream request line (kBadTargetHostText, 10022);
//   - a port outside 1-65535 (kBadTargetPortText, 10022): ports are narrowed to 16 bits on the
//     wire, so 808 + 65536 would otherwise reach port 808;
//   - any address in 0.0.0.0/8 (kBadTargetAddressText, 10022): Linux connects 0.0.0.0 to this
//     host, and 0.0.0.x is the SOCKS 4A marker;
//   - any address of this host (127.0.0.0/8 or an address of its own interfaces) on a port
//     where this engine itself listens (kOwnListenerTargetText, 10013): no client reaches the
//     remote-control service through a proxy, nor loops the engine through its own proxy.
//     When the interfaces cannot be listed, such a port is refused on every address that is
//     not known to be remote (fail closed).
// Other loopback targets stay allowed; administrators restrict them with request filters.
//
// Listening ports are registered by whoever listens (services when they start, sessions that
// open a data or mapping listener) and unregistered when the listener closes; registrations
// are counted, so two listeners of one port need two unregistrations. Every operation is
// thread-safe. Refusals throw X1SocketException by pointer, like every socket failure.
//
// The address to connect to is the one checked: callers resolve through ResolveChecked and
// connect to the returned address (dotted), never to the name again, so a name cannot resolve
// to another address between the check and the connect.

#include "platform/kernel/Types.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>

class X1Socket;

enum class OutboundTransport { Tcp, Udp };

class COutboundTargetGuard {
public:
    COutboundTargetGuard() = default;
    COutboundTargetGuard(const COutboundTargetGuard&) = delete;
    COutboundTargetGuard& operator=(const COutboundTargetGuard&) = delete;

    // The engine's guard, used by every outbound connection.
    static COutboundTargetGuard& Instance();

    // Registers a listening port of this engine (ports outside 1-65535 are ignored).
    void RegisterListeningPort(UINT port, OutboundTransport transport = OutboundTransport::Tcp);
    // Takes one registration back; nothing when there is none.
    void UnregisterListeningPort(UINT port, OutboundTransport transport = OutboundTransport::Tcp);
    bool IsListeningPort(UINT port, OutboundTransport transport = OutboundTransport::Tcp) const;

    // Throws unless `host` is an acceptable host name or dotted address (rules above).
    static void CheckHostName(const std::string& host);
    // True when CheckHostName would accept `host`.
    static bool IsAcceptableHostName(const std::string& host);

    // Throws unless `port` is 1-65535; `host` names the target in the text.
    static void CheckPort(const std::string& host, UINT port);

    // Throws when `address` (host byte order) on `port` is refused.
    void CheckAddress(DWORD address, UINT port,
                      OutboundTransport transport = OutboundTransport::Tcp) const;

    // CheckHostName, CheckPort, resolution (a dotted address as it is, else the first address
    // of the lookup; a failed lookup throws 10022 with the HostnameLookupFailed text and sets
    // the thread's socket error to 10022), then CheckAddress. Returns the checked address.
    DWORD ResolveChecked(const std::string& host, UINT port,
                         OutboundTransport transport = OutboundTransport::Tcp) const;

private:
    mutable std::mutex m_mutex;
    std::map<std::pair<OutboundTransport, UINT>, unsigned> m_listening;
};

// Registers a listening port with the engine's guard for its lifetime.
class CListeningPortRegistration {
public:
    explicit CListeningPortRegistration(UINT port,
                                        OutboundTransport transport = OutboundTransport::Tcp);
    ~CListeningPortRegistration();
    CListeningPortRegistration(const CListeningPortRegistration&) = delete;
    CListeningPortRegistration& operator=(const CListeningPortRegistration&) = delete;

private:
    UINT m_port;
    OutboundTransport m_transport;
};

// Creates `socket` for the calling thread as a stream socket listening with `backlog`
// (NET_SOCK_STREAM) or as a datagram socket (NET_SOCK_DGRAM), bound to `port` (0: any free
// port) on `address` (empty: every interface), and keeps its port registered with the
// engine's guard (as a TCP or UDP port) until the handle is closed. Throws X1SocketException;
// the socket is closed again after a failure. Notices are the caller's to select.
void OpenGuardedSocket(X1Socket& socket, int type, UINT port = 0, const std::string& address = {},
                       int backlog = 5);
