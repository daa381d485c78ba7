#include "engine/framework/TwoEndTCPSession.h"

#include "foundation/NVDataObject.h"
#include "platform/framework/Exception.h"

IMPLEMENT_SERIAL(CTwoEndTCPSession, CTCPSession, 1)

CTwoEndTCPSession::CTwoEndTCPSession() {
    SetHasRemoteSide(TRUE);
    WatchSocket(m_remoteSocket);
}

CTwoEndTCPSession::CTwoEndTCPSession(int acceptedHandle) : CTCPSession(acceptedHandle) {
    SetHasRemoteSide(TRUE);
    WatchSocket(m_remoteSocket);
}

BOOL CTwoEndTCPSession::IsOwnAddress(const std::string& text) {
    if (CTCPSession::IsOwnAddress(text))
        return TRUE;
    const std::string local = m_remoteSocket.GetConnectedLocalAddress();
    return !local.empty() && local == text ? TRUE : FALSE;
}

void CTwoEndTCPSession::GetValue(DWORD id, CNVDataObject& value) {
    if (id == 2) {
        value.SetString(GetRemoteHost());
    } else if (id == 3) {
        value.SetDWORD(GetRemotePort());
    } else {
        CTCPSession::GetValue(id, value);
    }
}

void CTwoEndTCPSession::ConnectRemote(X1Socket& socket, const std::string& host, UINT port) {
    COutboundConnection::Connect(socket, host, port, GetUpstream());
}

COutboundSettings CTwoEndTCPSession::GetUpstream() const {
    std::lock_guard<std::mutex> lock(m_remoteMutex);
    return m_upstream;
}

void CTwoEndTCPSession::SetUpstream(const COutboundSettings& upstream) {
    std::lock_guard<std::mutex> lock(m_remoteMutex);
    m_upstream = upstream;
}

std::string CTwoEndTCPSession::GetRemoteHost() const {
    std::lock_guard<std::mutex> lock(m_remoteMutex);
    return m_remoteHost;
}

UINT CTwoEndTCPSession::GetRemotePort() const {
    std::lock_guard<std::mutex> lock(m_remoteMutex);
    return m_remotePort;
}

void CTwoEndTCPSession::SetRemoteTarget(const std::string& host, UINT port) {
    std::lock_guard<std::mutex> lock(m_remoteMutex);
    m_remoteHost = host;
    m_remotePort = port;
}
