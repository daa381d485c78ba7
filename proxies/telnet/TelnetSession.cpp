#include "proxies/telnet/TelnetSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/QuietClose.h"
#include "engine/framework/SocketRelay.h"
#include "foundation/Format.h"
#include "proxies/telnet/TelnetFormat.h"

#include <algorithm>

using namespace TelnetFormat;
using FrameworkFormat::kExitError;
using FrameworkFormat::kExitNormal;

IMPLEMENT_SERIAL(CTelnetSession, CTwoEndTCPSession, 1)

CTelnetSession::CTelnetSession() {
    SetDescription(kDescriptionStart);
    SetRemoteTarget("", kTelnetPort);
}

CTelnetSession::CTelnetSession(int acceptedHandle) : CTwoEndTCPSession(acceptedHandle) {
    SetDescription(kDescriptionStart);
    SetRemoteTarget("", kTelnetPort);
}

void CTelnetSession::SendAccessDenied() {
    SendQuietly(m_clientSocket, kAccessDenied);
    CloseGracefullyQuietly(m_clientSocket, kCloseDrainMs);
}

void CTelnetSession::Initialize() {
    std::string greeting(std::begin(kGreeting), std::end(kGreeting));
    m_command.SendPrompt(greeting);
    SendToClient(greeting);
}

// --- Notices ------------------------------------------------------------------------------

std::optional<SHandlerLines> CTelnetSession::GetNoticeLines(ENotice notice,
                                                            const X1Socket&) const {
    if (notice == ENotice::close)
        return SHandlerLines{kLogOnCloseSocket, kLogOnCloseUnknown};
    return SHandlerLines{kLogOnReadSocket, kLogOnReadUnknown};
}

void CTelnetSession::OnRead(X1Socket& socket) {
    ResetIdleTimer();
    if (&socket == &m_clientSocket)
        OnClientRead();
    else if (&socket == &m_remoteSocket)
        RelayWaiting(m_remoteSocket, m_clientSocket, kRelayBufferSize);
}

void CTelnetSession::OnClose(X1Socket& socket) {
    if (&socket == &m_clientSocket) {
        char buffer[kRelayBufferSize];
        int received;
        while (m_phase == EPhase::relaying &&
               (received = m_clientSocket.Receive(buffer, sizeof buffer)) > 0)
            RelayToRemote(buffer, static_cast<std::size_t>(received));
        CloseQuietly(m_clientSocket);
        if (m_remoteSocket.IsConnected())
            CloseGracefullyQuietly(m_remoteSocket, kCloseDrainMs);
        Terminate(kExitNormal);
    } else if (&socket == &m_remoteSocket) {
        RelayRemaining(m_remoteSocket, m_clientSocket, kRelayBufferSize);
        SendToClient(kTerminatedByRemote);
        CloseGracefullyQuietly(m_clientSocket, kCloseDrainMs);
        CloseQuietly(m_remoteSocket);
        Terminate(kExitNormal);
    }
}

void CTelnetSession::OnClientRead() {
    char buffer[kRelayBufferSize];
    const int received = m_clientSocket.Receive(buffer, sizeof buffer);
    if (received <= 0)
        return;
    const auto count = static_cast<std::size_t>(received);
    std::size_t used = 0;
    std::string answers;
    while (m_phase == EPhase::command && used < count) {
        if (!m_command.Feed(static_cast<BYTE>(buffer[used++]), answers))
            continue;
        SendToClient(answers);
        answers.clear();
        ProcessConnectRequest(m_command.TakeCommandLine());
        if (GetTerminateCount() != 0)
            return;
    }
    SendToClient(answers);
    // What the client typed behind the line that joined belongs to the host.
    if (m_phase == EPhase::relaying && used < count)
        RelayToRemote(buffer + used, count - used);
}

// --- Joining --------------------------------------------------------------------------------

void CTelnetSession::ProcessConnectRequest(const std::string& line) {
    const STelnetTarget target = ParseTelnetTarget(line);
    if (!target.portValid) {
        SendToClient(kBadPort);
        SendPromptToClient();
        return;
    }
    const std::string description =
        target.port == kTelnetPort
            ? FormatText(kDescriptionHost, target.host.c_str())
            : FormatText(kDescriptionHostPort, target.host.c_str(), target.port);
    SetDescription(description);
    ReportStatus(description);
    WriteAudit(LogFormat::kAuditRequest, "%s", "");
    WriteServiceLog(LogFormat::kLogRequest, "%s", "");
    if (IsQuitCommand(target.host)) {
        CloseGracefullyQuietly(m_clientSocket, kCloseDrainMs);
        Terminate(kExitNormal);
        return;
    }
    // Request filters that test the server see it in the access check.
    SetRemoteTarget(target.host, target.port);
    if (!CheckAccess(FALSE))
        return;  // refused: answered and ended
    const std::optional<SHandlerFailure> failure = CatchSocketFailure([&] {
        SendToClient(FormatText(kConnecting, target.host.c_str()));
        CNorvaneEngine::Instance().CheckDialFirst(this);
        ConnectRemote(m_remoteSocket, target.host, target.port);
        SendToClient(kConnected);
        m_remoteSocket.SetEventMask(FD_READ | FD_CLOSE);
        m_remoteSocket.StartAsyncSelect();
        ReplayOptions();
    });
    if (failure) {
        // The user may try another host; the failed connection goes now.
        CloseQuietly(m_remoteSocket);
        SendToClient(FormatText(kFailure, failure->text.c_str()));
        WriteServiceLog(LogFormat::kLogError, kLogConnectFailed, failure->text.c_str());
        SendPromptToClient();
        return;
    }
    m_phase = EPhase::relaying;
    m_command.SetEcho(false);
}

void CTelnetSession::ReplayOptions() {
    if (GetRemotePort() != kTelnetPort)
        return;
    const std::string replay = m_command.GetReplay();
    if (!replay.empty())
        m_remoteSocket.Send(replay.data(), static_cast<int>(replay.size()));
}

// --- Bytes ----------------------------------------------------------------------------------

void CTelnetSession::RelayToRemote(char* bytes, std::size_t count) {
    if (GetRemotePort() != kTelnetPort)
        std::replace(bytes, bytes + count, static_cast<char>(kNul), static_cast<char>(kLineFeed));
    m_remoteSocket.Send(bytes, static_cast<int>(count));
}

void CTelnetSession::SendToClient(std::string_view bytes) {
    if (!bytes.empty())
        m_clientSocket.Send(bytes.data(), static_cast<int>(bytes.size()));
}

void CTelnetSession::SendPromptToClient() {
    std::string prompt;
    m_command.SendPrompt(prompt);
    SendToClient(prompt);
}
