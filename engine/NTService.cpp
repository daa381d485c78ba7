#include "engine/NTService.h"

#include "engine/ServiceHelpers.h"
#include "engine/ServiceTexts.h"
#include "foundation/RegistryStore.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Paths.h"
#include "platform/kernel/Thread.h"
#include "platform/registry/Registry.h"
#include "platform/service/DebugTrace.h"
#include "platform/service/ServiceControlManager.h"
#include "platform/service/ServiceDispatcher.h"

#include <cstdarg>
#include <cstdio>

using namespace ServiceTexts;

CNTService* CNTService::m_pThis = nullptr;

namespace {

constexpr int kExitSucceeded = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Closes a registry key when it goes.
struct KeyHolder {
    HKEY key = nullptr;
    ~KeyHolder() {
        if (key)
            RegCloseKey(key);
    }
};

std::string EventSourceKey(const std::string& serviceName) {
    return kEventSourceKeyPrefix + serviceName;
}

}  // namespace

CNTService::CNTService(const char* serviceName, const char* displayName)
    : m_szServiceName(serviceName), m_szDisplayName(displayName) {
    m_pThis = this;
    m_Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    m_Status.dwCurrentState = SERVICE_STOPPED;
    m_Status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    RegisterEventMessageTable(kEventMessages, kEventMessageCount);
}

CNTService::~CNTService() {
    DebugMsg("CNTService::~CNTService()");
    if (m_hEventSource)
        DeregisterEventSource(m_hEventSource);
    if (m_pThis == this)
        m_pThis = nullptr;
}

// --- command line ------------------------------------------------------------------------------

BOOL CNTService::ParseStandardArgs(int argc, char** argv) {
    if (argc < 2)
        return FALSE;
    m_bSwitchHandled = true;
    m_nSwitchStatus = RunSwitch(argv[1] ? argv[1] : "");
    std::fflush(stdout);
    return TRUE;
}

int CNTService::RunSwitch(const std::string& option) {
    const char* display = m_szDisplayName.c_str();
    const char* name = m_szServiceName.c_str();
    if (option == "-v") {
        std::printf(kPrintVersion, display);
        std::printf(kPrintIsInstalled, IsInstalled() ? "" : " not");
        return kExitSucceeded;
    }
    if (option == "-i") {
        if (IsInstalled()) {
            std::printf(kPrintAlreadyInstalled, display);
            return kExitFailed;
        }
        if (Install()) {
            std::printf(kPrintInstalled, display);
            return kExitSucceeded;
        }
        const int error = static_cast<int>(GetLastError());
        if (m_bInstalledWithoutEventSource)
            std::printf(kPrintInstalledWithoutEventSource, display, error);
        else
            std::printf(kPrintInstallFailed, display, error);
        return kExitFailed;
    }
    const bool known = option == "-u" || option == "-start" || option == "-stop" ||
                       option == "-clean";
    if (!known) {
        std::printf("%s", kUsage);
        return kExitUsage;
    }
    if (!IsInstalled()) {
        std::printf(kPrintNotInstalled, display);
        return kExitFailed;
    }
    if (option == "-u") {
        if (Uninstall()) {
            std::printf(kPrintRemoved, display, ProgramPath().c_str());
            return kExitSucceeded;
        }
        std::printf(kPrintRemoveFailed, display, static_cast<int>(GetLastError()));
        return kExitFailed;
    }
    if (option == "-start") {
        if (StartServiceByName(name)) {
            std::printf(kPrintStarted, display);
            return kExitSucceeded;
        }
        std::printf(kPrintStartFailed, display, static_cast<unsigned>(GetLastError()));
        return kExitFailed;
    }
    if (option == "-stop") {
        if (StopServiceByName(name)) {
            std::printf(kPrintStopped, display);
            return kExitSucceeded;
        }
        return kExitFailed;  // nothing is printed when the stop fails
    }
    // -clean
    int status = kExitSucceeded;
    if (!StopServiceByName(name)) {
        std::printf(kPrintStopFailedClean, display);
        status = kExitFailed;
    }
    if (!Uninstall()) {
        std::printf(kPrintRemoveFailedClean, display);
        return kExitFailed;
    }
    if (!DeleteConfiguration()) {
        std::fflush(stdout);
        std::fprintf(stderr, kPrintConfigurationNotDeleted, display);
        return kExitFailed;
    }
    return status;
}

bool CNTService::DeleteConfiguration() {
    SetRegistryRoot(kCompanyName, kProductName);
    return RegDeleteKeyTree(nullptr) != FALSE;
}

int CNTService::ExitStatus() const {
    if (m_bSwitchHandled)
        return m_nSwitchStatus;
    return Status().dwWin32ExitCode == 0 ? kExitSucceeded : kExitFailed;
}

// --- installation ------------------------------------------------------------------------------

BOOL CNTService::IsInstalled() {
    CScHandle manager(OpenSCManager(nullptr, nullptr, GENERIC_READ));
    if (!manager)
        return FALSE;
    CScHandle service(OpenService(manager.Get(), m_szServiceName.c_str(), SERVICE_QUERY_CONFIG));
    return service ? TRUE : FALSE;
}

BOOL CNTService::Install() {
    m_bInstalledWithoutEventSource = false;
    CScHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return FALSE;
    const std::string program = ProgramPath();
    CScHandle service(CreateService(manager.Get(), m_szServiceName.c_str(),
                                    m_szDisplayName.c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                    SERVICE_ERROR_NORMAL, program.c_str(), nullptr, nullptr,
                                    nullptr, nullptr, nullptr));
    if (!service)
        return FALSE;

    const LONG error = RegisterEventSourceKey(program);
    if (error != ERROR_SUCCESS) {
        // The service exists now; say so rather than pretend nothing happened.
        m_bInstalledWithoutEventSource = true;
        SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_INSTALLED, m_szServiceName.c_str());
    return TRUE;
}

LONG CNTService::RegisterEventSourceKey(const std::string& program) {
    KeyHolder key;
    LONG error = RegCreateKeyEx(HKEY_LOCAL_MACHINE, EventSourceKey(m_szServiceName).c_str(),
                                KEY_ALL_ACCESS, &key.key);
    if (error == ERROR_SUCCESS)
        error = RegSetValueEx(key.key, kEventMessageFileValue, REG_EXPAND_SZ, program + '\0');
    if (error == ERROR_SUCCESS) {
        const DWORD types = kTypesSupported;
        const BYTE bytes[4] = {static_cast<BYTE>(types), static_cast<BYTE>(types >> 8),
                               static_cast<BYTE>(types >> 16), static_cast<BYTE>(types >> 24)};
        error = RegSetValueEx(key.key, kTypesSupportedValue, REG_DWORD, bytes, sizeof bytes);
    }
    return error;
}

BOOL CNTService::Uninstall() {
    CScHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return FALSE;
    CScHandle service(OpenService(manager.Get(), m_szServiceName.c_str(), DELETE));
    if (!service)
        return FALSE;
    if (!DeleteService(service.Get())) {
        const DWORD error = GetLastError();
        LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_NOTREMOVED, m_szServiceName.c_str());
        SetLastError(error);
        return FALSE;
    }
    // What -i created goes with the service: its event source key too.
    KeyHolder application;
    const std::string sourceKey = EventSourceKey(m_szServiceName);
    const std::string parent = sourceKey.substr(0, sourceKey.size() - m_szServiceName.size() - 1);
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, parent.c_str(), KEY_ALL_ACCESS, &application.key) ==
        ERROR_SUCCESS)
        RegDeleteTree(application.key, m_szServiceName.c_str());
    LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_REMOVED, m_szServiceName.c_str());
    return TRUE;
}

// --- events and traces -------------------------------------------------------------------------

void CNTService::LogEvent(WORD type, DWORD eventId, const char* string1, const char* string2,
                          const char* string3) {
    const char* strings[3] = {string1, string2, string3};
    WORD count = 0;
    for (const char* s : strings)
        if (s)
            ++count;
    std::lock_guard<std::mutex> lock(m_eventMutex);
    if (!m_hEventSource)
        m_hEventSource = RegisterEventSource(nullptr, m_szServiceName.c_str());
    if (m_hEventSource)
        ReportEvent(m_hEventSource, type, 0, eventId, nullptr, count, 0, strings, nullptr);
}

void CNTService::DebugMsg(const char* format, ...) {
    char prefix[320];
    std::snprintf(prefix, sizeof prefix, "[%s](%lu): ", m_szServiceName.c_str(),
                  static_cast<unsigned long>(GetCurrentThreadId()));
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    OutputDebugString((std::string(prefix) + text + "\n").c_str());
}

// --- the service itself ------------------------------------------------------------------------

BOOL CNTService::StartService() {
    const SERVICE_TABLE_ENTRY table[] = {{m_szServiceName.c_str(), ServiceMain},
                                         {nullptr, nullptr}};
    DebugMsg("Calling StartServiceCtrlDispatcher()");
    BOOL result = StartServiceCtrlDispatcher(table);
    const DWORD error = GetLastError();
    DebugMsg("Returned from StartServiceCtrlDispatcher()");
    SetLastError(error);
    return result;
}

void CNTService::ServiceMain(DWORD /*argc*/, char** /*argv*/) {
    CNTService* self = m_pThis;
    self->DebugMsg("Entering CNTService::ServiceMain()");
    {
        std::lock_guard<std::mutex> lock(self->m_statusMutex);
        self->m_Status.dwCurrentState = SERVICE_START_PENDING;
    }
    self->m_hServiceStatus = RegisterServiceCtrlHandler(self->m_szServiceName.c_str(), Handler);
    if (self->m_hServiceStatus == 0) {
        self->LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_CTRLHANDLERNOTINSTALLED);
        return;
    }
    if (self->Initialize()) {
        self->m_bIsRunning = true;
        {
            std::lock_guard<std::mutex> lock(self->m_statusMutex);
            self->m_Status.dwWin32ExitCode = 0;
            self->m_Status.dwCheckPoint = 0;
            self->m_Status.dwWaitHint = 0;
        }
        self->Run();
    }
    self->SetStatus(SERVICE_STOPPED);
    self->DebugMsg("Leaving CNTService::ServiceMain()");
}

BOOL CNTService::Initialize() {
    DebugMsg("Entering CNTService::Initialize()");
    SetStatus(SERVICE_START_PENDING);
    BOOL initialised = OnInit();
    {
        std::lock_guard<std::mutex> lock(m_statusMutex);
        m_Status.dwWin32ExitCode = GetLastError();
        m_Status.dwCheckPoint = 0;
        m_Status.dwWaitHint = 0;
    }
    if (!initialised) {
        LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_FAILEDINIT);
        SetStatus(SERVICE_STOPPED);
        return FALSE;
    }
    LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_STARTED);
    SetStatus(SERVICE_RUNNING);
    DebugMsg("Leaving CNTService::Initialize()");
    return TRUE;
}

void CNTService::SetStatus(DWORD state) {
    DebugMsg("CNTService::SetStatus(%lu, %lu)", static_cast<unsigned long>(m_hServiceStatus),
             static_cast<unsigned long>(state));
    std::lock_guard<std::mutex> lock(m_statusMutex);
    m_Status.dwCurrentState = state;
    SetServiceStatus(m_hServiceStatus, &m_Status);
}

void CNTService::ReportStatus() {
    std::lock_guard<std::mutex> lock(m_statusMutex);
    SetServiceStatus(m_hServiceStatus, &m_Status);
}

SERVICE_STATUS CNTService::Status() const {
    std::lock_guard<std::mutex> lock(m_statusMutex);
    return m_Status;
}

void CNTService::SetAcceptedControls(DWORD accepted) {
    std::lock_guard<std::mutex> lock(m_statusMutex);
    m_Status.dwControlsAccepted = accepted;
}

void CNTService::Handler(DWORD control) {
    CNTService* self = m_pThis;
    self->DebugMsg("CNTService::Handler(%lu)", static_cast<unsigned long>(control));
    auto setState = [self](DWORD state) {
        std::lock_guard<std::mutex> lock(self->m_statusMutex);
        self->m_Status.dwCurrentState = state;
    };
    switch (control) {
    case SERVICE_CONTROL_STOP:
        setState(SERVICE_STOP_PENDING);
        self->OnStop();
        self->m_bIsRunning = false;
        self->LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_STOPPED);
        break;
    case SERVICE_CONTROL_PAUSE:
        self->OnPause();
        break;
    case SERVICE_CONTROL_CONTINUE:
        self->OnContinue();
        break;
    case SERVICE_CONTROL_INTERROGATE:
        self->OnInterrogate();
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        // The shutdown control (SIGTERM) ends the service as a stop does: without that the
        // service thread would idle on and the process would never end.
        setState(SERVICE_STOP_PENDING);
        self->OnShutdown();
        self->m_bIsRunning = false;
        break;
    default:
        if (control < SERVICE_USER_CONTROL_FIRST || !self->OnUserControl(control))
            self->LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_BADREQUEST);
        break;
    }
    const SERVICE_STATUS status = self->Status();
    self->DebugMsg("Updating status (%lu, %lu)", static_cast<unsigned long>(self->m_hServiceStatus),
                   static_cast<unsigned long>(status.dwCurrentState));
    self->ReportStatus();
}

// --- base versions of the overridable operations -----------------------------------------------

void CNTService::Run() {
    DebugMsg("Entering CNTService::Run()");
    while (m_bIsRunning) {
        DebugMsg("Sleeping...");
        Sleep(5000);
    }
    DebugMsg("Leaving CNTService::Run()");
}

BOOL CNTService::OnInit() {
    DebugMsg("CNTService::OnInit()");
    return TRUE;
}

void CNTService::OnStop() { DebugMsg("CNTService::OnStop()"); }

void CNTService::OnInterrogate() { DebugMsg("CNTService::OnInterrogate()"); }

void CNTService::OnPause() { DebugMsg("CNTService::OnPause()"); }

void CNTService::OnContinue() { DebugMsg("CNTService::OnContinue()"); }

void CNTService::OnShutdown() { DebugMsg("CNTService::OnShutdown()"); }

BOOL CNTService::OnUserControl(DWORD control) {
    DebugMsg("CNTService::OnUserControl(%8.8lXH)", static_cast<unsigned long>(control));
    return FALSE;
}
