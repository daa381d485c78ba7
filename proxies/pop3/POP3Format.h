#pragma once
// The POP3 proxy's constants in one place: the service's name, port and registry value, the
// lines it sends to mail clients and servers, and the lines it writes to its service log. The
// formats are printf formats of the program's own; what a client or server sent only ever
// fills a "%s".
//
// A client logs on as "USER mailbox<Delimiter>host[:port]"; the proxy connects to host (port
// 110 by default), reads the server's greeting, sends "USER mailbox" and relays from then on.
// Through an upstream POP3 proxy (ConnectMethod 1) the log-on it sends is
// "USER mailbox#host[:port]" whatever the local Delimiter.

#include "platform/kernel/Types.h"

#include <cstddef>

namespace POP3Format {

// --- Service --------------------------------------------------------------------------------
inline constexpr const char* kServiceName = "POP3 Proxy server";
inline constexpr UINT kServicePort = 110;
// The upstream methods the console's service sheet offers.
inline constexpr DWORD kSupportedMethods = 7;
// Registry value: the delimiter's character value, sign-extended to a DWORD; a load keeps its
// low 8 bits. Missing: '#'.
inline constexpr const char* kDelimiterValue = "Delimiter";
inline constexpr char kDefaultDelimiter = '#';
// The delimiter of the log-on sent to an upstream POP3 proxy.
inline constexpr char kUpstreamDelimiter = '#';

// --- Session --------------------------------------------------------------------------------
inline constexpr UINT kDefaultServerPort = 110;
// Bytes relayed per read notice, in both directions.
inline constexpr std::size_t kRelayBufferSize = 2048;
// How long the client's log-on line and the server's first line may take.
inline constexpr DWORD kLineTimeoutMs = 30000;
// The longest log-on line taken, its line end included.
inline constexpr std::size_t kMaxLogonLine = 1024;
// How long a client that is being closed may still send (and have it discarded).
inline constexpr DWORD kCloseDrainMs = 500;

// --- Lines to the client --------------------------------------------------------------------
inline constexpr char kGreeting[] = "+OK Norvane Engine POP3 Gateway ready\r\n";
inline constexpr char kAccessDenied[] = "-ERR Access Denied\r\n";
inline constexpr char kBadUsername[] = "-ERR bad username\r\n";
// Sent as it stands, without a line end, before the client is closed.
inline constexpr char kServerTooSlow[] = "-ERR Server response was too slow";
// Answers before the log-on: CAPA, QUIT, a log-on whose port is not 1-65535, any other
// command (with the service's delimiter).
inline constexpr char kCapaReply[] = "-ERR not supported\r\n";
inline constexpr char kQuitReply[] = "+OK\r\n";
inline constexpr char kBadPort[] = "-ERR bad port\r\n";
inline constexpr char kSendUserFirst[] = "-ERR send USER mailbox%chost first\r\n";
// A log-on that failed before the server answered it (a connect, dial or read failure's
// text), before the client is closed.
inline constexpr char kFailed[] = "-ERR %s\r\n";

// Commands the proxy recognises before the log-on (compared without regard to case).
inline constexpr char kUserCommand[] = "USER";
inline constexpr char kCapaCommand[] = "CAPA";
inline constexpr char kQuitCommand[] = "QUIT";

// --- Lines to the server --------------------------------------------------------------------
// The server's greeting starts with this; any other first line goes to the client.
inline constexpr char kPositive[] = "+OK";
inline constexpr char kUserLine[] = "USER %s\r\n";
inline constexpr char kUpstreamUserLine[] = "USER %s#%s\r\n";
inline constexpr char kUpstreamUserPortLine[] = "USER %s#%s:%u\r\n";

// --- Descriptions ---------------------------------------------------------------------------
inline constexpr char kDescriptionStart[] = "POP3:";
inline constexpr char kDescriptionAt[] = "POP3: %s at %s";
inline constexpr char kDescriptionAtPort[] = "POP3: %s at %s:%u";
inline constexpr char kDescriptionPiped[] = "POP3: user %s piped through proxy";

// --- Service-log lines ----------------------------------------------------------------------
inline constexpr char kLogServerTooSlow[] = "Server response was too slow - sent %s";
inline constexpr char kLogNonProxyRejected[] = "Non proxy request rejected - client sent %s";
inline constexpr char kLogOnReadSocket[] =
    "Caught socket exception in CPOP3Session::OnRead() %s - terminating";
inline constexpr char kLogOnReadUnknown[] =
    "Caught unknown exception in CPOP3Session::OnRead() - terminating";
inline constexpr char kLogOnCloseSocket[] =
    "Caught socket exception in CPOP3Session::OnClose() %s - terminating";
inline constexpr char kLogOnCloseUnknown[] =
    "Caught unknown exception in CPOP3Session::OnClose() - terminating";

}  // namespace POP3Format
