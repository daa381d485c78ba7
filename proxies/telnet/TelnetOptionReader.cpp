#include "proxies/telnet/TelnetOptionReader.h"

#include "proxies/telnet/TelnetFormat.h"

using namespace TelnetFormat;

CTelnetOptionReader::SInput CTelnetOptionReader::Feed(BYTE byte) {
    SInput input;
    switch (m_state) {
    case EState::data:
        if (byte == kIAC) {
            m_state = EState::command;
        } else {
            input.kind = SInput::EKind::data;
            input.data = byte;
        }
        break;
    case EState::command:
        if (byte == kIAC) {
            input.kind = SInput::EKind::data;
            input.data = kIAC;
            m_state = EState::data;
        } else if (byte >= kWILL) {  // WILL, WONT, DO, DONT
            m_verb = byte;
            m_state = EState::option;
        } else if (byte == kSB) {
            m_state = EState::subnegotiation;
        } else {
            m_state = EState::data;
        }
        break;
    case EState::option:
        input.kind = SInput::EKind::negotiation;
        input.verb = m_verb;
        input.option = byte;
        m_state = EState::data;
        break;
    case EState::subnegotiation:
        if (byte == kIAC)
            m_state = EState::subnegotiationCommand;
        break;
    case EState::subnegotiationCommand:
        m_state = byte == kSE ? EState::data : EState::subnegotiation;
        break;
    }
    return input;
}
