#pragma once
// A browser's request to the web proxy, parsed from its head.
//
// ParseRequest is the pure half of the web session's request handling: it turns the head that
// CRequestCollector gathered into a CWWWRequest and tells the session what to do next. It
// sends nothing and opens nothing; answers that the parser decides on (the redirect of a
// relative request, a file of the proxy's own, a refusal) come back as the result, with what
// the session needs to carry them out.
//
// The request line is "METHOD URL [VERSION]". The URL is absolute ("scheme://[user@]host
// [:port]/path[?query]"), the "host:port" of a CONNECT, or, for a client that takes the proxy
// for the server, a bare path ("non-proxy request"), which the service's non-proxy action
// decides on. CR or LF ends the request line; any other control byte in it makes the request
// malformed, so nothing a client sends can add a line to what goes upstream.

#include "platform/kernel/Types.h"
#include "proxies/web/HeaderList.h"
#include "proxies/web/WWWProtocol.h"
#include "proxies/web/WWWTexts.h"

#include <cstdint>
#include <string>
#include <string_view>

// What the service says about relative (non-proxy) requests; copied into each session.
struct SNonProxySettings {
    // 0 refuse (malformed-request page); 1 forward to host:port; 2 redirect to redirectURL;
    // 3 serve files from the service's ServerRoot. Any other value refuses.
    DWORD action = 0;
    std::string host;   // action 1: the server that gets the request
    DWORD port = 80;    // action 1: its port
    DWORD prependResource = 0;  // action 1: put "/" + prependInfo before the path
    std::string prependInfo;
    std::string redirectURL;    // action 2: the Location of the 302 answer
    // A request a SOCKS session handed over (action 1): the checked address of its target,
    // which the request connects to, while `host` (the target as the client named it) is
    // what the request shows and is cached by. Empty for every other request.
    std::string connectAddress;
};

// How a request's body reaches the server.
enum class EBodyKind {
    none,        // no body: bytes after the head are never forwarded
    length,      // Content-Length bytes, then nothing more
    untilClose,  // Transfer-Encoding, or a tunnel: everything until either side closes
};

struct CWWWRequest {
    std::string method;
    std::string scheme;  // as written ("SSL" for CONNECT, "http" for a relative URL)
    std::string host;    // without user information and port
    std::string portText;  // as written; empty when the port is the scheme's default
    DWORD port = 0;        // 80 for HTTP, HTTPS and SSL, 21 for FTP without a port text
    std::string path;      // begins with "/"; "?" kept at its end for an empty query
    std::string query;     // without the "?"
    std::string version;   // empty for a request line without one
    std::string postBody;  // the body bytes that came with the head of a POST
    std::string fullURL;   // scheme "://" host [":" portText] path
    std::string cacheKey;  // host path, or host ":" portText path when the port is not 80
    DWORD protocolCode = PROTOCOL_NONE;
    bool nonProxy = false;  // the URL was a bare path
    // Where the request connects: the host, or a hand-over's target address.
    std::string connectHost;
    // A handed-over request whose Host header names another host than its target: its
    // answer is never taken from or put into the cache under the target's name.
    bool foreignHost = false;
    CHeaderList headers;    // without "Connection" and "Proxy-Connection"

    // ftp:// log-on, from the URL's user information (percent-decoded), and the path the
    // FTP commands name (percent-decoded; never holds CR, LF or NUL).
    std::string ftpUser = kDefaultFTPUser;
    std::string ftpPassword = kDefaultFTPPassword;
    std::string ftpPath;

    EBodyKind bodyKind = EBodyKind::none;
    std::uint64_t bodyLength = 0;  // with EBodyKind::length

    // Set for the answered results of ParseRequest (see there).
    std::string answer;     // redirect: the whole response to send
    std::string localFile;  // internalResource, serverRootFile: path relative to the folder
};

enum class EParseResult {
    proceed,           // check the rights and go on by protocol code
    malformed,         // answer with the malformed-request page, end the session
    redirect,          // send request.answer (302 to RedirectURL), end the session
    internalResource,  // serve request.localFile from the engine's folder, end the session
    serverRootFile,    // serve request.localFile from the service's ServerRoot, end
    accessDenied,      // answer with the access-denied page (a ServerRoot path with "/../")
};

// The parser's classic return code: 1 proceed, 0 malformed, -1 answered.
int ParseResultCode(EParseResult result);

// Parses `head` (the request head, as CRequestCollector::GetHead gives it) into `request`,
// which is reset first. `body` is what came after the head; a POST keeps it as its POST body.
//
// Malformed besides a broken request line: a port text that is not digits 1-65535; an
// absolute URL without a host; ftp:// user, password or path that decode to CR, LF or NUL;
// Content-Length values that are not digits or disagree, or come with Transfer-Encoding.
EParseResult ParseRequest(std::string_view head, std::string_view body,
                          const SNonProxySettings& settings, CWWWRequest& request);
