#include "engine/framework/TCPSession.h"

#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Machine.h"
#include "engine/framework/OutboundConnection.h"
#include "engine/framework/OutboundTargetGuard.h"
#include "engine/framework/TCPService.h"
#include "engine/framework/TwoEndTCPSession.h"
#include "foundation/X1SocketException.h"
#include "platform/kernel/Clock.h"
#include "support/FrameworkTestKit.h"
#include "support/TimeScale.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

std::atomic<int> g_live{0};
std::atomic<std::uint16_t> g_originPort{0};

// A relay with a third socket of its own: it connects to the test's origin, opens a listener
// (a session port), and writes down each notice as "<kind> <socket>[ <bytes>]". The client's
// commands: "close-remote" closes the remote side after a pause (while the origin sends), and
// opens a new listener that may take the closed descriptor's number; "sleep" pauses the
// thread; "handover" hands the connection to an echo session; anything else is relayed. A
// pause lasts until the test sets `resume`.
class CProbeSession : public CTwoEndTCPSession {
public:
    explicit CProbeSession(int handle) : CTwoEndTCPSession(handle) {
        ++g_live;
        WatchSocket(m_listener);
        SetDescription("probe");
    }
    ~CProbeSession() override { --g_live; }

    Strings Events() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::atomic<UINT> listenerPort{0};
    std::atomic<bool> handedOver{false};
    CEvent resume{false, false};

    void Initialize() override {
        m_remoteSocket.Create();
        m_remoteSocket.Connect("127.0.0.1", g_originPort.load());
        m_remoteSocket.SetEventMask(FD_READ | FD_CLOSE);
        m_remoteSocket.StartAsyncSelect();
        OpenProbeListener();
    }
    void OnAccept(X1Socket& socket) override {
        X1Socket accepted;
        accepted.Attach(socket.Accept());
        accepted.Close();
        Record("accept", socket);
    }
    void OnRead(X1Socket& socket) override {
        char buffer[256];
        const int n = socket.Receive(buffer, sizeof buffer);
        const std::string bytes(buffer, n > 0 ? n : 0);
        Record("read", socket, bytes);
        if (&socket != &m_clientSocket) {
            m_clientSocket.Send(bytes.data(), static_cast<int>(bytes.size()));
        } else if (bytes == "close-remote") {
            resume.Wait(ScaledMs(30000));
            m_remoteSocket.Close();
            OpenProbeListener();
        } else if (bytes == "sleep") {
            resume.Wait(ScaledMs(30000));
        } else if (bytes == "handover") {
            HandOver();
        } else {
            m_remoteSocket.Send(bytes.data(), static_cast<int>(bytes.size()));
        }
    }
    void OnClose(X1Socket& socket) override {
        Record("close", socket);
        if (&socket == &m_clientSocket) {
            m_remoteSocket.ShutdownSend();  // the server still answers
            return;
        }
        char buffer[256];
        for (int n; (n = socket.Receive(buffer, sizeof buffer)) > 0;)
            m_clientSocket.Send(buffer, n);
        Terminate(FrameworkFormat::kExitNormal);
    }

private:
    class CEchoSession : public CTCPSession {
    public:
        explicit CEchoSession(int handle) : CTCPSession(handle) {
            ++g_live;
            SetDescription("echo");
        }
        ~CEchoSession() override { --g_live; }
        void OnRead(X1Socket& socket) override {
            char buffer[256];
            const int n = socket.Receive(buffer, sizeof buffer);
            if (n > 0)
                socket.Send(buffer, n);
        }
        void OnClose(X1Socket&) override { Terminate(FrameworkFormat::kExitNormal); }
    };

    void OpenProbeListener() {
        OpenListener(m_listener, 0, "127.0.0.1");
        m_listener.SetEventMask(FD_ACCEPT);
        m_listener.StartAsyncSelect();
        listenerPort = m_listener.GetLocalPort();
    }
    void HandOver() {
        ASSERT_TRUE(LogOnToMachine("alice", FrameworkFormat::kLevelAuthenticated));
        m_clientSocket.StopAsyncSelect();
        auto successor = CRef<CEchoSession>::Adopt(new CEchoSession(m_clientSocket.Detach()));
        successor->SetLogging(*m_service);
        successor->SetAccessRights(*m_service);
        ASSERT_TRUE(HandOverTo(*successor, FrameworkFormat::kExitNormal));
        successor->StartSession();
        handedOver = true;
    }
    void Record(const char* kind, X1Socket& socket, const std::string& bytes = {}) {
        const char* name = &socket == &m_clientSocket   ? "client"
                           : &socket == &m_remoteSocket ? "remote"
                                                        : "listener";
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(std::string(kind) + " " + name + (bytes.empty() ? "" : " " + bytes));
    }

public:
    CService* m_service = nullptr;

private:
    X1Socket m_listener;
    mutable std::mutex m_mutex;
    Strings m_events;
};

class CProbeService : public CTCPService {
public:
    explicit CProbeService(UINT port) : CTCPService(port, "Probe", "Probe service", TRUE) {}
    CSession* CreateSession(int handle) override {
        auto* session = new CProbeSession(handle);
        session->m_service = this;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last = CRef<CProbeSession>(session);
        return session;
    }
    CRef<CProbeSession> Last() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_last;
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last.Reset();
    }

private:
    std::mutex m_mutex;
    CRef<CProbeSession> m_last;
};

class TCPSessionTest : public FrameworkTest {
protected:
    void SetUp() override {
        FrameworkTest::SetUp();
        g_originPort = m_origin.Port();
        m_service = CRef<CProbeService>::Adopt(new CProbeService(FreeTcpPort()));
        AllowEveryone(*m_service);
        m_service->Start();
        ASSERT_EQ(m_service->GetRunState(), CService::kRunning);
    }
    void TearDown() override {
        m_service->Forget();
        m_service->Stop();
        m_service.Reset();
        ASSERT_TRUE(WaitFor([] { return g_live.load() == 0; }));
        FrameworkTest::TearDown();
    }
    // A client with its session and the origin's end of the session's remote connection.
    struct Connection {
        RawPeer client;
        RawPeer origin;
        CRef<CProbeSession> session;
    };
    Connection Connect() {
        Connection c;
        c.client = RawPeer::Connect(static_cast<std::uint16_t>(m_service->GetPortNumber()));
        c.origin = m_origin.Accept(5000);
        c.session = m_service->Last();
        EXPECT_TRUE(c.session);
        EXPECT_TRUE(WaitFor([&] { return c.session->listenerPort.load() != 0; }));
        return c;
    }

    CallbackThread m_engineThread;
    RawListener m_origin;
    CRef<CProbeService> m_service;
};

TEST_F(TCPSessionTest, NoticesReachTheirSocketsHandlersAndAHalfClosedClientStillGetsTheAnswer) {
    Connection c = Connect();
    const UINT listenerPort = c.session->listenerPort;
    // The session's own listener is refused as an outbound target while it is open.
    EXPECT_EQ(CatchSocketError([&] {
                  COutboundTargetGuard::Instance().ResolveChecked("127.0.0.1", listenerPort);
              }).code,
              10013);
    RawPeer stranger = RawPeer::Connect(static_cast<std::uint16_t>(listenerPort));
    ASSERT_TRUE(WaitFor([&] { return c.session->Events().size() == 1; }));
    // Datagrams pass the same guard, as UDP targets.
    RawUdp target;
    X1Socket udp;
    udp.Create(NET_SOCK_DGRAM);
    EXPECT_EQ(COutboundConnection::SendDatagram(udp, "dgram", 5, "127.0.0.1", target.Port()), 5);
    std::string datagram;
    EXPECT_TRUE(target.Receive(&datagram, 5000));
    EXPECT_EQ(datagram, "dgram");
    {
        CListeningPortRegistration own(target.Port(), OutboundTransport::Udp);
        EXPECT_EQ(CatchSocketError([&] {
                      COutboundConnection::SendDatagram(udp, "x", 1, "127.0.0.1", target.Port());
                  }).code,
                  10013);
    }

    c.client.Send("ping");
    EXPECT_EQ(c.origin.Receive(4, 5000), "ping");
    c.origin.Send("pong");
    EXPECT_EQ(c.client.Receive(4, 5000), "pong");

    c.client.ShutdownSend();
    EXPECT_TRUE(c.origin.WaitForEnd(5000));  // the client's end of stream went on
    c.origin.Send("answer");
    EXPECT_EQ(c.client.Receive(6, 5000), "answer");
    c.origin.Close();
    EXPECT_TRUE(c.client.WaitForEnd(5000));
    ASSERT_TRUE(WaitFor([&] { return c.session->HasSessionEnded(); }));
    EXPECT_TRUE(WaitFor([&] {
        return !COutboundTargetGuard::Instance().IsListeningPort(listenerPort);
    }));
    EXPECT_EQ(c.session->Events(),
              (Strings{"accept listener", "read client ping", "read remote pong", "close client",
                       "read remote answer", "close remote"}));
}

TEST_F(TCPSessionTest, NoNoticeIsHandledForAClosedSocketNorAfterTheSessionEnded) {
    Connection c = Connect();
    // The origin's bytes arrive while the session pauses before closing its remote socket: the
    // notice they raise is withdrawn with the socket, even if the new listener takes its number.
    c.client.Send("close-remote");
    ASSERT_TRUE(WaitFor([&] { return c.session->Events().size() == 1; }));  // it pauses
    c.origin.Send("late");
    Sleep(50);
    c.session->resume.Set();

    // Bytes that arrive while the thread pauses, then an end from another thread: the read
    // notice still queued behind them is not handled.
    c.client.Send("sleep");
    ASSERT_TRUE(WaitFor([&] { return c.session->Events().size() == 2; }));
    c.client.Send("more");
    Sleep(50);
    c.session->Terminate(FrameworkFormat::kExitIdle);
    c.session->resume.Set();
    EXPECT_TRUE(c.client.WaitForEnd(5000));
    EXPECT_EQ(c.session->Events(), (Strings{"read client close-remote", "read client sleep"}));
}

TEST_F(TCPSessionTest, AHandOverKeepsTheMachineItsLevelAndTheTrafficOfBothSessions) {
    CUser& alice = AddUser("alice");
    Connection c = Connect();
    const DWORD first = c.session->GetSessionId();
    c.client.Send("ping");
    EXPECT_EQ(c.origin.Receive(4, 5000), "ping");
    m_console.Clear();

    c.client.Send("handover");
    ASSERT_TRUE(WaitFor([&] { return c.session->handedOver.load(); }));
    c.client.Send("echo me");
    EXPECT_EQ(c.client.Receive(7, 5000), "echo me");
    EXPECT_EQ(MachineCount(), 1u);
    EXPECT_TRUE(c.session->HasSessionEnded());
    // The predecessor's end was told with its counters; the machine stayed, logged on.
    EXPECT_EQ(m_console.Messages(76),
              (Strings{"76|127.0.0.1|" + std::to_string(first) + "|0 12 4 0"}));
    EXPECT_EQ(m_console.Messages(72), (Strings{"72|127.0.0.1|alice|2"}));
    EXPECT_TRUE(m_console.Messages(71).empty());
    EXPECT_TRUE(m_console.Messages(73).empty());
    const Strings started = m_console.Messages(74);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], "74|127.0.0.1|" + std::to_string(first + 1) + "|echo");

    c.client.Close();
    ASSERT_TRUE(WaitFor([&] { return MachineCount() == 0; }));
    EXPECT_EQ(m_console.Messages(76).size(), 2u);
    EXPECT_EQ(m_console.Messages(76)[1],
              "76|127.0.0.1|" + std::to_string(first + 1) + "|7 7 0 0");
    // Both sessions' traffic went to the user the machine was logged on as.
    EXPECT_EQ(alice.GetCounter(CUser::ClientSendTraffic), 7u);
    EXPECT_EQ(alice.GetCounter(CUser::ClientRecvTraffic), 12u + 7u);
    EXPECT_EQ(alice.GetCounter(CUser::NonClientSendTraffic), 4u);
}

}  // namespace
