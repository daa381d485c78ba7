#pragma once
// The Telnet proxy's command mode as a pure machine over the client's bytes: the line editor
// behind the "Norvane>" prompt, the answers to the client's option negotiation, and the
// record of that negotiation which is replayed to a Telnet server on port 23. The session
// feeds it the client's bytes and sends what it answers; it never touches a socket.
//
// Command line: NUL or LF ends it (CR is ignored, so CR LF and CR NUL both end a line once),
// BS and DEL take the last character back ("\b \b"), every other byte is kept and echoed (the
// data byte 255 as IAC IAC) up to kMaxCommandLine characters. An empty line is answered with
// the prompt again.
//
// Options (AnswerOption): DO ECHO turns the echo flag on and is answered WILL ECHO; DONT ECHO
// turns it off (its answer WONT ECHO is then not sent); DO and DONT SUPPRESS-GO-AHEAD are both
// answered WILL SUPPRESS-GO-AHEAD, and a DONT is recorded as DO; DO or DONT of any other
// option is answered WONT; WILL and WONT get no answer. Every negotiation is recorded (option
// and verb as possibly changed) while fewer than kMaxRecordedOptions are.
//
// While the echo flag is off nothing is echoed, prompted or answered.

#include "platform/kernel/Types.h"
#include "proxies/telnet/TelnetOptionReader.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Where a command line says to go.
struct STelnetTarget {
    bool portValid = true;  // false: the port was not 1-65535
    std::string host;
    UINT port = 23;
};

// Splits a command line (without the spaces around it) into host and port: with a ':' the
// host is what stands before the last one and the port the number after it; otherwise with a
// space the same around the last space; otherwise the whole line is the host, on port 23.
STelnetTarget ParseTelnetTarget(std::string_view line);

// Whether a command line's host asks to end the session (QUIT or EXIT, any case).
bool IsQuitCommand(std::string_view host);

class CTelnetCommandMode {
public:
    // Takes the next byte from the client; the answers (echo, option answers, the prompt after
    // an empty line) are appended to `out`. True when the byte ended a non-empty command line,
    // which TakeCommandLine then gives.
    bool Feed(BYTE byte, std::string& out);
    // The command line typed so far, which is emptied.
    std::string TakeCommandLine();
    const std::string& GetCommandLine() const { return m_commandLine; }

    // `byte` to `out` only while the echo flag is set.
    void EchoByte(BYTE byte, std::string& out) const;
    // The prompt to `out` only while the echo flag is set.
    void SendPrompt(std::string& out) const;
    // Answers and records one negotiation of the client (rules at the top of this file).
    void AnswerOption(BYTE verb, BYTE option, std::string& out);

    // The recorded negotiation as IAC, verb, option triples, in the order it came.
    std::string GetReplay() const;
    std::size_t GetRecordedCount() const { return m_recorded.size(); }

    bool IsEchoOn() const { return m_echo; }
    void SetEcho(bool on) { m_echo = on; }

private:
    void Edit(BYTE byte, std::string& out);

    CTelnetOptionReader m_reader;
    std::string m_commandLine;
    bool m_echo = true;
    std::vector<std::pair<BYTE, BYTE>> m_recorded;  // (option, verb)
};
