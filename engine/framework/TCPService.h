#pragma once
// CTCPService: a service that listens on a TCP port and makes one session thread of each
// accepted connection. Its listening socket is in callback mode, so accepting runs on the
// callback thread (the engine thread in the engine) through CTCPServiceSocketCallback. It also
// carries the upstream settings that two-ended sessions connect through (ConnectMethod,
// ProxyServer, ProxyPort, SOCKS4Password), saved after the base's values and exchanged after
// the base's archive fields.
//
// Start and Stop run on the engine thread or on a console's session thread; the accept
// callback copies the service's settings into each new session under the settings mutex and
// gives the session a reference to the service.

#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundConnection.h"
#include "engine/framework/Service.h"
#include "platform/kernel/Types.h"

#include <memory>
#include <mutex>
#include <string>

class CSession;
class X1Socket;

class CTCPService : public CService {
    DECLARE_SERIAL(CTCPService)
public:
    CTCPService();
    CTCPService(UINT port, std::string name, std::string description, BOOL critical);
    // Closes the listening socket first, so no accept callback runs on a half-destroyed
    // service.
    ~CTCPService() override;

    // Start: nothing when disabled or running; else listen on the port in callback mode
    // ("Service started"). A failure writes "Service failed startup <text>", stops (which
    // writes "Service stopped") and leaves the state at 2. A port outside 1-65535 fails with
    // error 10022.
    void Start() override;
    // Close the socket, state 0, "Service stopped".
    void Stop() override;
    void StartIfEnabled() override;
    void StopAndDelete() override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;
    void Serialize(CArchive& ar) override;

    // A new session for an accepted connection (its handle), or null. Each protocol service
    // returns a session of its class made from the handle; the session owns the handle from
    // then on (and closes it if it never runs).
    virtual CSession* CreateSession(int acceptedHandle);

    // ConnectMethod, ProxyServer, ProxyPort, SOCKS4Password (the reply time-out is fixed).
    COutboundSettings GetUpstream() const;
    void SetUpstream(const COutboundSettings& upstream);
    // What the console's service sheet offers: 0, 6 or 7, fixed by the class.
    DWORD GetSupportedMethods() const { return m_supportedMethods; }

    // The accept callback's work: every pending connection (up to kAcceptsPerNotice) becomes
    // a session, or, when no place is left for it (CService::TakeSessionPlace), is closed at
    // once (called on the callback thread).
    void AcceptConnection(X1Socket& listener);

protected:
    void SetSupportedMethods(DWORD methods) { m_supportedMethods = methods; }
    // The TCP service's archive record (the base's fields, then the upstream settings), for
    // derived classes whose loads append fields: read the whole record first, then apply it,
    // so a record cut short changes nothing.
    struct TCPRecord {
        std::unique_ptr<Record> base;
        COutboundSettings upstream;
    };
    void StoreTCPRecord(CArchive& ar);
    TCPRecord ReadTCPRecord(CArchive& ar) const;
    void ApplyTCPRecord(TCPRecord& record);

private:
    // One accepted connection: true when another may be taken.
    bool AcceptOne(X1Socket& listener);
    COutboundSettings m_upstream;
    DWORD m_supportedMethods = 0;
};

// Registered with the listening socket: accepts on FD_ACCEPT, ignores every other event.
// `userData` is the CTCPService.
void CTCPServiceSocketCallback(void* userData, X1Socket* socket, unsigned event);
