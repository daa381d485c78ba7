#include "platform/net/SocketErrors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

TEST(SocketErrorsTest, ErrnoValuesMapToTheClassicSocketNumbers) {
    // The numbers name the error texts in the store, so each must be exact.
    const struct {
        int err;
        int code;
    } cases[] = {
        {EINTR, 10004},        {EBADF, 10038},         {EACCES, 10013},       {EFAULT, 10014},
        {EINVAL, 10022},       {EMFILE, 10024},        {EAGAIN, 10035},       {EINPROGRESS, 10036},
        {EALREADY, 10037},     {ENOTSOCK, 10038},      {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
        {EPROTOTYPE, 10041},   {ENOPROTOOPT, 10042},   {EPROTONOSUPPORT, 10043},
        {EOPNOTSUPP, 10045},   {EAFNOSUPPORT, 10047},  {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
        {ENETDOWN, 10050},     {ENETUNREACH, 10051},   {ENETRESET, 10052},    {ECONNABORTED, 10053},
        {ECONNRESET, 10054},   {EPIPE, 10054},         {ENOBUFS, 10055},      {ENOMEM, 10055},
        {EISCONN, 10056},      {ENOTCONN, 10057},      {ESHUTDOWN, 10058},    {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061}, {ELOOP, 10062},         {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},
        {EHOSTUNREACH, 10065},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SocketErrorFromErrno(c.err), c.code) << "errno " << c.err;
    EXPECT_EQ(SocketErrorFromErrno(EIO), 10107);  // nothing closer: a failed system call
}

TEST(SocketErrorsTest, OverlappedModeReportsFileNumbersForHandleMemoryAndBuffer) {
    EXPECT_EQ(OverlappedErrorFromSocketError(10038), 6);
    EXPECT_EQ(OverlappedErrorFromSocketError(10055), 8);
    EXPECT_EQ(OverlappedErrorFromSocketError(10014), 1784);
    EXPECT_EQ(OverlappedErrorFromSocketError(10054), 10054);
    EXPECT_EQ(OverlappedErrorFromSocketError(10060), 10060);
}

TEST(SocketErrorsTest, TheLastErrorBelongsToEachThread) {
    WSASetLastError(10061);
    std::thread([] {
        EXPECT_EQ(WSAGetLastError(), 0);
        WSASetLastError(10054);
    }).join();
    EXPECT_EQ(WSAGetLastError(), 10061);
}
