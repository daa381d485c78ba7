#include "proxies/web/WWWService.h"

#include "engine/framework/FrameworkFormat.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "proxies/web/WWWSession.h"
#include "proxies/web/WWWTexts.h"

IMPLEMENT_SERIAL(CWWWService, CTCPService, 1)

CWWWService::CWWWService()
    : CTCPService(kWWWServicePort, kWWWServiceName, kWWWServiceName, FALSE) {
    SetServiceKind(FrameworkFormat::kKindWeb);
    SetSupportedMethods(kWWWServiceMethods);
}

void CWWWService::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CMutexLock lock(SettingsMutex());
        StoreTCPRecord(ar);
        ar << m_web.cacheNonProxyRequests << m_web.prependResource << m_web.prependInfo
           << m_web.redirectURL << m_web.serverRoot;
        return;
    }
    TCPRecord record = ReadTCPRecord(ar);
    WebSettings web;
    ar >> web.cacheNonProxyRequests >> web.prependResource >> web.prependInfo >>
        web.redirectURL >> web.serverRoot;
    CMutexLock lock(SettingsMutex());
    ApplyTCPRecord(record);
    m_web = std::move(web);
}

BOOL CWWWService::SaveToRegistry(const std::string& keyPath) const {
    CMutexLock lock(SettingsMutex());
    bool ok = CTCPService::SaveToRegistry(keyPath) != FALSE;
    ok &= RegWriteDWORD(keyPath, kCacheNonProxyRequestsValue, m_web.cacheNonProxyRequests) != FALSE;
    ok &= RegWriteDWORD(keyPath, kPrependResourceValue, m_web.prependResource) != FALSE;
    ok &= RegWriteString(keyPath, kPrependInfoValue, m_web.prependInfo) != FALSE;
    ok &= RegWriteString(keyPath, kRedirectURLValue, m_web.redirectURL) != FALSE;
    ok &= RegWriteString(keyPath, kServerRootValue, m_web.serverRoot) != FALSE;
    return ok ? TRUE : FALSE;
}

void CWWWService::LoadFromRegistry(const std::string& keyPath) {
    CMutexLock lock(SettingsMutex());
    CTCPService::LoadFromRegistry(keyPath);
    m_web.cacheNonProxyRequests = RegReadDWORD(keyPath, kCacheNonProxyRequestsValue, 0);
    m_web.prependResource = RegReadDWORD(keyPath, kPrependResourceValue, 0);
    m_web.prependInfo = RegReadString(keyPath, kPrependInfoValue, "");
    m_web.redirectURL = RegReadString(keyPath, kRedirectURLValue, "");
    m_web.serverRoot = RegReadString(keyPath, kServerRootValue, "");
}

CSession* CWWWService::CreateSession(int acceptedHandle) {
    return new CWWWSession(acceptedHandle);
}

CWWWService::WebSettings CWWWService::GetWebSettings() const {
    CMutexLock lock(SettingsMutex());
    return m_web;
}

void CWWWService::SetWebSettings(const WebSettings& settings) {
    CMutexLock lock(SettingsMutex());
    m_web = settings;
}
