#pragma once
// CTCPMappingService: listens on a port of the inside network and joins every accepted
// connection to the outside host and port its mapping table (CMappings) chooses for the
// client (CTCPMappingSession). Either end of the join can be an enciphered link between two
// engines: the accepted connection can be required to open with the link handshake (this
// engine accepting), and the outgoing one can open with it (this engine connecting), so two
// engines carry a TCP service between two sites. The stored and archive forms are in
// proxies/mapping/MappingFormat.h.
//
// Upstream. The sessions connect through the service's ConnectMethod, except 1 (an upstream
// web proxy speaks HTTP and cannot carry a raw stream): a stored or received 1 becomes 0, and
// the service's log says so when it next starts.
//
// Sessions copy the link settings when they are made; a change applies to new sessions only.
// The table is shared: a console's change replaces it, never frees it under a session.

#include "engine/framework/TCPService.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"
#include "proxies/mapping/Mappings.h"

#include <atomic>
#include <string>

// The link settings of a TCP mapping service, passwords in plain text.
struct CTCPMappingLink {
    // Accepted connections must open with the link handshake (this engine accepting).
    DWORD EncryptConnectionsIn = 0;
    // The accepting side admits only UsernameIn with PasswordIn; without it, any user of the
    // engine's user database with that user's password.
    DWORD SpecifyUserForIncomingConnection = 0;
    std::string UsernameIn;
    std::string PasswordIn;
    // Outgoing connections open with the link handshake as UsernameOut with PasswordOut.
    DWORD EncryptConnectionsOut = 0;
    std::string UsernameOut;
    std::string PasswordOut;
};

class CTCPMappingService : public CTCPService {
    DECLARE_SERIAL(CTCPMappingService)
public:
    // "TCP Mapping service", port 0 (none until the administrator sets one), kind 1
    // (mapping), supported methods 6, an empty table, no links.
    CTCPMappingService();
    ~CTCPMappingService() override;

    BOOL HasExtraSettingsPage() const override { return FALSE; }
    BOOL HasMappings() const override { return TRUE; }

    // Writes the deferred ConnectMethod line (see the top of this file), then starts.
    void Start() override;

    // The TCP service's form, then the table's, then the link settings. An archive load
    // changes nothing unless the whole record was read; a registry load replaces the table by
    // a freshly read one.
    void Serialize(CArchive& ar) override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;

    // A CTCPMappingSession for the accepted connection, with the table and the link settings.
    CSession* CreateSession(int acceptedHandle) override;

    CRef<CMappings> GetMappings() const;
    void SetMappings(CRef<CMappings> mappings);
    CTCPMappingLink GetLink() const;
    void SetLink(const CTCPMappingLink& link);

private:
    // Turns an unusable ConnectMethod 1 into 0 and remembers to say so. Under the settings
    // mutex.
    void UseUsableMethod(COutboundSettings& upstream);

    CRef<CMappings> m_mappings;
    CTCPMappingLink m_link;
    std::atomic<bool> m_methodReplaced{false};
};
