#include "proxies/mapping/TCPMappingService.h"

#include "engine/LogFormat.h"
#include "engine/access/AccessStore.h"
#include "engine/framework/FrameworkFormat.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/Scrambler.h"
#include "proxies/mapping/MappingFormat.h"
#include "proxies/mapping/TCPMappingSession.h"

#include <utility>

using namespace MappingFormat;

IMPLEMENT_SERIAL(CTCPMappingService, CTCPService, 1)

CTCPMappingService::CTCPMappingService()
    : CTCPService(0, kTCPMappingServiceName, kTCPMappingServiceName, FALSE),
      m_mappings(CRef<CMappings>::Adopt(new CMappings)) {
    SetServiceKind(FrameworkFormat::kKindMapping);
    SetSupportedMethods(kTCPMappingSupportedMethods);
}

CTCPMappingService::~CTCPMappingService() = default;

void CTCPMappingService::Start() {
    if (m_methodReplaced.exchange(false))
        WriteLog(LogFormat::kLogError, "%s", kUnusableConnectMethod);
    CTCPService::Start();
}

void CTCPMappingService::UseUsableMethod(COutboundSettings& upstream) {
    if (upstream.ConnectMethod != OutboundFormat::kMethodHttpProxy)
        return;
    upstream.ConnectMethod = OutboundFormat::kMethodDirect;
    m_methodReplaced = true;
}

// --- Archive and registry -------------------------------------------------------------------

void CTCPMappingService::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CMutexLock lock(SettingsMutex());
        StoreTCPRecord(ar);
        m_mappings->Serialize(ar);
        ar << m_link.SpecifyUserForIncomingConnection << m_link.EncryptConnectionsIn
           << m_link.UsernameIn << ScrambledPassword(m_link.PasswordIn)
           << m_link.EncryptConnectionsOut << m_link.UsernameOut
           << ScrambledPassword(m_link.PasswordOut);
        return;
    }
    TCPRecord record = ReadTCPRecord(ar);
    auto mappings = CRef<CMappings>::Adopt(new CMappings);
    mappings->Serialize(ar);
    CTCPMappingLink link;
    ar >> link.SpecifyUserForIncomingConnection >> link.EncryptConnectionsIn >> link.UsernameIn >>
        link.PasswordIn >> link.EncryptConnectionsOut >> link.UsernameOut >> link.PasswordOut;
    ScramblePassword(link.PasswordIn);
    ScramblePassword(link.PasswordOut);
    CMutexLock lock(SettingsMutex());
    UseUsableMethod(record.upstream);
    ApplyTCPRecord(record);
    m_mappings = std::move(mappings);
    m_link = std::move(link);
}

BOOL CTCPMappingService::SaveToRegistry(const std::string& keyPath) const {
    CMutexLock lock(SettingsMutex());
    bool ok = CTCPService::SaveToRegistry(keyPath) != FALSE;
    ok &= m_mappings->SaveToRegistry(SubKeyPath(keyPath, kMappingsKey)) != FALSE;
    ok &= RegWriteDWORD(keyPath, kSpecifyUserForIncomingConnection,
                        m_link.SpecifyUserForIncomingConnection) != FALSE;
    ok &= RegWriteDWORD(keyPath, kEncryptConnectionsIn, m_link.EncryptConnectionsIn) != FALSE;
    ok &= RegWriteString(keyPath, kUsernameIn, m_link.UsernameIn) != FALSE;
    ok &= RegWriteString(keyPath, kPasswordIn, ScrambledPassword(m_link.PasswordIn)) != FALSE;
    ok &= RegWriteDWORD(keyPath, kEncryptConnectionsOut, m_link.EncryptConnectionsOut) != FALSE;
    ok &= RegWriteString(keyPath, kUsernameOut, m_link.UsernameOut) != FALSE;
    ok &= RegWriteString(keyPath, kPasswordOut, ScrambledPassword(m_link.PasswordOut)) != FALSE;
    return ok ? TRUE : FALSE;
}

void CTCPMappingService::LoadFromRegistry(const std::string& keyPath) {
    auto mappings = CRef<CMappings>::Adopt(new CMappings);
    mappings->LoadFromRegistry(SubKeyPath(keyPath, kMappingsKey));
    CTCPMappingLink link;
    link.SpecifyUserForIncomingConnection = RegReadDWORD(keyPath, kSpecifyUserForIncomingConnection, 0);
    link.EncryptConnectionsIn = RegReadDWORD(keyPath, kEncryptConnectionsIn, 0);
    link.UsernameIn = RegReadString(keyPath, kUsernameIn, "");
    link.PasswordIn = ScrambledPassword(RegReadString(keyPath, kPasswordIn, ""));
    link.EncryptConnectionsOut = RegReadDWORD(keyPath, kEncryptConnectionsOut, 0);
    link.UsernameOut = RegReadString(keyPath, kUsernameOut, "");
    link.PasswordOut = ScrambledPassword(RegReadString(keyPath, kPasswordOut, ""));

    CMutexLock lock(SettingsMutex());
    CTCPService::LoadFromRegistry(keyPath);
    COutboundSettings upstream = GetUpstream();
    UseUsableMethod(upstream);
    SetUpstream(upstream);
    m_mappings = std::move(mappings);
    m_link = std::move(link);
}

// --- Settings and sessions ------------------------------------------------------------------

CRef<CMappings> CTCPMappingService::GetMappings() const {
    CMutexLock lock(SettingsMutex());
    return m_mappings;
}

void CTCPMappingService::SetMappings(CRef<CMappings> mappings) {
    if (!mappings)
        return;
    CMutexLock lock(SettingsMutex());
    m_mappings = std::move(mappings);
}

CTCPMappingLink CTCPMappingService::GetLink() const {
    CMutexLock lock(SettingsMutex());
    return m_link;
}

void CTCPMappingService::SetLink(const CTCPMappingLink& link) {
    CMutexLock lock(SettingsMutex());
    m_link = link;
}

CSession* CTCPMappingService::CreateSession(int acceptedHandle) {
    CMutexLock lock(SettingsMutex());
    return new CTCPMappingSession(acceptedHandle, m_mappings, m_link);
}
