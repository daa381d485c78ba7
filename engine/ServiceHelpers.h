#pragma once
// Acting on any service by name through the service control manager. Each helper opens the
// manager with full access and the service with the access it needs, and closes both; a
// failure to open either returns FALSE with the reason in GetLastError().

#include "platform/kernel/Types.h"

// TRUE when the service exists (it could be opened to read its configuration).
BOOL ServiceExists(const char* serviceName);

// TRUE when the service was deleted (or, running, marked for deletion when it stops).
BOOL DeleteServiceByName(const char* serviceName);

// TRUE when the service's status could be queried.
BOOL QueryServiceByName(const char* serviceName);

// TRUE when the stop was accepted (the service's handler has returned by then), or when the
// service was not running.
BOOL StopServiceByName(const char* serviceName);

// TRUE when the service started without arguments, or was running already.
BOOL StartServiceByName(const char* serviceName);
