#include "proxies/socks/SOCKSSession.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/RequestVariables.h"
#include "engine/access/User.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/OutboundConnection.h"
#include "engine/framework/OutboundTargetGuard.h"
#include "engine/framework/QuietClose.h"
#include "engine/framework/UserAccounts.h"
#include "foundation/Format.h"
#include "foundation/NVDataObject.h"
#include "foundation/SocketErrorTexts.h"
#include "foundation/X1SocketException.h"
#include "platform/kernel/Clock.h"
#include "platform/net/Resolver.h"
#include "platform/net/SocketErrors.h"
#include "platform/net/Sockets.h"
#include "proxies/socks/SOCKSTexts.h"

#include <algorithm>

using namespace SOCKSFormat;
using FrameworkFormat::kExitError;
using FrameworkFormat::kExitNormal;

IMPLEMENT_SERIAL(CSOCKSSession, CTwoEndTCPSession, 1)

namespace {

DWORD ParseAddress(const std::string& dotted) {
    DWORD address = 0;
    ParseDottedAddress(dotted, &address);
    return address;
}

// The address this host uses towards `address`: the route's source, found by a datagram socket
// connected to it (which sends nothing).
DWORD LocalAddressToward(DWORD address, UINT port) {
    X1Socket probe;
    probe.Create(NET_SOCK_DGRAM);
    probe.Connect(FormatDottedAddress(address), port);
    return ParseAddress(probe.GetLocalAddress());
}

}  // namespace

CSOCKSSession::CSOCKSSession() : CSOCKSSession(INVALID_SOCKET_HANDLE) {}

CSOCKSSession::CSOCKSSession(int acceptedHandle)
    : CTwoEndTCPSession(acceptedHandle) {
    WatchSocket(m_listenSocket);
    WatchSocket(m_udpClientSocket);
    WatchSocket(m_udpOutsideSocket);
    SetDescription(kRequestTextInitial);
    // No target yet.
    m_request.host = kNoTarget;
    SetRemoteTarget(m_request.host, 0);
}

CSOCKSSession::~CSOCKSSession() = default;

void CSOCKSSession::SetParameters(const CSOCKSService::SOCKSSettings& settings) {
    m_settings = settings;
}

BOOL CSOCKSSession::IsOwnAddress(const std::string& text) {
    if (CTwoEndTCPSession::IsOwnAddress(text))
        return TRUE;
    if (m_listenSocket.GetHandle() == INVALID_SOCKET_HANDLE)
        return FALSE;
    if (m_listenLocalAddress.empty())
        m_listenLocalAddress = m_listenSocket.GetLocalAddress();
    return m_listenLocalAddress == text ? TRUE : FALSE;
}

void CSOCKSSession::SendAccessDenied() { SendFailureReply(kReplyNotAllowed); }

void CSOCKSSession::GetValue(DWORD index, CNVDataObject& data) {
    switch (index) {
    case RequestSOCKSVersion: data.SetDWORD(m_request.version); break;
    case RequestSOCKSCommand: data.SetDWORD(m_request.command); break;
    case RequestSOCKSAddressType: data.SetDWORD(m_request.addressType); break;
    default: CTwoEndTCPSession::GetValue(index, data); break;
    }
}

// --- Notices ------------------------------------------------------------------------------

void CSOCKSSession::OnRead(X1Socket& socket) {
    if (m_phase == EPhase::finished)
        return;
    if (&socket == &m_clientSocket) {
        if (m_phase == EPhase::greeting || m_phase == EPhase::request)
            ReceiveRequest();
        else
            OnClientData();
    } else if (&socket == &m_remoteSocket) {
        Relay(m_remoteSocket, m_clientSocket);
    } else if (&socket == &m_udpClientSocket) {
        OnClientSideDatagram();
    } else if (&socket == &m_udpOutsideSocket) {
        OnOutsideDatagram();
    }
}

std::optional<SHandlerLines> CSOCKSSession::GetNoticeLines(ENotice notice,
                                                           const X1Socket&) const {
    switch (notice) {
    case ENotice::read: return SHandlerLines{kErrorOnReadSocket, kErrorOnReadUnknown};
    case ENotice::close: return SHandlerLines{kErrorOnCloseSocket, kErrorOnCloseUnknown};
    case ENotice::accept: return SHandlerLines{kErrorOnAcceptSocket, kErrorOnAcceptUnknown};
    case ENotice::write: break;
    }
    return std::nullopt;
}

void CSOCKSSession::OnNoticeFailure(ENotice notice, X1Socket&, const SHandlerFailure& failure) {
    if (notice == ENotice::accept)
        return;
    if (notice == ENotice::read && failure.IsSocket())
        SendFailureReply(kReplyGeneralFailure);
    Finish(kExitError);
}

void CSOCKSSession::Finish(int code) {
    if (m_phase == EPhase::finished)
        return;
    m_phase = EPhase::finished;
    CloseGracefullyQuietly(m_clientSocket, kClientDrainMs);
    Terminate(code);
}

bool CSOCKSSession::IsUnanswered() const {
    return m_phase == EPhase::greeting || m_phase == EPhase::request ||
           m_phase == EPhase::carryingOut;
}

bool CSOCKSSession::IsGranted() const {
    return m_phase == EPhase::handOverTest || m_phase == EPhase::relaying;
}

// --- The request --------------------------------------------------------------------------

void CSOCKSSession::ReceiveRequest() {
    m_clientSocket.StopAsyncSelect();
    m_readDeadline = GetTickCount64() + kReadTimeoutMs;
    std::string bytes;
    if (!ReadMore(bytes, 1)) {
        Finish(kExitNormal);
        return;
    }
    const BYTE version = static_cast<BYTE>(bytes[0]);
    if (version == kVersion4) {
        m_request.version = version;
        ReceiveSocks4Request(bytes);
    } else if (version == kVersion5 && m_phase == EPhase::greeting) {
        m_request.version = version;
        if (!NegotiateMethod(bytes)) {
            if (m_phase == EPhase::finished)
                return;  // the client went away, or none of its methods was acceptable
            WriteServiceLog(LogFormat::kLogError, "%s", kErrorNegotiation);
            SendFailureReply(kReplyNotAllowed);
            Finish(kExitError);
            return;
        }
        m_phase = EPhase::request;
        ResumeClient();
    } else if (version == kVersion5) {
        ReceiveSocks5Request(bytes);
    } else {
        // Not SOCKS: nothing is sent, since the client would not understand it.
        WriteServiceLog(LogFormat::kLogError, kErrorVersion, unsigned{version});
        Finish(kExitError);
    }
}

bool CSOCKSSession::NegotiateMethod(std::string& bytes) {
    std::vector<BYTE> methods;
    SSOCKSParse parsed =
        ReadMessage(bytes, [&](std::string_view b) { return ParseSocks5Greeting(b, methods); });
    if (parsed.state != SSOCKSParse::State::complete) {
        Finish(kExitNormal);
        return false;
    }
    const BYTE method = ChooseMethod(methods, m_settings.useRFC1929 != 0);
    const std::string choice = BuildMethodReply(method);
    m_clientSocket.Send(choice.data(), static_cast<int>(choice.size()));
    if (method == kMethodNoAcceptable) {
        // The client closes now; no request follows to answer.
        WriteServiceLog(LogFormat::kLogError, "%s", kErrorNegotiation);
        Finish(kExitError);
        return false;
    }
    if (method == kMethodNoAuthentication)
        return true;
    Sleep(kUserPasswordPauseMs);

    std::string credentials;
    parsed = ReadMessage(credentials, [&](std::string_view b) {
        return ParseUserPassword(b, m_userName, m_password);
    });
    if (parsed.state != SSOCKSParse::State::complete) {
        Finish(kExitNormal);
        return false;
    }
    bool accepted = false;
    WithUserAccount(m_userName, [&](CUser& user) {
        accepted = user.GetAccountEnabled() && user.GetPassword() == m_password;
    });
    const std::string reply =
        BuildUserPasswordReply(accepted ? kUserPasswordAccepted : kUserPasswordRefused);
    m_clientSocket.Send(reply.data(), static_cast<int>(reply.size()));
    return accepted;
}

void CSOCKSSession::ReceiveSocks4Request(std::string& bytes) {
    if (!ReadMore(bytes, kSocks4FixedSize - bytes.size())) {
        Finish(kExitNormal);
        return;
    }
    if (m_clientSocket.GetBytesAvailable() == 0) {
        Sleep(kUserIdWaitMs);
        if (m_clientSocket.GetBytesAvailable() == 0) {
            SetDescription(kSocks4NoUserId);
            WriteAudit(LogFormat::kAuditRequest, "%s", "");
            WriteServiceLog(LogFormat::kLogError, "%s", kSocks4NoUserId);
            ReportStatus(kSocks4NoUserId);
            Sleep(kNoUserIdPauseMs);
            Finish(kExitError);
            return;
        }
    }
    const SSOCKSParse parsed =
        ReadMessage(bytes, [&](std::string_view b) { return ParseSocks4Request(b, m_request); });
    m_phase = EPhase::carryingOut;
    if (parsed.state == SSOCKSParse::State::incomplete) {
        Finish(kExitNormal);
        return;
    }
    if (parsed.state == SSOCKSParse::State::invalid) {
        WriteServiceLog(LogFormat::kLogError, kErrorUserIdTooLong, unsigned{kMaxSocks4UserId});
        SendFailureReply(kReplyNotAllowed);
        Finish(kExitError);
        return;
    }
    m_password = m_request.userId;
    CarryOut();
}

void CSOCKSSession::ReceiveSocks5Request(std::string& bytes) {
    const SSOCKSParse parsed =
        ReadMessage(bytes, [&](std::string_view b) { return ParseSocks5Request(b, m_request); });
    m_phase = EPhase::carryingOut;
    if (parsed.state == SSOCKSParse::State::incomplete) {
        Finish(kExitNormal);
        return;
    }
    if (parsed.state == SSOCKSParse::State::invalid) {
        SendFailureReply(kReplyAddressTypeNotSupported);
        WriteServiceLog(LogFormat::kLogError, kErrorAddressType, unsigned{m_request.addressType});
        Finish(kExitError);
        return;
    }
    CarryOut();
}

void CSOCKSSession::CarryOut() {
    m_displayName = DisplayName();
    SetRemoteTarget(m_request.host, m_request.port);
    if (!CheckAccess(FALSE))
        return;  // refused: answered and ended
    switch (m_request.command) {
    case kCommandConnect: Connect(); return;
    case kCommandBind: Bind(); return;
    case kCommandUdpAssociate:
        if (m_request.version == kVersion5) {
            UdpAssociate();
            return;
        }
        break;
    default: break;
    }
    WriteServiceLog(LogFormat::kLogError, "%s", kErrorInvalidCommand);
    SendFailureReply(kReplyCommandNotSupported);
    Finish(kExitError);
}

std::string CSOCKSSession::DisplayName() const {
    if (m_request.version == kVersion5 && m_request.addressType == kAddressName)
        return m_request.host;
    std::string name;
    if (m_settings.doReverseLookups != 0 && ReverseLookup(m_request.address, &name) &&
        !name.empty())
        return name;
    return m_request.host;
}

void CSOCKSSession::AnnounceRequest(const std::string& text) {
    SetDescription(text);
    ReportStatus(GetDescription());
    WriteAudit(LogFormat::kAuditRequest, "%s", "");
    WriteServiceLog(LogFormat::kLogRequest, "%s", "");
}

void CSOCKSSession::Connect() {
    AnnounceRequest(FormatText(m_request.version == kVersion4 ? kSocks4Connect : kSocks5Connect,
                               m_displayName.c_str(), m_request.port));
    CNorvaneEngine::Instance().CheckDialFirst(this);
    m_targetAddress = COutboundTargetGuard::Instance().ResolveChecked(m_request.host, m_request.port);
    COutboundConnection::ConnectDirect(m_remoteSocket, FormatDottedAddress(m_targetAddress),
                                       m_request.port);
    m_remoteSocket.SetEventMask(FD_READ | FD_WRITE | FD_CLOSE);
    m_remoteSocket.StartAsyncSelect();
    SendSuccessReply();
    ResumeClient();
}

void CSOCKSSession::Bind() {
    AnnounceRequest(FormatText(m_request.version == kVersion4 ? kSocks4Bind : kSocks5Bind,
                               m_displayName.c_str(), m_request.port));
    CNorvaneEngine::Instance().CheckDialFirst(this);
    // The target is the host expected to connect; nothing is sent to it, so any port (0
    // too, as clients that do not know it send) is taken.
    COutboundTargetGuard::CheckHostName(m_request.host);
    if (!ResolveHostAddress(m_request.host, &m_targetAddress)) {
        WSASetLastError(WSAEINVAL);
        throw new X1SocketException(WSAEINVAL, HostnameLookupFailedText(m_request.host));
    }
    OpenListener(m_listenSocket, 0, m_listenAddress);
    m_listenSocket.SetEventMask(FD_ACCEPT | FD_CLOSE);
    m_listenSocket.StartAsyncSelect();
    SendSuccessReply();
    ResumeClient();
}

void CSOCKSSession::UdpAssociate() {
    AnnounceRequest(FormatText(kSocks5UdpAssociate, m_displayName.c_str(), m_request.port));
    CNorvaneEngine::Instance().CheckDialFirst(this);
    // Until the client's first datagram, its datagrams are expected from where it said.
    m_udpClientHost = m_request.host;
    m_udpClientPort = m_request.port;
    OpenDatagramSocket(m_udpClientSocket);
    m_udpClientSocket.SetEventMask(FD_READ);
    m_udpClientSocket.StartAsyncSelect();
    const bool outsideFailed = CatchSocketFailure([&] {
                                   OpenDatagramSocket(m_udpOutsideSocket, m_request.port);
                                   m_udpOutsideSocket.SetEventMask(FD_READ);
                                   m_udpOutsideSocket.StartAsyncSelect();
                               }).has_value();
    // Without it the association still relays through the client-side socket.
    if (outsideFailed)
        CloseQuietly(m_udpOutsideSocket);
    SendSuccessReply();
    ResumeClient();
}

void CSOCKSSession::ResumeClient() {
    m_clientSocket.SetEventMask(FD_READ | FD_WRITE | FD_CLOSE);
    m_clientSocket.StartAsyncSelect();
}

// --- Reading ------------------------------------------------------------------------------

SSOCKSParse CSOCKSSession::ReadMessage(std::string& bytes, const Parser& parse) {
    for (;;) {
        const SSOCKSParse parsed = parse(bytes);
        if (parsed.state != SSOCKSParse::State::incomplete)
            return parsed;
        // Usually the rest of the message waits already: one look says how much of what
        // waits is the message's, and that much is taken.
        char waiting[kMaxMessage];
        const int peeked = m_clientSocket.Peek(waiting, static_cast<int>(sizeof waiting));
        if (peeked > 0) {
            const SSOCKSParse ahead =
                parse(bytes + std::string(waiting, static_cast<std::size_t>(peeked)));
            if (ahead.state == SSOCKSParse::State::invalid)
                return ahead;
            const std::size_t take = ahead.state == SSOCKSParse::State::complete
                                         ? ahead.size - bytes.size()
                                         : static_cast<std::size_t>(peeked);
            if (!ReadMore(bytes, take))
                return parsed;
            continue;
        }
        if (!ReadMore(bytes, parsed.toNul ? 1 : parsed.size))
            return parsed;
    }
}

bool CSOCKSSession::ReadMore(std::string& bytes, std::size_t need) {
    const std::size_t at = bytes.size();
    bytes.resize(at + need);
    const int count = static_cast<int>(need);
    int got;
    if (m_clientSocket.GetBytesAvailable() >= count)
        got = m_clientSocket.Receive(bytes.data() + at, count);
    else
        got = m_clientSocket.RecvFixedAmount(bytes.data() + at, count, RemainingReadTime());
    bytes.resize(at + static_cast<std::size_t>(std::max(got, 0)));
    return got == count;
}

DWORD CSOCKSSession::RemainingReadTime() const {
    const std::uint64_t now = GetTickCount64();
    if (now >= m_readDeadline)
        throw new X1SocketException(0, RecvFixedTimeoutText());
    return static_cast<DWORD>(m_readDeadline - now);
}

// --- Replies ------------------------------------------------------------------------------

void CSOCKSSession::SendSuccessReply() {
    const bool v4 = m_request.version == kVersion4;
    std::string reply;
    switch (m_request.command) {
    case kCommandConnect:
        reply = v4 ? BuildSocks4Reply(kSocks4Granted, 0, 0)
                   : BuildSocks5Reply(kReplySucceeded, ParseAddress(m_remoteSocket.GetLocalAddress()),
                                      m_remoteSocket.GetLocalPort());
        break;
    case kCommandBind: {
        // A listener on one interface is reached there; one on every interface by the
        // address this host uses towards the expected host.
        DWORD local = ParseAddress(m_listenSocket.GetLocalAddress());
        if (local == NET_ADDR_ANY)
            local = LocalAddressToward(m_targetAddress, m_request.port);
        const UINT port = m_listenSocket.GetLocalPort();
        reply = v4 ? BuildSocks4Reply(kSocks4Granted, port, local)
                   : BuildSocks5Reply(kReplySucceeded, local, port);
        break;
    }
    default:
        reply = BuildSocks5Reply(kReplySucceeded, ParseAddress(m_clientSocket.GetLocalAddress()),
                                 m_udpClientSocket.GetLocalPort());
        break;
    }
    // A CONNECT to a web port may still go to a web session (TryHandOver).
    const bool handOverTest =
        m_settings.referHTTPRequests != 0 && m_request.command == kCommandConnect &&
        (m_request.port == kHandOverPort || m_request.port == kHandOverAltPort);
    m_phase = handOverTest ? EPhase::handOverTest : EPhase::relaying;
    m_clientSocket.Send(reply.data(), static_cast<int>(reply.size()));
}

void CSOCKSSession::SendBindConnectedReply() {
    // SOCKS 4 names the accepted connection's local end; SOCKS 5 the connecting host
    // (RFC 1928), which a client may check against the host it expected.
    const std::string reply =
        m_request.version == kVersion4
            ? BuildSocks4Reply(kSocks4Granted, m_remoteSocket.GetLocalPort(),
                               ParseAddress(m_remoteSocket.GetLocalAddress()))
            : BuildSocks5Reply(kReplySucceeded, ParseAddress(m_remoteSocket.GetPeerAddress()),
                               m_remoteSocket.GetPeerPort());
    m_clientSocket.Send(reply.data(), static_cast<int>(reply.size()));
}

void CSOCKSSession::SendFailureReply(BYTE code) {
    const BYTE version = m_request.version;
    if (!IsUnanswered() || (version != kVersion4 && version != kVersion5))
        return;
    m_phase = EPhase::refused;
    SendQuietly(m_clientSocket, version == kVersion4 ? BuildSocks4Reply(kSocks4Refused, 0, 0)
                                                     : BuildSocks5Reply(code, 0, 0));
}
