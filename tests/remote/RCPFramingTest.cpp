#include "remote/RCPFraming.h"

#include "engine/framework/Service.h"
#include "foundation/ArchiveException.h"
#include "foundation/X1Socket.h"
#include "remote/NVRCPMessage.h"
#include "remote/RCPMessageQueue.h"
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
}

TEST(RCPFraming, DecodingKeepsAMessageWholeOrUntouched) {
    CNVRCPMessage sent(120, "alice", std::string("old\0pw", 6), "new");
    const Bytes frame = RCPFraming::Encode(sent, false);
    CNVRCPMessage received;
    RCPFraming::DecodeInto(frame.data() + kLengthBytes, frame.size() - kLengthBytes, received);
    EXPECT_EQ(received.Op, 120);
    EXPECT_EQ(received.Arg1, "alice");
    EXPECT_EQ(received.Arg2, std::string("old\0pw", 6));
    EXPECT_EQ(received.Arg3, "new");

    // Cut anywhere, the image fails and the message stays as it was.
    for (std::size_t size = 0; size + kLengthBytes < frame.size(); ++size) {
        CNVRCPMessage kept(7, "kept");
        EXPECT_THROW(RCPFraming::DecodeInto(frame.data() + kLengthBytes, size, kept),
                     CArchiveException*)
            << size;
        EXPECT_EQ(kept.Op, 7);
        EXPECT_EQ(kept.Arg1, "kept");
    }
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

TEST(RCPFraming, AnObjectTooLongForOneFrameIsNeverSent) {
    CNVRCPMessage fits(1, std::string(kMaxImageLength - 2 - 3 - 2, 'a'));
    EXPECT_EQ(RCPFraming::Encode(fits, false).size(), kLengthBytes + kMaxImageLength);
    CNVRCPMessage over(1, std::string(kMaxImageLength - 2 - 3 - 1, 'a'));
    CaughtSocketError error = CatchSocketError([&] { RCPFraming::Encode(over, false); });
    EXPECT_EQ(error.code, 0);
    EXPECT_EQ(error.text, kObjectTooLong);
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

TEST(RCPChannel, FramesAtTheLimitPassAndEveryFailureLosesStep) {
    {
        Connection c;
        const std::string full(kMaxImageLength, 'z');
        c.peer.Send(LengthWord(full.size()) + full + LengthWord(0));
        EXPECT_EQ(c.channel.Receive(kShortPayload), Of(full));
        EXPECT_TRUE(c.channel.Receive(kShortPayload).empty());
        EXPECT_FALSE(c.channel.IsOutOfStep());
    }
    struct Case {
        const char* what;
        std::string bytes;
        bool closeAfter;
        const char* shortText;
        const char* expected;
    };
    const Case cases[] = {
        {"length over the limit", LengthWord(kMaxImageLength + 1) + "x", false, kShortPayload,
         kOutOfSync},
        {"image cut short, untagged", LengthWord(10) + "12345", false, kShortPayload,
         kShortPayload},
        {"image cut short, tagged", LengthWord(10) + "12345", false, kCommunicationsFailure,
         kCommunicationsFailure},
        {"length word late", std::string("\x01\x00", 2), false, kShortPayload,
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
        // Out of step stays out of step, whatever arrives whole afterwards.
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
        {10, "", "", "Retrieve all settings"},
        {22, "alice", "", "Add user alice"},
        {35, "Web", "1", "Start service Web"},
        {35, "Web", "0", "Stop service Web"},
        {35, "Web", "2", "<unchanged>"},
        {54, "10.*", "11.*", "Modify location 10.*"},
        {63, "ISP", "1", "Dial ISP"},
        {63, "ISP", "0", "Hang up ISP"},
        {76, "10.0.0.7", "42", "Terminate session 42 on 10.0.0.7"},
        {84, "", "", "Register for dialler updates"},
        {90, "x", "", "<unchanged>"},
        {100, "10.0.0.7", "", "<unchanged>"},
        {120, "alice", "old", "Change password"},
        {133, "http://h/%s%n", "", "Remove cache entry http://h/%s%n"},
        {140, "", "", "Shutdown"},
        {71, "10.0.0.7", "", "<unchanged>"},
        {999, "x", "", "<unchanged>"},
    };
    for (const Case& c : cases) {
        std::string text = "<unchanged>";
        CRemoteControlSession::DescribeRequest(CNVRCPMessage(c.op, c.arg1, c.arg2), text);
        EXPECT_EQ(text, c.text) << c.op;
    }
}

TEST(RCPMessageQueue, KeepsOrderAndRefusesPastItsLimit) {
    CRCPMessageQueue queue(3);
    for (WORD op = 1; op <= 3; ++op)
        EXPECT_TRUE(queue.Push(std::make_unique<CNVRCPMessage>(op, "")));
    EXPECT_FALSE(queue.Push(std::make_unique<CNVRCPMessage>(4, "")));
    EXPECT_EQ(queue.Pop()->Op, 1);
    EXPECT_TRUE(queue.Push(std::make_unique<CNVRCPMessage>(5, "")));
    EXPECT_EQ(queue.Pop()->Op, 2);
    queue.Clear();
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_EQ(queue.Pop(), nullptr);
}

}  // namespace
