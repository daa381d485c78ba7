#include "proxies/streaming/VDOLiveMessage.h"

#include "proxies/streaming/NetworkOrder.h"
#include "proxies/streaming/VDOLiveFormat.h"

#include <cstdint>

using namespace VDOLiveFormat;

namespace {

std::uint64_t Pad4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

// Whether `size` bytes from `offset` lie inside the message.
bool Inside(std::string_view message, std::uint64_t offset, std::uint64_t size) {
    return offset <= message.size() && size <= message.size() - offset;
}

}  // namespace

SVDOLiveFrame FrameVDOLiveMessage(std::string_view bytes) {
    SVDOLiveFrame frame;
    if (bytes.size() < kLengthSize)
        return frame;
    frame.length = ReadNetworkDWord(bytes, 0);
    const std::uint64_t size = std::uint64_t{frame.length} + kLengthSize;
    if (frame.length < kMinLength || size > kMaxMessage) {
        frame.result = SVDOLiveFrame::EResult::badLength;
        return frame;
    }
    if (bytes.size() >= size) {
        frame.result = SVDOLiveFrame::EResult::whole;
        frame.size = static_cast<std::size_t>(size);
    }
    return frame;
}

DWORD GetVDOLiveMessageType(std::string_view message) {
    return Inside(message, kTypeOffset, kFieldSize) ? ReadNetworkDWord(message, kTypeOffset) : 0;
}

bool ParseVDOLiveRequest(std::string_view message, SVDOLiveRequest& request) {
    if (!Inside(message, kRequestPortOffset, 2 * kFieldSize))
        return false;
    const std::uint64_t hostLength = ReadNetworkDWord(message, kRequestHostLengthOffset);
    const std::uint64_t clipLengthOffset = kRequestHostOffset + Pad4(hostLength);
    if (!Inside(message, kRequestHostOffset, hostLength) ||
        !Inside(message, clipLengthOffset, kFieldSize))
        return false;
    const std::uint64_t clipLength = ReadNetworkDWord(message, clipLengthOffset);
    const std::uint64_t clipOffset = clipLengthOffset + kFieldSize;
    if (!Inside(message, clipOffset, clipLength))
        return false;
    request.port = ReadNetworkDWord(message, kRequestPortOffset);
    request.host = TextUpToZero(message.substr(kRequestHostOffset, hostLength));
    request.clip = TextUpToZero(message.substr(clipOffset, clipLength));
    return true;
}

SVDOLivePort FindVDOLivePlayerPort(std::string_view message) {
    SVDOLivePort found;
    std::uint64_t offset = 0;
    switch (GetVDOLiveMessageType(message)) {
    case kTypeStream: {
        found.kind = SVDOLivePort::EKind::outside;
        if (!Inside(message, kStreamNameLengthOffset, kFieldSize))
            return found;
        const std::uint64_t nameLength = ReadNetworkDWord(message, kStreamNameLengthOffset);
        if (!Inside(message, kStreamNameOffset, nameLength))
            return found;
        offset = kStreamNameOffset + Pad4(nameLength) + kStreamSkipped;
        found.streamName = TextUpToZero(message.substr(kStreamNameOffset, nameLength));
        found.kind = SVDOLivePort::EKind::stream;
        break;
    }
    case kTypeMarked:
        // The mark is exactly its 8 bytes; a message too short to hold them has none.
        if (!Inside(message, kMarkOffset, kMark.size()) ||
            message.substr(kMarkOffset, kMark.size()) != kMark)
            return found;
        offset = kMarkedPortOffset;
        found.kind = SVDOLivePort::EKind::marked;
        break;
    default: return found;
    }
    if (!Inside(message, offset, kFieldSize)) {
        found.kind = SVDOLivePort::EKind::outside;
        return found;
    }
    found.offset = static_cast<std::size_t>(offset);
    found.port = ReadNetworkDWord(message, found.offset);
    return found;
}

void WriteVDOLivePlayerPort(std::string& message, const SVDOLivePort& found, WORD port) {
    if ((found.kind == SVDOLivePort::EKind::stream || found.kind == SVDOLivePort::EKind::marked) &&
        Inside(message, found.offset, kFieldSize))
        WriteNetworkDWord(message, found.offset, port);
}
