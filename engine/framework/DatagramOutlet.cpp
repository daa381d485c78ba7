#include "engine/framework/DatagramOutlet.h"

#include "platform/net/SocketErrors.h"

#include <cstddef>
#include <mutex>

int CDatagramOutlet::Send(NetOutgoingDatagram* datagrams, int count) {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    if (m_handle < 0) {
        WSASetLastError(WSAENOTSOCK);
        return -1;
    }
    return count <= 0 ? 0 : NetSendDatagrams(m_handle, datagrams, static_cast<std::size_t>(count));
}

void CDatagramOutlet::Revoke() {
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    m_handle = -1;
}
