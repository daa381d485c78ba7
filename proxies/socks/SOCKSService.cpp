#include "proxies/socks/SOCKSService.h"

#include "engine/framework/FrameworkFormat.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "proxies/socks/SOCKSSession.h"
#include "proxies/socks/SOCKSTexts.h"

IMPLEMENT_SERIAL(CSOCKSService, CTCPService, 1)

CSOCKSService::CSOCKSService()
    : CTCPService(kSOCKSServicePort, kSOCKSServiceName, kSOCKSServiceName, FALSE) {
    SetServiceKind(FrameworkFormat::kKindSOCKS);
}

void CSOCKSService::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CMutexLock lock(SettingsMutex());
        StoreTCPRecord(ar);
        ar << m_socks.useRFC1929 << m_socks.doReverseLookups << m_socks.referHTTPRequests
           << m_socks.cacheReferredHTTPRequests << m_socks.useSpecifiedPolicy << m_socks.httpPolicy;
        return;
    }
    TCPRecord record = ReadTCPRecord(ar);
    SOCKSSettings socks;
    ar >> socks.useRFC1929 >> socks.doReverseLookups >> socks.referHTTPRequests >>
        socks.cacheReferredHTTPRequests >> socks.useSpecifiedPolicy >> socks.httpPolicy;
    CMutexLock lock(SettingsMutex());
    ApplyTCPRecord(record);
    m_socks = std::move(socks);
}

BOOL CSOCKSService::SaveToRegistry(const std::string& keyPath) const {
    CMutexLock lock(SettingsMutex());
    bool ok = CTCPService::SaveToRegistry(keyPath) != FALSE;
    ok &= RegWriteDWORD(keyPath, kUseRFC1929Value, m_socks.useRFC1929) != FALSE;
    ok &= RegWriteDWORD(keyPath, kDoReverseLookupsValue, m_socks.doReverseLookups) != FALSE;
    ok &= RegWriteDWORD(keyPath, kReferHTTPRequestsValue, m_socks.referHTTPRequests) != FALSE;
    ok &= RegWriteDWORD(keyPath, kCacheReferredHTTPRequestsValue,
                        m_socks.cacheReferredHTTPRequests) != FALSE;
    ok &= RegWriteDWORD(keyPath, kUseSpecifiedPolicyValue, m_socks.useSpecifiedPolicy) != FALSE;
    ok &= RegWriteString(keyPath, kHTTPPolicyValue, m_socks.httpPolicy) != FALSE;
    return ok ? TRUE : FALSE;
}

void CSOCKSService::LoadFromRegistry(const std::string& keyPath) {
    CMutexLock lock(SettingsMutex());
    CTCPService::LoadFromRegistry(keyPath);
    const SOCKSSettings defaults;
    m_socks.useRFC1929 = RegReadDWORD(keyPath, kUseRFC1929Value, defaults.useRFC1929);
    m_socks.doReverseLookups =
        RegReadDWORD(keyPath, kDoReverseLookupsValue, defaults.doReverseLookups);
    m_socks.referHTTPRequests =
        RegReadDWORD(keyPath, kReferHTTPRequestsValue, defaults.referHTTPRequests);
    m_socks.cacheReferredHTTPRequests = RegReadDWORD(keyPath, kCacheReferredHTTPRequestsValue,
                                                     defaults.cacheReferredHTTPRequests);
    m_socks.useSpecifiedPolicy =
        RegReadDWORD(keyPath, kUseSpecifiedPolicyValue, defaults.useSpecifiedPolicy);
    m_socks.httpPolicy = RegReadString(keyPath, kHTTPPolicyValue, defaults.httpPolicy);
}

CSession* CSOCKSService::CreateSession(int acceptedHandle) {
    auto* session = new CSOCKSSession(acceptedHandle);
    session->SetParameters(GetSOCKSSettings());
    session->SetListenAddress(GetBindAddress());
    return session;
}

CSOCKSService::SOCKSSettings CSOCKSService::GetSOCKSSettings() const {
    CMutexLock lock(SettingsMutex());
    return m_socks;
}

void CSOCKSService::SetSOCKSSettings(const SOCKSSettings& settings) {
    CMutexLock lock(SettingsMutex());
    m_socks = settings;
}
