#pragma once
// The link handshake's byte layout, codes and texts, as a table.
//
// Every frame is one length byte L, then L bytes (the body). Bodies:
//
//   challenge  server -> client   1, 3, 0, 1, challenge text, NUL
//   answer     client -> server   1, 3, link type, local port (DWORD little-endian), 2,
//                                 user name, NUL, response text, NUL
//   status     server -> client   1, 3, 0, status code                (L = 4)
//
// The challenge text is a 32-bit number in unsigned decimal. The response text is the hex text
// (HexText.h: lower case, no zero padding) of MD5(challenge + password). After status 4 both
// directions are enciphered (LinkCipher.h) under crossed keys:
//   client sends, server receives:  MD5(challenge + user name + password)
//   server sends, client receives:  MD5(challenge + password + user name)
//
// Refusals are socket exceptions with the codes below. The server sends a status frame with
// the code before failing only for 105-109; 100-102 fail without one.

#include "platform/kernel/Types.h"

#include <cstddef>

namespace LinkFormat {

// Frame layout.
inline constexpr BYTE kVersionMajor = 1;
inline constexpr BYTE kVersionMinor = 3;
inline constexpr BYTE kNoLinkType = 0;          // third byte of challenge and status frames
inline constexpr BYTE kChallengeCommand = 1;    // fourth byte of the challenge
inline constexpr BYTE kAnswerCommand = 2;       // eighth byte of the answer
inline constexpr std::size_t kMaxFrameBody = 255;  // what one length byte can count

// Offsets in a frame body.
inline constexpr std::size_t kVersionMajorAt = 0;
inline constexpr std::size_t kVersionMinorAt = 1;
inline constexpr std::size_t kLinkTypeAt = 2;
inline constexpr std::size_t kChallengeCommandAt = 3;
inline constexpr std::size_t kChallengeTextAt = 4;
inline constexpr std::size_t kStatusCodeAt = 3;
inline constexpr std::size_t kAnswerPortAt = 3;
inline constexpr std::size_t kAnswerCommandAt = 7;
inline constexpr std::size_t kAnswerUserAt = 8;

// The fixed part of each body: a shorter body is a protocol error. The challenge and answer
// count their terminating NULs (an empty text still has its NUL).
inline constexpr std::size_t kChallengeFixed = kChallengeTextAt + 1;
inline constexpr std::size_t kAnswerFixed = kAnswerUserAt + 2;
inline constexpr std::size_t kStatusFixed = kStatusCodeAt + 1;

// Link types.
inline constexpr BYTE kLinkEngine = 1;    // two engines (encrypted TCP mapping); no version check
inline constexpr BYTE kLinkConsole = 2;   // console and remote-control service
inline constexpr BYTE kLinkConsole3 = 3;  // accepted where 2 is expected; first version byte only

// Each frame is awaited this long (the length byte, then the body).
inline constexpr DWORD kFrameTimeoutMs = 5000;

// With the cipher on, sends and receives pass through a buffer of this many bytes at a time.
inline constexpr std::size_t kCipherChunk = 8192;

// Status codes and the codes of refusals.
inline constexpr BYTE kStatusSuccess = 4;
inline constexpr int kCodeNoResponse = 100;
inline constexpr int kCodeProtocol = 101;
inline constexpr int kCodeVersion = 102;
inline constexpr int kCodeWrongUser = 105;
inline constexpr int kCodeNoUser = 106;
inline constexpr int kCodeNoSuchUser = 107;
inline constexpr int kCodeBadPassword = 108;
inline constexpr int kCodeWrongType = 109;
// A handshake the client refuses to start on its own side.
inline constexpr int kCodeLocal = 0;

// Texts of the client half.
inline constexpr char kTextNoResponseFromServer[] = "No response from server";
inline constexpr char kTextProtocolError[] = "Protocol error";  // challenge short or malformed
inline constexpr char kTextWrongResponse[] = "Wrong response";  // challenge command not 1
inline constexpr char kTextBadProtocol[] = "Bad Protocol";      // status (and answer) malformed
inline constexpr char kTextWrongVersion[] = "Wrong protocol version";
inline constexpr char kTextUserTooLong[] =
    "User name too long for the link handshake";  // name + response + 10 > 255
inline constexpr char kTextUserHasNul[] = "User name for the link handshake contains a NUL byte";

// Either half on a socket whose link credentials were never set.
inline constexpr char kTextNoCredentials[] = "No link credentials set on this socket";
// A send on a link whose earlier enciphered send failed part-way.
inline constexpr char kTextSendOutOfStep[] = "Link cipher out of step after a failed send";

// Texts of the server half.
inline constexpr char kTextNoResponseFromClient[] = "No response from client to challenge";
inline constexpr char kTextWrongCommand[] = "Wrong command";
inline constexpr char kTextWrongUsername[] = "Wrong username";
inline constexpr char kTextNoUsername[] = "No username given";
inline constexpr char kTextNoSuchUser[] = "No such user";
inline constexpr char kTextFailedPassword[] = "User %s failed password";  // the user name
inline constexpr char kTextWrongClientType[] = "Wrong client type";

}  // namespace LinkFormat
