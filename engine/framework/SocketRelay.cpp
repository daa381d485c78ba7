#include "engine/framework/SocketRelay.h"

#include "foundation/X1Socket.h"

int RelayWaiting(X1Socket& from, X1Socket& to, std::size_t size) {
    return from.MoveTo(to, static_cast<int>(size));
}

void RelayRemaining(X1Socket& from, X1Socket& to, std::size_t size) {
    while (RelayWaiting(from, to, size) > 0) {
    }
}
