#pragma once
// CUpstreamConnectReply: reads the head of an upstream proxy's answer to "CONNECT", as pure code
// fed one line at a time, as X1Socket::RecvLine delivers lines (line feed included; a line
// without one means the proxy closed or the line was cut). The reply grants the tunnel when its
// status line is "HTTP/1.<digit> 200" (any case) followed by a space or the line's end; the
// header lines after it are skipped up to the empty line, which ends the head. A head longer
// than kMaxConnectReplyHead in all is refused, so a proxy cannot feed it without end.
//
// Reading line by line takes exactly the head from the socket: the first tunnel byte stays
// waiting, and a proxy that sends its head in pieces is waited for (within the caller's time).

#include <cstddef>
#include <string_view>

class CUpstreamConnectReply {
public:
    enum class State {
        NeedLine,  // feed the next line
        Granted,   // the empty line ended a granting head; the tunnel starts after it
        Refused,   // a status other than 200, a malformed or unterminated line, or too long
    };

    // Takes the next line; returns the state after it. Once Granted or Refused, the state
    // stays and further lines are ignored.
    State AddLine(std::string_view line);

    State GetState() const { return m_state; }
    // Bytes of the head taken so far.
    std::size_t HeadBytes() const { return m_headBytes; }
    // The most bytes the next line may take before the head is too long (0 once decided).
    std::size_t RemainingBytes() const;

    // Whether `line` (line feed included or not) is a granting status line.
    static bool IsGrantingStatusLine(std::string_view line);
    // Whether `line` is the empty line ending a head ("\r\n" or "\n").
    static bool IsEmptyLine(std::string_view line);

private:
    State m_state = State::NeedLine;
    bool m_statusSeen = false;
    std::size_t m_headBytes = 0;
};
