// The replies of upstream servers as arbitrary bytes. The input is cut into lines the way the
// blocking line read delivers them (through each line feed; a last piece without one) and fed
// to the CONNECT reply reader, which must stay within its cap, decide once, and grant only a
// head that starts with an HTTP/1 status line and ends with an empty line exactly where it
// stopped taking bytes. The same bytes serve as a SOCKS 4 reply and as the address, port and
// password of a SOCKS 4 request, whose layout is checked.

#include "engine/framework/OutboundFormat.h"
#include "engine/framework/UpstreamConnectReply.h"
#include "engine/framework/UpstreamSocks4.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <strings.h>

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

void FuzzConnectReply(std::string_view input) {
    using State = CUpstreamConnectReply::State;
    CUpstreamConnectReply reply;
    std::size_t at = 0;
    std::size_t takenUpTo = 0;  // input offset after the last line taken while undecided
    while (at < input.size()) {
        std::size_t end = input.find('\n', at);
        end = end == std::string_view::npos ? input.size() : end + 1;
        const State before = reply.GetState();
        const State after = reply.AddLine(input.substr(at, end - at));
        if (before != State::NeedLine)
            Check(after == before);
        else if (after != State::Refused)
            takenUpTo = end;
        Check(reply.HeadBytes() <= OutboundFormat::kMaxConnectReplyHead);
        at = end;
    }
    if (reply.GetState() == State::Granted) {
        const std::string_view head = input.substr(0, takenUpTo);
        Check(reply.HeadBytes() == head.size());
        Check(head.size() >= 14 && strncasecmp(head.data(), "HTTP/1.", 7) == 0);
        Check(head.ends_with("\n\n") || head.ends_with("\n\r\n"));
    }
}

void FuzzSocks4(std::string_view input) {
    if (input.size() >= OutboundFormat::kSocks4ReplySize) {
        const auto* reply = reinterpret_cast<const unsigned char*>(input.data());
        Check(CUpstreamSocks4::IsGranted(reply) == (reply[1] == 90));
    }
    if (input.size() < 6)
        return;
    const auto* b = reinterpret_cast<const unsigned char*>(input.data());
    const std::uint32_t address = (std::uint32_t(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
    const unsigned port = (b[4] << 8) | b[5];
    const std::string_view password = input.substr(6);
    const std::string request = CUpstreamSocks4::BuildRequest(address, port, password);
    Check(request.size() >= 9 && request.size() <= 89);
    Check(request[0] == 4 && request[1] == 1 && request.back() == '\0');
    Check(request.substr(2, 2) == input.substr(4, 2));  // port, most significant byte first
    Check(request.substr(4, 4) == input.substr(0, 4));  // address in network order
    const std::string_view userId = std::string_view(request).substr(8, request.size() - 9);
    Check(userId.find('\0') == std::string_view::npos);
    Check(password.substr(0, userId.size()) == userId);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    FuzzConnectReply(input);
    FuzzSocks4(input);
    return 0;
}
