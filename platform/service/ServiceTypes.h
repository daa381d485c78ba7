#pragma once
// Names and numbers of the service control manager: service types, states, controls, access
// rights, the status record and the classic error numbers. The numbers are the classic ones so
// that an error printed by a command-line switch means what administrators expect it to mean.

#include "platform/kernel/Types.h"
#include "platform/registry/Registry.h"  // the standard rights DELETE and READ_CONTROL

#include <string>

// Service types (a service record's "Type" word).
inline constexpr DWORD SERVICE_KERNEL_DRIVER = 0x00000001;
inline constexpr DWORD SERVICE_FILE_SYSTEM_DRIVER = 0x00000002;
inline constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x00000010;
inline constexpr DWORD SERVICE_WIN32_SHARE_PROCESS = 0x00000020;
inline constexpr DWORD SERVICE_INTERACTIVE_PROCESS = 0x00000100;

// Start types.
inline constexpr DWORD SERVICE_BOOT_START = 0;
inline constexpr DWORD SERVICE_SYSTEM_START = 1;
inline constexpr DWORD SERVICE_AUTO_START = 2;
inline constexpr DWORD SERVICE_DEMAND_START = 3;
inline constexpr DWORD SERVICE_DISABLED = 4;

// Error control.
inline constexpr DWORD SERVICE_ERROR_IGNORE = 0;
inline constexpr DWORD SERVICE_ERROR_NORMAL = 1;
inline constexpr DWORD SERVICE_ERROR_SEVERE = 2;
inline constexpr DWORD SERVICE_ERROR_CRITICAL = 3;

// "Leave this field as it is" for ChangeServiceConfig.
inline constexpr DWORD SERVICE_NO_CHANGE = 0xFFFFFFFF;

// Current states.
inline constexpr DWORD SERVICE_STOPPED = 1;
inline constexpr DWORD SERVICE_START_PENDING = 2;
inline constexpr DWORD SERVICE_STOP_PENDING = 3;
inline constexpr DWORD SERVICE_RUNNING = 4;
inline constexpr DWORD SERVICE_CONTINUE_PENDING = 5;
inline constexpr DWORD SERVICE_PAUSE_PENDING = 6;
inline constexpr DWORD SERVICE_PAUSED = 7;

// Controls. Codes 128-255 are the service's own ("user controls").
inline constexpr DWORD SERVICE_CONTROL_STOP = 1;
inline constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
inline constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
inline constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;
inline constexpr DWORD SERVICE_CONTROL_PARAMCHANGE = 6;
inline constexpr DWORD SERVICE_USER_CONTROL_FIRST = 128;
inline constexpr DWORD SERVICE_USER_CONTROL_LAST = 255;

// Controls a service accepts (the status record's dwControlsAccepted).
inline constexpr DWORD SERVICE_ACCEPT_STOP = 0x00000001;
inline constexpr DWORD SERVICE_ACCEPT_PAUSE_CONTINUE = 0x00000002;
inline constexpr DWORD SERVICE_ACCEPT_SHUTDOWN = 0x00000004;
inline constexpr DWORD SERVICE_ACCEPT_PARAMCHANGE = 0x00000008;

// Access rights on the manager.
inline constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
inline constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr DWORD SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
inline constexpr DWORD SC_MANAGER_LOCK = 0x0008;
inline constexpr DWORD SC_MANAGER_QUERY_LOCK_STATUS = 0x0010;
inline constexpr DWORD SC_MANAGER_MODIFY_BOOT_CONFIG = 0x0020;
inline constexpr DWORD SC_MANAGER_ALL_ACCESS = 0x000F003F;

// Access rights on a service.
inline constexpr DWORD SERVICE_QUERY_CONFIG = 0x0001;
inline constexpr DWORD SERVICE_CHANGE_CONFIG = 0x0002;
inline constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
inline constexpr DWORD SERVICE_ENUMERATE_DEPENDENTS = 0x0008;
inline constexpr DWORD SERVICE_START = 0x0010;
inline constexpr DWORD SERVICE_STOP = 0x0020;
inline constexpr DWORD SERVICE_PAUSE_CONTINUE = 0x0040;
inline constexpr DWORD SERVICE_INTERROGATE = 0x0080;
inline constexpr DWORD SERVICE_USER_DEFINED_CONTROL = 0x0100;
inline constexpr DWORD SERVICE_ALL_ACCESS = 0x000F01FF;

// Standard and generic rights, as far as the manager uses them.
inline constexpr DWORD STANDARD_RIGHTS_REQUIRED = 0x000F0000;
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD GENERIC_EXECUTE = 0x20000000;
inline constexpr DWORD GENERIC_ALL = 0x10000000;

// Error numbers the service control manager, the dispatcher and the event log report through
// GetLastError(), besides the common ones of platform/kernel/Types.h.
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
inline constexpr DWORD ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr DWORD ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr DWORD ERROR_SERVICE_NO_THREAD = 1054;
inline constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr DWORD ERROR_SERVICE_DISABLED = 1058;
inline constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr DWORD ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr DWORD ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
inline constexpr DWORD ERROR_PROCESS_ABORTED = 1067;
inline constexpr DWORD ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
inline constexpr DWORD ERROR_SERVICE_EXISTS = 1073;

// The status record a service reports and a query returns.
struct SERVICE_STATUS {
    DWORD dwServiceType = 0;
    DWORD dwCurrentState = 0;
    DWORD dwControlsAccepted = 0;
    DWORD dwWin32ExitCode = 0;
    DWORD dwServiceSpecificExitCode = 0;
    DWORD dwCheckPoint = 0;
    DWORD dwWaitHint = 0;

    friend bool operator==(const SERVICE_STATUS&, const SERVICE_STATUS&) = default;
};

// A service's configuration, as kept in its record.
struct QUERY_SERVICE_CONFIG {
    DWORD dwServiceType = 0;
    DWORD dwStartType = 0;
    DWORD dwErrorControl = 0;
    std::string lpBinaryPathName;
    std::string lpLoadOrderGroup;
    DWORD dwTagId = 0;
    std::string lpDependencies;
    std::string lpServiceStartName;
    std::string lpDisplayName;
};

// Handles to the manager and to services (see ServiceControlManager.h).
struct ScHandleObject;
using SC_HANDLE = ScHandleObject*;

// The handle a service gets from RegisterServiceCtrlHandler (0 is no handle).
using SERVICE_STATUS_HANDLE = std::uintptr_t;

// The service's main function (run by the dispatcher on a thread of its own) and its control
// handler (run by the dispatcher on the thread that called StartServiceCtrlDispatcher).
using LPSERVICE_MAIN_FUNCTION = void (*)(DWORD argc, char** argv);
using LPHANDLER_FUNCTION = void (*)(DWORD control);

struct SERVICE_TABLE_ENTRY {
    const char* lpServiceName;
    LPSERVICE_MAIN_FUNCTION lpServiceProc;
};
