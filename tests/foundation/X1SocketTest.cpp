#include "foundation/X1Socket.h"

#include "foundation/RegistryStore.h"
#include "foundation/SocketErrorTexts.h"
#include "foundation/X1SocketException.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/File.h"
#include "support/SocketTestKit.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// A connected pair: an X1Socket on this thread and a raw peer.
struct Pair {
    RawListener server;
    X1Socket socket;
    RawPeer peer;
    Pair() {
        socket.Create();
        socket.Connect("127.0.0.1", server.Port());
        peer = server.Accept();
    }
};

int ErrorCodeOf(const std::function<void()>& fn) { return CatchSocketError(fn).code; }

std::string TextOf(int code) {
    X1SocketException e(code);
    return e.GetErrorText();
}

TEST(X1SocketExceptionTest, CodesWithoutATextTakeTheBuiltInTexts) {
    EXPECT_EQ(TextOf(10060), "Connection to Remote Host timed out");
    EXPECT_EQ(TextOf(12345), "Socket Error 12345");
    EXPECT_EQ(TextOf(0), "You should never get this error");
    EXPECT_EQ(X1SocketException().GetErrorCode(), 0);
    const struct {
        int code;
        const char* text;
    } table[] = {
        {10022, "Could not connect to remote host"},
        {10050, "Remote Network Down"},
        {10051, "Remote Network Unreachable"},
        {10053, "Timed Out"},
        {10054, "Connection Reset by Remote Host"},
        {10055, "Out of buffers"},
        {10061, "Connection refused by Remote Host"},
        {10065, "Host unreachable"},
        {-5, "Socket Error -5"},
    };
    for (const auto& t : table)
        EXPECT_EQ(TextOf(t.code), t.text);
    X1SocketException own(10061, "own text");
    EXPECT_EQ(own.GetErrorMessage(), "own text");
    // Thrown by pointer, caught as any library exception, deleted by the catcher.
    try {
        throw new X1SocketException(10053);
    } catch (CException* e) {
        EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(X1SocketException)));
        EXPECT_EQ(e->GetErrorMessage(), "Timed Out");
        e->Delete();
    }
}

class StoredSocketTextsTest : public ::testing::Test {
protected:
    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }
    void TearDown() override { SetRegistryRoot("", ""); }
    TempStateDir state;
};

TEST_F(StoredSocketTextsTest, AStoredTextReplacesTheBuiltInOne) {
    ASSERT_TRUE(RegWriteString(kSocketErrorsKey, "10061", "Nobody listens there"));
    EXPECT_EQ(TextOf(10061), "Nobody listens there");
    EXPECT_EQ(TextOf(10060), "Connection to Remote Host timed out");
    // A stored text for a code is shown as it is, never used as a format.
    ASSERT_TRUE(RegWriteString(kSocketErrorsKey, "10054", "reset %s %n %i"));
    EXPECT_EQ(TextOf(10054), "reset %s %n %i");
    ASSERT_TRUE(RegWriteString(kSocketErrorsKey, "10055", ""));  // empty: the built-in text
    EXPECT_EQ(TextOf(10055), "Out of buffers");
    ASSERT_TRUE(RegWriteString(kSocketErrorsKey, "RecvLineTimeout", "Line too slow"));
    EXPECT_EQ(RecvLineTimeoutText(), "Line too slow");
    EXPECT_EQ(RecvFixedTimeoutText(), "Timeout in RecvFixedAmount function");
}

TEST_F(StoredSocketTextsTest, TheLookupTextIsUsedOnlyWithExactlyOneStringConversion) {
    EXPECT_EQ(HostnameLookupFailedText("a.example"), "Host name lookup for 'a.example' failed");
    ASSERT_TRUE(RegWriteString(kSocketErrorsKey, "HostnameLookupFailed", "No such host: %s (100%%)"));
    EXPECT_EQ(HostnameLookupFailedText("a.example"), "No such host: a.example (100%)");
    for (const char* unsafe : {"%s and %s", "%n%s", "%d", "%*s", "%1$s", "%ls", "no conversion", "%s %"}) {
        ASSERT_TRUE(RegWriteString(kSocketErrorsKey, "HostnameLookupFailed", unsafe));
        EXPECT_EQ(HostnameLookupFailedText("h"), "Host name lookup for 'h' failed") << unsafe;
    }
    ASSERT_TRUE(RegWriteString(kSocketErrorsKey, "HostnameLookupFailed", "[%-10s]"));
    EXPECT_EQ(HostnameLookupFailedText("h"), "[h         ]");
}

TEST(X1SocketTest, IsCreatedByNameAndNeverStandsInAStream) {
    const CRuntimeClass* cls = CRuntimeClass::FromName("X1Socket");
    ASSERT_EQ(cls, RUNTIME_CLASS(X1Socket));
    EXPECT_FALSE(cls->IsSerializable());
    EXPECT_EQ(cls->GetSchema(), 0xFFFF);
    CObject* made = CRuntimeClass::CreateObject("X1Socket");
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(X1Socket)));
    auto* socket = static_cast<X1Socket*>(made);
    EXPECT_EQ(socket->GetHandle(), -1);
    EXPECT_EQ(socket->GetEventMask(), 0u);
    EXPECT_TRUE(socket->IsAsync());
    EXPECT_EQ(socket->GetBytesSent(), 0u);
    delete made;
}

TEST(X1SocketTest, ConnectToANameThatDoesNotResolveFailsWith10022AndTheName) {
    X1Socket s;
    s.Create();
    CaughtSocketError e = CatchSocketError([&] { s.Connect("no-such-host.invalid", 80); });
    EXPECT_EQ(e.code, 10022);
    EXPECT_EQ(e.text, "Host name lookup for 'no-such-host.invalid' failed");
}

TEST(X1SocketTest, ConnectionRefusedCarriesItsCodeAndText) {
    std::uint16_t port;
    {
        RawListener gone;
        port = gone.Port();
    }
    X1Socket s;
    s.Create();
    CaughtSocketError e = CatchSocketError([&] { s.Connect("127.0.0.1", port); });
    EXPECT_EQ(e.code, 10061);
    EXPECT_EQ(e.text, "Connection refused by Remote Host");
    EXPECT_FALSE(s.IsConnected());
}

TEST(X1SocketTest, BindTakesDottedAddressesOnlyAndPortZeroPicksAFreePort) {
    X1Socket s;
    s.Create();
    EXPECT_EQ(ErrorCodeOf([&] { s.Bind(0, "localhost"); }), 10022);
    s.Bind(0, "127.0.0.1");
    EXPECT_NE(s.GetLocalPort(), 0u);
    EXPECT_EQ(s.GetLocalAddress(), "127.0.0.1");
    X1Socket any;
    any.Create();
    any.Bind(0);
    EXPECT_EQ(any.GetLocalAddress(), "0.0.0.0");
}

TEST(X1SocketTest, ListenersReuseTheirAddressAndAPortInUseFailsWith10048) {
    X1Socket first;
    first.Create();
    first.SetReuseAddress(true);
    first.Bind(0, "127.0.0.1");
    first.Listen(5);
    X1Socket second;
    second.Create();
    EXPECT_EQ(ErrorCodeOf([&] { second.Bind(first.GetLocalPort(), "127.0.0.1"); }), 10048);
}

TEST(X1SocketTest, AStoppedListenerIsReplacedAtOnceWhileItsConnectionsWaitInTimeWait) {
    UINT port = 0;
    {
        X1Socket listener;
        listener.Create();
        listener.Bind(0, "127.0.0.1");
        listener.Listen(5);
        port = listener.GetLocalPort();
        RawPeer client = RawPeer::Connect(static_cast<std::uint16_t>(port));
        X1Socket accepted;
        ASSERT_TRUE(WaitUntil([&] {
            return CatchSocketError([&] { accepted.Attach(listener.Accept()); }).code == -1;
        }));
        accepted.Close();  // this side closes first, so its end of the connection waits
    }
    X1Socket again;
    again.Create();
    again.Bind(port, "127.0.0.1");
    again.Listen(5);
    EXPECT_EQ(again.GetLocalPort(), port);
}

TEST(X1SocketTest, ReceiveAndPeekReturnZeroAtOnceWhenNothingWaits) {
    Pair p;
    char buf[8];
    const std::uint64_t start = GetTickCount64();
    EXPECT_EQ(p.socket.Receive(buf, sizeof buf), 0);
    EXPECT_EQ(p.socket.Peek(buf, sizeof buf), 0);
    EXPECT_LT(GetTickCount64() - start, 1000u);  // "at once": not a wait for data
    X1Socket closed;
    EXPECT_EQ(closed.Receive(buf, sizeof buf), 0);
    EXPECT_EQ(closed.Peek(buf, sizeof buf), 0);
}

TEST(X1SocketTest, SendsAndReceivesCountTheirBytesAndPeekLeavesThemWaiting) {
    Pair p;
    EXPECT_EQ(p.socket.Send("hello", 5), 5);
    EXPECT_EQ(p.socket.Send("", 0), 0);
    EXPECT_EQ(p.peer.Receive(5, 5000), "hello");
    p.peer.Send("world!");
    ASSERT_TRUE(WaitUntil([&] { return p.socket.GetBytesAvailable() == 6; }));
    char buf[16];
    EXPECT_EQ(p.socket.Peek(buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "wor");
    EXPECT_EQ(p.socket.Receive(buf, sizeof buf), 6);
    EXPECT_EQ(std::string(buf, 6), "world!");
    EXPECT_EQ(p.socket.GetBytesSent(), 5u);
    EXPECT_EQ(p.socket.GetBytesReceived(), 6u);
    p.socket.AddBytesSent(10);
    p.socket.AddBytesReceived(1);
    EXPECT_EQ(p.socket.GetBytesSent(), 15u);
    EXPECT_EQ(p.socket.GetBytesReceived(), 7u);
    p.socket.ResetByteCounters();
    EXPECT_EQ(p.socket.GetBytesSent(), 0u);
    EXPECT_EQ(p.socket.GetBytesReceived(), 0u);
    EXPECT_EQ(p.socket.GetPeerAddress(), "127.0.0.1");
    EXPECT_EQ(p.socket.GetPeerPort(), p.server.Port());
}

TEST(X1SocketTest, MoveToRelaysEveryByteInOrderCountsThemAndThrowsWhenTheTargetIsGone) {
    Pair from;
    Pair to;
    char buf[16];
    EXPECT_EQ(from.socket.MoveTo(to.socket, 65536), 0);  // nothing waits: at once
    std::string sent;
    for (int i = 0; sent.size() < (3u << 20); ++i)
        sent += std::to_string(i) + ',';
    std::thread writer([&] { from.peer.Send(sent); });
    std::string received;
    std::thread reader([&] { received = to.peer.Receive(sent.size(), 20000); });
    std::size_t moved = 0;
    const std::uint64_t start = GetTickCount64();
    while (moved < sent.size() && GetTickCount64() - start < 20000)
        moved += static_cast<std::size_t>(from.socket.MoveTo(to.socket, 262144));
    writer.join();
    reader.join();
    EXPECT_EQ(received, sent);
    EXPECT_EQ(from.socket.GetBytesReceived(), sent.size());
    EXPECT_EQ(to.socket.GetBytesSent(), sent.size());
    EXPECT_EQ(from.socket.Receive(buf, sizeof buf), 0);

    // The target's peer resets: the move fails with the socket error, the bytes it took are
    // counted as received.
    to.peer.Reset();
    from.peer.Send(std::string(100000, 'x'));
    ASSERT_TRUE(WaitUntil([&] { return from.socket.GetBytesAvailable() > 0; }));
    const DWORD before = from.socket.GetBytesReceived();
    int code = -1;
    for (int i = 0; i < 100 && code < 0; ++i)
        code = CatchSocketError([&] { from.socket.MoveTo(to.socket, 262144); }).code;
    EXPECT_TRUE(code == 10054 || code == 10053 || code == 10058) << code;
    EXPECT_GT(from.socket.GetBytesReceived(), before);
}

// Moves `size` bytes (more than a move's pipe holds) from `from` to `to`, a chunk at a time,
// each with `copy`; returns what reached `to`'s peer.
std::string MoveAll(Pair& from, Pair& to, std::size_t size, NetMoveCopy& copy) {
    std::string sent(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        sent[i] = static_cast<char>('a' + i * 7 % 26);
    std::thread writer([&] { from.peer.Send(sent); });
    std::string received;
    std::thread reader([&] { received = to.peer.Receive(size, 20000); });
    std::size_t moved = 0;
    const std::uint64_t start = GetTickCount64();
    while (moved < size && GetTickCount64() - start < 20000)
        moved += static_cast<std::size_t>(from.socket.MoveTo(to.socket, 262144, &copy));
    writer.join();
    reader.join();
    EXPECT_EQ(received, sent);
    return received;
}

TEST(X1SocketTest, AMoveWithACopyWritesEveryByteIntoTheFileAndAFailedWriteStopsOnlyTheCopy) {
    TempDir dir;
    const std::string path = dir.Path() + "/copy";
    constexpr std::size_t kSize = 3u << 20;
    {
        Pair from;
        Pair to;
        const int file = OpenFileForWriting(path, CREATE_ALWAYS);
        NetMoveCopy copy{.file = file, .offset = 0};
        const std::string sent = MoveAll(from, to, kSize, copy);
        CloseFile(file);
        EXPECT_EQ(copy.error, 0);
        EXPECT_EQ(copy.offset, kSize);
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), sent);
        EXPECT_EQ(to.socket.GetBytesSent(), kSize);
    }
    // The file may not grow past 300000 bytes: the write stops half-way with EFBIG, and every
    // byte still reaches the peer.
    Pair from;
    Pair to;
    const int file = OpenFileForWriting(path, CREATE_ALWAYS);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit held = limit;
    limit.rlim_cur = 300000;
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    NetMoveCopy copy{.file = file, .offset = 0};
    MoveAll(from, to, kSize, copy);
    setrlimit(RLIMIT_FSIZE, &held);
    signal(SIGXFSZ, oldHandler);
    CloseFile(file);
    EXPECT_EQ(copy.error, EFBIG);
    EXPECT_EQ(copy.offset, 300000u);
    EXPECT_EQ(from.socket.GetBytesReceived(), kSize);
    EXPECT_EQ(to.socket.GetBytesSent(), kSize);
}

TEST(X1SocketTest, AMoveCountsWhatAPeerThatStopsReadingTookWhileTheSendWaits) {
    Pair from;
    Pair to;
    const int small = 4096;
    setsockopt(to.socket.GetHandle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    to.peer.SetReceiveBuffer(small);
    from.peer.Send(std::string(65536, 'w'));
    ASSERT_TRUE(WaitUntil([&] { return from.socket.GetBytesAvailable() == 65536; }));
    std::atomic<int> moved{-1};
    std::thread mover([&] { moved = from.socket.MoveTo(to.socket, 65536); });
    // The peer reads nothing: the move waits, and what it sent so far counts already (the
    // session's idle check sees a slow reader's progress, and no progress from one that
    // stopped).
    EXPECT_TRUE(WaitUntil([&] { return to.socket.GetBytesSent() > 0; }));
    EXPECT_EQ(moved.load(), -1);
    EXPECT_EQ(to.peer.Receive(65536, 5000).size(), 65536u);
    mover.join();
    EXPECT_EQ(moved.load(), 65536);
    EXPECT_EQ(to.socket.GetBytesSent(), 65536u);
}

TEST(X1SocketTest, AnInterruptFromAnotherThreadEndsAWaitingSendAndNeverReachesAReusedNumber) {
    Pair p;
    const int small = 4096;
    setsockopt(p.socket.GetHandle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    p.peer.SetReceiveBuffer(small);
    // The peer reads nothing: the send would wait ten times its count plus 10 s.
    const std::string big(1 << 22, 's');
    std::atomic<int> code{-2};
    std::thread sender([&] {
        code = ErrorCodeOf([&] { p.socket.Send(big.data(), static_cast<int>(big.size())); });
    });
    EXPECT_TRUE(p.socket.Interrupt());
    sender.join();
    EXPECT_NE(code.load(), -1);  // it failed
    // Closed, its number goes to the next socket, which an interrupt of the old one never
    // reaches (an interrupted socket could not connect).
    const int number = p.socket.GetHandle();
    p.socket.Close();
    EXPECT_FALSE(p.socket.Interrupt());
    X1Socket again;
    again.Create();
    ASSERT_EQ(again.GetHandle(), number);
    EXPECT_FALSE(p.socket.Interrupt());
    again.Connect("127.0.0.1", p.server.Port());
    again.Send("still", 5);
    EXPECT_EQ(p.server.Accept().Receive(5, 5000), "still");
}

TEST(X1SocketTest, SendStringSendsTextsOfAnyLength) {
    Pair p;
    const std::string long_(20000, 'L');
    EXPECT_EQ(p.socket.SendString("<%s|%d>", long_.c_str(), 42), 20005);
    EXPECT_EQ(p.peer.Receive(20005, 5000), "<" + long_ + "|42>");
}

TEST(X1SocketTest, SendFileByNameSendsTheWholeFileOrSaysItIsMissing) {
    TempDir dir;
    std::string content;
    for (int i = 0; i < 200000; ++i)
        content += static_cast<char>('0' + i % 10);
    std::ofstream(dir.Path() + "/page.html", std::ios::binary) << content;
    Pair p;
    EXPECT_FALSE(p.socket.SendFileByName("%s/%s", dir.Path().c_str(), "missing.html"));
    std::string received;
    std::thread reader([&] { received = p.peer.Receive(content.size(), 10000); });
    EXPECT_TRUE(p.socket.SendFileByName("%s/%s", dir.Path().c_str(), "page.html"));
    reader.join();
    EXPECT_EQ(received, content);
}

TEST(X1SocketTest, SendFileByNameStillSaysTrueWhenThePeerResetsMidway) {
    TempDir dir;
    std::ofstream(dir.Path() + "/big.bin", std::ios::binary) << std::string(16 << 20, 'z');
    Pair p;
    p.peer.SetReceiveBuffer(4096);
    std::thread resetter([&] {
        p.peer.Receive(1000, 5000);
        p.peer.Reset();
    });
    EXPECT_TRUE(p.socket.SendFileByName("%s/big.bin", dir.Path().c_str()));
    resetter.join();
    EXPECT_LT(p.socket.GetBytesSent(), 16u << 20);
}

TEST(X1SocketTest, CloseOnAClosedSocketDoesNothingAndAFailedCloseStillReleasesTheHandle) {
    X1Socket s;
    s.Close();
    s.Close();
    EXPECT_EQ(s.GetHandle(), -1);
    s.Create();
    const int h = s.GetHandle();
    close(h);  // closed behind the socket's back: its own close fails
    EXPECT_EQ(ErrorCodeOf([&] { s.Close(); }), 10038);
    EXPECT_EQ(s.GetHandle(), -1);
    EXPECT_FALSE(s.IsConnected());
}

TEST(X1SocketTest, TheOverlappedModeReportsABadHandleAsError6) {
    X1Socket::SetDefaultMode(X1Socket::kModeOverlapped);
    Pair p;
    X1Socket::SetDefaultMode(X1Socket::kModePlain);
    EXPECT_EQ(p.socket.GetMode(), X1Socket::kModeOverlapped);
    EXPECT_EQ(p.socket.Send("x", 1), 1);
    int fd = p.socket.GetHandle();
    close(fd);
    EXPECT_EQ(ErrorCodeOf([&] { p.socket.Send("x", 1); }), 6);
    EXPECT_EQ(ErrorCodeOf([&] { p.socket.Close(); }), 10038);
}

TEST(X1SocketTest, AcceptNeverWaitsWhileSelectingAndTakesAPendingConnection) {
    X1Socket listener;
    listener.Create();
    listener.Bind(0, "127.0.0.1");
    listener.Listen(5);
    listener.SetEventMask(FD_ACCEPT);
    EXPECT_EQ(ErrorCodeOf([&] { listener.Accept(); }), 10035);
    RawPeer client = RawPeer::Connect(static_cast<std::uint16_t>(listener.GetLocalPort()));
    X1Socket accepted;
    ASSERT_TRUE(WaitUntil([&] {
        return CatchSocketError([&] { accepted.Attach(listener.Accept()); }).code == -1;
    }));
    EXPECT_TRUE(accepted.IsConnected());
    client.Send("hi");
    ASSERT_TRUE(WaitUntil([&] { return accepted.GetBytesAvailable() == 2; }));
}

TEST(X1SocketTest, DatagramsGoToTheirTargetAndComeBackWithTheSender) {
    RawUdp peer;
    X1Socket udp;
    udp.Create(NET_SOCK_DGRAM);
    udp.Bind(0, "127.0.0.1");
    EXPECT_EQ(udp.SendTo("ping", 4, peer.Port(), "127.0.0.1"), 4);
    std::string got;
    ASSERT_TRUE(peer.Receive(&got, 5000));
    EXPECT_EQ(got, "ping");
    EXPECT_EQ(ErrorCodeOf([&] { udp.SendTo("x", 1, 9, "no-such-host.invalid"); }), 10022);
    peer.SendTo(static_cast<std::uint16_t>(udp.GetLocalPort()), "pong");
    ASSERT_TRUE(WaitUntil([&] { return udp.GetBytesAvailable() == 4; }));
    char buf[8];
    std::string host;
    UINT port = 0;
    EXPECT_EQ(udp.ReceiveFrom(buf, sizeof buf, host, port), 4);
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, peer.Port());
    EXPECT_EQ(udp.GetBytesSent(), 4u);
    EXPECT_EQ(udp.GetBytesReceived(), 4u);
}

TEST(X1SocketTest, OptionsApplyToAnOpenSocketAndFailOnAClosedOne) {
    Pair p;
    p.socket.SetNoDelay(true);
    p.socket.SetLinger(false);
    X1Socket closed;
    EXPECT_EQ(ErrorCodeOf([&] { closed.SetNoDelay(true); }), 10038);
    EXPECT_EQ(ErrorCodeOf([&] { closed.GetPeerPort(); }), 10038);
}

TEST(X1SocketTest, AGracefulCloseLetsThePeerReadEverythingAndSeeTheEnd) {
    Pair p;
    const std::string data(100000, 'g');
    std::thread reader([&] {
        EXPECT_EQ(p.peer.Receive(data.size(), 10000).size(), data.size());
        p.peer.Send("bye");
        EXPECT_TRUE(p.peer.WaitForEnd(5000));
        p.peer.Close();
    });
    p.socket.Send(data.data(), static_cast<int>(data.size()));
    p.socket.CloseGracefully();
    reader.join();
    EXPECT_EQ(p.socket.GetHandle(), -1);
}

TEST(X1SocketTest, AGracefulCloseWaitsForAPeerThatIsDoneOnlyWhileItStillSends) {
    // Done and quiet: closed at once, the answer and the end still reach the peer.
    Pair quiet;
    quiet.socket.Send("answer", 6);
    std::uint64_t start = GetTickCount64();
    quiet.socket.CloseGracefully(3000, true);
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(quiet.peer.Receive(6, 5000), "answer");
    EXPECT_TRUE(quiet.peer.WaitForEnd(5000));

    // Done but still sending: drained until its end, so the close resets nothing.
    Pair sending;
    sending.peer.Send("more");
    ASSERT_TRUE(WaitUntil([&] { return sending.socket.GetBytesAvailable() == 4; }));
    std::thread peer([&] {
        Sleep(300);
        sending.peer.Send("last");
        sending.peer.Close();
    });
    start = GetTickCount64();
    sending.socket.CloseGracefully(3000, true);
    EXPECT_GE(GetTickCount64() - start, 250u);
    peer.join();
}

}  // namespace
