#include "engine/framework/QuietClose.h"

#include "engine/framework/HandlerGuard.h"
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

void SendQuietly(X1Socket& socket, std::string_view bytes) {
    if (bytes.empty())
        return;
    CatchSocketFailure([&] { socket.Send(bytes.data(), static_cast<int>(bytes.size())); });
}
