// The delivery rules of socket notices, as owner threads and callback threads see them, on
// real loopback sockets and real threads.

#include "foundation/X1Socket.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Sync.h"
#include "platform/net/SocketDispatcher.h"
#include "support/SocketTestKit.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kAccept = X1SocketNotifyWindow::kSocketAccept;
constexpr UINT kRead = X1SocketNotifyWindow::kSocketRead;
constexpr UINT kWrite = X1SocketNotifyWindow::kSocketWrite;
constexpr UINT kClose = X1SocketNotifyWindow::kSocketClose;

// How long a test waits to see that nothing more arrives.
constexpr DWORD kQuietMs = 200;

X1SocketNotifyWindow& Window() { return X1SocketNotifyWindow::Instance(); }

TEST(SocketDeliveryTest, OneBytePerReadNoticeAssemblesA300ByteLine) {
    std::string line;  // owner thread only
    std::atomic<int> bytes{0}, emptyReads{0};
    OwnedConnection c([&](X1Socket& s, const ThreadMessage& m) {
        if (m.message != kRead)
            return;
        char ch;
        if (s.Receive(&ch, 1) == 1) {
            line += ch;
            ++bytes;
        } else {
            ++emptyReads;
        }
    });
    std::string sent(299, 'x');
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>('a' + i % 26);
    sent += '\n';
    c.Peer().Send(sent.substr(0, 100));
    Sleep(20);
    c.Peer().Send(sent.substr(100));
    ASSERT_TRUE(WaitUntil([&] { return bytes == 300; }));
    Sleep(kQuietMs);
    std::string got;
    c.Run([&](X1Socket&) { got = line; });
    EXPECT_EQ(got, sent);
    // Each notice found a byte, give or take a notice that raced with a receive: no spinning.
    EXPECT_LE(emptyReads, 5);
    EXPECT_LE(c.Count(kRead), 305);
}

TEST(SocketDeliveryTest, AHandlerThatWaitsForAWholeRecordNeitherStallsNorSpins) {
    std::atomic<int> records{0};
    OwnedConnection c([&](X1Socket& s, const ThreadMessage& m) {
        if (m.message != kRead || s.GetBytesAvailable() < 11)
            return;  // reads nothing until a whole record waits
        char record[11];
        if (s.Receive(record, 11) == 11)
            ++records;
    });
    for (int i = 0; i < 11; ++i) {
        c.Peer().Send("r");
        Sleep(15);
    }
    ASSERT_TRUE(WaitUntil([&] { return records == 1; }));
    const int afterFirst = c.Count(kRead);
    EXPECT_GE(afterFirst, 1);
    EXPECT_LE(afterFirst, 13);  // at most one notice per arrival, nothing more
    Sleep(kQuietMs);
    EXPECT_EQ(c.Count(kRead), afterFirst);  // quiet while nothing arrives
    // Two records at once: the receive of the first leaves bytes, which are announced again.
    c.Peer().Send(std::string(22, 'q'));
    ASSERT_TRUE(WaitUntil([&] { return records == 3; }));
}

TEST(SocketDeliveryTest, CloseComesOnlyAfterEveryByteWasRead) {
    std::atomic<int> total{0}, totalAtClose{-1};
    OwnedConnection c([&](X1Socket& s, const ThreadMessage& m) {
        if (m.message == kRead) {
            char buf[10];
            total += s.Receive(buf, sizeof buf);
        } else if (m.message == kClose) {
            totalAtClose = total.load();
        }
    });
    c.Peer().Send(std::string(100, 'd'));
    c.Peer().Close();
    ASSERT_TRUE(c.WaitForCount(kClose, 1));
    EXPECT_EQ(totalAtClose, 100);
    Sleep(kQuietMs);
    EXPECT_EQ(c.Count(kClose), 1);
}

TEST(SocketDeliveryTest, AResetIsAnnouncedAtOnceEvenWithBytesUnread) {
    OwnedConnection c;  // reads nothing
    c.Peer().Send(std::string(50, 'u'));
    ASSERT_TRUE(c.WaitForCount(kRead, 1));
    c.Peer().Reset();
    ASSERT_TRUE(c.WaitForCount(kClose, 1));
}

TEST(SocketDeliveryTest, RestartingSelectionAnnouncesWaitingBytesAndAFinishedPeerAgain) {
    OwnedConnection c({}, FD_CLOSE);  // no read events asked for yet
    c.Peer().Send("early");
    Sleep(50);
    EXPECT_EQ(c.Count(kRead), 0);
    c.Run([](X1Socket& s) { s.SetEventMask(FD_READ | FD_CLOSE); });
    ASSERT_TRUE(c.WaitForCount(kRead, 1));
    c.Run([](X1Socket& s) { s.StartAsyncSelect(); });  // a restart: the bytes still wait
    ASSERT_TRUE(c.WaitForCount(kRead, 2));

    c.Run([](X1Socket& s) {
        char buf[16];
        EXPECT_EQ(s.Receive(buf, sizeof buf), 5);
    });
    c.Peer().Close();
    ASSERT_TRUE(c.WaitForCount(kClose, 1));
    Sleep(kQuietMs);
    EXPECT_EQ(c.Count(kClose), 1);
    c.Run([](X1Socket& s) { s.StartAsyncSelect(); });
    ASSERT_TRUE(c.WaitForCount(kClose, 2));
    c.Run([](X1Socket& s) {
        char buf[4];
        EXPECT_EQ(s.Receive(buf, sizeof buf), 0);  // a receive alone does not repeat the close
    });
    Sleep(kQuietMs);
    EXPECT_EQ(c.Count(kClose), 2);
}

TEST(SocketDeliveryTest, WriteComesOnceAfterConnectAndAgainOnlyAfterASendHadToWait) {
    OwnedConnection c;
    ASSERT_TRUE(c.WaitForCount(kWrite, 1));
    c.Run([](X1Socket& s) {
        for (int i = 0; i < 10; ++i)
            s.Send("ping", 4);
    });
    Sleep(kQuietMs);
    EXPECT_EQ(c.Count(kWrite), 1);  // never because the socket is merely writable

    // A send far larger than both buffers together must wait until the peer reads, which it
    // begins to do only once the sender waits: bytes have arrived and its thread sleeps.
    const std::string big(32 << 20, 'b');
    std::atomic<int> sending{0};
    std::thread sender([&] {
        c.Run([&](X1Socket& s) {
            sending = static_cast<int>(gettid());
            s.Send(big.data(), int(big.size()));
        });
    });
    ASSERT_TRUE(WaitUntil([&] {
        int waiting = 0;
        return sending != 0 && ioctl(c.Peer().Fd(), FIONREAD, &waiting) == 0 && waiting > 0 &&
               ThreadSleeps(sending);
    }));
    EXPECT_EQ(c.Count(kWrite), 1);
    std::size_t received = 0;
    while (received < big.size()) {
        std::string got = c.Peer().Receive(big.size() - received, 5000);
        ASSERT_FALSE(got.empty());
        received += got.size();
    }
    sender.join();
    ASSERT_TRUE(c.WaitForCount(kWrite, 2));
    Sleep(kQuietMs);
    EXPECT_EQ(c.Count(kWrite), 2);
}

TEST(SocketDeliveryTest, ListeningSocketsAnnounceNothingBeforeListenThenOneAcceptPerConnection) {
    std::unique_ptr<X1Socket> listener;
    std::vector<std::unique_ptr<X1Socket>> accepted;  // owner thread only
    std::atomic<int> acceptedCount{0}, failures{0};
    NoticeThread owner([&](const ThreadMessage& m) {
        if (m.message != kAccept)
            return;
        auto s = std::make_unique<X1Socket>();
        if (CatchSocketError([&] { s->Attach(listener->Accept()); }).code != -1) {
            ++failures;
            return;
        }
        accepted.push_back(std::move(s));
        ++acceptedCount;
    });
    int handle = -1;
    owner.Call([&] {
        listener = std::make_unique<X1Socket>();
        listener->Create();
        // Selection starts before bind and listen, as the TCP services do.
        listener->SetEventMask(FD_ACCEPT | FD_READ | FD_WRITE | FD_CLOSE);
        listener->StartAsyncSelect();
        handle = listener->GetHandle();
    });
    Sleep(kQuietMs);
    EXPECT_TRUE(owner.Notices().empty());
    UINT port = 0;
    owner.Call([&] {
        listener->Bind(0, "127.0.0.1");
        listener->Listen(5);
        port = listener->GetLocalPort();
    });
    Sleep(50);
    EXPECT_TRUE(owner.Notices().empty());
    std::vector<RawPeer> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(RawPeer::Connect(static_cast<std::uint16_t>(port)));
    ASSERT_TRUE(WaitUntil([&] { return acceptedCount == 3; }));
    Sleep(kQuietMs);
    EXPECT_EQ(owner.Count(kAccept, handle), 3);
    EXPECT_EQ(failures, 0);  // no notice without a connection to take
    EXPECT_EQ(owner.Count(kClose, handle), 0);
    owner.Call([&] {
        accepted.clear();
        listener.reset();
    });
}

TEST(SocketDeliveryTest, HandingASocketToAnotherOwnerAnnouncesWaitingBytesThere) {
    OwnedConnection c;  // reads nothing
    NoticeThread other;
    c.Peer().Send("waiting");
    ASSERT_TRUE(c.WaitForCount(kRead, 1));
    Window().RegisterOwner(c.Handle(), other.ThreadId());
    ASSERT_TRUE(other.WaitForCount(kRead, c.Handle(), 1));
    c.Peer().Send("more");
    ASSERT_TRUE(other.WaitForCount(kRead, c.Handle(), 2));
    EXPECT_EQ(c.Count(kRead), 1);
    Window().RegisterCurrentThread(c.Handle());  // the fixture closes it on its owner
    Window().RegisterOwner(c.Handle(), c.Owner().ThreadId());
}

TEST(SocketDeliveryTest, DetachAndAttachOnAnotherThreadKeepsWaitingBytesAnnounced) {
    OwnedConnection c({}, FD_READ | FD_CLOSE);
    c.Peer().Send("GET / HTTP/1.0\r\n");
    ASSERT_TRUE(c.WaitForCount(kRead, 1));
    int handle = -1;
    c.Run([&](X1Socket& s) { handle = s.Detach(); });
    X1Socket* adopted = nullptr;
    NoticeThread next;
    next.Call([&] {
        adopted = new X1Socket;
        adopted->Attach(handle);
        adopted->SetEventMask(FD_READ | FD_CLOSE);
    });
    ASSERT_TRUE(next.WaitForCount(kRead, handle, 1));
    c.Peer().Close();
    next.Call([&] {
        char buf[64];
        EXPECT_EQ(adopted->Receive(buf, sizeof buf), 16);
    });
    ASSERT_TRUE(next.WaitForCount(kClose, handle, 1));
    next.Call([&] { delete adopted; });
}

TEST(SocketDeliveryTest, AReusedDescriptorNumberNeverReceivesTheOldSocketsClose) {
    RawListener first, second;
    NoticeThread owner;
    std::unique_ptr<X1Socket> a, b;
    int oldHandle = -1, newHandle = -1;
    owner.Call([&] {
        a = std::make_unique<X1Socket>();
        a->Create();
        a->Connect("127.0.0.1", first.Port());
        a->SetEventMask(FD_READ | FD_CLOSE);
        oldHandle = a->GetHandle();
    });
    RawPeer firstPeer = first.Accept();
    CEvent ownerBusy(true, false), closeQueued(true, false);
    std::thread peerCloser([&] {
        ownerBusy.Wait();
        firstPeer.Close();
        Sleep(100);  // the dispatcher queues the close for the busy owner meanwhile
        closeQueued.Set();
    });
    // The owner is busy while the close arrives; then it closes the socket itself and makes a
    // new one, which gets the same descriptor number.
    owner.Call([&] {
        ownerBusy.Set();
        closeQueued.Wait();
        a.reset();
        b = std::make_unique<X1Socket>();
        b->Create();
        b->Connect("127.0.0.1", second.Port());
        b->SetEventMask(FD_READ | FD_CLOSE);
        newHandle = b->GetHandle();
    });
    peerCloser.join();
    RawPeer secondPeer = second.Accept();
    EXPECT_EQ(newHandle, oldHandle);
    Sleep(kQuietMs);
    EXPECT_EQ(owner.Count(kClose, newHandle), 0);
    secondPeer.Close();
    ASSERT_TRUE(owner.WaitForCount(kClose, newHandle, 1));
    Sleep(kQuietMs);
    EXPECT_EQ(owner.Count(kClose, newHandle), 1);
    owner.Call([&] { b.reset(); });
}

TEST(SocketDeliveryTest, NoticesStopAtALocalClose) {
    OwnedConnection c;
    ASSERT_TRUE(c.WaitForCount(kWrite, 1));
    c.Run([](X1Socket& s) { s.Close(); });
    c.Peer().Send("late");
    c.Peer().Close();
    Sleep(kQuietMs);
    EXPECT_EQ(c.Count(kRead), 0);
    EXPECT_EQ(c.Count(kClose), 0);
}

TEST(SocketDeliveryTest, DatagramsEmptyTruncatedAndFromAnUnreachablePeer) {
    std::vector<std::string> datagrams;  // owner thread only
    std::atomic<int> got{0}, truncations{0}, otherFailures{0};
    std::unique_ptr<X1Socket> udp;
    NoticeThread owner([&](const ThreadMessage& m) {
        if (m.message != kRead)
            return;
        const int failure = CatchSocketError([&] {
            // A service that waits for bytes: an empty datagram must not hold it up.
            if (udp->GetBytesAvailable() <= 0)
                return;
            char buf[16];
            std::string host;
            UINT port = 0;
            int n = udp->ReceiveFrom(buf, sizeof buf, host, port);
            datagrams.emplace_back(buf, static_cast<std::size_t>(n));
            ++got;
        }).code;
        if (failure == 10040)
            ++truncations;
        else if (failure != -1)
            ++otherFailures;
    });
    UINT port = 0;
    owner.Call([&] {
        udp = std::make_unique<X1Socket>();
        udp->Create(NET_SOCK_DGRAM);
        EXPECT_EQ(udp->GetMode(), X1Socket::kModeDatagram);
        udp->Bind(0, "127.0.0.1");
        udp->SetEventMask(FD_READ);
        port = udp->GetLocalPort();
    });
    RawUdp peer;
    peer.SendTo(static_cast<std::uint16_t>(port), "");
    peer.SendTo(static_cast<std::uint16_t>(port), "hello");
    ASSERT_TRUE(WaitUntil([&] { return got == 1; }));
    peer.SendTo(static_cast<std::uint16_t>(port), std::string(100, 'T'));
    ASSERT_TRUE(WaitUntil([&] { return truncations == 1; }));
    peer.SendTo(static_cast<std::uint16_t>(port), "after");
    ASSERT_TRUE(WaitUntil([&] { return got == 2; }));
    owner.Call([&] { EXPECT_EQ(datagrams, (std::vector<std::string>{"hello", "after"})); });
    EXPECT_EQ(otherFailures, 0);

    // A receive after an ICMP "port unreachable" neither fails nor reports the error.
    std::uint16_t deadPort;
    {
        RawUdp gone;
        deadPort = gone.Port();
    }
    owner.Call([&] {
        udp->Close();
        udp->Create(NET_SOCK_DGRAM);
        udp->Connect("127.0.0.1", deadPort);
        udp->Send("x", 1);
    });
    Sleep(50);
    owner.Call([&] {
        char buf[4];
        EXPECT_EQ(udp->Receive(buf, sizeof buf), 0);
        EXPECT_EQ(udp->GetBytesAvailable(), 0);
        udp->Send("y", 1);
    });
    Sleep(50);
    owner.Call([&] {
        std::string host;
        UINT from = 0;
        char buf[4];
        EXPECT_EQ(udp->ReceiveFrom(buf, sizeof buf, host, from), 0);
        udp.reset();
    });
}

TEST(SocketDeliveryTest, BatchedDatagramReceivesTakeAllAndOnlyAFullBatchIsAnnouncedAgain) {
    std::unique_ptr<X1Socket> udp;
    NoticeThread owner;
    UINT port = 0;
    int handle = -1;
    owner.Call([&] {
        udp = std::make_unique<X1Socket>();
        udp->Create(NET_SOCK_DGRAM);
        udp->Bind(0, "127.0.0.1");
        udp->SetEventMask(FD_READ);
        port = udp->GetLocalPort();
        handle = udp->GetHandle();
    });
    RawUdp peer;
    for (const std::string& text : {std::string(), std::string("a"), std::string(100, 'T'),
                                    std::string("bb"), std::string("ccc")})
        peer.SendTo(static_cast<std::uint16_t>(port), text);
    ASSERT_TRUE(owner.WaitForCount(kRead, handle, 1));
    Sleep(kQuietMs);

    char buffers[8][16];
    NetDatagram datagrams[8];
    const auto receive = [&](int count) {
        int got = -1;
        owner.Call([&] {
            for (int i = 0; i < 8; ++i) {
                datagrams[i] = NetDatagram{};
                datagrams[i].buffer = buffers[i];
                datagrams[i].size = sizeof buffers[i];
            }
            got = udp->ReceiveDatagrams(datagrams, count);
        });
        return got;
    };
    // A full batch may have left more: announced again.
    int notices = owner.Count(kRead, handle);
    ASSERT_EQ(receive(2), 2);
    EXPECT_EQ(datagrams[0].length, 0u);
    EXPECT_EQ(std::string(buffers[1], datagrams[1].length), "a");
    EXPECT_EQ(datagrams[1].from.port, peer.Port());
    EXPECT_TRUE(owner.WaitForCount(kRead, handle, notices + 1));
    // The rest, one of them cut to the buffer; the socket was found empty: no notice.
    notices = owner.Count(kRead, handle);
    ASSERT_EQ(receive(8), 3);
    EXPECT_TRUE(datagrams[0].truncated);
    EXPECT_EQ(datagrams[0].length, sizeof buffers[0]);
    EXPECT_EQ(std::string(buffers[1], datagrams[1].length), "bb");
    EXPECT_FALSE(datagrams[1].truncated);
    EXPECT_EQ(std::string(buffers[2], datagrams[2].length), "ccc");
    Sleep(kQuietMs);
    EXPECT_EQ(owner.Count(kRead, handle), notices);
    // The next datagram announces itself.
    peer.SendTo(static_cast<std::uint16_t>(port), "d");
    EXPECT_TRUE(owner.WaitForCount(kRead, handle, notices + 1));
    EXPECT_EQ(receive(8), 1);
    EXPECT_EQ(receive(8), 0);
    owner.Call([&] { udp.reset(); });
}

// A session thread that adopts one accepted connection, reads until the peer closes, closes
// and ends (deleting itself).
struct SessionCounts {
    std::atomic<int> accepted{0};
    std::atomic<int> ended{0};
};

class ShortSession : public CThread {
public:
    ShortSession(int handle, std::atomic<int>& ended) : m_handle(handle), m_ended(ended) {
        m_bAutoDelete = true;
    }

protected:
    bool InitInstance() override {
        m_socket = std::make_unique<X1Socket>();
        m_socket->Attach(m_handle);
        m_socket->SetEventMask(FD_READ | FD_CLOSE);
        return true;
    }
    void OnThreadMessage(const ThreadMessage& m) override {
        if (m.message == kRead) {
            char buf[64];
            m_socket->Receive(buf, sizeof buf);
        } else if (m.message == kClose) {
            m_socket->Close();
            PostQuitMessage(0);
        }
    }
    int ExitInstance() override {
        m_socket.reset();
        ++m_ended;
        return 0;
    }

private:
    int m_handle;
    std::atomic<int>& m_ended;
    std::unique_ptr<X1Socket> m_socket;
};

void AcceptIntoSession(void* userData, X1Socket* listener, unsigned event) {
    if (event != FD_ACCEPT)
        return;
    auto* counts = static_cast<SessionCounts*>(userData);
    auto* session = new ShortSession(listener->Accept(), counts->ended);
    ++counts->accepted;
    if (!session->CreateThread())
        delete session;
}

TEST(SocketDeliveryTest, AThousandShortConnectionsLeaveNoDescriptorOrThreadBehind) {
    NoticeThread engine;  // the callback thread, as the engine thread is in the engine
    std::unique_ptr<X1SocketCallbackThread> registration;
    engine.Call([&] { registration = std::make_unique<X1SocketCallbackThread>(); });
    {
        X1Socket warmUp;  // the dispatcher and the read worker exist from here on
    }
    Sleep(50);
    const int descriptors = OpenDescriptorCount();
    const int threads = ThreadCount();

    SessionCounts counts;
    X1Socket listener;
    listener.SetCallback(AcceptIntoSession, &counts);
    listener.Create();
    listener.SetEventMask(FD_ACCEPT);
    listener.Bind(0, "127.0.0.1");
    listener.Listen(64);
    const auto port = static_cast<std::uint16_t>(listener.GetLocalPort());
    constexpr int kConnections = 1000;
    for (int i = 0; i < kConnections; ++i) {
        // Clients that outrun the accepting fill the listen queue, and the kernel then drops
        // their connection attempts for a second: keep at most 32 waiting.
        ASSERT_TRUE(WaitUntil([&] { return counts.accepted >= i - 32; }));
        RawPeer client = RawPeer::Connect(port);
        if (i % 3 == 0)
            client.Send("hello");
        client.Close();
    }
    ASSERT_TRUE(WaitUntil([&] { return counts.ended == kConnections; }, 60000)) << counts.ended;
    listener.Close();
    engine.Call([&] { registration.reset(); });
    EXPECT_TRUE(WaitUntil([&] { return OpenDescriptorCount() == descriptors; }, 10000))
        << OpenDescriptorCount() << " descriptors, " << descriptors << " before";
    // Session threads stay parked for reuse a short while, then end; threads parked by
    // earlier work may end meanwhile too, so fewer than before is fine.
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threads; }, 10000))
        << ThreadCount() << " threads, " << threads << " before";
}

struct CallbackProbe {
    std::atomic<DWORD> thread{0};
    std::atomic<bool> onDispatcher{false};
    std::atomic<int> calls{0};
    std::atomic<bool> entered{false};
    CEvent gate{true, true};
    bool closeItself = false;
};

void ProbeCallback(void* userData, X1Socket* socket, unsigned event) {
    auto* probe = static_cast<CallbackProbe*>(userData);
    probe->thread = GetCurrentThreadId();
    probe->onDispatcher = SocketDispatcher::IsDispatcherThread();
    probe->entered = true;
    probe->gate.Wait();
    if (event == FD_ACCEPT) {
        X1Socket accepted;
        accepted.Attach(socket->Accept());
    }
    if (probe->closeItself)
        socket->Close();
    ++probe->calls;  // last: a test that saw the count may look at the socket
}

class CallbackListener {
public:
    explicit CallbackListener(CallbackProbe& probe) {
        socket.SetCallback(ProbeCallback, &probe);
        socket.Create();
        socket.SetEventMask(FD_ACCEPT);
        socket.Bind(0, "127.0.0.1");
        socket.Listen(5);
        port = static_cast<std::uint16_t>(socket.GetLocalPort());
    }
    X1Socket socket;
    std::uint16_t port;
};

TEST(SocketCallbackTest, CallbacksRunOnTheRegisteredThreadWhoeverCreatedTheSocket) {
    NoticeThread engine;
    std::unique_ptr<X1SocketCallbackThread> registration;
    engine.Call([&] { registration = std::make_unique<X1SocketCallbackThread>(); });
    CallbackProbe probe;
    CallbackListener listener(probe);  // made on this thread, not the callback thread
    EXPECT_EQ(Window().GetCallbackSocket(listener.socket.GetHandle()), &listener.socket);
    RawPeer client = RawPeer::Connect(listener.port);
    ASSERT_TRUE(WaitUntil([&] { return probe.calls == 1; }));
    EXPECT_EQ(probe.thread, engine.ThreadId());
    EXPECT_FALSE(probe.onDispatcher);
    listener.socket.Close();
    engine.Call([&] { registration.reset(); });
}

TEST(SocketCallbackTest, WithoutACallbackThreadCallbacksRunOnTheDispatcher) {
    ASSERT_EQ(Window().GetCallbackThread(), 0u);
    CallbackProbe probe;
    CallbackListener listener(probe);
    RawPeer client = RawPeer::Connect(listener.port);
    ASSERT_TRUE(WaitUntil([&] { return probe.calls == 1; }));
    EXPECT_TRUE(probe.onDispatcher);
}

TEST(SocketCallbackTest, AnEndedCallbackThreadHandsCallbacksToTheDispatcher) {
    {
        NoticeThread shortLived;
        shortLived.Call([] { Window().SetCallbackThread(GetCurrentThreadId()); });
    }
    CallbackProbe probe;
    CallbackListener listener(probe);
    RawPeer client = RawPeer::Connect(listener.port);
    ASSERT_TRUE(WaitUntil([&] { return probe.calls == 1; }));
    EXPECT_TRUE(probe.onDispatcher);
    EXPECT_EQ(Window().GetCallbackThread(), 0u);
}

TEST(SocketCallbackTest, CloseWaitsForACallbackInProgressOnAnotherThread) {
    CallbackProbe probe;
    probe.gate.Reset();
    auto listener = std::make_unique<CallbackListener>(probe);
    RawPeer client = RawPeer::Connect(listener->port);
    ASSERT_TRUE(WaitUntil([&] { return probe.entered.load(); }));
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        listener->socket.Close();
        closed = true;
    });
    Sleep(kQuietMs);
    EXPECT_FALSE(closed);  // the callback still runs with the socket
    probe.gate.Set();
    closer.join();
    EXPECT_TRUE(closed);
    EXPECT_EQ(probe.calls, 1);
    listener.reset();
}

TEST(SocketCallbackTest, ACallbackMayCloseItsOwnSocket) {
    CallbackProbe probe;
    probe.closeItself = true;
    CallbackListener listener(probe);
    RawPeer first = RawPeer::Connect(listener.port);
    ASSERT_TRUE(WaitUntil([&] { return probe.calls == 1; }));
    EXPECT_EQ(listener.socket.GetHandle(), -1);
    Sleep(kQuietMs);
    EXPECT_EQ(probe.calls, 1);
}

// Routing by the two maps, driven by real events.

TEST(SocketRoutingTest, ASocketInNeitherMapGetsNoNoticesAndStillWorks) {
    OwnedConnection c;
    ASSERT_TRUE(c.WaitForCount(kWrite, 1));
    Window().Unregister(c.Handle());
    c.Peer().Send("unrouted");
    Sleep(kQuietMs);
    EXPECT_EQ(c.Count(kRead), 0);
    c.Run([](X1Socket& s) {
        char buf[16];
        EXPECT_EQ(s.Receive(buf, sizeof buf), 8);
    });
}

TEST(SocketRoutingTest, ConnectAndOutOfBandEventsAreNotForwarded) {
    OwnedConnection c([](X1Socket& s, const ThreadMessage& m) {
        char buf[16];
        if (m.message == kRead)
            s.Receive(buf, sizeof buf);
    });
    ASSERT_TRUE(c.WaitForCount(kWrite, 1));  // the connect itself gives the write notice only
    ASSERT_EQ(send(c.Peer().Fd(), "!", 1, MSG_OOB), 1);
    c.Peer().Send("x");
    ASSERT_TRUE(c.WaitForCount(kRead, 1));
    Sleep(kQuietMs);
    for (const auto& notice : c.Owner().Notices())
        EXPECT_TRUE(notice.message == kRead || notice.message == kWrite) << notice.message;
}

TEST(SocketRoutingTest, ANoticeForAnEndedOwnerRemovesTheRegistration) {
    RawListener server;
    X1Socket socket;
    socket.Create();
    socket.Connect("127.0.0.1", server.Port());
    RawPeer peer = server.Accept();
    {
        NoticeThread owner;
        Window().RegisterOwner(socket.GetHandle(), owner.ThreadId());
        socket.SetEventMask(FD_READ | FD_CLOSE);
        socket.StartAsyncSelect();
        EXPECT_EQ(Window().GetOwner(socket.GetHandle()), owner.ThreadId());
    }
    peer.Send("after");
    EXPECT_TRUE(WaitUntil([&] { return Window().GetOwner(socket.GetHandle()) == 0u; }));
}

struct ThrowingProbe {
    std::mutex mutex;
    std::vector<unsigned> events;
};

void ThrowingCallback(void* userData, X1Socket* socket, unsigned event) {
    auto* probe = static_cast<ThrowingProbe*>(userData);
    {
        std::lock_guard<std::mutex> lock(probe->mutex);
        probe->events.push_back(event);
    }
    if (event == FD_READ) {
        char buf[64];
        socket->Receive(buf, sizeof buf);
        throw new X1SocketException(10054);
    }
    if (event == FD_WRITE)
        throw std::runtime_error("not a socket failure");
    throw 42;
}

TEST(SocketRoutingTest, ACallbackThatThrowsDoesNotStopLaterNotifications) {
    ThrowingProbe probe;
    RawListener server;
    X1Socket socket;
    socket.SetCallback(ThrowingCallback, &probe);
    socket.Create();
    socket.SetEventMask(FD_READ | FD_WRITE | FD_CLOSE);
    socket.StartAsyncSelect();
    socket.Connect("127.0.0.1", server.Port());
    RawPeer peer = server.Accept();
    peer.Send("one");
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(probe.mutex);
        return probe.events.size() >= 2;
    }));
    peer.Close();
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(probe.mutex);
        return !probe.events.empty() && probe.events.back() == FD_CLOSE;
    }));
    socket.Close();
}

// Without a callback function, a callback-mode socket's own operations serve the events.
class SelfServedSocket : public X1Socket {
public:
    ~SelfServedSocket() override { Close(); }
    std::vector<unsigned> Events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    void OnAccept() override {
        X1Socket accepted;
        accepted.Attach(Accept());
        Record(FD_ACCEPT);
    }
    void OnRead() override {
        char buf[64];
        Receive(buf, sizeof buf);
        Record(FD_READ);
    }
    void OnWrite() override { Record(FD_WRITE); }
    void OnClose() override { Record(FD_CLOSE); }

private:
    void Record(unsigned event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(event);
    }
    std::mutex m_mutex;
    std::vector<unsigned> m_events;
};

TEST(SocketRoutingTest, CallbackModeWithoutAFunctionCallsTheSocketsOwnHandlers) {
    SelfServedSocket listener;
    listener.Create();
    Window().RegisterCallback(listener.GetHandle(), &listener);
    listener.SetEventMask(FD_ACCEPT);
    listener.StartAsyncSelect();
    listener.Bind(0, "127.0.0.1");
    listener.Listen(5);
    RawPeer client = RawPeer::Connect(static_cast<std::uint16_t>(listener.GetLocalPort()));
    ASSERT_TRUE(WaitUntil([&] { return listener.Events().size() == 1; }));
    EXPECT_EQ(listener.Events(), std::vector<unsigned>{FD_ACCEPT});

    RawListener server;
    SelfServedSocket socket;
    socket.Create();
    Window().RegisterCallback(socket.GetHandle(), &socket);
    socket.SetEventMask(FD_READ | FD_WRITE | FD_CLOSE);
    socket.StartAsyncSelect();
    socket.Connect("127.0.0.1", server.Port());
    RawPeer peer = server.Accept();
    ASSERT_TRUE(WaitUntil([&] { return socket.Events().size() == 1; }));
    peer.Send("data");
    ASSERT_TRUE(WaitUntil([&] { return socket.Events().size() == 2; }));
    peer.Close();
    ASSERT_TRUE(WaitUntil([&] { return socket.Events().size() == 3; }));
    EXPECT_EQ(socket.Events(), (std::vector<unsigned>{FD_WRITE, FD_READ, FD_CLOSE}));
}

}  // namespace
