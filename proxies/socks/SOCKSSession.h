#pragma once
// CSOCKSSession: one SOCKS client connection, on its own thread. It speaks SOCKS 4 or SOCKS 5
// (with RFC 1929 user name and password), carries out one request (CONNECT, BIND or, for
// SOCKS 5, UDP ASSOCIATE) and then relays for as long as the connections live. A plain HTTP
// request sent through a CONNECT to port 80 or 8080 is handed, with the client connection,
// to a new web session, so that it is filtered and cached like proxied web traffic.
//
// Reading the request. The client speaks first. Until the request is done, a client read
// notice stops the client's notices and reads one message, with blocking reads that end
// kReadTimeoutMs after the message's first byte when it is not all there; the message's parser
// (SOCKSProtocol.h) decides how many of the waiting bytes are the message's, and no byte after
// it is taken, so what the client sends after its request stays on the connection for the
// relay or the web session. Every target passes the engine's target
// guard before anything is sent to it; the remote host and port are known (request
// variables 2 and 3) before the access check and the dial-on-demand check.
//
// Replies. Until the request is answered, a failure is answered with the failure reply of the
// request's version (nothing before the version is known); once it is answered, a failure
// only closes the connections, so no reply bytes ever enter a relayed stream.
//
// Sockets (all watched, CTCPSession): the client socket, the remote socket (the target of a
// CONNECT, the accepted connection of a BIND), the BIND listener, and the two datagram
// sockets of a UDP ASSOCIATE: the client-side one, which takes the client's datagrams,
// sends their data to the targets and receives the targets' answers, and the outside one,
// bound to the port the request named, whose datagrams also go to the client.
//
// BIND. The listener binds to the service's own interface address when the service has one
// (every interface otherwise). Until the expected host connects, what the client sends waits
// unread on its connection; a client that goes meanwhile ends the session at once all the
// same (its stream's end is looked for with each of its read notices).
//
// Ending. Either connection closing ends the session, except that a client that only ends
// its sending side gets the server's answer until the server closes. After a hand-over the
// session has ended (its place on the client machine went to the web session).

#include "engine/framework/TwoEndTCPSession.h"
#include "foundation/X1Socket.h"
#include "platform/kernel/Types.h"
#include "proxies/socks/SOCKSFormat.h"
#include "proxies/socks/SOCKSProtocol.h"
#include "proxies/socks/SOCKSService.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CNVDataObject;

class CSOCKSSession : public CTwoEndTCPSession {
    DECLARE_SERIAL(CSOCKSSession)
public:
    // How long one message of the client may take, from its first byte to its last.
    static constexpr DWORD kReadTimeoutMs = 30000;
    // The longest message a client sends (RFC 1929: two lengths, two texts of 255 bytes).
    static constexpr std::size_t kMaxMessage = 513;
    // A SOCKS 4 client that has sent no byte of its user id this long after the address is
    // given up (kSocks4NoUserId), after kNoUserIdPauseMs more.
    static constexpr DWORD kUserIdWaitMs = 300;
    static constexpr DWORD kNoUserIdPauseMs = 500;
    // The pause between the RFC 1929 method reply and reading the user name and password.
    static constexpr DWORD kUserPasswordPauseMs = 50;
    // The relay moves what waits on one side to the other in pieces of at most
    // kRelayChunkBytes (X1Socket::MoveTo: the bytes do not pass through the session). One
    // notice relays at most kRelayBurstBytes before the session serves its other sockets (the
    // dispatcher posts the notice again while bytes wait).
    static constexpr std::size_t kRelayChunkBytes = 262144;
    static constexpr std::size_t kRelayBurstBytes = 4194304;
    // How long the client may still send once the session ends, before its connection is
    // closed (closing with unread bytes would reset it and could destroy the answer's end).
    static constexpr DWORD kClientDrainMs = 1000;

    CSOCKSSession();
    explicit CSOCKSSession(int acceptedHandle);
    ~CSOCKSSession() override;

    // The service's six SOCKS settings (CSOCKSService::CreateSession).
    void SetParameters(const CSOCKSService::SOCKSSettings& settings);
    // The address a BIND listens on: the service's own interface address when it has one
    // (empty: every interface).
    void SetListenAddress(const std::string& address) { m_listenAddress = address; }

    // The two-ended session's test, or the BIND listener's local address.
    BOOL IsOwnAddress(const std::string& text) override;
    // SendFailureReply(2).
    void SendAccessDenied() override;
    // 22 version, 23 command, 24 address type (DWORDs); the rest as every two-ended session.
    void GetValue(DWORD index, CNVDataObject& data) override;
    // Nothing: the client speaks first.
    void Initialize() override {}

    void OnAccept(X1Socket& socket) override;
    void OnRead(X1Socket& socket) override;
    void OnClose(X1Socket& socket) override;

protected:
    // --- The request (SOCKSSession.cpp) -------------------------------------------------
    // Reads and carries out the client's next message: the SOCKS 5 greeting, or a request.
    void ReceiveRequest();
    // The SOCKS 5 greeting after its version byte (in `bytes`), and RFC 1929 when it is
    // offered and chosen (ChooseMethod). True when the client may go on; a client that
    // offered no acceptable method is told so and the session ends.
    bool NegotiateMethod(std::string& bytes);
    void ReceiveSocks4Request(std::string& bytes);
    void ReceiveSocks5Request(std::string& bytes);
    // Carries out the parsed request: the target becomes the remote host and port, the access
    // check, then the command (an unknown one is refused).
    void CarryOut();
    void Connect();
    void Bind();
    void UdpAssociate();

    void SendSuccessReply();
    void SendBindConnectedReply();
    // Only before the request was answered and once the version is known; errors while
    // sending are swallowed.
    void SendFailureReply(BYTE code);

    // --- Relaying (SOCKSSessionRelay.cpp) -----------------------------------------------
    // A client read once the request is done: by command.
    void OnClientData();
    // Up to kRelayBurstBytes from `from` to `to`.
    void Relay(X1Socket& from, X1Socket& to);
    // Everything `from` still holds, to `to` (dropped when `to` is not connected).
    void Drain(X1Socket& from, X1Socket& to);
    // The hand-over test of a CONNECT to a web port (once, on the client's first bytes); true
    // when the connection went to a web session.
    bool TryHandOver();
    void HandOver();
    // Datagrams of the UDP association. ReceiveDatagram takes one into m_datagram: its
    // length, or -1 when there was none to relay (too long, or an ICMP error).
    int ReceiveDatagram(X1Socket& socket, std::string& sender, UINT& port);
    void OnClientSideDatagram();
    void OnOutsideDatagram();
    // Wraps `data` from `sender`:`port` and sends it to the client's datagram address.
    void SendToClient(const std::string& sender, UINT port, std::string_view data);

    // The guard's lines of the read, close and accept notices.
    std::optional<SHandlerLines> GetNoticeLines(ENotice notice,
                                                const X1Socket& socket) const override;
    // A failed read is answered with the general failure reply while the request is not
    // answered, and ends the session (code 1); so does a failed close. A failed accept of the
    // BIND listener is only written down: the session goes on.
    void OnNoticeFailure(ENotice notice, X1Socket& socket,
                         const SHandlerFailure& failure) override;
    // Ends the session once with `code`, closing the client connection gracefully (a reply
    // the client has not read yet is not destroyed by a reset); later notices are ignored.
    void Finish(int code) override;

private:
    // --- Reading (SOCKSSession.cpp) -----------------------------------------------------
    using Parser = std::function<SSOCKSParse(std::string_view)>;
    // Reads into `bytes` until `parse` decides, never taking a byte after the message. The
    // result is incomplete only when the client closed first; a time-out throws.
    SSOCKSParse ReadMessage(std::string& bytes, const Parser& parse);
    // Reads `need` more bytes (waiting for them until the message's deadline). False when the
    // client closed first.
    bool ReadMore(std::string& bytes, std::size_t need);
    DWORD RemainingReadTime() const;
    // Resumes the client's read, write and close notices.
    void ResumeClient();
    // The description, the status to the consoles, and the Requested lines.
    void AnnounceRequest(const std::string& text);
    // The name of the target for descriptions and logs.
    std::string DisplayName() const;
    // Whether the request is still to be answered (a failure then gets the failure reply).
    bool IsUnanswered() const;
    // Whether the request was granted: its success reply went out.
    bool IsGranted() const;

    enum class EPhase {
        greeting,      // the client's first message (a SOCKS 5 client's greeting) is awaited
        request,       // SOCKS 5: a method was chosen; the request is awaited
        carryingOut,   // the request was read and is carried out; no answer yet
        refused,       // the failure reply went out; the session ends
        handOverTest,  // a CONNECT to a web port was granted: the client's first bytes decide
                       // whether a web session takes the connection over
        relaying,      // the request was granted (a BIND also while its host is awaited)
        finished,      // ended here, or handed over; notices are ignored
    };

    // Settings from the service.
    CSOCKSService::SOCKSSettings m_settings;

    // The conversation.
    EPhase m_phase = EPhase::greeting;
    std::uint64_t m_readDeadline = 0;
    SSOCKSRequest m_request;
    std::string m_userName;  // RFC 1929
    std::string m_password;  // RFC 1929, or the SOCKS 4 user id
    std::string m_displayName;
    DWORD m_targetAddress = 0;  // the checked address of the target

    // BIND.
    std::string m_listenAddress;
    X1Socket m_listenSocket;  // watched
    std::string m_listenLocalAddress;

    // UDP ASSOCIATE: where the client's datagrams come from and its answers go.
    X1Socket m_udpClientSocket;   // watched
    X1Socket m_udpOutsideSocket;  // watched
    std::string m_udpClientHost;
    UINT m_udpClientPort = 0;
    bool m_udpClientKnown = false;  // the client has sent a datagram
    std::array<char, SOCKSFormat::kMaxDatagram> m_datagram{};          // as received
    std::array<char, SOCKSFormat::kDatagramBufferSize> m_wrapped{};    // header + data
};
