#include "platform/net/HostAddresses.h"

#include "platform/net/SocketErrors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

bool IsLoopbackAddress(DWORD address) { return (address >> 24) == 127; }

bool LocalInterfaceAddresses(std::vector<DWORD>* addresses) {
    addresses->clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        WSASetLastError(SocketErrorFromErrno(errno));
        return false;
    }
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET)
            continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        addresses->push_back(ntohl(in->sin_addr.s_addr));
    }
    freeifaddrs(list);
    return true;
}

bool IsThisHostAddress(DWORD address, bool* isLocal) {
    if (IsLoopbackAddress(address)) {
        *isLocal = true;
        return true;
    }
    std::vector<DWORD> own;
    if (!LocalInterfaceAddresses(&own))
        return false;
    *isLocal = std::find(own.begin(), own.end(), address) != own.end();
    return true;
}
