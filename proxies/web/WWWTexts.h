#pragma once
// Every text the web proxy sends, stores or reads by name, in one table: response heads and
// pages it writes on the wire, the configuration values it reads, and its log lines. The
// formats are printf formats of the program's own; outside text only ever fills a "%s".

#include "platform/kernel/Types.h"

// ---- Configuration ---------------------------------------------------------------------

// Key (below the configuration root) of the texts an administrator may put on error pages.
inline constexpr const char* kErrorStringsKey = "ErrorStrings\\HTTP";
// Key of the administrator's MIME types: value name = extension, data = type.
inline constexpr const char* kMimeTypesKey = "MimeTypes";
inline constexpr const char* kNoExtensionValue = "NoExtension";
inline constexpr const char* kNoExtensionDefault = "text/plain";
inline constexpr const char* kDefaultMimeTypeValue = "DefaultMimeType";
inline constexpr const char* kDefaultMimeTypeDefault = "application/unknown";

// One error-page text: the value under kErrorStringsKey and the text used when it is absent.
struct SErrorText {
    const char* valueName;
    const char* defaultText;
};

inline constexpr SErrorText kAccessDeniedTitle{"AccessDeniedTitle", "Access Denied"};
inline constexpr SErrorText kAccessDeniedDescription{
    "AccessDeniedDescription", "You do not have sufficient rights for access to this resource"};
inline constexpr SErrorText kProtocolErrorTitle{"ProtocolErrorTitle", "Protocol Error"};
inline constexpr SErrorText kProtocolErrorDescription{
    "ProtocolErrorDescription", "Only HTTP, FTP and SSL are currently supported"};
inline constexpr SErrorText kMalformedRequestTitle{"MalformedRequestTitle", "Browser Error"};
inline constexpr SErrorText kMalformedRequestDescription{
    "MalformedRequestDescription", "Your Browser sent a malformed request"};
// The description of a socket-error page is the socket exception's own text.
inline constexpr SErrorText kSocketErrorTitle{"SocketErrorTitle", "Socket Error"};
inline constexpr SErrorText kAnonymousAccessDeniedTitle{"AnonymousAccessDeniedTitle",
                                                        "Access Denied"};
inline constexpr SErrorText kAnonymousAccessDeniedDescription{"AnonymousAccessDeniedDescription",
                                                              "Anonymous Access Denied"};
inline constexpr SErrorText kGatewayTimeoutTitle{"GatewayTimeoutTitle", "FTP Error"};
inline constexpr SErrorText kGatewayTimeoutDescription{"GatewayTimeoutDescription",
                                                       "FTP Session has timed out"};
inline constexpr SErrorText kFileAccessDeniedTitle{"FileAccessDeniedTitle", "Access Denied"};
inline constexpr SErrorText kFileAccessDeniedDescription{"FileAccessDeniedDescription",
                                                         "File not found or access denied"};

// ---- Wire texts ------------------------------------------------------------------------

// Every error page, whatever went wrong, goes out with this head and body (title, title,
// description), and the connection is closed after it.
inline constexpr const char* kErrorPageFormat =
    "HTTP/1.0 200 OK\r\nPragma: no-cache\r\n\r\n"
    "<HTML><HEAD><TITLE>%s</TITLE></HEAD>\r\n"
    "<BODY><H1>%s</H1><P><P>%s\r\n</BODY></HTML>\r\n";

// The answer to a relative request under non-proxy action 2 (the redirect address).
inline constexpr const char* kRedirectFormat = "HTTP/1.0 302 Found\r\nLocation: %s\r\n\r\n";

// Head of a file served from disk: date (now, UTC), server name, MIME type, size.
inline constexpr const char* kLocalFileHeadFormat =
    "HTTP/1.0 200 Document Follows\r\nDate: %s\r\nServer: %s\r\nContent-Type: %s\r\n"
    "Content-Length: %llu\r\n\r\n";

// The name the proxy gives itself in the Server header of the heads it makes.
inline constexpr const char* kServerName = "Norvane Engine";

// Answers sent without a page.
inline constexpr const char* kUseCachedCopyResponse = "HTTP/1.0 304 Use cached copy\r\n\r\n";
inline constexpr const char* kConnectedResponse = "HTTP/1.0 200 Connected OK\r\n\r\n";

// HTTP date as written: "Sun, 06 Nov 1994 08:49:37 GMT".
inline constexpr const char* kHTTPDateFormat = "%s, %02u %s %04d %02u:%02u:%02u GMT";

// Host name that addresses the proxy's own files (compared without regard to case).
inline constexpr const char* kInternalHost = "norvane-internal";

// Version sent for a request that came without one.
inline constexpr const char* kDefaultHTTPVersion = "HTTP/1.0";

// Defaults of the ftp:// log-on when the URL names no user.
inline constexpr const char* kDefaultFTPUser = "anonymous";
inline constexpr const char* kDefaultFTPPassword = "Pelwick@";

// ---- Log texts (service log and debug lines of the web session) -------------------------

inline constexpr const char* kLogAlreadyReceived =
    "WWW Session has already received a request in thread %x\n";
inline constexpr const char* kLogMoreToCome = "More to come in client request\n";
inline constexpr const char* kLogResourceData =
    "Client request contains %u bytes of resource data\n";
inline constexpr const char* kLogReceivedRequest =
    "WWW Session received HTTP request in thread %x\n";
inline constexpr const char* kLogReceiveSocketError =
    "Socket error in ReceiveRequest in thread %x\n";
inline constexpr const char* kLogParsingRequest = "WWW Session parsing HTTP request in thread %x\n";
inline constexpr const char* kLogSentResource = "Sent Norvane Resource %s in thread %x\n";
inline constexpr const char* kLogServedFile = "Served File %s in thread %x\n";
inline constexpr const char* kLogSendingRequest =
    "WWW Session sending server request in thread %x\n";
inline constexpr const char* kLogSentCachedResource = "Sent Cached Resource %s in thread %x\n";
inline constexpr const char* kErrorLineMalformed = "Malformed Request";
inline constexpr const char* kErrorLineProtocol = "Protocol not supported - requested %s";
inline constexpr const char* kErrorLineCacheMissing =
    "Cache file did not exist - downloading from server again";
inline constexpr const char* kErrorLineProcessRequest =
    "Caught socket exception in CWWWSession::HTTPProcessRequest() %s - terminating";
inline constexpr const char* kErrorLineOnReadSocket =
    "Caught socket exception in CWWWSession::OnRead() %s - terminating";
inline constexpr const char* kErrorLineOnReadUnknown =
    "Caught unknown exception in CWWWSession::OnRead() - terminating";
