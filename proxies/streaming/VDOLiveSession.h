#pragma once
// CVDOLiveSession: one VDOLive player's control connection to the VDOLive proxy, on its own
// thread (VDOLiveFormat.h gives the bytes).
//
// The player's first message is its request (type 32) naming the server, its port and the
// clip; it is not passed on. A first message of type 6 means the player took the proxy for
// the server: by the service's NonProxyRequestAction it goes on (rewritten) to
// NonProxyRequestHost, or it is refused. Any other first message is refused. Then the
// player's messages are read whole and passed on: a type-6 message names the player's UDP
// port, which gets a player-side datagram socket, and a type-1 message with the "VDO Live"
// mark names it too and ends the watching (the player's later bytes pass unread). Both carry
// the server-side datagram socket's port on to the server in place of the player's. The
// server's bytes always pass unread.
//
// Datagrams: the server's (from the server's address; the first one fixes its port) go to the
// player through the player-side socket; the player's (from its address and announced port)
// go to the server through the server-side socket. Either is dropped while the socket it
// would leave by, or the peer it would go to, is not known yet.
//
// Traffic: the player-side socket's datagrams count for the client, the server-side socket's
// for the remote side.

#include "foundation/X1Socket.h"
#include "platform/kernel/Types.h"
#include "proxies/streaming/StreamingSession.h"
#include "proxies/streaming/VDOLiveMessage.h"

#include <mutex>
#include <string>

class CNVDataObject;

class CVDOLiveSession : public CStreamingSession {
    DECLARE_SERIAL(CVDOLiveSession)
public:
    CVDOLiveSession();
    explicit CVDOLiveSession(int acceptedHandle);

    DWORD GetClientBytesSent() const override;
    DWORD GetClientBytesReceived() const override;
    DWORD GetRemoteBytesSent() const override;
    DWORD GetRemoteBytesReceived() const override;
    // Id 21 the clip name; the others as every two-ended session.
    void GetValue(DWORD id, CNVDataObject& value) override;

    // Read notices of the player, server and both datagram sockets.
    void OnRead(X1Socket& socket) override;

    std::string GetClipName() const;

protected:
    std::optional<SHandlerLines> GetNoticeLines(ENotice notice,
                                                const X1Socket& socket) const override;

private:
    void OnPlayerRead();
    // Acts on the whole messages received; a socket failure ends the session.
    void HandleMessages();
    void HandleRequest(std::string& message);
    void HandleClientMessage(std::string& message);
    void RewriteStreamMessage(std::string& message, const SVDOLivePort& found);
    // The player-side socket, for datagrams to the player's address at `port`.
    void OpenPlayerSocket(DWORD port);
    void OnServerDatagram();
    void OnPlayerDatagram();

    X1Socket m_playerUDPSocket;  // watched
    X1Socket m_serverUDPSocket;  // watched
    WORD m_serverSocketPort = 0;

    enum class EPhase {
        request,   // the player's first message is awaited
        messages,  // the player's messages are read whole and passed on
        relaying,  // after a marked type-1 message: the player's bytes pass unread
    };

    EPhase m_phase = EPhase::request;
    bool m_datagramConnected = false;  // the server's first datagram fixed its port
    std::string m_pending;  // the player's bytes not yet a whole message

    UINT m_playerUDPPort = 0;
    UINT m_serverDatagramPort = 0;  // the port the server streams from
    std::string m_streamName;
    mutable std::mutex m_clipMutex;  // leaf
    std::string m_clipName;
};
