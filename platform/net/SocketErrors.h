#pragma once
// Socket error numbers. The system reports socket failures with the classic socket error
// numbers, because those numbers name the error texts in the configuration store and reach
// users; every socket call of this layer maps its errno to one of them. This header is the one
// table of those numbers.

#include "platform/kernel/Types.h"

inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETOOMANYREFS = 10059;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAELOOP = 10062;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSASYSCALLFAILURE = 10107;  // an errno with no closer socket number
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

// The overlapped-handle mode reports a bad handle, a lack of memory and a bad buffer with the
// file error numbers ERROR_INVALID_HANDLE (6), ERROR_NOT_ENOUGH_MEMORY (8, both in Types.h)
// and this one, in place of the socket numbers.
inline constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;

// The socket error number for an errno value (WSASYSCALLFAILURE when none fits).
int SocketErrorFromErrno(int err);

// The number the overlapped-handle mode reports for a socket error number: the three file
// errors above for a bad handle, a lack of memory or a bad buffer, the number itself otherwise.
int OverlappedErrorFromSocketError(int socketError);

// The calling thread's last socket error, set by every failing call of platform/net.
int WSAGetLastError();
void WSASetLastError(int error);
