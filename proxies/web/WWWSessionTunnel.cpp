// CWWWSession, protocol code 7: the CONNECT tunnel. Once it is up, both directions are plain
// byte relays (the client's side through RelayClientData, the server's through the response
// half, which passes a tunnel's bytes on unchanged because its "response" counts as received).

#include "proxies/web/WWWSession.h"

#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundFormat.h"
#include "foundation/X1SocketException.h"
#include "platform/net/Sockets.h"

void CWWWSession::SSLPreProcessRequest() {
    DebugLine(kLogProcessingTunnel, ThreadId());
    // The upstream proxy gets "CONNECT host:port" and its own answer reaches the client.
    if (GetUpstream().ConnectMethod == OutboundFormat::kMethodHttpProxy) {
        HTTPProcessRequest();
        return;
    }
    try {
        CNorvaneEngine::Instance().CheckDialFirst(this);
        ConnectRemote(m_remoteSocket, m_request.host, m_request.port);
        m_remoteSocket.SetEventMask(FD_READ | FD_WRITE | FD_CLOSE);
        m_remoteSocket.StartAsyncSelect();
        SendToClient(kConnectedResponse);
    } catch (X1SocketException* e) {
        const std::string text = e->GetErrorText();
        e->Delete();
        // Under "502 Bad Gateway": a client must not take the tunnel as up.
        SendSocketErrorPage(text);
        ErrorLine(kErrorLineTunnelSocket, text.c_str());
        Finish(FrameworkFormat::kExitError);
        return;
    }
    m_responseReceived = true;
    m_relayClientData = true;
    // What the client sent right behind its CONNECT head (a TLS ClientHello, typically) is
    // the tunnel's first data.
    if (!m_requestBody.empty()) {
        const std::string first = std::move(m_requestBody);
        m_requestBody.clear();
        m_remoteSocket.Send(first.data(), static_cast<int>(first.size()));
    }
    if (m_clientDataPending) {
        m_clientDataPending = false;
        RelayClientData();
    }
}
