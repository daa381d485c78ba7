#include "proxies/mapping/UDPMappingService.h"

#include "engine/framework/FrameworkFormat.h"
#include "remote/RCPOperations.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

// The target: echoes every datagram, but answers "big" with 9000 bytes; counts the ports it
// heard from.
class EchoTarget {
public:
    EchoTarget() : m_thread([this] { Run(); }) {}
    ~EchoTarget() {
        m_stop = true;
        m_thread.join();
    }
    std::uint16_t Port() const { return m_socket.Port(); }
    std::size_t SourcePorts() const {
        std::lock_guard lock(m_mutex);
        return m_sources.size();
    }

private:
    void Run() {
        std::string datagram;
        std::uint16_t from = 0;
        while (!m_stop) {
            if (!m_socket.Receive(&datagram, 50, &from))
                continue;
            std::lock_guard lock(m_mutex);
            m_sources.insert(from);
            m_socket.SendTo(from, datagram == "big" ? std::string(9000, 'b') : datagram);
        }
    }

    RawUdp m_socket;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::set<std::uint16_t> m_sources;
    std::thread m_thread;
};

std::size_t CountOf(const Strings& lines, const std::string& text) {
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    }));
}

class UDPMappingServiceTest : public FrameworkTest {
protected:
    void TearDown() override {
        if (m_service) {
            auto ended = m_service->EndedEvent();
            m_service.Detach()->StopAndDelete();
            EXPECT_EQ(ended->Wait(10000), WAIT_OBJECT_0);
        }
        FrameworkTest::TearDown();
    }

    // A running service "UDPMap" on m_port (a free one unless set), every log line on, open
    // to everyone, with `table` (its target `echo` for every client when null).
    CUDPMappingService& Start(CMappings* table, std::uint16_t echo, DWORD timeoutSeconds = 60) {
        if (m_port == 0)
            m_port = FreeTcpPort();
        if (table == nullptr) {
            table = new CMappings;
            table->SetAllowDefault(1);
            table->SetDefaultTarget(CHostPort("127.0.0.1", echo));
        }
        m_service = CRef<CUDPMappingService>::Adopt(new CUDPMappingService);
        m_service->SetName("UDPMap");
        m_service->SetPortNumber(m_port);
        m_service->SetInterfaceAddress(TRUE, "127.0.0.1");
        m_service->SetLogging(TRUE, 0xFFFF);
        m_service->SetSessionTimeout(TRUE, timeoutSeconds);
        m_service->OpenLogFile();
        m_service->SetMappings(CRef<CMappings>::Adopt(table));
        AllowEveryone(*m_service);
        m_service->StartIfEnabled();
        EXPECT_TRUE(WaitFor([&] { return m_service->GetRunState() == CService::kRunning; }));
        return *m_service;
    }

    // Runs an empty call on the service thread: the removals handed to it before have run.
    void Drain() {
        CEvent done(true, false);
        ASSERT_TRUE(PostThreadCall(m_service->ThreadId(), [&] { done.Set(); }));
        ASSERT_EQ(done.Wait(20000), WAIT_OBJECT_0);
    }

    std::size_t Logged(const std::string& text) const { return CountOf(LogLines("UDPMap"), text); }

    CRef<CUDPMappingService> m_service;
    std::uint16_t m_port = 0;
};

TEST_F(UDPMappingServiceTest, RelaysEachClientThroughItsOwnSocketAndDropsWhatDoesNotFit) {
    EchoTarget target;
    CUDPMappingService& service = Start(nullptr, target.Port());
    RawUdp first, second;
    EXPECT_EQ(first.Ask(m_port, "one"), "one");
    EXPECT_EQ(second.Ask(m_port, "two"), "two");
    // Two ports of one address: two sessions, two outgoing sockets, one machine.
    EXPECT_EQ(service.GetSessionCount(), 2u);
    EXPECT_EQ(target.SourcePorts(), 2u);
    EXPECT_EQ(MachineCount(), 1u);
    const std::string description = "UDPMapping: 127.0.0.1 -> 127.0.0.1:" + std::to_string(target.Port());
    const Strings started = m_console.Messages(RCPOperations::kNotifySessionStarted);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_NE(started[0].find("|" + description), std::string::npos) << started[0];

    // The buffer's size passes both ways; one byte more is dropped with a line, both ways.
    const std::string full(8192, 'f');
    EXPECT_EQ(first.Ask(m_port, full), full);
    first.SendTo(m_port, std::string(8193, 'x'));
    first.SendTo(m_port, "big");
    EXPECT_EQ(first.Ask(m_port, "after"), "after");
    EXPECT_EQ(Logged("\tError:\tDatagram from a client longer than 8192 bytes - dropped"), 1u);
    EXPECT_EQ(Logged("\tError:\tDatagram from 127.0.0.1:" + std::to_string(target.Port()) +
                     " longer than 8192 bytes - dropped"), 1u);
    EXPECT_EQ(Logged("\tRequested:\t" + description), 2u);

    // Ending the service ends both sessions; the first booked 3 + 8192 + 3 + 5 bytes from the
    // client to the target and everything but the answer to "big" back (to the client, from
    // the client, to the target, from the target).
    auto ended = service.EndedEvent();
    m_service.Detach()->StopAndDelete();
    ASSERT_EQ(ended->Wait(10000), WAIT_OBJECT_0);
    const Strings endedNotices = m_console.Messages(RCPOperations::kNotifySessionEnded);
    ASSERT_EQ(endedNotices.size(), 2u);
    EXPECT_EQ(CountOf(endedNotices, "|8200 8203 8203 8200"), 1u) << endedNotices[0] << endedNotices[1];
    EXPECT_EQ(Logged("\tTerminated exit code 0"), 2u);
}

TEST_F(UDPMappingServiceTest, RefusedAndFailedSetUpsEndAtOnceAndTheNextDatagramTriesAgain) {
    EchoTarget target;
    m_port = FreeTcpPort();
    // No default; 127.0.0.3 goes to the service's own port, which the guard refuses.
    auto* table = new CMappings;
    for (const auto& [client, port] : {std::pair<const char*, std::uint16_t>{"127.0.0.3", m_port},
                                       {"127.0.0.4", target.Port()}}) {
        auto* mapping = new CMapping;
        mapping->SetSpecifyLocation(1);
        mapping->SetIncludedLocations({client});
        mapping->SetTarget("127.0.0.1", port);
        table->AddMapping(mapping);
    }
    CUDPMappingService& service = Start(table, 0);

    RawUdp unmapped("127.0.0.2"), looping("127.0.0.3"), mapped("127.0.0.4");
    for (int i = 0; i < 2; ++i) {
        unmapped.SendTo(m_port, "lost");
        looping.SendTo(m_port, "lost");
    }
    EXPECT_EQ(mapped.Ask(m_port, "kept"), "kept");
    Drain();
    EXPECT_EQ(service.GetClientCount(), 1u);
    EXPECT_EQ(service.GetSessionCount(), 1u);
    EXPECT_EQ(Logged("\tFailed authorisation:\tNo mapping or default not allowed - terminating"), 2u);
    EXPECT_EQ(Logged("\tError:\tCaught socket exception in CUDPMappingService::OnRead() "), 2u);
    EXPECT_EQ(Logged("\tTerminated exit code 1"), 4u);
}

// One address takes a quarter of the sessions at most, so others are served while it floods;
// the service takes kMaxUDPSessions in all.
TEST_F(UDPMappingServiceTest, ManyClientPortsUpToTheAddressShareAndTheCeiling) {
    constexpr std::size_t kCeiling = FrameworkFormat::kMaxUDPSessions;
    constexpr std::size_t kShare = kCeiling / FrameworkFormat::kAddressShareDivisor;
    // Each session holds a socket and so does each client of this test.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlim_t needed = 2 * kCeiling + 512;
    if (limit.rlim_max < needed)
        GTEST_SKIP() << "the descriptor limit " << limit.rlim_max << " is below " << needed;
    limit.rlim_cur = std::max(limit.rlim_cur, needed);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    FakeClock clock;
    EchoTarget target;
    CUDPMappingService& service = Start(nullptr, target.Port());
    const int before = OpenDescriptorCount();

    // One at a time, so no datagram is lost in a full receive queue. Four addresses take
    // their share each; beyond it an address's new ports get no session (the service handles
    // datagrams in order: once a later one was answered, the earlier ones were dropped). The
    // last share fills the service.
    std::vector<std::unique_ptr<RawUdp>> clients;
    std::size_t answered = 0;
    std::string answer;
    for (int host = 1; host <= 4; ++host) {
        const std::string address = "127.0.0." + std::to_string(host);
        for (std::size_t i = 0; i < kShare; ++i) {
            clients.push_back(std::make_unique<RawUdp>(address));
            answered += clients.back()->Ask(m_port, "hello") == "hello" ? 1 : 0;
        }
        RawUdp beyond(address);
        beyond.SendTo(m_port, "beyond");
        EXPECT_EQ(clients.front()->Ask(m_port, "again"), "again");
        EXPECT_FALSE(beyond.Receive(&answer, 0)) << address;
        EXPECT_EQ(Logged("\tError:\tClient " + address + " has 1024 live sessions of this "
                         "service: its new sessions are refused until some end"),
                  host < 4 ? 1u : 0u);
    }
    EXPECT_EQ(answered, kCeiling);
    RawUdp late("127.0.0.5"), later("127.0.0.6");
    late.SendTo(m_port, "late");
    later.SendTo(m_port, "later");
    EXPECT_EQ(clients.front()->Ask(m_port, "again"), "again");
    EXPECT_FALSE(late.Receive(&answer, 0));
    EXPECT_FALSE(later.Receive(&answer, 0));
    EXPECT_EQ(service.GetClientCount(), kCeiling);
    EXPECT_EQ(Logged("\tError:\tService has 4096 live sessions: new sessions are refused until "
                     "some end"),
              1u);

    // The idle time-out ends them all and gives every socket back; new clients are served.
    ASSERT_TRUE(WaitFor([&] {
        FakeClock::Advance(61000);
        m_engine->Tick();
        Drain();
        return service.GetSessionCount() == 0;
    }, 60000));
    clients.clear();
    EXPECT_LE(OpenDescriptorCount(), before + 2);
    EXPECT_EQ(late.Ask(m_port, "served"), "served");
    EXPECT_EQ(service.GetSessionCeiling().GetCount(), 1u);
}

// The engine's timer ends idle sessions (under machine locks) while the service thread admits
// new ones and relays datagrams (under its client map's lock, then machine locks): ending
// hands the removal to the service thread, so neither waits for the other.
TEST_F(UDPMappingServiceTest, TheTimerEndsIdleSessionsWhileDatagramsArrive) {
    FakeClock clock;
    EchoTarget target;
    CUDPMappingService& service = Start(nullptr, target.Port(), 1);
    std::atomic<bool> stop{false};
    std::atomic<int> answers{0};
    std::thread sender([&] {
        std::vector<std::unique_ptr<RawUdp>> clients;
        for (int i = 0; i < 16; ++i)
            clients.push_back(std::make_unique<RawUdp>("127.0.0." + std::to_string(1 + i % 4)));
        std::string answer;
        for (unsigned round = 0; !stop; ++round) {
            RawUdp& client = *clients[round % clients.size()];
            client.SendTo(m_port, "tick");
            answers += client.Receive(&answer, 20) ? 1 : 0;
            // Each client stays quiet for several timer walks, so its sessions keep ending.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int i = 0; i < 150; ++i) {
        FakeClock::Advance(1500);
        m_engine->Tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    sender.join();
    EXPECT_GT(answers.load(), 0);
    // Datagrams still on their way may start sessions; then the timer ends everything.
    EXPECT_TRUE(WaitFor([&] {
        FakeClock::Advance(5000);
        m_engine->Tick();
        Drain();
        return service.GetClientCount() == 0 && service.GetSessionCount() == 0;
    }));
    EXPECT_EQ(MachineCount(), 0u);
    EXPECT_GT(Logged("\tTerminated exit code 2"), 16u);
}

}  // namespace
