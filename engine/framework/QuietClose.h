#pragma once
// Closing a socket where a failure to close has nobody to tell: at the end of a session's
// thread, when a service stops, after a start or a read failed. The handle is given up either
// way (X1Socket::Close), and the failure is dropped.

class X1Socket;

void CloseQuietly(X1Socket& socket) noexcept;
