#include "engine/framework/UDPService.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/DatagramOutlet.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/QuietClose.h"
#include "engine/framework/UDPSession.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "platform/framework/Exception.h"

#include <memory>
#include <utility>
#include <vector>

using namespace FrameworkFormat;

IMPLEMENT_SERIAL(CUDPService, CService, 1)

CUDPService::CUDPService() { SetSessionCeilingBound(kMaxUDPSessions); }

CUDPService::CUDPService(UINT port, std::string name, std::string description, BOOL critical)
    : CService(port, std::move(name), std::move(description), critical) {
    SetSessionCeilingBound(kMaxUDPSessions);
}

CUDPService::~CUDPService() = default;

// --- Thread ---------------------------------------------------------------------------------

bool CUDPService::StartThread() {
    if (HasStarted())
        return !HasEnded();
    m_bAutoDelete = true;
    AddRef();  // the thread's own
    if (CreateThread())
        return true;
    m_bAutoDelete = false;
    Release();
    return false;
}

void CUDPService::StartIfEnabled() { StartThread(); }

void CUDPService::StopAndDelete() {
    if (HasStarted())
        PostThreadMessage(WM_QUIT, 0, 0);
    Release();
}

bool CUDPService::InitInstance() {
    CNorvaneEngine::Instance().GetThreadRoster().Enter(*this);
    try {
        m_ownerWait = std::make_unique<X1SocketOwnerWait>();
        OnServiceThreadStart();
        if (GetEnabled())
            StartOnThread();
    } catch (...) {
        DropCurrentException();
    }
    return true;
}

int CUDPService::Run() {
    for (;;) {
        try {
            if (!PumpMessage())
                return ExitInstance();
        } catch (CException* e) {
            e->Delete();
            WriteLog(LogFormat::kLogError, "%s", kUDPRunIgnoring);
        } catch (...) {
            WriteLog(LogFormat::kLogError, "%s", kUDPRunIgnoring);
        }
    }
}

int CUDPService::ExitInstance() {
    try {
        StopOnThread();
        OnServiceThreadEnd();
    } catch (...) {
        DropCurrentException();
    }
    // The sessions still here end with the service (their machines hold them too).
    std::map<DWORD, CRef<CUDPSession>> sessions;
    {
        CMutexLock lock(m_sessionsMutex);
        sessions.swap(m_sessions);
    }
    for (auto& entry : sessions) {
        try {
            entry.second->Terminate(kExitNormal);
        } catch (...) {
            DropCurrentException();
        }
    }
    m_ownerWait.reset();
    return 0;
}

void CUDPService::OnThreadMessage(const ThreadMessage& msg) {
    if (msg.message == X1SocketNotifyWindow::kSocketRead)
        OnDatagram(static_cast<int>(msg.wParam));
    else if (msg.message == kHostLookupMessage)
        OnHostLookupResult(msg.wParam, msg.lParam);
}

// --- Start and stop -------------------------------------------------------------------------

void CUDPService::Start() {
    if (IsServiceThread()) {
        StartOnThread();
        return;
    }
    if (!HasStarted()) {
        // Its start-up starts the socket when Enabled; a call queued behind it tells when.
        if (StartThread())
            RunOnServiceThread(nullptr);
        return;
    }
    RunOnServiceThread(&CUDPService::StartOnThread);
}

void CUDPService::Stop() {
    if (IsServiceThread() || !HasStarted() || HasEnded()) {
        StopOnThread();
        return;
    }
    RunOnServiceThread(&CUDPService::StopOnThread);
}

void CUDPService::RunOnServiceThread(void (CUDPService::*step)()) {
    CRef<CUDPService> self(this);
    auto done = std::make_shared<CEvent>(true, false);
    if (PostThreadCall(ThreadId(), [self, step, done] {
            if (step != nullptr)
                (self.Get()->*step)();
            done->Set();
        }))
        done->Wait(kServiceControlWaitMs);
}

void CUDPService::StartOnThread() {
    CMutexLock run(RunMutex());
    if (!GetEnabled() || GetRunState() == kRunning)
        return;
    try {
        m_socket.SetCallback(nullptr, nullptr);
        m_socket.Create(NET_SOCK_DGRAM);
        m_socket.SetEventMask(FD_READ | FD_WRITE);
        m_socket.StartAsyncSelect();
        if (GetCriticalService()) {
            try {
                m_socket.SetReuseAddress(true);
            } catch (X1SocketException* e) {
                e->Delete();
                WriteLog(LogFormat::kLogError, kReuseAddressFailed, GetDescription().c_str());
            }
        }
        BindServiceSocket();
        FitSessionCeiling();
        RememberListeningPort(m_socket.GetLocalPort(), OutboundTransport::Udp);
        {
            std::lock_guard<std::mutex> lock(m_outletMutex);
            m_outlet = std::make_shared<CDatagramOutlet>(m_socket.GetHandle());
        }
        SetRunState(kRunning);
        WriteLog(LogFormat::kLogServiceEvent, "%s", kServiceStarted);
    } catch (X1SocketException* e) {
        const std::string text = e->GetErrorText();
        e->Delete();
        CloseQuietly(m_socket);
        SetRunState(kStartFailed);
        WriteLog(LogFormat::kLogError, kServiceFailedStartup, text.c_str());
    }
}

void CUDPService::StopOnThread() {
    std::shared_ptr<CDatagramOutlet> outlet;
    {
        std::lock_guard<std::mutex> lock(m_outletMutex);
        outlet.swap(m_outlet);
    }
    if (outlet)
        outlet->Revoke();  // before the descriptor can be closed and reused
    StopListening();
}

std::shared_ptr<CDatagramOutlet> CUDPService::GetOutlet() const {
    std::lock_guard<std::mutex> lock(m_outletMutex);
    return m_outlet;
}

// --- Sessions -------------------------------------------------------------------------------

void CUDPService::AddSession(CUDPSession* session) {
    if (session == nullptr)
        return;
    CRef<CUDPSession> replaced;
    {
        CMutexLock lock(m_sessionsMutex);
        CRef<CUDPSession>& entry = m_sessions[session->GetKey()];
        replaced = std::move(entry);
        entry = CRef<CUDPSession>(session);
    }
}

void CUDPService::RemoveSession(CUDPSession* session) {
    if (session == nullptr)
        return;
    CRef<CUDPSession> removed;
    {
        CMutexLock lock(m_sessionsMutex);
        auto it = m_sessions.find(session->GetKey());
        if (it == m_sessions.end() || it->second.Get() != session)
            return;
        removed = std::move(it->second);
        m_sessions.erase(it);
    }
}

CUDPSession* CUDPService::FindSession(DWORD key) {
    CMutexLock lock(m_sessionsMutex);
    auto it = m_sessions.find(key);
    return it == m_sessions.end() ? nullptr : it->second.Get();
}

CRef<CUDPSession> CUDPService::FindSessionRef(DWORD key) {
    CMutexLock lock(m_sessionsMutex);
    auto it = m_sessions.find(key);
    return it == m_sessions.end() ? CRef<CUDPSession>() : it->second;
}

std::size_t CUDPService::GetSessionCount() const {
    CMutexLock lock(m_sessionsMutex);
    return m_sessions.size();
}

void CUDPService::ScheduleRemoveSession(CUDPSession* session) {
    if (session == nullptr)
        return;
    if (IsServiceThread() || !HasStarted()) {
        RemoveSession(session);
        return;
    }
    CRef<CUDPService> self(this);
    CRef<CUDPSession> held(session);
    // When the thread has ended its map was emptied at its end: nothing is left to remove.
    PostThreadCall(ThreadId(), [self, held] { self->RemoveSession(held.Get()); });
}
