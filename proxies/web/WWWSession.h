#pragma once
// CWWWSession: one browser connection to the web proxy, on its own thread. It serves one
// request: it collects the request head (CRequestCollector), parses it (ParseRequest), answers
// what the proxy answers itself (redirects, its own files, refusals), checks the request
// against the service's access right, asks the cache, and otherwise sends the request to the
// server or the upstream proxy and relays the response back, keeping a cacheable body in the
// cache as it passes. CONNECT tunnels and ftp:// URLs take their own paths (the block near the
// end of the class).
//
// Sockets. The client socket (the accepted connection), the remote socket (the server, the
// upstream proxy or the FTP server's control connection) and the FTP data socket are the
// session's watched sockets (CTCPSession): their read and close notices reach OnRead(socket)
// and OnClose(socket), which tell them apart.
//
// State. One value says where the session is (EWebState): collecting the request head, then
// forwarding it (the response head is collected), relaying the response (a tunnel's bytes
// both ways), or in the FTP conversation, and finally finished. Bytes the client sends after
// its head go on only while its body (or the tunnel, or an FTP upload) relays them; until
// then they wait on the socket, and relaying starts by taking what waits. Each read notice
// takes what waits, up to kReadRoundsPerNotice receives; a response body (a tunnel's bytes
// from the server) moves from socket to socket instead, up to kMoveBurstBytes a notice.
//
// One request per connection. Every request goes out with "Connection: close" and every
// response head the client gets says "Connection: close" and "Proxy-Connection: close", so a
// client opens a new connection for its next request at once. Once the session has decided to
// end (Finish), or was ended from another thread, later notices are ignored. A client that
// half-closes its connection after the request still gets the whole answer (a tunnel passes
// the half-close on to the server).
//
// Failures after the first byte of an answer reached the client close the connection: an
// error page appended to part of a body would corrupt it. An interim answer ("100 Continue")
// is not the start of the answer.

#include "engine/framework/TwoEndTCPSession.h"
#include "foundation/X1Socket.h"
#include "platform/kernel/Types.h"
#include "proxies/ftp/FTPReply.h"
#include "proxies/web/CacheCheck.h"
#include "proxies/web/CacheDownload.h"
#include "proxies/web/CacheEntry.h"
#include "proxies/web/ErrorPage.h"
#include "proxies/web/OutboundRequest.h"
#include "proxies/web/RequestCollector.h"
#include "proxies/web/ResponseCollector.h"
#include "proxies/web/ResponseDecision.h"
#include "proxies/web/WWWRequest.h"
#include "proxies/web/WWWResponse.h"
#include "proxies/web/WWWTexts.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CFTPControl;
struct SFTPStep;
class CNVDataObject;
class CService;

class CWWWSession : public CTwoEndTCPSession {
    DECLARE_SERIAL(CWWWSession)
public:
    // Bytes of a request or response head taken in one receive.
    static constexpr std::size_t kReceiveBufferSize = 8096;
    // Bytes a relay takes in one receive, and receives one notice takes at most (what waits
    // beyond them is announced again).
    static constexpr std::size_t kRelayBufferSize = 65536;
    static constexpr int kReadRoundsPerNotice = 16;
    // Once the response head went to the client, its body (a tunnel's bytes from the server)
    // moves from socket to socket without passing through the session (X1Socket::MoveTo),
    // kMoveChunkBytes at a time and at most kMoveBurstBytes a notice (what waits beyond them
    // is announced again).
    static constexpr std::size_t kMoveChunkBytes = 262144;
    static constexpr std::size_t kMoveBurstBytes = 4194304;

    // Where the session is (see the class comment).
    enum class EWebState {
        readingRequest,  // the request head is collected
        forwarding,      // the request went out; the response head is collected
        relaying,        // the response head went to the client; its body (a tunnel: both
                         // directions) is relayed
        ftp,             // the FTP conversation answers the request
        finished,        // ended here; notices are ignored
    };

    CWWWSession();
    explicit CWWWSession(int acceptedHandle);
    ~CWWWSession() override;

    // The base's copy, then, from a CWWWService, its five web settings.
    void SetService(CService& service) override;
    // The non-proxy settings of a session a SOCKS session handed its client connection to:
    // relative requests go to `host`:`port` (as they show and are cached), connecting to
    // `connectAddress` (SNonProxySettings::connectAddress).
    void SetTarget(DWORD action, const std::string& host, DWORD port, DWORD cacheNonProxy,
                   const std::string& connectAddress = {});
    // The access-denied page (a CONNECT gets it under "403 Forbidden").
    void SendAccessDenied() override;
    // The first request header named `name` (any case), or "".
    void GetVariable(const std::string& name, CNVDataObject& data) override;
    // 12-17 from the request (proxies/web/WWWVariables.h), the rest as every two-ended session.
    void GetValue(DWORD index, CNVDataObject& data) override;
    // Discards a cache download in progress and forgets the request and response.
    void OnEnd() override;

    // Read and close notices of the session's three sockets (client, remote, FTP data).
    void OnRead(X1Socket& socket) override;
    void OnClose(X1Socket& socket) override;

    // The request as parsed (empty before).
    const CWWWRequest& GetRequest() const { return m_request; }

protected:
    // The FTP reply-line timer; socket notices as every TCP session.
    void OnThreadMessage(const ThreadMessage& msg) override;
    // The guard's lines of the read and close notices. A failed read answers the socket-error
    // page (unless the answer has begun); either failure ends the session (code 1).
    std::optional<SHandlerLines> GetNoticeLines(ENotice notice,
                                                const X1Socket& socket) const override;
    void OnNoticeFailure(ENotice notice, X1Socket& socket,
                         const SHandlerFailure& failure) override;

    // --- Request half -------------------------------------------------------------------
    // Takes one receive into the request head; true when the head is complete (false also
    // when the session ended on it).
    bool ReceiveRequest();
    // Parses the head and carries out what the parser decided; true when the request goes on
    // (rights check, then by protocol code).
    bool ParseRequest();
    // After a parsed request: report it, log it, check the rights, go on by protocol code.
    void DispatchRequest();
    // Answers a cache decision that needs no server, or sends the request (SendRequest).
    void HTTPProcessRequest();
    // Connects, sends the request head and the body bytes that came with it, and starts
    // relaying the client's body when it has one.
    void SendRequest();
    // Whether bytes the client sends now go on (a body, a tunnel, an FTP upload).
    bool ClientDataGoesOn() const;
    // Takes what the client sent (up to kReadRoundsPerNotice receives) to where it goes.
    void RelayClientData();

    // --- Response half ------------------------------------------------------------------
    // The cache's decision for a request of protocol code 2 or 3, before it goes out.
    void CheckCache();
    // A remote read of codes 2, 3 and 7: takes what waits.
    void OnRemoteRead();
    // Moves what waits of the body from the server to the client (and into the cache
    // download), kMoveChunkBytes at a time, up to kMoveBurstBytes.
    void MoveResponseData();
    // One move: the count moved, 0 when nothing waited. A failed write into the cache ends
    // the download (EndStoreOnFailure); the body still goes to the client.
    int MoveResponseChunk();
    // Takes one receive from the server; false when nothing more came or the session moved
    // on (ended, or sent the request again).
    bool ReceiveFromServer();
    // Bytes from the server: into the response head while it is collected (then judged),
    // afterwards the body.
    void TakeResponseBytes(std::string_view bytes);
    void ParseResponse();
    // Judges the parsed head: answers from the cache, or sends the head on (starting the cache
    // download when the body may be kept) with the body bytes that came with it.
    void ProcessResponse();
    // Bytes of the response body: into the cache download first, then to the client.
    void RelayResponseData(std::string_view bytes);
    // Bytes of the response body into the cache download; a failed write ends the download
    // with an error line.
    void StoreResponseData(std::string_view bytes);
    void EndStoreOnFailure();
    // The server closed: what it still sent goes to the client, then the session ends.
    void OnRemoteClose();
    // Forgets the response, for the request going out again.
    void ResetResponse();

    // The cache: the download of a cacheable body, and cached copies.
    void OpenCacheFile();
    void CloseCacheFile(CCacheDownload::EEnd end);
    // True when the cached copy was sent, false when its content file is gone.
    bool SendCachedResource();
    // Serves the cached copy and ends; when its content file is gone, writes `goneLine` and
    // sends the client's own request to the server instead.
    void ServeCachedCopy(const char* goneLine);
    // What storing the response (or keeping the copy a 304 is about) depends on now.
    SStoreConditions GetStoreConditions() const;

    // --- Connections --------------------------------------------------------------------
    // Asks for dial on demand, then ConnectAndSelect.
    void ConnectToServer(X1Socket& socket, const std::string& host, UINT port, unsigned mask);
    // Connects through the service's ConnectMethod and selects `mask`.
    void ConnectAndSelect(X1Socket& socket, const std::string& host, UINT port, unsigned mask);
    // A socket failure ends the session: `errorLine` (if any) with the failure's text, the
    // socket-error page, then Finish(kExitError).
    void EndOnSocketError(const SHandlerFailure& failure, const char* errorLine);

    // --- Answers ------------------------------------------------------------------------
    // Sends bytes to the client; from the first one on, the answer has begun.
    void SendToClient(std::string_view bytes);
    // Sends an interim answer ("100 Continue"), which is not the start of the answer.
    void SendInterimToClient(std::string_view bytes);
    // SendToClient for the answer's last bytes (a page before the close): a socket failure is
    // dropped, as nobody is left to tell.
    void SendLastToClient(std::string_view bytes);
    bool HasAnswerBegun() const { return m_answerBegun; }
    // The error page with the two texts under `status`, then the client connection is
    // closed; only the close once the answer has begun. Socket errors while sending are
    // swallowed.
    void SendErrorPage(EPageStatus status, std::string_view title, std::string_view description);
    void SendErrorPage(EPageStatus status, const SErrorText& title,
                       const SErrorText& description);
    // The socket-error page with the exception's text (504 for a time-out, else 502).
    void SendSocketErrorPage(const std::string& text, int code = 0);
    // Sends `head` with the first block of the open `file` in one send, then the rest of its
    // `size` bytes.
    void SendHeadAndFile(std::string head, int file, std::uint64_t size);
    // Serves `relative` below `folder`, or answers the file-access-denied page.
    void SendLocalFile(const std::string& folder, const std::string& relative);
    // Closes the client connection after the last answer, letting the client's last bytes
    // drain first (never throws); a client whose request was taken whole is waited for only
    // when it still sends.
    void CloseClient();
    // The request and all of its body were taken from the client.
    bool ClientRequestTaken() const;
    // Ends the session once with `code`; later notices are ignored.
    void Finish(int code) override;
    // Ended here, or from another thread (an idle time-out, the machine deleted).
    bool IsFinished() const { return m_state == EWebState::finished || IsEnding(); }

    // Service-log lines of the session: debug lines (with the thread's number where the
    // format has "%x") and error lines.
    void DebugLine(const char* format, ...) NV_PRINTF_FORMAT(2, 3);
    void ErrorLine(const char* format, ...) NV_PRINTF_FORMAT(2, 3);

    // --- CONNECT tunnel and FTP for browsers (WWWSessionTunnel.cpp, WWWSessionFTP.cpp) ---
    // How long a reply line of the FTP server may stay unfinished.
    static constexpr DWORD kFTPReplyTimeoutMs = 30000;

    // Protocol code 7: the tunnel to host:port (or the CONNECT through the upstream proxy).
    void SSLPreProcessRequest();
    // Protocol code 4: the FTP conversation (or the request through the upstream proxy).
    void FTPProcessRequest();
    // Read and close notices of the FTP control connection (the remote socket under code 4).
    void OnFTPControlRead();
    void OnFTPControlClose();
    // Read and close notices of the FTP data socket.
    void OnFTPDataRead();
    void OnFTPDataClose();
    // The thread timer that limits an unfinished reply line.
    void OnFTPReplyTimer(DWORD timerId);

    void ProcessFTPReply(const SFTPReply& reply);
    void SendFTPCommand(DWORD code, const std::string& line);
    void ApplyFTPStep(const SFTPStep& step);
    void SendFTPPage(const std::string& page);
    void WatchFTPReplyLine();
    void StopFTPReplyTimer();
    void OpenFTPData(WORD port);
    void CloseFTPData();
    // The head went to the client: what the data connection held back follows (its end, when
    // `ended`).
    void StartFTPData(bool ended);
    bool ReadListing();
    bool RelayDownloadData();
    void StartUpload();
    void SendUploadData(std::string_view bytes);

    // Where the FTP conversation is.
    enum class EFTPPhase {
        talking,       // commands and replies; a data connection's bytes wait for the head
        dataEnded,     // the data connection closed before the head went: its end waits
        uploading,     // the server takes the file: the client's bytes go on (to the end)
        transferring,  // the head went: the data connection's events are taken
        serverClosed,  // the server closed the control connection: no command goes out
    };

    X1Socket m_ftpDataSocket;  // watched
    std::unique_ptr<CFTPControl> m_ftp;  // the conversation, from FTPProcessRequest on
    CFTPReplyReader m_ftpReplyReader;
    DWORD m_ftpTransferState = 0;  // what the data connection carries: 0 listing, 1 download,
                                   // 2 upload
    EFTPPhase m_ftpPhase = EFTPPhase::talking;
    // The reply-line timer of the session's thread; it goes with the session.
    struct SFTPReplyTimer {
        DWORD id = 0;
        ~SFTPReplyTimer();
    } m_ftpReplyTimer;
    std::uint64_t m_ftpLineDeadline = 0;
    // --- end of the CONNECT tunnel and FTP part ---

    // Request and response.
    CRequestCollector m_requestCollector;
    CWWWRequest m_request;
    std::string m_requestBody;  // body bytes that came with the head, not yet sent on
    std::optional<CBodyRelay> m_bodyRelay;
    CResponseCollector m_responseCollector;
    CWWWResponse m_response;
    std::string m_responseBody;  // body bytes that came with the response head
    int m_remoteConnection = 0;  // counts the connections the request went out on

    EWebState m_state = EWebState::readingRequest;
    std::vector<char> m_relayBuffer;  // kRelayBufferSize, from the first relay on

    // Copies of the service's settings.
    SNonProxySettings m_nonProxy;
    DWORD m_cacheNonProxyRequests = 0;
    std::string m_serverRoot;

    // Cache.
    ECacheState m_cacheState = kCacheFetch;
    bool m_cacheConsidered = false;
    SCacheCheck m_cacheCheck;
    CCacheEntryRef m_cacheEntry;     // the entry CheckCache judged (served or revalidated)
    CCacheEntryRef m_downloadEntry;  // the entry a download in progress is allocated to
    CCacheDownload m_cacheDownload;
    std::vector<std::string> m_staleCacheFiles;  // content files the download replaced

private:
    // A client read: the request head while it is collected, then the body or upload.
    void OnClientRead();
    // The client closed its side: before the request it is gone; after it, the answer still
    // goes out (a tunnel passes the half-close on).
    void OnClientClose();
    char* RelayBuffer();

    bool m_answerBegun = false;
};
