#pragma once
// The command lines an FTP client sends the gateway, read as pure functions over one line
// (without its line end): which command it is, the server a USER line names, and the data
// address of a PORT line. Every result is checked, so the session can pass it on as it is.

#include "platform/kernel/Types.h"
#include "proxies/ftp/FTPReply.h"

#include <optional>
#include <string>
#include <string_view>

// What a client line is to the gateway.
enum class EFTPClientCommand {
    empty,  // nothing but blanks
    other,  // relayed as it is
    user,   // USER: names the server
    port,   // PORT: rewritten
    pasv,   // PASV: relayed; its 227 reply is rewritten
    // Not carried, answered "502" by the gateway: EPSV, EPRT, LPSV and LPRT (addresses it
    // does not rewrite), and the security commands AUTH, ADAT, PBSZ, PROT, CCC, MIC, CONF and
    // ENC (a protected control connection would hide PORT and 227 from it).
    extended,
    feat,  // FEAT: relayed; its reply leaves out what the gateway does not carry
    quit,  // QUIT
};

// The command word (up to the first blank), compared without regard to case.
EFTPClientCommand ClassifyCommand(std::string_view line);

// Whether a line of a FEAT reply names a feature the gateway does not carry: a feature line
// (" EPSV", or "211-EPSV" from a server that writes its code on every line) whose word
// ClassifyCommand takes as extended. The reply's first and last lines name no feature.
bool IsUncarriedFeature(std::string_view line);

// The service's setting for a USER line that names no server.
struct SFTPNonProxyTarget {
    DWORD action = 0;  // 1: log on to host:port with the whole argument as user name
    std::string host;
    DWORD port = 0;
};

// The server a USER line names, and the user name sent to it.
struct SFTPUserTarget {
    std::string user;
    std::string host;
    UINT port = 0;
    bool nonProxy = false;  // no server named: the service's non-proxy target
};

// The argument of a USER line ("user@host" or "user@host:port"): the blanks around it are
// dropped, the last '@' splits user from host (a user name may hold '@'), the host's first ':'
// starts the port (decimal, 1-65535; 21 when absent). Without '@' the non-proxy target is
// used under action 1 and nothing under any other. None also for an empty user or host, a
// user with a control character, a host the outbound target guard would refuse as a name, or
// a port that is not a plain number in range.
std::optional<SFTPUserTarget> ParseUserLine(std::string_view line,
                                            const SFTPNonProxyTarget& nonProxy);

// The address and port of a PORT line: "PORT h1,h2,h3,h4,p1,p2", with blanks only before the
// numbers and after them (ParseHostPort gives the rules of the six numbers).
std::optional<SFTPHostPort> ParsePortLine(std::string_view line);
