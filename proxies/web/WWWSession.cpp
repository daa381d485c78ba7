#include "proxies/web/WWWSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundFormat.h"
#include "engine/framework/QuietClose.h"
#include "foundation/Format.h"
#include "foundation/X1SocketException.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "platform/framework/Exception.h"
#include "platform/net/Sockets.h"
#include "proxies/web/FTPControl.h"
#include "proxies/web/LocalFile.h"
#include "proxies/web/WWWService.h"
#include "proxies/web/WWWVariables.h"

#include <cstdarg>
#include <functional>
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
    SendErrorPage(kAccessDeniedTitle, kAccessDeniedDescription, ETunnelFailure::refused);
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

void CWWWSession::OnRead(X1Socket& socket) {
    if (m_finished)
        return;
    Guarded(kErrorLineOnReadSocket, kErrorLineOnReadUnknown, true, [&] {
        if (&socket == &m_clientSocket)
            OnClientRead();
        else if (&socket == &m_remoteSocket && m_request.protocolCode == PROTOCOL_FTP)
            OnFTPControlRead();
        else if (&socket == &m_remoteSocket)
            OnRemoteRead();
        else if (&socket == &m_ftpDataSocket)
            OnFTPDataRead();
    });
}

void CWWWSession::OnClientRead() {
    if (!m_requestReceived) {
        if (ReceiveRequest() && ParseRequest())
            DispatchRequest();
        return;
    }
    if (!m_relayClientData) {
        // Left waiting on the socket until the server connection takes it.
        m_clientDataPending = true;
        return;
    }
    switch (m_request.protocolCode) {
    case PROTOCOL_HTTP:
    case PROTOCOL_HTTPS:
    case PROTOCOL_SSL: RelayClientData(); break;
    case PROTOCOL_FTP:
        if (m_ftpTransferState == kFTPUpload)
            RelayUploadData();
        else
            DebugLine(kLogAlreadyReceived, ThreadId());
        break;
    default: DebugLine(kLogAlreadyReceived, ThreadId()); break;
    }
}

void CWWWSession::OnClose(X1Socket& socket) {
    if (m_finished)
        return;
    Guarded(kErrorLineOnCloseSocket, kErrorLineOnCloseUnknown, false, [&] {
        if (&socket == &m_clientSocket) {
            if (m_cacheDownload.IsOpen())
                CloseCacheFile(CCacheDownload::EEnd::clientClosed);
            CloseQuietly(m_remoteSocket);
            CloseQuietly(m_ftpDataSocket);
            CloseQuietly(m_clientSocket);
            DebugLine(kLogClientClosed, ThreadId());
            Finish(kExitNormal);
        } else if (&socket == &m_remoteSocket && m_request.protocolCode == PROTOCOL_FTP) {
            OnFTPControlClose();
            if (m_finished)
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
    });
}

void CWWWSession::Guarded(const char* socketErrorLine, const char* unknownErrorLine,
                          bool sendPage, const std::function<void()>& handler) {
    try {
        handler();
    } catch (X1SocketException* e) {
        const std::string text = e->GetErrorText();
        e->Delete();
        ErrorLine(socketErrorLine, text.c_str());
        if (sendPage)
            SendSocketErrorPage(text);
        Finish(kExitError);
    } catch (...) {
        DropCurrentException();
        ErrorLine("%s", unknownErrorLine);
        Finish(kExitError);
    }
}

// --- Request half -------------------------------------------------------------------------

bool CWWWSession::ReceiveRequest() {
    char buffer[kReceiveBufferSize];
    int received;
    try {
        received = m_clientSocket.Receive(buffer, sizeof buffer);
    } catch (X1SocketException* e) {
        const std::string text = e->GetErrorText();
        e->Delete();
        DebugLine(kLogReceiveSocketError, ThreadId());
        SendSocketErrorPage(text);
        Finish(kExitError);
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
        SendErrorPage(kMalformedRequestTitle, kMalformedRequestDescription);
        Finish(kExitNormal);
        return false;
    case CRequestCollector::complete: break;
    }
    m_requestBody = m_requestCollector.TakeBody();
    if (!m_requestBody.empty())
        DebugLine(kLogResourceData, static_cast<unsigned>(m_requestBody.size()));
    m_requestReceived = true;
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
        SendErrorPage(kMalformedRequestTitle, kMalformedRequestDescription);
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
        SendErrorPage(kAccessDeniedTitle, kAccessDeniedDescription);
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
        m_finished = true;  // refused: the page went out and the session was terminated
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
        SendErrorPage(kProtocolErrorTitle, kProtocolErrorDescription);
        ErrorLine(kErrorLineProtocol, GetProtocolName(m_request.protocolCode));
        Finish(kExitNormal);
        break;
    }
}

void CWWWSession::HTTPProcessRequest() {
    try {
        if (m_cacheState == kCacheNotModified) {
            SendToClient(kUseCachedCopyResponse);
            Finish(kExitNormal);
            return;
        }
        if (m_cacheState == kCacheServe) {
            if (SendCachedResource()) {
                DebugLine(kLogSentCachedResource, m_request.cacheKey.c_str(), ThreadId());
                Finish(kExitNormal);
                return;
            }
            ErrorLine("%s", kErrorLineCacheMissing);
            m_cacheCheck = RestoreClientRequest(m_request, m_cacheCheck);
            m_cacheState = m_cacheCheck.state;
            m_cacheConsidered = m_cacheCheck.considered;
        }
        DebugLine(kLogSendingRequest, ThreadId());
        CNorvaneEngine::Instance().CheckDialFirst(this);
        ++m_remoteConnection;
        ConnectRemote(m_remoteSocket, m_request.connectHost, m_request.port);
        m_remoteSocket.SetEventMask(FD_READ | FD_WRITE | FD_CLOSE);
        m_remoteSocket.StartAsyncSelect();

        const bool throughHTTPProxy =
            GetUpstream().ConnectMethod == OutboundFormat::kMethodHttpProxy;
        const std::string head = BuildOutboundHead(m_request, throughHTTPProxy);
        // An ftp:// URL fetched through an upstream HTTP proxy is answered in HTTP.
        if (throughHTTPProxy && m_request.protocolCode == PROTOCOL_FTP)
            m_request.protocolCode = PROTOCOL_HTTP;
        m_remoteSocket.Send(head.data(), static_cast<int>(head.size()));

        if (!m_bodyRelay)
            m_bodyRelay.emplace(m_request);
        m_relayClientData = m_bodyRelay->RelaysClientData();
        const std::string body = std::move(m_requestBody);
        m_requestBody.clear();
        const std::size_t send = m_bodyRelay->Take(body.size());
        if (send > 0)
            m_remoteSocket.Send(body.data(), static_cast<int>(send));
        if (m_relayClientData && m_clientDataPending) {
            m_clientDataPending = false;
            RelayClientData();
        }
    } catch (X1SocketException* e) {
        const std::string text = e->GetErrorText();
        e->Delete();
        ErrorLine(kErrorLineProcessRequest, text.c_str());
        SendSocketErrorPage(text);
        Finish(kExitError);
    }
}

void CWWWSession::RelayClientData() {
    if (!m_remoteSocket.IsConnected()) {
        m_clientDataPending = true;  // kept on the socket until the server connection is up
        return;
    }
    char buffer[kReceiveBufferSize];
    const int received = m_clientSocket.Receive(buffer, sizeof buffer);
    if (received <= 0)
        return;
    const std::size_t send =
        m_bodyRelay ? m_bodyRelay->Take(static_cast<std::size_t>(received))
                    : static_cast<std::size_t>(received);
    if (send > 0)
        m_remoteSocket.Send(buffer, static_cast<int>(send));
}

// --- Answers ------------------------------------------------------------------------------

void CWWWSession::SendToClient(std::string_view bytes) {
    if (bytes.empty())
        return;
    m_answerBegun = true;
    m_clientSocket.Send(bytes.data(), static_cast<int>(bytes.size()));
}

void CWWWSession::SendErrorPage(std::string_view title, std::string_view description,
                                ETunnelFailure failure) {
    if (!m_answerBegun) {
        const std::string page = BuildErrorPageWithStatus(
            ErrorPageStatus(m_request.protocolCode, failure), title, description);
        try {
            SendToClient(page);
        } catch (X1SocketException* e) {
            e->Delete();
        }
    }
    CloseClient();
}

void CWWWSession::CloseClient() { CloseGracefullyQuietly(m_clientSocket, kAnswerDrainMs); }

void CWWWSession::SendErrorPage(const SErrorText& title, const SErrorText& description,
                                ETunnelFailure failure) {
    SendErrorPage(ReadErrorText(title), ReadErrorText(description), failure);
}

void CWWWSession::SendSocketErrorPage(const std::string& text) {
    SendErrorPage(ReadErrorText(kSocketErrorTitle), text);
}

void CWWWSession::SendLocalFile(const std::string& folder, const std::string& relative) {
    CLocalFile file;
    if (!file.Open(folder, relative)) {
        SendErrorPage(kFileAccessDeniedTitle, kFileAccessDeniedDescription);
        return;
    }
    SendToClient(file.BuildHead(std::time(nullptr)));
    m_clientSocket.SendFile(file.GetHandle());
    DebugLine(kLogServedFile, file.GetPath().c_str(), ThreadId());
    file.Close();
    CloseClient();
}

void CWWWSession::Finish(int code) {
    if (m_finished)
        return;
    m_finished = true;
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
