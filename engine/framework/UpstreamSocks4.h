#pragma once
// CUpstreamSocks4: the bytes of a connect through an upstream SOCKS 4 server, as pure code (the
// layout is in OutboundFormat.h). COutboundConnection sends the request and reads the reply.

#include "platform/kernel/Types.h"

#include <string>
#include <string_view>

class CUpstreamSocks4 {
public:
    // The request for `address` (host byte order) and `port` (its low 16 bits; the caller has
    // checked it), with the user id taken from `password`: at most 80 bytes, cut at its first
    // NUL (a NUL inside would end the id early on the server and leave the rest of it in the
    // stream as if it were tunnel data).
    static std::string BuildRequest(DWORD address, UINT port, std::string_view password);

    // Whether an 8-byte reply grants the connection (reply code 90). `reply` must hold
    // kSocks4ReplySize bytes.
    static bool IsGranted(const unsigned char* reply);
};
