#include "proxies/ftp/FTPSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/DisplayText.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundConnection.h"
#include "engine/framework/OutboundFormat.h"
#include "engine/framework/QuietClose.h"
#include "foundation/Format.h"
#include "foundation/NVDataObject.h"
#include "foundation/X1SocketException.h"
#include "platform/net/Resolver.h"
#include "platform/net/SocketErrors.h"
#include "platform/net/Sockets.h"
#include "proxies/ftp/FTPClientCommand.h"
#include "proxies/ftp/FTPTexts.h"

using FrameworkFormat::kExitError;
using FrameworkFormat::kExitNormal;
using LogFormat::kLogError;

IMPLEMENT_SERIAL(CFTPSession, CTwoEndTCPSession, 1)

namespace {

constexpr DWORD kFTPUserNameValue = 20;  // request variable "FTP Username"
constexpr DWORD kGreetingCode = 220;
constexpr DWORD kPassiveCode = 227;
constexpr const char* kLineEnd = "\r\n";

bool IsPreliminary(DWORD code) { return code >= 100 && code < 200; }

bool HasBareControl(std::string_view line) {
    return line.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos;
}

bool IsDirectData(DWORD method) {
    return method == OutboundFormat::kMethodDirect || method == OutboundFormat::kMethodHttpProxy;
}

// "PORT" or "227" with the address (dotted) and port.
std::string FormatHostPort(const char* format, const std::string& dotted, UINT port) {
    DWORD address = 0;
    if (!ParseDottedAddress(dotted, &address))
        throw new X1SocketException(WSAEINVAL);
    return FormatText(format, (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                      (address >> 8) & 0xFF, address & 0xFF, (port >> 8) & 0xFF, port & 0xFF);
}

}  // namespace

CFTPSession::CFTPSession() : m_clientLines(kFTPMaxLineLength) {
    WatchSocket(m_listenSocket);
    WatchSocket(m_acceptedDataSocket);
    WatchSocket(m_connectedDataSocket);
    SetDescription(kFTPDescription);
}

CFTPSession::CFTPSession(int acceptedHandle)
    : CTwoEndTCPSession(acceptedHandle), m_clientLines(kFTPMaxLineLength) {
    WatchSocket(m_listenSocket);
    WatchSocket(m_acceptedDataSocket);
    WatchSocket(m_connectedDataSocket);
    SetDescription(kFTPDescription);
}

void CFTPSession::SendAccessDenied() { SendQuietly(m_clientSocket, kFTPAccessDenied); }

void CFTPSession::GetValue(DWORD id, CNVDataObject& value) {
    if (id == kFTPUserNameValue)
        value.SetString(GetFTPUserName());
    else
        CTwoEndTCPSession::GetValue(id, value);
}

std::string CFTPSession::GetFTPUserName() const {
    std::lock_guard<std::mutex> lock(m_userMutex);
    return m_ftpUser;
}

void CFTPSession::Initialize() {
    if (CatchSocketFailure([&] { SendToClient(kFTPGreeting); }))
        Finish(kExitError);
}

void CFTPSession::Finish(int code) {
    if (m_state == EState::finished)
        return;
    m_state = EState::finished;
    CloseDataLegs();
    Terminate(code);
}

void CFTPSession::SendToClient(std::string_view bytes) {
    m_clientSocket.Send(bytes.data(), static_cast<int>(bytes.size()));
}

void CFTPSession::SendToServer(std::string_view bytes, EFTPClientCommand command) {
    m_remoteSocket.Send(bytes.data(), static_cast<int>(bytes.size()));
    m_awaited.push_back(command);
}

// --- notices ----------------------------------------------------------------------------------

std::optional<SHandlerLines> CFTPSession::GetNoticeLines(ENotice notice,
                                                         const X1Socket&) const {
    switch (notice) {
    case ENotice::read: return SHandlerLines{kFTPOnReadSocketLog, kFTPOnReadUnknownLog};
    case ENotice::close: return SHandlerLines{kFTPOnCloseUnknownLog, kFTPOnCloseUnknownLog};
    case ENotice::accept: return SHandlerLines{kFTPOnAcceptSocketLog, kFTPOnAcceptUnknownLog};
    case ENotice::write: break;
    }
    return std::nullopt;
}

void CFTPSession::OnNoticeFailure(ENotice notice, X1Socket& socket,
                                  const SHandlerFailure& failure) {
    if (notice == ENotice::accept) {
        CloseDataLegs();
        return;
    }
    if (&socket == &m_clientSocket && failure.IsSocket() && m_state == EState::connecting) {
        // The client learns why before its connection closes.
        SendQuietly(m_clientSocket,
                    FormatText(kFTPConnectFailedReply, SanitizeDisplayText(failure.text).c_str()));
        CloseGracefullyQuietly(m_clientSocket, X1Socket::kGracefulDrainMs);
    }
    Finish(kExitError);
}

void CFTPSession::OnRead(X1Socket& socket) {
    if (m_state == EState::finished)
        return;
    ResetIdleTimer();
    if (&socket == &m_connectedDataSocket)
        RelayData(m_connectedDataSocket, m_acceptedDataSocket);
    else if (&socket == &m_acceptedDataSocket)
        RelayData(m_acceptedDataSocket, m_connectedDataSocket);
    else if (&socket == &m_clientSocket)
        OnClientRead();
    else if (&socket == &m_remoteSocket)
        OnServerRead();
}

void CFTPSession::OnClose(X1Socket& socket) {
    if (m_state == EState::finished)
        return;
    if (&socket == &m_clientSocket) {
        CloseQuietly(m_clientSocket);
        CloseQuietly(m_remoteSocket);
        // A client that quit may close before the server does.
        Finish(m_clientQuit ? kExitNormal : kExitError);
    } else if (&socket == &m_remoteSocket) {
        // A last reply without its line end still reaches the client.
        m_serverClosed = true;
        if (const std::optional<SFTPReplyLine> last = m_serverReplies.Flush())
            HandleServerLine(*last);
        DrainAndCloseData();
        CloseQuietly(m_remoteSocket);
        m_clientSocket.CloseGracefully();
        Finish(kExitNormal);
    } else if (&socket == &m_connectedDataSocket) {
        OnDataClose(m_connectedDataSocket, m_acceptedDataSocket);
    } else if (&socket == &m_acceptedDataSocket) {
        OnDataClose(m_acceptedDataSocket, m_connectedDataSocket);
    }
}

// --- the client's lines -----------------------------------------------------------------------

// While lines wait (for the server's greeting, or for its replies to the commands before
// them), or the server has many commands to answer, the client's further bytes stay in the
// socket.
void CFTPSession::OnClientRead() {
    if (m_state == EState::loggingOn || !m_heldLines.empty() ||
        m_awaited.size() >= kFTPMaxAwaitedReplies)
        return;
    char buffer[kFTPClientReadSize];
    const int count = m_clientSocket.Receive(buffer, sizeof buffer);
    if (count <= 0)
        return;
    for (CLineReader::SLine& line : m_clientLines.Append(std::string_view(buffer, count)))
        m_heldLines.push_back(std::move(line));
    HandleClientLines();
}

// A line the gateway answers itself (or that leaves the server) waits until the server has
// answered every command before it, so the client gets its replies in the order it asked.
void CFTPSession::HandleClientLines() {
    while (m_state != EState::finished && m_state != EState::loggingOn && !m_heldLines.empty()) {
        if (m_state == EState::relaying && !m_awaited.empty() &&
            IsAnsweredByGateway(m_heldLines.front()))
            return;
        const CLineReader::SLine line = std::move(m_heldLines.front());
        m_heldLines.pop_front();
        HandleClientLine(line);
    }
}

void CFTPSession::ResumeClientLines() {
    if (m_serverClosed)
        return;
    HandleClientLines();
    if (m_state == EState::relaying && m_heldLines.empty() &&
        m_clientSocket.GetBytesAvailable() > 0)
        OnClientRead();
}

bool CFTPSession::IsAnsweredByGateway(const CLineReader::SLine& line) {
    if (line.overLong || HasBareControl(line.text))
        return true;
    const EFTPClientCommand command = ClassifyCommand(line.text);
    return command == EFTPClientCommand::user || command == EFTPClientCommand::port ||
           command == EFTPClientCommand::extended;
}

void CFTPSession::HandleClientLine(const CLineReader::SLine& line) {
    if (line.overLong) {
        WriteServiceLog(kLogError, kFTPLineTooLongLog, line.text.c_str());
        SendToClient(kFTPLineTooLongReply);
        return;
    }
    // A CR or NUL inside a line could end it for the server: a PORT or EPRT hidden behind it
    // would pass the gateway unseen.
    if (HasBareControl(line.text)) {
        WriteServiceLog(kLogError, kFTPBadLineLog, line.text.c_str());
        SendToClient(kFTPBadLineReply);
        return;
    }
    const EFTPClientCommand command = ClassifyCommand(line.text);
    if (command == EFTPClientCommand::empty)
        return;
    if (command == EFTPClientCommand::user) {
        HandleUser(line.text);
        return;
    }
    if (m_state == EState::connected) {
        if (command == EFTPClientCommand::quit) {
            SendToClient(kFTPGoodbyeReply);
            m_clientSocket.CloseGracefully();
            Finish(kExitNormal);
        } else {
            SendToClient(kFTPLoginFirstReply);
        }
        return;
    }
    switch (command) {
    case EFTPClientCommand::port: HandlePort(line.text); break;
    case EFTPClientCommand::extended: SendToClient(kFTPNotImplementedReply); break;
    case EFTPClientCommand::pasv:
        m_listenerPassive = true;
        SendToServer(line.text + kLineEnd, command);
        break;
    case EFTPClientCommand::quit:
        m_clientQuit = true;
        SendToServer(line.text + kLineEnd, command);
        break;
    default: SendToServer(line.text + kLineEnd, command); break;
    }
}

void CFTPSession::HandleUser(const std::string& line) {
    const SFTPNonProxyTarget nonProxy{GetNonProxyRequestAction(), GetNonProxyRequestHost(),
                                      GetNonProxyRequestPort()};
    const std::optional<SFTPUserTarget> target = ParseUserLine(line, nonProxy);
    if (!target) {
        SendToClient(kFTPBadUserReply);
        WriteServiceLog(kLogError, kFTPBadUserLog, line.c_str());
        return;
    }
    if (m_state != EState::connected)
        DisconnectServer();
    {
        std::lock_guard<std::mutex> lock(m_userMutex);
        m_ftpUser = target->user;
    }
    SetRemoteTarget(target->host, target->port);
    SetDescription(target->port == kFTPDefaultServerPort
                       ? FormatText(kFTPDescriptionFormat, target->user.c_str(),
                                    target->host.c_str())
                       : FormatText(kFTPDescriptionPortFormat, target->user.c_str(),
                                    target->host.c_str(), target->port));
    ReportStatus(GetDescription());
    WriteAudit(LogFormat::kAuditRequest, "%s", "");
    WriteServiceLog(LogFormat::kLogRequest, "%s", "");
    // The server is known now: the request filters may test it (a refusal answers the client
    // and ends the session).
    if (!CheckAccess(FALSE)) {
        m_state = EState::finished;
        return;
    }
    // A failure from here on is the client's answer (OnNoticeFailure).
    m_state = EState::connecting;
    CNorvaneEngine::Instance().CheckDialFirst(this);
    ConnectRemote(m_remoteSocket, target->host, target->port);
    m_serverAddress = m_remoteSocket.GetPeerAddress();
    m_remoteSocket.SetEventMask(FD_READ | FD_CLOSE);
    m_remoteSocket.StartAsyncSelect();
    m_state = EState::loggingOn;
}

// A USER that names another server leaves the one before: its transfer, listener and
// unfinished reply go with it.
void CFTPSession::DisconnectServer() {
    CloseDataLegs();
    CloseQuietly(m_listenSocket);
    CloseQuietly(m_remoteSocket);
    m_serverReplies = CFTPReplyReader();
    m_serverAddress.clear();
    m_awaited.clear();
    ++m_serverGeneration;
    m_state = EState::connected;
}

void CFTPSession::HandlePort(const std::string& line) {
    if (!IsDirectData(GetUpstream().ConnectMethod)) {
        SendToClient(kFTPPortNotDirectReply);
        WriteServiceLog(kLogError, "%s", kFTPPortNotDirectLog);
        return;
    }
    // Only the client's own address: a PORT naming another host would make the gateway
    // connect wherever a client likes.
    const std::optional<SFTPHostPort> parsed = ParsePortLine(line);
    DWORD clientAddress = 0;
    if (!parsed || !ParseDottedAddress(m_clientSocket.GetPeerAddress(), &clientAddress) ||
        parsed->address != clientAddress) {
        SendToClient(kFTPBadPortReply);
        WriteServiceLog(kLogError, kFTPBadPortLog, line.c_str());
        return;
    }
    m_listenerPassive = false;
    m_dataAddress = FormatDottedAddress(parsed->address);
    m_dataPort = parsed->port;
    const std::string outside = m_remoteSocket.GetLocalAddress();
    OpenDataListener(outside);
    SendToServer(FormatHostPort(kFTPPortLineFormat, outside, m_listenSocket.GetLocalPort()),
                 EFTPClientCommand::port);
}

// --- the server's replies ---------------------------------------------------------------------

void CFTPSession::OnServerRead() {
    char buffer[kFTPServerReadSize];
    const int count = m_remoteSocket.Receive(buffer, sizeof buffer);
    if (count <= 0)
        return;
    const unsigned generation = m_serverGeneration;
    for (const SFTPReplyLine& line : m_serverReplies.AppendLines(std::string_view(buffer, count))) {
        // A client line handled on the way may have left this server.
        if (m_state == EState::finished || generation != m_serverGeneration)
            return;
        HandleServerLine(line);
    }
}

void CFTPSession::HandleServerLine(const SFTPReplyLine& line) {
    if (m_state == EState::loggingOn) {
        // The greeting (and a preliminary reply before it) stays here; a refusal instead of
        // it answers the client's USER.
        if (line.code != kGreetingCode && !IsPreliminary(line.code))
            SendToClient(line.text + kLineEnd);
        if (line.last && !IsPreliminary(line.code))
            FinishGreeting(line);
        return;
    }
    if (m_state != EState::relaying)
        return;
    // A FEAT reply does not tell the client of features the gateway answers "502" to.
    const bool uncarried = !line.last && !m_awaited.empty() &&
                           m_awaited.front() == EFTPClientCommand::feat &&
                           IsUncarriedFeature(line.text);
    if (line.code == kPassiveCode) {
        if (line.last)
            HandlePassiveReply(line.text);
    } else if (!uncarried) {
        SendToClient(line.text + kLineEnd);
    }
    if (line.last && !IsPreliminary(line.code) && !m_awaited.empty()) {
        m_awaited.pop_front();
        if (m_awaited.empty() || m_awaited.size() + 1 == kFTPMaxAwaitedReplies)
            ResumeClientLines();
    }
}

void CFTPSession::FinishGreeting(const SFTPReplyLine& line) {
    m_state = EState::relaying;
    if (line.code == kGreetingCode && !m_serverClosed) {
        const std::string user = GetFTPUserName();
        const std::string host = GetRemoteHost();
        const UINT port = GetRemotePort();
        std::string line;
        if (GetUpstream().ConnectMethod != OutboundFormat::kMethodHttpProxy)
            line = FormatText(kFTPUserLine, user.c_str());
        else if (port == kFTPDefaultServerPort)
            line = FormatText(kFTPUserAtHostLine, user.c_str(), host.c_str());
        else
            line = FormatText(kFTPUserAtHostPortLine, user.c_str(), host.c_str(), port);
        SendToServer(line, EFTPClientCommand::user);
    }
    // The lines that waited for the greeting, then what waited in the socket.
    ResumeClientLines();
}

// The address of the reply is not used: the data connection goes to the server of the control
// connection (or, through an upstream SOCKS server or tunnel, to its host).
void CFTPSession::HandlePassiveReply(const std::string& line) {
    const std::optional<SFTPHostPort> parsed = ParsePassiveReply(line);
    if (!parsed) {
        WriteServiceLog(kLogError, kFTPBadPassiveLog, line.c_str());
        SendToClient(kFTPBadPassiveReply);
        return;
    }
    m_listenerPassive = true;
    m_dataAddress =
        IsDirectData(GetUpstream().ConnectMethod) ? m_serverAddress : GetRemoteHost();
    m_dataPort = parsed->port;
    const std::string inside = m_clientSocket.GetLocalAddress();
    OpenDataListener(inside);
    SendToClient(FormatHostPort(kFTPPassiveReplyFormat, inside, m_listenSocket.GetLocalPort()));
}

// --- data connections -------------------------------------------------------------------------

void CFTPSession::OpenDataListener(const std::string& address) {
    CloseQuietly(m_listenSocket);
    OpenListener(m_listenSocket, 0, address);
    m_listenSocket.SetEventMask(FD_ACCEPT);
    m_listenSocket.StartAsyncSelect();
}

void CFTPSession::OnAccept(X1Socket& socket) {
    if (m_state == EState::finished || &socket != &m_listenSocket)
        return;
    ResetIdleTimer();
    // Checked before it replaces anything: a connection from elsewhere is dropped and the
    // listener keeps waiting for the right one.
    X1Socket arrived;
    arrived.Attach(m_listenSocket.Accept());
    const std::string expected =
        m_listenerPassive ? m_clientSocket.GetPeerAddress() : m_serverAddress;
    const std::string from = arrived.GetPeerAddress();
    if (from != expected) {
        WriteServiceLog(kLogError, kFTPForeignDataLog, from.c_str(), expected.c_str());
        return;
    }
    CloseDataLegs();
    m_acceptedDataSocket.Attach(arrived.Detach());
    m_legsPassive = m_listenerPassive;
    CloseQuietly(m_listenSocket);
    ConnectDataLeg();
    m_acceptedDataSocket.SetEventMask(FD_READ | FD_CLOSE);
    m_acceptedDataSocket.StartAsyncSelect();
    m_connectedDataSocket.SetEventMask(FD_READ | FD_CLOSE);
    m_connectedDataSocket.StartAsyncSelect();
}

void CFTPSession::ConnectDataLeg() {
    if (!m_legsPassive) {
        COutboundConnection::ConnectDirect(m_connectedDataSocket, m_dataAddress, m_dataPort);
        return;
    }
    CNorvaneEngine::Instance().CheckDialFirst(this);
    // Through an upstream FTP proxy the data port is the proxy's own: it is reached directly.
    if (GetUpstream().ConnectMethod == OutboundFormat::kMethodHttpProxy)
        COutboundConnection::ConnectDirect(m_connectedDataSocket, m_dataAddress, m_dataPort);
    else
        ConnectRemote(m_connectedDataSocket, m_dataAddress, m_dataPort);
}

void CFTPSession::RelayData(X1Socket& from, X1Socket& to) {
    RunDataStep([&] {
        char buffer[kFTPRelayBufferSize];
        const int count = from.Receive(buffer, sizeof buffer);
        if (count > 0 && to.GetHandle() != INVALID_SOCKET_HANDLE)
            to.Send(buffer, count);
    });
}

void CFTPSession::OnDataClose(X1Socket& closed, X1Socket& other) {
    RunDataStep([&] {
        char buffer[kFTPRelayBufferSize];
        for (int count; (count = closed.Receive(buffer, sizeof buffer)) > 0;) {
            if (other.GetHandle() != INVALID_SOCKET_HANDLE)
                other.Send(buffer, count);
        }
        CloseQuietly(closed);
        // The peer of the other leg reads the end of the data; what it still sends is taken
        // before the close, so the close cannot reset the last bytes on their way.
        other.CloseGracefully();
    });
    CloseDataLegs();
}

// A failure on a data connection ends that transfer; the control connection goes on.
void CFTPSession::RunDataStep(const std::function<void()>& step) {
    if (const std::optional<SHandlerFailure> failure = CatchSocketFailure(step)) {
        WriteServiceLog(kLogError, kFTPDataSocketLog, failure->text.c_str());
        CloseDataLegs();
    }
}

void CFTPSession::DrainAndCloseData() {
    if (m_connectedDataSocket.GetHandle() != INVALID_SOCKET_HANDLE)
        OnDataClose(m_connectedDataSocket, m_acceptedDataSocket);
    if (m_acceptedDataSocket.GetHandle() != INVALID_SOCKET_HANDLE)
        OnDataClose(m_acceptedDataSocket, m_connectedDataSocket);
}

void CFTPSession::CloseDataLegs() {
    CloseQuietly(m_acceptedDataSocket);
    CloseQuietly(m_connectedDataSocket);
    FoldDataCounters();
}

// The data legs' counters join their side's control connection: the accepted leg is the
// client's after a 227, the connected one after a PORT.
void CFTPSession::FoldDataCounters() {
    X1Socket& clientLeg = m_legsPassive ? m_acceptedDataSocket : m_connectedDataSocket;
    X1Socket& serverLeg = m_legsPassive ? m_connectedDataSocket : m_acceptedDataSocket;
    m_clientSocket.AddBytesSent(clientLeg.GetBytesSent());
    m_clientSocket.AddBytesReceived(clientLeg.GetBytesReceived());
    m_remoteSocket.AddBytesSent(serverLeg.GetBytesSent());
    m_remoteSocket.AddBytesReceived(serverLeg.GetBytesReceived());
    clientLeg.ResetByteCounters();
    serverLeg.ResetByteCounters();
}

const X1Socket& CFTPSession::ClientLeg() const {
    return m_legsPassive ? m_acceptedDataSocket : m_connectedDataSocket;
}

const X1Socket& CFTPSession::ServerLeg() const {
    return m_legsPassive ? m_connectedDataSocket : m_acceptedDataSocket;
}

DWORD CFTPSession::GetClientBytesSent() const {
    return m_clientSocket.GetBytesSent() + ClientLeg().GetBytesSent();
}

DWORD CFTPSession::GetClientBytesReceived() const {
    return m_clientSocket.GetBytesReceived() + ClientLeg().GetBytesReceived();
}

DWORD CFTPSession::GetRemoteBytesSent() const {
    return m_remoteSocket.GetBytesSent() + ServerLeg().GetBytesSent();
}

DWORD CFTPSession::GetRemoteBytesReceived() const {
    return m_remoteSocket.GetBytesReceived() + ServerLeg().GetBytesReceived();
}
