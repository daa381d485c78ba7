#pragma once
// The POP3 proxy's reading of what a mail client sends before it is logged on, as a pure
// function over the line: which command it is, and for a log-on, where the session goes.
//
//   USER mailbox<D>host          mailbox on host, port 110 (D: the service's delimiter, the
//   USER mailbox<D>host:port     last one in the text splits; the host ends at its first ':')
//   USER mailbox                 no delimiter: a non-proxy log-on. Through an upstream POP3
//                                proxy (ConnectMethod 1) it is passed on as it came; otherwise
//                                NonProxyRequestAction 1 sends it to NonProxyRequestHost and
//                                NonProxyRequestPort, and every other action refuses it
//   CAPA, QUIT, anything else    answered by the proxy, which goes on waiting for the log-on
//                                (QUIT ends the session)
//
// Commands are compared without regard to case. A line longer than POP3Format::kMaxLogonLine,
// a USER without a mailbox or a host, and a port that is not 1-65535 are refused with answers
// of their own.

#include "platform/kernel/Types.h"

#include <string>
#include <string_view>

// What the parser needs of the service and the session.
struct SPOP3LogonSettings {
    char delimiter = '#';
    DWORD connectMethod = 0;  // the session's ConnectMethod (OutboundFormat.h)
    DWORD nonProxyAction = 0;
    std::string nonProxyHost;
    DWORD nonProxyPort = 110;
};

enum class EPOP3Logon {
    connect,     // a log-on to pass on: the fields below say where
    capability,  // CAPA: answered, the log-on still awaited
    quit,        // QUIT: answered, then the session ends
    notUser,     // any other command: answered, the log-on still awaited
    badPort,     // a log-on whose port is not 1-65535: answered, the log-on still awaited
    badUser,     // a log-on with nothing usable in it (or a line too long): refused
    rejected,    // a non-proxy log-on the service refuses: refused and logged
};

struct SPOP3Logon {
    EPOP3Logon outcome = EPOP3Logon::badUser;
    std::string user;         // the mailbox name the server gets
    std::string host;         // the server; empty when piped
    UINT port = 0;            // the server's port; 0 when piped
    bool nonProxy = false;    // the log-on named no server
    bool piped = false;       // passed to the upstream POP3 proxy as it came
    std::string description;  // the session's description ("POP3: ...")
    std::string text;         // the line without its trailing white space (for the log)
};

// Reads one line the client sent before its log-on (its line end may be there or not).
SPOP3Logon ParsePOP3Logon(std::string_view line, const SPOP3LogonSettings& settings);

// The log-on line the server gets once it has greeted: "USER mailbox"; through an upstream
// POP3 proxy (connectMethod 1) "USER mailbox#host" with ":port" unless it is 110, or
// "USER mailbox" for a piped log-on.
std::string BuildServerUserLine(const SPOP3Logon& logon, DWORD connectMethod);
