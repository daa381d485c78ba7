#pragma once
// The link members of one socket: the credentials of the challenge-response handshake between
// two of the system's own endpoints, the challenge, and the two cipher states that encipher
// the link afterwards (LinkFormat.h gives the frames, LinkCipher.h the cipher).
//
// This class builds and checks frames only; it never touches a socket. X1Socket reads each
// frame (a length byte, then that many bytes) and passes the body here, sends the frames built
// here, and turns a refusal into the exception it describes. Every check stays within the body
// it is given: a frame shorter than its fixed part, or a text without its NUL, is a protocol
// error, never a read beyond the body.

#include "foundation/LinkCipher.h"
#include "foundation/LinkFormat.h"
#include "platform/kernel/Types.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Why a handshake step failed: the code and text of the exception to throw (an empty text
// means the text configured for the code), and whether the server first tells the client the
// code in a status frame.
struct CLinkRefusal {
    int code = 0;
    std::string text;
    bool sendStatus = false;
};

// The server half's view of the user database: true, with the user's plain password in
// `password`, when the user exists. Called on the thread that runs the server half.
using CLinkUserLookup = std::function<bool(const std::string& userName, std::string& password)>;

class CLinkHandshake {
public:
    // `linkType` is one of LinkFormat's link types. With `fixedUser` the server half admits only
    // `userName` with `password`; without it, the server looks the client's user up.
    CLinkHandshake(BYTE linkType, bool fixedUser, std::string userName, std::string password);
    CLinkHandshake(const CLinkHandshake&) = delete;
    CLinkHandshake& operator=(const CLinkHandshake&) = delete;

    BYTE GetLinkType() const { return m_linkType; }
    bool IsFixedUser() const { return m_fixedUser; }
    // On the server, after CheckAnswer has read it, the client's user name.
    const std::string& GetUserName() const { return m_userName; }
    // On the server, the user name of the client's answer as it came, also when it was refused
    // for not being the fixed user; empty before an answer was read that far.
    const std::string& GetAnsweredUserName() const { return m_answeredUser; }
    const std::string& GetChallenge() const { return m_challenge; }

    // Client half, in order. Each returns the refusal that ends the handshake, or nothing.
    // Keeps the challenge text of a challenge frame's body.
    std::optional<CLinkRefusal> TakeChallenge(std::string_view body);
    // The whole answer frame to the kept challenge. Refused (before anything is sent) when the
    // user name holds a NUL or the frame would not fit its length byte.
    std::optional<CLinkRefusal> MakeAnswer(DWORD localPort, std::string& frame) const;
    // Checks a status frame's body; a status other than success is refused with that code.
    std::optional<CLinkRefusal> CheckStatus(std::string_view body) const;

    // Server half, in order.
    // Draws a new random challenge and returns the whole challenge frame.
    std::string MakeChallenge();
    // Uses `text`, cut at its first NUL and to what fits one frame, as the challenge and
    // returns the frame.
    std::string MakeChallenge(std::string text);
    // Checks an answer frame's body against the credentials or `lookup` (which may be empty:
    // then no user exists). Takes the client's user name, the promotion of a console link to
    // type 3, and the password the keys are made from. Without `passwordMayPass` every check
    // runs as usual but the response counts as wrong, so the refusal is the one a wrong
    // password gets.
    std::optional<CLinkRefusal> CheckAnswer(std::string_view body, const CLinkUserLookup& lookup,
                                            bool passwordMayPass = true);

    // Cipher. StartCipher keys both directions from the challenge and credentials (the client's
    // send key is the server's receive key and the reverse) and turns the cipher on.
    void StartCipher(bool serverSide);
    void StopCipher() { m_cipherActive = false; }
    bool IsCipherActive() const { return m_cipherActive; }
    // A send that failed part-way has taken keystream for bytes the peer never got: nothing
    // sent afterwards could be deciphered, so the link refuses to send until a new handshake.
    void SetSendOutOfStep() { m_sendOutOfStep = true; }
    bool IsSendOutOfStep() const { return m_sendOutOfStep; }
    CLinkCipher& SendCipher() { return m_send; }
    CLinkCipher& ReceiveCipher() { return m_receive; }
    // LinkFormat::kCipherChunk bytes for enciphering outgoing data.
    BYTE* CipherBuffer() { return m_buffer.data(); }

    // Frames and texts, shared by both halves.
    static std::string ChallengeFrame(const std::string& challenge);
    static std::string StatusFrame(BYTE code);
    // BytesToHex(MD5(challenge + password)).
    static std::string Response(const std::string& challenge, const std::string& password);
    // MD5(a + b + c).
    static void MakeKey(const std::string& a, const std::string& b, const std::string& c,
                        BYTE key[CLinkCipher::KeySize]);
    // A random 32-bit number in unsigned decimal.
    static std::string NewChallengeText();
    // Equal texts, compared in time that depends only on their lengths.
    static bool SameText(std::string_view a, std::string_view b);

private:
    BYTE m_linkType;
    bool m_fixedUser;
    std::string m_userName;
    std::string m_answeredUser;
    std::string m_password;
    std::string m_challenge;
    bool m_cipherActive = false;
    bool m_sendOutOfStep = false;
    CLinkCipher m_send;
    CLinkCipher m_receive;
    std::array<BYTE, LinkFormat::kCipherChunk> m_buffer{};
};
