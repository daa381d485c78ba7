#include "engine/framework/QuietClose.h"

#include "foundation/X1Socket.h"
#include "platform/framework/Exception.h"

void CloseQuietly(X1Socket& socket) noexcept {
    try {
        socket.Close();
    } catch (...) {
        DropCurrentException();
    }
}

void CloseGracefullyQuietly(X1Socket& socket, DWORD drainMs) noexcept {
    try {
        socket.CloseGracefully(drainMs);
    } catch (...) {
        DropCurrentException();
        CloseQuietly(socket);
    }
}
