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

void CloseGracefullyQuietly(X1Socket& socket, DWORD drainMs, bool peerDone) noexcept {
    try {
        socket.CloseGracefully(drainMs, peerDone);
    } catch (...) {
        DropCurrentException();
        CloseQuietly(socket);
    }
}
