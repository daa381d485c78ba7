#pragma once
// Closing a socket where a failure to close has nobody to tell: at the end of a session's
// thread, when a service stops, after a start or a read failed. The handle is given up either
// way (X1Socket::Close), and the failure is dropped.

#include "platform/kernel/Types.h"

class X1Socket;

void CloseQuietly(X1Socket& socket) noexcept;

// X1Socket::CloseGracefully (the peer reads the end of the stream after everything sent, and
// what it still sends for at most `drainMs` is discarded, so its unread bytes do not turn the
// close into a reset that could destroy the last answer); a failure closes it plainly.
void CloseGracefullyQuietly(X1Socket& socket, DWORD drainMs) noexcept;
