#pragma once
// The RealAudio proxy's byte handling, apart from any socket (RealAudioFormat.h gives the
// layouts): the client's control packets, the status packets, and the two filters that watch
// the first messages of each direction after "Connected OK" and put the proxy's UDP ports in
// place of the peers'. Bytes may arrive in pieces of any size; nothing is acted on before it
// is whole, and nothing reads or writes outside the bytes it was given.

#include "platform/kernel/Types.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// One control packet at the start of `bytes` (ParseRealAudioPacket).
struct SRealAudioPacket {
    enum class EResult {
        incomplete,   // more bytes are needed
        packet,       // a packet: consume `consumed` bytes and act on it
        zeroLength,   // L = 0: no command byte; the client is refused
        textTooLong,  // a text that does not fit its area; the client is refused
    };
    EResult result = EResult::incomplete;
    WORD length = 0;    // L
    BYTE command = 0;
    // Whether the command's data was taken (its length is the command's own); when not, only
    // the 3 header bytes are consumed.
    bool hasData = false;
    std::size_t consumed = 0;
    WORD value = 0;    // the byte or port of commands 1, 3, 4 and 5
    std::string text;  // the text of commands 2 and 6, up to its first zero byte
};

SRealAudioPacket ParseRealAudioPacket(std::string_view bytes);

// Whether the first packet (at least its 3 header bytes) opens with the proxy's hello.
bool SpeaksRealAudioProxyProtocol(std::string_view firstBytes);

// The status packet with `code` and `text` (a text too long for the 16-bit length is cut).
std::string BuildRealAudioStatusPacket(BYTE code, std::string_view text);

// The client's bytes after "Connected OK": the 5-byte preamble, then messages up to the end
// message (id 0), after which every byte passes unread.
class CRealAudioClientMessages {
public:
    // What the filter asks of the session.
    class CHandler {
    public:
        virtual ~CHandler() = default;
        // A data-port (1) or robust-port (7) message names the client's UDP port: returns the
        // port of the proxy's socket that takes its place.
        virtual WORD OpenClientPort(WORD id, WORD clientPort) = 0;
        // A message (its id, payload length and the payload bytes taken) went on whole.
        virtual void MessageForwarded(WORD id, WORD length, std::size_t taken) = 0;
    };

    // Appends to `out` what of `bytes` goes on to the server now; what is not whole yet is
    // kept for the next call.
    void Feed(std::string_view bytes, std::string& out, CHandler& handler);
    // After the end message: bytes pass unread (Feed still takes them).
    bool IsRaw() const { return m_phase == EPhase::raw; }

private:
    enum class EPhase { preamble, header, payload, passThrough, raw };
    // Acts on the bytes kept; false when more are needed.
    bool Step(std::string& out, CHandler& handler);

    EPhase m_phase = EPhase::preamble;
    std::string m_pending;
    WORD m_id = 0;
    WORD m_length = 0;
    std::size_t m_remaining = 0;  // payload bytes still to pass through
};

// The server's bytes after the connection: the 9-byte preamble and the 10-byte answer that
// may offer the robust channel, after which every byte passes unread.
class CRealAudioServerGreeting {
public:
    // What the answer said, reported by the Feed that handled it.
    struct SAnswer {
        bool robustOffered = false;
        WORD serverRobustPort = 0;  // when offered
        bool rewritten = false;     // the proxy's robust port was put in its place
    };

    // Appends to `out` what of `bytes` goes on to the client now. `proxyRobustPort` is the
    // port of the proxy's robust socket, 0 when it has none (the answer then goes on
    // unchanged). Returns the answer when this call handled it.
    std::optional<SAnswer> Feed(std::string_view bytes, std::string& out, WORD proxyRobustPort);
    bool IsRaw() const { return m_phase == EPhase::raw; }

private:
    enum class EPhase { preamble, answer, raw };

    EPhase m_phase = EPhase::preamble;
    std::string m_pending;
};
