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

// The whole answer: the fixed "HTTP/1.0 200 OK" head with "Pragma: no-cache", and the page
// with the title (twice) and the description, both escaped. The caller sends it and closes
// the client connection; any status the caller had in mind does not reach the client.
std::string BuildErrorPage(std::string_view title, std::string_view description);

// The page for two configured texts.
std::string BuildErrorPage(const SErrorText& title, const SErrorText& description);

// The same page under another status line (without its line end): a CONNECT that is refused
// (kTunnelRefusedStatus) or cannot reach its target (kTunnelFailedStatus).
std::string BuildErrorPageWithStatus(std::string_view statusLine, std::string_view title,
                                     std::string_view description);

// Why a CONNECT got no tunnel.
enum class ETunnelFailure {
    refused,  // the rights refused the request
    failed,   // the target (or the upstream proxy) could not be reached
};

// The status line for a failed request: kErrorPageStatus, except for a CONNECT (protocol
// code 7, PROTOCOL_SSL) that got no tunnel.
const char* ErrorPageStatus(DWORD protocolCode, ETunnelFailure failure);
