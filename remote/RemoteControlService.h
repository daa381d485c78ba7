#pragma once
// CRemoteControlService: the engine's console listener (default port 808). The engine always
// has one ("Remote Control Service", CServiceManager::EnsureRemoteControlService); it is a
// critical service (its port is bound with re-use-address), whatever was stored or sent.
//
// Each accepted console connection becomes a CRemoteControlSession (link handshake, log-on,
// requests and notifications: remote/RemoteControlSession.h).

#include "engine/framework/TCPService.h"
#include "platform/kernel/Types.h"

#include <string>

class CRemoteControlService : public CTCPService {
    DECLARE_SERIAL(CRemoteControlService)
public:
    // Port 808, name and description "Remote Control Service", critical.
    CRemoteControlService();
    CRemoteControlService(UINT port, std::string name, std::string description);

    // The TCP service's archive form; CriticalService is 1 after storing and loading.
    void Serialize(CArchive& ar) override;
    // The TCP service's values, then CriticalService 1.
    void LoadFromRegistry(const std::string& keyPath) override;
    BOOL HasExtraSettingsPage() const override { return FALSE; }
    BOOL HasNonProxyRequestOption() const override { return FALSE; }
    // A new CRemoteControlSession for the accepted connection.
    CSession* CreateSession(int acceptedHandle) override;
};
