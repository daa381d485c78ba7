#pragma once
// CVDOLiveService: the VDOLive proxy service. It listens for VDOLive players set up to use a
// proxy and makes a CVDOLiveSession of each connection. Its settings, registry values and
// archive form are exactly a TCP service's; the upstream settings are not offered, because
// its sessions always connect directly.

#include "engine/framework/TCPService.h"

class CVDOLiveService : public CTCPService {
    DECLARE_SERIAL(CVDOLiveService)
public:
    // "VDOLive Proxy server" on port 7000.
    CVDOLiveService();
    // A CVDOLiveSession for the accepted connection.
    CSession* CreateSession(int acceptedHandle) override;
};
