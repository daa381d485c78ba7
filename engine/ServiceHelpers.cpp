#include "engine/ServiceHelpers.h"

#include "platform/kernel/Clock.h"
#include "platform/service/ServiceControlManager.h"

namespace {

// Opens the manager with full access and `serviceName` with `access`, then runs `action` on
// the service; FALSE when an open fails.
template <typename Action>
BOOL WithService(const char* serviceName, DWORD access, Action action) {
    CScHandle manager(OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return FALSE;
    CScHandle service(OpenService(manager.Get(), serviceName, access));
    if (!service)
        return FALSE;
    return action(service.Get());
}

}  // namespace

BOOL ServiceExists(const char* serviceName) {
    return WithService(serviceName, SERVICE_QUERY_CONFIG, [](SC_HANDLE) { return TRUE; });
}

BOOL DeleteServiceByName(const char* serviceName) {
    return WithService(serviceName, DELETE, [](SC_HANDLE service) { return DeleteService(service); });
}

BOOL QueryServiceByName(const char* serviceName) {
    return WithService(serviceName, SERVICE_QUERY_STATUS, [](SC_HANDLE service) {
        SERVICE_STATUS status;
        return QueryServiceStatus(service, &status);
    });
}

BOOL StopServiceByName(const char* serviceName) {
    return WithService(serviceName, SERVICE_STOP, [](SC_HANDLE service) {
        SERVICE_STATUS status;
        if (ControlService(service, SERVICE_CONTROL_STOP, &status))
            return TRUE;
        return GetLastError() == ERROR_SERVICE_NOT_ACTIVE ? TRUE : FALSE;
    });
}

BOOL StartServiceByName(const char* serviceName) {
    return WithService(serviceName, SERVICE_START, [](SC_HANDLE service) {
        if (StartService(service, 0, nullptr))
            return TRUE;
        return GetLastError() == ERROR_SERVICE_ALREADY_RUNNING ? TRUE : FALSE;
    });
}
