#pragma once
// CUDPSession: a session without a thread, kept and driven by its UDP service. It counts its
// traffic in four counters the service maintains (bytes sent to and received from the client,
// sent to and received from the remote side); its three totals stay 0, as its service's
// classes expect. Its key is the entry of the service's session map.
//
// EndSession logs the end, then the session leaves its service's map on the service's thread
// (CUDPService::ScheduleRemoveSession); a session without a service just ends.
// Made with new; the creator gives up its reference once the service's map holds one.

#include "engine/framework/Session.h"
#include "engine/framework/UDPService.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <atomic>

class CUDPSession : public CSession {
    DECLARE_SERIAL(CUDPSession)
public:
    CUDPSession();
    explicit CUDPSession(CUDPService* owner);

    void EndSession(int code) override;

    DWORD GetClientBytesSent() const override { return m_clientSent.load(); }
    DWORD GetClientBytesReceived() const override { return m_clientReceived.load(); }
    DWORD GetRemoteBytesSent() const override { return m_remoteSent.load(); }
    DWORD GetRemoteBytesReceived() const override { return m_remoteReceived.load(); }
    // The counters wrap like the sockets' own.
    void AddClientBytesSent(DWORD count) { m_clientSent.fetch_add(count); }
    void AddClientBytesReceived(DWORD count) { m_clientReceived.fetch_add(count); }
    void AddRemoteBytesSent(DWORD count) { m_remoteSent.fetch_add(count); }
    void AddRemoteBytesReceived(DWORD count) { m_remoteReceived.fetch_add(count); }

    DWORD GetKey() const { return m_key.load(); }
    void SetKey(DWORD key) { m_key = key; }
    CUDPService* GetService() const { return m_owner.Get(); }

protected:
    // The two-ended flag, for UDP sessions whose remote counters count for the user.
    using CSession::SetHasRemoteSide;

private:
    CRef<CUDPService> m_owner;
    std::atomic<DWORD> m_key{0};
    std::atomic<DWORD> m_clientSent{0};
    std::atomic<DWORD> m_clientReceived{0};
    std::atomic<DWORD> m_remoteSent{0};
    std::atomic<DWORD> m_remoteReceived{0};
};
