#pragma once
// CUDPMappingService: receives datagrams on a port of the inside network and forwards each
// client's datagrams to the outside host and port its mapping table (CMappings) chooses for
// that client; the target's answers go back to the client from the service's port. A client
// is one address and port pair, and each gets a CUDPMappingSession with a datagram socket of
// its own. Everything happens on the service thread (CUDPService).
//
// A datagram from a client that has no session yet makes one, in this order: the session
// (the service's access right, logging and idle time-out), its socket, its entry in both
// maps, admission to its client machine, the Created lines, the mapping table's target
// ("No mapping or default not allowed - terminating" when there is none), the access check,
// dial on demand, the connect to the target (through the engine's target guard), then the
// description "UDPMapping: <client> -> <host>:<port>", the consoles' notice and the Requested
// lines. A step that refuses or fails ends the session at once (a failure is logged as the
// service's socket-exception line), and the datagram is lost; the client's next datagram
// tries again with a new session. Then, and for a client with a session, the datagram goes
// to the target and the session's idle deadline moves.
//
// Bounds. One 8192-byte buffer serves every datagram both ways; a longer datagram is dropped
// with a log line. A new client's session needs a place among the service's live sessions
// (CService::TakeSessionPlace: at most kMaxUDPSessions, a quarter of them for one client
// address, and the engine's ceiling, since each holds a socket): without one the datagram is
// dropped, and the log says so once each time a ceiling is reached.
//
// Ending. A session ends by its idle time-out (the engine's timer), a refusal or the service's
// end; its removal runs on the service thread, takes both keys out of the maps and only then
// closes its socket, so a descriptor number that Linux hands out again at once never finds
// the old session. A socket exception while handling a datagram is logged
// ("Caught socket exception in CUDPMappingService::OnRead() <text> - ignoring") and ends no
// session that was already set up.
//
// Locks: the client map's mutex, held across the handling of one datagram, then the machine
// map, a machine and the user database (admission), or the mapping table and then the user
// database (the lookup); the session map's mutex is taken inside the client map's.

#include "engine/framework/UDPService.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Types.h"
#include "proxies/mapping/MappingFormat.h"
#include "proxies/mapping/Mappings.h"

#include <array>
#include <cstddef>
#include <string>
#include <unordered_map>

class CUDPMappingSession;

class CUDPMappingService : public CUDPService {
    DECLARE_SERIAL(CUDPMappingService)
public:
    // "UDP Mapping service", port 0, kind 1 (mapping), an empty table.
    CUDPMappingService();
    ~CUDPMappingService() override;

    BOOL HasExtraSettingsPage() const override { return FALSE; }
    BOOL HasMappings() const override { return TRUE; }

    // The service's form, then the table's (under "<keyPath>\Mappings" in the registry). A
    // load puts a freshly read table in place of the old one, which stays alive for whoever
    // still holds it. An archive load changes nothing unless the whole record was read.
    void Serialize(CArchive& ar) override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;

    // The table, shared: a session keeps its reference while it looks its target up.
    CRef<CMappings> GetMappings() const;
    void SetMappings(CRef<CMappings> mappings);

    // Both maps: the client key ("<address>:<port>") and the session map's key (the socket).
    void AddSession(CUDPSession* session) override;
    // Takes both keys out (each only if it still names this session), then closes the
    // session's socket and gives the maps' references up.
    void RemoveSession(CUDPSession* session) override;
    void OnDatagram(int socketHandle) override;
    // Each session holds a socket of its own.
    bool UsesEngineCeiling() const override { return true; }

    // Sessions in the client map (counted under its mutex).
    std::size_t GetClientCount() const;

protected:
    // After the thread's end has ended the sessions: closes the socket of any session whose
    // removal was still on its way.
    int ExitInstance() override;

private:
    void OnClientDatagram();
    void OnTargetDatagram(int socketHandle);
    // The new session of a client, set up; null when it was refused or no place was left. The caller holds the client map's mutex. Throws what a failed step threw,
    // after ending the session.
    CUDPMappingSession* StartClientSession(const std::string& address, UINT port);
    void SetUpSession(CUDPMappingSession& session);

    mutable CMutex m_clientsMutex;
    std::unordered_map<std::string, CRef<CUDPMappingSession>> m_clients;
    CRef<CMappings> m_mappings;
    std::array<char, MappingFormat::kDatagramBufferSize> m_buffer{};
};
