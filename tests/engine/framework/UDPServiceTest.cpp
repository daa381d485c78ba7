#include "engine/framework/UDPService.h"

#include "engine/framework/DatagramOutlet.h"
#include "engine/framework/Machine.h"
#include "engine/framework/UDPSession.h"
#include "foundation/ScopedLock.h"
#include "platform/kernel/Clock.h"
#include "platform/net/SocketErrors.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

std::atomic<int> g_liveServices{0};

// A UDP service in the shape of the mapping service: one session per client address, made and
// admitted on the service thread while the service's own client mutex is held; answers each
// datagram with "re:" and the datagram.
class CEchoUDPService : public CUDPService {
public:
    explicit CEchoUDPService(UINT port) : CUDPService(port, "UDPEcho", "UDP echo", FALSE) {
        ++g_liveServices;
    }
    ~CEchoUDPService() override { --g_liveServices; }

    CMutex clientMutex;
    std::atomic<int> removedOffThread{0};
    std::atomic<int> removed{0};
    std::atomic<int> started{0};
    std::atomic<int> ended{0};

    void OnServiceThreadStart() override { ++started; }
    void OnServiceThreadEnd() override { ++ended; }

    // Makes and admits the session of `address` (on the service thread).
    CUDPSession* SessionFor(const std::string& address, UINT port) {
        CMutexLock lock(clientMutex);
        in_addr a{};
        ::inet_pton(AF_INET, address.c_str(), &a);
        const DWORD key = ntohl(a.s_addr) ^ port;
        if (CUDPSession* existing = FindSession(key))
            return existing;
        auto* session = new CUDPSession(this);
        session->SetKey(key);
        session->SetClientAddress(address, port);
        session->SetSessionTimeout(TRUE, 1);
        AddSession(session);
        CNorvaneEngine::Instance().RegisterSession(session);
        session->Release();  // the service's map holds it
        return session;
    }

    void OnDatagram(int handle) override {
        if (handle != GetSocket().GetHandle())
            return;
        char buffer[1500];
        std::string host;
        UINT port = 0;
        const int n = GetSocket().ReceiveFrom(buffer, sizeof buffer, host, port);
        CMutexLock lock(clientMutex);
        CUDPSession* session = SessionFor(host, port);
        session->AddClientBytesReceived(static_cast<DWORD>(n));
        const std::string reply = "re:" + std::string(buffer, static_cast<std::size_t>(n));
        GetSocket().SendTo(reply.data(), static_cast<int>(reply.size()), port, host);
        session->AddClientBytesSent(static_cast<DWORD>(reply.size()));
    }

    void RemoveSession(CUDPSession* session) override {
        CMutexLock lock(clientMutex);
        if (!IsServiceThread())
            ++removedOffThread;
        ++removed;
        CUDPService::RemoveSession(session);
    }

    // Runs `fn` on the service thread and waits for it.
    void OnThread(const std::function<void()>& fn) {
        CEvent done(true, false);
        ASSERT_TRUE(PostThreadCall(ThreadId(), [&] {
            fn();
            done.Set();
        }));
        ASSERT_EQ(done.Wait(20000), WAIT_OBJECT_0);
    }
};

class UDPServiceTest : public FrameworkTest {
protected:
    void TearDown() override {
        ASSERT_TRUE(WaitFor([] { return g_liveServices.load() == 0; }, 10000));
        FrameworkTest::TearDown();
    }
    void TimerWalk() { m_engine->Tick(); }
};

TEST_F(UDPServiceTest, TheServiceThreadOwnsTheSocketAndEndsWithItsSessionsOnQuit) {
    AddUser("Guest", "");
    const std::uint16_t port = FreeTcpPort();
    auto* service = new CEchoUDPService(port);
    service->SetLogging(TRUE, 0xFFFF);
    service->OpenLogFile();
    service->StartIfEnabled();
    ASSERT_TRUE(WaitFor([&] { return service->GetRunState() == CService::kRunning; }));
    auto threadEnded = service->EndedEvent();

    RawUdp client;
    client.SendTo(port, "one");
    std::string answer;
    ASSERT_TRUE(client.Receive(&answer, 5000));
    EXPECT_EQ(answer, "re:one");
    ASSERT_EQ(MachineCount(), 1u);
    EXPECT_EQ(service->GetSessionCount(), 1u);

    service->StopAndDelete();  // the caller's (our) reference goes; the thread ends
    ASSERT_EQ(threadEnded->Wait(5000), WAIT_OBJECT_0);
    EXPECT_TRUE(WaitFor([] { return g_liveServices.load() == 0; }));
    // The session still open ended with the service and left its machine.
    EXPECT_EQ(MachineCount(), 0u);
    const Strings removed = m_console.Messages(76);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_NE(removed[0].find("|6 3 0 0"), std::string::npos) << removed[0];
    const Strings lines = LogLines("UDPEcho");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\tService started"), std::string::npos);
    EXPECT_NE(lines[1].find("\tService stopped"), std::string::npos);
}

// Start and Stop from another thread run on the service thread and return once they have: the
// caller sees the state they left (a console's request reports it at once).
TEST_F(UDPServiceTest, StartAndStopFromAnotherThreadActOnTheServiceThread) {
    const std::uint16_t port = FreeTcpPort();
    auto* service = new CEchoUDPService(port);
    service->SetEnabled(FALSE);
    service->StartIfEnabled();
    ASSERT_TRUE(WaitFor([&] { return service->started.load() == 1; }));
    EXPECT_EQ(service->GetRunState(), CService::kStopped);

    service->SetEnabled(TRUE);
    service->Start();
    ASSERT_EQ(service->GetRunState(), CService::kRunning);
    EXPECT_TRUE(COutboundTargetGuard::Instance().IsListeningPort(port, OutboundTransport::Udp));
    // Another thread sends from the service's socket through its outlet while it is open,
    // never once it has been stopped (its descriptor number may be anyone's by then).
    const std::shared_ptr<CDatagramOutlet> outlet = service->GetOutlet();
    ASSERT_TRUE(outlet);
    RawUdp client;
    const auto sendFromOutlet = [&] {
        NetOutgoingDatagram datagram;
        datagram.bytes = "hi";
        datagram.count = 2;
        datagram.to = NetAddress{0x7F000001, client.Port()};
        return std::async(std::launch::async, [&] {
                   const int sent = outlet->Send(&datagram, 1);
                   return sent < 0 ? -WSAGetLastError() : sent;
               }).get();
    };
    EXPECT_EQ(sendFromOutlet(), 1);
    std::string got;
    std::uint16_t from = 0;
    ASSERT_TRUE(client.Receive(&got, 5000, &from));
    EXPECT_EQ(got, "hi");
    EXPECT_EQ(from, port);
    service->Stop();
    ASSERT_EQ(service->GetRunState(), CService::kStopped);
    EXPECT_FALSE(COutboundTargetGuard::Instance().IsListeningPort(port, OutboundTransport::Udp));
    EXPECT_FALSE(service->GetOutlet());
    EXPECT_EQ(sendFromOutlet(), -WSAENOTSOCK);
    EXPECT_FALSE(client.Receive(&got, 100));
    service->StopAndDelete();
}

// The service thread admits sessions while holding its own client mutex (service mutex, then
// machine-map and machine locks); the timer ends sessions while holding machine locks. Ending
// hands the removal to the service thread, so the two never wait for each other.
TEST_F(UDPServiceTest, EndingSessionsWhileTheServiceAdmitsOthersNeverDeadlocks) {
    FakeClock clock;
    auto* service = new CEchoUDPService(FreeTcpPort());
    service->SetEnabled(FALSE);  // no socket needed: sessions are made by hand
    CRef<CEchoUDPService> held(service);
    service->StartIfEnabled();
    ASSERT_TRUE(WaitFor([&] { return service->started.load() == 1; }));

    std::atomic<bool> stop{false};
    std::thread walker([&] {
        while (!stop) {
            FakeClock::Advance(600);
            TimerWalk();
        }
    });
    for (int round = 0; round < 40; ++round) {
        service->OnThread([&] {
            for (int i = 0; i < 25; ++i)
                service->SessionFor("10.0." + std::to_string(round % 4) + "." + std::to_string(i), 5000);
        });
    }
    stop = true;
    walker.join();
    FakeClock::Advance(5000);
    TimerWalk();
    service->OnThread([] {});  // the handed-over removals have run
    EXPECT_EQ(service->GetSessionCount(), 0u);
    EXPECT_EQ(service->removedOffThread.load(), 0);
    EXPECT_GT(service->removed.load(), 0);
    EXPECT_EQ(MachineCount(), 0u);
    held.Reset();
    service->StopAndDelete();  // gives up the reference the service was made with
}

}  // namespace
