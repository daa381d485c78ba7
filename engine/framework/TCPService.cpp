#include "engine/framework/TCPService.h"

#include "engine/LogFormat.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/QuietClose.h"
#include "engine/framework/Session.h"
#include "engine/framework/TwoEndTCPSession.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "platform/framework/Exception.h"
#include "platform/net/Sockets.h"

using namespace FrameworkFormat;

IMPLEMENT_SERIAL(CTCPService, CService, 1)

CTCPService::CTCPService() = default;

CTCPService::CTCPService(UINT port, std::string name, std::string description, BOOL critical)
    : CService(port, std::move(name), std::move(description), critical) {}

CTCPService::~CTCPService() {
    CloseQuietly(m_socket);  // waits for an accept callback in progress
    ForgetListeningPort();
}

// --- Start and stop -------------------------------------------------------------------------

void CTCPService::Start() {
    CMutexLock run(RunMutex());
    if (!GetEnabled() || GetRunState() == kRunning)
        return;
    try {
        m_socket.SetCallback(&CTCPServiceSocketCallback, this);
        m_socket.Create(NET_SOCK_STREAM);
        m_socket.SetEventMask(FD_ACCEPT);
        m_socket.StartAsyncSelect();
        if (GetCriticalService())
            m_socket.SetReuseAddress(true);
        BindServiceSocket();
        m_socket.Listen(kListenBacklog);
        FitSessionCeiling();
        RememberListeningPort(m_socket.GetLocalPort(), OutboundTransport::Tcp);
        SetRunState(kRunning);
        WriteLog(LogFormat::kLogServiceEvent, "%s", kServiceStarted);
    } catch (X1SocketException* e) {
        const std::string text = e->GetErrorText();
        e->Delete();
        WriteLog(LogFormat::kLogError, kServiceFailedStartup, text.c_str());
        Stop();
        SetRunState(kStartFailed);
    }
}

void CTCPService::Stop() { StopListening(); }

void CTCPService::StartIfEnabled() {
    if (GetEnabled())
        Start();
}

void CTCPService::StopAndDelete() {
    Stop();
    Release();
}

// --- Accepting ------------------------------------------------------------------------------

void CTCPServiceSocketCallback(void* userData, X1Socket* socket, unsigned event) {
    if (event != FD_ACCEPT || userData == nullptr || socket == nullptr)
        return;
    static_cast<CTCPService*>(userData)->AcceptConnection(*socket);
}

CSession* CTCPService::CreateSession(int) { return nullptr; }

void CTCPService::AcceptConnection(X1Socket& listener) {
    for (int taken = 0; taken < kAcceptsPerNotice; ++taken) {
        if (!AcceptOne(listener))
            return;
    }
}

bool CTCPService::AcceptOne(X1Socket& listener) {
    int handle;
    try {
        handle = listener.TryAccept();
    } catch (X1SocketException* e) {
        e->Delete();  // the listener failed: the next notice tries again
        return false;
    }
    if (handle == INVALID_SOCKET_HANDLE)
        return false;  // nothing pending any more
    NetAddress peer;
    std::shared_ptr<void> place;
    if (NetGetPeerAddress(handle, &peer))
        place = TakeSessionPlace(peer.address);
    if (!place) {
        NetClose(handle);  // refused (or gone already): closed at once
        return true;
    }
    CSession* session = nullptr;
    try {
        session = CreateSession(handle);
        if (session == nullptr) {
            NetClose(handle);
            return true;
        }
        // From here the session owns the handle (and closes it if it never runs), and its
        // place among the live sessions.
        session->HoldWhileAlive(std::move(place));
        session->SetService(*this);
        session->SetAccessRights(*this);
        session->SetLogging(*this);
        const Settings settings = GetSettings();
        session->SetSessionTimeout(settings.timeOutSessions, settings.sessionTimeout);
        if (auto* twoEnded = dynamic_cast<CTwoEndTCPSession*>(session))
            twoEnded->SetUpstream(GetUpstream());
        session->StartSession();
    } catch (CException* e) {
        e->Delete();
        WriteLog(LogFormat::kLogError, "%s", kAcceptCallbackException);
    } catch (...) {
        WriteLog(LogFormat::kLogError, "%s", kAcceptCallbackException);
    }
    if (session == nullptr) {
        NetClose(handle);  // CreateSession failed: nobody took the connection
        return true;
    }
    // The creator's reference; a started session's thread holds its own.
    session->Release();
    return true;
}

// --- Settings, registry and archive ---------------------------------------------------------

COutboundSettings CTCPService::GetUpstream() const {
    CMutexLock lock(SettingsMutex());
    return m_upstream;
}

void CTCPService::SetUpstream(const COutboundSettings& upstream) {
    CMutexLock lock(SettingsMutex());
    m_upstream = upstream;
}

BOOL CTCPService::SaveToRegistry(const std::string& keyPath) const {
    CMutexLock lock(SettingsMutex());
    bool ok = CService::SaveToRegistry(keyPath) != FALSE;
    ok &= RegWriteDWORD(keyPath, kConnectMethod, m_upstream.ConnectMethod) != FALSE;
    ok &= RegWriteString(keyPath, kProxyServer, m_upstream.ProxyServer) != FALSE;
    ok &= RegWriteDWORD(keyPath, kProxyPort, m_upstream.ProxyPort) != FALSE;
    ok &= RegWriteString(keyPath, kSOCKS4Password, m_upstream.SOCKS4Password) != FALSE;
    return ok ? TRUE : FALSE;
}

void CTCPService::LoadFromRegistry(const std::string& keyPath) {
    CMutexLock lock(SettingsMutex());
    CService::LoadFromRegistry(keyPath);
    m_upstream.ConnectMethod = RegReadDWORD(keyPath, kConnectMethod, 0);
    m_upstream.ProxyServer = RegReadString(keyPath, kProxyServer, "");
    m_upstream.ProxyPort = RegReadDWORD(keyPath, kProxyPort, 0);
    m_upstream.SOCKS4Password = RegReadString(keyPath, kSOCKS4Password, "");
}

void CTCPService::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        StoreTCPRecord(ar);
        return;
    }
    TCPRecord record = ReadTCPRecord(ar);
    ApplyTCPRecord(record);
}

void CTCPService::StoreTCPRecord(CArchive& ar) {
    CMutexLock lock(SettingsMutex());
    StoreRecord(ar);
    ar << m_upstream.ConnectMethod << m_upstream.ProxyServer << m_upstream.ProxyPort
       << m_upstream.SOCKS4Password;
}

CTCPService::TCPRecord CTCPService::ReadTCPRecord(CArchive& ar) const {
    TCPRecord record;
    record.base = ReadRecord(ar);
    COutboundSettings& upstream = record.upstream;
    ar >> upstream.ConnectMethod >> upstream.ProxyServer >> upstream.ProxyPort >>
        upstream.SOCKS4Password;
    return record;
}

void CTCPService::ApplyTCPRecord(TCPRecord& record) {
    CMutexLock lock(SettingsMutex());
    ApplyRecord(*record.base);
    m_upstream = std::move(record.upstream);
}
