#include "remote/RCPFraming.h"

#include "engine/framework/Service.h"
#include "foundation/ArchiveException.h"
#include "foundation/X1Socket.h"
#include "remote/NVRCPMessage.h"
#include "remote/RemoteControlSession.h"
#include "support/SocketTestKit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace RCPFormat;
using Bytes = std::vector<BYTE>;

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string LengthWord(std::size_t n) {
    return std::string{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                       static_cast<char>((n >> 16) & 0xFF), static_cast<char>((n >> 24) & 0xFF)};
}

// The wire form of a message, written here byte by byte.
TEST(RCPFraming, MessageFramesByteForByte) {
    CNVRCPMessage message(0x0178, "ab", "", std::string(255, 'x'));
    const std::string fields = std::string("\x78\x01", 2) + "\x02" "ab" + std::string(1, '\0') +
                               "\xFF\xFF" + std::string(1, '\0') + std::string(255, 'x');
    EXPECT_EQ(RCPFraming::Encode(message, false), Of(LengthWord(fields.size()) + fields));

    const std::string tagged = std::string("\xFF\xFF\x01\x00\x0D\x00", 6) + "CNVRCPMessage" + fields;
    EXPECT_EQ(RCPFraming::Encode(message, true), Of(LengthWord(tagged.size()) + tagged));

    // A new message is op 0 and three empty strings.
    CNVRCPMessage empty;
    EXPECT_EQ(RCPFraming::Encode(empty, false), Of(LengthWord(5) + std::string(5, '\0')));

    // An image of the limit goes out; one byte more is refused before anything is sent.
    CNVRCPMessage fits(1, std::string(kMaxImageLength - 7, 'a'));
    EXPECT_EQ(RCPFraming::Encode(fits, false).size(), kLengthBytes + kMaxImageLength);
    CNVRCPMessage over(1, std::string(kMaxImageLength - 6, 'a'));
    CaughtSocketError error = CatchSocketError([&] { RCPFraming::Encode(over, false); });
    EXPECT_EQ(error.code, 0);
    EXPECT_EQ(error.text, kObjectTooLong);
}

TEST(RCPFraming, ATaggedImageMustHoldTheClassAsked) {
    CNVRCPMessage sent(32, "svc");
    const Bytes frame = RCPFraming::Encode(sent, true);
    std::unique_ptr<CObject> back = RCPFraming::DecodeTagged(
        frame.data() + kLengthBytes, frame.size() - kLengthBytes, RUNTIME_CLASS(CNVRCPMessage));
    ASSERT_TRUE(back);
    EXPECT_EQ(static_cast<CNVRCPMessage*>(back.get())->Arg1, "svc");

    try {
        RCPFraming::DecodeTagged(frame.data() + kLengthBytes, frame.size() - kLengthBytes,
                                 RUNTIME_CLASS(CService));
        FAIL() << "a message was taken for a service";
    } catch (CArchiveException* e) {
        EXPECT_EQ(e->GetCause(), CArchiveException::badClass);
        e->Delete();
    }
}

// A channel over a plain loopback connection; the peer writes raw bytes.
struct Connection {
    Connection() {
        listener.Create();
        listener.Bind(0, "127.0.0.1");
        listener.Listen(1);
        peer = RawPeer::Connect(static_cast<std::uint16_t>(listener.GetLocalPort()));
        socket.Attach(listener.Accept());
        channel.SetTimeouts(300, 300, 0);
    }

    X1Socket listener;
    X1Socket socket;
    RawPeer peer;
    CRCPChannel channel{socket};
};

// The time-outs and failure texts of a receive (the limits are run end to end).
TEST(RCPChannel, EveryFailedFrameLosesStepForGood) {
    struct Case {
        const char* what;
        std::string bytes;
        bool closeAfter;
        const char* shortText;
        const char* expected;
    };
    const Case cases[] = {
        {"length word late", std::string("\x01\x00", 2), false, kShortPayload,
         kCommunicationsFailure},
        {"image late, untagged", LengthWord(10) + "12345", false, kShortPayload, kShortPayload},
        {"image late, tagged", LengthWord(10) + "12345", false, kCommunicationsFailure,
         kCommunicationsFailure},
        {"closed inside the image", LengthWord(10) + "123", true, kShortPayload, kShortPayload},
    };
    for (const Case& k : cases) {
        Connection c;
        c.peer.Send(k.bytes);
        if (k.closeAfter)
            c.peer.ShutdownSend();
        CaughtSocketError error = CatchSocketError([&] { c.channel.Receive(k.shortText); });
        EXPECT_EQ(error.code, 0) << k.what;
        EXPECT_EQ(error.text, k.expected) << k.what;
        EXPECT_TRUE(c.channel.IsOutOfStep()) << k.what;
        if (k.closeAfter)
            continue;
        // Whatever arrives whole afterwards, the stream stays out of step.
        c.peer.Send(LengthWord(0));
        CatchSocketError([&] { c.channel.Receive(kShortPayload); });
        EXPECT_TRUE(c.channel.IsOutOfStep()) << k.what;
    }
}

TEST(RCPRequests, DescriptionsFollowTheRequestTable) {
    struct Case {
        WORD op;
        const char* arg1;
        const char* arg2;
        const char* text;
    };
    const Case cases[] = {
        {22, "alice", "", "Add user alice"},
        {35, "Web", "1", "Start service Web"},
        {35, "Web", "0", "Stop service Web"},
        {35, "Web", "2", "<unchanged>"},
        {54, "10.*", "11.*", "Modify location 10.*"},
        {63, "ISP", "1", "Dial ISP"},
        {63, "ISP", "0", "Hang up ISP"},
        {76, "10.0.0.7", "42", "Terminate session 42 on 10.0.0.7"},
        {90, "x", "", "<unchanged>"},
        {100, "10.0.0.7", "", "<unchanged>"},
        {120, "alice", "old", "Change password"},
        {133, "http://h/%s%n", "", "Remove cache entry http://h/%s%n"},
        {71, "10.0.0.7", "", "<unchanged>"},
        {999, "x", "", "<unchanged>"},
    };
    for (const Case& c : cases) {
        std::string text = "<unchanged>";
        CRemoteControlSession::DescribeRequest(CNVRCPMessage(c.op, c.arg1, c.arg2), text);
        EXPECT_EQ(text, c.text) << c.op;
    }
}

}  // namespace
