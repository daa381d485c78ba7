#pragma once
// Every text the FTP gateway sends or logs, in one table: the service's name and defaults,
// the replies it gives the client itself, the lines it sends the server, and its service-log
// lines. The formats are printf formats of the program's own; outside text only ever fills a
// "%s".

#include "platform/kernel/Types.h"

#include <cstddef>

// ---- The service -----------------------------------------------------------------------

inline constexpr const char* kFTPServiceName = "FTP Proxy server";
inline constexpr UINT kFTPServicePort = 21;
// Direct, HTTP proxy, SOCKS 4 and CONNECT tunnel, as the console's sheet offers them.
inline constexpr DWORD kFTPServiceMethods = 7;
// The port a server has when the USER line names none.
inline constexpr UINT kFTPDefaultServerPort = 21;

// ---- Replies to the client ---------------------------------------------------------------

inline constexpr const char* kFTPGreeting = "220 Norvane Engine FTP Gateway ready\r\n";
inline constexpr const char* kFTPAccessDenied = "500 Norvane Engine Access Denied\r\n";
inline constexpr const char* kFTPBadUserReply =
    "500 Bad username format - format is user@host:port\r\n";
inline constexpr const char* kFTPPortNotDirectReply =
    "500 only PASV mode is supported for non-direct proxy connections\r\n";
inline constexpr const char* kFTPBadPortReply = "500 Bad Port command\r\n";
// The gateway's own passive reply: its address on the client's side, its data port.
inline constexpr const char* kFTPPassiveReplyFormat =
    "227 Entering passive mode (%u,%u,%u,%u,%u,%u)\r\n";
// Before a server is connected, only USER and QUIT mean anything.
inline constexpr const char* kFTPGoodbyeReply = "221 Goodbye\r\n";
inline constexpr const char* kFTPLoginFirstReply =
    "530 Please login with USER user@host[:port]\r\n";
// What the gateway does not carry (EPSV, EPRT, LPSV and LPRT name addresses it does not
// rewrite; the security commands would hide the dialogue from it): clients fall back to PASV
// and PORT, and to an unprotected control connection. FEAT replies leave these out.
inline constexpr const char* kFTPNotImplementedReply = "502 Command not implemented\r\n";
inline constexpr const char* kFTPBadPassiveReply = "425 Cannot parse passive reply\r\n";
inline constexpr const char* kFTPLineTooLongReply = "500 Command line too long\r\n";
inline constexpr const char* kFTPBadLineReply = "500 Command line not understood\r\n";
// The server could not be reached: the failure's text, before the connection closes.
inline constexpr const char* kFTPConnectFailedReply = "421 %s\r\n";

// ---- Lines to the server ------------------------------------------------------------------

inline constexpr const char* kFTPUserLine = "USER %s\r\n";
// Through an upstream FTP proxy (ConnectMethod 1) the proxy is told the server, the port
// only when it is not 21.
inline constexpr const char* kFTPUserAtHostLine = "USER %s@%s\r\n";
inline constexpr const char* kFTPUserAtHostPortLine = "USER %s@%s:%u\r\n";
// The gateway's address on the server's side, its data port.
inline constexpr const char* kFTPPortLineFormat = "PORT %u,%u,%u,%u,%u,%u\r\n";

// ---- Descriptions and log lines ----------------------------------------------------------

inline constexpr const char* kFTPDescription = "FTP:";
inline constexpr const char* kFTPDescriptionFormat = "FTP: %s at %s";
inline constexpr const char* kFTPDescriptionPortFormat = "FTP: %s at %s:%u";

inline constexpr const char* kFTPBadUserLog = "Bad Username format - user sent %s";
inline constexpr const char* kFTPPortNotDirectLog =
    "User sent PORT command, but we are configured for connection out through a proxy - pnly "
    "PASV is supported for this";
inline constexpr const char* kFTPBadPortLog = "Bad Port command - user sent %s";
inline constexpr const char* kFTPBadPassiveLog = "Bad passive reply - server sent %s";
inline constexpr const char* kFTPLineTooLongLog = "Command line too long - user sent %s";
inline constexpr const char* kFTPBadLineLog = "Command line with CR or NUL - user sent %s";
inline constexpr const char* kFTPForeignDataLog =
    "Data connection from %s refused - expected %s";
inline constexpr const char* kFTPOnReadSocketLog =
    "Caught socket exception in CFTPSession::OnRead() %s - terminating";
inline constexpr const char* kFTPOnReadUnknownLog =
    "Caught unknown exception in CFTPSession::OnRead() - terminating";
// A failure on a data connection ends that transfer only.
inline constexpr const char* kFTPDataSocketLog =
    "Caught socket exception in CFTPSession::OnRead() %s - closing the data connection";
inline constexpr const char* kFTPOnAcceptSocketLog =
    "Caught socket exception in CFTPSession::OnAccept() %s - ignoring";
inline constexpr const char* kFTPOnAcceptUnknownLog =
    "Caught unknown exception in CFTPSession::OnAccept() - ignoring";
inline constexpr const char* kFTPOnCloseUnknownLog =
    "Caught unknown exception in CFTPSession::OnClose() - terminating";

// ---- Sizes ---------------------------------------------------------------------------------

// What one read notice takes: client lines, server replies, data-connection bytes.
inline constexpr std::size_t kFTPClientReadSize = 255;
inline constexpr std::size_t kFTPServerReadSize = 2047;
inline constexpr std::size_t kFTPRelayBufferSize = 2048;
// Longest command or reply line kept; the rest of a longer line is dropped.
inline constexpr std::size_t kFTPMaxLineLength = 4096;
// Commands relayed and not yet answered: at this many the client's further lines wait in the
// socket until the server catches up.
inline constexpr std::size_t kFTPMaxAwaitedReplies = 256;
