#include "proxies/mapping/TCPMappingSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/QuietClose.h"
#include "engine/framework/UserAccounts.h"
#include "foundation/Format.h"
#include "foundation/HostPort.h"
#include "foundation/LinkFormat.h"

#include <utility>

using namespace MappingFormat;
using FrameworkFormat::kExitError;
using FrameworkFormat::kExitNormal;

IMPLEMENT_SERIAL(CTCPMappingSession, CTwoEndTCPSession, 1)

namespace {

constexpr int kBufferSize = static_cast<int>(kRelayBufferSize);

}  // namespace

CTCPMappingSession::CTCPMappingSession() : m_mappings(CRef<CMappings>::Adopt(new CMappings)) {
    SetDescription(kTCPMappingDescription);
}

CTCPMappingSession::CTCPMappingSession(int acceptedHandle, CRef<CMappings> mappings,
                                       const CTCPMappingLink& link)
    : CTwoEndTCPSession(acceptedHandle), m_mappings(std::move(mappings)), m_link(link) {
    if (!m_mappings)
        m_mappings = CRef<CMappings>::Adopt(new CMappings);
    SetDescription(kTCPMappingDescription);
}

// --- Start ----------------------------------------------------------------------------------

void CTCPMappingSession::StartProtocol() {
    if (!CheckAccess(TRUE))
        return;
    Initialize();
    if (GetTerminateCount() != 0)
        return;
    m_clientSocket.SetEventMask(FD_READ | FD_CLOSE);
    m_clientSocket.StartAsyncSelect();
}

void CTCPMappingSession::Initialize() {
    if (RunGuarded({kInitializeSocketException, kInitializeUnknownException}, [this] { Join(); }))
        Terminate(kExitError);
}

void CTCPMappingSession::Join() {
    CHostPort target;
    if (!m_mappings->FindTarget(*this, target)) {
        WriteServiceLog(LogFormat::kLogFailedAuthorisation, "%s", kNoMappingTerminating);
        Terminate(kExitError);
        return;
    }
    if (m_link.EncryptConnectionsIn)
        AcceptLink();
    SetRemoteTarget(target.Host, target.Port);
    SetDescription(FormatText(kTCPMappingConnected, target.Host.c_str(), target.Port));
    if (!CheckAccess(TRUE))
        return;  // the check ended the session
    CNorvaneEngine::Instance().CheckDialFirst(this);
    ConnectTarget(target);
    m_remoteSocket.SetEventMask(FD_READ | FD_CLOSE);
    m_remoteSocket.StartAsyncSelect();
    ReportStatus(GetDescription());
    WriteAudit(LogFormat::kAuditRequest, "%s", "");
    WriteServiceLog(LogFormat::kLogRequest, "%s", "");
}

void CTCPMappingSession::AcceptLink() {
    const bool fixedUser = m_link.SpecifyUserForIncomingConnection != 0;
    m_clientSocket.SetLinkCredentials(LinkFormat::kLinkEngine, fixedUser, m_link.UsernameIn,
                                      m_link.PasswordIn);
    m_clientSocket.ServerHandshake(fixedUser ? CLinkUserLookup() : LinkUserLookup(true),
                                   &EngineLogOnThrottle());
}

void CTCPMappingSession::ConnectTarget(const CHostPort& target) {
    ConnectRemote(m_remoteSocket, target.Host, target.Port);
    if (!m_link.EncryptConnectionsOut)
        return;
    // Only now: before the connection is made, an upstream server would be the peer.
    m_remoteSocket.SetLinkCredentials(LinkFormat::kLinkEngine, false, m_link.UsernameOut,
                                      m_link.PasswordOut);
    m_remoteSocket.ClientHandshake();
}

// --- Relay ----------------------------------------------------------------------------------

std::optional<SHandlerLines> CTCPMappingSession::GetNoticeLines(ENotice notice,
                                                                 const X1Socket&) const {
    if (notice == ENotice::close)
        return SHandlerLines{kOnCloseSocketException, kOnCloseUnknownException};
    return SHandlerLines{kOnReadSocketException, kOnReadUnknownException};
}

void CTCPMappingSession::OnRead(X1Socket& socket) {
    ResetIdleTimer();
    if (&socket == &m_clientSocket)
        RelayBlock(m_clientSocket, m_remoteSocket);
    else if (&socket == &m_remoteSocket)
        RelayBlock(m_remoteSocket, m_clientSocket);
}

void CTCPMappingSession::OnClose(X1Socket& socket) {
    if (&socket == &m_clientSocket)
        EndDirection(m_clientSocket, m_remoteSocket);
    else if (&socket == &m_remoteSocket)
        EndDirection(m_remoteSocket, m_clientSocket);
}

void CTCPMappingSession::RelayBlock(X1Socket& from, X1Socket& to) {
    m_bytesRead = from.Receive(m_buffer.data(), kBufferSize);
    if (m_bytesRead > 0)
        to.Send(m_buffer.data(), m_bytesRead);
}

void CTCPMappingSession::EndDirection(X1Socket& from, X1Socket& to) {
    const EPhase ended = &from == &m_clientSocket ? EPhase::clientEnded : EPhase::remoteEnded;
    if (m_phase == ended)
        return;
    while ((m_bytesRead = from.Receive(m_buffer.data(), kBufferSize)) > 0)
        to.Send(m_buffer.data(), m_bytesRead);
    if (m_phase != EPhase::relaying) {
        // The other direction had ended already.
        CloseQuietly(m_clientSocket);
        CloseQuietly(m_remoteSocket);
        Terminate(kExitNormal);
        return;
    }
    m_phase = ended;
    // Its stream is over: no more notices for it, while it still takes what the other side
    // sends.
    from.StopAsyncSelect();
    to.ShutdownSend();
}
