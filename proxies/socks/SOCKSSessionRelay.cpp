// CSOCKSSession once the request is done: the relay of CONNECT and BIND, the BIND listener,
// the datagrams of a UDP association, the hand-over to a web session and the closes.

#include "proxies/socks/SOCKSSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundConnection.h"
#include "engine/framework/QuietClose.h"
#include "engine/framework/ServiceManager.h"
#include "foundation/Format.h"
#include "platform/net/Resolver.h"
#include "platform/net/SocketErrors.h"
#include "proxies/socks/SOCKSTexts.h"
#include "proxies/web/WWWSession.h"

using namespace SOCKSFormat;
using FrameworkFormat::kExitError;
using FrameworkFormat::kExitNormal;

// --- Streams ------------------------------------------------------------------------------

void CSOCKSSession::OnClientData() {
    switch (m_request.command) {
    case kCommandConnect:
        if (m_phase == EPhase::handOverTest && TryHandOver())
            return;
        Relay(m_clientSocket, m_remoteSocket);
        break;
    case kCommandBind:
        // Until the expected host connects, the client's bytes wait on its connection, so its
        // close would never be announced: a client that has gone meanwhile ends the session.
        if (m_remoteSocket.IsConnected())
            Relay(m_clientSocket, m_remoteSocket);
        else if (m_clientSocket.HasPeerEnded())
            Finish(kExitNormal);
        break;
    default: {
        // A UDP association's connection only says how long the association lives: what
        // the client sends on it is read and dropped, so its close is seen.
        char sink[2048];
        while (m_clientSocket.Receive(sink, static_cast<int>(sizeof sink)) > 0) {
        }
        break;
    }
    }
}

void CSOCKSSession::Relay(X1Socket& from, X1Socket& to) {
    std::size_t moved = 0;
    // While a send is under way more bytes usually arrive: they are taken at once rather than
    // on the next notice.
    while (moved < kRelayBurstBytes) {
        const int got = from.MoveTo(to, static_cast<int>(kRelayChunkBytes));
        if (got <= 0)
            return;
        moved += static_cast<std::size_t>(got);
    }
}

void CSOCKSSession::Drain(X1Socket& from, X1Socket& to) {
    if (to.IsConnected()) {
        while (from.MoveTo(to, static_cast<int>(kRelayChunkBytes)) > 0) {
        }
        return;
    }
    char sink[2048];
    while (from.Receive(sink, static_cast<int>(sizeof sink)) > 0) {
    }
}

void CSOCKSSession::OnClose(X1Socket& socket) {
    if (m_phase == EPhase::finished)
        return;
    if (&socket == &m_clientSocket) {
        if (IsGranted() && m_request.command != kCommandUdpAssociate &&
            m_remoteSocket.IsConnected()) {
            // The client has said all it will say: the server learns so and may still
            // answer, which is relayed until the server closes.
            Drain(m_clientSocket, m_remoteSocket);
            m_remoteSocket.ShutdownSend();
            return;
        }
        Finish(kExitNormal);
    } else if (&socket == &m_remoteSocket) {
        Drain(m_remoteSocket, m_clientSocket);
        CloseQuietly(m_remoteSocket);
        Finish(kExitNormal);
    }
}

// --- BIND ---------------------------------------------------------------------------------

void CSOCKSSession::OnAccept(X1Socket& socket) {
    if (m_phase == EPhase::finished || &socket != &m_listenSocket)
        return;
    m_remoteSocket.Attach(m_listenSocket.Accept());
    const std::string peer = m_remoteSocket.GetPeerAddress();
    const std::string expected = FormatDottedAddress(m_targetAddress);
    if (peer != expected) {
        WriteServiceLog(LogFormat::kLogError, kErrorBindPeer, peer.c_str(), expected.c_str());
        CloseQuietly(m_remoteSocket);
        Finish(kExitError);
        return;
    }
    AnnounceRequest(FormatText(m_request.version == kVersion4 ? kSocks4BindConnected
                                                              : kSocks5BindConnected,
                               m_request.host.c_str(), m_request.port));
    m_remoteSocket.SetEventMask(FD_READ | FD_WRITE | FD_CLOSE);
    m_remoteSocket.StartAsyncSelect();
    SendBindConnectedReply();
    CloseQuietly(m_listenSocket);
    // What the client sent while it waited goes first.
    Relay(m_clientSocket, m_remoteSocket);
}

// --- The hand-over of plain HTTP requests -------------------------------------------------

bool CSOCKSSession::TryHandOver() {
    char first[kHandOverPeek];
    const int peeked = m_clientSocket.Peek(first, static_cast<int>(sizeof first));
    // A read notice can come with nothing waiting (its bytes were taken with an earlier
    // one): the client's first bytes decide, whenever they come.
    if (peeked <= 0)
        return false;
    m_phase = EPhase::relaying;
    if (!IsHandOverRequest(std::string_view(first, static_cast<std::size_t>(peeked))))
        return false;
    HandOver();
    return true;
}

void CSOCKSSession::HandOver() {
    SetDescription(kHandOverText);
    ReportStatus(kHandOverText);
    CRef<CService> policy;
    if (m_settings.useSpecifiedPolicy != 0) {
        policy = CNorvaneEngine::Instance().GetServiceManager().FindServiceRef(m_settings.httpPolicy);
        if (!policy) {
            WriteServiceLog(LogFormat::kLogError, "%s", kErrorHandOverPolicy);
            Finish(kExitError);
            return;
        }
    }
    m_clientSocket.StopAsyncSelect();
    // The request is still waiting on the connection: it is the web session's first read.
    auto web = CRef<CWWWSession>::Adopt(new CWWWSession(m_clientSocket.Detach()));
    web->SetTarget(1, m_request.host, m_request.port, m_settings.cacheReferredHTTPRequests,
                   FormatDottedAddress(m_targetAddress));
    web->SetUpstream(COutboundSettings{});
    web->SetSessionTimeout(GetTimeoutEnabled(), GetTimeoutSeconds());
    if (policy) {
        web->SetAccessRights(*policy);
        web->SetLogging(*policy);
    } else {
        web->SetAccessRightsOf(*this);
        web->SetLoggingValues(GetLogOptions(), GetServiceLogFile());
    }
    m_phase = EPhase::finished;
    // The web session takes this session's place on its client machine (user, log-on level),
    // and this session ends; if it is already ending, the web session goes with its handle.
    if (HandOverTo(*web, kExitNormal))
        web->StartSession();
}

// --- UDP ASSOCIATE ------------------------------------------------------------------------

int CSOCKSSession::ReceiveDatagram(X1Socket& socket, std::string& sender, UINT& port) {
    // A failure: longer than the relay takes (consumed), or an earlier datagram's ICMP error.
    int got = -1;
    CatchSocketFailure([&] {
        got = socket.ReceiveFrom(m_datagram.data(), static_cast<int>(m_datagram.size()), sender,
                                 port);
    });
    return got;
}

void CSOCKSSession::OnClientSideDatagram() {
    std::string sender;
    UINT senderPort = 0;
    const int got = ReceiveDatagram(m_udpClientSocket, sender, senderPort);
    if (got < 0)
        return;
    const std::string_view datagram(m_datagram.data(), static_cast<std::size_t>(got));
    // The client's datagrams come from its own machine, and, once it has sent one, from the
    // port it sent that from: anything else is a target's answer, even from the client's
    // machine.
    const bool fromClient = sender == GetClientAddress() &&
                            (!m_udpClientKnown || senderPort == m_udpClientPort);
    if (!fromClient) {
        SendToClient(sender, senderPort, datagram);
        return;
    }
    m_udpClientHost = sender;
    m_udpClientPort = senderPort;
    m_udpClientKnown = true;
    SUdpHeader header;
    if (ParseUdpHeader(datagram, header).state != SSOCKSParse::State::complete) {
        WriteServiceLog(LogFormat::kLogDebug, kDebugDatagramDropped, sender.c_str(), senderPort,
                        kDropMalformed);
        return;
    }
    if (header.fragment != 0) {
        // Fragments are not reassembled here: the association ends.
        Finish(kExitError);
        return;
    }
    const std::optional<SHandlerFailure> failure = CatchSocketFailure([&] {
        COutboundConnection::SendDatagram(m_udpClientSocket, datagram.data() + header.size,
                                          static_cast<int>(datagram.size() - header.size),
                                          header.host, header.port);
    });
    // A target the guard refuses, a name that does not resolve, a failed send: this datagram
    // is lost, as datagrams may be; the association goes on.
    if (failure)
        WriteServiceLog(LogFormat::kLogDebug, kDebugDatagramDropped, sender.c_str(), senderPort,
                        failure->text.c_str());
}

void CSOCKSSession::OnOutsideDatagram() {
    std::string sender;
    UINT senderPort = 0;
    const int got = ReceiveDatagram(m_udpOutsideSocket, sender, senderPort);
    if (got >= 0)
        SendToClient(sender, senderPort,
                     std::string_view(m_datagram.data(), static_cast<std::size_t>(got)));
}

void CSOCKSSession::SendToClient(const std::string& sender, UINT port, std::string_view data) {
    // Only to the client's own machine, and only once its port is known.
    if (m_udpClientHost != GetClientAddress() || m_udpClientPort == 0) {
        WriteServiceLog(LogFormat::kLogDebug, kDebugDatagramDropped, sender.c_str(), port,
                        kDropClientUnknown);
        return;
    }
    DWORD address = 0;
    ParseDottedAddress(sender, &address);
    const std::size_t size = WrapDatagram(address, port, data, m_wrapped.data(), m_wrapped.size());
    if (size == 0)
        return;
    CatchSocketFailure([&] {
        m_udpClientSocket.SendTo(m_wrapped.data(), static_cast<int>(size), m_udpClientPort,
                                 m_udpClientHost);
    });
}
