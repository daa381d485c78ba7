// Feeds arbitrary bytes, as the body of one link frame, to the client's challenge and status
// checks and to the server's answer check (with a fixed user and with a user table), and
// checks what they keep and build from it.

#include "foundation/LinkHandshake.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

bool LookUp(const std::string& name, std::string& password) {
    if (name != "admin" && name != "guest")
        return false;
    password = name == "admin" ? "secret" : "";
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A frame body is at most what one length byte counts.
    if (size > LinkFormat::kMaxFrameBody)
        return 0;
    const std::string_view body(reinterpret_cast<const char*>(data), size);

    CLinkHandshake client(LinkFormat::kLinkConsole, false, "admin", "secret");
    if (!client.TakeChallenge(body)) {
        if (client.GetChallenge().size() + LinkFormat::kChallengeFixed > size)
            std::abort();
        std::string frame;
        if (!client.MakeAnswer(808, frame) &&
            (frame.size() != static_cast<unsigned char>(frame[0]) + 1u ||
             frame.size() > LinkFormat::kMaxFrameBody + 1))
            std::abort();
    }
    (void)client.CheckStatus(body);

    for (BYTE type : {LinkFormat::kLinkEngine, LinkFormat::kLinkConsole}) {
        CLinkHandshake server(type, type == LinkFormat::kLinkEngine, "admin", "secret");
        server.MakeChallenge("3735928559");
        // An answer whose password may not pass is never admitted.
        CLinkHandshake held(type, type == LinkFormat::kLinkEngine, "admin", "secret");
        held.MakeChallenge("3735928559");
        if (!held.CheckAnswer(body, LookUp, false))
            std::abort();
        if (!server.CheckAnswer(body, LookUp)) {
            server.StartCipher(true);
            BYTE probe[4] = {};
            server.SendCipher().Apply(probe, sizeof probe);
        }
    }
    return 0;
}
