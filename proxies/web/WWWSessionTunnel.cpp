// CWWWSession, protocol code 7: the CONNECT tunnel. Once it is up, both directions are plain
// byte relays (the client's side through RelayClientData, the server's through the response
// half, which passes a tunnel's bytes on unchanged because its "response" counts as received).

#include "proxies/web/WWWSession.h"

#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundFormat.h"
#include "platform/net/Sockets.h"

void CWWWSession::SSLPreProcessRequest() {
    DebugLine(kLogProcessingTunnel, ThreadId());
    // The upstream proxy gets "CONNECT host:port" and its own answer reaches the client.
    if (GetUpstream().ConnectMethod == OutboundFormat::kMethodHttpProxy) {
        HTTPProcessRequest();
        return;
    }
    if (const std::optional<SHandlerFailure> failure = CatchSocketFailure([&] {
            ConnectToServer(m_remoteSocket, m_request.host, m_request.port,
                            FD_READ | FD_WRITE | FD_CLOSE);
            SendToClient(kConnectedResponse);
        })) {
        // Under "502 Bad Gateway" (504 for a time-out): a client must not take the tunnel as up.
        EndOnSocketError(*failure, kErrorLineTunnelSocket);
        return;
    }
    m_state = EWebState::relaying;
    // What the client sent right behind its CONNECT head (a TLS ClientHello, typically) is
    // the tunnel's first data.
    if (!m_requestBody.empty()) {
        const std::string first = std::move(m_requestBody);
        m_requestBody.clear();
        m_remoteSocket.Send(first.data(), static_cast<int>(first.size()));
    }
    RelayClientData();
}
