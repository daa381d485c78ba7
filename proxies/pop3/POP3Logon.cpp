#include "proxies/pop3/POP3Logon.h"

#include "engine/framework/OutboundFormat.h"
#include "foundation/Format.h"
#include "foundation/PortText.h"
#include "proxies/pop3/POP3Format.h"

#include <algorithm>
#include <cctype>

using namespace POP3Format;

namespace {

bool IsCommand(std::string_view word, std::string_view command) {
    return word.size() == command.size() &&
           std::equal(word.begin(), word.end(), command.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == b;
           });
}

std::string_view TrimTrailing(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::string DescribeTarget(const std::string& user, const std::string& host, UINT port,
                           bool withPort) {
    return withPort ? FormatText(kDescriptionAtPort, user.c_str(), host.c_str(), port)
                    : FormatText(kDescriptionAt, user.c_str(), host.c_str());
}

// A log-on without the delimiter.
void ParseNonProxy(std::string_view argument, const SPOP3LogonSettings& settings,
                   SPOP3Logon& logon) {
    logon.nonProxy = true;
    logon.user = std::string(argument);
    if (settings.connectMethod == OutboundFormat::kMethodHttpProxy) {
        // The upstream POP3 proxy decides where the mailbox is.
        logon.piped = true;
        logon.description = FormatText(kDescriptionPiped, logon.user.c_str());
        logon.outcome = EPOP3Logon::connect;
        return;
    }
    // Actions 2 and 3 (a redirect, a local folder) have no meaning here: refused like 0.
    if (settings.nonProxyAction != 1) {
        logon.outcome = EPOP3Logon::rejected;
        return;
    }
    logon.host = settings.nonProxyHost;
    logon.port = settings.nonProxyPort;
    logon.description =
        DescribeTarget(logon.user, logon.host, logon.port, logon.port != kDefaultServerPort);
    logon.outcome = EPOP3Logon::connect;
}

}  // namespace

SPOP3Logon ParsePOP3Logon(std::string_view line, const SPOP3LogonSettings& settings) {
    SPOP3Logon logon;
    if (line.size() > kMaxLogonLine)
        return logon;  // badUser
    const std::string_view text = TrimTrailing(line);
    logon.text = std::string(text);
    const std::size_t space = text.find(' ');
    const std::string_view command = text.substr(0, space);
    if (IsCommand(command, kCapaCommand)) {
        logon.outcome = EPOP3Logon::capability;
        return logon;
    }
    if (IsCommand(command, kQuitCommand)) {
        logon.outcome = EPOP3Logon::quit;
        return logon;
    }
    if (!IsCommand(command, kUserCommand)) {
        logon.outcome = EPOP3Logon::notUser;
        return logon;
    }
    const std::string_view argument =
        space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
    if (argument.empty())
        return logon;  // badUser

    const std::size_t delimiter = argument.rfind(settings.delimiter);
    if (delimiter == std::string_view::npos) {
        ParseNonProxy(argument, settings, logon);
        return logon;
    }
    logon.user = std::string(argument.substr(0, delimiter));
    const std::string_view server = argument.substr(delimiter + 1);
    const std::size_t colon = server.find(':');
    logon.host = std::string(server.substr(0, colon));
    if (logon.user.empty() || logon.host.empty())
        return logon;  // badUser
    if (colon != std::string_view::npos) {
        const std::optional<DWORD> port = ParsePortText(server.substr(colon + 1));
        if (!port) {
            logon.outcome = EPOP3Logon::badPort;
            return logon;
        }
        logon.port = *port;
    } else {
        logon.port = kDefaultServerPort;
    }
    logon.description =
        DescribeTarget(logon.user, logon.host, logon.port, colon != std::string_view::npos);
    logon.outcome = EPOP3Logon::connect;
    return logon;
}

std::string BuildServerUserLine(const SPOP3Logon& logon, DWORD connectMethod) {
    if (connectMethod != OutboundFormat::kMethodHttpProxy || logon.piped || logon.port == 0)
        return FormatText(kUserLine, logon.user.c_str());
    if (logon.port == kDefaultServerPort)
        return FormatText(kUpstreamUserLine, logon.user.c_str(), logon.host.c_str());
    return FormatText(kUpstreamUserPortLine, logon.user.c_str(), logon.host.c_str(), logon.port);
}
