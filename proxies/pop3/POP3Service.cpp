#include "proxies/pop3/POP3Service.h"

#include "engine/framework/FrameworkFormat.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "proxies/pop3/POP3Format.h"
#include "proxies/pop3/POP3Session.h"

using namespace POP3Format;

IMPLEMENT_SERIAL(CPOP3Service, CTCPService, 1)

CPOP3Service::CPOP3Service()
    : CTCPService(kServicePort, kServiceName, kServiceName, FALSE),
      m_delimiter(kDefaultDelimiter) {
    SetServiceKind(FrameworkFormat::kKindPOP3);
    SetSupportedMethods(kSupportedMethods);
}

void CPOP3Service::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CMutexLock lock(SettingsMutex());
        StoreTCPRecord(ar);
        ar << m_delimiter;
        return;
    }
    TCPRecord record = ReadTCPRecord(ar);
    signed char delimiter;
    ar >> delimiter;
    CMutexLock lock(SettingsMutex());
    ApplyTCPRecord(record);
    m_delimiter = delimiter;
}

BOOL CPOP3Service::SaveToRegistry(const std::string& keyPath) const {
    CMutexLock lock(SettingsMutex());
    bool ok = CTCPService::SaveToRegistry(keyPath) != FALSE;
    // The character's value sign-extended, as a signed character widens.
    ok &= RegWriteDWORD(keyPath, kDelimiterValue,
                        static_cast<DWORD>(static_cast<std::int32_t>(m_delimiter))) != FALSE;
    return ok ? TRUE : FALSE;
}

void CPOP3Service::LoadFromRegistry(const std::string& keyPath) {
    CMutexLock lock(SettingsMutex());
    CTCPService::LoadFromRegistry(keyPath);
    const DWORD value = RegReadDWORD(keyPath, kDelimiterValue,
                                     static_cast<BYTE>(kDefaultDelimiter));
    m_delimiter = static_cast<signed char>(static_cast<BYTE>(value & 0xFF));
}

CSession* CPOP3Service::CreateSession(int acceptedHandle) {
    return new CPOP3Session(acceptedHandle, GetDelimiter());
}

char CPOP3Service::GetDelimiter() const {
    CMutexLock lock(SettingsMutex());
    return static_cast<char>(m_delimiter);
}

void CPOP3Service::SetDelimiter(char delimiter) {
    CMutexLock lock(SettingsMutex());
    m_delimiter = static_cast<signed char>(delimiter);
}
