#include "platform/net/SocketErrors.h"

#include "platform/kernel/Thread.h"

#include <cerrno>

namespace {

thread_local int t_lastSocketError = 0;
// A reused system thread starts its next CThread with no socket error, as a new one would.
[[maybe_unused]] const bool g_resetRegistered =
    (RegisterThreadStateReset([] { t_lastSocketError = 0; }), true);

struct ErrnoMapping {
    int err;
    int code;
};

// errno -> socket error number. EBADF names a handle that is no socket (any more), which the
// socket numbering reports as "not a socket"; EPIPE is a write on a connection the peer reset.
constexpr ErrnoMapping kErrnoTable[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAENOTSOCK},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EAGAIN, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEINPROGRESS},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

}  // namespace

int SocketErrorFromErrno(int err) {
    if (err == EWOULDBLOCK)
        return WSAEWOULDBLOCK;
    for (const ErrnoMapping& m : kErrnoTable)
        if (m.err == err)
            return m.code;
    return WSASYSCALLFAILURE;
}

int OverlappedErrorFromSocketError(int socketError) {
    switch (socketError) {
    case WSAENOTSOCK:
        return static_cast<int>(ERROR_INVALID_HANDLE);
    case WSAENOBUFS:
        return static_cast<int>(ERROR_NOT_ENOUGH_MEMORY);
    case WSAEFAULT:
        return static_cast<int>(ERROR_INVALID_USER_BUFFER);
    default:
        return socketError;
    }
}

int WSAGetLastError() { return t_lastSocketError; }

void WSASetLastError(int error) { t_lastSocketError = error; }
