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
