#include "proxies/mapping/UDPMappingService.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/AccessStore.h"
#include "engine/framework/FrameworkFormat.h"
#include "foundation/Archive.h"
#include "foundation/Format.h"
#include "platform/framework/Exception.h"
#include "platform/net/Resolver.h"
#include "platform/net/SocketErrors.h"
#include "proxies/mapping/UDPMappingSession.h"

#include <utility>
#include <vector>

using namespace MappingFormat;

IMPLEMENT_SERIAL(CUDPMappingService, CUDPService, 1)

namespace {

constexpr int kBufferSize = static_cast<int>(kDatagramBufferSize);

// A datagram longer than the buffer: consumed by the receive, which throws 10040.
bool IsTooLong(const X1SocketException& e) { return e.GetErrorCode() == WSAEMSGSIZE; }

}  // namespace

CUDPMappingService::CUDPMappingService()
    : CUDPService(0, kUDPMappingServiceName, kUDPMappingServiceName, FALSE),
      m_mappings(CRef<CMappings>::Adopt(new CMappings)) {
    SetServiceKind(FrameworkFormat::kKindMapping);
}

CUDPMappingService::~CUDPMappingService() = default;

// --- Configuration --------------------------------------------------------------------------

void CUDPMappingService::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CMutexLock lock(SettingsMutex());
        StoreRecord(ar);
        m_mappings->Serialize(ar);
        return;
    }
    std::unique_ptr<Record> record = ReadRecord(ar);
    auto mappings = CRef<CMappings>::Adopt(new CMappings);
    mappings->Serialize(ar);
    CMutexLock lock(SettingsMutex());
    ApplyRecord(*record);
    m_mappings = std::move(mappings);
}

BOOL CUDPMappingService::SaveToRegistry(const std::string& keyPath) const {
    const BOOL ok = CUDPService::SaveToRegistry(keyPath);
    return GetMappings()->SaveToRegistry(SubKeyPath(keyPath, kMappingsKey)) && ok;
}

void CUDPMappingService::LoadFromRegistry(const std::string& keyPath) {
    CUDPService::LoadFromRegistry(keyPath);
    auto mappings = CRef<CMappings>::Adopt(new CMappings);
    mappings->LoadFromRegistry(SubKeyPath(keyPath, kMappingsKey));
    SetMappings(std::move(mappings));
}

CRef<CMappings> CUDPMappingService::GetMappings() const {
    CMutexLock lock(SettingsMutex());
    return m_mappings;
}

void CUDPMappingService::SetMappings(CRef<CMappings> mappings) {
    if (!mappings)
        return;
    CMutexLock lock(SettingsMutex());
    m_mappings = std::move(mappings);
}

// --- Sessions -------------------------------------------------------------------------------

void CUDPMappingService::AddSession(CUDPSession* session) {
    auto* mapping = dynamic_cast<CUDPMappingSession*>(session);
    if (mapping == nullptr)
        return;
    CMutexLock lock(m_clientsMutex);
    m_clients[mapping->GetClientKey()] = CRef<CUDPMappingSession>(mapping);
    CUDPService::AddSession(session);
}

void CUDPMappingService::RemoveSession(CUDPSession* session) {
    auto* mapping = dynamic_cast<CUDPMappingSession*>(session);
    if (mapping == nullptr)
        return;
    CRef<CUDPMappingSession> held(mapping);
    CRef<CUDPMappingSession> removed;
    {
        CMutexLock lock(m_clientsMutex);
        auto it = m_clients.find(mapping->GetClientKey());
        if (it != m_clients.end() && it->second.Get() == mapping) {
            removed = std::move(it->second);
            m_clients.erase(it);
        }
        CUDPService::RemoveSession(session);
    }
    // Only now that no map names its handle may the descriptor go back to the system.
    mapping->CloseSocket();
}

std::size_t CUDPMappingService::GetClientCount() const {
    CMutexLock lock(m_clientsMutex);
    return m_clients.size();
}

int CUDPMappingService::ExitInstance() {
    const int code = CUDPService::ExitInstance();
    std::unordered_map<std::string, CRef<CUDPMappingSession>> left;
    {
        CMutexLock lock(m_clientsMutex);
        left.swap(m_clients);
    }
    for (auto& entry : left)
        entry.second->CloseSocket();
    return code;
}

// --- Datagrams ------------------------------------------------------------------------------

void CUDPMappingService::OnDatagram(int socketHandle) {
    try {
        if (socketHandle == GetSocket().GetHandle())
            OnClientDatagram();
        else
            OnTargetDatagram(socketHandle);
    } catch (X1SocketException* e) {
        const std::string text = e->GetErrorText();
        e->Delete();
        WriteLog(LogFormat::kLogError, kUDPSocketExceptionIgnoring, text.c_str());
    } catch (CException* e) {
        e->Delete();
        WriteLog(LogFormat::kLogError, "%s", kUDPUnknownExceptionIgnoring);
    } catch (...) {
        WriteLog(LogFormat::kLogError, "%s", kUDPUnknownExceptionIgnoring);
    }
}

void CUDPMappingService::OnClientDatagram() {
    std::string address;
    UINT port = 0;
    int length;
    try {
        length = GetSocket().ReceiveFrom(m_buffer.data(), kBufferSize, address, port);
    } catch (X1SocketException* e) {
        if (!IsTooLong(*e))
            throw;
        e->Delete();
        WriteLog(LogFormat::kLogError, kClientDatagramTooLong, static_cast<unsigned>(kBufferSize));
        return;
    }
    if (port == 0)
        return;  // nothing was waiting (a datagram always names its sender's port)

    CMutexLock lock(m_clientsMutex);
    // A session that has ended but not yet left the map takes no more datagrams: the client
    // starts over with a new one.
    CUDPMappingSession* session = nullptr;
    auto it = m_clients.find(FormatText(kClientKey, address.c_str(), port));
    if (it != m_clients.end() && it->second->GetTerminateCount() == 0)
        session = it->second.Get();
    else
        session = StartClientSession(address, port);
    if (session == nullptr)
        return;
    session->ResetIdleTimer();
    session->AddClientBytesReceived(static_cast<DWORD>(length));
    session->SendToTarget(m_buffer.data(), length);
}

void CUDPMappingService::OnTargetDatagram(int socketHandle) {
    CMutexLock lock(m_clientsMutex);
    auto* session = static_cast<CUDPMappingSession*>(FindSession(static_cast<DWORD>(socketHandle)));
    if (session == nullptr)
        return;
    int length;
    try {
        length = session->ReceiveFromTarget(m_buffer.data(), kBufferSize);
    } catch (X1SocketException* e) {
        if (!IsTooLong(*e))
            throw;
        e->Delete();
        session->WriteServiceLog(LogFormat::kLogError, kTargetDatagramTooLong,
                                 session->GetTargetHost().c_str(), session->GetTargetPort(),
                                 static_cast<unsigned>(kBufferSize));
        return;
    }
    if (length < 0)
        return;
    session->AddClientBytesSent(static_cast<DWORD>(length));
    GetSocket().SendTo(m_buffer.data(), length, session->GetClientPort(), session->GetClientAddress());
    session->ResetIdleTimer();
}

CUDPMappingSession* CUDPMappingService::StartClientSession(const std::string& address, UINT port) {
    DWORD client = 0;
    ParseDottedAddress(address, &client);
    std::shared_ptr<void> place = TakeSessionPlace(client);
    if (!place)
        return nullptr;
    auto session = CRef<CUDPMappingSession>::Adopt(new CUDPMappingSession(this));
    session->HoldWhileAlive(std::move(place));
    session->SetAccessRights(*this);
    session->SetLogging(*this);
    const Settings settings = GetSettings();
    session->SetSessionTimeout(settings.timeOutSessions, settings.sessionTimeout);
    session->SetClient(address, port);
    try {
        SetUpSession(*session);
    } catch (...) {
        session->Terminate(FrameworkFormat::kExitError);
        throw;
    }
    // Set up unless a step ended it; the maps hold it from here on.
    return session->GetTerminateCount() == 0 ? session.Get() : nullptr;
}

void CUDPMappingService::SetUpSession(CUDPMappingSession& session) {
    CNorvaneEngine& engine = CNorvaneEngine::Instance();
    session.OpenSocket();
    AddSession(&session);
    if (!engine.RegisterSession(&session))
        return;  // refused: admission ended the session
    session.WriteAudit(LogFormat::kAuditSessionCreated, "%s", "");
    session.WriteServiceLog(LogFormat::kLogSessionCreated, "%s", "");

    CHostPort target;
    if (!GetMappings()->FindTarget(session, target)) {
        session.WriteServiceLog(LogFormat::kLogFailedAuthorisation, "%s", kNoMappingTerminating);
        session.Terminate(FrameworkFormat::kExitError);
        return;
    }
    session.SetTarget(target.Host, target.Port);
    if (!session.CheckAccess(TRUE))
        return;  // the check ended the session
    engine.CheckDialFirst(&session);
    session.ConnectTarget(target.Host, target.Port);

    session.SetDescription(FormatText(kUDPMappingDescription, session.GetClientAddress().c_str(),
                                      target.Host.c_str(), target.Port));
    engine.NotifySessionStarted(session.GetClientAddress(), session.GetSessionId(),
                                session.GetDescription());
    session.WriteAudit(LogFormat::kAuditRequest, "%s", "");
    session.WriteServiceLog(LogFormat::kLogRequest, "%s", "");
}
