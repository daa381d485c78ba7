#include "proxies/streaming/StreamingSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundConnection.h"
#include "engine/framework/QuietClose.h"
#include "foundation/Format.h"
#include "foundation/X1SocketException.h"
#include "platform/net/SocketErrors.h"
#include "platform/net/Sockets.h"

#include <cstdarg>
#include <vector>

using FrameworkFormat::kExitError;
using FrameworkFormat::kExitNormal;

IMPLEMENT_DYNAMIC(CStreamingSession, CTwoEndTCPSession)

void CStreamingSession::BeforeAdmission() { SetUpstream(COutboundSettings{}); }

void CStreamingSession::OnClose(X1Socket& socket) {
    if (&socket == &m_clientSocket)
        Finish(kExitError);
    else if (&socket == &m_remoteSocket)
        Finish(kExitNormal);
}

void CStreamingSession::ConnectServer(const std::string& host, UINT port) {
    SetRemoteTarget(host, port);
    CNorvaneEngine::Instance().CheckDialFirst(this);
    COutboundConnection::ConnectDirect(m_remoteSocket, host, port);
    m_serverAddress = m_remoteSocket.GetPeerAddress();
    m_remoteSocket.SetEventMask(FD_READ | FD_CLOSE);
    m_remoteSocket.StartAsyncSelect();
}

void CStreamingSession::LogRequest() {
    WriteAudit(LogFormat::kAuditRequest, "%s", "");
    WriteServiceLog(LogFormat::kLogRequest, "%s", "");
}

int CStreamingSession::ReceiveBlock(X1Socket& socket, std::string& bytes, std::size_t size) {
    const std::size_t start = bytes.size();
    bytes.resize(start + size);
    const int received = socket.Receive(bytes.data() + start, static_cast<int>(size));
    bytes.resize(start + static_cast<std::size_t>(received > 0 ? received : 0));
    return received;
}

void CStreamingSession::RelayBlock(X1Socket& from, X1Socket& to, std::size_t size) {
    std::string block;
    if (ReceiveBlock(from, block, size) > 0)
        SendAll(to, block);
}

void CStreamingSession::SendAll(X1Socket& to, std::string_view bytes) {
    if (!bytes.empty())
        to.Send(bytes.data(), static_cast<int>(bytes.size()));
}

WORD CStreamingSession::OpenStreamSocket(X1Socket& socket) {
    CloseQuietly(socket);
    OpenDatagramSocket(socket);
    socket.SetEventMask(FD_READ);
    socket.StartAsyncSelect();
    return static_cast<WORD>(socket.GetLocalPort());
}

bool CStreamingSession::ReceiveDatagram(X1Socket& socket, std::size_t size,
                                        std::string& datagram, std::string& host, UINT& port) {
    std::vector<char> buffer(size);
    int received = 0;
    const std::optional<SHandlerFailure> failure = CatchSocketFailure(
        [&] { received = socket.ReceiveFrom(buffer.data(), static_cast<int>(size), host, port); });
    if (failure) {
        // A datagram longer than the relay allows is dropped (it was consumed); any other
        // failure is the socket's.
        if (failure->code != WSAEMSGSIZE)
            throw new X1SocketException(failure->code, failure->text);
        return false;
    }
    datagram.assign(buffer.data(), static_cast<std::size_t>(received > 0 ? received : 0));
    return received > 0;
}

void CStreamingSession::ForwardDatagram(X1Socket& socket, std::string_view datagram,
                                        const std::string& host, UINT port) {
    if (socket.GetHandle() == INVALID_SOCKET_HANDLE || port == 0 || datagram.empty())
        return;
    COutboundConnection::SendDatagram(socket, datagram.data(), static_cast<int>(datagram.size()),
                                      host, port);
}

void CStreamingSession::Finish(int code) {
    if (IsEnding())
        return;
    m_ending = true;
    CloseSockets();
    Terminate(code);
}

void CStreamingSession::EndForBadProtocol(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatTextV(format, args);
    va_end(args);
    WriteServiceLog(LogFormat::kLogError, "%s", text.c_str());
    Finish(kExitError);
}
