#pragma once
// The remote-control protocol as a table: the framing's limits and time-outs, the reply
// statuses, the request and notification codes, and every text the protocol and the engine's
// remote-control session send or write. Nothing else in remote/ spells one of these.
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

// --- Request codes (console to engine) ------------------------------------------------------
inline constexpr WORD kRetrieveAll = 10;
inline constexpr WORD kUploadAll = 11;
inline constexpr WORD kCommitConfiguration = 12;
inline constexpr WORD kReloadConfiguration = 13;
inline constexpr WORD kRetrieveUsers = 20;
inline constexpr WORD kUploadUsers = 21;
inline constexpr WORD kAddUser = 22;
inline constexpr WORD kDeleteUser = 23;
inline constexpr WORD kModifyUser = 24;
inline constexpr WORD kAddGroup = 25;
inline constexpr WORD kDeleteGroup = 26;
inline constexpr WORD kModifyGroup = 27;
inline constexpr WORD kRetrieveServices = 30;
inline constexpr WORD kUploadServices = 31;
inline constexpr WORD kAddService = 32;
inline constexpr WORD kDeleteService = 33;
inline constexpr WORD kModifyService = 34;
inline constexpr WORD kStartStopService = 35;
inline constexpr WORD kRetrievePolicies = 40;
inline constexpr WORD kUploadPolicies = 41;
inline constexpr WORD kModifyPolicies = 42;
inline constexpr WORD kRetrieveLocations = 50;
inline constexpr WORD kUploadLocations = 51;
inline constexpr WORD kAddLocation = 52;
inline constexpr WORD kDeleteLocation = 53;
inline constexpr WORD kModifyLocation = 54;
inline constexpr WORD kPromoteLocation = 55;
inline constexpr WORD kDemoteLocation = 56;
inline constexpr WORD kRetrieveDialer = 60;
inline constexpr WORD kUploadDialer = 61;
inline constexpr WORD kModifyDialer = 62;
inline constexpr WORD kDialHangUp = 63;
inline constexpr WORD kRetrieveActivity = 70;
inline constexpr WORD kTerminateMachine = 73;
inline constexpr WORD kTerminateSession = 76;
inline constexpr WORD kRegisterFirst = 80;  // 80-84: every one registers for everything
inline constexpr WORD kRegisterLast = 84;
inline constexpr WORD kSendMessage = 91;
inline constexpr WORD kAttention = 100;
inline constexpr WORD kChangePassword = 120;
inline constexpr WORD kRetrieveCache = 130;
inline constexpr WORD kUpdateCache = 131;
inline constexpr WORD kPurgeCache = 132;
inline constexpr WORD kRemoveCacheEntry = 133;
inline constexpr WORD kRebuildCacheIndex = 134;
inline constexpr WORD kShutdown = 140;

// The requests and their descriptions (in logs and the activity view). Codes with a null
// text have none; 35 and 63 pick theirs by Arg2 (kStartStopTexts, kDialTexts); 76 names the
// session id (Arg2) before the machine address (Arg1). Every other "%s" is Arg1. A code not
// in this table is no request: it is refused and has no text.
struct RequestText {
    WORD code;
    const char* text;
};
inline constexpr RequestText kRequests[] = {
    {10, "Retrieve all settings"},
    {11, "Upload all settings"},
    {12, "Commit configuration to disk"},
    {13, "Reload configuration from disk"},
    {20, "Retrieve user database"},
    {21, "Upload user database"},
    {22, "Add user %s"},
    {23, "Delete user %s"},
    {24, "Modify user %s"},
    {25, "Add group %s"},
    {26, "Delete group %s"},
    {27, "Modify group %s"},
    {30, "Retrieve service configurations"},
    {31, "Upload service configurations"},
    {32, "Add service %s"},
    {33, "Delete service %s"},
    {34, "Modify service %s"},
    {35, nullptr},
    {40, "Retrieve system policies"},
    {41, "Upload system policies"},
    {42, "Modify system policies"},
    {50, "Retrieve locations"},
    {51, "Upload locations"},
    {52, "Add location %s"},
    {53, "Delete location %s"},
    {54, "Modify location %s"},
    {55, "Promote location %s"},
    {56, "Demote location %s"},
    {60, "Retrieve dialer settings"},
    {61, "Upload dialer settings"},
    {62, "Modify dialer settings"},
    {63, nullptr},
    {70, "Retrieve activity information"},
    {73, "Terminate all activity on %s"},
    {76, "Terminate session %s on %s"},
    {80, "Register for everything"},
    {81, "Register for alerts"},
    {82, "Register for messages"},
    {83, "Register for activity updates"},
    {84, "Register for dialler updates"},
    {90, nullptr},
    {91, "Send message to %s"},
    {100, nullptr},
    {101, nullptr},
    {102, nullptr},
    {103, nullptr},
    {104, nullptr},
    {110, nullptr},
    {111, nullptr},
    {120, "Change password"},
    {130, "Retrieve cache settings"},
    {131, "Update cache settings"},
    {132, "Purge cache"},
    {133, "Remove cache entry %s"},
    {134, "Rebuild cache index file"},
    {140, "Shutdown"},
};
// Arg2 "1" and "0" of requests 35 and 63; any other Arg2 gives no text.
inline constexpr const char* kArgOn = "1";
inline constexpr const char* kArgOff = "0";
inline constexpr const char* kStartServiceText = "Start service %s";
inline constexpr const char* kStopServiceText = "Stop service %s";
inline constexpr const char* kDialText = "Dial %s";
inline constexpr const char* kHangUpText = "Hang up %s";

// Requests whose change is echoed, with the request's own code and arguments, to every
// registered console (the requester included) once they completed.
inline constexpr WORD kEchoedRequests[] = {22, 23, 24, 25, 26, 27, 32, 33, 34, 41,
                                           42, 52, 53, 54, 55, 56, 61, 62, 131};

// --- Notification codes (engine to console) -------------------------------------------------
inline constexpr WORD kNotifyLoggedOn = 5;             // log-on accepted, or password changed
inline constexpr WORD kNotifyMustChangePassword = 120; // log-on accepted, password must change
inline constexpr WORD kNotifyAlert = 90;               // title, text, ""
inline constexpr WORD kNotifyMessage = 91;             // sender's address, user, text
inline constexpr WORD kNotifyAttention = 101;          // sender's address, user, ""
inline constexpr WORD kNotifyUserAdded = 22;           // a CUser follows
inline constexpr WORD kNotifyUserDeleted = 23;
inline constexpr WORD kNotifyUserModified = 24;        // a CUser follows
inline constexpr WORD kNotifyGroupAdded = 25;          // a CGroup follows
inline constexpr WORD kNotifyGroupDeleted = 26;
inline constexpr WORD kNotifyGroupModified = 27;       // a CGroup follows
inline constexpr WORD kNotifyServiceAdded = 32;        // the service follows, tagged; then 35
inline constexpr WORD kNotifyServiceDeleted = 33;
inline constexpr WORD kNotifyServiceModified = 34;     // the service follows, untagged
inline constexpr WORD kNotifyServiceState = 35;        // name, running state "%i", ""
inline constexpr WORD kNotifyPolicies = 42;            // the eleven rights follow
inline constexpr WORD kNotifyLocationAdded = 52;       // the location (by Arg1) follows
inline constexpr WORD kNotifyLocationDeleted = 53;
inline constexpr WORD kNotifyLocationModified = 54;    // the location (by Arg2) follows
inline constexpr WORD kNotifyLocationPromoted = 55;
inline constexpr WORD kNotifyLocationDemoted = 56;
inline constexpr WORD kNotifyDialer = 62;              // the dialer follows
inline constexpr WORD kNotifyDialerState = 63;
inline constexpr WORD kNotifyMachineAdded = 71;        // sent only while the machine exists
inline constexpr WORD kNotifyCache = 131;              // the cache settings follow
// Sent as they stand: 23, 26, 33, 53, 55, 56, 63, 72-76, 90, 91, 100, 101, 104, 110, 111
// (and 120, from the log-on only).
inline constexpr WORD kPlainNotifications[] = {23, 26, 33, 53, 55, 56, 63, 72, 73, 74, 75,
                                               76, 90, 91, 100, 101, 104, 110, 111};
inline constexpr const char* kServiceStateFormat = "%i";

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
