#pragma once
// The HTML page with which the web proxy answers every failure, and the texts on it.

#include "platform/kernel/Types.h"
#include "proxies/web/WWWTexts.h"

#include <cstddef>
#include <string>
#include <string_view>

// Longest error text taken from the configuration; longer texts are cut there.
inline constexpr std::size_t kMaxErrorTextLength = 4096;

// `text` with "&", "<", ">", '"' and "'" written as HTML character references, so that a
// title or description (which may hold a host name, a socket error text or whatever an
// administrator stored) shows as the text it is and never as markup. NUL bytes are dropped.
std::string HtmlEscape(std::string_view text);

// The error text from the configuration (key kErrorStringsKey), read afresh at each call so
// that an administrator's change applies to the next page, or its built-in default when the
// value is absent. Cut to kMaxErrorTextLength bytes.
std::string ReadErrorText(const SErrorText& text);

// What went wrong, as the status line of the page says it.
enum class EPageStatus {
    badRequest,      // 400: the request is malformed (or its body cannot be relayed)
    forbidden,       // 403: a right, a filter or the server's log-on refused it
    notFound,        // 404: the file asked for is not there (or may not be read)
    notImplemented,  // 501: a scheme or method the proxy does not carry
    badGateway,      // 502: the server could not be reached or looked up, or answered wrongly
    gatewayTimeout,  // 504: the server did not answer in time
};

const char* StatusLine(EPageStatus status);

// The status of the page for a socket failure with `code`: a time-out is 504, the rest 502.
EPageStatus SocketErrorStatus(int code);

// The whole answer: the status line, "Pragma: no-cache", and the page with the title (twice)
// and the description, both escaped. The caller sends it and closes the client connection.
std::string BuildErrorPage(EPageStatus status, std::string_view title,
                           std::string_view description);

// The page for two configured texts.
std::string BuildErrorPage(EPageStatus status, const SErrorText& title,
                           const SErrorText& description);
