#include "engine/framework/Session.h"

#include "engine/LogEntry.h"
#include "engine/LogFormat.h"
#include "engine/LogManager.h"
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
#include "foundation/ScopedLock.h"
#include "platform/framework/Exception.h"
#include "platform/kernel/Clock.h"

#include <algorithm>
#include <array>
#include <limits>
#include <span>

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
    // The connection keeps its place among the live sessions until both have gone.
    if (!successor.HoldsLease())
        successor.m_aliveLease = m_aliveLease;
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
    m_serviceLogBits = file ? options : 0;
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

// --- Logs ---------------------------------------------------------------------------------

// One line to post: its form, whether it goes to the audit file `auditFile` (else to the
// service log, if still chosen when the texts are taken), and its message.
struct CSession::LogLine {
    const LogFormat::LogLineForm* form = nullptr;
    const CLogFileRef* auditFile = nullptr;
    std::string_view message;
};

namespace {

// The audit file of the session's user when the user audits any of `bits`, with those it
// audits in `*audited`; null (and 0) when it audits none of them or its file is not open.
CLogFileRef FindAuditFile(const CSession& session, DWORD bits, DWORD* audited) {
    *audited = 0;
    if (!CLogFile::AnyAuditLogOpen())
        return nullptr;  // the usual case, nobody audits, costs no lookup
    const std::string userName = session.GetUserName();
    CGroupMemberDatabase& users = CNorvaneEngine::Instance().GetUserDatabase();
    CScopedLock lock(users);
    const CUser* user = users.FindUserAccount(userName);
    if (user == nullptr || !user->GetAuditUser() || (user->GetAuditOptions() & bits) == 0)
        return nullptr;
    CLogFileRef file = user->GetAuditFile();
    if (file)
        *audited = user->GetAuditOptions() & bits;
    return file;
}

std::string_view FormatMessage(std::span<char, LogFormat::kMessageBuffer> buffer, const char* format, ...)
    NV_PRINTF_FORMAT(2, 3);
std::string_view FormatMessage(std::span<char, LogFormat::kMessageBuffer> buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string_view message = FormatLogMessageInto(buffer, format, args);
    va_end(args);
    return message;
}

}  // namespace

LogTraffic CSession::GetLogTraffic() const {
    return {GetClientBytesSent(), GetClientBytesReceived(), GetRemoteBytesSent(),
            GetRemoteBytesReceived(), GetSecondsConnected()};
}

void CSession::PostLogLines(const LogLine* lines, std::size_t count, const LogTraffic& traffic) {
    constexpr std::size_t kMostLines = 4;
    count = std::min(count, kMostLines);
    // The texts are copied out under the lock, onto the stack when they fit (they nearly always
    // do); the entries are made after it, so the lock is not held while their memory is filled.
    std::array<char, 1024> nearby;
    std::string farther;
    std::string_view address;
    std::string_view user;
    std::string_view description;
    std::array<CLogFileRef, kMostLines> files;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::size_t size = m_clientAddress.size() + m_userName.size() + m_description.size();
        char* at = nearby.data();
        if (size > nearby.size()) {
            farther.resize(size);
            at = farther.data();
        }
        const auto keep = [&at](const std::string& text) {
            const std::string_view kept(at, text.size());
            at = std::copy(text.begin(), text.end(), at);
            return kept;
        };
        address = keep(m_clientAddress);
        user = keep(m_userName);
        description = keep(m_description);
        for (std::size_t i = 0; i < count; ++i) {
            if (lines[i].auditFile == nullptr && (m_logOptions & lines[i].form->bit) == lines[i].form->bit)
                files[i] = m_logFile;
        }
    }
    SessionLogFields fields;
    fields.clientAddress = address;
    fields.userName = user;
    fields.sessionId = GetSessionId();
    fields.description = description;
    fields.traffic = traffic;
    CLogManager& manager = CNorvaneEngine::Instance().GetLogManager();
    for (std::size_t i = 0; i < count; ++i) {
        const LogLine& line = lines[i];
        if (line.auditFile != nullptr)
            manager.PostLogEntry(MakeAuditLogEntry(*line.auditFile, *line.form, fields, line.message));
        else if (files[i])
            manager.PostLogEntry(MakeSessionLogEntry(std::move(files[i]), *line.form, fields, line.message));
    }
}

void CSession::PostLogLineV(const LogFormat::LogLineForm& form, const CLogFileRef* auditFile,
                            const char* format, va_list args) {
    // Lines that do not show the message leave it unformatted.
    std::array<char, LogFormat::kMessageBuffer> buffer;
    LogLine line{&form, auditFile, {}};
    if (form.field == LogFormat::LogField::kText)
        line.message = FormatLogMessageInto(buffer, format, args);
    PostLogLines(&line, 1, form.field == LogFormat::LogField::kTraffic ? GetLogTraffic() : LogTraffic{});
}

void CSession::WriteAudit(DWORD eventBit, const char* format, ...) {
    const LogFormat::LogLineForm* form = FindAuditLineForm(eventBit);
    if (form == nullptr)
        return;
    DWORD audited;
    const CLogFileRef file = FindAuditFile(*this, eventBit, &audited);
    if (audited != eventBit)
        return;  // most users audit nothing: no line is made
    va_list args;
    va_start(args, format);
    PostLogLineV(*form, &file, format, args);
    va_end(args);
}

void CSession::WriteServiceLog(DWORD eventBit, const char* format, ...) {
    // An unchosen line costs one load; the choice is confirmed under the lock with the texts.
    if ((m_serviceLogBits.load(std::memory_order_relaxed) & eventBit) != eventBit)
        return;
    const LogFormat::LogLineForm* form = FindSessionLineForm(eventBit);
    if (form == nullptr)
        return;
    va_list args;
    va_start(args, format);
    PostLogLineV(*form, nullptr, format, args);
    va_end(args);
}

void CSession::LogEnd(int code) {
    using namespace LogFormat;
    DWORD audited;
    const CLogFileRef auditFile = FindAuditFile(*this, kAuditTraffic | kAuditTerminated, &audited);
    const DWORD logged = m_serviceLogBits.load(std::memory_order_relaxed) & (kLogTraffic | kLogTerminated);
    if (audited == 0 && logged == 0)
        return;
    std::array<char, kMessageBuffer> buffer;
    std::string_view exitText;
    if ((audited & kAuditTerminated) != 0 || (logged & kLogTerminated) != 0)
        exitText = FormatMessage(buffer, kExitCodeText, static_cast<unsigned>(code));
    std::array<LogLine, 4> lines;
    std::size_t count = 0;
    if ((audited & kAuditTraffic) != 0)
        lines[count++] = {FindAuditLineForm(kAuditTraffic), &auditFile, {}};
    if ((audited & kAuditTerminated) != 0)
        lines[count++] = {FindAuditLineForm(kAuditTerminated), &auditFile, exitText};
    if ((logged & kLogTraffic) != 0)
        lines[count++] = {FindSessionLineForm(kLogTraffic), nullptr, {}};
    if ((logged & kLogTerminated) != 0)
        lines[count++] = {FindSessionLineForm(kLogTerminated), nullptr, exitText};
    const bool traffic = (audited & kAuditTraffic) != 0 || (logged & kLogTraffic) != 0;
    PostLogLines(lines.data(), count, traffic ? GetLogTraffic() : LogTraffic{});
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
