#include "platform/service/ControlEndpoint.h"

#include "platform/kernel/Clock.h"
#include "platform/kernel/Paths.h"
#include "platform/service/ServiceTypes.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

void CUniqueFd::Reset(int fd) {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = fd;
}

std::string ServiceRunDirectory() { return StateDirectory() + "/run/service"; }

std::string ServiceEndpointPath(const std::string& serviceName) {
    return ServiceRunDirectory() + "/" + serviceName + ".ctl";
}

DWORD PrepareServiceRunDirectory() {
    const std::string dir = ServiceRunDirectory();
    if (!MakeDirectories(dir))
        return errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno);
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return ERROR_ACCESS_DENIED;
    if (st.st_uid != geteuid())
        return ERROR_ACCESS_DENIED;
    if ((st.st_mode & 0077) != 0 && chmod(dir.c_str(), kPrivateFolderMode) != 0)
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

EndpointIdentity EndpointIdentityOf(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return {};
    return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
            true};
}

void RemoveEndpoint(const std::string& path, const EndpointIdentity& identity) {
    if (!identity.valid)
        return;
    EndpointIdentity now = EndpointIdentityOf(path);
    if (now.valid && now.device == identity.device && now.inode == identity.inode)
        unlink(path.c_str());
}

namespace {

// A socket address for `path`: 0, or the errno why there is none. A path too long for
// sun_path is reached through the folder's descriptor (/proc/self/fd/N/name), which `folder`
// keeps open while the address is in use.
int MakeAddress(const std::string& path, sockaddr_un& address, CUniqueFd& folder) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::string usable = path;
    if (usable.size() >= sizeof address.sun_path) {
        std::string::size_type slash = path.rfind('/');
        if (slash == std::string::npos)
            return ENAMETOOLONG;
        folder.Reset(open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder.IsValid())
            return errno;
        usable = "/proc/self/fd/" + std::to_string(folder.Get()) + path.substr(slash);
        if (usable.size() >= sizeof address.sun_path)
            return ENAMETOOLONG;
    }
    std::memcpy(address.sun_path, usable.data(), usable.size());
    return 0;
}

int ConnectTo(const std::string& path, int& error) {
    sockaddr_un address;
    CUniqueFd folder;
    error = MakeAddress(path, address, folder);
    if (error != 0)
        return -1;
    CUniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.IsValid()) {
        error = errno;
        return -1;
    }
    int rc;
    do
        rc = connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        error = errno;
        return -1;
    }
    return fd.Release();
}

// Milliseconds left until `deadline`, for poll(); 0 once it has passed.
int Remaining(std::uint64_t deadline) {
    std::uint64_t now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<int>(std::min<std::uint64_t>(deadline - now, 1 << 30));
}

std::uint64_t DeadlineAfter(DWORD timeoutMs) {
    return timeoutMs == INFINITE ? UINT64_MAX : GetTickCount64() + timeoutMs;
}

// Waits for `events` on `fd` until `deadline`; false on time-out or poll failure.
bool WaitFor(int fd, short events, std::uint64_t deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int timeout = deadline == UINT64_MAX ? -1 : Remaining(deadline);
        int rc = poll(&p, 1, timeout);
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

}  // namespace

DWORD ListenEndpoint(const std::string& path, CUniqueFd& listener) {
    int error = 0;
    CUniqueFd probe(ConnectTo(path, error));
    if (probe.IsValid())
        return ERROR_SERVICE_ALREADY_RUNNING;
    // Nobody listens: a socket file left by an ended program may go, anything else stays and
    // makes the bind below fail.
    if (EndpointIdentityOf(path).valid)
        unlink(path.c_str());

    sockaddr_un address;
    CUniqueFd folder;
    if (int error = MakeAddress(path, address, folder); error != 0)
        return ErrorFromErrno(error);
    CUniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.IsValid())
        return ErrorFromErrno(errno);
    if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return errno == EADDRINUSE ? ERROR_SERVICE_ALREADY_RUNNING : ErrorFromErrno(errno);
    // The folder is private already; the socket's own mode keeps it so if the folder is ever
    // opened up.
    if (chmod(path.c_str(), kPrivateFileMode) != 0 || listen(fd.Get(), 16) != 0) {
        DWORD result = ErrorFromErrno(errno);
        unlink(path.c_str());
        return result;
    }
    listener = std::move(fd);
    return ERROR_SUCCESS;
}

DWORD ConnectEndpoint(const std::string& path, CUniqueFd& connection) {
    int error = 0;
    int fd = ConnectTo(path, error);
    if (fd < 0) {
        if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR)
            return ERROR_SERVICE_NOT_ACTIVE;
        return ErrorFromErrno(error);
    }
    connection.Reset(fd);
    return ERROR_SUCCESS;
}

bool PeerMayControl(int fd) {
    ucred cred{};
    socklen_t size = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || size != sizeof cred)
        return false;
    return cred.uid == 0 || cred.uid == geteuid();
}

bool SendAll(int fd, const void* data, std::size_t size, DWORD timeoutMs) {
    const std::uint64_t deadline = DeadlineAfter(timeoutMs);
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = send(fd, at, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            at += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLOUT, deadline))
            continue;
        return false;
    }
    return true;
}

bool ReceiveExact(int fd, void* data, std::size_t size, DWORD timeoutMs) {
    const std::uint64_t deadline = DeadlineAfter(timeoutMs);
    char* at = static_cast<char*>(data);
    while (size > 0) {
        if (!WaitFor(fd, POLLIN, deadline))
            return false;
        ssize_t n = recv(fd, at, size, MSG_DONTWAIT);
        if (n > 0) {
            at += n;
            size -= static_cast<std::size_t>(n);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            return false;
        }
    }
    return true;
}

bool WaitForPeerClose(int fd, DWORD timeoutMs) {
    const std::uint64_t deadline = DeadlineAfter(timeoutMs);
    char scratch[256];
    for (;;) {
        if (!WaitFor(fd, POLLIN, deadline))
            return false;
        ssize_t n = recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n == 0)
            return true;
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return errno == ECONNRESET;
    }
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOEXEC:
    case ELIBBAD:
        return ERROR_BAD_EXE_FORMAT;
    case ENAMETOOLONG:
        return ERROR_INVALID_NAME;
    case ENOMEM:
    case EAGAIN:
        return ERROR_OUTOFMEMORY;
    default:
        return ERROR_PROCESS_ABORTED;
    }
}
