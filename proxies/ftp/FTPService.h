#pragma once
// CFTPService: the FTP gateway. FTP clients on the inside network log on to it as
// "user@host[:port]" and reach FTP servers outside; each connection becomes a CFTPSession.
// It adds no settings to a TCP service's: its store values and archive fields are exactly
// CTCPService's, and the non-proxy settings decide what a USER line without a server does.

#include "engine/framework/TCPService.h"

class CFTPService : public CTCPService {
    DECLARE_SERIAL(CFTPService)
public:
    // "FTP Proxy server" on port 21.
    CFTPService();

    // A CFTPSession for the accepted connection.
    CSession* CreateSession(int acceptedHandle) override;
};
