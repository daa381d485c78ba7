#include "proxies/mapping/UDPMappingSession.h"

#include "engine/framework/QuietClose.h"
#include "foundation/Format.h"
#include "foundation/NVDataObject.h"
#include "platform/net/Resolver.h"
#include "proxies/mapping/MappingFormat.h"
#include "proxies/mapping/UDPMappingService.h"

IMPLEMENT_SERIAL(CUDPMappingSession, CUDPSession, 1)

CUDPMappingSession::CUDPMappingSession() { SetHasRemoteSide(TRUE); }

CUDPMappingSession::CUDPMappingSession(CUDPMappingService* owner) : CUDPSession(owner) {
    SetHasRemoteSide(TRUE);
}

CUDPMappingSession::~CUDPMappingSession() { CloseSocket(); }

void CUDPMappingSession::OpenSocket() {
    m_socket.SetCallback(nullptr, nullptr);
    OpenGuardedSocket(m_socket, NET_SOCK_DGRAM);
    m_socket.SetEventMask(FD_READ);
    m_socket.StartAsyncSelect();
    SetKey(static_cast<DWORD>(m_socket.GetHandle()));
}

void CUDPMappingSession::ConnectTarget(const std::string& host, UINT port) {
    const DWORD address =
        COutboundTargetGuard::Instance().ResolveChecked(host, port, OutboundTransport::Udp);
    m_socket.Connect(FormatDottedAddress(address), port);
}

int CUDPMappingSession::SendToTarget(const void* bytes, int count) {
    const int sent = m_socket.Send(bytes, count);
    AddRemoteBytesSent(static_cast<DWORD>(sent));
    return sent;
}

int CUDPMappingSession::ReceiveFromTarget(void* buffer, int size) {
    std::string host;
    UINT port = 0;
    const int got = m_socket.ReceiveFrom(buffer, size, host, port);
    if (port == 0)
        return -1;  // nothing was waiting (a datagram always names its sender's port)
    AddRemoteBytesReceived(static_cast<DWORD>(got));
    return got;
}

void CUDPMappingSession::CloseSocket() { CloseQuietly(m_socket); }

void CUDPMappingSession::SetTarget(const std::string& host, DWORD port) {
    std::lock_guard lock(m_targetMutex);
    m_targetHost = host;
    m_targetPort = port;
}

std::string CUDPMappingSession::GetTargetHost() const {
    std::lock_guard lock(m_targetMutex);
    return m_targetHost;
}

DWORD CUDPMappingSession::GetTargetPort() const {
    std::lock_guard lock(m_targetMutex);
    return m_targetPort;
}

void CUDPMappingSession::SetClient(const std::string& address, UINT port) {
    SetClientAddress(address, port);
    m_clientKey = FormatText(MappingFormat::kClientKey, address.c_str(), port);
}

void CUDPMappingSession::GetValue(DWORD id, CNVDataObject& value) {
    if (id == 2)
        value.SetString(GetTargetHost());
    else if (id == 3)
        value.SetDWORD(GetTargetPort());
    else
        CUDPSession::GetValue(id, value);
}
