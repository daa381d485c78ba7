#pragma once
// CRealAudioService: the RealAudio proxy service. It listens for RealPlayer clients set up to
// use a RealAudio proxy and makes a CRealAudioSession of each connection. Its settings,
// registry values and archive form are exactly a TCP service's; the upstream settings are not
// offered, because its sessions always connect directly.

#include "engine/framework/TCPService.h"

class CRealAudioService : public CTCPService {
    DECLARE_SERIAL(CRealAudioService)
public:
    // "RealAudio Proxy server" on port 1090.
    CRealAudioService();
    // A CRealAudioSession for the accepted connection.
    CSession* CreateSession(int acceptedHandle) override;
};
