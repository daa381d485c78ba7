#include "proxies/streaming/VDOLiveSession.h"

#include "engine/access/RequestVariables.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundTargetGuard.h"
#include "foundation/Format.h"
#include "foundation/NVDataObject.h"
#include "platform/net/Sockets.h"
#include "proxies/streaming/VDOLiveFormat.h"

using namespace VDOLiveFormat;
using FrameworkFormat::kExitError;

IMPLEMENT_SERIAL(CVDOLiveSession, CStreamingSession, 1)

CVDOLiveSession::CVDOLiveSession() {
    WatchSocket(m_playerUDPSocket);
    WatchSocket(m_serverUDPSocket);
    SetDescription(kDescriptionStart);
}

CVDOLiveSession::CVDOLiveSession(int acceptedHandle) : CStreamingSession(acceptedHandle) {
    WatchSocket(m_playerUDPSocket);
    WatchSocket(m_serverUDPSocket);
    SetDescription(kDescriptionStart);
}

DWORD CVDOLiveSession::GetClientBytesSent() const {
    return CStreamingSession::GetClientBytesSent() + m_playerUDPSocket.GetBytesSent();
}

DWORD CVDOLiveSession::GetClientBytesReceived() const {
    return CStreamingSession::GetClientBytesReceived() + m_playerUDPSocket.GetBytesReceived();
}

DWORD CVDOLiveSession::GetRemoteBytesSent() const {
    return CStreamingSession::GetRemoteBytesSent() + m_serverUDPSocket.GetBytesSent();
}

DWORD CVDOLiveSession::GetRemoteBytesReceived() const {
    return CStreamingSession::GetRemoteBytesReceived() + m_serverUDPSocket.GetBytesReceived();
}

void CVDOLiveSession::GetValue(DWORD id, CNVDataObject& value) {
    if (id == RequestVDOLiveFile)
        value.SetString(GetClipName());
    else
        CStreamingSession::GetValue(id, value);
}

std::string CVDOLiveSession::GetClipName() const {
    std::lock_guard<std::mutex> lock(m_clipMutex);
    return m_clipName;
}

std::optional<SHandlerLines> CVDOLiveSession::GetNoticeLines(ENotice notice,
                                                              const X1Socket&) const {
    if (notice == ENotice::close)
        return SHandlerLines{kOnCloseSocket, kOnCloseUnknown};
    return SHandlerLines{kOnReadSocket, kOnReadUnknown};
}

// --- Notices --------------------------------------------------------------------------------

void CVDOLiveSession::OnRead(X1Socket& socket) {
    if (IsEnding())
        return;
    ResetIdleTimer();
    if (&socket == &m_clientSocket)
        OnPlayerRead();
    else if (&socket == &m_remoteSocket)
        RelayBlock(m_remoteSocket, m_clientSocket, kRelayBlock);
    else if (&socket == &m_serverUDPSocket)
        OnServerDatagram();
    else if (&socket == &m_playerUDPSocket)
        OnPlayerDatagram();
}

void CVDOLiveSession::OnPlayerRead() {
    if (m_phase == EPhase::relaying) {
        RelayBlock(m_clientSocket, m_remoteSocket, kRelayBlock);
        return;
    }
    if (ReceiveBlock(m_clientSocket, m_pending, kRelayBlock) <= 0)
        return;
    // A socket failure while the messages are handled ends the session without a line.
    if (CatchSocketFailure([&] { HandleMessages(); }))
        Finish(kExitError);
}

void CVDOLiveSession::OnServerDatagram() {
    std::string datagram, host;
    UINT port = 0;
    if (!ReceiveDatagram(m_serverUDPSocket, kServerDatagram, datagram, host, port) ||
        host != GetServerAddress())
        return;
    if (!m_datagramConnected) {
        m_datagramConnected = true;
        m_serverDatagramPort = port;
    } else if (port != m_serverDatagramPort) {
        return;
    }
    ForwardDatagram(m_playerUDPSocket, datagram, GetClientAddress(), m_playerUDPPort);
}

void CVDOLiveSession::OnPlayerDatagram() {
    std::string datagram, host;
    UINT port = 0;
    if (ReceiveDatagram(m_playerUDPSocket, kPlayerDatagram, datagram, host, port) &&
        host == GetClientAddress() && port == m_playerUDPPort)
        ForwardDatagram(m_serverUDPSocket, datagram, GetServerAddress(), m_serverDatagramPort);
}

// --- Messages -------------------------------------------------------------------------------

void CVDOLiveSession::HandleMessages() {
    while (m_phase != EPhase::relaying && !IsEnding()) {
        const SVDOLiveFrame frame = FrameVDOLiveMessage(m_pending);
        if (frame.result == SVDOLiveFrame::EResult::incomplete)
            return;
        if (frame.result == SVDOLiveFrame::EResult::badLength) {
            EndForBadProtocol(kErrorLength, frame.length);
            return;
        }
        std::string message = m_pending.substr(0, frame.size);
        m_pending.erase(0, frame.size);
        if (m_phase == EPhase::messages)
            HandleClientMessage(message);
        else
            HandleRequest(message);
    }
    if (m_phase == EPhase::relaying && !IsEnding()) {
        SendAll(m_remoteSocket, m_pending);
        m_pending.clear();
    }
}

void CVDOLiveSession::HandleRequest(std::string& message) {
    const DWORD type = GetVDOLiveMessageType(message);
    std::string host, clip;
    UINT port = 0;
    SVDOLivePort found;
    if (type == kTypeStream) {
        MarkNonProxyRequest();
        if (GetNonProxyRequestAction() != kNonProxyForward) {
            Finish(kExitError);
            return;
        }
        found = FindVDOLivePlayerPort(message);
        if (found.kind == SVDOLivePort::EKind::outside) {
            EndForBadProtocol(kErrorFields, type);
            return;
        }
        host = GetNonProxyRequestHost();
        port = GetNonProxyRequestPort();
        clip = kUnknownFile;
    } else if (type == kTypeRequest) {
        SVDOLiveRequest request;
        if (!ParseVDOLiveRequest(message, request)) {
            EndForBadProtocol(kErrorFields, type);
            return;
        }
        host = request.host;
        port = request.port;
        clip = request.clip;
    } else {
        EndForBadProtocol(kErrorFirstType, type);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_clipMutex);
        m_clipName = clip;
    }
    m_serverSocketPort = OpenStreamSocket(m_serverUDPSocket);
    if (IsNonProxyRequest())
        RewriteStreamMessage(message, found);

    SetRemoteTarget(host, port);
    SetDescription(FormatText(kDescriptionRequest, host.c_str(), port, clip.c_str()));
    LogRequest();
    if (!CheckAccess(FALSE))
        return;
    ReportStatus(GetDescription());
    ConnectServer(host, port);
    m_phase = EPhase::messages;
    // The player's request was for the proxy; a player that took the proxy for the server
    // spoke to the server.
    if (IsNonProxyRequest())
        SendAll(m_remoteSocket, message);
}

void CVDOLiveSession::HandleClientMessage(std::string& message) {
    const SVDOLivePort found = FindVDOLivePlayerPort(message);
    switch (found.kind) {
    case SVDOLivePort::EKind::outside:
        EndForBadProtocol(kErrorFields, GetVDOLiveMessageType(message));
        return;
    case SVDOLivePort::EKind::stream: RewriteStreamMessage(message, found); break;
    case SVDOLivePort::EKind::marked:
        // Without a stream message before it, this port is the player's: the server's
        // datagrams need a way to it.
        if (m_playerUDPSocket.GetHandle() == INVALID_SOCKET_HANDLE)
            OpenPlayerSocket(found.port);
        WriteVDOLivePlayerPort(message, found, m_serverSocketPort);
        m_phase = EPhase::relaying;
        break;
    case SVDOLivePort::EKind::none: break;
    }
    SendAll(m_remoteSocket, message);
}

void CVDOLiveSession::RewriteStreamMessage(std::string& message, const SVDOLivePort& found) {
    m_streamName = found.streamName;
    OpenPlayerSocket(found.port);
    WriteVDOLivePlayerPort(message, found, m_serverSocketPort);
}

void CVDOLiveSession::OpenPlayerSocket(DWORD port) {
    // The player's address and port pass the target guard as any datagram target would.
    COutboundTargetGuard::Instance().ResolveChecked(GetClientAddress(), port,
                                                    OutboundTransport::Udp);
    m_playerUDPPort = port;
    OpenStreamSocket(m_playerUDPSocket);
}
