#pragma once
// The VDOLive proxy's message handling, apart from any socket (VDOLiveFormat.h gives the
// layout): framing a message at the start of the bytes received, the player's request, and
// the player's UDP port in the messages that carry it. Every offset is computed in 64 bits
// and checked against the message before a field is read or written.

#include "platform/kernel/Types.h"

#include <cstddef>
#include <string>
#include <string_view>

// The message at the start of `bytes` (FrameVDOLiveMessage).
struct SVDOLiveFrame {
    enum class EResult {
        incomplete,  // more bytes are needed
        whole,       // the first `size` bytes are the message
        badLength,   // L < 4 or L + 4 > 2048: the peer is refused
    };
    EResult result = EResult::incomplete;
    DWORD length = 0;      // L, once its 4 bytes have come
    std::size_t size = 0;  // L + 4 when whole
};

SVDOLiveFrame FrameVDOLiveMessage(std::string_view bytes);

// The type of a whole message.
DWORD GetVDOLiveMessageType(std::string_view message);

// The player's request (type 32).
struct SVDOLiveRequest {
    DWORD port = 0;
    std::string host;  // up to its first zero byte
    std::string clip;  // the same
};

// False when a field of the request lies outside the message.
bool ParseVDOLiveRequest(std::string_view message, SVDOLiveRequest& request);

// The player's UDP port in a message of type 6, or of type 1 with the mark.
struct SVDOLivePort {
    enum class EKind {
        none,     // the message carries no port the proxy rewrites (type 1 without the mark)
        stream,   // type 6
        marked,   // type 1 with the mark
        outside,  // the port or the stream name would lie outside the message
    };
    EKind kind = EKind::none;
    std::size_t offset = 0;  // of the 4-byte port
    DWORD port = 0;
    std::string streamName;  // type 6, up to its first zero byte
};

SVDOLivePort FindVDOLivePlayerPort(std::string_view message);

// Puts `port` in place of the player's port that `found` names (found in this message).
void WriteVDOLivePlayerPort(std::string& message, const SVDOLivePort& found, WORD port);
