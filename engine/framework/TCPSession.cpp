#include "engine/framework/TCPSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Machine.h"
#include "engine/framework/OutboundTargetGuard.h"
#include "engine/framework/QuietClose.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "platform/framework/Exception.h"
#include "platform/net/Sockets.h"

#include <algorithm>
#include <memory>

using namespace FrameworkFormat;

IMPLEMENT_SERIAL(CTCPSession, CSession, 1)

CTCPSession::CTCPSession() : m_acceptedHandle(INVALID_SOCKET_HANDLE) {
    WatchSocket(m_clientSocket);
}

CTCPSession::CTCPSession(int acceptedHandle) : m_acceptedHandle(acceptedHandle) {
    WatchSocket(m_clientSocket);
}

CTCPSession::~CTCPSession() {
    const int handle = m_acceptedHandle.exchange(INVALID_SOCKET_HANDLE);
    if (handle != INVALID_SOCKET_HANDLE)
        NetClose(handle);
}

void CTCPSession::StartSession() {
    try {
        CSession::StartSession();
        m_bAutoDelete = true;
        AddRef();  // the thread's own
        if (!CreateThread()) {
            m_bAutoDelete = false;
            // A handed-over session is on its machine already: it leaves it here.
            if (GetMachine())
                Terminate(kExitError);
            Release();
        }
    } catch (...) {
        DropCurrentException();
    }
}

bool CTCPSession::InitInstance() {
    bool started = false;
    const std::optional<SHandlerFailure> failure =
        RunGuarded(GetInitErrorTexts(), [&] { started = StartOnThread(); });
    if (!failure)
        return started;
    if (failure->IsSocket())
        CloseQuietly(m_clientSocket);
    Terminate(kExitError);
    return false;
}

bool CTCPSession::StartOnThread() {
    CNorvaneEngine& engine = CNorvaneEngine::Instance();
    engine.GetThreadRoster().Enter(*this);
    m_ownerWait = std::make_unique<X1SocketOwnerWait>();
    m_clientSocket.Attach(m_acceptedHandle.exchange(INVALID_SOCKET_HANDLE));
    if (GetTerminateCount() != 0) {
        // Ended before its thread ran (a handed-over session its machine let go).
        m_clientSocket.Close();
        return false;
    }
    std::string peerAddress;
    UINT peerPort = 0;
    m_clientSocket.GetPeer(peerAddress, peerPort);
    SetClientAddress(peerAddress, peerPort);
    BeforeAdmission();
    // A handed-over session was admitted by the hand-over and is announced here once; any
    // other is announced when its first admission gives it a number.
    const bool announce = WasHandedOver() || GetSessionId() == 0;
    if (!WasHandedOver() && !engine.RegisterSession(this)) {
        // Refused (the engine is shutting down): the session ends unadmitted.
        m_clientSocket.Close();
        Terminate(kExitError);
        return false;
    }
    AfterAdmission();
    if (announce)
        engine.NotifySessionStarted(GetClientAddress(), GetSessionId(), GetDescription());
    WriteAudit(LogFormat::kAuditSessionCreated, "%s", "");
    WriteServiceLog(LogFormat::kLogSessionCreated, "%s", "");
    StartProtocol();
    return true;
}

void CTCPSession::StartProtocol() {
    if (CheckAccess(TRUE)) {
        Initialize();
        m_clientSocket.SelectEvents(FD_READ | FD_WRITE | FD_CLOSE);
    }
}

CTCPSession::InitErrorTexts CTCPSession::GetInitErrorTexts() const {
    return {kTCPInitSocketException, kTCPInitUnknownException};
}

std::optional<SHandlerFailure> CTCPSession::RunGuarded(const SHandlerLines& lines,
                                                       const std::function<void()>& handler) {
    return ::RunGuarded(*this, lines, handler);
}

std::optional<SHandlerLines> CTCPSession::GetNoticeLines(ENotice, const X1Socket&) const {
    return std::nullopt;
}

void CTCPSession::OnNoticeFailure(ENotice, X1Socket&, const SHandlerFailure&) {
    Finish(kExitError);
}

void CTCPSession::Finish(int code) { Terminate(code); }

int CTCPSession::Run() {
    for (;;) {
        try {
            if (!PumpMessage()) {
                m_exitReason = static_cast<int>(m_msgCur.wParam);
                return ExitInstance();
            }
        } catch (CException* e) {
            e->Delete();
            WriteServiceLog(LogFormat::kLogError, "%s", kTCPRunException);
            return ExitInstance();
        } catch (...) {
            WriteServiceLog(LogFormat::kLogError, "%s", kTCPRunException);
            return ExitInstance();
        }
    }
}

int CTCPSession::ExitInstance() {
    try {
        OnEnd();
    } catch (...) {
        DropCurrentException();
    }
    return 0;
}

void CTCPSession::OnThreadMessage(const ThreadMessage& msg) {
    switch (msg.message) {
    case kIdleCheckMessage: OnIdleCheck(); break;
    case X1SocketNotifyWindow::kSocketAccept:
    case X1SocketNotifyWindow::kSocketRead:
    case X1SocketNotifyWindow::kSocketWrite:
    case X1SocketNotifyWindow::kSocketClose:
        HandleSocketNotice(msg.message, static_cast<int>(msg.wParam));
        break;
    default: break;
    }
}

void CTCPSession::HandleSocketNotice(UINT message, int handle) {
    // A session that is ending (from this thread or another: an idle time-out, its machine
    // deleted) has its end lines written and its traffic booked, or is about to: nothing more
    // happens on its behalf, even for notices still queued.
    if (IsEnding())
        return;
    X1Socket* socket = FindWatchedSocket(handle);
    if (socket == nullptr)
        return;
    switch (message) {
    case X1SocketNotifyWindow::kSocketAccept: DispatchNotice(ENotice::accept, *socket); break;
    case X1SocketNotifyWindow::kSocketRead: DispatchNotice(ENotice::read, *socket); break;
    case X1SocketNotifyWindow::kSocketWrite: DispatchNotice(ENotice::write, *socket); break;
    case X1SocketNotifyWindow::kSocketClose: DispatchNotice(ENotice::close, *socket); break;
    default: break;
    }
}

void CTCPSession::DispatchNotice(ENotice notice, X1Socket& socket) {
    const auto handle = [&] {
        switch (notice) {
        case ENotice::accept: OnAccept(socket); break;
        case ENotice::read: OnRead(socket); break;
        case ENotice::write: OnWrite(socket); break;
        case ENotice::close: OnClose(socket); break;
        }
    };
    const std::optional<SHandlerLines> lines = GetNoticeLines(notice, socket);
    if (!lines) {
        handle();
        return;
    }
    if (const std::optional<SHandlerFailure> failure = RunGuarded(*lines, handle))
        OnNoticeFailure(notice, socket, *failure);
}

void CTCPSession::OnAccept(X1Socket&) {}
void CTCPSession::OnRead(X1Socket&) {}
void CTCPSession::OnWrite(X1Socket&) {}
void CTCPSession::OnClose(X1Socket&) {}

void CTCPSession::OnIdleCheck() { CheckIdleTimeout(); }

void CTCPSession::EndSession(int code) {
    LogEnd(code);
    // Ended by another thread (a console's Terminate, the idle time-out, a machine deleted),
    // the session's thread may be waiting in a send, a connect or a blocking read: its sockets
    // are shut down from here, so that the wait fails at once and the thread gets to its quit.
    if (GetCurrentThreadId() != ThreadId())
        InterruptSockets();
    PostThreadMessage(WM_QUIT, static_cast<std::uintptr_t>(code), 0);
}

void CTCPSession::InterruptSockets() {
    for (X1Socket* socket : m_watched)
        socket->Interrupt();
}

void CTCPSession::Delete() {
    try {
        if (GetTerminateCount() == 0)
            Terminate(m_exitReason);
    } catch (...) {
        DropCurrentException();
    }
    CloseSockets();
    m_ownerWait.reset();
    Release();
}

void CTCPSession::CloseSockets() {
    for (auto it = m_watched.rbegin(); it != m_watched.rend(); ++it)
        CloseQuietly(**it);
}

std::uint64_t CTCPSession::GetActivityCount() const {
    std::uint64_t count = 0;
    for (const X1Socket* socket : m_watched)
        count += std::uint64_t{socket->GetBytesSent()} + socket->GetBytesReceived();
    return count;
}

void CTCPSession::WatchSocket(X1Socket& socket) {
    if (!IsWatched(socket))
        m_watched.push_back(&socket);
}

bool CTCPSession::IsWatched(const X1Socket& socket) const {
    return std::find(m_watched.begin(), m_watched.end(), &socket) != m_watched.end();
}

X1Socket* CTCPSession::FindWatchedSocket(int handle) const {
    if (handle == INVALID_SOCKET_HANDLE)
        return nullptr;
    for (X1Socket* socket : m_watched) {
        if (socket->GetHandle() == handle)
            return socket;
    }
    return nullptr;
}

void CTCPSession::OpenListener(X1Socket& socket, UINT port, const std::string& address,
                               int backlog) {
    OpenGuardedSocket(socket, NET_SOCK_STREAM, port, address, backlog);
}

void CTCPSession::OpenDatagramSocket(X1Socket& socket, UINT port, const std::string& address) {
    OpenGuardedSocket(socket, NET_SOCK_DGRAM, port, address);
}

BOOL CTCPSession::IsOwnAddress(const std::string& text) {
    const std::string local = m_clientSocket.GetConnectedLocalAddress();
    return !local.empty() && local == text ? TRUE : FALSE;
}
