#include "proxies/web/WWWSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundFormat.h"
#include "engine/framework/QuietClose.h"
#include "foundation/Format.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "platform/kernel/File.h"
#include "platform/net/Sockets.h"
#include "proxies/web/FTPControl.h"
#include "proxies/web/LocalFile.h"
#include "proxies/web/WWWService.h"
#include "proxies/web/WWWVariables.h"

#include <algorithm>
#include <cstdarg>
#include <ctime>

using FrameworkFormat::kExitError;
using FrameworkFormat::kExitNormal;

IMPLEMENT_SERIAL(CWWWSession, CTwoEndTCPSession, 1)

namespace {

// How long the client may still send (and have it discarded) after the proxy's last answer
// before its connection is closed: closing with unread bytes would reset the connection and
// could destroy the answer on its way.
constexpr DWORD kAnswerDrainMs = 500;

}  // namespace

CWWWSession::CWWWSession() { WatchSocket(m_ftpDataSocket); }

CWWWSession::CWWWSession(int acceptedHandle) : CTwoEndTCPSession(acceptedHandle) {
    WatchSocket(m_ftpDataSocket);
}

CWWWSession::~CWWWSession() = default;

void CWWWSession::SetService(CService& service) {
    CTwoEndTCPSession::SetService(service);
    m_nonProxy.action = GetNonProxyRequestAction();
    m_nonProxy.host = GetNonProxyRequestHost();
    m_nonProxy.port = GetNonProxyRequestPort();
    if (const auto* web = dynamic_cast<const CWWWService*>(&service)) {
        const CWWWService::WebSettings settings = web->GetWebSettings();
        m_cacheNonProxyRequests = settings.cacheNonProxyRequests;
        m_nonProxy.prependResource = settings.prependResource;
        m_nonProxy.prependInfo = settings.prependInfo;
        m_nonProxy.redirectURL = settings.redirectURL;
        m_serverRoot = settings.serverRoot;
    }
}

void CWWWSession::SetTarget(DWORD action, const std::string& host, DWORD port,
                            DWORD cacheNonProxy, const std::string& connectAddress) {
    m_nonProxy.action = action;
    m_nonProxy.host = host;
    m_nonProxy.port = port;
    m_nonProxy.connectAddress = connectAddress;
    m_cacheNonProxyRequests = cacheNonProxy;
}

void CWWWSession::SendAccessDenied() {
    SendErrorPage(EPageStatus::forbidden, kAccessDeniedTitle, kAccessDeniedDescription);
}

void CWWWSession::GetVariable(const std::string& name, CNVDataObject& data) {
    GetWebRequestVariable(m_request, name, data);
}

void CWWWSession::GetValue(DWORD index, CNVDataObject& data) {
    if (!GetWebRequestValue(m_request, index, data))
        CTwoEndTCPSession::GetValue(index, data);
}

void CWWWSession::OnEnd() {
    CloseCacheFile(CCacheDownload::EEnd::abandoned);
    m_request.headers.Clear();
    m_response.headers.Clear();
}

// --- Notices ------------------------------------------------------------------------------

void CWWWSession::OnThreadMessage(const ThreadMessage& msg) {
    if (msg.message == WM_TIMER) {
        OnFTPReplyTimer(static_cast<DWORD>(msg.wParam));
        return;
    }
    CTwoEndTCPSession::OnThreadMessage(msg);
}

std::optional<SHandlerLines> CWWWSession::GetNoticeLines(ENotice notice,
                                                         const X1Socket&) const {
    switch (notice) {
    case ENotice::read: return SHandlerLines{kErrorLineOnReadSocket, kErrorLineOnReadUnknown};
    case ENotice::close: return SHandlerLines{kErrorLineOnCloseSocket, kErrorLineOnCloseUnknown};
    case ENotice::accept:
    case ENotice::write: break;
    }
    return std::nullopt;
}

void CWWWSession::OnNoticeFailure(ENotice notice, X1Socket&, const SHandlerFailure& failure) {
    if (notice == ENotice::read && failure.IsSocket())
        SendSocketErrorPage(failure.text, failure.code);
    Finish(kExitError);
}

void CWWWSession::OnRead(X1Socket& socket) {
    if (IsFinished())
        return;
    if (&socket == &m_clientSocket)
        OnClientRead();
    else if (&socket == &m_remoteSocket && m_request.protocolCode == PROTOCOL_FTP)
        OnFTPControlRead();
    else if (&socket == &m_remoteSocket)
        OnRemoteRead();
    else if (&socket == &m_ftpDataSocket)
        OnFTPDataRead();
}

void CWWWSession::OnClientRead() {
    switch (m_state) {
    case EWebState::readingRequest:
        if (ReceiveRequest() && ParseRequest())
            DispatchRequest();
        return;
    case EWebState::finished: return;
    default: break;
    }
    switch (m_request.protocolCode) {
    case PROTOCOL_HTTP:
    case PROTOCOL_HTTPS:
    case PROTOCOL_SSL:
    case PROTOCOL_FTP:
        // Bytes that do not go on (yet) wait on the socket; relaying starts by taking them.
        if (ClientDataGoesOn())
            RelayClientData();
        break;
    default: DebugLine(kLogAlreadyReceived, ThreadId()); break;
    }
}

void CWWWSession::OnClose(X1Socket& socket) {
    if (IsFinished())
        return;
    if (&socket == &m_clientSocket) {
        OnClientClose();
    } else if (&socket == &m_remoteSocket && m_request.protocolCode == PROTOCOL_FTP) {
        OnFTPControlClose();
        if (IsFinished())
            return;
        CloseQuietly(m_ftpDataSocket);
        CloseQuietly(m_remoteSocket);
        DebugLine(kLogServerClosed, ThreadId());
        Finish(kExitNormal);
    } else if (&socket == &m_remoteSocket) {
        OnRemoteClose();
    } else if (&socket == &m_ftpDataSocket) {
        OnFTPDataClose();
    }
}

void CWWWSession::OnClientClose() {
    if (m_state != EWebState::readingRequest) {
        // The client has said all it will: its request is whole, and it waits for the answer
        // (or, in a tunnel, the server is told that no more comes).
        if (m_request.protocolCode == PROTOCOL_SSL && m_state == EWebState::relaying &&
            m_remoteSocket.IsConnected())
            m_remoteSocket.ShutdownSend();
        return;
    }
    CloseQuietly(m_remoteSocket);
    CloseQuietly(m_ftpDataSocket);
    CloseQuietly(m_clientSocket);
    DebugLine(kLogClientClosed, ThreadId());
    Finish(kExitNormal);
}

void CWWWSession::EndOnSocketError(const SHandlerFailure& failure, const char* errorLine) {
    if (errorLine != nullptr)
        ErrorLine(errorLine, failure.text.c_str());
    SendSocketErrorPage(failure.text, failure.code);
    Finish(kExitError);
}

char* CWWWSession::RelayBuffer() {
    if (m_relayBuffer.empty())
        m_relayBuffer.resize(kRelayBufferSize);
    return m_relayBuffer.data();
}

// --- Request half -------------------------------------------------------------------------

bool CWWWSession::ReceiveRequest() {
    char buffer[kReceiveBufferSize];
    int received = 0;
    if (const std::optional<SHandlerFailure> failure =
            CatchSocketFailure([&] { received = m_clientSocket.Receive(buffer, sizeof buffer); })) {
        DebugLine(kLogReceiveSocketError, ThreadId());
        EndOnSocketError(*failure, nullptr);
        return false;
    }
    if (received <= 0)
        return false;
    switch (m_requestCollector.Append(buffer, static_cast<std::size_t>(received))) {
    case CRequestCollector::incomplete:
        DebugLine("%s", kLogMoreToCome);
        return false;
    case CRequestCollector::tooLarge:
        ErrorLine("%s", kErrorLineMalformed);
        SendErrorPage(EPageStatus::badRequest, kMalformedRequestTitle,
                      kMalformedRequestDescription);
        Finish(kExitNormal);
        return false;
    case CRequestCollector::complete: break;
    }
    m_requestBody = m_requestCollector.TakeBody();
    if (!m_requestBody.empty())
        DebugLine(kLogResourceData, static_cast<unsigned>(m_requestBody.size()));
    m_state = EWebState::forwarding;
    DebugLine(kLogReceivedRequest, ThreadId());
    return true;
}

bool CWWWSession::ParseRequest() {
    DebugLine(kLogParsingRequest, ThreadId());
    const EParseResult result =
        ::ParseRequest(m_requestCollector.GetHead(), m_requestBody, m_nonProxy, m_request);
    switch (result) {
    case EParseResult::proceed:
        m_bodyRelay.emplace(m_request);
        return true;
    case EParseResult::malformed:
        ErrorLine("%s", kErrorLineMalformed);
        SendErrorPage(EPageStatus::badRequest, kMalformedRequestTitle,
                      kMalformedRequestDescription);
        break;
    case EParseResult::redirect:
        SendToClient(m_request.answer);
        CloseClient();
        break;
    case EParseResult::internalResource:
        SendLocalFile(kEngineFolder, m_request.localFile);
        DebugLine(kLogSentResource, m_request.localFile.c_str(), ThreadId());
        break;
    case EParseResult::serverRootFile:
        SendLocalFile(m_serverRoot, m_request.localFile);
        break;
    case EParseResult::accessDenied:
        SendErrorPage(EPageStatus::forbidden, kAccessDeniedTitle, kAccessDeniedDescription);
        break;
    }
    Finish(kExitNormal);
    return false;
}

void CWWWSession::DispatchRequest() {
    std::string target = m_request.method + " " + m_request.fullURL;
    if (!m_request.query.empty())
        target += "?" + m_request.query;
    SetDescription(target);
    SetRemoteTarget(m_request.host, m_request.port);
    ReportStatus(target);
    WriteAudit(LogFormat::kAuditRequest, "%s", "");
    WriteServiceLog(LogFormat::kLogRequest, "%s", "");
    if (!CheckAccess(FALSE)) {
        m_state = EWebState::finished;  // refused: the page went out and the session was terminated
        return;
    }
    switch (m_request.protocolCode) {
    case PROTOCOL_HTTP:
    case PROTOCOL_HTTPS:
        CheckCache();
        HTTPProcessRequest();
        break;
    case PROTOCOL_FTP: FTPProcessRequest(); break;
    case PROTOCOL_SSL: SSLPreProcessRequest(); break;
    default:
        SendErrorPage(EPageStatus::notImplemented, kProtocolErrorTitle, kProtocolErrorDescription);
        ErrorLine(kErrorLineProtocol, GetProtocolName(m_request.protocolCode));
        Finish(kExitNormal);
        break;
    }
}

void CWWWSession::HTTPProcessRequest() {
    if (m_cacheState == kCacheNotModified) {
        SendToClient(kUseCachedCopyResponse);
        CloseClient();
        Finish(kExitNormal);
    } else if (m_cacheState == kCacheServe) {
        ServeCachedCopy(kErrorLineCacheMissing);
    } else {
        SendRequest();
    }
}

void CWWWSession::SendRequest() {
    const std::optional<SHandlerFailure> failure = CatchSocketFailure([&] {
    DebugLine(kLogSendingRequest, ThreadId());
    ++m_remoteConnection;
    ConnectToServer(m_remoteSocket, m_request.connectHost, m_request.port,
                    FD_READ | FD_WRITE | FD_CLOSE);
    m_state = EWebState::forwarding;

    const bool throughHTTPProxy =
        GetUpstream().ConnectMethod == OutboundFormat::kMethodHttpProxy;
    std::string head = BuildOutboundHead(m_request, throughHTTPProxy);
    // An ftp:// URL fetched through an upstream HTTP proxy is answered in HTTP.
    if (throughHTTPProxy && m_request.protocolCode == PROTOCOL_FTP)
        m_request.protocolCode = PROTOCOL_HTTP;
    // The body bytes that came with the head go in the same send.
    if (!m_bodyRelay)
        m_bodyRelay.emplace(m_request);
    const std::string body = std::move(m_requestBody);
    m_requestBody.clear();
    head.append(body, 0, m_bodyRelay->Take(body.size()));
    m_remoteSocket.Send(head.data(), static_cast<int>(head.size()));
    if (ClientDataGoesOn())
        RelayClientData();
    });
    if (failure)
        EndOnSocketError(*failure, kErrorLineProcessRequest);
}

bool CWWWSession::ClientDataGoesOn() const {
    if (m_request.protocolCode == PROTOCOL_FTP && m_ftp)
        return m_ftpPhase == EFTPPhase::uploading;
    if (m_state != EWebState::forwarding && m_state != EWebState::relaying)
        return false;
    return m_bodyRelay && m_bodyRelay->RelaysClientData();
}

void CWWWSession::RelayClientData() {
    const bool toData = m_request.protocolCode == PROTOCOL_FTP && m_ftp;
    if (!toData && !m_remoteSocket.IsConnected())
        return;  // kept on the socket until the server connection is up
    char* buffer = RelayBuffer();
    for (int round = 0; round < kReadRoundsPerNotice && !IsFinished(); ++round) {
        const int received = m_clientSocket.Receive(buffer, static_cast<int>(kRelayBufferSize));
        if (received <= 0)
            return;
        if (toData) {
            SendUploadData(std::string_view(buffer, static_cast<std::size_t>(received)));
        } else {
            const std::size_t send =
                m_bodyRelay ? m_bodyRelay->Take(static_cast<std::size_t>(received))
                            : static_cast<std::size_t>(received);
            if (send > 0)
                m_remoteSocket.Send(buffer, static_cast<int>(send));
        }
        if (static_cast<std::size_t>(received) < kRelayBufferSize)
            return;
    }
}

// --- Connections --------------------------------------------------------------------------

void CWWWSession::ConnectToServer(X1Socket& socket, const std::string& host, UINT port,
                                  unsigned mask) {
    CNorvaneEngine::Instance().CheckDialFirst(this);
    ConnectAndSelect(socket, host, port, mask);
}

void CWWWSession::ConnectAndSelect(X1Socket& socket, const std::string& host, UINT port,
                                   unsigned mask) {
    ConnectRemote(socket, host, port);
    socket.SelectEvents(mask);
}

// --- Answers ------------------------------------------------------------------------------

void CWWWSession::SendToClient(std::string_view bytes) {
    if (bytes.empty())
        return;
    m_answerBegun = true;
    m_clientSocket.Send(bytes.data(), static_cast<int>(bytes.size()));
}

void CWWWSession::SendLastToClient(std::string_view bytes) {
    CatchSocketFailure([&] { SendToClient(bytes); });
}

void CWWWSession::SendInterimToClient(std::string_view bytes) {
    m_clientSocket.Send(bytes.data(), static_cast<int>(bytes.size()));
}

void CWWWSession::SendErrorPage(EPageStatus status, std::string_view title,
                                std::string_view description) {
    if (!m_answerBegun)
        SendLastToClient(BuildErrorPage(status, title, description));
    CloseClient();
}

void CWWWSession::CloseClient() {
    CloseGracefullyQuietly(m_clientSocket, kAnswerDrainMs, ClientRequestTaken());
}

bool CWWWSession::ClientRequestTaken() const {
    return m_bodyRelay && (m_request.bodyKind == EBodyKind::none || m_bodyRelay->IsComplete());
}

void CWWWSession::SendErrorPage(EPageStatus status, const SErrorText& title,
                                const SErrorText& description) {
    SendErrorPage(status, ReadErrorText(title), ReadErrorText(description));
}

void CWWWSession::SendSocketErrorPage(const std::string& text, int code) {
    SendErrorPage(SocketErrorStatus(code), ReadErrorText(kSocketErrorTitle), text);
}

void CWWWSession::SendLocalFile(const std::string& folder, const std::string& relative) {
    CLocalFile file;
    if (!file.Open(folder, relative)) {
        SendErrorPage(EPageStatus::notFound, kFileAccessDeniedTitle, kFileAccessDeniedDescription);
        return;
    }
    SendHeadAndFile(file.BuildHead(std::time(nullptr)), file.GetHandle(), file.GetSize());
    DebugLine(kLogServedFile, file.GetPath().c_str(), ThreadId());
    file.Close();
    CloseClient();
}

void CWWWSession::SendHeadAndFile(std::string head, int file, std::uint64_t size) {
    char* buffer = RelayBuffer();
    std::uint64_t offset = 0;
    bool headSent = false;
    while (offset < size) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kRelayBufferSize, size - offset));
        const std::int64_t got = ReadFileAt(file, buffer, want, offset);
        if (got <= 0)
            break;  // the file is shorter than it was: the client sees the body end short
        const std::string_view block(buffer, static_cast<std::size_t>(got));
        if (!headSent) {
            head.append(block);
            SendToClient(head);
            headSent = true;
        } else {
            SendToClient(block);
        }
        offset += static_cast<std::uint64_t>(got);
    }
    if (!headSent)
        SendToClient(head);
}

void CWWWSession::Finish(int code) {
    if (m_state == EWebState::finished)
        return;
    m_state = EWebState::finished;
    Terminate(code);
}

void CWWWSession::DebugLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatTextV(format, args);
    va_end(args);
    WriteServiceLog(LogFormat::kLogDebug, "%s", text.c_str());
}

void CWWWSession::ErrorLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatTextV(format, args);
    va_end(args);
    WriteServiceLog(LogFormat::kLogError, "%s", text.c_str());
}
