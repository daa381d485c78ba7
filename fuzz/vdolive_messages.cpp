// The VDOLive proxy's message handling over arbitrary bytes, delivered in pieces whose size
// the first byte picks, as the session receives them: each message is framed only when whole
// and within 2048 bytes (a bad length word refuses the rest), its request fields and player
// port lie inside it, and the port rewrite changes exactly the 4 bytes of that port.

#include "proxies/streaming/NetworkOrder.h"
#include "proxies/streaming/VDOLiveFormat.h"
#include "proxies/streaming/VDOLiveMessage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace VDOLiveFormat;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

void FuzzMessage(const std::string& message) {
    SVDOLiveRequest request;
    if (ParseVDOLiveRequest(message, request))
        Check(request.host.size() + request.clip.size() <= message.size());
    const SVDOLivePort found = FindVDOLivePlayerPort(message);
    std::string rewritten = message;
    WriteVDOLivePlayerPort(rewritten, found, 0xBEEF);
    Check(rewritten.size() == message.size());
    if (found.kind != SVDOLivePort::EKind::stream && found.kind != SVDOLivePort::EKind::marked) {
        Check(rewritten == message);
        return;
    }
    Check(found.offset >= kBodyOffset && found.offset + kFieldSize <= message.size());
    Check(found.port == ReadNetworkDWord(message, found.offset));
    Check(ReadNetworkDWord(rewritten, found.offset) == 0xBEEF);
    rewritten.replace(found.offset, kFieldSize, message, found.offset, kFieldSize);
    Check(rewritten == message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string pending;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        pending.append(input.substr(at, piece));
        for (;;) {
            const SVDOLiveFrame frame = FrameVDOLiveMessage(pending);
            if (frame.result == SVDOLiveFrame::EResult::incomplete)
                break;
            if (frame.result == SVDOLiveFrame::EResult::badLength) {
                Check(frame.length < kMinLength || frame.length > kMaxMessage - kLengthSize);
                return 0;
            }
            Check(frame.size == frame.length + kLengthSize && frame.size <= pending.size() &&
                  frame.size <= kMaxMessage);
            FuzzMessage(pending.substr(0, frame.size));
            pending.erase(0, frame.size);
        }
        Check(pending.size() < kMaxMessage);
    }
    return 0;
}
