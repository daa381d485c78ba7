#pragma once
// The head the web session sends its client for a server's response.

#include "platform/kernel/Types.h"
#include "proxies/web/HeaderList.h"

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
