#pragma once
// Every text of the SOCKS service and session, and the configuration values it reads by name.
// The formats are printf formats of the program's own; outside text only ever fills a "%s".

#include "platform/kernel/Types.h"

// ---- The service -------------------------------------------------------------------------

inline constexpr const char* kSOCKSServiceName = "SOCKS Proxy server";
inline constexpr UINT kSOCKSServicePort = 1080;

// Registry values, in the order written after the TCP service's (and the archive fields in
// the same order: five DWORDs, then the string).
inline constexpr const char* kUseRFC1929Value = "UseRFC1929";
inline constexpr const char* kDoReverseLookupsValue = "DoReverseLookups";
inline constexpr const char* kReferHTTPRequestsValue = "ReferHTTPRequests";
inline constexpr const char* kCacheReferredHTTPRequestsValue = "CacheReferredHTTPRequests";
inline constexpr const char* kUseSpecifiedPolicyValue = "UseSpecifiedPolicy";
inline constexpr const char* kHTTPPolicyValue = "HTTPPolicy";

// ---- Session descriptions (the request text: consoles, "Requested" lines) ----------------

inline constexpr const char* kRequestTextInitial = "SOCKS:";
// The target host before a request named one.
inline constexpr const char* kNoTarget = "0.0.0.0";
inline constexpr const char* kSocks4Connect = "SOCKS4 Connect %s:%u";
inline constexpr const char* kSocks4Bind = "SOCKS4 Bind %s:%u";
inline constexpr const char* kSocks5Connect = "SOCKS5 Connect %s:%u";
inline constexpr const char* kSocks5Bind = "SOCKS5 Bind %s:%u";
inline constexpr const char* kSocks5UdpAssociate = "SOCKS5 UDP Associate %s:%u";
inline constexpr const char* kSocks4BindConnected = "SOCKS4 Bind %s:%u - connected";
inline constexpr const char* kSocks5BindConnected = "SOCKS5 Bind %s:%u - connected";
inline constexpr const char* kHandOverText = "handover";
// Also written as an error line.
inline constexpr const char* kSocks4NoUserId = "SOCKS4 Session did not send password - terminating";

// ---- Error lines -------------------------------------------------------------------------

inline constexpr const char* kErrorInvalidCommand =
    "Invalid command received in SOCKS session - terminating";
inline constexpr const char* kErrorNegotiation = "Could not negotiate SOCKS5 access - terminating";
inline constexpr const char* kErrorAddressType =
    "Unsupported or invalid address type (%u) in SOCKS5 request - terminating";
inline constexpr const char* kErrorVersion = "Unsupported SOCKS version (%u) - terminating";
inline constexpr const char* kErrorUserIdTooLong =
    "SOCKS4 user id longer than %u bytes - terminating";
inline constexpr const char* kErrorBindPeer =
    "SOCKS Bind connection from %s instead of %s - terminating";
inline constexpr const char* kErrorHandOverPolicy =
    "Could not lookup specified WWW Server for HTTP Handover";

inline constexpr const char* kErrorOnReadSocket =
    "Caught socket exception in CSOCKSSession::OnRead() %s - terminating";
inline constexpr const char* kErrorOnReadUnknown =
    "Caught unknown exception in CSOCKSSession::OnRead() - terminating";
inline constexpr const char* kErrorOnAcceptSocket =
    "Caught socket exception in CSOCKSSession::OnAccept() %s - ignoring";
inline constexpr const char* kErrorOnAcceptUnknown =
    "Caught unknown exception in CSOCKSSession::OnAccept() - ignoring";
inline constexpr const char* kErrorOnCloseSocket =
    "Caught socket exception in CSOCKSSession::OnClose() %s - terminating";
inline constexpr const char* kErrorOnCloseUnknown =
    "Caught unknown exception in CSOCKSSession::OnClose() - terminating";

// ---- Debug lines -------------------------------------------------------------------------

// A datagram of the UDP relay that is not passed on: sender, port, why.
inline constexpr const char* kDebugDatagramDropped = "Datagram from %s:%u dropped - %s";
inline constexpr const char* kDropTooLong = "longer than the relay takes";
inline constexpr const char* kDropMalformed = "malformed SOCKS5 header";
inline constexpr const char* kDropClientUnknown = "the client's datagram address is not known";
