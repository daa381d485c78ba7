#pragma once
// Our own service control manager: service records, start, control, query and delete.
//
// Records. A service is the key HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\<name> of
// the machine hive with the values of ServiceRecords.h ("Type" marks a key as a service record:
// a key without it, such as "EventLog", is not a service). There is no manager process: every
// call reads and writes the records itself, and a running service is one whose program serves
// its control endpoint (ControlProtocol.h). So the records and the endpoints of one state folder
// form one manager, and two state folders two independent ones.
//
// Starting spawns the recorded program detached and returns once its dispatcher has connected.
// The service runs as the user who started it; only that user or root may control it.
//
// Handles come from OpenSCManager, OpenService and CreateService, carry the access they were
// opened with (an operation outside it fails with ERROR_ACCESS_DENIED) and are closed with
// CloseServiceHandle. Any thread may use them. Errors are reported through GetLastError() with
// the classic numbers of ServiceTypes.h.

#include "platform/kernel/Types.h"
#include "platform/service/ServiceTypes.h"

// Opens the manager of this state folder. `machine` must be null or empty (this machine) and
// `database` null. Write access needs a writable machine hive (ERROR_ACCESS_DENIED otherwise).
SC_HANDLE OpenSCManager(const char* machine, const char* database, DWORD access);

// Creates a service record and returns a handle to it. The name must be a safe file name of at
// most 256 bytes (ERROR_INVALID_NAME); the type SERVICE_WIN32_OWN_PROCESS or
// SERVICE_WIN32_SHARE_PROCESS, optionally with SERVICE_INTERACTIVE_PROCESS; the start type
// SERVICE_AUTO_START, SERVICE_DEMAND_START or SERVICE_DISABLED; the program path absolute.
// A null or empty display name takes the service name. Load-order group, tag, dependencies and
// password are not supported (they must be null or empty); a null account is "LocalSystem".
// ERROR_SERVICE_EXISTS when the record exists, ERROR_SERVICE_MARKED_FOR_DELETE when a record of
// that name waits for its running service to stop before it goes.
SC_HANDLE CreateService(SC_HANDLE manager, const char* serviceName, const char* displayName,
                        DWORD access, DWORD serviceType, DWORD startType, DWORD errorControl,
                        const char* binaryPathName, const char* loadOrderGroup, DWORD* tagId,
                        const char* dependencies, const char* serviceStartName,
                        const char* password);

// Opens an existing service (names compare case-insensitively). ERROR_SERVICE_DOES_NOT_EXIST
// when there is none.
SC_HANDLE OpenService(SC_HANDLE manager, const char* serviceName, DWORD access);

BOOL CloseServiceHandle(SC_HANDLE handle);

// Deletes the record; a running service's record is marked and goes when the service stops.
// ERROR_SERVICE_MARKED_FOR_DELETE when it is marked already.
BOOL DeleteService(SC_HANDLE service);

// Starts the service's program with no arguments (`argc` must be 0) and returns once its
// dispatcher has connected. ERROR_SERVICE_ALREADY_RUNNING when it runs,
// ERROR_SERVICE_DISABLED, ERROR_SERVICE_MARKED_FOR_DELETE, ERROR_FILE_NOT_FOUND /
// ERROR_ACCESS_DENIED / ERROR_BAD_EXE_FORMAT when the program cannot be run, and
// ERROR_SERVICE_REQUEST_TIMEOUT when it ended, or did not connect within 30 s, without its
// dispatcher connecting.
BOOL StartService(SC_HANDLE service, DWORD argc, const char** argv);

// Sends `control` and fills `status` with the service's status after its handler returned.
// A stop returns only after the handler has returned and then waits up to 30 s for the
// service's process to end. The shutdown control cannot be sent (the manager sends it on
// SIGTERM). ERROR_SERVICE_NOT_ACTIVE when the service does not run.
BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status);

// The service's current status; a service that does not run is SERVICE_STOPPED.
BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);

BOOL QueryServiceConfig(SC_HANDLE service, QUERY_SERVICE_CONFIG* config);

// Changes the record: SERVICE_NO_CHANGE (words) or null (texts) leaves a field as it is. The
// same rules as CreateService apply to what is given.
BOOL ChangeServiceConfig(SC_HANDLE service, DWORD serviceType, DWORD startType,
                         DWORD errorControl, const char* binaryPathName,
                         const char* loadOrderGroup, DWORD* tagId, const char* dependencies,
                         const char* serviceStartName, const char* password,
                         const char* displayName);

// Closes a manager or service handle when it goes.
class CScHandle {
public:
    explicit CScHandle(SC_HANDLE handle = nullptr) : m_handle(handle) {}
    ~CScHandle() {
        if (m_handle)
            CloseServiceHandle(m_handle);
    }
    CScHandle(const CScHandle&) = delete;
    CScHandle& operator=(const CScHandle&) = delete;
    SC_HANDLE Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    SC_HANDLE m_handle;
};
