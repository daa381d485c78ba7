#include "foundation/LinkHandshake.h"

#include "foundation/Format.h"
#include "foundation/HexText.h"
#include "foundation/MD5.h"

#include <random>
#include <utility>

using namespace LinkFormat;

namespace {

CLinkRefusal Refuse(int code, std::string text, bool sendStatus = false) {
    return CLinkRefusal{code, std::move(text), sendStatus};
}

BYTE At(std::string_view body, std::size_t offset) { return static_cast<BYTE>(body[offset]); }

bool HasVersion(std::string_view body) {
    return At(body, kVersionMajorAt) == kVersionMajor && At(body, kVersionMinorAt) == kVersionMinor;
}

// Appends a frame's length byte and its version bytes; the caller adds the rest and the frame
// must end up exactly `bodyLength` bytes past the length byte.
void BeginFrame(std::string& frame, std::size_t bodyLength) {
    frame.clear();
    frame.reserve(1 + bodyLength);
    frame += static_cast<char>(bodyLength);
    frame += static_cast<char>(kVersionMajor);
    frame += static_cast<char>(kVersionMinor);
}

}  // namespace

CLinkHandshake::CLinkHandshake(BYTE linkType, bool fixedUser, std::string userName,
                               std::string password)
    : m_linkType(linkType),
      m_fixedUser(fixedUser),
      m_userName(std::move(userName)),
      m_password(std::move(password)) {}

std::optional<CLinkRefusal> CLinkHandshake::TakeChallenge(std::string_view body) {
    if (body.size() < kChallengeFixed)
        return Refuse(kCodeProtocol, kTextProtocolError);
    if (!HasVersion(body))
        return Refuse(kCodeVersion, kTextWrongVersion);
    // The third byte (a link type slot) is not checked.
    if (At(body, kChallengeCommandAt) != kChallengeCommand)
        return Refuse(kCodeProtocol, kTextWrongResponse);
    std::size_t end = body.find('\0', kChallengeTextAt);
    if (end == std::string_view::npos)
        return Refuse(kCodeProtocol, kTextProtocolError);
    m_challenge.assign(body.substr(kChallengeTextAt, end - kChallengeTextAt));
    return std::nullopt;
}

std::optional<CLinkRefusal> CLinkHandshake::MakeAnswer(DWORD localPort, std::string& frame) const {
    // The server reads the name up to its first NUL: a name with one inside would arrive cut.
    if (m_userName.find('\0') != std::string::npos)
        return Refuse(kCodeLocal, kTextUserHasNul);
    const std::string response = Response(m_challenge, m_password);
    const std::size_t bodyLength = m_userName.size() + response.size() + kAnswerFixed;
    if (bodyLength > kMaxFrameBody)
        return Refuse(kCodeLocal, kTextUserTooLong);
    BeginFrame(frame, bodyLength);
    frame += static_cast<char>(m_linkType);
    for (unsigned shift = 0; shift < 32; shift += 8)
        frame += static_cast<char>((localPort >> shift) & 0xFF);
    frame += static_cast<char>(kAnswerCommand);
    frame += m_userName;
    frame += '\0';
    frame += response;
    frame += '\0';
    return std::nullopt;
}

std::optional<CLinkRefusal> CLinkHandshake::CheckStatus(std::string_view body) const {
    if (body.size() < kStatusFixed)
        return Refuse(kCodeProtocol, kTextBadProtocol);
    if (!HasVersion(body))
        return Refuse(kCodeVersion, kTextWrongVersion);
    BYTE status = At(body, kStatusCodeAt);
    if (status != kStatusSuccess)
        return Refuse(status, {});
    return std::nullopt;
}

std::string CLinkHandshake::MakeChallenge() { return MakeChallenge(NewChallengeText()); }

std::string CLinkHandshake::MakeChallenge(std::string text) {
    std::size_t end = text.find('\0');
    if (end != std::string::npos)
        text.resize(end);
    if (text.size() > kMaxFrameBody - kChallengeFixed)
        text.resize(kMaxFrameBody - kChallengeFixed);
    m_challenge = std::move(text);
    return ChallengeFrame(m_challenge);
}

std::optional<CLinkRefusal> CLinkHandshake::CheckAnswer(std::string_view body,
                                                        const CLinkUserLookup& lookup,
                                                        bool passwordMayPass) {
    if (body.size() < kAnswerFixed)
        return Refuse(kCodeProtocol, kTextBadProtocol);

    BYTE type = At(body, kLinkTypeAt);
    if (type != m_linkType) {
        if (m_linkType == kLinkConsole && type == kLinkConsole3)
            m_linkType = kLinkConsole3;
        else
            return Refuse(kCodeWrongType, kTextWrongClientType, true);
    }

    // Engine links never checked the version bytes, and type 3 clients only the first one;
    // peers in the field rely on both.
    bool versionOk = true;
    if (m_linkType == kLinkConsole3)
        versionOk = At(body, kVersionMajorAt) == kVersionMajor;
    else if (m_linkType != kLinkEngine)
        versionOk = HasVersion(body);
    if (!versionOk)
        return Refuse(kCodeVersion, kTextWrongVersion);

    if (At(body, kAnswerCommandAt) != kAnswerCommand)
        return Refuse(kCodeProtocol, kTextWrongCommand);

    std::size_t userEnd = body.find('\0', kAnswerUserAt);
    if (userEnd == std::string_view::npos)
        return Refuse(kCodeProtocol, kTextBadProtocol);
    std::size_t responseEnd = body.find('\0', userEnd + 1);
    if (responseEnd == std::string_view::npos)
        return Refuse(kCodeProtocol, kTextBadProtocol);
    const std::string user(body.substr(kAnswerUserAt, userEnd - kAnswerUserAt));
    const std::string_view response = body.substr(userEnd + 1, responseEnd - userEnd - 1);
    m_answeredUser = user;

    if (m_fixedUser) {
        if (user != m_userName)
            return Refuse(kCodeWrongUser, kTextWrongUsername, true);
    } else {
        m_userName = user;
        if (user.empty())
            return Refuse(kCodeNoUser, kTextNoUsername, true);
        std::string password;
        if (!lookup || !lookup(user, password))
            return Refuse(kCodeNoSuchUser, kTextNoSuchUser, true);
        m_password = std::move(password);
    }

    if (!SameText(Response(m_challenge, m_password), response) || !passwordMayPass)
        return Refuse(kCodeBadPassword, FormatText(kTextFailedPassword, user.c_str()), true);
    return std::nullopt;
}

void CLinkHandshake::StartCipher(bool serverSide) {
    BYTE clientToServer[CLinkCipher::KeySize];
    BYTE serverToClient[CLinkCipher::KeySize];
    MakeKey(m_challenge, m_userName, m_password, clientToServer);
    MakeKey(m_challenge, m_password, m_userName, serverToClient);
    m_send.Key(serverSide ? serverToClient : clientToServer);
    m_receive.Key(serverSide ? clientToServer : serverToClient);
    m_cipherActive = true;
    m_sendOutOfStep = false;
}

std::string CLinkHandshake::ChallengeFrame(const std::string& challenge) {
    std::string frame;
    BeginFrame(frame, kChallengeFixed + challenge.size());
    frame += static_cast<char>(kNoLinkType);
    frame += static_cast<char>(kChallengeCommand);
    frame += challenge;
    frame += '\0';
    return frame;
}

std::string CLinkHandshake::StatusFrame(BYTE code) {
    std::string frame;
    BeginFrame(frame, kStatusFixed);
    frame += static_cast<char>(kNoLinkType);
    frame += static_cast<char>(code);
    return frame;
}

std::string CLinkHandshake::Response(const std::string& challenge, const std::string& password) {
    BYTE digest[CMD5::DigestSize];
    CMD5::DigestString(challenge + password, digest);
    std::string text;
    BytesToHex(text, digest, sizeof digest);
    return text;
}

void CLinkHandshake::MakeKey(const std::string& a, const std::string& b, const std::string& c,
                             BYTE key[CLinkCipher::KeySize]) {
    CMD5::DigestString(a + b + c, key);
}

std::string CLinkHandshake::NewChallengeText() {
    // Each session needs its own keystream: a clock reading repeats across sessions and is
    // guessable, so the number is drawn from the system's random source.
    std::random_device source;
    DWORD value = static_cast<DWORD>(source());
    return FormatText("%u", value);
}

bool CLinkHandshake::SameText(std::string_view a, std::string_view b) {
    const std::size_t length = a.size() > b.size() ? a.size() : b.size();
    unsigned difference = a.size() != b.size() ? 1u : 0u;
    for (std::size_t n = 0; n < length; ++n) {
        BYTE x = n < a.size() ? static_cast<BYTE>(a[n]) : 0;
        BYTE y = n < b.size() ? static_cast<BYTE>(b[n]) : 0;
        difference |= static_cast<unsigned>(x ^ y);
    }
    return difference == 0;
}
