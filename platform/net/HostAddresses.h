#pragma once
// The IPv4 addresses of this host: every address 127.x.x.x (the whole loopback network reaches
// this host on Linux) and the addresses of its own network interfaces, as the kernel reports
// them at the moment of the call (interfaces come and go, so nothing is cached).

#include "platform/kernel/Types.h"

#include <vector>

// True for 127.0.0.0/8.
bool IsLoopbackAddress(DWORD address);

// The IPv4 addresses of this host's interfaces (loopback included), in the kernel's order.
// False, with WSAGetLastError() set, when the kernel cannot list them.
bool LocalInterfaceAddresses(std::vector<DWORD>* addresses);

// Whether `address` reaches this host: `*isLocal` is true for a loopback address or one of
// this host's interface addresses. False, with WSAGetLastError() set, when the interfaces
// cannot be listed and the address is not a loopback one (`*isLocal` is then left as it was).
bool IsThisHostAddress(DWORD address, bool* isLocal);
