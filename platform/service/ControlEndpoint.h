#pragma once
// The socket work behind the control channels of ControlProtocol.h: where endpoints live,
// binding and connecting them (also when the state folder's path is too long for a socket
// address), peer-credential checks, and whole-message reads and writes under time-outs.
//
// Errors are the classic numbers of ServiceTypes.h.

#include "platform/kernel/Types.h"
#include "platform/service/ControlProtocol.h"
#include "platform/service/UniqueFd.h"

#include <cstddef>
#include <string>

// $NORVANE_STATE_DIR/run/service
std::string ServiceRunDirectory();

// ServiceRunDirectory()/<name>.ctl. The name must be a safe file name (IsSafeName).
std::string ServiceEndpointPath(const std::string& serviceName);

// Creates the run folder mode 0700 if needed and checks that it belongs to this user and is
// closed to others (tightening it when it is ours). ERROR_ACCESS_DENIED when another user
// owns it.
DWORD PrepareServiceRunDirectory();

// Identity of a socket file, so that its binder removes only the file it made.
struct EndpointIdentity {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    bool valid = false;
};

// Reads the identity of the file at `path` (valid false when it is not a socket file).
EndpointIdentity EndpointIdentityOf(const std::string& path);

// Removes the socket file at `path` if it still is the one described by `identity`.
void RemoveEndpoint(const std::string& path, const EndpointIdentity& identity);

// Binds and listens on a fresh socket at `path` (mode 0600), non-blocking, close-on-exec. A
// socket file left there by a program that has ended is replaced; a live one is not
// (ERROR_SERVICE_ALREADY_RUNNING).
DWORD ListenEndpoint(const std::string& path, CUniqueFd& listener);

// Connects to the endpoint at `path`. ERROR_SERVICE_NOT_ACTIVE when no program listens there.
DWORD ConnectEndpoint(const std::string& path, CUniqueFd& connection);

// True when the peer of the connected Unix socket `fd` runs as root or as this process's
// effective user.
bool PeerMayControl(int fd);

// Sends all `size` bytes within `timeoutMs` (never raises SIGPIPE). False on error or
// time-out.
bool SendAll(int fd, const void* data, std::size_t size, DWORD timeoutMs);

// Receives exactly `size` bytes within `timeoutMs`. False on error, time-out or an end of
// stream before `size` bytes.
bool ReceiveExact(int fd, void* data, std::size_t size, DWORD timeoutMs);

// Waits until the peer closes `fd` (reads and discards anything else). False on time-out.
bool WaitForPeerClose(int fd, DWORD timeoutMs);

// The classic error number for an errno value met while starting a program.
DWORD ErrorFromErrno(int error);
