// X1Socket's link operations: the two halves of the link handshake and the enciphered sends
// and receives. The frames and their checks are CLinkHandshake's; this file moves them over
// the socket and turns refusals into exceptions.

#include "foundation/X1Socket.h"

#include "foundation/LinkLogOnThrottle.h"
#include "platform/net/SocketErrors.h"

#include <algorithm>
#include <optional>

using namespace LinkFormat;

namespace {

[[noreturn]] void ThrowRefusal(const CLinkRefusal& refusal) {
    if (refusal.text.empty())
        throw new X1SocketException(refusal.code);
    throw new X1SocketException(refusal.code, refusal.text);
}

void ThrowIfRefused(const std::optional<CLinkRefusal>& refusal) {
    if (refusal)
        ThrowRefusal(*refusal);
}

}  // namespace

void X1Socket::SetLinkCredentials(BYTE linkType, bool fixedUser, const std::string& userName,
                                  const std::string& password) {
    m_pLink = std::make_unique<CLinkHandshake>(linkType, fixedUser, userName, password);
    m_bHandshakeOnConnect = true;
}

BYTE X1Socket::GetLinkType() const { return m_pLink ? m_pLink->GetLinkType() : 0; }

std::string X1Socket::GetLinkUserName() const { return m_pLink ? m_pLink->GetUserName() : std::string(); }

CLinkHandshake& X1Socket::BeginHandshake() {
    if (!m_pLink)
        throw new X1SocketException(kCodeLocal, kTextNoCredentials);
    RequireOpen();
    StopAsyncSelect();
    m_pLink->StopCipher();
    return *m_pLink;
}

void X1Socket::ReadLinkFrame(std::string& body, const char* noFrameText, const char* shortFrameText) {
    BYTE length = 0;
    if (RecvFixedAmount(&length, 1, kFrameTimeoutMs) < 1)
        throw new X1SocketException(kCodeNoResponse, noFrameText);
    body.assign(length, '\0');
    if (RecvFixedAmount(body.data(), length, kFrameTimeoutMs) < length)
        throw new X1SocketException(kCodeProtocol, shortFrameText);
}

void X1Socket::SendLinkFrame(const std::string& frame) {
    RawSendAll(frame.data(), static_cast<int>(frame.size()));
}

void X1Socket::RawSendAll(const void* bytes, int count) {
    const char* next = static_cast<const char*>(bytes);
    int done = 0;
    while (done < count) {
        const int sent = RawSend(next + done, count - done);
        if (sent <= 0)
            throw new X1SocketException(WSAECONNABORTED);
        done += sent;
    }
}

void X1Socket::ClientHandshake() {
    CLinkHandshake& link = BeginHandshake();
    std::string body;
    ReadLinkFrame(body, kTextNoResponseFromServer, kTextProtocolError);
    ThrowIfRefused(link.TakeChallenge(body));
    std::string answer;
    ThrowIfRefused(link.MakeAnswer(GetLocalPort(), answer));
    SendLinkFrame(answer);
    ReadLinkFrame(body, kTextNoResponseFromServer, kTextBadProtocol);
    ThrowIfRefused(link.CheckStatus(body));
    link.StartCipher(false);
}

void X1Socket::ServerHandshake(const CLinkUserLookup& lookup, CLinkLogOnThrottle* throttle) {
    CLinkHandshake& link = BeginHandshake();
    // Taken now: a client that resets the connection after its answer is still the same one.
    const std::string client = throttle ? GetPeerAddress() : std::string();
    SendLinkFrame(link.MakeChallenge());
    std::string body;
    ReadLinkFrame(body, kTextNoResponseFromClient, kTextBadProtocol);
    std::optional<CLinkRefusal> refusal = throttle
                                              ? throttle->CheckAnswer(client, link, body, lookup)
                                              : link.CheckAnswer(body, lookup);
    if (refusal) {
        if (refusal->sendStatus) {
            try {
                SendLinkFrame(CLinkHandshake::StatusFrame(static_cast<BYTE>(refusal->code)));
            } catch (X1SocketException* e) {
                e->Delete();  // the client is gone already; the refusal is what matters
            }
        }
        ThrowRefusal(*refusal);
    }
    SendLinkFrame(CLinkHandshake::StatusFrame(kStatusSuccess));
    link.StartCipher(true);
}

int X1Socket::SendEnciphered(const void* bytes, int count) {
    CLinkHandshake& link = *m_pLink;
    if (link.IsSendOutOfStep())
        throw new X1SocketException(kCodeLocal, kTextSendOutOfStep);
    const BYTE* in = static_cast<const BYTE*>(bytes);
    int total = 0;
    while (total < count) {
        const int chunk = std::min(count - total, static_cast<int>(kCipherChunk));
        BYTE* buffer = link.CipherBuffer();
        link.SendCipher().Apply(in + total, buffer, static_cast<std::size_t>(chunk));
        // Every enciphered byte must reach the peer before the next chunk takes keystream: a
        // short send is finished here, and a failed one leaves the stream out of step for good.
        try {
            RawSendAll(buffer, chunk);
        } catch (...) {
            link.SetSendOutOfStep();
            throw;
        }
        total += chunk;
    }
    return total;
}

int X1Socket::ReceiveDeciphered(void* buffer, int size) {
    const int got = RawReceive(buffer, std::min(size, static_cast<int>(kCipherChunk)));
    if (got > 0)
        m_pLink->ReceiveCipher().Apply(static_cast<BYTE*>(buffer), static_cast<std::size_t>(got));
    return got;
}
