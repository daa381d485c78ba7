#include "engine/framework/TCPService.h"

#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Machine.h"
#include "engine/framework/TwoEndTCPSession.h"
#include "foundation/ScopedLock.h"
#include "foundation/X1SocketException.h"
#include "platform/kernel/Clock.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

std::atomic<int> g_liveSessions{0};

// A relay-like session: greets, echoes what the client sends, ends when the client closes.
// `behaviour` makes it fail in one place.
enum class Behaviour { Echo, ThrowInRead, ThrowSocketErrorInGreeting };

class CEchoSession : public CTwoEndTCPSession {
public:
    CEchoSession(int handle, Behaviour behaviour) : CTwoEndTCPSession(handle), m_behaviour(behaviour) {
        ++g_liveSessions;
        SetDescription("echo");
    }
    ~CEchoSession() override { --g_liveSessions; }

    std::atomic<DWORD> threadId{0};
    std::atomic<int> deniedSent{0};
    std::atomic<int> endCode{-100};

    void Initialize() override {
        threadId = GetCurrentThreadId();
        if (m_behaviour == Behaviour::ThrowSocketErrorInGreeting)
            throw new X1SocketException(10054);
        m_clientSocket.SendString("hello\r\n");
    }
    void OnRead(X1Socket&) override {
        if (m_behaviour == Behaviour::ThrowInRead)
            throw 7;
        char buffer[512];
        const int n = m_clientSocket.Receive(buffer, sizeof buffer);
        if (n > 0)
            m_clientSocket.Send(buffer, n);
    }
    void OnClose(X1Socket&) override { Terminate(0); }
    void SendAccessDenied() override {
        ++deniedSent;
        m_clientSocket.SendString("denied\r\n");
    }
    void EndSession(int code) override {
        endCode = code;
        CTwoEndTCPSession::EndSession(code);
    }

private:
    Behaviour m_behaviour;
};

class CEchoService : public CTCPService {
public:
    // Critical (re-use-address): a port handed out by FreeTcpPort may still have connections
    // of an earlier test in TIME_WAIT.
    explicit CEchoService(UINT port) : CTCPService(port, "Echo", "Echo service", TRUE) {}
    Behaviour behaviour = Behaviour::Echo;
    std::atomic<DWORD> acceptThread{0};
    CRef<CEchoSession> last;  // the last session made
    std::mutex mutex;

    CSession* CreateSession(int handle) override {
        acceptThread = GetCurrentThreadId();
        auto* session = new CEchoSession(handle, behaviour);
        std::lock_guard<std::mutex> lock(mutex);
        last = CRef<CEchoSession>(session);
        return session;
    }
    CRef<CEchoSession> Last() {
        std::lock_guard<std::mutex> lock(mutex);
        return last;
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(mutex);
        last.Reset();
    }
};

class TCPServiceTest : public FrameworkTest {
protected:
    void SetUp() override {
        FrameworkTest::SetUp();
        m_port = FreeTcpPort();
        m_service = CRef<CEchoService>::Adopt(new CEchoService(m_port));
        AllowEveryone(*m_service);
        m_service->SetLogging(TRUE, 0xFFFF);
        m_service->OpenLogFile();
    }
    void TearDown() override {
        if (m_service) {
            m_service->Forget();
            m_service->Stop();
        }
        m_service.Reset();
        ASSERT_TRUE(WaitFor([] { return g_liveSessions.load() == 0; }));
        FrameworkTest::TearDown();
    }
    bool MachinesBecome(std::size_t count) {
        return WaitFor([&] { return MachineCount() == count; });
    }

    std::uint16_t m_port = 0;
    CRef<CEchoService> m_service;
};

TEST_F(TCPServiceTest, AcceptingRunsOnTheCallbackThreadAndEachSessionOnItsOwn) {
    CallbackThread engineThread;
    m_service->SetSessionTimeout(TRUE, 77);
    m_service->SetNonProxyRequest(1, "inside.example", 8081);
    COutboundSettings upstream;
    upstream.ConnectMethod = 2;
    upstream.ProxyServer = "socks.example";
    upstream.ProxyPort = 1080;
    upstream.SOCKS4Password = "tom";
    m_service->SetUpstream(upstream);
    m_service->Start();
    ASSERT_EQ(m_service->GetRunState(), CService::kRunning);

    RawPeer client = RawPeer::Connect(m_port);
    EXPECT_EQ(client.Receive(7, 5000), "hello\r\n");
    CRef<CEchoSession> session = m_service->Last();
    ASSERT_TRUE(session);
    EXPECT_EQ(m_service->acceptThread.load(), engineThread.ThreadId());
    EXPECT_NE(session->threadId.load(), engineThread.ThreadId());
    EXPECT_EQ(session->GetTimeoutSeconds(), 77u);
    EXPECT_EQ(session->GetNonProxyRequestAction(), 1u);
    EXPECT_EQ(session->GetNonProxyRequestHost(), "inside.example");
    EXPECT_EQ(session->GetNonProxyRequestPort(), 8081u);
    EXPECT_EQ(session->GetUpstream().ConnectMethod, 2u);
    EXPECT_EQ(session->GetUpstream().ProxyServer, "socks.example");
    EXPECT_EQ(session->GetUpstream().ProxyPort, 1080u);
    EXPECT_EQ(session->GetUpstream().SOCKS4Password, "tom");
    EXPECT_EQ(session->GetLogOptions(), 0xFFFFu);
    EXPECT_TRUE(session->GetServiceLogFile());
    EXPECT_EQ(session->GetClientAddress(), "127.0.0.1");
    EXPECT_TRUE(session->IsOwnAddress("127.0.0.1"));
    EXPECT_FALSE(session->IsOwnAddress("127.0.0.2"));

    client.Send("ping");
    EXPECT_EQ(client.Receive(4, 5000), "ping");
    const std::string id = std::to_string(session->GetSessionId());
    EXPECT_EQ(m_console.Messages(74), (Strings{"74|127.0.0.1|" + id + "|echo"}));

    client.Close();
    ASSERT_TRUE(WaitFor([&] { return session->endCode.load() == 0; }));
    ASSERT_TRUE(MachinesBecome(0));
    EXPECT_EQ(m_console.Messages(76), (Strings{"76|127.0.0.1|" + id + "|11 4 0 0"}));
    m_service->Forget();
    session.Reset();
    EXPECT_TRUE(WaitFor([] { return g_liveSessions.load() == 0; }));

    char number[16];
    std::snprintf(number, sizeof number, "%010u", static_cast<unsigned>(std::stoul(id)));
    const std::string subject = std::string("127.0.0.1\tGuest\t") + number;
    EXPECT_EQ(WithoutTimes(LogLines("Echo")),
              (Strings{"Service started", subject + "\tCreated:\techo",
                       subject + "\tTraffic\t 11\t4\t0\t0\t0s",
                       subject + "\tTerminated exit code 0"}));
}

TEST_F(TCPServiceTest, ABurstIsAcceptedWholeAndSessionsPastTheCeilingAreRefused) {
    CallbackThread engineThread;
    m_service->Start();
    // More clients at once than the old accept queue of 5 held: every one is served at once.
    std::vector<RawPeer> burst;
    for (int i = 0; i < 20; ++i)
        burst.push_back(RawPeer::Connect(m_port));
    for (RawPeer& client : burst)
        EXPECT_EQ(client.Receive(7, 5000), "hello\r\n");
    burst.clear();
    m_service->Forget();
    CSessionCeiling& ceiling = m_service->GetSessionCeiling();
    ASSERT_TRUE(WaitFor([&] { return ceiling.GetCount() == 0; }));

    // Eight places, two for each address: a third client of one address is refused at once
    // while other addresses are served, until the eight are taken; each limit is logged once.
    ceiling.SetCeiling(8);
    auto served = [&](std::uint32_t source) {
        RawPeer peer = RawPeer::Connect(m_port, source);
        EXPECT_EQ(peer.Receive(7, 5000), "hello\r\n") << std::hex << source;
        return peer;
    };
    auto refused = [&](std::uint32_t source) {
        RawPeer peer = RawPeer::Connect(m_port, source);
        EXPECT_TRUE(peer.WaitForEnd(5000)) << std::hex << source;  // closed unanswered
    };
    std::vector<RawPeer> held;
    for (std::uint32_t source = 0x7F000001; source <= 0x7F000004; ++source) {
        held.push_back(served(source));
        held.push_back(served(source));
        refused(source);  // its share (the last address: the ceiling)
        refused(source);
    }
    refused(0x7F000005);
    // One place back lets one more in; the ceiling is not left, so its refusal is not logged
    // again.
    held.front().Close();
    m_service->Forget();
    ASSERT_TRUE(WaitFor([&] { return ceiling.GetCount() == 7; }));
    held.push_back(served(0x7F000005));
    refused(0x7F000006);
    const Strings lines = WithoutTimes(LogLines("Echo"));
    auto count = [&](const std::string& text) {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    };
    EXPECT_EQ(count("Error:\tService has 8 live sessions: new sessions are refused until some end"), 1)
        << testing::PrintToString(lines);
    for (const char* client : {"127.0.0.1", "127.0.0.2", "127.0.0.3"})
        EXPECT_EQ(count(std::string("Error:\tClient ") + client +
                        " has 2 live sessions of this service: its new sessions are refused "
                        "until some end"),
                  1)
            << client;
}

TEST_F(TCPServiceTest, ARefusedSessionIsToldAndEndsWithCodeOne) {
    DenyEveryone(*m_service);
    m_service->Start();
    ASSERT_EQ(m_service->GetRunState(), CService::kRunning);
    RawPeer client = RawPeer::Connect(m_port);
    EXPECT_EQ(client.Receive(8, 5000), "denied\r\n");
    EXPECT_TRUE(client.WaitForEnd(5000));
    CRef<CEchoSession> session = m_service->Last();
    ASSERT_TRUE(session);
    EXPECT_EQ(session->endCode.load(), 1);
    EXPECT_EQ(session->deniedSent.load(), 1);
    EXPECT_EQ(session->threadId.load(), 0u);  // never greeted
    ASSERT_TRUE(MachinesBecome(0));
    const Strings lines = WithoutTimes(LogLines("Echo"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(lines[2].find("\tFailed authorisation:\techo"), std::string::npos) << lines[2];
}

TEST_F(TCPServiceTest, AnExceptionInAHandlerEndsTheSessionWhichLeavesItsMachine) {
    m_service->behaviour = Behaviour::ThrowInRead;
    m_service->Start();
    ASSERT_EQ(m_service->GetRunState(), CService::kRunning);
    RawPeer client = RawPeer::Connect(m_port);
    EXPECT_EQ(client.Receive(7, 5000), "hello\r\n");
    client.Send("x");
    EXPECT_TRUE(client.WaitForEnd(5000));
    CRef<CEchoSession> session = m_service->Last();
    ASSERT_TRUE(WaitFor([&] { return session->endCode.load() == 1; }));
    ASSERT_TRUE(MachinesBecome(0));
    const Strings lines = WithoutTimes(LogLines("Echo"));
    bool logged = false;
    for (const auto& line : lines)
        logged |= line.find("\tError:\tCaught unknown exception in CTCPSession::Run() - terminating") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(TCPServiceTest, ASocketErrorWhileStartingIsLoggedAndEndsTheSessionWithCodeOne) {
    m_service->behaviour = Behaviour::ThrowSocketErrorInGreeting;
    m_service->Start();
    ASSERT_EQ(m_service->GetRunState(), CService::kRunning);
    RawPeer client = RawPeer::Connect(m_port);
    EXPECT_TRUE(client.WaitForEnd(5000));
    CRef<CEchoSession> session = m_service->Last();
    ASSERT_TRUE(WaitFor([&] { return session->endCode.load() == 1; }));
    ASSERT_TRUE(MachinesBecome(0));
    bool logged = false;
    for (const auto& line : WithoutTimes(LogLines("Echo")))
        logged |= line.find("\tError:\tCaught socket exception in CTCPSession::InitInstance() "
                            "Connection Reset by Remote Host - terminating") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(TCPServiceTest, AnIdleSessionIsEndedByTheTimerButNotWhileTrafficFlows) {
    FakeClock clock;
    m_service->SetSessionTimeout(TRUE, 10);
    m_service->Start();
    ASSERT_EQ(m_service->GetRunState(), CService::kRunning);
    RawPeer client = RawPeer::Connect(m_port);
    EXPECT_EQ(client.Receive(7, 5000), "hello\r\n");
    CRef<CEchoSession> session = m_service->Last();
    auto walk = [&] { m_engine->Tick(); };
    for (int i = 0; i < 5; ++i) {
        FakeClock::Advance(6000);
        client.Send("k");
        EXPECT_EQ(client.Receive(1, 5000), "k");
        walk();
    }
    EXPECT_EQ(session->endCode.load(), -100);
    FakeClock::Advance(10001);
    walk();
    EXPECT_EQ(session->endCode.load(), 2);
    EXPECT_TRUE(client.WaitForEnd(5000));
    ASSERT_TRUE(MachinesBecome(0));
}

TEST_F(TCPServiceTest, AStartThatCannotBindIsLoggedAndLeavesTheServiceFailed) {
    RawListener taken;
    m_service->SetPortNumber(taken.Port());
    m_service->SetCriticalService(FALSE);
    m_service->Start();
    EXPECT_EQ(m_service->GetRunState(), CService::kStartFailed);
    Strings lines = WithoutTimes(LogLines("Echo"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("Error:\tService failed startup ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "Service stopped");

    for (DWORD port : {0u, 65536u, 70000u}) {
        m_service->SetPortNumber(port);
        m_service->Start();
        EXPECT_EQ(m_service->GetRunState(), CService::kStartFailed);
        lines = WithoutTimes(LogLines("Echo"));
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "Error:\tService failed startup Could not connect to remote host");
    }
}

TEST_F(TCPServiceTest, StartDoesNothingWhenDisabledOrRunningAndStopEndsListening) {
    m_service->SetEnabled(FALSE);
    m_service->Start();
    EXPECT_EQ(m_service->GetRunState(), CService::kStopped);
    m_service->SetEnabled(TRUE);
    m_service->Start();
    m_service->Start();
    EXPECT_EQ(m_service->GetRunState(), CService::kRunning);
    EXPECT_TRUE(COutboundTargetGuard::Instance().IsListeningPort(m_port));
    m_service->Stop();
    EXPECT_EQ(m_service->GetRunState(), CService::kStopped);
    EXPECT_FALSE(COutboundTargetGuard::Instance().IsListeningPort(m_port));
    EXPECT_EQ(WithoutTimes(LogLines("Echo")), (Strings{"Service started", "Service stopped"}));
    EXPECT_THROW(RawPeer::Connect(m_port), std::runtime_error);
}

// Many clients of eight machines connect, talk and leave, while a walker runs the idle check
// with short time-outs and another thread deletes machines. Every session must end once,
// every machine go, and nothing be touched after it was freed (AddressSanitizer run).
TEST_F(TCPServiceTest, SessionsStartAndEndWhileTheTimerWalksAndMachinesAreDeleted) {
    FakeClock clock;
    CallbackThread engineThread;
    m_service->SetSessionTimeout(TRUE, 1);
    m_service->SetLogging(TRUE, 219);
    m_service->Start();
    ASSERT_EQ(m_service->GetRunState(), CService::kRunning);

    std::atomic<bool> stop{false};
    std::thread walker([&] {
        while (!stop) {
            FakeClock::Advance(700);
            m_engine->Tick();
            Sleep(1);
        }
    });
    std::thread remover([&] {
        std::mt19937 random(7);
        while (!stop) {
            m_engine->RemoveMachine("127.0.0." + std::to_string(2 + random() % 8));
            Sleep(3);
        }
    });
    std::vector<std::thread> clients;
    std::atomic<int> connected{0};
    for (int c = 0; c < 8; ++c) {
        clients.emplace_back([&, c] {
            const std::string source = "127.0.0." + std::to_string(2 + c);
            for (int i = 0; i < 25; ++i) {
                try {
                    RawPeer peer = ConnectFrom(source, m_port);
                    ++connected;
                    peer.Receive(7, 2000);
                    if (i % 3 == 0)
                        peer.Send("data");
                    if (i % 4 == 0)
                        Sleep(5);
                } catch (const std::exception&) {
                }
            }
        });
    }
    for (auto& client : clients)
        client.join();
    stop = true;
    walker.join();
    remover.join();

    EXPECT_GT(connected.load(), 100);
    m_service->Forget();
    m_service->Stop();
    // Every session ends: its client closed, or the walker or the remover ended it.
    ASSERT_TRUE(WaitFor([] { return g_liveSessions.load() == 0; }, 20000)) << g_liveSessions.load();
    ASSERT_TRUE(MachinesBecome(0));
    const auto added = m_console.Messages(71).size();
    const auto removed = m_console.Messages(73).size();
    EXPECT_EQ(added, removed);
}

}  // namespace
