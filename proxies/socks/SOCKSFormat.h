#pragma once
// The SOCKS service's byte layouts, as one table. Multi-byte fields are most significant byte
// first; addresses are IPv4.
//
// SOCKS 4 request (client to proxy):
//   0      version 4
//   1      command: 1 CONNECT, 2 BIND
//   2-3    target port
//   4-7    target address (0.0.0.x is the 4A marker: its host name is not resolved here)
//   8..    user id, ended by a NUL (at most kMaxSocks4UserId bytes before it)
// SOCKS 4 reply (8 bytes): 0x00, code (90 granted, 91 refused), port (2), address (4).
//   CONNECT granted: 0x00 90 and six zeros. BIND: the listener's port and the address this
//   host uses towards the target; its second reply the same with the accepted connection's
//   local address and port. Refused: 0x00 91 and six zeros.
//
// SOCKS 5 (RFC 1928):
//   greeting         5, method count n, n method bytes (0 no authentication, 2 RFC 1929)
//   method reply     5, method
//   RFC 1929         version (not checked), user length, user, password length, password;
//                    answered 1, status (0 accepted, 2 refused)
//   request          5, command (1 CONNECT, 2 BIND, 3 UDP ASSOCIATE), 0, address type
//                    (1: 4-byte address; 3: length byte and host name), address, port (2)
//   reply (10 bytes) 5, code, 0, 1, address (4), port (2)
//                    CONNECT: the outbound connection's local address and port;
//                    BIND: the listener's port and the address towards the target, then
//                    the connecting host's address and port;
//                    UDP ASSOCIATE: the client connection's local address and the port of
//                    the client-side datagram socket;
//                    failures: the code and six zeros.
//   UDP datagram     0, 0, fragment, address type (1 or 3), address, port (2), data. Datagrams
//                    for the client carry type 1 and the sender's address and port.

#include "platform/kernel/Types.h"

#include <cstddef>

namespace SOCKSFormat {

inline constexpr BYTE kVersion4 = 4;
inline constexpr BYTE kVersion5 = 5;

// Commands of both versions.
inline constexpr BYTE kCommandConnect = 1;
inline constexpr BYTE kCommandBind = 2;
inline constexpr BYTE kCommandUdpAssociate = 3;  // SOCKS 5 only

// SOCKS 4.
inline constexpr std::size_t kSocks4FixedSize = 8;  // version to address, before the user id
inline constexpr std::size_t kMaxSocks4UserId = 255;
inline constexpr std::size_t kSocks4ReplySize = 8;
inline constexpr BYTE kSocks4ReplyVersion = 0;
inline constexpr BYTE kSocks4Granted = 90;
inline constexpr BYTE kSocks4Refused = 91;

// SOCKS 5 methods and RFC 1929.
inline constexpr BYTE kMethodNoAuthentication = 0;
inline constexpr BYTE kMethodUserPassword = 2;
inline constexpr BYTE kMethodNoAcceptable = 0xFF;
inline constexpr BYTE kUserPasswordReplyVersion = 1;
inline constexpr BYTE kUserPasswordAccepted = 0;
inline constexpr BYTE kUserPasswordRefused = 2;

// SOCKS 5 address types.
inline constexpr BYTE kAddressIPv4 = 1;
inline constexpr BYTE kAddressName = 3;

// SOCKS 5 reply codes.
inline constexpr BYTE kReplySucceeded = 0;
inline constexpr BYTE kReplyGeneralFailure = 1;
inline constexpr BYTE kReplyNotAllowed = 2;
inline constexpr BYTE kReplyCommandNotSupported = 7;
inline constexpr BYTE kReplyAddressTypeNotSupported = 8;

inline constexpr std::size_t kSocks5ReplySize = 10;
inline constexpr std::size_t kSocks5RequestFixedSize = 4;  // version, command, 0, address type
inline constexpr std::size_t kUdpHeaderIPv4Size = 10;

// The relay: a datagram carries at most kMaxDatagram bytes of data (a longer one is dropped);
// a datagram for the client is that and its header.
inline constexpr std::size_t kMaxDatagram = 2048;
inline constexpr std::size_t kDatagramBufferSize = kUdpHeaderIPv4Size + kMaxDatagram;

// The hand-over of plain HTTP requests: the ports it applies to, how many waiting bytes are
// looked at, and how many must wait at least ("GET /" and one more).
inline constexpr UINT kHandOverPort = 80;
inline constexpr UINT kHandOverAltPort = 8080;
inline constexpr std::size_t kHandOverPeek = 16;
inline constexpr std::size_t kHandOverMinimum = 6;

}  // namespace SOCKSFormat
