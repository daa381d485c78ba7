#pragma once
// CDNSService: answers the address queries (RFC 1035 over UDP) of the inside network by
// looking each name up with the system's host-name resolver, without ever blocking its thread:
// the lookups run on the process's asynchronous resolver (platform/net/AsyncResolver.h), whose
// completions reach the service thread as thread message 0x40A. Each query is one CDNSSession.
// A lookup not done within the resolver's deadline is answered as a server failure; a client
// whose lookups fill its share of the resolver gets server failures at once for more.
//
// Registry values: a UDP service's, then AllowAutodial (DWORD, 1 when missing). Archive form:
// a UDP service's, then AllowAutodial (4 bytes). AllowAutodial set: every lookup first asks
// the engine's dial on demand, on the lookup thread.

#include "engine/framework/UDPService.h"
#include "platform/kernel/Types.h"
#include "platform/net/AsyncResolver.h"
#include "platform/net/Sockets.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>


class CDNSService : public CUDPService {
    DECLARE_SERIAL(CDNSService)
public:
    // "DNS server" on port 53, kind 9, AllowAutodial 1.
    CDNSService();

    void Serialize(CArchive& ar) override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;
    BOOL HasExtraSettingsPage() const override { return FALSE; }

    // The queries waiting on the service's socket, each a session made, admitted, checked and
    // either answered at once or left waiting for its lookup. Other sockets' notices are
    // ignored.
    void OnDatagram(int socketHandle) override;
    // A completed lookup (wParam its id), taken with every other that finished meanwhile: the
    // sessions still waiting for them, answered by the resolver's threads already, end (a reply
    // that could not be sent is logged).
    void OnHostLookupResult(std::uintptr_t wParam, std::intptr_t lParam) override;

    DWORD GetAllowAutodial() const;
    void SetAllowAutodial(DWORD allow);

    // The resolver the sessions' lookups go to: the process's, unless a test set another
    // (which must outlive the service's sessions).
    CAsyncResolver& GetResolver() const { return *m_resolver; }
    void SetResolver(CAsyncResolver& resolver) { m_resolver = &resolver; }

private:
    // The settings every session of a read notice starts with, read once for all of them.
    struct SessionSettings {
        DWORD logOptions = 0;
        CLogFileRef logFile;
        BOOL timeOutSessions = TRUE;
        DWORD sessionTimeout = 0;
        DWORD allowAutodial = 0;
    };
    SessionSettings GetSessionSettings() const;
    // Serves the query of one datagram from `from`.
    void ServeDatagram(const BYTE* bytes, std::size_t length, const NetAddress& from,
                       const SessionSettings& settings);

    DWORD m_allowAutodial;
    CAsyncResolver* m_resolver;
    std::vector<CAsyncResolver::FinishedLookup> m_finishedLookups;  // room kept between takes
};
