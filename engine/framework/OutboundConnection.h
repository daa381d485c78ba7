#pragma once
// COutboundConnection: opens the outbound connection of a proxy session, directly or through
// an upstream server, as its service's ConnectMethod says. CTwoEndTCPSession::ConnectRemote
// is Connect with the session's four upstream settings; sessions that always connect to their
// target directly (SOCKS, RealAudio, VDOLive, FTP data) use ConnectDirect.
//
// Order in a session, for every outbound connection:
//   1. the engine's CheckDialFirst(session): a normal return means connect now; its
//      X1SocketException ends the request like any socket failure (it is not called here, so
//      that the session decides when the line is needed);
//   2. Connect / ConnectDirect (below): host name check, target guard, connect, upstream
//      handshake;
//   3. the protocol's first bytes (under method 1 the request in proxy form, absolute URL).
//
// Connect by ConnectMethod (OutboundFormat.h gives the bytes):
//   0 direct         the target host:port;
//   1 HTTP proxy     ProxyServer:ProxyPort, nothing sent (the session speaks to the proxy);
//   2 SOCKS 4        ProxyServer:ProxyPort, then the SOCKS 4 request for the target's address
//                    (resolved here) with SOCKS4Password as user id; reply code 90 grants,
//                    any other code refuses with the AccessDenied text, a reply that ends
//                    early fails with the NoResponse text;
//   4 CONNECT tunnel ProxyServer:ProxyPort, then "CONNECT host:port HTTP/1.0" and the reply
//                    head read line by line up to its empty line (CUpstreamConnectReply); a
//                    reply that does not grant, ends early or is too long fails with the
//                    BadResponse text.
//   Any other method fails with 10022 without connecting.
// Before anything connects, the target host name is checked (no CR, LF, space, NUL or other
// control byte; COutboundTargetGuard::CheckHostName) under every method. Every address this
// code connects to, and the SOCKS 4 target address, passes the engine's target guard
// (COutboundTargetGuard::Instance()), and the connect uses the checked address.
//
// Every failure throws X1SocketException by pointer: connect failures keep the socket layer's
// codes and texts, a failed lookup is 10022 with the HostnameLookupFailed text, upstream
// refusals are code 0 with the texts read from the store at the moment of failure (defaults in
// OutboundFormat.h), and a reply that does not come within ReplyTimeoutMs gives the blocking
// read's time-out exception. The socket is left as it is after a failure; the session closes it.
//
// The socket must belong to the calling thread (X1Socket.h). A closed socket is created first
// (a stream socket for the calling thread); an open one is connected as it is.

#include "engine/framework/OutboundFormat.h"
#include "platform/kernel/Types.h"

#include <string>

class X1Socket;

// The upstream settings a TCP service hands to its two-ended sessions.
struct COutboundSettings {
    DWORD ConnectMethod = OutboundFormat::kMethodDirect;
    std::string ProxyServer;
    UINT ProxyPort = 0;
    std::string SOCKS4Password;
    // How long an upstream server may take for its whole reply.
    DWORD ReplyTimeoutMs = OutboundFormat::kReplyTimeoutMs;
};

class COutboundConnection {
public:
    // Connects `socket` to `host`:`port` by settings.ConnectMethod (see above).
    static void Connect(X1Socket& socket, const std::string& host, UINT port,
                        const COutboundSettings& settings);

    // Connects `socket` to `host`:`port` directly, through the target guard: method 0 of
    // Connect, whatever the service's settings.
    static void ConnectDirect(X1Socket& socket, const std::string& host, UINT port);

    // Sends one datagram of `count` bytes from the datagram socket `socket` to `host`:`port`
    // after the target guard has passed it as a UDP target (the checked address is the one
    // sent to). Returns the bytes sent; a refusal or a send failure throws.
    static int SendDatagram(X1Socket& socket, const void* bytes, int count,
                            const std::string& host, UINT port);
};
