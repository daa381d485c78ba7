#include "engine/framework/SocketRelay.h"

#include "foundation/X1Socket.h"

#include <vector>

int RelayWaiting(X1Socket& from, X1Socket& to, std::size_t size) {
    std::vector<char> buffer(size);
    const int received = from.Receive(buffer.data(), static_cast<int>(buffer.size()));
    if (received > 0)
        to.Send(buffer.data(), received);
    return received > 0 ? received : 0;
}

void RelayRemaining(X1Socket& from, X1Socket& to, std::size_t size) {
    while (RelayWaiting(from, to, size) > 0) {
    }
}
