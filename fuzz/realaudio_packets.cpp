// The RealAudio proxy's byte handling over arbitrary bytes, delivered in pieces whose size the
// first byte picks, as the session receives them: control packets (each taken only when whole,
// its text inside its area, nothing held beyond one packet), then the same bytes as the
// client's messages and as the server's greeting. With the proxy's ports equal to the peers'
// the filters must pass on exactly a prefix of what they took, and hold back no more than one
// unfinished message; with other ports they pass on as many bytes. The status packet's length
// word must count its text.

#include "proxies/streaming/NetworkOrder.h"
#include "proxies/streaming/RealAudioFormat.h"
#include "proxies/streaming/RealAudioProtocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace RealAudioFormat;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

class CPorts : public CRealAudioClientMessages::CHandler {
public:
    explicit CPorts(bool same) : m_same(same) {}
    WORD OpenClientPort(WORD id, WORD clientPort) override {
        Check(id == kMessageDataPort || id == kMessageRobustPort);
        return m_same ? clientPort : 0xBEEF;
    }
    void MessageForwarded(WORD, WORD length, std::size_t taken) override { Check(taken == length); }

private:
    bool m_same;
};

void FuzzPackets(std::string_view input, std::size_t piece) {
    std::string pending;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        pending.append(input.substr(at, piece));
        for (;;) {
            const SRealAudioPacket packet = ParseRealAudioPacket(pending);
            if (packet.result == SRealAudioPacket::EResult::incomplete)
                break;
            if (packet.result != SRealAudioPacket::EResult::packet)
                return;  // refused: the session ends
            Check(packet.consumed >= kPacketHeaderSize && packet.consumed <= pending.size());
            Check(packet.text.size() < kTextArea);
            pending.erase(0, packet.consumed);
        }
        Check(pending.size() < kPacketHeaderSize + kTextArea);
    }
}

void FuzzClientMessages(std::string_view input, std::size_t piece, bool samePorts) {
    CRealAudioClientMessages messages;
    CPorts ports(samePorts);
    std::string out;
    for (std::size_t at = 0; at < input.size(); at += piece)
        messages.Feed(input.substr(at, piece), out, ports);
    Check(out.size() <= input.size());
    Check(input.size() - out.size() < kMessageHeaderSize + kPayloadArea);
    if (samePorts)
        Check(input.substr(0, out.size()) == out);
}

void FuzzServerGreeting(std::string_view input, std::size_t piece, WORD robustPort) {
    CRealAudioServerGreeting greeting;
    std::string out;
    int answers = 0;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        if (const auto answer = greeting.Feed(input.substr(at, piece), out, robustPort)) {
            ++answers;
            Check(!answer->rewritten || (answer->robustOffered && robustPort != 0));
        }
    }
    Check(answers == (greeting.IsRaw() ? 1 : 0));
    Check(out.size() <= input.size() && input.size() - out.size() < kServerAnswerSize);
    if (robustPort == 0)
        Check(input.substr(0, out.size()) == out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    FuzzPackets(input, piece);
    FuzzClientMessages(input, piece, true);
    FuzzClientMessages(input, piece, false);
    FuzzServerGreeting(input, piece, 0);
    FuzzServerGreeting(input, piece, 0xBEEF);
    const std::string status = BuildRealAudioStatusPacket(data[0], input);
    Check(ReadNetworkWord(status, 0) == status.size() - 2 && status.size() <= 0xFFFF + 2);
    return 0;
}
