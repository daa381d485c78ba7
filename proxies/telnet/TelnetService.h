#pragma once
// CTelnetService: the Telnet proxy service. Telnet clients connect to it, choose an outside
// host at its "Norvane>" prompt and are joined to it; each connection becomes a
// CTelnetSession. It adds nothing to a TCP service's settings and has no further settings
// page.

#include "engine/framework/TCPService.h"
#include "platform/kernel/Types.h"

class CTelnetService : public CTCPService {
    DECLARE_SERIAL(CTelnetService)
public:
    // "Telnet Proxy server" on port 23.
    CTelnetService();

    BOOL HasExtraSettingsPage() const override { return FALSE; }
    // A CTelnetSession for the accepted connection.
    CSession* CreateSession(int acceptedHandle) override;
};
