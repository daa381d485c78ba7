#include "proxies/streaming/RealAudioProtocol.h"

#include "proxies/streaming/NetworkOrder.h"
#include "proxies/streaming/RealAudioFormat.h"

#include <algorithm>

using namespace RealAudioFormat;

SRealAudioPacket ParseRealAudioPacket(std::string_view bytes) {
    SRealAudioPacket packet;
    if (bytes.size() < kPacketHeaderSize)
        return packet;
    packet.length = ReadNetworkWord(bytes, 0);
    packet.command = static_cast<BYTE>(bytes[kCommandOffset]);
    if (packet.length == 0) {
        packet.result = SRealAudioPacket::EResult::zeroLength;
        return packet;
    }
    const std::size_t dataSize = packet.length - 1u;
    switch (packet.command) {
    case kCommandHello:
    case kCommandTCPMode: packet.hasData = packet.length == kByteCommandLength; break;
    case kCommandServerPort:
    case kCommandClientPortOffset: packet.hasData = packet.length == kWordCommandLength; break;
    case kCommandServerName:
    case kCommandStatus:
        if (dataSize >= kTextArea) {
            packet.result = SRealAudioPacket::EResult::textTooLong;
            return packet;
        }
        packet.hasData = true;
        break;
    default: break;  // connect and unknown commands: their data is not read
    }
    const std::size_t size = kPacketHeaderSize + (packet.hasData ? dataSize : 0);
    if (bytes.size() < size)
        return packet;
    const std::string_view data = bytes.substr(kPacketHeaderSize, size - kPacketHeaderSize);
    if (packet.hasData) {
        switch (packet.command) {
        case kCommandHello:
        case kCommandTCPMode: packet.value = static_cast<BYTE>(data[0]); break;
        case kCommandServerPort:
        case kCommandClientPortOffset: packet.value = ReadNetworkWord(data, 0); break;
        default: packet.text = TextUpToZero(data); break;
        }
    }
    packet.consumed = size;
    packet.result = SRealAudioPacket::EResult::packet;
    return packet;
}

bool SpeaksRealAudioProxyProtocol(std::string_view firstBytes) {
    return firstBytes.size() > kCommandOffset &&
           static_cast<BYTE>(firstBytes[kCommandOffset]) == kCommandHello;
}

std::string BuildRealAudioStatusPacket(BYTE code, std::string_view text) {
    text = text.substr(0, 0xFFFF - 2);
    std::string packet(4, '\0');
    WriteNetworkWord(packet, 0, static_cast<WORD>(text.size() + 2));
    packet[2] = static_cast<char>(kStatusCommand);
    packet[3] = static_cast<char>(code);
    packet.append(text);
    return packet;
}

// --- Client messages ------------------------------------------------------------------------

void CRealAudioClientMessages::Feed(std::string_view bytes, std::string& out, CHandler& handler) {
    m_pending.append(bytes);
    while (Step(out, handler)) {
    }
}

bool CRealAudioClientMessages::Step(std::string& out, CHandler& handler) {
    switch (m_phase) {
    case EPhase::preamble:
        if (m_pending.size() < kClientPreambleWait)
            return false;
        out.append(m_pending, 0, kClientPreambleSize);
        m_pending.erase(0, kClientPreambleSize);
        m_phase = EPhase::header;
        return true;
    case EPhase::header:
        if (m_pending.size() < kMessageHeaderSize)
            return false;
        m_id = ReadNetworkWord(m_pending, 0);
        m_length = ReadNetworkWord(m_pending, 2);
        if (m_id == kMessageEnd) {
            m_phase = EPhase::raw;
        } else if (m_length > kPayloadArea) {
            m_remaining = m_length;
            m_phase = EPhase::passThrough;
        } else {
            m_phase = EPhase::payload;
            return true;  // the header stays with its payload
        }
        out.append(m_pending, 0, kMessageHeaderSize);
        m_pending.erase(0, kMessageHeaderSize);
        return true;
    case EPhase::payload: {
        const std::size_t size = kMessageHeaderSize + m_length;
        if (m_pending.size() < size)
            return false;
        std::string message = m_pending.substr(0, size);
        m_pending.erase(0, size);
        if ((m_id == kMessageDataPort || m_id == kMessageRobustPort) && m_length >= 2) {
            const WORD clientPort = ReadNetworkWord(message, kMessageHeaderSize);
            WriteNetworkWord(message, kMessageHeaderSize, handler.OpenClientPort(m_id, clientPort));
        }
        out.append(message);
        handler.MessageForwarded(m_id, m_length, m_length);
        m_phase = EPhase::header;
        return true;
    }
    case EPhase::passThrough: {
        if (m_pending.empty())
            return false;
        const std::size_t take = std::min(m_pending.size(), m_remaining);
        out.append(m_pending, 0, take);
        m_pending.erase(0, take);
        m_remaining -= take;
        if (m_remaining == 0) {
            handler.MessageForwarded(m_id, m_length, m_length);
            m_phase = EPhase::header;
        }
        return true;
    }
    case EPhase::raw:
        out.append(m_pending);
        m_pending.clear();
        return false;
    }
    return false;
}

// --- Server greeting ------------------------------------------------------------------------

std::optional<CRealAudioServerGreeting::SAnswer> CRealAudioServerGreeting::Feed(
    std::string_view bytes, std::string& out, WORD proxyRobustPort) {
    m_pending.append(bytes);
    std::optional<SAnswer> handled;
    if (m_phase == EPhase::preamble && m_pending.size() >= kServerPreambleSize) {
        out.append(m_pending, 0, kServerPreambleSize);
        m_pending.erase(0, kServerPreambleSize);
        m_phase = EPhase::answer;
    }
    if (m_phase == EPhase::answer && m_pending.size() >= kServerAnswerSize) {
        std::string answer = m_pending.substr(0, kServerAnswerSize);
        m_pending.erase(0, kServerAnswerSize);
        SAnswer result;
        result.robustOffered = answer[0] == kAnswerMark &&
                               static_cast<BYTE>(answer[1]) == kAnswerKind &&
                               ReadNetworkWord(answer, 2) == kAnswerRobust;
        if (result.robustOffered) {
            result.serverRobustPort = ReadNetworkWord(answer, kAnswerRobustPortOffset);
            if (proxyRobustPort != 0) {
                WriteNetworkWord(answer, kAnswerRobustPortOffset, proxyRobustPort);
                result.rewritten = true;
            }
        }
        out.append(answer);
        m_phase = EPhase::raw;
        handled = result;
    }
    if (m_phase == EPhase::raw) {
        out.append(m_pending);
        m_pending.clear();
    }
    return handled;
}
