// Feeds arbitrary bytes to the remote-control link as a receiver takes them: a run of frames
// (length word, then the image), each image read into a protocol message (which must come out
// whole, or untouched when refused, and whose description and re-encoding must hold) and as
// a tagged object of each class a receiver asks for (never any other class).

#include "engine/access/User.h"
#include "engine/framework/Service.h"
#include "platform/framework/Exception.h"
#include "remote/NVRCPMessage.h"
#include "remote/RCPFraming.h"
#include "remote/RemoteControlSession.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void CheckMessage(const BYTE* image, std::size_t size) {
    CNVRCPMessage message(7, "untouched");
    try {
        RCPFraming::DecodeInto(image, size, message);
    } catch (...) {
        DropCurrentException();
        if (message.Op != 7 || message.Arg1 != "untouched" || !message.Arg2.empty())
            std::abort();
        return;
    }
    std::string text;
    CRemoteControlSession::DescribeRequest(message, text);
    // What was read goes out again as a frame within the limit, and reads back the same.
    const std::vector<BYTE> frame = RCPFraming::Encode(message, false);
    if (frame.size() - RCPFormat::kLengthBytes != RCPFraming::ImageLength(frame.data()) ||
        RCPFraming::ImageLength(frame.data()) > RCPFormat::kMaxImageLength)
        std::abort();
    CNVRCPMessage again;
    RCPFraming::DecodeInto(frame.data() + RCPFormat::kLengthBytes,
                           frame.size() - RCPFormat::kLengthBytes, again);
    if (again.Op != message.Op || again.Arg1 != message.Arg1 || again.Arg2 != message.Arg2 ||
        again.Arg3 != message.Arg3)
        std::abort();
}

void CheckTagged(const BYTE* image, std::size_t size) {
    for (const CRuntimeClass* expected :
         {RUNTIME_CLASS(CNVRCPMessage), RUNTIME_CLASS(CService), RUNTIME_CLASS(CUser)}) {
        try {
            std::unique_ptr<CObject> object = RCPFraming::DecodeTagged(image, size, expected);
            if (!object || !object->IsKindOf(expected))
                std::abort();
        } catch (...) {
            DropCurrentException();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (size - at >= RCPFormat::kLengthBytes) {
        const DWORD length = RCPFraming::ImageLength(data + at);
        at += RCPFormat::kLengthBytes;
        // A receiver refuses longer images before reading them, and a short one never arrives.
        if (length > RCPFormat::kMaxImageLength || length > size - at)
            break;
        CheckMessage(data + at, length);
        CheckTagged(data + at, length);
        at += length;
    }
    return 0;
}
