// The service control channels' messages from arbitrary bytes: every decoder refuses what is
// not exactly one message, and what it accepts encodes back to the same bytes.

#include "platform/service/ControlProtocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace ControlProtocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (auto request = DecodeRequest(data, size)) {
        auto again = EncodeRequest(*request);
        if (size != again.size() || std::memcmp(again.data(), data, size) != 0)
            std::abort();
    }
    if (auto reply = DecodeReply(data, size)) {
        auto again = EncodeReply(*reply);
        if (size != again.size() || std::memcmp(again.data(), data, size) != 0)
            std::abort();
    }
    if (auto message = DecodeStartMessage(data, size)) {
        auto again = EncodeStartMessage(*message);
        if (size != again.size() || std::memcmp(again.data(), data, size) != 0)
            std::abort();
    }
    return 0;
}
