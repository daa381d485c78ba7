#include "engine/framework/OutboundConnection.h"

#include "engine/framework/OutboundTargetGuard.h"
#include "engine/framework/UpstreamConnectReply.h"
#include "engine/framework/UpstreamSocks4.h"
#include "foundation/Format.h"
#include "foundation/RegistryStore.h"
#include "foundation/SocketErrorTexts.h"
#include "foundation/X1Socket.h"
#include "foundation/X1SocketException.h"
#include "platform/kernel/Clock.h"
#include "platform/net/Resolver.h"
#include "platform/net/SocketErrors.h"

using namespace OutboundFormat;

namespace {

// The text of an upstream failure for host and port: the stored replacement when it holds
// exactly the "%s" and "%u" its default holds, else the default.
std::string UpstreamFailureText(const SOutboundText& text, const std::string& host, UINT port) {
    std::string format = RegReadString(text.key, text.valueName, text.defaultText);
    if (format.empty() || !FormatHasConversions(format, "su"))
        format = text.defaultText;
    return FormatText(format.c_str(), host.c_str(), port);
}

[[noreturn]] void ThrowUpstreamFailure(const SOutboundText& text, const std::string& host, UINT port) {
    throw new X1SocketException(0, UpstreamFailureText(text, host, port));
}

// Connects to an address the guard has checked, creating the socket when it is closed.
void ConnectChecked(X1Socket& socket, DWORD address, UINT port) {
    if (socket.GetHandle() == INVALID_SOCKET_HANDLE)
        socket.Create();
    socket.Connect(FormatDottedAddress(address), port);
}

void ConnectSocks4(X1Socket& socket, const std::string& host, UINT port,
                   const COutboundSettings& settings) {
    const COutboundTargetGuard& guard = COutboundTargetGuard::Instance();
    // The target is resolved here and travels as an address: it is checked like any target,
    // and before the proxy is bothered with a request that cannot be made.
    const DWORD target = guard.ResolveChecked(host, port);
    ConnectChecked(socket, guard.ResolveChecked(settings.ProxyServer, settings.ProxyPort),
                   settings.ProxyPort);

    const std::string request = CUpstreamSocks4::BuildRequest(target, port, settings.SOCKS4Password);
    socket.Send(request.data(), static_cast<int>(request.size()));

    unsigned char reply[kSocks4ReplySize] = {};
    const int got = socket.RecvFixedAmount(reply, static_cast<int>(sizeof reply), settings.ReplyTimeoutMs);
    if (got < static_cast<int>(sizeof reply))
        ThrowUpstreamFailure(kSocks4NoResponseText, host, port);
    if (!CUpstreamSocks4::IsGranted(reply))
        ThrowUpstreamFailure(kSocks4AccessDeniedText, host, port);
}

void ConnectTunnel(X1Socket& socket, const std::string& host, UINT port,
                   const COutboundSettings& settings) {
    const COutboundTargetGuard& guard = COutboundTargetGuard::Instance();
    ConnectChecked(socket, guard.ResolveChecked(settings.ProxyServer, settings.ProxyPort),
                   settings.ProxyPort);
    socket.SendString(kConnectRequestFormat, host.c_str(), port);

    // One time limit for the whole head: each line may come in pieces, but a proxy that
    // trickles header lines cannot hold the session longer than a single reply would.
    const std::uint64_t deadline = GetTickCount64() + settings.ReplyTimeoutMs;
    CUpstreamConnectReply reply;
    std::string line;
    while (reply.GetState() == CUpstreamConnectReply::State::NeedLine) {
        const std::uint64_t now = GetTickCount64();
        if (now >= deadline)
            throw new X1SocketException(0, RecvLineTimeoutText());
        socket.RecvLine(line, static_cast<DWORD>(deadline - now));
        reply.AddLine(line);
    }
    if (reply.GetState() != CUpstreamConnectReply::State::Granted)
        ThrowUpstreamFailure(kTunnelBadResponseText, host, port);
}

}  // namespace

void COutboundConnection::Connect(X1Socket& socket, const std::string& host, UINT port,
                                  const COutboundSettings& settings) {
    COutboundTargetGuard::CheckHostName(host);
    COutboundTargetGuard::CheckPort(host, port);
    switch (settings.ConnectMethod) {
    case kMethodDirect:
        ConnectDirect(socket, host, port);
        return;
    case kMethodHttpProxy:
        ConnectDirect(socket, settings.ProxyServer, settings.ProxyPort);
        return;
    case kMethodSocks4:
        ConnectSocks4(socket, host, port, settings);
        return;
    case kMethodConnectTunnel:
        ConnectTunnel(socket, host, port, settings);
        return;
    default:
        WSASetLastError(WSAEINVAL);
        throw new X1SocketException(WSAEINVAL);
    }
}

void COutboundConnection::ConnectDirect(X1Socket& socket, const std::string& host, UINT port) {
    ConnectChecked(socket, COutboundTargetGuard::Instance().ResolveChecked(host, port), port);
}

int COutboundConnection::SendDatagram(X1Socket& socket, const void* bytes, int count,
                                      const std::string& host, UINT port) {
    const DWORD address =
        COutboundTargetGuard::Instance().ResolveChecked(host, port, OutboundTransport::Udp);
    return socket.SendTo(bytes, count, port, FormatDottedAddress(address));
}
