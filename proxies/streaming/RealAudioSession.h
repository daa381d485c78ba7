#pragma once
// CRealAudioSession: one RealPlayer control connection to the RealAudio proxy, on its own
// thread (RealAudioFormat.h gives the bytes).
//
// The client first sends control packets (hello, server name and port, TCP mode, ...), each
// acted on once it is whole; "connect" connects to the server and answers "Connected OK".
// A client whose first packet is no hello took the proxy for the server: by the service's
// NonProxyRequestAction its bytes go to NonProxyRequestHost, or it is refused.
// After the connect, in TCP mode both directions pass unread. Otherwise the client's first
// messages are watched (CRealAudioClientMessages): a data-port message makes the data UDP
// socket, which forwards the server's datagrams to the client's port, and a robust-port
// message the robust UDP socket, which forwards the client's datagrams to the server's robust
// port that the server's answer names (CRealAudioServerGreeting). Either message carries the
// proxy's socket port on to the server in place of the client's.
//
// Traffic: the data socket's datagrams count as sent to the client and received from the
// server, the robust socket's as received from the client and sent to the server.

#include "foundation/X1Socket.h"
#include "platform/kernel/Types.h"
#include "proxies/streaming/RealAudioProtocol.h"
#include "proxies/streaming/StreamingSession.h"

#include <cstddef>
#include <string>
#include <string_view>

class CRealAudioSession : public CStreamingSession, private CRealAudioClientMessages::CHandler {
    DECLARE_SERIAL(CRealAudioSession)
public:
    CRealAudioSession();
    explicit CRealAudioSession(int acceptedHandle);

    DWORD GetClientBytesSent() const override;
    DWORD GetClientBytesReceived() const override;
    DWORD GetRemoteBytesSent() const override;
    DWORD GetRemoteBytesReceived() const override;

    // Read notices of the client, server, data and robust sockets.
    void OnRead(X1Socket& socket) override;

protected:
    // A read's error line names the socket it was for.
    std::optional<SHandlerLines> GetNoticeLines(ENotice notice,
                                                const X1Socket& socket) const override;

private:
    enum class EClientState {
        proxyCheck,  // the first packet's header shows whether the client speaks to a proxy
        commands,    // control packets
        raw,         // both ways unread
        messages,    // the client's first messages are watched
    };

    void OnClientRead();
    void OnServerRead();
    void OnDataDatagram();
    void OnRobustDatagram();

    // Acts on the whole control packets received; a socket failure answers the client with
    // its text and ends the session. Bytes after the last packet go to the next state.
    void ReadPackets();
    bool IsTakingCommands() const;
    // One packet; false when none is whole (or the session ends).
    bool ReadPacket();
    void HandlePacket(const SRealAudioPacket& packet);
    void AnswerNonProxyRequest();
    void ConnectRequested();
    void SendStatus(BYTE code, std::string_view text);

    void HandleClientMessages(std::string_view bytes);
    void HandleServerMessages(std::string_view bytes);
    // CRealAudioClientMessages::CHandler
    WORD OpenClientPort(WORD id, WORD clientPort) override;
    void MessageForwarded(WORD id, WORD length, std::size_t taken) override;

    X1Socket m_DataUDPSocket;    // watched
    X1Socket m_RobustUDPSocket;  // watched
    WORD m_robustSocketPort = 0;

    bool m_tcpMode = false;
    EClientState m_clientState = EClientState::proxyCheck;
    bool m_serverRaw = false;  // the server's answer was watched: its bytes pass unread
    std::string m_clientPending;  // control bytes not yet a whole packet
    CRealAudioClientMessages m_clientMessages;
    CRealAudioServerGreeting m_serverGreeting;

    std::string m_serverName;
    UINT m_serverPort = 0;
    WORD m_clientDataPort = 0;
    WORD m_serverRobustPort = 0;
};
