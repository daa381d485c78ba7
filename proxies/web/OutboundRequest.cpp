#include "proxies/web/OutboundRequest.h"

#include "proxies/web/UrlText.h"

#include <cctype>

namespace {

constexpr DWORD kHTTPPort = 80;
constexpr DWORD kFTPPort = 21;

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string HostAndPort(const CWWWRequest& request) {
    DWORD defaultPort = kHTTPPort;
    if (request.protocolCode == PROTOCOL_SSL)
        defaultPort = 0;  // a tunnel always names its port
    else if (request.protocolCode == PROTOCOL_FTP)
        defaultPort = kFTPPort;
    if (request.port == defaultPort)
        return request.host;
    return request.host + ":" + std::to_string(request.port);
}

std::string BuildOutboundHead(const CWWWRequest& request, bool throughHTTPProxy) {
    std::string head;
    if (!throughHTTPProxy) {
        head = request.method + " " + request.path;
    } else if (request.protocolCode == PROTOCOL_SSL) {
        head = "CONNECT " + HostAndPort(request);
    } else {
        std::string hostPart = HostAndPort(request);
        if (request.protocolCode == PROTOCOL_FTP &&
            !(request.ftpUser == kDefaultFTPUser && request.ftpPassword == kDefaultFTPPassword))
            hostPart = PercentEncodeUserInfo(request.ftpUser) + ":" +
                       PercentEncodeUserInfo(request.ftpPassword) + "@" + hostPart;
        head = request.method + " " + Lower(GetProtocolName(request.protocolCode)) + "://" +
               hostPart + request.path;
    }
    if (!request.query.empty() && !(throughHTTPProxy && request.protocolCode == PROTOCOL_SSL))
        head += "?" + request.query;
    head += " ";
    head += request.version.empty() ? kDefaultHTTPVersion : request.version;
    head += "\r\n";

    CHeaderList headers = request.headers;
    headers.RemoveAll("connection");
    headers.RemoveAll("proxy-connection");
    headers.SetUnique("Host", HostAndPort(request));
    headers.Add("Connection", "close");
    head += headers.Format();
    head += "\r\n";
    return head;
}

std::size_t CBodyRelay::Take(std::size_t count) {
    switch (m_kind) {
    case EBodyKind::none: return 0;
    case EBodyKind::untilClose: return count;
    case EBodyKind::length: break;
    }
    const std::size_t taken = count < m_remaining ? count : static_cast<std::size_t>(m_remaining);
    m_remaining -= taken;
    return taken;
}
