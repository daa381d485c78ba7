#pragma once
// CStreamingSession: what the RealAudio and VDOLive sessions share. A player on the inside
// network opens a TCP control connection to the proxy and names a server; the session
// connects to that server directly (never through an upstream proxy, whatever the service's
// ConnectMethod says), relays the control connection while it watches some of its messages,
// and forwards the UDP stream through datagram sockets of its own whose ports it puts in the
// watched messages in place of the player's.
//
// Sockets. The client (player) socket and the remote (server) socket are the two-ended
// session's; each protocol's datagram sockets are its members, watched from its constructors
// and opened with OpenStreamSocket, so their ports stay in the target guard while they are
// open. Datagrams are taken only from the peer they are expected from and go out through the
// target guard (COutboundConnection::SendDatagram).
//
// Ending. Either TCP connection closing ends the session: the player's with code 1, the
// server's with code 0; every socket is closed at once. A protocol violation writes its error
// line and ends the session with code 1. Once the session is ending, nothing more is done
// (IsEnding).

#include "engine/framework/TwoEndTCPSession.h"
#include "foundation/X1Socket.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <string>
#include <string_view>

class CStreamingSession : public CTwoEndTCPSession {
    DECLARE_DYNAMIC(CStreamingSession)
public:
    // The player's socket closing ends the session with code 1, the server's with code 0.
    void OnClose(X1Socket& socket) override;

    // Whether the player took the proxy for the server (a non-proxy request).
    bool IsNonProxyRequest() const { return m_nonProxyRequest; }

protected:
    // NonProxyRequestAction that forwards a non-proxy request to NonProxyRequestHost and
    // NonProxyRequestPort; every other value refuses it (0, and 2 and 3, which only the web
    // proxy knows).
    static constexpr DWORD kNonProxyForward = 1;

    CStreamingSession() = default;
    explicit CStreamingSession(int acceptedHandle) : CTwoEndTCPSession(acceptedHandle) {}

    // The service's upstream settings are dropped: these sessions connect directly, and the
    // dial-on-demand check asks about the server they name.
    void BeforeAdmission() override;

    // Sets the server as the session's target (request variables 2 and 3, and the dial
    // check), asks the engine to dial when it must, connects the remote socket directly and
    // selects its read and close notices; the server's address is kept (GetServerAddress).
    // Failures throw X1SocketException.
    void ConnectServer(const std::string& host, UINT port);
    const std::string& GetServerAddress() const { return m_serverAddress; }

    // The request's lines: audit "Requested" (0x20) and service-log "Requested:" (8).
    void LogRequest();
    void MarkNonProxyRequest() { m_nonProxyRequest = true; }

    // Appends at most `size` bytes received from `socket` to `bytes`; returns the count.
    int ReceiveBlock(X1Socket& socket, std::string& bytes, std::size_t size);
    // Moves at most `size` received bytes from `from` to `to`.
    void RelayBlock(X1Socket& from, X1Socket& to, std::size_t size);
    // Sends all of `bytes` (nothing for none).
    static void SendAll(X1Socket& to, std::string_view bytes);

    // Opens `socket` (closing it first when open) as a datagram socket of the session on any
    // port, with read notices only; returns its port.
    WORD OpenStreamSocket(X1Socket& socket);
    // One datagram of at most `size` bytes from `socket` with its sender. False when none was
    // waiting or it was longer than `size` (it is dropped).
    bool ReceiveDatagram(X1Socket& socket, std::size_t size, std::string& datagram,
                         std::string& host, UINT& port);
    // Sends `datagram` through `socket` to host:port through the target guard; nothing when
    // the socket is closed, the port is not known yet (0) or the datagram is empty.
    static void ForwardDatagram(X1Socket& socket, std::string_view datagram,
                                const std::string& host, UINT port);

    // Closes every socket and ends the session with `code`, once. A guarded notice's failure
    // ends the session this way with code 1 (each protocol names its notices' error lines).
    void Finish(int code) override;
    // The error line (service log bit 128), then Finish(1).
    void EndForBadProtocol(const char* format, ...) NV_PRINTF_FORMAT(2, 3);
    bool IsEnding() const { return m_ending || HasSessionEnded(); }

private:
    std::string m_serverAddress;
    bool m_nonProxyRequest = false;
    bool m_ending = false;
};
