#pragma once
// The port-mapping services' constants in one place: the stored form of a mapping table and
// of the TCP mapping service's link settings, the texts of a mapping's description, and what
// the UDP and TCP mapping services write and send.
//
// Registry form of a mapping table, under "<service key>\Mappings":
//
//   key                  value or sub-key     kind     default on load
//   Mappings             AllowDefault         DWORD    1          (a new table has 0)
//                        Host, Port           string, DWORD       the default target ("", 0)
//   Mappings\Mapping<n>  one sub-key per mapping, n from 0 in list order
//     ...\Mapping<n>     Enabled              DWORD    1
//                        SpecifyUser          DWORD    0
//                        SpecifyLocation      DWORD    0
//                        UserName             string   ""
//                        Host, Port           string, DWORD       the target ("", 0)
//     ...\Mapping<n>\IncludedLocations   one DWORD value (data 0) per address pattern, named
//     ...\Mapping<n>\ExcludedLocations   by the pattern
//
// Saving deletes the table's whole key tree first. Loading takes the sub-keys whose names
// begin with exactly "Mapping" (letter case counts): Mapping<digits> in the numeric order of
// the digits, then any others in the store's order.
//
// Archive form (a wire format: consoles send the table inside the service object):
//   mapping   Enabled, SpecifyUser, SpecifyLocation (4 bytes each), UserName (string), the
//             target (Host string, Port 4 bytes), IncludedLocations and ExcludedLocations
//             (each a count, then its strings)
//   table     AllowDefault (4 bytes), the default target (Host, Port), then the mappings as
//             an object list: a count, then each mapping as a class-tagged "CMapping" object
// A UDP mapping service's archive form is the service's, then its table's.
//
// TCP mapping service: its key holds the TCP service's values, the table under "Mappings",
// then the link settings in this order (the archive form appends them in the same order
// after the table):
//
//   SpecifyUserForIncomingConnection   DWORD    0
//   EncryptConnectionsIn               DWORD    0
//   UsernameIn                         string   ""
//   PasswordIn                         string   ""   scrambled (ScramblePassword)
//   EncryptConnectionsOut              DWORD    0
//   UsernameOut                        string   ""
//   PasswordOut                        string   ""   scrambled
//
// A scrambled password may hold NUL bytes: it is stored and carried whole, never cut there.

#include "platform/kernel/Types.h"

#include <cstddef>

namespace MappingFormat {

// --- Registry -------------------------------------------------------------------------------
inline constexpr const char* kMappingsKey = "Mappings";
inline constexpr const char* kAllowDefault = "AllowDefault";
inline constexpr const char* kMappingPrefix = "Mapping";
inline constexpr const char* kEnabled = "Enabled";
inline constexpr const char* kSpecifyUser = "SpecifyUser";
inline constexpr const char* kSpecifyLocation = "SpecifyLocation";
inline constexpr const char* kUserName = "UserName";
inline constexpr const char* kIncludedLocationsKey = "IncludedLocations";
inline constexpr const char* kExcludedLocationsKey = "ExcludedLocations";
inline constexpr DWORD kLoadedAllowDefault = 1;

// --- A mapping's description ----------------------------------------------------------------
// "Link to mail:25 by location and user", "Link to mail:25 no dependencies (disabled)".
inline constexpr const char* kLinkRestricted = "Link to %s:%u by ";
inline constexpr const char* kLinkUnrestricted = "Link to %s:%u no dependencies";
inline constexpr const char* kByLocation = "location";
inline constexpr const char* kByAnd = " and ";
inline constexpr const char* kByUser = "user";
inline constexpr const char* kDisabled = " (disabled)";

// --- Mapping sessions -----------------------------------------------------------------------
// The service-log line (failed authorisation) of a session that no mapping accepts while the
// table allows no default.
inline constexpr const char* kNoMappingTerminating =
    "No mapping or default not allowed - terminating";

// --- UDP mapping service --------------------------------------------------------------------
inline constexpr const char* kUDPMappingServiceName = "UDP Mapping service";
// A client: its dotted address and port.
inline constexpr const char* kClientKey = "%s:%u";
// A session's description: client address, target host, target port.
inline constexpr const char* kUDPMappingDescription = "UDPMapping: %s -> %s:%u";
inline constexpr const char* kUDPSocketExceptionIgnoring =
    "Caught socket exception in CUDPMappingService::OnRead() %s - ignoring";
inline constexpr const char* kUDPUnknownExceptionIgnoring =
    "Caught unknown exception in CUDPMappingService::OnRead() - ignoring";
// One buffer of this size serves every datagram of the service, both ways; a longer datagram
// is dropped whole.
inline constexpr std::size_t kDatagramBufferSize = 8192;
inline constexpr const char* kClientDatagramTooLong =
    "Datagram from a client longer than %u bytes - dropped";
inline constexpr const char* kTargetDatagramTooLong =
    "Datagram from %s:%u longer than %u bytes - dropped";

// --- TCP mapping service and session --------------------------------------------------------
inline constexpr const char* kTCPMappingServiceName = "TCP Mapping service";
// What the console's service sheet offers for the upstream settings.
inline constexpr DWORD kTCPMappingSupportedMethods = 6;
inline constexpr const char* kSpecifyUserForIncomingConnection = "SpecifyUserForIncomingConnection";
inline constexpr const char* kEncryptConnectionsIn = "EncryptConnectionsIn";
inline constexpr const char* kUsernameIn = "UsernameIn";
inline constexpr const char* kPasswordIn = "PasswordIn";
inline constexpr const char* kEncryptConnectionsOut = "EncryptConnectionsOut";
inline constexpr const char* kUsernameOut = "UsernameOut";
inline constexpr const char* kPasswordOut = "PasswordOut";
// A stored or received ConnectMethod 1 (an upstream web proxy, which speaks HTTP and cannot
// carry a raw stream) is taken as 0; the service's log says so (error line) when it starts.
inline constexpr const char* kUnusableConnectMethod =
    "ConnectMethod 1 (upstream web proxy) cannot carry a TCP mapping - connecting directly";

// A session's description before and after its target is known (target host, target port).
inline constexpr const char* kTCPMappingDescription = "TCPMapping:";
inline constexpr const char* kTCPMappingConnected = "TCPMapping: Connected to %s:%u";
// The relay moves at most this many bytes per read notice, through one buffer per session.
inline constexpr std::size_t kRelayBufferSize = 2048;
// The error lines of the session's handlers (the socket exception's text in place of %s); each
// ends the session with code 1.
inline constexpr const char* kInitializeSocketException =
    "Caught socket exception in CTCPMappingSession::Initialize() %s - terminating";
inline constexpr const char* kInitializeUnknownException =
    "Caught unknown exception in CTCPMappingSession::Initialize() - terminating";
inline constexpr const char* kOnReadSocketException =
    "Caught socket exception in CTCPMappingSession::OnRead() %s - terminating";
inline constexpr const char* kOnReadUnknownException =
    "Caught unknown exception in CTCPMappingSession::OnRead() - terminating";
inline constexpr const char* kOnCloseSocketException =
    "Caught socket exception in CTCPMappingSession::OnClose() %s - terminating";
inline constexpr const char* kOnCloseUnknownException =
    "Caught unknown exception in CTCPMappingSession::OnClose() - terminating";

}  // namespace MappingFormat
