#pragma once
// The SOCKS messages as pure code over bytes (layouts in SOCKSFormat.h): the parsers of what a
// client sends, the builders of what the proxy sends, and the test of the HTTP hand-over.
//
// A message parser is given the bytes of one message read so far, from its first byte, and
// says whether they hold the whole message, how many more bytes it needs at least, or why
// they can never be one. The session reads exactly what a parser asks for, so it never takes
// a byte that follows the message (the data a client sends right after its request stays on
// the connection for the relay or for a web session). Any prefix of a valid message is
// incomplete, never invalid, and adding bytes never changes a decided result.

#include "platform/kernel/Types.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class ESOCKSFault {
    none,
    userIdTooLong,       // a SOCKS 4 user id of more than kMaxSocks4UserId bytes
    badAddressType,      // an address type other than 1 or 3
    truncatedDatagram,   // a datagram shorter than its header says
};

struct SSOCKSParse {
    enum class State { complete, incomplete, invalid };
    State state = State::incomplete;
    // complete: the message's length; incomplete: the fewest further bytes it needs.
    std::size_t size = 0;
    // incomplete: the message goes on up to a NUL (a SOCKS 4 user id), so the reader may take
    // the waiting bytes up to and including the first NUL rather than `size` of them.
    bool toNul = false;
    ESOCKSFault fault = ESOCKSFault::none;
};

// A request of either version.
struct SSOCKSRequest {
    BYTE version = 0;
    BYTE command = 0;
    BYTE addressType = 0;  // SOCKS 5 only; 0 for SOCKS 4
    DWORD address = 0;     // host byte order; with address type 1 and SOCKS 4
    std::string host;      // the dotted address, or the name of address type 3 as sent
    UINT port = 0;
    std::string userId;    // SOCKS 4
};

// SOCKS 4: version, command, port, address, user id and its NUL.
SSOCKSParse ParseSocks4Request(std::string_view bytes, SSOCKSRequest& request);
// SOCKS 5 greeting: version, method count, methods.
SSOCKSParse ParseSocks5Greeting(std::string_view bytes, std::vector<BYTE>& methods);
// RFC 1929: version, user name, password (each after its length byte).
SSOCKSParse ParseUserPassword(std::string_view bytes, std::string& user, std::string& password);
// SOCKS 5 request. An unknown address type is invalid (badAddressType) once its byte is in;
// `request.addressType` then holds it.
SSOCKSParse ParseSocks5Request(std::string_view bytes, SSOCKSRequest& request);

// The header of a datagram a client sends through a UDP association.
struct SUdpHeader {
    BYTE fragment = 0;
    BYTE addressType = 0;
    std::string host;  // dotted address, or the name as sent
    UINT port = 0;
    std::size_t size = 0;  // the header's length: the data follows
};
// Parses a whole datagram's header: complete (size = header length), or invalid
// (truncatedDatagram, or badAddressType with the type in `header.addressType`).
SSOCKSParse ParseUdpHeader(std::string_view datagram, SUdpHeader& header);

// The method the proxy picks from those a SOCKS 5 client offers: with RFC 1929 in use
// (UseRFC1929 set), user name and password when offered, else none; without it, none when
// offered, else kMethodNoAcceptable (the client must close).
BYTE ChooseMethod(const std::vector<BYTE>& offered, bool useRFC1929);

// Replies.
std::string BuildSocks4Reply(BYTE code, UINT port, DWORD address);
std::string BuildSocks5Reply(BYTE code, DWORD address, UINT port);
std::string BuildMethodReply(BYTE method);
std::string BuildUserPasswordReply(BYTE status);

// Writes the header of a datagram for the client (type 1, the sender's address and port)
// and `data` into `out`, which holds `capacity` bytes; returns the datagram's length, or 0
// when it does not fit.
std::size_t WrapDatagram(DWORD sender, UINT port, std::string_view data, char* out,
                         std::size_t capacity);

// Whether the first bytes a client sends through a CONNECT to a web port are a plain HTTP
// request that a web session takes over: more than five bytes, a method GET, HEAD or POST
// (any case) and a request target that is a path. A request in proxy form (an absolute URL)
// is meant for a web proxy the client reaches through SOCKS and is relayed as it is.
bool IsHandOverRequest(std::string_view firstBytes);
