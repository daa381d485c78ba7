#include "proxies/pop3/POP3Session.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/RequestVariables.h"
#include "engine/framework/DisplayText.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundConnection.h"
#include "engine/framework/QuietClose.h"
#include "engine/framework/SocketRelay.h"
#include "foundation/Format.h"
#include "foundation/NVDataObject.h"
#include "proxies/pop3/POP3Format.h"

#include <string_view>

using namespace POP3Format;
using FrameworkFormat::kExitError;
using FrameworkFormat::kExitNormal;

IMPLEMENT_SERIAL(CPOP3Session, CTwoEndTCPSession, 1)

namespace {

void SendText(X1Socket& socket, std::string_view text) {
    socket.Send(text.data(), static_cast<int>(text.size()));
}

}  // namespace

CPOP3Session::CPOP3Session() { SetDescription(kDescriptionStart); }

CPOP3Session::CPOP3Session(int acceptedHandle, char delimiter)
    : CTwoEndTCPSession(acceptedHandle), m_delimiter(delimiter) {
    SetDescription(kDescriptionStart);
}

void CPOP3Session::SendAccessDenied() { AnswerAndClose(kAccessDenied); }

void CPOP3Session::GetValue(DWORD id, CNVDataObject& value) {
    if (id == RequestPOP3UserName)
        value.SetString(m_logon.user);
    else
        CTwoEndTCPSession::GetValue(id, value);
}

void CPOP3Session::Initialize() {
    if (CatchSocketFailure([&] { SendText(m_clientSocket, kGreeting); }))
        Terminate(kExitError);
}

// --- Notices ------------------------------------------------------------------------------

std::optional<SHandlerLines> CPOP3Session::GetNoticeLines(ENotice notice,
                                                          const X1Socket&) const {
    if (notice == ENotice::close)
        return SHandlerLines{kLogOnCloseSocket, kLogOnCloseUnknown};
    return SHandlerLines{kLogOnReadSocket, kLogOnReadUnknown};
}

void CPOP3Session::OnNoticeFailure(ENotice notice, X1Socket& socket,
                                   const SHandlerFailure& failure) {
    if (notice == ENotice::read && failure.IsSocket() && m_phase != EPhase::relaying)
        AnswerAndClose(FormatText(kFailed, SanitizeDisplayText(failure.text).c_str()));
    CTwoEndTCPSession::OnNoticeFailure(notice, socket, failure);
}

void CPOP3Session::OnRead(X1Socket& socket) {
    ResetIdleTimer();
    if (&socket == &m_clientSocket)
        OnClientRead();
    else if (&socket == &m_remoteSocket)
        OnServerRead();
}

void CPOP3Session::OnClose(X1Socket& socket) {
    if (&socket == &m_clientSocket) {
        if (m_phase == EPhase::relaying)
            RelayRemaining(m_clientSocket, m_remoteSocket, kRelayBufferSize);
        CloseQuietly(m_clientSocket);
        if (m_remoteSocket.IsConnected())
            CloseGracefullyQuietly(m_remoteSocket, kCloseDrainMs);
        Terminate(kExitError);
    } else if (&socket == &m_remoteSocket) {
        RelayRemaining(m_remoteSocket, m_clientSocket, kRelayBufferSize);
        CloseGracefullyQuietly(m_clientSocket, kCloseDrainMs);
        CloseQuietly(m_remoteSocket);
        Terminate(kExitNormal);
    }
}

// --- Client -------------------------------------------------------------------------------

void CPOP3Session::OnClientRead() {
    if (m_phase == EPhase::relaying) {
        RelayWaiting(m_clientSocket, m_remoteSocket, kRelayBufferSize);
        return;
    }
    // Until the server has the log-on, the client's bytes wait on its socket.
    if (m_phase == EPhase::serverGreeting)
        return;
    if (m_clientSocket.GetBytesAvailable() == 0)
        return;
    const std::optional<EPOP3Logon> outcome = ParseUser();
    if (!outcome)
        return;  // the client closed in the middle of its line
    switch (*outcome) {
    case EPOP3Logon::capability: SendText(m_clientSocket, kCapaReply); break;
    case EPOP3Logon::notUser:
        SendText(m_clientSocket, FormatText(kSendUserFirst, m_delimiter));
        break;
    case EPOP3Logon::badPort: SendText(m_clientSocket, kBadPort); break;
    case EPOP3Logon::quit:
        AnswerAndClose(kQuitReply);
        Terminate(kExitNormal);
        break;
    case EPOP3Logon::rejected:
        ErrorLine(kLogNonProxyRejected, m_logon.text);
        [[fallthrough]];
    case EPOP3Logon::badUser:
        AnswerAndClose(kBadUsername);
        Terminate(kExitError);
        break;
    case EPOP3Logon::connect: ConnectServer(); break;
    }
}

std::optional<EPOP3Logon> CPOP3Session::ParseUser() {
    std::string line;
    m_clientSocket.RecvLine(line, kLineTimeoutMs);
    // A line cut short by the client's close is dropped; one cut by the reader's bound is
    // longer than any log-on and refused as such.
    if (line.find('\n') == std::string::npos && line.size() <= kMaxLogonLine)
        return std::nullopt;
    SPOP3LogonSettings settings;
    settings.delimiter = m_delimiter;
    settings.connectMethod = GetUpstream().ConnectMethod;
    settings.nonProxyAction = GetNonProxyRequestAction();
    settings.nonProxyHost = GetNonProxyRequestHost();
    settings.nonProxyPort = GetNonProxyRequestPort();
    m_logon = ParsePOP3Logon(line, settings);
    if (m_logon.outcome == EPOP3Logon::connect) {
        SetDescription(m_logon.description);
        ReportStatus(m_logon.description);
        WriteAudit(LogFormat::kAuditRequest, "%s", "");
        WriteServiceLog(LogFormat::kLogRequest, "%s", "");
    }
    return m_logon.outcome;
}

void CPOP3Session::ConnectServer() {
    // Request filters that test the server see it in the access check.
    SetRemoteTarget(m_logon.host, m_logon.port);
    if (!CheckAccess(FALSE))
        return;  // refused: answered and ended
    CNorvaneEngine::Instance().CheckDialFirst(this);
    if (m_logon.piped) {
        // No server is named: the upstream POP3 proxy gets the log-on as it came.
        const COutboundSettings upstream = GetUpstream();
        COutboundConnection::ConnectDirect(m_remoteSocket, upstream.ProxyServer,
                                           upstream.ProxyPort);
    } else {
        ConnectRemote(m_remoteSocket, m_logon.host, m_logon.port);
    }
    m_remoteSocket.SetEventMask(FD_READ | FD_CLOSE);
    m_remoteSocket.StartAsyncSelect();
    m_phase = EPhase::serverGreeting;
}

// --- Server -------------------------------------------------------------------------------

void CPOP3Session::OnServerRead() {
    if (m_phase == EPhase::relaying) {
        RelayWaiting(m_remoteSocket, m_clientSocket, kRelayBufferSize);
        return;
    }
    if (m_remoteSocket.GetBytesAvailable() == 0)
        return;
    LogOnToServer();
}

void CPOP3Session::LogOnToServer() {
    std::string line;
    m_remoteSocket.RecvLine(line, kLineTimeoutMs);
    if (line.find('\n') == std::string::npos) {
        AnswerAndClose(kServerTooSlow);
        ErrorLine(kLogServerTooSlow, line);
        Terminate(kExitError);
        return;
    }
    if (line.starts_with(kPositive))
        SendText(m_remoteSocket, BuildServerUserLine(m_logon, GetUpstream().ConnectMethod));
    else
        SendText(m_clientSocket, line);
    m_phase = EPhase::relaying;
    // What the client sent after its log-on has waited for this.
    RelayWaiting(m_clientSocket, m_remoteSocket, kRelayBufferSize);
}

// --- Answers and lines --------------------------------------------------------------------

void CPOP3Session::AnswerAndClose(const std::string& text) {
    SendQuietly(m_clientSocket, text);
    CloseGracefullyQuietly(m_clientSocket, kCloseDrainMs);
}

void CPOP3Session::ErrorLine(const char* format, const std::string& text) {
    WriteServiceLog(LogFormat::kLogError, format, text.c_str());
}
