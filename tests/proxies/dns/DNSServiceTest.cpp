#include "proxies/dns/DNSService.h"

#include "engine/framework/FrameworkFormat.h"
#include "foundation/NVDataObject.h"
#include "foundation/RegistryStore.h"
#include "foundation/X1SocketException.h"
#include "platform/kernel/Sync.h"
#include "platform/net/AsyncResolver.h"
#include "proxies/dns/DNSSession.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"
#include "support/TimeScale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

// An engine whose dial on demand the test steers: it records who asked, from which thread,
// for which server name, then lets the lookup go on, refuses it, or holds it until released.
class CDialingEngine : public CTestEngine {
public:
    enum class Mode { pass, refuse, hold };
    std::atomic<Mode> mode{Mode::pass};
    std::atomic<int> calls{0};
    std::atomic<DWORD> callerThread{0};
    CEvent entered{true, false};
    CEvent release{true, false};
    std::mutex mutex;
    std::string serverName;

protected:
    void DialOnDemand(CSession* session) override {
        CNVDataObject name;
        session->GetValue(2, name);
        {
            std::lock_guard<std::mutex> lock(mutex);
            serverName = name.strData;
        }
        callerThread = GetCurrentThreadId();
        ++calls;
        if (mode == Mode::refuse)
            throw new X1SocketException(631, "The line is busy");
        if (mode == Mode::hold) {
            entered.Set();
            release.Wait(10000);
        }
    }
};

class DNSServiceTest : public FrameworkTest {
protected:
    std::unique_ptr<CTestEngine> MakeEngine() override {
        return std::make_unique<CDialingEngine>();
    }
    CDialingEngine& Engine() { return static_cast<CDialingEngine&>(*m_engine); }

    // A DNS service on a free port of 127.0.0.1 (free for UDP too, below the ephemeral range),
    // open to everyone, with its log and this idle time-out, whose lookups go to `resolver`;
    // started. `*ended` is set once it has stopped.
    static CDNSService* StartService(CAsyncResolver& resolver, DWORD idleSeconds,
                                     std::shared_ptr<CEvent>* ended) {
        auto* service = new CDNSService;
        service->SetResolver(resolver);
        service->SetPortNumber(FreeTcpPort());
        service->SetInterfaceAddress(TRUE, "127.0.0.1");
        service->SetSessionTimeout(TRUE, idleSeconds);
        AllowEveryone(*service);
        service->OpenLogFile();
        *ended = service->EndedEvent();
        service->StartIfEnabled();
        return service;
    }

    // A query for "localhost", type A, with this ID.
    static std::string Query(int id) {
        std::string q = {static_cast<char>(id >> 8), static_cast<char>(id), 1, 0, 0, 1, 0, 0, 0, 0, 0, 0};
        q += std::string("\x09localhost\0\0\x01\0\x01", 15);
        return q;
    }
};

TEST_F(DNSServiceTest, DefaultsRegistryAndArchiveForms) {
    auto service = CRef<CDNSService>::Adopt(new CDNSService);
    EXPECT_EQ(service->GetName(), "DNS server");
    EXPECT_EQ(service->GetPortNumber(), 53u);
    EXPECT_EQ(service->GetServiceKind(), FrameworkFormat::kKindDNS);
    EXPECT_FALSE(service->HasExtraSettingsPage());
    EXPECT_EQ(service->GetAllowAutodial(), 1u);

    // Registry: AllowAutodial after a UDP service's values, 1 when missing.
    service->SetAllowAutodial(0);
    ASSERT_TRUE(service->SaveToRegistry("Services\\DNS"));
    EXPECT_EQ(RegReadString("Services\\DNS", "ServiceType", "?"), "CDNSService");
    auto loaded = CRef<CDNSService>::Adopt(new CDNSService);
    loaded->LoadFromRegistry("Services\\DNS");
    EXPECT_EQ(loaded->GetAllowAutodial(), 0u);
    loaded->LoadFromRegistry("Services\\Missing");
    EXPECT_EQ(loaded->GetAllowAutodial(), 1u);

    // Archive: a UDP service's record, then AllowAutodial.
    const auto bytes = StoreBytes([&](CArchive& ar) { service->Serialize(ar); });
    const auto tail = StoreBytes([](CArchive& ar) { ar << DWORD{0}; });
    ASSERT_GT(bytes.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), bytes.end() - tail.size()));
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { loaded->Serialize(ar); }));
    EXPECT_EQ(loaded->GetAllowAutodial(), 0u);
}

TEST_F(DNSServiceTest, LookupsDialFirstOffTheServiceThreadAndAnEndedSessionGetsNoAnswer) {
    FakeClock clock;
    CAsyncResolver resolver(2, 16);
    RawUdp client;
    std::shared_ptr<CEvent> ended;
    CDNSService* service = StartService(resolver, 1, &ended);
    ASSERT_TRUE(WaitFor([&] { return service->GetRunState() == CService::kRunning; }));
    const auto port = static_cast<std::uint16_t>(service->GetPortNumber());

    // The dial runs on a lookup thread, for a session whose server name is the queried name;
    // then the answer comes.
    std::string reply;
    client.SendTo(port, Query(1));
    ASSERT_TRUE(client.Receive(&reply, 5000));
    EXPECT_EQ(reply.substr(0, 4), std::string("\x00\x01\x85\x80", 4));
    EXPECT_EQ(reply.substr(reply.size() - 4), std::string("\x7f\x00\x00\x01", 4));
    EXPECT_EQ(Engine().calls.load(), 1);
    EXPECT_NE(Engine().callerThread.load(), service->ThreadId());
    {
        std::lock_guard<std::mutex> lock(Engine().mutex);
        EXPECT_EQ(Engine().serverName, "localhost");
    }

    // A refused dial is a server failure.
    Engine().mode = CDialingEngine::Mode::refuse;
    client.SendTo(port, Query(2));
    ASSERT_TRUE(client.Receive(&reply, 5000));
    EXPECT_EQ(reply.substr(0, 4), std::string("\x00\x02\x85\x82", 4));

    // A session whose lookup outlives its idle time-out ends (code 2); the lookup finishing
    // afterwards answers nobody and leaves nothing behind.
    Engine().mode = CDialingEngine::Mode::hold;
    client.SendTo(port, Query(3));
    ASSERT_EQ(Engine().entered.Wait(ScaledMs(5000)), WAIT_OBJECT_0);
    // The query before it ends once its completion, posted after its reply, is handled.
    ASSERT_TRUE(WaitFor([&] { return service->GetSessionCount() == 1u; }));
    for (int i = 0; i < 2; ++i) {
        FakeClock::Advance(2000);
        m_engine->Tick();  // the first walk only notes the query's bytes as activity
    }
    ASSERT_TRUE(WaitFor([&] { return service->GetSessionCount() == 0; }));
    Engine().release.Set();
    EXPECT_FALSE(client.Receive(&reply, 500));
    EXPECT_TRUE(WaitFor([&] { return resolver.GetRequestCount() == 0; }));

    // Without AllowAutodial nothing dials.
    service->SetAllowAutodial(0);
    client.SendTo(port, Query(4));
    ASSERT_TRUE(client.Receive(&reply, 5000));
    EXPECT_EQ(reply.substr(0, 4), std::string("\x00\x04\x85\x80", 4));
    EXPECT_EQ(Engine().calls.load(), 3);

    // A client the access right refuses is told so, with its question.
    DenyEveryone(*service);
    client.SendTo(port, Query(5));
    ASSERT_TRUE(client.Receive(&reply, 5000));
    EXPECT_EQ(reply, std::string("\x00\x05\x85\x85\x00\x01", 6) + std::string(6, '\0') +
                         Query(5).substr(12));

    service->StopAndDelete();
    ASSERT_EQ(ended->Wait(ScaledMs(10000)), WAIT_OBJECT_0);
    const auto lines = WithoutTimes(LogLines("DNS server"));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.find("Requested:\tDNS: Address lookup for localhost") !=
                                       std::string::npos;
                            }),
              4);
}

TEST_F(DNSServiceTest, BurstsAreAnsweredOnceEachWithTheirLinesInOrderAndAStopLeavesHeldLookupsHarmless) {
    CAsyncResolver resolver(3, 64);
    RawUdp client;
    std::shared_ptr<CEvent> ended;
    CDNSService* service = StartService(resolver, 60, &ended);
    ASSERT_TRUE(WaitFor([&] { return service->GetRunState() == CService::kRunning; }));
    const auto port = static_cast<std::uint16_t>(service->GetPortNumber());

    // Bursts of queries, many in flight at once over few lookup threads: each is answered
    // once, from its own session.
    constexpr int kRounds = 8;
    constexpr int kBurst = 25;
    std::map<int, int> answers;
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 1; i <= kBurst; ++i)
            client.SendTo(port, Query(round * kBurst + i));
        std::string reply;
        for (int i = 0; i < kBurst && client.Receive(&reply, 5000); ++i) {
            ASSERT_GE(reply.size(), 4u);
            EXPECT_EQ(reply.substr(2, 2), std::string("\x85\x80", 2));
            EXPECT_EQ(reply.substr(reply.size() - 4), std::string("\x7f\x00\x00\x01", 4));
            ++answers[(static_cast<unsigned char>(reply[0]) << 8) | static_cast<unsigned char>(reply[1])];
        }
    }
    EXPECT_EQ(answers.size(), static_cast<std::size_t>(kRounds * kBurst));
    EXPECT_TRUE(std::all_of(answers.begin(), answers.end(), [](const auto& a) { return a.second == 1; }));
    ASSERT_TRUE(WaitFor([&] { return service->GetSessionCount() == 0; }));

    // Lookups held on their threads when the service stops: its socket is gone by the time
    // they finish, so nothing is sent and nothing is left behind.
    Engine().mode = CDialingEngine::Mode::hold;
    for (int i = 1; i <= 3; ++i)
        client.SendTo(port, Query(1000 + i));
    ASSERT_EQ(Engine().entered.Wait(ScaledMs(5000)), WAIT_OBJECT_0);
    ASSERT_TRUE(WaitFor([&] { return service->GetSessionCount() == 3u; }));
    service->StopAndDelete();
    ASSERT_EQ(ended->Wait(ScaledMs(10000)), WAIT_OBJECT_0);
    Engine().release.Set();
    std::string late;
    EXPECT_FALSE(client.Receive(&late, 500));
    EXPECT_TRUE(WaitFor([&] { return resolver.GetRequestCount() == 0; }));

    // Every session wrote its request line, then its traffic line: the held ones too, ended
    // by the stop.
    std::map<std::string, std::vector<std::string>> bySession;
    for (const std::string& line : WithoutTimes(LogLines("DNS server"))) {
        const std::size_t at = line.find("\t0000");
        if (at != std::string::npos && line.find("\tRequested:") != std::string::npos)
            bySession[line.substr(at + 1, 10)].push_back("Requested");
        else if (at != std::string::npos && line.find("\tTraffic") != std::string::npos)
            bySession[line.substr(at + 1, 10)].push_back("Traffic");
    }
    const std::vector<std::string> inOrder{"Requested", "Traffic"};
    EXPECT_EQ(bySession.size(), static_cast<std::size_t>(kRounds * kBurst + 3));
    EXPECT_TRUE(std::all_of(bySession.begin(), bySession.end(),
                            [&](const auto& session) { return session.second == inOrder; }));
}

}  // namespace
