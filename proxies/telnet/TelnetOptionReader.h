#pragma once
// The Telnet byte machine of the proxy's command mode (RFC 854): it takes the client's bytes
// one at a time, across as many reads as they come in, and tells what each completes.
//
//   IAC IAC                      the data byte 255
//   IAC WILL|WONT|DO|DONT opt    a negotiation (verb, option)
//   IAC SB ... IAC SE            a subnegotiation, skipped whole (IAC IAC inside it is data
//                                of the subnegotiation and does not end it)
//   IAC <any other command>      skipped (NOP, GA, AYT, ...)
//   any other byte               data
//
// Nothing is kept beyond the state and the verb, so a subnegotiation of any length costs no
// memory.

#include "platform/kernel/Types.h"

class CTelnetOptionReader {
public:
    struct SInput {
        enum class EKind { none, data, negotiation };
        EKind kind = EKind::none;
        BYTE data = 0;    // kind data
        BYTE verb = 0;    // kind negotiation: WILL, WONT, DO or DONT
        BYTE option = 0;  // kind negotiation
    };

    // Takes the next byte.
    SInput Feed(BYTE byte);

private:
    enum class EState { data, command, option, subnegotiation, subnegotiationCommand };

    EState m_state = EState::data;
    BYTE m_verb = 0;
};
