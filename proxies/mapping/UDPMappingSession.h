#pragma once
// CUDPMappingSession: one client (address and port pair) of a UDP mapping service. It owns a
// datagram socket of its own, connected to the client's target, so that the target's answers
// can be told apart by the socket they arrive on; its key in the service's session map is
// that socket's handle. It has no thread: its service's thread makes it, drives it and closes
// it (proxies/mapping/UDPMappingService.h). Its remote-side counters count in the user's
// totals.
//
// While its socket is open, the socket's local port is registered with the engine's outbound
// target guard as a UDP port of this engine, so no mapping can send into it.
//
// Threads. OpenSocket, ConnectTarget, the sends, receives and CloseSocket run on the service
// thread, which owns the socket. The target and the counters may be read from any thread.

#include "engine/framework/OutboundTargetGuard.h"
#include "engine/framework/UDPSession.h"
#include "foundation/X1Socket.h"
#include "platform/kernel/Types.h"

#include <mutex>
#include <string>

class CUDPMappingService;

class CUDPMappingSession : public CUDPSession {
    DECLARE_SERIAL(CUDPMappingSession)
public:
    CUDPMappingSession();
    explicit CUDPMappingSession(CUDPMappingService* owner);
    ~CUDPMappingSession() override;

    // A datagram socket for the calling (service) thread, bound to a free port that the
    // target guard holds while it is open (OpenGuardedSocket), read events only, notices
    // started; the session's key becomes its handle. Throws X1SocketException.
    void OpenSocket();
    // Connects the socket to the target through the engine's target guard (UDP): the checked
    // address is the one connected. Throws X1SocketException.
    void ConnectTarget(const std::string& host, UINT port);
    // One datagram to the target; the count goes to the bytes sent to the remote side.
    int SendToTarget(const void* bytes, int count);
    // One datagram from the target into `buffer`: its length, or -1 when none was waiting.
    // The length goes to the bytes received from the remote side. A datagram longer than
    // `size` is consumed and throws X1SocketException(10040).
    int ReceiveFromTarget(void* buffer, int size);
    // Closes the socket (its port leaves the target guard); nothing when closed.
    void CloseSocket();
    bool IsSocketOpen() const { return m_socket.GetHandle() != INVALID_SOCKET_HANDLE; }

    void SetTarget(const std::string& host, DWORD port);
    std::string GetTargetHost() const;
    DWORD GetTargetPort() const;
    // The client map's key ("<address>:<port>"), fixed when the client is set.
    const std::string& GetClientKey() const { return m_clientKey; }
    void SetClient(const std::string& address, UINT port);

    // Id 2 the target host, id 3 the target port, every other id as any session.
    void GetValue(DWORD id, CNVDataObject& value) override;

private:
    X1Socket m_socket;
    std::string m_clientKey;
    mutable std::mutex m_targetMutex;  // leaf
    std::string m_targetHost;
    DWORD m_targetPort = 0;
};
