#pragma once
// Outbound connections: the connect methods, the bytes sent to and read from upstream servers,
// and every text the outbound code shows, as one table.
//
// Upstream SOCKS 4 request (9 + n bytes), all multi-byte fields most significant byte first:
//
//   0      version 4
//   1      command 1 (connect)
//   2-3    target port
//   4-7    target IPv4 address
//   8..    user id: the first n bytes of SOCKS4Password (n <= 80, cut at a NUL), then a NUL
//
// Reply: 8 bytes; the second is the reply code, and only 90 grants (91 refused, 92 and 93
// identd failures, anything else unknown: all refuse). The first byte and the address part
// are not looked at (servers differ there).
//
// Upstream CONNECT tunnel: the request is kConnectRequestFormat; the reply is a status line
// "HTTP/1.<digit> 200" (any case, then a space or the line's end), header lines, and an empty
// line, read line by line so that nothing after the empty line is taken from the tunnel.

#include "platform/kernel/Types.h"

#include <cstddef>

namespace OutboundFormat {

// ConnectMethod values (CTCPService, CTwoEndTCPSession).
inline constexpr DWORD kMethodDirect = 0;
inline constexpr DWORD kMethodHttpProxy = 1;
inline constexpr DWORD kMethodSocks4 = 2;
inline constexpr DWORD kMethodConnectTunnel = 4;

// The time an upstream server has for its whole reply (SOCKS 4 reply, CONNECT reply head).
inline constexpr DWORD kReplyTimeoutMs = 30000;

// SOCKS 4 request and reply.
inline constexpr BYTE kSocks4Version = 4;
inline constexpr BYTE kSocks4CommandConnect = 1;
inline constexpr std::size_t kSocks4RequestFixedSize = 8;  // before the user id
inline constexpr std::size_t kSocks4MaxUserId = 80;
inline constexpr std::size_t kSocks4ReplySize = 8;
inline constexpr std::size_t kSocks4ReplyCodeAt = 1;
inline constexpr BYTE kSocks4Granted = 90;

// CONNECT request and reply.
inline constexpr char kConnectRequestFormat[] = "CONNECT %s:%u HTTP/1.0\r\n\r\n";
inline constexpr char kConnectStatusPrefix[] = "HTTP/1.";  // then a digit
inline constexpr char kConnectStatusGranted[] = " 200";
// The most bytes a CONNECT reply head (status line, header lines, empty line) may take.
inline constexpr std::size_t kMaxConnectReplyHead = 16384;

}  // namespace OutboundFormat

// ---- Texts an administrator may replace (key below the configuration root, value name, default)
// Each is formatted with the target host and port ("%s" then "%u"); a stored text that does not
// hold exactly those two conversions is not used.

struct SOutboundText {
    const char* key;
    const char* valueName;
    const char* defaultText;
};

inline constexpr SOutboundText kSocks4AccessDeniedText{
    "ErrorStrings\\SOCKS", "AccessDenied", "SOCKS4 connect to %s:%u failed - denied by SOCKS server"};
inline constexpr SOutboundText kSocks4NoResponseText{
    "ErrorStrings\\SOCKS", "NoResponse",
    "SOCKS4 connect to %s:%u failed - no response from SOCKS server"};
inline constexpr SOutboundText kTunnelBadResponseText{
    "ErrorStrings\\SSL", "BadResponse",
    "SSLTunnelling connect to %s:%u failed - bad response from HTTP server"};

// ---- Refusals of the target guard (never read from the store)
// A host name that is empty, too long, or holds a space, NUL or another control byte (code
// 10022; the name itself is not repeated).
inline constexpr char kBadTargetHostText[] = "Connect refused - invalid host name";
// A port outside 1-65535 (code 10022): host, port.
inline constexpr char kBadTargetPortText[] = "Connect to %s:%u refused - invalid port number";
// An address in 0.0.0.0/8 (code 10022): dotted address, port.
inline constexpr char kBadTargetAddressText[] = "Connect to %s:%u refused - invalid address";
// An address of this host on a port this engine listens on (code 10013): dotted address, port.
inline constexpr char kOwnListenerTargetText[] =
    "Connect to %s:%u refused - a port of this proxy server";
