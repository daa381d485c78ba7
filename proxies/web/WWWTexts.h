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

// The web proxy service: its name and description, port and the upstream methods its
// console sheet offers (direct, HTTP proxy, SOCKS 4, CONNECT tunnel), and its own values.
inline constexpr const char* kWWWServiceName = "WWW Proxy server";
inline constexpr UINT kWWWServicePort = 80;
inline constexpr DWORD kWWWServiceMethods = 7;
inline constexpr const char* kCacheNonProxyRequestsValue = "CacheNonProxyRequests";
inline constexpr const char* kPrependResourceValue = "PrependResource";
inline constexpr const char* kPrependInfoValue = "PrependInfo";
inline constexpr const char* kRedirectURLValue = "RedirectURL";
inline constexpr const char* kServerRootValue = "ServerRoot";

// ---- Wire texts ------------------------------------------------------------------------

// Every error page goes out with this head and body (status line, title, title,
// description), and the connection is closed after it. The status line says what happened
// (ErrorPage.h): a page under "200 OK" would be a failure reported as success, which a
// script takes for the download and a cache downstream may keep.
inline constexpr const char* kErrorPageFormat =
    "%s\r\nPragma: no-cache\r\n\r\n"
    "<HTML><HEAD><TITLE>%s</TITLE></HEAD>\r\n"
    "<BODY><H1>%s</H1><P><P>%s\r\n</BODY></HTML>\r\n";
inline constexpr const char* kBadRequestStatus = "HTTP/1.0 400 Bad Request";
inline constexpr const char* kForbiddenStatus = "HTTP/1.0 403 Forbidden";
inline constexpr const char* kNotFoundStatus = "HTTP/1.0 404 Not Found";
inline constexpr const char* kNotImplementedStatus = "HTTP/1.0 501 Not Implemented";
inline constexpr const char* kBadGatewayStatus = "HTTP/1.0 502 Bad Gateway";
inline constexpr const char* kGatewayTimeoutStatus = "HTTP/1.0 504 Gateway Timeout";

// The answer to a relative request under non-proxy action 2 (the redirect address).
inline constexpr const char* kRedirectFormat = "HTTP/1.0 302 Found\r\nLocation: %s\r\n\r\n";

// Heads of the documents the proxy makes itself (files from disk, cached copies, ftp://
// files and listings): the status line, then these lines in this order, each only where the
// document has it, then the blank line. Date is the current time (UTC), Server kServerName.
inline constexpr const char* kDocumentStatusLine = "HTTP/1.0 200 Document Follows\r\n";
inline constexpr const char* kDocumentDateLine = "Date: %s\r\n";
inline constexpr const char* kDocumentServerLine = "Server: %s\r\n";
inline constexpr const char* kDocumentTypeLine = "Content-Type: %s\r\n";
inline constexpr const char* kDocumentLastModifiedLine = "Last-Modified: %s\r\n";
inline constexpr const char* kDocumentLengthLine = "Content-Length: %s\r\n";

// The name the proxy gives itself in the Server header of the heads it makes.
inline constexpr const char* kServerName = "Norvane Engine";

// Answers sent without a page.
inline constexpr const char* kUseCachedCopyResponse = "HTTP/1.0 304 Use cached copy\r\n\r\n";
inline constexpr const char* kConnectedResponse = "HTTP/1.0 200 Connected OK\r\n\r\n";

// HTTP date as written: "Sun, 06 Nov 1994 08:49:37 GMT".
inline constexpr const char* kHTTPDateFormat = "%s, %02u %s %04d %02u:%02u:%02u GMT";

// The engine's folder, where its own resources lie (the engine runs in its program's folder).
inline constexpr const char* kEngineFolder = ".";

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

// ---- Log texts of the response side and the cache ---------------------------------------

inline constexpr const char* kLogMoreResponse = "More to come in server response\n";
inline constexpr const char* kLogResponseResourceData =
    "Server response contains %u bytes of resource data\n";
inline constexpr const char* kLogParsingResponse =
    "WWW Session parsing HTTP response in thread %x\n";
inline constexpr const char* kLogProcessingResponse =
    "WWW Session processing HTTP response in thread %x - response code %u \n";
inline constexpr const char* kLogUnhandledResponseCode = "Unhandled Server Response code %u \n";
inline constexpr const char* kLogSendingCachedResource =
    "WWW Session sending cached resource to client in thread %x\n";
inline constexpr const char* kLogSendCachedException = "Caught exception in SendCachedResource()\n";
inline constexpr const char* kLogClientClosed = "Client closed connection in thread %x\n";
inline constexpr const char* kLogServerClosed = "Server closed connection in thread %x\n";
// The session status the consoles see while a cached copy is sent.
inline constexpr const char* kStatusCached = "cached";
inline constexpr const char* kErrorLineCacheGone =
    "Cache file does not exist - downloading server copy";
// Reasons a cache download is given up without a failed write (in kErrorLineCacheWrite).
inline constexpr const char* kCacheBodyOutgrewLengthText = "the body outgrew its Content-Length";
inline constexpr const char* kCacheBodyTooLargeText = "the body is too large for the cache";
inline constexpr const char* kCacheLengthUntrustedText = "the response's Content-Length cannot be trusted";
inline constexpr const char* kErrorLineCacheWrite =
    "Error (%s) writing to cache file - deleting file, stopping caching";
inline constexpr const char* kErrorLineOnCloseSocket =
    "Caught socket exception in CWWWSession::OnClose() %s - terminating";
inline constexpr const char* kErrorLineOnCloseUnknown =
    "Caught unknown exception in CWWWSession::OnClose() - terminating";
// The description of the socket-error page for a response head over the collector's cap.
inline constexpr const char* kResponseHeadTooLargeText =
    "The server's response head is too large";
// The description of the socket-error page for a server that closed before it answered.
inline constexpr const char* kNoResponseText = "The server closed the connection without a response";

// ---- CONNECT tunnels ---------------------------------------------------------------------

inline constexpr const char* kLogProcessingTunnel =
    "WWW Session processing SSL TUNNELING request in thread %x\n";
inline constexpr const char* kErrorLineTunnelSocket =
    "Socket error in SSLPreProcessRequest %s - terminating";

// ---- ftp:// for browsers -----------------------------------------------------------------

// Error texts of ftp:// requests beyond the ones above (same key, kErrorStringsKey). A
// description that comes with a server's reply line is the text, a space and the line.
inline constexpr SErrorText kFTPErrorTitle{"FTPErrorTitle", "FTP Error"};
inline constexpr SErrorText kFTPReplyErrorDescription{"FTPReplyErrorDescription",
                                                      "The FTP server refused the request:"};
inline constexpr SErrorText kFTPBadReplyDescription{"FTPBadReplyDescription",
                                                    "The FTP server sent a reply that cannot be used:"};
inline constexpr SErrorText kFTPServerClosedDescription{
    "FTPServerClosedDescription", "The FTP server closed the connection before it answered"};
inline constexpr SErrorText kFTPMethodDescription{
    "FTPMethodDescription", "Only GET and PUT requests are supported for ftp:// URLs"};
inline constexpr SErrorText kFTPUploadLengthDescription{
    "FTPUploadLengthDescription", "An upload to an FTP server needs a Content-Length"};

// The client's answer once the FTP server has stored an upload (its 226).
inline constexpr const char* kUploadDoneResponse = "HTTP/1.0 200 OK\r\n\r\n";
// The interim answer to a client that waits with "Expect: 100-continue" when the FTP server
// is ready for the upload.
inline constexpr const char* kContinueResponse = "HTTP/1.1 100 Continue\r\n\r\n";

// The directory listing page. Every text from the server or the URL in it is HTML-escaped
// and every HREF part percent-encoded before it fills a "%s".
//   top:    directory text (twice), banner
//   banner: the server's last multi-line reply text, when there is one
//   parent: directory path (ending in "/"), directory icon
//   entry:  [path,] name, "/" for a directory, icon, name, padding, information
inline constexpr const char* kListingTopFormat =
    "<HTML><HEAD><TITLE>Directory of %s</TITLE></HEAD><BODY>\r\n<H2>Directory of %s</H2><PRE>%s\r\n";
inline constexpr const char* kListingBannerFormat = "<HR><FONT SIZE=3>%s</FONT><HR>";
inline constexpr const char* kListingParentFormat =
    "<A HREF=\"%s../\"><IMG BORDER=0 ALIGN=absbottom SRC=\"%s\"><B>Parent directory</B></A>\r\n";
inline constexpr const char* kListingAbsoluteEntryFormat =
    "<A HREF=\"%s%s\"><IMG BORDER=0 ALIGN=absbottom SRC=\"%s\"><B>%s</B></A>%s\t%s\r\n";
inline constexpr const char* kListingEntryFormat =
    "<A HREF=\"%s%s%s\"><IMG BORDER=0 ALIGN=absbottom SRC=\"%s\"><B>%s</B></A>%s\t%s\r\n";
inline constexpr const char* kListingFooter =
    "</PRE><HR><FONT COLOR=BLUE SIZE=2><I><B>"
    "Norvane 2 proxy server from <A HREF=\"http://www.urvo-software.example/\">Urvo Software</A>"
    "</B></I></FONT></BODY></HTML>\r\n";
// Names are padded with spaces to this width before their information.
inline constexpr int kListingNameWidth = 20;

// Listing icons: files below the engine's folder, and the addresses they are served under
// (the internal host); the browser's own icons when the file is not there.
inline constexpr const char* kDirectoryIconFile = "Resources/Directory.gif";
inline constexpr const char* kDirectoryIconURL = "http://norvane-internal/Resources/Directory.gif";
inline constexpr const char* kDirectoryIconFallback = "internal-gopher-menu";
inline constexpr const char* kExtensionIconFileFormat = "Resources/%s.gif";
inline constexpr const char* kExtensionIconURLFormat = "http://norvane-internal/Resources/%s.gif";
inline constexpr const char* kDefaultIconFile = "Resources/Default.gif";
inline constexpr const char* kDefaultIconURL = "http://norvane-internal/Resources/Default.gif";
inline constexpr const char* kDefaultIconFallback = "internal-gopher-unknown";

inline constexpr const char* kLogProcessingFTP = "WWW Session processing FTP request in thread %x\n";
inline constexpr const char* kLogReceivingFTPReply = "WWW Session receiving FTP response in thread %x\n";
inline constexpr const char* kLogFTPReply = "FTP Response (Thread %x): %s";
inline constexpr const char* kLogProcessingFTPReply =
    "WWW Session processing FTP response in thread %x\n";
inline constexpr const char* kLogFTPCommand = "FTP Command (Thread %x): %s";
inline constexpr const char* kLogFTPDataClosed = "Server closed FTP data socket in thread %x\n";
inline constexpr const char* kErrorLineFTPUnknown =
    "Caught unknown exception in CWWWSession::FTPProcessRequest() - terminating";
inline constexpr const char* kErrorLineFTPMemory =
    "Caught memory exception in CWWWSession::FTPProcessRequest() - terminating";
inline constexpr const char* kErrorLineFTPSocket =
    "Caught socket exception in CWWWSession::FTPProcessRequest() %s - terminating";
