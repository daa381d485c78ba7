#include "engine/framework/OutboundTargetGuard.h"

#include "engine/framework/OutboundFormat.h"
#include "engine/framework/QuietClose.h"
#include "foundation/Format.h"
#include "foundation/SocketErrorTexts.h"
#include "foundation/X1Socket.h"
#include "foundation/X1SocketException.h"
#include "platform/net/HostAddresses.h"
#include "platform/net/Resolver.h"
#include "platform/net/SocketErrors.h"

#include <algorithm>
#include <memory>

namespace {

constexpr UINT kMaxPort = 65535;

bool IsValidPort(UINT port) { return port >= 1 && port <= kMaxPort; }

}  // namespace

COutboundTargetGuard& COutboundTargetGuard::Instance() {
    // Never destroyed: a service thread still stopping while the process exits may unregister
    // its port after static destruction has begun.
    static auto* guard = new COutboundTargetGuard;
    return *guard;
}

void COutboundTargetGuard::RegisterListeningPort(UINT port, OutboundTransport transport) {
    if (!IsValidPort(port))
        return;
    std::lock_guard lock(m_mutex);
    ++m_listening[{transport, port}];
}

void COutboundTargetGuard::UnregisterListeningPort(UINT port, OutboundTransport transport) {
    std::lock_guard lock(m_mutex);
    auto it = m_listening.find({transport, port});
    if (it == m_listening.end())
        return;
    if (--it->second == 0)
        m_listening.erase(it);
}

bool COutboundTargetGuard::IsListeningPort(UINT port, OutboundTransport transport) const {
    std::lock_guard lock(m_mutex);
    return m_listening.count({transport, port}) != 0;
}

bool COutboundTargetGuard::IsAcceptableHostName(const std::string& host) {
    if (host.empty() || host.size() > kMaxHostNameLength)
        return false;
    return std::none_of(host.begin(), host.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b <= 0x20 || b == 0x7F;  // space, NUL, CR, LF and every other control byte
    });
}

void COutboundTargetGuard::CheckHostName(const std::string& host) {
    if (!IsAcceptableHostName(host)) {
        WSASetLastError(WSAEINVAL);
        throw new X1SocketException(WSAEINVAL, kBadTargetHostText);
    }
}

void COutboundTargetGuard::CheckPort(const std::string& host, UINT port) {
    if (!IsValidPort(port)) {
        WSASetLastError(WSAEINVAL);
        throw new X1SocketException(WSAEINVAL, FormatText(kBadTargetPortText, host.c_str(), port));
    }
}

void COutboundTargetGuard::CheckAddress(DWORD address, UINT port, OutboundTransport transport) const {
    const std::string dotted = FormatDottedAddress(address);
    CheckPort(dotted, port);
    if ((address >> 24) == 0) {
        WSASetLastError(WSAEINVAL);
        throw new X1SocketException(WSAEINVAL, FormatText(kBadTargetAddressText, dotted.c_str(), port));
    }
    if (!IsListeningPort(port, transport))
        return;
    bool isLocal = true;  // unknown counts as local: refuse
    IsThisHostAddress(address, &isLocal);
    if (isLocal) {
        WSASetLastError(WSAEACCES);
        throw new X1SocketException(WSAEACCES,
                                    FormatText(kOwnListenerTargetText, dotted.c_str(), port));
    }
}

DWORD COutboundTargetGuard::ResolveChecked(const std::string& host, UINT port,
                                           OutboundTransport transport) const {
    CheckHostName(host);
    CheckPort(host, port);
    DWORD address = 0;
    if (!ResolveHostAddress(host, &address)) {
        WSASetLastError(WSAEINVAL);
        throw new X1SocketException(WSAEINVAL, HostnameLookupFailedText(host));
    }
    CheckAddress(address, port, transport);
    return address;
}

CListeningPortRegistration::CListeningPortRegistration(UINT port, OutboundTransport transport)
    : m_port(port), m_transport(transport) {
    COutboundTargetGuard::Instance().RegisterListeningPort(port, transport);
}

CListeningPortRegistration::~CListeningPortRegistration() {
    COutboundTargetGuard::Instance().UnregisterListeningPort(m_port, m_transport);
}

void OpenGuardedSocket(X1Socket& socket, int type, UINT port, const std::string& address,
                       int backlog) {
    socket.Create(type);
    try {
        socket.Bind(port, address);
        if (type == NET_SOCK_STREAM)
            socket.Listen(backlog);
        const OutboundTransport transport =
            type == NET_SOCK_STREAM ? OutboundTransport::Tcp : OutboundTransport::Udp;
        socket.HoldWhileOpen(
            std::make_shared<CListeningPortRegistration>(socket.GetLocalPort(), transport));
    } catch (...) {
        CloseQuietly(socket);
        throw;
    }
}
