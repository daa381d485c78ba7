#include "engine/framework/Session.h"

#include "engine/LogFormat.h"
#include "engine/LogWriters.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/AccessSession.h"
#include "engine/access/Right.h"
#include "engine/access/User.h"
#include "engine/framework/DisplayText.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Machine.h"
#include "engine/framework/Service.h"
#include "engine/framework/UserAccounts.h"
#include "foundation/Archive.h"
#include "foundation/NVDataObject.h"
#include "platform/framework/Exception.h"
#include "platform/kernel/Clock.h"

#include <algorithm>
#include <limits>

using namespace FrameworkFormat;

IMPLEMENT_SERIAL(CSession, CObject, 1)

std::atomic<DWORD> CSession::s_lastSessionId{0};
std::atomic<CSession::TickSource> CSession::s_tickSource{nullptr};

CSession::CSession() : m_startTime(std::time(nullptr)), m_startTick(Now()) {}

CSession::~CSession() = default;

// --- Clock and numbers ----------------------------------------------------------------------

void CSession::SetTickSource(TickSource source) { s_tickSource = source; }

std::uint64_t CSession::Now() {
    TickSource source = s_tickSource.load();
    return source != nullptr ? source() : GetTickCount64();
}

DWORD CSession::NextSessionId() {
    for (;;) {
        const DWORD id = s_lastSessionId.fetch_add(1) + 1;
        if (id != 0)
            return id;
    }
}

// --- Life cycle -----------------------------------------------------------------------------

void CSession::StartSession() { ResetIdleTimer(); }

void CSession::Terminate(int reason) {
    if (!CountTerminate())
        return;
    CRef<CMachine> machine = GetMachine();
    // The machine ends the session only if it still holds it; one that let it go (closing
    // all its sessions at the same moment) has ended it already, or it was never admitted.
    if (!machine || !machine->EndSession(GetSessionId(), reason))
        EndOnce(reason);
}

bool CSession::CountTerminate() { return m_terminateCount.fetch_add(1) == 0; }

void CSession::EndOnce(int code) {
    if (m_ended.exchange(true))
        return;
    EndSession(code);
}

void CSession::EndSession(int code) { LogEnd(code); }

void CSession::AttachToMachine(CMachine* machine, const std::string& userName, int level) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_machine = CRef<CMachine>(machine);
    m_userName = userName;
    m_logonLevel = level;
}

void CSession::DetachFromMachine() {
    CRef<CMachine> machine;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        machine = std::move(m_machine);
    }
    // The machine's reference is given up after the session's own mutex.
}

BOOL CSession::HandOverTo(CSession& successor, int code) {
    CRef<CMachine> machine = GetMachine();
    return machine ? machine->HandOver(*this, successor, code) : FALSE;
}

BOOL CSession::LogOnToMachine(const std::string& userName, int level) {
    CRef<CMachine> machine = GetMachine();
    if (!machine)
        return FALSE;
    machine->LogOn(*this, userName, level);
    return TRUE;
}

void CSession::SetUser(const std::string& userName, int level) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_userName = userName;
    m_logonLevel = level;
}

CRef<CMachine> CSession::GetMachine() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_machine;
}

// --- Settings from the service --------------------------------------------------------------

void CSession::SetService(CService& service) {
    const CService::Settings settings = service.GetSettings();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nonProxyAction = settings.nonProxyRequestAction;
    m_nonProxyHost = settings.nonProxyRequestHost;
    m_nonProxyPort = settings.nonProxyRequestPort;
    m_serviceRef = CRef<CObject>(&service);
}

void CSession::SetAccessRight(CRight* right, CObject* owner) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_accessRight = right;
    m_rightOwner = CRef<CObject>(owner);
}

void CSession::SetAccessRights(CService& service) {
    SetAccessRight(&service.GetAccessRights(), &service);
}

void CSession::SetAccessRightsOf(const CSession& other) {
    CRight* right;
    CRef<CObject> owner;
    {
        std::lock_guard<std::mutex> lock(other.m_mutex);
        right = other.m_accessRight;
        owner = other.m_rightOwner;
    }
    SetAccessRight(right, owner.Get());
}

void CSession::SetLoggingValues(DWORD options, CLogFileRef file) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logOptions = options;
    m_logFile = std::move(file);
}

void CSession::SetLogging(CService& service) {
    SetLoggingValues(service.GetSettings().logOptions, service.GetLogFile());
}

DWORD CSession::GetNonProxyRequestAction() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nonProxyAction;
}

std::string CSession::GetNonProxyRequestHost() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nonProxyHost;
}

DWORD CSession::GetNonProxyRequestPort() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nonProxyPort;
}

DWORD CSession::GetLogOptions() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logOptions;
}

CLogFileRef CSession::GetServiceLogFile() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logFile;
}

// --- Texts ----------------------------------------------------------------------------------

BOOL CSession::IsOwnAddress(const std::string&) { return FALSE; }

std::string CSession::GetDescription() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_description;
}

void CSession::SetDescription(std::string text) {
    if (!IsCleanDisplayText(text))
        text = SanitizeDisplayText(text);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_description = std::move(text);
}

void CSession::ReportStatus(std::string_view text) {
    CNorvaneEngine::Instance().NotifySessionStatus(GetClientAddress(), GetSessionId(),
                                                   SanitizeDisplayText(text));
}

CAccessContext& CSession::GetAccessContext() const { return CNorvaneEngine::Instance(); }

std::string CSession::GetUserName() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_userName;
}

int CSession::GetLogonLevel() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logonLevel;
}

std::string CSession::GetClientAddress() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clientAddress;
}

UINT CSession::GetClientPort() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clientPort;
}

void CSession::SetClientAddress(const std::string& address, UINT port) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clientAddress = address;
    m_clientPort = port;
}

DWORD CSession::GetSecondsConnected() const {
    const std::uint64_t elapsed = (Now() - m_startTick) / 1000;
    return static_cast<DWORD>(std::min<std::uint64_t>(elapsed, std::numeric_limits<DWORD>::max()));
}

// --- Request variables ----------------------------------------------------------------------

void CSession::GetVariable(const std::string&, CNVDataObject&) {}

void CSession::GetValue(DWORD id, CNVDataObject& value) {
    switch (id) {
    case 0: value.SetString(GetClientAddress()); return;
    case 1: value.SetDWORD(GetClientPort()); return;
    case 4: value.SetString(GetUserName()); return;
    case 5: value.SetInt(GetLogonLevel()); return;
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
        GetUserRequestValue(CNorvaneEngine::Instance().GetUserDatabase(), GetUserName(), id, value);
        return;
    default: value.SetInt(0); return;
    }
}

// --- Access ---------------------------------------------------------------------------------

BOOL CSession::IsAccessGranted(BOOL skipRequestTest) {
    CRight* right;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        right = m_accessRight;
    }
    if (right == nullptr)
        return FALSE;
    try {
        return right->IsGranted(*this, skipRequestTest) != FALSE ? TRUE : FALSE;
    } catch (...) {
        DropCurrentException();
    }
    return FALSE;
}

BOOL CSession::CheckAccess(BOOL skipRequestTest) {
    if (IsAccessGranted(skipRequestTest))
        return TRUE;
    try {
        SendAccessDenied();
    } catch (...) {
        DropCurrentException();
    }
    const std::string description = GetDescription();
    WriteAudit(LogFormat::kAuditFailedAuthorisation, "%s", description.c_str());
    WriteServiceLog(LogFormat::kLogFailedAuthorisation, "%s", description.c_str());
    Terminate(kExitError);
    return FALSE;
}

// --- Logs -----------------------------------------------------------------------------------

namespace {

struct SubjectTexts {
    std::string address;
    std::string user;
    std::string description;
};

SessionLogFields MakeFields(const SubjectTexts& texts, DWORD sessionId, const LogTraffic& traffic) {
    SessionLogFields fields;
    fields.clientAddress = texts.address;
    fields.userName = texts.user;
    fields.sessionId = sessionId;
    fields.description = texts.description;
    fields.traffic = traffic;
    return fields;
}

}  // namespace

void CSession::WriteAudit(DWORD eventBit, const char* format, ...) {
    if (!CUser::AnyAudited())
        return;  // the usual case: nobody audits anything, so not even the name is needed
    CNorvaneEngine& engine = CNorvaneEngine::Instance();
    std::string user = GetUserName();
    if (!engine.GetUserDatabase().IsAudited(user, eventBit))
        return;  // most users audit nothing: no line is made
    const SubjectTexts texts{GetClientAddress(), std::move(user), GetDescription()};
    LogTraffic traffic;
    if (eventBit == LogFormat::kAuditTraffic) {
        traffic = {GetClientBytesSent(), GetClientBytesReceived(), GetRemoteBytesSent(),
                   GetRemoteBytesReceived(), GetSecondsConnected()};
    }
    const SessionLogFields fields = MakeFields(texts, GetSessionId(), traffic);
    va_list args;
    va_start(args, format);
    engine.GetUserDatabase().WriteAuditV(engine.GetLogManager(), texts.user, eventBit, fields,
                                         format, args);
    va_end(args);
}

void CSession::WriteServiceLog(DWORD eventBit, const char* format, ...) {
    DWORD options;
    CLogFileRef file;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        options = m_logOptions;
        file = m_logFile;
    }
    if (!file || (options & eventBit) == 0)
        return;
    const SubjectTexts texts{GetClientAddress(), GetUserName(), GetDescription()};
    LogTraffic traffic;
    if (eventBit == LogFormat::kLogTraffic) {
        traffic = {GetClientBytesSent(), GetClientBytesReceived(), GetRemoteBytesSent(),
                   GetRemoteBytesReceived(), GetSecondsConnected()};
    }
    const SessionLogFields fields = MakeFields(texts, GetSessionId(), traffic);
    va_list args;
    va_start(args, format);
    PostSessionLogLineV(CNorvaneEngine::Instance().GetLogManager(), file, options, eventBit,
                        fields, format, args);
    va_end(args);
}

void CSession::LogEnd(int code) {
    const unsigned text = static_cast<unsigned>(code);
    WriteAudit(LogFormat::kAuditTraffic, "%s", "");
    WriteAudit(LogFormat::kAuditTerminated, kExitCodeText, text);
    WriteServiceLog(LogFormat::kLogTraffic, "%s", "");
    WriteServiceLog(LogFormat::kLogTerminated, kExitCodeText, text);
}

// --- Idle time-out --------------------------------------------------------------------------

void CSession::SetSessionTimeout(BOOL enabled, DWORD seconds) {
    m_idleEnabled = enabled;
    m_idleSeconds = seconds;
    ResetIdleTimer();
}

void CSession::ResetIdleTimer() {
    m_idleDeadline = Now() + static_cast<std::uint64_t>(m_idleSeconds.load()) * 1000;
}

std::uint64_t CSession::GetActivityCount() const {
    return static_cast<std::uint64_t>(GetClientBytesSent()) + GetClientBytesReceived() +
           GetRemoteBytesSent() + GetRemoteBytesReceived();
}

bool CSession::HasIdleExpired() {
    const std::uint64_t activity = GetActivityCount();
    if (m_lastActivity.exchange(activity) != activity) {
        ResetIdleTimer();
        return false;
    }
    return m_idleEnabled.load() && Now() > m_idleDeadline.load();
}

void CSession::CheckIdleTimeout() {
    if (HasIdleExpired())
        Terminate(kExitIdle);
}

// --- Archive --------------------------------------------------------------------------------

void CSession::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ar << m_sessionId.load();
        ar.WriteTime(m_startTime);
        ar << m_description << m_clientAddress << static_cast<DWORD>(m_clientPort);
        return;
    }
    DWORD id;
    ar >> id;
    const std::time_t start = ar.ReadTime();
    std::string description;
    std::string address;
    DWORD port;
    ar >> description >> address >> port;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessionId = id;
    m_startTime = start;
    m_description = SanitizeDisplayText(description);
    m_clientAddress = std::move(address);
    m_clientPort = port;
}

std::time_t CSession::GetStartTime() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_startTime;
}
