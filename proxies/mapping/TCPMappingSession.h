#pragma once
// CTCPMappingSession: one accepted connection of a TCP mapping service, joined to the target
// its service's mapping table chooses, then relayed both ways without being looked at.
//
// Start (on the session's thread, after admission and a first access check):
//   1. the table's target for the session's user and client address; none: the
//      failed-authorisation line "No mapping or default not allowed - terminating", code 1;
//   2. with EncryptConnectionsIn, the accepting side of the link handshake on the client
//      connection (link type 1): as UsernameIn with PasswordIn when
//      SpecifyUserForIncomingConnection is set, else as any enabled user of the engine's user
//      database with that user's password, slowed down per client address like the
//      remote-control log-on (EngineLogOnThrottle); from then on the client connection is
//      enciphered;
//   3. the target becomes the session's remote host and port, the description
//      "TCPMapping: Connected to <host>:<port>";
//   4. the access check, the engine's dial on demand, the connection through the service's
//      ConnectMethod;
//   5. with EncryptConnectionsOut, the connecting side of the link handshake (link type 1,
//      UsernameOut with PasswordOut) on the connection once it is made, so that through an
//      upstream SOCKS 4 server or CONNECT tunnel the handshake runs with the engine at the
//      far end, never with the upstream server;
//   6. read and close notices on both connections, the consoles' status notice with the
//      description, the Requested lines.
// A failed step writes "Caught socket exception in CTCPMappingSession::Initialize() <text> -
// terminating" (or the unknown-exception line) and ends the session with code 1.
//
// Relay. Each read notice moves at most 2048 bytes, through the socket class, so an
// enciphered end is deciphered on receipt and enciphered on sending; a send blocks the
// thread until the socket has taken the bytes. Each direction ends on its own: when one side
// ends its stream, what it sent is drained to the other side, whose sending is then shut
// down (the peer reads end of stream while it can still answer). The session ends with code
// 0 once both directions have ended, with code 1 on a socket failure, or with code 2 at the
// idle time-out.

#include "engine/framework/TwoEndTCPSession.h"
#include "foundation/X1Socket.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"
#include "proxies/mapping/MappingFormat.h"
#include "proxies/mapping/Mappings.h"
#include "proxies/mapping/TCPMappingService.h"

#include <array>

class CHostPort;

class CTCPMappingSession : public CTwoEndTCPSession {
    DECLARE_SERIAL(CTCPMappingSession)
public:
    CTCPMappingSession();
    // A session for the accepted handle with the service's table and a copy of its link
    // settings.
    CTCPMappingSession(int acceptedHandle, CRef<CMappings> mappings, const CTCPMappingLink& link);

    // Steps 1-6 of the start (see the top of this file).
    void Initialize() override;
    void OnRead(X1Socket& socket) override;
    void OnClose(X1Socket& socket) override;

protected:
    // The first access check, then Initialize, then the client's read and close notices
    // unless the session ended meanwhile.
    void StartProtocol() override;
    std::optional<SHandlerLines> GetNoticeLines(ENotice notice,
                                                const X1Socket& socket) const override;

private:
    void Join();
    // The accepting side of the link handshake on the client connection.
    void AcceptLink();
    void ConnectTarget(const CHostPort& target);
    // At most one buffer's worth from `from` to `to`.
    void RelayBlock(X1Socket& from, X1Socket& to);
    // `from` ended its stream: the rest of its bytes go to `to`, whose sending is shut down;
    // once both directions have ended, both connections close and the session ends (code 0).
    void EndDirection(X1Socket& from, X1Socket& to);

    enum class EPhase {
        relaying,       // both directions relay
        clientEnded,    // the client's stream has ended (its bytes all relayed); the target's
                        // still relays
        remoteEnded,    // the same the other way round
    };

    CRef<CMappings> m_mappings;
    CTCPMappingLink m_link;
    std::array<char, MappingFormat::kRelayBufferSize> m_buffer{};
    int m_bytesRead = 0;
    EPhase m_phase = EPhase::relaying;
};
