#pragma once
// The service and session framework's constants in one place: the registry values of a
// service, the defaults of a new and of a loaded service, the texts services and sessions
// write to their logs, the remote-control service that the engine always has, the exit codes
// of sessions and the thread messages of session threads.
//
// Registry values of a service, under "Services\<name>", in the order written:
//
//   value                       type     default when loading
//   ServiceType                 string   ""        the run-time class name; read by the manager
//   Name                        string   ""
//   Description                 string   ""
//   PortNumber                  DWORD    0
//   SpecifiedInterfaceAddress   DWORD    0
//   InterfaceAddress            string   "0.0.0.0"
//   Enabled                     DWORD    1
//   CriticalService             DWORD    0
//   TimeOutSessions             DWORD    1
//   SessionTimeout              DWORD    180       (a new service has 60)
//   NonProxyRequestAction       DWORD    0
//   NonProxyRequestHost         string   ""
//   NonProxyRequestPort         DWORD    the PortNumber just loaded
//   LoggingEnabled              DWORD    1
//   LogOptions                  DWORD    219
//   LimitSessions               DWORD    0
//   SessionLimit                DWORD    0         (a new service has 5)
//   <key>\AccessRights, <key>\StartStopRights, <key>\EditRights: the three rights
//   TCP services only, after the rights:
//   ConnectMethod               DWORD    0
//   ProxyServer                 string   ""
//   ProxyPort                   DWORD    0
//   SOCKS4Password              string   ""        stored plain
//
// Archive form of a service (a wire format between console and engine): Name, Description,
// PortNumber, SpecifiedInterfaceAddress, InterfaceAddress, Enabled, CriticalService,
// TimeOutSessions, SessionTimeout, NonProxyRequestAction, NonProxyRequestHost,
// NonProxyRequestPort, LoggingEnabled, LogOptions, the restart-requested flag, LimitSessions,
// SessionLimit, the three rights' own archive forms; a TCP service then ConnectMethod,
// ProxyServer, ProxyPort, SOCKS4Password. Strings as the archive writes strings, every other
// field 4 bytes.

#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

#include <sys/socket.h>

#include <cstddef>

namespace FrameworkFormat {

// --- Registry -------------------------------------------------------------------------------
inline constexpr const char* kServicesKey = "Services";
inline constexpr const char* kServiceType = "ServiceType";
inline constexpr const char* kName = "Name";
inline constexpr const char* kDescription = "Description";
inline constexpr const char* kPortNumber = "PortNumber";
inline constexpr const char* kSpecifiedInterfaceAddress = "SpecifiedInterfaceAddress";
inline constexpr const char* kInterfaceAddress = "InterfaceAddress";
inline constexpr const char* kEnabled = "Enabled";
inline constexpr const char* kCriticalService = "CriticalService";
inline constexpr const char* kTimeOutSessions = "TimeOutSessions";
inline constexpr const char* kSessionTimeout = "SessionTimeout";
inline constexpr const char* kNonProxyRequestAction = "NonProxyRequestAction";
inline constexpr const char* kNonProxyRequestHost = "NonProxyRequestHost";
inline constexpr const char* kNonProxyRequestPort = "NonProxyRequestPort";
inline constexpr const char* kLoggingEnabled = "LoggingEnabled";
inline constexpr const char* kLogOptions = "LogOptions";
inline constexpr const char* kLimitSessions = "LimitSessions";
inline constexpr const char* kSessionLimit = "SessionLimit";
// Sub-keys of the three rights: "%s\AccessRights" and so on, with the service's key.
inline constexpr const char* kAccessRightsKey = "%s\\AccessRights";
inline constexpr const char* kStartStopRightsKey = "%s\\StartStopRights";
inline constexpr const char* kEditRightsKey = "%s\\EditRights";
inline constexpr const char* kConnectMethod = "ConnectMethod";
inline constexpr const char* kProxyServer = "ProxyServer";
inline constexpr const char* kProxyPort = "ProxyPort";
inline constexpr const char* kSOCKS4Password = "SOCKS4Password";
// "%s\%s": a service's key below the services key.
inline constexpr const char* kChildKey = "%s\\%s";

// --- Defaults -------------------------------------------------------------------------------
inline constexpr const char* kAnyInterface = "0.0.0.0";
inline constexpr DWORD kNewSessionTimeout = 60;
inline constexpr DWORD kLoadedSessionTimeout = 180;
inline constexpr DWORD kNewSessionLimit = 5;
inline constexpr DWORD kLoadedSessionLimit = 0;
// The system's largest accept queue (the kernel cuts it to net.core.somaxconn): a browser
// alone opens six connections at once, and a queue that overflows drops their SYNs.
inline constexpr int kListenBacklog = SOMAXCONN;
// Connections one accept notice takes at most before the listener is served again.
inline constexpr int kAcceptsPerNotice = 64;
// Live sessions of one TCP service at most; the newest connection past it is refused, so a
// flood of idle connections cannot take every thread or descriptor of the engine.
inline constexpr std::size_t kMaxLiveSessions = 3000;
// Live sessions of one UDP service at most (a UDP mapping service's clients, each with a
// socket; the DNS service's queries waiting for their lookups).
inline constexpr std::size_t kMaxUDPSessions = 4096;
// One client address holds at most this fraction of a ceiling's places (SessionCeiling.h).
inline constexpr std::size_t kAddressShareDivisor = 4;
// One service takes at most this fraction of the engine's ceiling, so a flood on one service
// leaves the others room.
inline constexpr std::size_t kServiceShareDivisor = 2;
// The engine-wide ceiling on live sessions follows from the process's descriptor limit: the
// engine keeps a reserve for its own files, logs, listeners, the dialer, the UDP services and
// the consoles (whose sessions stay outside the ceiling, so a console always gets in), the
// larger of kDescriptorReserveMin and an eighth of the limit, and counts kDescriptorsPerSession
// for each session: a relaying session's two connections, its thread's wait set and wake-up
// descriptor, and the pipe it moves bytes through.
inline constexpr std::size_t kDescriptorReserveMin = 256;
inline constexpr std::size_t kDescriptorReserveDivisor = 8;
inline constexpr std::size_t kDescriptorsPerSession = 6;
// How long a replaced service's thread may take to end before its successor starts.
inline constexpr DWORD kServiceThreadEndWaitMs = 5000;
// How long a start or stop asked of a service's thread from another thread is waited for.
inline constexpr DWORD kServiceControlWaitMs = 5000;

// The kinds and descriptions a service's three rights always have.
inline constexpr DWORD kAccessRightKind = 0;
inline constexpr DWORD kStartStopRightKind = 1;
inline constexpr DWORD kEditRightKind = 2;
inline constexpr const char* kAccessRightsDescription = "Users can access this service";
inline constexpr const char* kStartStopRightsDescription = "Users can start/stop this service";
inline constexpr const char* kEditRightsDescription = "Users can modify this service";

// Service kind codes, fixed by each service class (neither saved nor exchanged).
inline constexpr int kKindRemoteControl = 0;
inline constexpr int kKindMapping = 1;
inline constexpr int kKindWeb = 2;
inline constexpr int kKindPOP3 = 3;
inline constexpr int kKindTelnet = 4;
inline constexpr int kKindFTP = 5;
inline constexpr int kKindSOCKS = 7;
inline constexpr int kKindDNS = 9;
inline constexpr int kKindRealAudio = 10;
inline constexpr int kKindVDOLive = 11;

// The lowest and highest port a service may listen on; others fail the start with 10022.
inline constexpr DWORD kMinPort = 1;
inline constexpr DWORD kMaxPort = 65535;
inline constexpr int kInvalidArgument = 10022;

// --- Service log texts ----------------------------------------------------------------------
inline constexpr const char* kServiceStarted = "Service started";
inline constexpr const char* kServiceStopped = "Service stopped";
inline constexpr const char* kServiceRestarted = "Service restarted";
inline constexpr const char* kServiceFailedStartup = "Service failed startup %s";
inline constexpr const char* kReuseAddressFailed =
    "Could not set re-use address on socket for service %s\n";
inline constexpr const char* kUDPRunIgnoring =
    "Caught unknown exception in CUDPService::Run() - ignoring";
inline constexpr const char* kUDPRunTerminating =
    "Caught unknown exception in CUDPService::Run() - terminating";
inline constexpr const char* kAcceptCallbackException =
    "Caught CException in CTCPServiceSocketCallback()";
// The ceilings on live sessions, written once when reached (not for every refusal), to the
// service's log of the session refused; the event log gets the same text after the service's
// name (kCeilingEvent).
inline constexpr const char* kSessionCeilingReached =
    "Service has %u live sessions: new sessions are refused until some end";
inline constexpr const char* kClientShareReached =
    "Client %s has %u live sessions of this service: its new sessions are refused until some end";
inline constexpr const char* kEngineCeilingReached =
    "The engine has %u live sessions, as many as its descriptors allow: new sessions are "
    "refused until some end";
inline constexpr const char* kEngineClientShareReached =
    "Client %s has %u live sessions in the engine: its new sessions are refused until some end";
inline constexpr const char* kCeilingEvent = "%s: %s";

// --- Remote-control service -----------------------------------------------------------------
inline constexpr const char* kRemoteControlName = "Remote Control Service";
inline constexpr DWORD kRemoteControlPort = 808;
inline constexpr const char* kAdministrator = "Administrator";
inline constexpr const char* kLoopback = "127.0.0.1";

// --- Sessions -------------------------------------------------------------------------------
// Exit codes passed to Terminate and EndSession.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitIdle = 2;
inline constexpr int kExitMachineDeleted = -1;

// The Terminated lines' text ("exit code 4294967295" for -1).
inline constexpr const char* kExitCodeText = "exit code %u";
inline constexpr const char* kTCPInitSocketException =
    "Caught socket exception in CTCPSession::InitInstance() %s - terminating";
inline constexpr const char* kTCPInitUnknownException =
    "Caught unknown exception in CTCPSession::InitInstance() - terminating";
inline constexpr const char* kTCPRunException =
    "Caught unknown exception in CTCPSession::Run() - terminating";

// The user of a machine that no location names, and the log-on levels.
inline constexpr const char* kGuest = "Guest";
inline constexpr int kLevelUnknown = 0;
inline constexpr int kLevelAssumed = 1;
inline constexpr int kLevelAuthenticated = 2;

// Session text shown to consoles and written to logs is cut to this many bytes.
inline constexpr std::size_t kMaxDisplayText = 2047;

// Thread message of a TCP session: run the idle check on the session's own thread.
inline constexpr UINT kIdleCheckMessage = WM_USER + 10;

}  // namespace FrameworkFormat
