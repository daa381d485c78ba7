#pragma once
// The program side of a service: the control dispatcher, handler registration and status
// reports.
//
// StartServiceCtrlDispatcher is called on the program's main thread and blocks there. It
// takes over the channels the manager handed to the program (ControlProtocol.h), runs the
// service's main function on a new thread, and delivers controls to the registered handler on
// the calling thread, one at a time. It returns once the service has reported SERVICE_STOPPED
// (or its main function has returned) and its main function has ended, after which the
// control endpoint is gone.
//
// Controls follow the manager's rules: a control the service does not accept is refused with
// ERROR_INVALID_SERVICE_CONTROL (interrogate and codes 7-255 are always delivered), one that
// arrives while the service stops or has stopped with ERROR_SERVICE_CANNOT_ACCEPT_CTRL or
// ERROR_SERVICE_NOT_ACTIVE. A control that arrives while the service is still starting waits
// (up to 30 s) until it reports another state, so a stop right after a start is never lost.
// SIGTERM is delivered as the shutdown control when the service accepts it, else as stop.

#include "platform/kernel/Types.h"
#include "platform/service/ServiceTypes.h"

#include <string>

// Blocks as described above. False with ERROR_FAILED_SERVICE_CONTROLLER_CONNECT when the
// program was not started by the service control manager (or the handed channels are not
// what they must be, or the table does not hold the service it was started as), and with
// ERROR_SERVICE_ALREADY_RUNNING when a dispatcher already runs in this process.
BOOL StartServiceCtrlDispatcher(const SERVICE_TABLE_ENTRY* table);

// Registers the control handler of the service being dispatched; the returned handle is what
// SetServiceStatus takes. 0 with ERROR_SERVICE_DOES_NOT_EXIST when no dispatcher runs or the
// name is not the service's.
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(const char* serviceName,
                                                 LPHANDLER_FUNCTION handler);

// Records `status` as the service's current status (what queries answer and what controls are
// judged by). False with ERROR_INVALID_HANDLE for a handle that is not the current one.
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status);

// How the dispatcher judges one control against the last reported status: ERROR_SUCCESS to
// deliver it, a refusal, or ERROR_IO_PENDING to hold it until the status changes.
inline constexpr DWORD ERROR_IO_PENDING = 997;
DWORD JudgeServiceControl(DWORD control, const SERVICE_STATUS& status);
