#pragma once
// CSOCKSService: the SOCKS 4 and 5 service. It listens (default port 1080) for SOCKS clients
// and makes a CSOCKSSession of each connection, giving it the service's six SOCKS settings.
//
// Registry values (in the service's own key, after the TCP service's) and archive fields
// (after the TCP service's), in this order: UseRFC1929, DoReverseLookups, ReferHTTPRequests,
// CacheReferredHTTPRequests, UseSpecifiedPolicy (DWORDs), HTTPPolicy (string).

#include "engine/framework/TCPService.h"
#include "platform/kernel/Types.h"

#include <string>

class CSOCKSService : public CTCPService {
    DECLARE_SERIAL(CSOCKSService)
public:
    // The service's own settings, with their defaults.
    struct SOCKSSettings {
        // Offer RFC 1929 user name and password authentication to SOCKS 5 clients.
        DWORD useRFC1929 = 0;
        // Look up the name of a target given as an address (for descriptions and logs).
        DWORD doReverseLookups = 0;
        // Hand plain HTTP requests to ports 80 and 8080 to a web session ...
        DWORD referHTTPRequests = 1;
        // ... which may use the web cache for them ...
        DWORD cacheReferredHTTPRequests = 1;
        // ... and which takes the rights and logging of the web service named httpPolicy
        // instead of this service's.
        DWORD useSpecifiedPolicy = 0;
        std::string httpPolicy;
    };

    // "SOCKS Proxy server" on port 1080.
    CSOCKSService();

    void Serialize(CArchive& ar) override;
    // SOCKS sessions do not take requests meant for a server.
    BOOL HasNonProxyRequestOption() const override { return FALSE; }
    BOOL HasExtraSettingsPage() const override { return FALSE; }
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;
    // A CSOCKSSession for the accepted connection, with the SOCKS settings.
    CSession* CreateSession(int acceptedHandle) override;

    // Copies, under the settings mutex (sessions copy them when they are made).
    SOCKSSettings GetSOCKSSettings() const;
    void SetSOCKSSettings(const SOCKSSettings& settings);

private:
    SOCKSSettings m_socks;
};
