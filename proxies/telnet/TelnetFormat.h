#pragma once
// The Telnet proxy's constants in one place: the service's name and port, the Telnet bytes it
// speaks (RFC 854 and the ECHO and SUPPRESS-GO-AHEAD options of RFC 857 and 858), the texts
// it shows on the user's command line, and the lines it writes to its service log. The
// formats are printf formats of the program's own; what a user typed only fills a "%s".
//
// Greeting (Initialize): IAC WILL ECHO, IAC WILL SUPPRESS-GO-AHEAD, IAC DO SUPPRESS-GO-AHEAD
// (nine bytes), then the prompt without a line end.

#include "platform/kernel/Types.h"

#include <cstddef>

namespace TelnetFormat {

// --- Service --------------------------------------------------------------------------------
inline constexpr const char* kServiceName = "Telnet Proxy server";
inline constexpr UINT kServicePort = 23;
// The upstream methods the console's service sheet offers.
inline constexpr DWORD kSupportedMethods = 6;

// --- Telnet bytes ---------------------------------------------------------------------------
inline constexpr BYTE kIAC = 255;
inline constexpr BYTE kDONT = 254;
inline constexpr BYTE kDO = 253;
inline constexpr BYTE kWONT = 252;
inline constexpr BYTE kWILL = 251;
inline constexpr BYTE kSB = 250;  // subnegotiation begins
inline constexpr BYTE kSE = 240;  // subnegotiation ends
inline constexpr BYTE kOptionEcho = 1;
inline constexpr BYTE kOptionSuppressGoAhead = 3;
inline constexpr BYTE kGreeting[] = {kIAC, kWILL, kOptionEcho,
                                     kIAC, kWILL, kOptionSuppressGoAhead,
                                     kIAC, kDO,   kOptionSuppressGoAhead};

// Bytes of the command line.
inline constexpr BYTE kNul = 0;
inline constexpr BYTE kBackspace = 8;
inline constexpr BYTE kLineFeed = 10;
inline constexpr BYTE kReturn = 13;
inline constexpr BYTE kSpace = 32;
inline constexpr BYTE kDelete = 127;

// --- Session --------------------------------------------------------------------------------
inline constexpr char kPrompt[] = "Norvane>";
inline constexpr UINT kTelnetPort = 23;
// Characters a command line holds at most; further ones are neither kept nor echoed.
inline constexpr std::size_t kMaxCommandLine = 255;
// Negotiations remembered for the replay at most; later ones are answered only.
inline constexpr std::size_t kMaxRecordedOptions = 256;
// Bytes relayed per read notice, in both directions.
inline constexpr std::size_t kRelayBufferSize = 2048;
// How long a client that is being closed may still send (and have it discarded).
inline constexpr DWORD kCloseDrainMs = 500;
// Command lines that end the session (compared without regard to case).
inline constexpr char kQuitCommand[] = "QUIT";
inline constexpr char kExitCommand[] = "EXIT";

// --- Texts to the user ----------------------------------------------------------------------
inline constexpr char kAccessDenied[] = "Access Denied\r\n";
inline constexpr char kConnecting[] = "Connecting to host %s...";
inline constexpr char kConnected[] = "Connected\r\n";
inline constexpr char kBadPort[] = "Bad port\r\n";
// A failed join: the exception's text on a line of its own.
inline constexpr char kFailure[] = "%s\r\n";
inline constexpr char kTerminatedByRemote[] = "Connection terminated by remote host\r\n";

// --- Descriptions ---------------------------------------------------------------------------
inline constexpr char kDescriptionStart[] = "Telnet:";
inline constexpr char kDescriptionHost[] = "Telnet: %s";
inline constexpr char kDescriptionHostPort[] = "Telnet: %s:%u";

// --- Service-log lines ----------------------------------------------------------------------
inline constexpr char kLogConnectFailed[] =
    "Caught socket exception in CTelnetSession::ProcessConnectRequest() %s";
inline constexpr char kLogOnReadSocket[] =
    "Caught socket exception in CTelnetSession::OnRead() %s - terminating";
inline constexpr char kLogOnReadUnknown[] =
    "Caught unknown exception in CTelnetSession::OnRead() - terminating";
inline constexpr char kLogOnCloseSocket[] =
    "Caught socket exception in CTelnetSession::OnClose() %s - terminating";
inline constexpr char kLogOnCloseUnknown[] =
    "Caught unknown exception in CTelnetSession::OnClose() - terminating";

}  // namespace TelnetFormat
