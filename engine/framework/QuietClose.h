#pragma once
// Closing a socket where a failure to close has nobody to tell: at the end of a session's
// thread, when a service stops, after a start or a read failed. The handle is given up either
// way (X1Socket::Close), and the failure is dropped.

#include "platform/kernel/Types.h"

#include <string_view>

class X1Socket;

void CloseQuietly(X1Socket& socket) noexcept;
// X1Socket::CloseGracefully (the peer's last bytes drained for at most `drainMs`, so closing
// never resets a connection whose answer is still on its way; with `peerDone` a peer that
// has nothing more waiting is not waited for); a failure closes at once.
void CloseGracefullyQuietly(X1Socket& socket, DWORD drainMs, bool peerDone = false) noexcept;
// Sends `bytes` (nothing for none) where a failure has nobody to tell either: a last answer
// to a client that may have gone, a refusal before a close. A socket failure is dropped.
void SendQuietly(X1Socket& socket, std::string_view bytes);
