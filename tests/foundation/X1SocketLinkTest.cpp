#include "foundation/X1Socket.h"

#include "foundation/LinkFormat.h"
#include "foundation/SocketErrorTexts.h"
#include "support/SocketTestKit.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

using namespace LinkFormat;

bool AdminOnly(const std::string& name, std::string& password) {
    if (name != "admin")
        return false;
    password = "secret";
    return true;
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t n = 0; n < size; ++n)
        bytes[n] = static_cast<char>((n * 31 + 7) & 0xFF);
    return bytes;
}

// Both halves in this process: the server half runs on its own thread on the accepted socket
// (credentials `serverType`, not fixed, users from AdminOnly); the client connects here.
class LinkedPair {
public:
    explicit LinkedPair(BYTE clientType, const std::string& user, const std::string& password,
                        BYTE serverType = kLinkConsole) {
        listener.Create();
        listener.Bind(0, "127.0.0.1");
        listener.Listen(1);
        server.SetLinkCredentials(serverType, false, "", "");
        std::thread accepting([this] {
            serverFailure = CatchSocketError([this] {
                server.Attach(listener.Accept());
                server.ServerHandshake(AdminOnly);
            });
        });
        client.Create();
        client.SetLinkCredentials(clientType, false, user, password);
        clientFailure =
            CatchSocketError([&] { client.Connect("127.0.0.1", listener.GetLocalPort()); });
        accepting.join();
    }

    X1Socket listener;
    X1Socket server;
    X1Socket client;
    // Code -1: no failure.
    CaughtSocketError serverFailure;
    CaughtSocketError clientFailure;
};

// Reads exactly `size` bytes through Receive (the deciphering path) and RecvFixedAmount.
std::string ReadAll(X1Socket& socket, std::size_t size) {
    std::string data(size, '\0');
    EXPECT_EQ(socket.RecvFixedAmount(data.data(), static_cast<int>(size), 10000),
              static_cast<int>(size));
    return data;
}

TEST(X1SocketLinkTest, ConnectRunsTheHandshakeAndTrafficIsEncipheredBothWays) {
    LinkedPair pair(kLinkConsole, "admin", "secret");
    ASSERT_EQ(pair.clientFailure.code, -1) << pair.clientFailure.text;
    ASSERT_EQ(pair.serverFailure.code, -1) << pair.serverFailure.text;
    EXPECT_TRUE(pair.client.IsConnected());
    EXPECT_TRUE(pair.client.IsCipherActive());
    EXPECT_TRUE(pair.server.IsCipherActive());
    EXPECT_EQ(pair.server.GetLinkUserName(), "admin");

    // Sizes around the 8192-byte cipher chunk, in both directions.
    for (std::size_t size : {1u, 8191u, 8192u, 8193u, 50000u}) {
        const std::string up = Pattern(size);
        EXPECT_EQ(pair.client.Send(up.data(), static_cast<int>(size)), static_cast<int>(size));
        EXPECT_EQ(ReadAll(pair.server, size), up) << size;
        const std::string down = up + "!";
        pair.server.Send(down.data(), static_cast<int>(down.size()));
        EXPECT_EQ(ReadAll(pair.client, down.size()), down) << size;
    }

    // Peeked bytes are the ones on the wire, not deciphered.
    pair.client.Send("hello", 5);
    ASSERT_TRUE(WaitUntil([&] { return pair.server.GetBytesAvailable() == 5; }));
    char peeked[5];
    ASSERT_EQ(pair.server.Peek(peeked, 5), 5);
    EXPECT_NE(std::string(peeked, 5), "hello");
    EXPECT_EQ(ReadAll(pair.server, 5), "hello");

    // A line read cannot find a line feed in ciphertext, so it is refused outright.
    std::string line;
    CaughtSocketError refused = CatchSocketError([&] { pair.server.RecvLine(line, 1000); });
    EXPECT_EQ(refused.code, 0);
    EXPECT_EQ(refused.text, kRecvLineEncipheredText);

    // Datagram-style calls on the linked stream go through the cipher as well.
    pair.client.SendTo("world", 5, pair.listener.GetLocalPort(), "127.0.0.1");
    ASSERT_TRUE(WaitUntil([&] { return pair.server.GetBytesAvailable() == 5; }));
    char got[8];
    std::string host;
    UINT port = 0;
    ASSERT_EQ(pair.server.ReceiveFrom(got, sizeof got, host, port), 5);
    EXPECT_EQ(std::string(got, 5), "world");
    EXPECT_EQ(port, pair.client.GetLocalPort());

    pair.server.Close();
    EXPECT_FALSE(pair.server.IsCipherActive());
}

TEST(X1SocketLinkTest, AFailedEncipheredSendStopsEveryLaterSend) {
    LinkedPair pair(kLinkConsole, "admin", "secret");
    ASSERT_TRUE(pair.client.IsCipherActive());
    RawPeer(pair.server.Detach()).Reset();
    const std::string block = Pattern(65536);
    CaughtSocketError first;
    for (int n = 0; n < 1000 && first.code == -1; ++n)
        first = CatchSocketError(
            [&] { pair.client.Send(block.data(), static_cast<int>(block.size())); });
    ASSERT_NE(first.code, -1) << "sending to a reset peer never failed";
    EXPECT_NE(first.text, kTextSendOutOfStep);
    CaughtSocketError later = CatchSocketError([&] { pair.client.Send("x", 1); });
    EXPECT_EQ(later.code, kCodeLocal);
    EXPECT_EQ(later.text, kTextSendOutOfStep);
}

TEST(X1SocketLinkTest, RefusalsReachBothSidesAndLeaveTheCipherOff) {
    {
        LinkedPair pair(kLinkConsole, "admin", "wrong");
        EXPECT_EQ(pair.serverFailure.code, kCodeBadPassword);
        EXPECT_EQ(pair.serverFailure.text, "User admin failed password");
        EXPECT_EQ(pair.clientFailure.code, kCodeBadPassword);
        EXPECT_EQ(pair.clientFailure.text, X1SocketException(108).GetErrorText());
        EXPECT_FALSE(pair.client.IsConnected());
        EXPECT_FALSE(pair.client.IsCipherActive());
        EXPECT_FALSE(pair.server.IsCipherActive());
    }
    {
        LinkedPair pair(kLinkEngine, "admin", "secret");
        EXPECT_EQ(pair.serverFailure.code, kCodeWrongType);
        EXPECT_EQ(pair.clientFailure.code, kCodeWrongType);
    }
    {
        LinkedPair pair(kLinkConsole3, "admin", "secret");
        EXPECT_EQ(pair.serverFailure.code, -1);
        EXPECT_EQ(pair.server.GetLinkType(), kLinkConsole3);
    }
}

TEST(X1SocketLinkTest, HandshakesNeedCredentialsAndAnOpenSocket) {
    X1Socket socket;
    socket.Create();
    CaughtSocketError none = CatchSocketError([&] { socket.ServerHandshake(AdminOnly); });
    EXPECT_EQ(none.code, kCodeLocal);
    EXPECT_EQ(none.text, kTextNoCredentials);
    socket.Close();
    socket.SetLinkCredentials(kLinkConsole, false, "admin", "secret");
    EXPECT_NE(CatchSocketError([&] { socket.ClientHandshake(); }).code, -1);
    EXPECT_EQ(socket.GetLinkType(), kLinkConsole);
    EXPECT_FALSE(socket.IsCipherActive());
}

}  // namespace
