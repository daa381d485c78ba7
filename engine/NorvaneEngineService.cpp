#include "engine/NorvaneEngineService.h"

#include "engine/ServiceTexts.h"
#include "foundation/X1Socket.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/InstanceLock.h"
#include "platform/service/ServiceControlManager.h"

using namespace ServiceTexts;

namespace {
// The engine's stream sockets send and receive with time-outs (the socket layer's mode 2).
constexpr int kEngineSocketMode = 2;
}  // namespace

CNorvaneEngineService::CNorvaneEngineService(IEngineLifecycle& engine)
    : CNTService(kServiceName, kDisplayName), m_engine(engine) {
    // SIGTERM reaches the service as the shutdown control; accepting it lets the engine shut
    // down in order instead of being cut off.
    SetAcceptedControls(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
}

void CNorvaneEngineService::Run() {
    CInstanceLock instance;
    switch (instance.TryAcquire(kInstanceLockName)) {
    case CInstanceLock::Result::AlreadyExists:
        LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_DEBUG, kAlreadyRunning);
        break;
    case CInstanceLock::Result::Failed:
        // Running without the lock could let two engines share one state folder.
        LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_DEBUG, kInstanceLockFailed);
        break;
    case CInstanceLock::Result::Acquired:
        DisableDesktopInteraction();
        X1Socket::SetDefaultMode(kEngineSocketMode);
        if (!m_engine.Initialize()) {
            LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_DEBUG, kEngineThreadFailed);
            break;
        }
        while (m_bIsRunning)
            Sleep(1000);
        instance.Release();
        break;
    }
    LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_DEBUG, kEngineStopped);
}

void CNorvaneEngineService::DisableDesktopInteraction() {
    CScHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return;
    CScHandle service(OpenService(manager.Get(), kServiceName, SERVICE_ALL_ACCESS));
    QUERY_SERVICE_CONFIG config;
    if (!service || !QueryServiceConfig(service.Get(), &config) ||
        !(config.dwServiceType & SERVICE_INTERACTIVE_PROCESS))
        return;
    if (ChangeServiceConfig(service.Get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_NO_CHANGE,
                            SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr))
        LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_DEBUG, kInteractiveDisabled);
}

BOOL CNorvaneEngineService::OnInit() { return TRUE; }

void CNorvaneEngineService::OnStop() {
    LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_DEBUG, kStopReceived);
    m_engine.ShutDown(FALSE);
}

void CNorvaneEngineService::OnShutdown() {
    LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_DEBUG, kSystemShuttingDown);
    m_engine.ShutDown(FALSE);
}

BOOL CNorvaneEngineService::OnUserControl(DWORD) { return FALSE; }

void CNorvaneEngineService::EndAfterEngineShutDown() { m_bIsRunning = false; }
