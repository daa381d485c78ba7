#include "proxies/web/ResponseHead.h"

#include "foundation/Format.h"

std::string BuildRelayedResponseHead(std::string_view version, DWORD code, std::string_view reason,
                                     const CHeaderList& headers) {
    std::string head(version);
    head += " ";
    head += FormatText("%3u", code);
    head += " ";
    head += reason;
    head += "\r\n";
    CHeaderList relayed = headers;
    relayed.RemoveAll("connection");
    relayed.RemoveAll("proxy-connection");
    relayed.Add("Connection", "close");
    relayed.Add("Proxy-Connection", "close");
    head += relayed.Format();
    head += "\r\n";
    return head;
}
