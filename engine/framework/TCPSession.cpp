#include "engine/framework/TCPSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/QuietClose.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "platform/framework/Exception.h"
#include "platform/net/Sockets.h"

using namespace FrameworkFormat;

IMPLEMENT_SERIAL(CTCPSession, CSession, 1)

CTCPSession::CTCPSession() : m_acceptedHandle(INVALID_SOCKET_HANDLE) {}

CTCPSession::CTCPSession(int acceptedHandle) : m_acceptedHandle(acceptedHandle) {}

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
            Release();
        }
    } catch (...) {
        DropCurrentException();
    }
}

bool CTCPSession::InitInstance() {
    CNorvaneEngine& engine = CNorvaneEngine::Instance();
    try {
        engine.GetThreadRoster().Enter(*this);
        m_clientSocket.Attach(m_acceptedHandle.exchange(INVALID_SOCKET_HANDLE));
        SetClientAddress(m_clientSocket.GetPeerAddress(), m_clientSocket.GetPeerPort());
        m_localAddress = m_clientSocket.GetLocalAddress();
        const bool firstAdmission = GetSessionId() == 0;
        if (!engine.RegisterSession(this)) {
            // Refused (the engine is shutting down): the session ends unadmitted.
            m_clientSocket.Close();
            Terminate(kExitError);
            return false;
        }
        if (firstAdmission)
            engine.NotifySessionStarted(GetClientAddress(), GetSessionId(), GetDescription());
        WriteAudit(LogFormat::kAuditSessionCreated, "%s", "");
        WriteServiceLog(LogFormat::kLogSessionCreated, "%s", "");
        if (CheckAccess(TRUE)) {
            Initialize();
            m_clientSocket.SetEventMask(FD_READ | FD_WRITE | FD_CLOSE);
            m_clientSocket.StartAsyncSelect();
        }
        return true;
    } catch (X1SocketException* e) {
        CloseQuietly(m_clientSocket);
        WriteServiceLog(LogFormat::kLogError, kTCPInitSocketException, e->GetErrorText().c_str());
        e->Delete();
        Terminate(kExitError);
        return false;
    } catch (...) {
        DropCurrentException();
    }
    WriteServiceLog(LogFormat::kLogError, "%s", kTCPInitUnknownException);
    Terminate(kExitError);
    return false;
}

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
    case X1SocketNotifyWindow::kSocketAccept: OnAccept(); break;
    case X1SocketNotifyWindow::kSocketRead: OnRead(); break;
    case X1SocketNotifyWindow::kSocketWrite: OnWrite(); break;
    case X1SocketNotifyWindow::kSocketClose: OnClose(); break;
    default: break;
    }
}

void CTCPSession::OnIdleCheck() { CheckIdleTimeout(); }

void CTCPSession::EndSession(int code) {
    LogEnd(code);
    PostThreadMessage(WM_QUIT, static_cast<std::uintptr_t>(code), 0);
}

void CTCPSession::Delete() {
    try {
        if (GetTerminateCount() == 0)
            Terminate(m_exitReason);
    } catch (...) {
        DropCurrentException();
    }
    CloseSockets();
    Release();
}

void CTCPSession::CloseSockets() {
    CloseQuietly(m_clientSocket);
}

BOOL CTCPSession::IsOwnAddress(const std::string& text) {
    if (!m_clientSocket.IsConnected())
        return FALSE;
    if (m_localAddress.empty())
        m_localAddress = m_clientSocket.GetLocalAddress();
    return m_localAddress == text ? TRUE : FALSE;
}
