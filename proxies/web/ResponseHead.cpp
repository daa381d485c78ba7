#include "proxies/web/ResponseHead.h"

#include "foundation/Format.h"
#include "proxies/web/HTTPDate.h"
#include "proxies/web/WWWTexts.h"

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

std::string BuildDocumentHead(const SDocumentHead& document) {
    std::string_view type = document.contentType;
    for (std::size_t i = 0; i < type.size(); ++i) {
        const auto byte = static_cast<unsigned char>(type[i]);
        if (byte < 0x20 || byte == 0x7F) {
            type = type.substr(0, i);
            break;
        }
    }
    std::string head = kDocumentStatusLine;
    head += FormatText(kDocumentDateLine, FormatHTTPDate(document.now).c_str());
    head += FormatText(kDocumentServerLine, kServerName);
    head += FormatText(kDocumentTypeLine, std::string(type).c_str());
    if (document.lastModified)
        head += FormatText(kDocumentLastModifiedLine, FormatHTTPDate(*document.lastModified).c_str());
    if (document.contentLength)
        head += FormatText(kDocumentLengthLine, std::to_string(*document.contentLength).c_str());
    head += "\r\n";
    return head;
}

std::string BuildCachedResourceHead(std::int64_t now, std::string_view contentType,
                                    std::int64_t lastModified, std::uint64_t fileSize) {
    return BuildDocumentHead({.now = now,
                              .contentType = contentType,
                              .lastModified = lastModified,
                              .contentLength = fileSize});
}
