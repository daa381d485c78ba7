#pragma once
// The VDOLive proxy's byte layouts and texts, as one table.
//
// Control message, both directions; every integer is 4 bytes in network byte order:
//   offset  size   field
//   0       4      length L of the rest of the message (kMinLength <= L, L + 4 <= kMaxMessage)
//   4       4      type
//   8       L - 4  body, by type
// Bodies the proxy reads or rewrites (offsets from the start of the message; pad4(n) is n
// rounded up to a multiple of 4):
//   type 32 (request)  8: server port; 12: n; 16: server host (n bytes, padded to pad4(n));
//                      16 + pad4(n): m; 20 + pad4(n): clip name (m bytes)
//   type 6 (stream)    8: a; 12: stream name (a bytes, padded); 12 + pad4(a): 8 bytes not
//                      looked at; 20 + pad4(a): the player's UDP port (rewritten)
//   type 1             8: the 8-byte mark kMark; 16: the player's UDP port (rewritten when the
//                      mark is there)
// Every field the proxy reads or writes lies inside the message, or the message is refused.

#include "platform/kernel/Types.h"

#include <cstddef>
#include <string_view>

namespace VDOLiveFormat {

// --- Service --------------------------------------------------------------------------------
inline constexpr const char* kServiceName = "VDOLive Proxy server";
inline constexpr UINT kServicePort = 7000;
inline constexpr DWORD kSupportedMethods = 0;

// --- Messages -------------------------------------------------------------------------------
inline constexpr std::size_t kLengthSize = 4;
inline constexpr std::size_t kTypeOffset = 4;
inline constexpr std::size_t kBodyOffset = 8;
inline constexpr std::size_t kFieldSize = 4;
inline constexpr DWORD kMinLength = 4;            // the type at least
inline constexpr std::size_t kMaxMessage = 2048;  // the whole message, length word included

inline constexpr DWORD kTypeMarked = 1;
inline constexpr DWORD kTypeStream = 6;
inline constexpr DWORD kTypeRequest = 32;

inline constexpr std::size_t kRequestPortOffset = 8;
inline constexpr std::size_t kRequestHostLengthOffset = 12;
inline constexpr std::size_t kRequestHostOffset = 16;

inline constexpr std::size_t kStreamNameLengthOffset = 8;
inline constexpr std::size_t kStreamNameOffset = 12;
inline constexpr std::size_t kStreamSkipped = 8;  // after the padded name, before the port

inline constexpr std::size_t kMarkOffset = 8;
inline constexpr std::string_view kMark = "VDO Live";
inline constexpr std::size_t kMarkedPortOffset = 16;

// Bytes taken from a TCP socket in one read notice, and the largest datagrams forwarded
// from the server and from the player.
inline constexpr std::size_t kRelayBlock = 2048;
inline constexpr std::size_t kServerDatagram = 2048;
inline constexpr std::size_t kPlayerDatagram = 512;

// --- Session texts --------------------------------------------------------------------------
inline constexpr const char* kDescriptionStart = "VDOLive: ";
// Server host, server port, clip name.
inline constexpr const char* kDescriptionRequest = "VDOLive://%s:%u/%s";
// The clip of a player that took the proxy for the server.
inline constexpr const char* kUnknownFile = "Unknown File";

// Error lines (service log bit 128).
inline constexpr const char* kOnReadSocket =
    "Caught socket exception in CVDOLiveSession::OnRead() %s - terminating";
inline constexpr const char* kOnReadUnknown =
    "Caught unknown exception in CVDOLiveSession::OnRead() - terminating";
inline constexpr const char* kOnCloseSocket =
    "Caught socket exception in CVDOLiveSession::OnClose() %s - terminating";
inline constexpr const char* kOnCloseUnknown =
    "Caught unknown exception in CVDOLiveSession::OnClose() - terminating";
// The length word of a message.
inline constexpr const char* kErrorLength =
    "Bad protocol - message length %u in CVDOLiveSession - terminating";
// The message's type.
inline constexpr const char* kErrorFields =
    "Bad protocol - type %u message with fields outside it in CVDOLiveSession - terminating";
inline constexpr const char* kErrorFirstType =
    "Bad protocol - first message of type %u in CVDOLiveSession - terminating";

}  // namespace VDOLiveFormat
