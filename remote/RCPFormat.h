#pragma once
// The remote-control protocol's layout: the framing's limits and time-outs, the reply statuses,
// and every text the protocol and the engine's remote-control session send or write; the
// operation codes, with all that is decided by code, are the table of remote/RCPOperations.h.
// Nothing else in remote/ spells one of these.
//
// Framing (both directions, after the link handshake, so every byte is enciphered):
//
//   bytes 0-3      N, the length of the archive image that follows (DWORD little-endian)
//   bytes 4..4+N-1 the archive image of one object, written through a fresh archive
//                  (class and object tags restart with every frame)
//
// A message (CNVRCPMessage) always travels untagged: Op (WORD), then Arg1, Arg2, Arg3 as
// archive strings. Configuration objects travel untagged, except a service that is added
// (request 32, notification 32), which is tagged so the receiver learns its class.
//
// One request: the console sends the request message; the engine answers 1 (accepted) or 2
// (denied); after 1 the request's payload travels; then 3 (completed), or 4 (internal error,
// Arg1 "Internal server error") when anything failed after the request was read. The engine
// sends queued notifications only between requests.

#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

#include <cstddef>

namespace RCPFormat {

// --- Framing --------------------------------------------------------------------------------
inline constexpr std::size_t kLengthBytes = 4;
// The longest image a receiver accepts; 16385 and above are refused.
inline constexpr DWORD kMaxImageLength = 16384;
// A message is written to a memory store that grows by this much, through an archive buffer
// of this many bytes.
inline constexpr std::size_t kImageGrowBy = 1024;
inline constexpr std::size_t kArchiveBuffer = 128;
// The length word is awaited this long; the image N × 10 + 10000 ms.
inline constexpr DWORD kLengthTimeoutMs = 100000;
inline constexpr DWORD kPayloadTimeoutPerByteMs = 10;
inline constexpr DWORD kPayloadTimeoutBaseMs = 10000;

// Failures of a receive: X1SocketException with code 0 and one of these texts.
inline constexpr const char* kCommunicationsFailure = "Communications Failure";
inline constexpr const char* kOutOfSync = "Communications Failure - out of sync";
inline constexpr const char* kMemoryAllocationError = "Memory Allocation Error";
// A short image in an untagged receive (a tagged receive says kCommunicationsFailure).
inline constexpr const char* kShortPayload = "Communications Failure - pad payload length";
// An object whose image would pass the limit is never sent (the receiver would refuse it and
// lose step): X1SocketException(0, text) before anything goes out.
inline constexpr const char* kObjectTooLong = "Object too long for one message";

// --- Reply statuses (Op of a reply) ---------------------------------------------------------
inline constexpr WORD kStatusAccepted = 1;
inline constexpr WORD kStatusDenied = 2;
inline constexpr WORD kStatusCompleted = 3;
inline constexpr WORD kStatusInternalError = 4;
inline constexpr const char* kInternalServerError = "Internal server error";

// --- Texts of notifications ----------------------------------------------------------------
// The operation codes and what each carries are remote/RCPOperations.h. Numbers in the
// notifications' texts are decimal: a service's running state (35), and every other number.
inline constexpr const char* kServiceStateFormat = "%i";
inline constexpr const char* kNumber = "%u";
// A session's end (76): bytes sent by the client, received by it, sent to the remote end,
// received from it.
inline constexpr const char* kSessionCounters = "%u %u %u %u";

// Alerts (notification 90): title, then text.
inline constexpr const char* kAccessDeniedTitle = "Access Denied";
inline constexpr const char* kAccessDeniedText = "You are not allowed to log in";
inline constexpr const char* kPasswordChangeDeniedTitle = "Password change denied";
inline constexpr const char* kPasswordChangeDeniedText =
    "You do not have permission to\nchange your password";
inline constexpr const char* kInvalidPasswordTitle = "Invalid Password";
inline constexpr const char* kInvalidPasswordText = "You have specified an invalid old password";

// --- The engine's session -------------------------------------------------------------------
// Thread message: a message was queued (both parameters 0).
inline constexpr UINT kQueuedMessage = WM_USER + 6;
// The queue timer sends what a lost wake-up left waiting.
inline constexpr DWORD kQueueTimerMs = 1000;
// Messages waiting for one console beyond this many end its session: it cannot keep up.
inline constexpr std::size_t kMaxQueuedMessages = 65536;
// The pause between queuing the log-on refusal and ending the session.
inline constexpr DWORD kRefusalPauseMs = 200;
// The exit code of a session whose log-on was refused or whose user is unknown.
inline constexpr int kExitLogOnRefused = 5;

inline constexpr const char* kLoginDescription = "Norvane Remote Control Login";
inline constexpr const char* kRequestDescription = "Norvane Login: %s";
inline constexpr const char* kStartDescription = "Norvane Login: Start service %s";
inline constexpr const char* kStopDescription = "Norvane Login: Stop service %s";
inline constexpr const char* kStartFailedDescription = "Norvane Login: Start service %s - Failed";
inline constexpr const char* kStopFailedDescription = "Norvane Login: Stop service %s - Failed";

// Service-log lines of the session.
inline constexpr const char* kInitSocketException =
    "Caught socket exception in CRemoteControlSession::InitInstance() %s - terminating";
inline constexpr const char* kInitUnknownException =
    "Caught unknown exception in CRemoteControlSession::InitInstance() - terminating";
inline constexpr const char* kCannotLogIn = "User %s cannot log in - Access denied";
inline constexpr const char* kNoSuchUser = "User cannot log in - no such user";
inline constexpr const char* kReadSocketException =
    "Caught socket exception in CRemoteControlSession::OnRead() %s - terminating";
inline constexpr const char* kReadUnknownException =
    "Caught unknown exception in CRemoteControlSession::OnRead() - terminating";
inline constexpr const char* kRequestFailed = "Internal server error - ignoring";
inline constexpr const char* kSendLibraryException =
    "Caught CException in CRemoteControlSession::SendObject() - ignoring";
inline constexpr const char* kSendUnknownException =
    "Caught unknown exception in CRemoteControlSession::SendObject() - ignoring";
inline constexpr const char* kOutgoingUnknownException =
    "Caught unknown exception in CRemoteControlSession::ProcessOutgoingMessage() - terminating";
inline constexpr const char* kStreamOutOfStep =
    "Connection out of step after a failed transfer - terminating";
inline constexpr const char* kQueueOverflow =
    "Too many messages waiting for this console - terminating";

}  // namespace RCPFormat
