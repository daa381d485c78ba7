#include "proxies/streaming/RealAudioSession.h"

#include "engine/LogFormat.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/QuietClose.h"
#include "foundation/Format.h"
#include "platform/net/Sockets.h"
#include "proxies/streaming/RealAudioFormat.h"

using namespace RealAudioFormat;
using FrameworkFormat::kExitError;
using FrameworkFormat::kExitNormal;
using LogFormat::kLogDebug;
using LogFormat::kLogError;

IMPLEMENT_SERIAL(CRealAudioSession, CStreamingSession, 1)

CRealAudioSession::CRealAudioSession() {
    WatchSocket(m_DataUDPSocket);
    WatchSocket(m_RobustUDPSocket);
    SetDescription(kDescriptionStart);
}

CRealAudioSession::CRealAudioSession(int acceptedHandle) : CStreamingSession(acceptedHandle) {
    WatchSocket(m_DataUDPSocket);
    WatchSocket(m_RobustUDPSocket);
    SetDescription(kDescriptionStart);
}

DWORD CRealAudioSession::GetClientBytesSent() const {
    return CStreamingSession::GetClientBytesSent() + m_DataUDPSocket.GetBytesSent();
}

DWORD CRealAudioSession::GetClientBytesReceived() const {
    return CStreamingSession::GetClientBytesReceived() + m_RobustUDPSocket.GetBytesReceived();
}

DWORD CRealAudioSession::GetRemoteBytesSent() const {
    return CStreamingSession::GetRemoteBytesSent() + m_RobustUDPSocket.GetBytesSent();
}

DWORD CRealAudioSession::GetRemoteBytesReceived() const {
    return CStreamingSession::GetRemoteBytesReceived() + m_DataUDPSocket.GetBytesReceived();
}

std::optional<SHandlerLines> CRealAudioSession::GetNoticeLines(ENotice notice,
                                                                const X1Socket& socket) const {
    if (notice == ENotice::close)
        return SHandlerLines{kOnCloseSocket, kOnCloseUnknown};
    const char* socketLine = &socket == &m_DataUDPSocket     ? kOnReadDataSocket
                             : &socket == &m_RobustUDPSocket ? kOnReadRobustSocket
                             : &socket == &m_clientSocket    ? kOnReadClientSocket
                                                             : kOnReadServerSocket;
    return SHandlerLines{socketLine, kOnReadUnknown};
}

// --- Notices --------------------------------------------------------------------------------

void CRealAudioSession::OnRead(X1Socket& socket) {
    if (IsEnding())
        return;
    ResetIdleTimer();
    if (&socket == &m_DataUDPSocket)
        OnDataDatagram();
    else if (&socket == &m_RobustUDPSocket)
        OnRobustDatagram();
    else if (&socket == &m_clientSocket)
        OnClientRead();
    else if (&socket == &m_remoteSocket)
        OnServerRead();
}

void CRealAudioSession::OnDataDatagram() {
    std::string datagram, host;
    UINT port = 0;
    if (ReceiveDatagram(m_DataUDPSocket, kRelayBlock, datagram, host, port) &&
        host == GetServerAddress())
        ForwardDatagram(m_DataUDPSocket, datagram, GetClientAddress(), m_clientDataPort);
}

void CRealAudioSession::OnRobustDatagram() {
    std::string datagram, host;
    UINT port = 0;
    if (ReceiveDatagram(m_RobustUDPSocket, kRelayBlock, datagram, host, port) &&
        host == GetClientAddress())
        ForwardDatagram(m_RobustUDPSocket, datagram, GetServerAddress(), m_serverRobustPort);
}

void CRealAudioSession::OnClientRead() {
    switch (m_clientState) {
    case EClientState::proxyCheck:
    case EClientState::commands:
        if (ReceiveBlock(m_clientSocket, m_clientPending, kRelayBlock) > 0)
            ReadPackets();
        break;
    case EClientState::raw: RelayBlock(m_clientSocket, m_remoteSocket, kRelayBlock); break;
    case EClientState::messages: {
        std::string block;
        if (ReceiveBlock(m_clientSocket, block, kRelayBlock) > 0)
            HandleClientMessages(block);
        break;
    }
    }
}

void CRealAudioSession::OnServerRead() {
    if (m_serverRaw) {
        RelayBlock(m_remoteSocket, m_clientSocket, kRelayBlock);
        return;
    }
    std::string block;
    if (ReceiveBlock(m_remoteSocket, block, kRelayBlock) > 0)
        HandleServerMessages(block);
}

// --- Control packets ------------------------------------------------------------------------

void CRealAudioSession::ReadPackets() {
    const std::optional<SHandlerFailure> failure =
        RunGuarded({kReadPacketSocket, kReadPacketUnknown}, [&] {
            while (IsTakingCommands() && !IsEnding() && ReadPacket()) {
            }
        });
    if (failure) {
        if (failure->IsSocket())
            SendQuietly(m_clientSocket, BuildRealAudioStatusPacket(kStatusFailed, failure->text));
        Finish(kExitError);
        return;
    }
    if (IsEnding() || IsTakingCommands())
        return;
    // What the client sent after its last packet belongs to the next state.
    const std::string rest = std::move(m_clientPending);
    m_clientPending.clear();
    if (m_clientState == EClientState::raw)
        SendAll(m_remoteSocket, rest);
    else
        HandleClientMessages(rest);
}

bool CRealAudioSession::IsTakingCommands() const {
    return m_clientState == EClientState::proxyCheck || m_clientState == EClientState::commands;
}

bool CRealAudioSession::ReadPacket() {
    if (m_clientState == EClientState::proxyCheck) {
        if (m_clientPending.size() < kPacketHeaderSize)
            return false;
        m_clientState = EClientState::commands;
        if (!SpeaksRealAudioProxyProtocol(m_clientPending)) {
            AnswerNonProxyRequest();
            return false;
        }
    }
    const SRealAudioPacket packet = ParseRealAudioPacket(m_clientPending);
    switch (packet.result) {
    case SRealAudioPacket::EResult::incomplete: return false;
    case SRealAudioPacket::EResult::zeroLength:
        EndForBadProtocol("%s", kErrorZeroLength);
        return false;
    case SRealAudioPacket::EResult::textTooLong:
        EndForBadProtocol(kErrorTextTooLong, packet.command, packet.length - 1u,
                          static_cast<unsigned>(kTextArea - 1));
        return false;
    case SRealAudioPacket::EResult::packet: break;
    }
    m_clientPending.erase(0, packet.consumed);
    HandlePacket(packet);
    return true;
}

void CRealAudioSession::HandlePacket(const SRealAudioPacket& packet) {
    switch (packet.command) {
    case kCommandConnect: ConnectRequested(); break;
    case kCommandHello:
        if (!packet.hasData)
            break;
        if (packet.value == kHelloVersion)
            SendAll(m_clientSocket, kHelloAnswer);
        else
            Finish(kExitError);
        break;
    case kCommandServerName:
        m_serverName = packet.text;
        SetRemoteTarget(m_serverName, m_serverPort);
        SetDescription(FormatText(kDescriptionServer, m_serverName.c_str()));
        ReportStatus(GetDescription());
        LogRequest();
        WriteServiceLog(kLogDebug, kDebugServerName, m_serverName.c_str());
        break;
    case kCommandServerPort:
        if (!packet.hasData)
            break;
        m_serverPort = packet.value;
        SetRemoteTarget(m_serverName, m_serverPort);
        WriteServiceLog(kLogDebug, kDebugServerPort, m_serverPort);
        break;
    case kCommandClientPortOffset:
        if (packet.hasData)
            WriteServiceLog(kLogDebug, kDebugClientPortOffset, static_cast<unsigned>(packet.value));
        break;
    case kCommandTCPMode:
        if (!packet.hasData)
            break;
        m_tcpMode = packet.value != 0;
        WriteServiceLog(kLogDebug, "%s", kDebugTCPMode);
        break;
    case kCommandStatus: WriteServiceLog(kLogDebug, kDebugStatus, packet.text.c_str()); break;
    default:
        WriteServiceLog(kLogDebug, kDebugUnknownCommand, static_cast<unsigned>(packet.command));
        break;
    }
}

void CRealAudioSession::AnswerNonProxyRequest() {
    MarkNonProxyRequest();
    if (GetNonProxyRequestAction() != kNonProxyForward) {
        SendStatus(kStatusBadRequest, kBadInfoPassed);
        WriteServiceLog(kLogError, "%s", kErrorNonProxy);
        Finish(kExitNormal);
        return;
    }
    const std::string host = GetNonProxyRequestHost();
    const UINT port = GetNonProxyRequestPort();
    SetRemoteTarget(host, port);
    if (!CheckAccess(FALSE))
        return;
    ConnectServer(host, port);
    m_clientState = EClientState::messages;
    SetDescription(FormatText(kDescriptionServerPort, host.c_str(), port));
    ReportStatus(GetDescription());
    LogRequest();
}

void CRealAudioSession::ConnectRequested() {
    if (m_serverName.empty() || m_serverPort == 0) {
        SendStatus(kStatusBadRequest, kBadInfoPassed);
        WriteServiceLog(kLogError, "%s", kErrorNoServer);
        Finish(kExitNormal);
        return;
    }
    if (!CheckAccess(FALSE))
        return;
    ConnectServer(m_serverName, m_serverPort);
    SendStatus(kStatusOK, kConnectedOK);
    if (m_tcpMode) {
        m_clientState = EClientState::raw;
        m_serverRaw = true;
    } else {
        m_clientState = EClientState::messages;
    }
}

void CRealAudioSession::SendStatus(BYTE code, std::string_view text) {
    SendAll(m_clientSocket, BuildRealAudioStatusPacket(code, text));
}

// --- Watched messages -----------------------------------------------------------------------

void CRealAudioSession::HandleClientMessages(std::string_view bytes) {
    std::string out;
    m_clientMessages.Feed(bytes, out, *this);
    SendAll(m_remoteSocket, out);
    if (m_clientMessages.IsRaw())
        m_clientState = EClientState::raw;
}

WORD CRealAudioSession::OpenClientPort(WORD id, WORD clientPort) {
    // A repeated message replaces the socket the earlier one made.
    if (id == kMessageDataPort) {
        m_clientDataPort = clientPort;
        return OpenStreamSocket(m_DataUDPSocket);
    }
    m_robustSocketPort = OpenStreamSocket(m_RobustUDPSocket);
    return m_robustSocketPort;
}

void CRealAudioSession::MessageForwarded(WORD id, WORD length, std::size_t taken) {
    WriteServiceLog(kLogDebug, kDebugClientMessage, static_cast<unsigned>(id),
                    static_cast<unsigned>(length), static_cast<unsigned>(taken));
}

void CRealAudioSession::HandleServerMessages(std::string_view bytes) {
    const WORD proxyRobustPort =
        m_RobustUDPSocket.GetHandle() == INVALID_SOCKET_HANDLE ? 0 : m_robustSocketPort;
    std::string out;
    if (const auto answer = m_serverGreeting.Feed(bytes, out, proxyRobustPort)) {
        if (answer->rewritten) {
            m_serverRobustPort = answer->serverRobustPort;
        } else if (!answer->robustOffered) {
            WriteServiceLog(kLogDebug, "%s", kDebugNoRobust);
            CloseQuietly(m_RobustUDPSocket);
        }
    }
    SendAll(m_clientSocket, out);
    m_serverRaw = m_serverGreeting.IsRaw();
}
