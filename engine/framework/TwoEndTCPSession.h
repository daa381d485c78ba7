#pragma once
// CTwoEndTCPSession: the TCP session of every proxy that relays between a client and a remote
// server. It owns the second, outbound socket, carries the upstream settings its service
// copied into it, and opens outbound connections by them (ConnectRemote, through
// COutboundConnection: directly, through an upstream HTTP proxy, an upstream SOCKS 4 server
// or an upstream CONNECT tunnel). Before each ConnectRemote a protocol session asks the
// engine's CheckDialFirst.
//
// Its traffic counts on both sides: the remote socket's counters are the remote ones, and
// the has-remote-side flag makes them count in the user's totals.

#include "engine/framework/OutboundConnection.h"
#include "engine/framework/TCPSession.h"
#include "foundation/X1Socket.h"
#include "platform/kernel/Types.h"

#include <mutex>
#include <string>

class CNVDataObject;

class CTwoEndTCPSession : public CTCPSession {
    DECLARE_SERIAL(CTwoEndTCPSession)
public:
    CTwoEndTCPSession();
    explicit CTwoEndTCPSession(int acceptedHandle);

    // TRUE when the client side says so; otherwise FALSE while the remote socket is not
    // connected, else whether `text` is this host's address on the remote connection.
    // Callable from any thread.
    BOOL IsOwnAddress(const std::string& text) override;
    DWORD GetRemoteBytesSent() const override { return m_remoteSocket.GetBytesSent(); }
    DWORD GetRemoteBytesReceived() const override { return m_remoteSocket.GetBytesReceived(); }
    DWORD GetRemoteBytesTotal() const override {
        return GetRemoteBytesSent() + GetRemoteBytesReceived();
    }
    DWORD GetTotalBytes() const override { return GetRemoteBytesTotal() + GetClientBytesTotal(); }
    // Id 2 the remote host (text), 3 the remote port (DWORD); the others as every session.
    void GetValue(DWORD id, CNVDataObject& value) override;

    // Connects `socket` (the remote socket, or another socket of the session's thread) to
    // host:port by the session's ConnectMethod. Failures throw X1SocketException.
    virtual void ConnectRemote(X1Socket& socket, const std::string& host, UINT port);

    COutboundSettings GetUpstream() const;
    void SetUpstream(const COutboundSettings& upstream);
    // The server the protocol session talks to (request variables 2 and 3).
    std::string GetRemoteHost() const;
    UINT GetRemotePort() const;
    void SetRemoteTarget(const std::string& host, UINT port);

    X1Socket& GetRemoteSocket() { return m_remoteSocket; }

protected:
    X1Socket m_remoteSocket;  // watched

private:
    mutable std::mutex m_remoteMutex;  // leaf
    std::string m_remoteHost;
    UINT m_remotePort = 0;
    COutboundSettings m_upstream;
};
