#include "engine/framework/Service.h"

#include "engine/LogFormat.h"
#include "engine/LogWriters.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/QuietClose.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "platform/net/Resolver.h"
#include "platform/service/EventLog.h"

#include <algorithm>
#include <climits>
#include <utility>

using namespace FrameworkFormat;

IMPLEMENT_SERIAL(CService, CObject, 1)

namespace {

std::string ChildKey(const char* format, const std::string& keyPath) {
    return FormatText(format, keyPath.c_str());
}

}  // namespace

CService::CService() { ApplyRightIdentities(); }

CService::CService(UINT port, std::string name, std::string description, BOOL critical) {
    m_settings.portNumber = port;
    m_settings.nonProxyRequestPort = port;
    m_settings.name = std::move(name);
    m_settings.description = std::move(description);
    m_settings.criticalService = critical;
    ApplyRightIdentities();
}

CService::~CService() {
    CloseQuietly(m_socket);
    ForgetListeningPort();
}

void CService::ApplyRightIdentities() {
    m_accessRights.SetRightType(kAccessRightKind);
    m_accessRights.SetDescription(kAccessRightsDescription);
    m_startStopRights.SetRightType(kStartStopRightKind);
    m_startStopRights.SetDescription(kStartStopRightsDescription);
    m_editRights.SetRightType(kEditRightKind);
    m_editRights.SetDescription(kEditRightsDescription);
}

// --- Virtual operations ---------------------------------------------------------------------

void CService::StartIfEnabled() {}

void CService::StopAndDelete() {
    Stop();
    Release();
}

void CService::Start() {}

void CService::Stop() {}

void CService::Restart() {
    Stop();
    Start();
    SetRestartRequested(FALSE);
    WriteLog(LogFormat::kLogServiceEvent, "%s", kServiceRestarted);
}

std::string CService::GetName() const {
    CMutexLock lock(m_settingsMutex);
    return m_settings.name;
}

void CService::SetName(const std::string& name) {
    CMutexLock lock(m_settingsMutex);
    m_settings.name = name;
}

std::string CService::GetDescription() const {
    CMutexLock lock(m_settingsMutex);
    return m_settings.description;
}

void CService::SetDescription(const std::string& description) {
    CMutexLock lock(m_settingsMutex);
    m_settings.description = description;
}

BOOL CService::SaveToRegistry(const std::string& keyPath) const {
    CMutexLock lock(m_settingsMutex);
    const Settings& s = m_settings;
    bool ok = RegWriteString(keyPath, kServiceType, GetRuntimeClass()->GetName());
    ok &= RegWriteString(keyPath, kName, s.name) != FALSE;
    ok &= RegWriteString(keyPath, kDescription, s.description) != FALSE;
    ok &= RegWriteDWORD(keyPath, kPortNumber, s.portNumber) != FALSE;
    ok &= RegWriteDWORD(keyPath, kSpecifiedInterfaceAddress, s.specifiedInterfaceAddress) != FALSE;
    ok &= RegWriteString(keyPath, kInterfaceAddress, s.interfaceAddress) != FALSE;
    ok &= RegWriteDWORD(keyPath, kEnabled, s.enabled) != FALSE;
    ok &= RegWriteDWORD(keyPath, kCriticalService, s.criticalService) != FALSE;
    ok &= RegWriteDWORD(keyPath, kTimeOutSessions, s.timeOutSessions) != FALSE;
    ok &= RegWriteDWORD(keyPath, kSessionTimeout, s.sessionTimeout) != FALSE;
    ok &= RegWriteDWORD(keyPath, kNonProxyRequestAction, s.nonProxyRequestAction) != FALSE;
    ok &= RegWriteString(keyPath, kNonProxyRequestHost, s.nonProxyRequestHost) != FALSE;
    ok &= RegWriteDWORD(keyPath, kNonProxyRequestPort, s.nonProxyRequestPort) != FALSE;
    ok &= RegWriteDWORD(keyPath, kLoggingEnabled, s.loggingEnabled) != FALSE;
    ok &= RegWriteDWORD(keyPath, kLogOptions, s.logOptions) != FALSE;
    ok &= RegWriteDWORD(keyPath, kLimitSessions, s.limitSessions) != FALSE;
    ok &= RegWriteDWORD(keyPath, kSessionLimit, s.sessionLimit) != FALSE;
    ok &= m_accessRights.SaveToRegistry(ChildKey(kAccessRightsKey, keyPath)) != FALSE;
    ok &= m_startStopRights.SaveToRegistry(ChildKey(kStartStopRightsKey, keyPath)) != FALSE;
    ok &= m_editRights.SaveToRegistry(ChildKey(kEditRightsKey, keyPath)) != FALSE;
    return ok ? TRUE : FALSE;
}

void CService::LoadFromRegistry(const std::string& keyPath) {
    Settings s;
    s.name = RegReadString(keyPath, kName, "");
    s.description = RegReadString(keyPath, kDescription, "");
    s.portNumber = RegReadDWORD(keyPath, kPortNumber, 0);
    s.specifiedInterfaceAddress = RegReadDWORD(keyPath, kSpecifiedInterfaceAddress, 0);
    s.interfaceAddress = RegReadString(keyPath, kInterfaceAddress, kAnyInterface);
    s.enabled = RegReadDWORD(keyPath, kEnabled, 1);
    s.criticalService = RegReadDWORD(keyPath, kCriticalService, 0);
    s.timeOutSessions = RegReadDWORD(keyPath, kTimeOutSessions, 1);
    s.sessionTimeout = RegReadDWORD(keyPath, kSessionTimeout, kLoadedSessionTimeout);
    s.nonProxyRequestAction = RegReadDWORD(keyPath, kNonProxyRequestAction, 0);
    s.nonProxyRequestHost = RegReadString(keyPath, kNonProxyRequestHost, "");
    s.nonProxyRequestPort = RegReadDWORD(keyPath, kNonProxyRequestPort, s.portNumber);
    s.loggingEnabled = RegReadDWORD(keyPath, kLoggingEnabled, 1);
    s.logOptions = RegReadDWORD(keyPath, kLogOptions, 219);
    s.limitSessions = RegReadDWORD(keyPath, kLimitSessions, 0);
    s.sessionLimit = RegReadDWORD(keyPath, kSessionLimit, kLoadedSessionLimit);

    CMutexLock lock(m_settingsMutex);
    s.restartRequested = m_settings.restartRequested;
    m_settings = std::move(s);
    m_accessRights.LoadFromRegistry(ChildKey(kAccessRightsKey, keyPath));
    m_startStopRights.LoadFromRegistry(ChildKey(kStartStopRightsKey, keyPath));
    m_editRights.LoadFromRegistry(ChildKey(kEditRightsKey, keyPath));
    ApplyRightIdentities();
}

void CService::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        StoreRecord(ar);
        return;
    }
    std::unique_ptr<Record> record = ReadRecord(ar);
    ApplyRecord(*record);
}

void CService::StoreRecord(CArchive& ar) {
    CMutexLock lock(m_settingsMutex);
    const Settings& s = m_settings;
    ar << s.name << s.description << s.portNumber << s.specifiedInterfaceAddress
       << s.interfaceAddress << s.enabled << s.criticalService << s.timeOutSessions
       << s.sessionTimeout << s.nonProxyRequestAction << s.nonProxyRequestHost
       << s.nonProxyRequestPort << s.loggingEnabled << s.logOptions << s.restartRequested
       << s.limitSessions << s.sessionLimit;
    m_accessRights.Serialize(ar);
    m_startStopRights.Serialize(ar);
    m_editRights.Serialize(ar);
}

std::unique_ptr<CService::Record> CService::ReadRecord(CArchive& ar) const {
    auto record = std::make_unique<Record>();
    Settings& s = record->settings;
    ar >> s.name >> s.description >> s.portNumber >> s.specifiedInterfaceAddress >>
        s.interfaceAddress >> s.enabled >> s.criticalService >> s.timeOutSessions >>
        s.sessionTimeout >> s.nonProxyRequestAction >> s.nonProxyRequestHost >>
        s.nonProxyRequestPort >> s.loggingEnabled >> s.logOptions >> s.restartRequested >>
        s.limitSessions >> s.sessionLimit;
    record->accessRights.Serialize(ar);
    record->startStopRights.Serialize(ar);
    record->editRights.Serialize(ar);
    return record;
}

void CService::ApplyRecord(Record& record) {
    CMutexLock lock(m_settingsMutex);
    m_settings = std::move(record.settings);
    m_accessRights.Copy(record.accessRights);
    m_startStopRights.Copy(record.startStopRights);
    m_editRights.Copy(record.editRights);
}

// --- Settings -------------------------------------------------------------------------------

CService::Settings CService::GetSettings() const {
    CMutexLock lock(m_settingsMutex);
    return m_settings;
}

void CService::SetSettings(const Settings& settings) {
    CMutexLock lock(m_settingsMutex);
    m_settings = settings;
}

DWORD CService::GetPortNumber() const {
    CMutexLock lock(m_settingsMutex);
    return m_settings.portNumber;
}

void CService::SetPortNumber(DWORD port) {
    CMutexLock lock(m_settingsMutex);
    m_settings.portNumber = port;
}

void CService::SetInterfaceAddress(BOOL specified, const std::string& address) {
    CMutexLock lock(m_settingsMutex);
    m_settings.specifiedInterfaceAddress = specified;
    m_settings.interfaceAddress = address;
}

BOOL CService::GetEnabled() const {
    CMutexLock lock(m_settingsMutex);
    return m_settings.enabled;
}

void CService::SetEnabled(BOOL enabled) {
    CMutexLock lock(m_settingsMutex);
    m_settings.enabled = enabled;
}

BOOL CService::GetCriticalService() const {
    CMutexLock lock(m_settingsMutex);
    return m_settings.criticalService;
}

void CService::SetCriticalService(BOOL critical) {
    CMutexLock lock(m_settingsMutex);
    m_settings.criticalService = critical;
}

void CService::SetSessionTimeout(BOOL timeOutSessions, DWORD seconds) {
    CMutexLock lock(m_settingsMutex);
    m_settings.timeOutSessions = timeOutSessions;
    m_settings.sessionTimeout = seconds;
}

void CService::SetLogging(BOOL enabled, DWORD options) {
    CMutexLock lock(m_settingsMutex);
    m_settings.loggingEnabled = enabled;
    m_settings.logOptions = options;
}

void CService::SetNonProxyRequest(DWORD action, const std::string& host, DWORD port) {
    CMutexLock lock(m_settingsMutex);
    m_settings.nonProxyRequestAction = action;
    m_settings.nonProxyRequestHost = host;
    m_settings.nonProxyRequestPort = port;
}

BOOL CService::GetRestartRequested() const {
    CMutexLock lock(m_settingsMutex);
    return m_settings.restartRequested;
}

void CService::SetRestartRequested(BOOL requested) {
    CMutexLock lock(m_settingsMutex);
    m_settings.restartRequested = requested;
}

// --- Log ------------------------------------------------------------------------------------

void CService::OpenLogFile() {
    CMutexLock lock(m_settingsMutex);
    m_logFile.reset();
    if (!m_settings.loggingEnabled)
        return;
    try {
        m_logFile = CLogFile::OpenServiceLog(m_settings.name);
    } catch (CException* e) {
        e->Delete();
        m_logFile.reset();
    } catch (...) {
        m_logFile.reset();
    }
    if (!m_logFile)
        m_settings.loggingEnabled = FALSE;
}

CLogFileRef CService::GetLogFile() const {
    CMutexLock lock(m_settingsMutex);
    return m_logFile;
}

void CService::WriteLog(DWORD eventBit, const char* format, ...) {
    CLogFileRef file;
    DWORD options;
    {
        CMutexLock lock(m_settingsMutex);
        file = m_logFile;
        options = m_settings.logOptions;
    }
    if (!file || (options & eventBit) == 0)
        return;
    va_list args;
    va_start(args, format);
    PostServiceLogLineV(CNorvaneEngine::Instance().GetLogManager(), file, options, eventBit, format,
                        args);
    va_end(args);
}

// --- Ceilings -------------------------------------------------------------------------------

bool CService::UsesEngineCeiling() const { return GetServiceKind() != kKindRemoteControl; }

void CService::SetSessionCeilingBound(std::size_t bound) {
    m_sessionCeilingBound = bound;
    m_sessionCeiling.SetCeiling(bound);
}

void CService::FitSessionCeiling() {
    std::size_t ceiling = m_sessionCeilingBound;
    if (UsesEngineCeiling()) {
        const std::size_t engine = CNorvaneEngine::Instance().GetSessionCeiling().GetCeiling();
        ceiling = std::min(ceiling, std::max<std::size_t>(1, engine / kServiceShareDivisor));
    }
    m_sessionCeiling.SetCeiling(ceiling);
}

std::shared_ptr<void> CService::TakeSessionPlace(DWORD address) {
    CSessionCeiling::STaken own = m_sessionCeiling.Take(address);
    if (!own.place) {
        ReportRefusal(own, address, false);
        return nullptr;
    }
    if (!UsesEngineCeiling())
        return std::move(own.place);
    CSessionCeiling::STaken engine = CNorvaneEngine::Instance().GetSessionCeiling().Take(address);
    if (!engine.place) {
        ReportRefusal(engine, address, true);
        return nullptr;  // the service's place goes back with `own`
    }
    using Both = std::pair<std::shared_ptr<void>, std::shared_ptr<void>>;
    return std::make_shared<Both>(std::move(own.place), std::move(engine.place));
}

void CService::ReportRefusal(const CSessionCeiling::STaken& taken, DWORD address, bool engine) {
    if (!taken.report)
        return;
    const auto limit = static_cast<unsigned>(std::min<std::size_t>(taken.limit, UINT_MAX));
    const std::string client = FormatDottedAddress(address);
    std::string text;
    if (taken.refusal == CSessionCeiling::ERefusal::share)
        text = FormatText(engine ? kEngineClientShareReached : kClientShareReached, client.c_str(),
                          limit);
    else
        text = FormatText(engine ? kEngineCeilingReached : kSessionCeilingReached, limit);
    WriteLog(LogFormat::kLogError, "%s", text.c_str());
    CNorvaneEngine::Instance().ReportEvent(
        EVENTLOG_WARNING_TYPE, FormatText(kCeilingEvent, GetName().c_str(), text.c_str()));
}

// --- Listening ------------------------------------------------------------------------------

std::string CService::GetBindAddress() const {
    CMutexLock lock(m_settingsMutex);
    return m_settings.specifiedInterfaceAddress ? m_settings.interfaceAddress : std::string();
}

void CService::BindServiceSocket() {
    const DWORD port = GetPortNumber();
    if (port < kMinPort || port > kMaxPort)
        throw new X1SocketException(kInvalidArgument);
    m_socket.Bind(port, GetBindAddress());
}

void CService::StopListening() {
    CMutexLock run(m_runMutex);
    CloseQuietly(m_socket);
    ForgetListeningPort();
    SetRunState(kStopped);
    WriteLog(LogFormat::kLogServiceEvent, "%s", kServiceStopped);
}

void CService::RememberListeningPort(UINT port, OutboundTransport transport) {
    ForgetListeningPort();
    COutboundTargetGuard::Instance().RegisterListeningPort(port, transport);
    m_listeningPort = port;
    m_listeningTransport = transport;
}

void CService::ForgetListeningPort() {
    if (m_listeningPort == 0)
        return;
    COutboundTargetGuard::Instance().UnregisterListeningPort(m_listeningPort, m_listeningTransport);
    m_listeningPort = 0;
}
