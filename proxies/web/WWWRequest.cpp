#include "proxies/web/WWWRequest.h"

#include "foundation/Format.h"
#include "foundation/PortText.h"
#include "proxies/web/UrlText.h"

#include <algorithm>
#include <optional>

namespace {

// States of the request line's character machine, in the order its parts come.
enum EState {
    stateMethod,
    stateScheme,
    stateHost,
    statePath,
    stateQuery,
    stateVersion,
};

constexpr std::string_view kSchemeSeparator = "//";

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

std::string_view TrimLeading(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

// The redirect address as it may stand in a header line: cut at the first control byte.
std::string HeaderSafe(const std::string& text) {
    std::size_t end = 0;
    while (end < text.size() && !IsControl(text[end]))
        ++end;
    return text.substr(0, end);
}

// Splits "user[:password]" of an ftp:// URL into the log-on; false when a part decodes to
// CR, LF or NUL. An empty user keeps the default log-on.
bool SetFTPLogOn(std::string_view userInfo, CWWWRequest& request) {
    const std::size_t colon = userInfo.find(':');
    const std::string user = PercentDecode(userInfo.substr(0, colon));
    const std::string password =
        colon == std::string_view::npos ? std::string() : PercentDecode(userInfo.substr(colon + 1));
    if (HasLineBreakOrNul(user) || HasLineBreakOrNul(password))
        return false;
    if (user.empty())
        return true;
    request.ftpUser = user;
    if (colon != std::string_view::npos)
        request.ftpPassword = password;
    return true;
}

// Decides how the body reaches the server; false for Content-Length values that cannot be
// trusted (a server and the proxy could count the body differently).
bool PlanBody(CWWWRequest& request) {
    if (request.protocolCode == PROTOCOL_SSL) {
        request.bodyKind = EBodyKind::untilClose;
        return true;
    }
    const bool chunked = request.headers.Contains("Transfer-Encoding");
    std::uint64_t value = 0;
    const EContentLength lengthHeader = GetContentLength(request.headers, value);
    if (lengthHeader == EContentLength::invalid)
        return false;
    std::optional<std::uint64_t> length;
    if (lengthHeader == EContentLength::valid)
        length = value;
    if (chunked && length)
        return false;
    if (chunked) {
        request.bodyKind = EBodyKind::untilClose;
    } else if (length) {
        request.bodyKind = EBodyKind::length;
        request.bodyLength = *length;
    }
    return true;
}

// Whether the Host header of a handed-over request names its target: absent, or the target's
// host (any case) with the target's port or, without a port, port 80.
bool HostHeaderNamesTarget(const CHeaderList& headers, const SNonProxySettings& settings) {
    if (!headers.Contains("Host"))
        return true;
    const std::string header = headers.Get("Host");
    std::string_view value = TrimLeading(header);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    DWORD port = 80;
    const std::size_t colon = value.rfind(':');
    if (colon != std::string_view::npos) {
        const std::optional<DWORD> written = ParsePortText(value.substr(colon + 1));
        if (!written)
            return false;
        port = *written;
        value = value.substr(0, colon);
    }
    return port == settings.port && EqualsNoCase(value, settings.host);
}

// The request line: method, then the URL's parts, then the version. Returns a result when the
// line alone decides the request (malformed, or the redirect of a relative URL).
std::optional<EParseResult> ParseRequestLine(std::string_view line,
                                             const SNonProxySettings& settings,
                                             CWWWRequest& r) {
    EState state = stateMethod;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (IsControl(c))
            return EParseResult::malformed;
        switch (state) {
        case stateMethod:
            if (c != ' ') {
                r.method += c;
            } else if (r.method.empty()) {
                return EParseResult::malformed;
            } else if (r.method == "CONNECT") {
                r.scheme = "SSL";
                state = stateHost;
            } else {
                state = stateScheme;
            }
            break;
        case stateScheme:
            if (c == '/') {
                // A bare path: the client takes the proxy for the server.
                if (!r.scheme.empty())
                    return EParseResult::malformed;
                r.nonProxy = true;
                r.scheme = "http";
                if (settings.action == 2) {
                    r.answer = FormatText(kRedirectFormat, HeaderSafe(settings.redirectURL).c_str());
                    return EParseResult::redirect;
                }
                if (settings.action != 1 && settings.action != 3)
                    return EParseResult::malformed;
                r.path = "/";
                state = statePath;
            } else if (c == ':') {
                if (r.scheme.empty() ||
                    line.substr(i + 1, kSchemeSeparator.size()) != kSchemeSeparator)
                    return EParseResult::malformed;
                i += kSchemeSeparator.size();
                state = stateHost;
            } else if (c == ' ') {
                return EParseResult::malformed;
            } else {
                r.scheme += c;
            }
            break;
        case stateHost:
            if (c == '/') {
                r.path += '/';
                state = statePath;
            } else if (c == ' ') {
                r.path = "/";
                state = stateVersion;
            } else {
                r.host += c;
            }
            break;
        case statePath:
            if (c == '?')
                state = stateQuery;
            else if (c == ' ')
                state = stateVersion;
            else
                r.path += c;
            break;
        case stateQuery:
            if (c == ' ') {
                if (r.query.empty())
                    r.path += '?';
                state = stateVersion;
            } else {
                r.query += c;
            }
            break;
        default: r.version += c; break;
        }
    }
    // Where the line ended: too soon, or with the URL's last part still to be settled.
    switch (state) {
    case stateMethod:
    case stateScheme: return EParseResult::malformed;
    case stateHost: r.path = "/"; break;
    case stateQuery:
        if (r.query.empty())
            r.path += '?';
        break;
    default: break;
    }
    return std::nullopt;
}

// One header line (its LF taken off) into the list. False when the line could be split
// differently by a server than here: a CR that does not end it, a NUL, a control byte in its
// name, or a blank in a name (a line that begins with one continues the previous header
// there, and "Name :" is no name). A line without ":" or with an empty name is dropped.
bool ParseHeaderLine(std::string_view line, CHeaderList& headers) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.find('\r') != std::string_view::npos || line.find('\0') != std::string_view::npos)
        return false;
    const std::size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    for (char c : name)
        if (IsControl(c) || (c == ' ' && colon != std::string_view::npos))
            return false;
    if (colon == std::string_view::npos || name.empty())
        return true;
    headers.Add(std::string(name), std::string(TrimLeading(line.substr(colon + 1))));
    return true;
}

bool ParseHeaderLines(std::string_view block, CHeaderList& headers) {
    while (!block.empty()) {
        const std::size_t end = block.find('\n');
        if (!ParseHeaderLine(block.substr(0, end), headers))
            return false;
        if (end == std::string_view::npos)
            break;
        block.remove_prefix(end + 1);
    }
    return true;
}

// User information (only ftp:// uses it) ends at the last "@"; a port follows the first ":".
bool SplitAuthority(CWWWRequest& r) {
    const std::size_t at = r.host.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = r.host.substr(0, at);
        r.host.erase(0, at + 1);
        if (EqualsNoCase(r.scheme, "FTP") && !SetFTPLogOn(userInfo, r))
            return false;
    }
    const std::size_t colon = r.host.find(':');
    if (colon != std::string::npos) {
        r.portText = r.host.substr(colon + 1);
        r.host.erase(colon);
        if (!ParsePortText(r.portText))
            return false;
    }
    return r.nonProxy || !r.host.empty();
}

// A relative request under action 1 goes to the configured host (connecting to a hand-over's
// target address); under action 3 it is a file of the server root (the result then).
std::optional<EParseResult> ApplyNonProxyAction(const SNonProxySettings& settings,
                                                CWWWRequest& r) {
    if (settings.action == 1) {
        r.host = settings.host;
        if (settings.prependResource)
            r.path = "/" + settings.prependInfo + r.path;
        if (settings.port != 80)
            r.portText = std::to_string(settings.port);
        if (!settings.connectAddress.empty()) {
            r.connectHost = settings.connectAddress;
            r.foreignHost = !HostHeaderNamesTarget(r.headers, settings);
        }
        return std::nullopt;
    }
    if (r.path.find("/../") != std::string::npos)
        return EParseResult::accessDenied;
    r.fullURL = r.scheme + "://" + r.path;
    r.localFile = r.path.substr(1);
    return EParseResult::serverRootFile;
}

// Protocol code, port, full URL and cache key; the FTP path. False for an FTP path that
// decodes to a line break or NUL.
bool CompleteTarget(CWWWRequest& r) {
    r.protocolCode = GetProtocolCode(r.scheme);
    if (!r.portText.empty()) {
        r.port = ParsePortText(r.portText).value_or(0);
    } else if (r.protocolCode == PROTOCOL_HTTP || r.protocolCode == PROTOCOL_HTTPS ||
               r.protocolCode == PROTOCOL_SSL) {
        r.port = 80;
    } else if (r.protocolCode == PROTOCOL_FTP) {
        r.port = 21;
    }
    r.fullURL = r.scheme + "://" + r.host + (r.portText.empty() ? "" : ":" + r.portText) + r.path;
    r.cacheKey = r.port == 80 ? r.host + r.path : r.host + ":" + r.portText + r.path;
    if (r.protocolCode == PROTOCOL_FTP) {
        r.ftpPath = PercentDecode(r.path);
        if (HasLineBreakOrNul(r.ftpPath))
            return false;
    }
    return true;
}

}  // namespace

int ParseResultCode(EParseResult result) {
    switch (result) {
    case EParseResult::proceed: return 1;
    case EParseResult::malformed: return 0;
    default: return -1;
    }
}

EParseResult ParseRequest(std::string_view head, std::string_view body,
                          const SNonProxySettings& settings, CWWWRequest& request) {
    request = CWWWRequest();
    CWWWRequest& r = request;
    // The request line ends at its first CR or LF; the header lines follow that one byte.
    const std::size_t lineEnd = std::min(head.find('\r'), head.find('\n'));
    if (auto decided = ParseRequestLine(head.substr(0, lineEnd), settings, r))
        return *decided;
    if (lineEnd != std::string_view::npos &&
        !ParseHeaderLines(head.substr(lineEnd + 1), r.headers))
        return EParseResult::malformed;

    if (EqualsNoCase(r.method, "POST") && !body.empty())
        r.postBody.assign(body);
    if (!SplitAuthority(r))
        return EParseResult::malformed;
    if (EqualsNoCase(r.host, kInternalHost)) {
        r.localFile = r.path.substr(1);
        return EParseResult::internalResource;
    }
    if (r.nonProxy) {
        if (auto decided = ApplyNonProxyAction(settings, r))
            return *decided;
    }
    if (!CompleteTarget(r))
        return EParseResult::malformed;
    if (r.connectHost.empty())
        r.connectHost = r.host;
    r.headers.RemoveAll("connection");
    r.headers.RemoveAll("proxy-connection");
    if (!PlanBody(r))
        return EParseResult::malformed;
    return EParseResult::proceed;
}
