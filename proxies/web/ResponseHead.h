#pragma once
// The heads the web session sends its client: a server's response relayed, and the documents
// the proxy makes itself (files from disk, cached copies, ftp:// files and listings).

#include "platform/kernel/Types.h"
#include "proxies/web/HeaderList.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// "VERSION CODE REASON\r\n" (the code right-aligned in three places, as "%3u"), the response
// headers in list order without the server's Connection and Proxy-Connection headers, then
// "Connection: close", "Proxy-Connection: close" and the blank line. Every relayed answer
// announces that the connection ends after it: the proxy serves one request per connection,
// and an HTTP/1.1 client that is not told would wait for its idle time-out before it opens
// the next one.
std::string BuildRelayedResponseHead(std::string_view version, DWORD code, std::string_view reason,
                                     const CHeaderList& headers);

// What the head of a document the proxy makes says about it.
struct SDocumentHead {
    std::int64_t now = 0;          // Date (seconds since 1970, written as UTC)
    std::string_view contentType;  // Content-Type; cut at its first control byte
    std::optional<std::int64_t> lastModified;  // Last-Modified, when the document has one
    std::optional<std::uint64_t> contentLength;  // Content-Length, when it is known
};

// "HTTP/1.0 200 Document Follows" with Date, Server (kServerName), Content-Type and, where
// the document has them, Last-Modified and Content-Length, in that order; then the blank line.
std::string BuildDocumentHead(const SDocumentHead& document);

// The head of a copy served from the cache: its stored content type and last-modified time,
// and `fileSize`, the size of the content file as it is now (never the size the index
// recorded, which a damaged or edited index could get wrong).
std::string BuildCachedResourceHead(std::int64_t now, std::string_view contentType,
                                    std::int64_t lastModified, std::uint64_t fileSize);
