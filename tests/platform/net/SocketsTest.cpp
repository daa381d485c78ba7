#include "platform/net/Sockets.h"

#include "platform/kernel/Clock.h"
#include "platform/net/SocketErrors.h"
#include "support/SocketTestKit.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kLoopback = 0x7F000001u;

// A listener whose accept queue is full: further connection attempts are dropped, not refused.
struct FullListener {
    int fd;
    std::uint16_t port;
    RawPeer filler;
    FullListener() {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
        listen(fd, 0);
        socklen_t len = sizeof sin;
        getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
        port = ntohs(sin.sin_port);
        filler = RawPeer::Connect(port);
    }
    ~FullListener() { close(fd); }
};

TEST(SocketsTest, AConnectThatGetsNoAnswerTimesOutWith10060) {
    FullListener full;
    int s = NetSocket(NET_SOCK_STREAM);
    ASSERT_GE(s, 0);
    const std::uint64_t start = GetTickCount64();
    EXPECT_FALSE(NetConnect(s, {kLoopback, full.port}, 300));
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    EXPECT_GE(GetTickCount64() - start, 250u);
    EXPECT_TRUE(NetClose(s));
}

TEST(SocketsTest, ASendThatFindsNoRoomTimesOutWith10060) {
    RawListener server;
    int s = NetSocket(NET_SOCK_STREAM);
    ASSERT_TRUE(NetConnect(s, {kLoopback, server.Port()}, 5000));
    RawPeer peer = server.Accept();  // never reads
    const std::string chunk(1 << 20, 'n');
    long result = 0;
    for (int i = 0; i < 64 && result >= 0; ++i)
        result = NetSend(s, chunk.data(), chunk.size(), 200);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    NetClose(s);
}

TEST(SocketsTest, AWaitingAcceptEndsWhenAnotherThreadClosesTheSocket) {
    int s = NetSocket(NET_SOCK_STREAM);
    ASSERT_TRUE(NetBind(s, {kLoopback, 0}));
    ASSERT_TRUE(NetListen(s, 5));
    int result = 0, error = 0;
    std::atomic<int> tid{0};
    std::thread waiter([&] {
        tid = static_cast<int>(gettid());
        result = NetAccept(s, nullptr, INFINITE);
        error = WSAGetLastError();
    });
    ASSERT_TRUE(WaitUntil([&] { return tid != 0 && ThreadSleeps(tid); }));  // the accept waits
    NetClose(s);
    waiter.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, WSAEINTR);
}

TEST(SocketsTest, CallsOnUnknownDescriptorsFailWithNotASocket) {
    char c;
    EXPECT_EQ(NetRecv(12345, &c, 1, false), -1);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_FALSE(NetAsyncSelect(12345, FD_READ));
    EXPECT_FALSE(NetClose(12345));
    EXPECT_EQ(NetGeneration(12345), 0u);
    EXPECT_EQ(NetSocket(3), -1);
    EXPECT_EQ(WSAGetLastError(), WSAESOCKTNOSUPPORT);
}

TEST(SocketsTest, GenerationsAreNeverReusedWithTheDescriptorNumber) {
    int a = NetSocket(NET_SOCK_STREAM);
    const std::uint64_t ga = NetGeneration(a);
    NetClose(a);
    int b = NetSocket(NET_SOCK_STREAM);
    EXPECT_EQ(b, a);
    EXPECT_GT(NetGeneration(b), ga);
    NetClose(b);
}

TEST(SocketsTest, EmptyDatagramsAreTakenBeforeTheNextOneIsMeasured) {
    int s = NetSocket(NET_SOCK_DGRAM);
    ASSERT_TRUE(NetBind(s, {kLoopback, 0}));
    NetAddress local;
    ASSERT_TRUE(NetGetLocalAddress(s, &local));
    RawUdp peer;
    peer.SendTo(local.port, "");
    peer.SendTo(local.port, "");
    peer.SendTo(local.port, "abc");
    ASSERT_TRUE(WaitUntil([&] { return NetBytesAvailable(s) == 3; }));
    char buf[8];
    NetAddress from;
    EXPECT_EQ(NetRecvFrom(s, buf, sizeof buf, &from), 3);
    EXPECT_EQ(from.port, peer.Port());
    EXPECT_EQ(NetBytesAvailable(s), 0);
    peer.SendTo(local.port, "");
    ASSERT_TRUE(WaitUntil([&] { return NetRecv(s, buf, sizeof buf, true) == 0; }));
    EXPECT_EQ(NetRecv(s, buf, sizeof buf, false), 0);  // the empty one, consumed
    NetClose(s);
}

TEST(SocketsTest, DatagramsSentManyPerCallGoInOrderAndAFailedOneStopsNoOther) {
    int s = NetSocket(NET_SOCK_DGRAM);
    ASSERT_TRUE(NetBind(s, {kLoopback, 0}));
    RawUdp peer;
    // More than one system call's worth; one too long for any datagram, one to port 0.
    const std::string tooLong(70000, 'x');
    std::vector<std::string> texts;
    std::vector<NetOutgoingDatagram> batch(70);
    for (std::size_t i = 0; i < batch.size(); ++i)
        texts.push_back("d" + std::to_string(i));
    for (std::size_t i = 0; i < batch.size(); ++i) {
        batch[i].bytes = i == 3 ? tooLong.data() : texts[i].data();
        batch[i].count = i == 3 ? tooLong.size() : texts[i].size();
        batch[i].to = {kLoopback, i == 66 ? WORD{0} : peer.Port()};
    }
    EXPECT_EQ(NetSendDatagrams(s, batch.data(), batch.size()), 68);
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (i == 3 || i == 66) {
            EXPECT_EQ(batch[i].sent, -1) << i;
            EXPECT_NE(batch[i].error, 0) << i;
            continue;
        }
        EXPECT_EQ(batch[i].sent, static_cast<long>(texts[i].size())) << i;
        EXPECT_EQ(batch[i].error, 0) << i;
        std::string got;
        ASSERT_TRUE(peer.Receive(&got, 5000)) << i;
        EXPECT_EQ(got, texts[i]);
    }
    EXPECT_EQ(batch[3].error, WSAEMSGSIZE);
    NetClose(s);
    EXPECT_EQ(NetSendDatagrams(s, batch.data(), 1), -1);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

}  // namespace
