#pragma once
// CDatagramOutlet: sends datagrams from a socket that another thread owns, such as a UDP
// service's, for threads that finish its work away from the owner (the DNS service's lookup
// threads send their replies themselves). The owner closes the socket only after Revoke has
// returned: Revoke waits for the sends in progress, and none starts afterwards, so a stopped
// service never sends on a descriptor the system has given to someone else.
//
// Shared ownership: the owner and every thread that may still send hold it.

#include "platform/net/Sockets.h"

#include <shared_mutex>

class CDatagramOutlet {
public:
    explicit CDatagramOutlet(int handle) : m_handle(handle) {}
    CDatagramOutlet(const CDatagramOutlet&) = delete;
    CDatagramOutlet& operator=(const CDatagramOutlet&) = delete;

    // Sends the datagrams as NetSendDatagrams does; -1 with WSAENOTSOCK (nothing sent) once
    // revoked.
    int Send(NetOutgoingDatagram* datagrams, int count);
    void Revoke();

private:
    std::shared_mutex m_mutex;
    int m_handle;
};
