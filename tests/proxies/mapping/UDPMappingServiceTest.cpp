#include "proxies/mapping/UDPMappingService.h"

#include "engine/EngineFormat.h"
#include "foundation/NVDataObject.h"
#include "proxies/mapping/UDPMappingSession.h"
#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

// A datagram socket on a loopback address (any 127.x.y.z), so one test can play several
// client machines.
class UdpPeer {
public:
    explicit UdpPeer(const std::string& address = "127.0.0.1") {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sin = At(address, 0);
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0)
            throw std::runtime_error("test datagram socket failed");
        socklen_t length = sizeof sin;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&sin), &length);
        m_port = ntohs(sin.sin_port);
    }
    ~UdpPeer() { close(m_fd); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    std::uint16_t Port() const { return m_port; }
    void SendTo(std::uint16_t port, const std::string& bytes, const std::string& address = "127.0.0.1") {
        sockaddr_in to = At(address, port);
        sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // One datagram within `timeoutMs` with its sender's port, or false.
    bool Receive(std::string* datagram, int timeoutMs, std::uint16_t* fromPort = nullptr) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return false;
        std::vector<char> buffer(65536);
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(m_fd, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0)
            return false;
        datagram->assign(buffer.data(), static_cast<std::size_t>(n));
        if (fromPort != nullptr)
            *fromPort = ntohs(from.sin_port);
        return true;
    }
    std::string Ask(std::uint16_t port, const std::string& bytes) {
        SendTo(port, bytes);
        std::string answer;
        return Receive(&answer, 5000) ? answer : "(no answer)";
    }

private:
    static sockaddr_in At(const std::string& address, std::uint16_t port) {
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &sin.sin_addr);
        return sin;
    }

    int m_fd;
    std::uint16_t m_port = 0;
};

// The target: answers every datagram with the same bytes, except "big", which it answers
// with 9000 bytes. Counts the distinct ports it heard from.
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
        while (!m_stop) {
            std::string datagram;
            std::uint16_t from = 0;
            if (!m_socket.Receive(&datagram, 50, &from))
                continue;
            {
                std::lock_guard lock(m_mutex);
                m_sources.insert(from);
            }
            m_socket.SendTo(from, datagram == "big" ? std::string(9000, 'b') : datagram);
        }
    }

    UdpPeer m_socket;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::set<std::uint16_t> m_sources;
    std::thread m_thread;
};

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

bool Contains(const Strings& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

std::size_t CountOf(const Strings& lines, const std::string& text) {
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    }));
}

class UDPMappingServiceTest : public FrameworkTest {
protected:
    void TearDown() override {
        if (m_service) {
            CRef<CUDPMappingService> service = std::move(m_service);
            auto ended = service->EndedEvent();
            service.Detach()->StopAndDelete();
            EXPECT_EQ(ended->Wait(10000), WAIT_OBJECT_0);
        }
        FrameworkTest::TearDown();
    }

    // A running service named "UDPMap" on a free loopback port, every log line on, open to
    // everyone, with `table` as its mapping table.
    CUDPMappingService& Start(CMappings* table, DWORD timeoutSeconds = 60) {
        if (m_port == 0)
            m_port = UdpPeer().Port();
        auto* service = new CUDPMappingService;
        m_service = CRef<CUDPMappingService>(service);
        service->SetName("UDPMap");
        service->SetPortNumber(m_port);
        service->SetInterfaceAddress(TRUE, "127.0.0.1");
        service->SetLogging(TRUE, 0xFFFF);
        service->SetSessionTimeout(TRUE, timeoutSeconds);
        service->OpenLogFile();
        service->SetMappings(CRef<CMappings>::Adopt(table));
        AllowEveryone(*service);
        service->StartIfEnabled();
        EXPECT_TRUE(WaitFor([&] { return service->GetRunState() == CService::kRunning; }));
        service->Release();  // m_service holds it; the service's thread holds its own
        return *service;
    }

    static CMappings* DefaultTo(std::uint16_t port) {
        auto* table = new CMappings;
        table->SetAllowDefault(1);
        table->SetDefaultTarget(CHostPort("127.0.0.1", port));
        return table;
    }

    // Runs `fn` on the service thread and waits for it (handed-over removals run first).
    void OnServiceThread(const std::function<void()>& fn = [] {}) {
        CEvent done(true, false);
        ASSERT_TRUE(PostThreadCall(m_service->ThreadId(), [&] {
            fn();
            done.Set();
        }));
        ASSERT_EQ(done.Wait(20000), WAIT_OBJECT_0);
    }

    Strings Lines() const { return LogLines("UDPMap"); }

    CRef<CUDPMappingService> m_service;
    std::uint16_t m_port = 0;
};

// The table travels with the service: under "<key>\Mappings" in the store, after the
// service's fields in the archive; a record cut inside the table changes nothing.
TEST_F(UDPMappingServiceTest, TheTableTravelsWithTheService) {
    auto service = CRef<CUDPMappingService>::Adopt(new CUDPMappingService);
    EXPECT_EQ(service->GetName(), "UDP Mapping service");
    EXPECT_EQ(service->GetServiceKind(), 1);
    EXPECT_FALSE(service->HasExtraSettingsPage());
    EXPECT_TRUE(service->HasMappings());
    auto* table = new CMappings;
    table->SetDefaultTarget(CHostPort("ns", 53));
    for (int i = 0; i < 11; ++i) {
        auto* mapping = new CMapping;
        mapping->SetTarget("host" + std::to_string(i), 1000 + i);
        table->AddMapping(mapping);
    }
    service->SetMappings(CRef<CMappings>::Adopt(table));
    service->SetDescription("mapped");
    ASSERT_TRUE(service->SaveToRegistry("Services\\UDPMap"));
    EXPECT_EQ(RegReadString("Services\\UDPMap", "ServiceType", "-"), "CUDPMappingService");
    EXPECT_EQ(RegReadString("Services\\UDPMap\\Mappings\\Mapping10", "Host", "-"), "host10");

    auto loaded = CRef<CUDPMappingService>::Adopt(new CUDPMappingService);
    loaded->LoadFromRegistry("Services\\UDPMap");
    EXPECT_EQ(loaded->GetDescription(), "mapped");
    ASSERT_EQ(loaded->GetMappings()->GetMappingCount(), 11u);
    EXPECT_EQ(loaded->GetMappings()->GetMappings()[10]->GetTarget(), CHostPort("host10", 1010));
    EXPECT_EQ(loaded->GetMappings()->GetDefaultTarget(), CHostPort("ns", 53));

    const std::vector<std::uint8_t> bytes = StoreBytes([&](CArchive& ar) { service->Serialize(ar); });
    auto received = CRef<CUDPMappingService>::Adopt(new CUDPMappingService);
    const CRef<CMappings> before = received->GetMappings();
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.end() - 3);
    EXPECT_TRUE(ThrowsPtr<CArchiveException>([&] {
        LoadBytes(cut, [&](CArchive& ar) { received->Serialize(ar); });
    }));
    EXPECT_EQ(received->GetDescription(), "UDP Mapping service");
    EXPECT_EQ(received->GetMappings().Get(), before.Get());
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { received->Serialize(ar); }));
    EXPECT_EQ(received->GetDescription(), "mapped");
    EXPECT_EQ(received->GetMappings()->GetMappingCount(), 11u);
    // The old table lives on for whoever still holds it.
    EXPECT_EQ(before->GetMappingCount(), 0u);
}

TEST_F(UDPMappingServiceTest, RelaysEachClientThroughItsOwnSocketAndDropsWhatDoesNotFit) {
    EchoTarget target;
    CUDPMappingService& service = Start(DefaultTo(target.Port()));
    UdpPeer first, second;
    EXPECT_EQ(first.Ask(m_port, "one"), "one");
    EXPECT_EQ(second.Ask(m_port, "two"), "two");
    EXPECT_EQ(first.Ask(m_port, "three"), "three");
    // Two ports of one address: two sessions, two outgoing sockets, one machine.
    EXPECT_EQ(service.GetSessionCount(), 2u);
    EXPECT_EQ(service.GetClientCount(), 2u);
    EXPECT_EQ(target.SourcePorts(), 2u);
    EXPECT_EQ(MachineCount(), 1u);
    const std::string description = "UDPMapping: 127.0.0.1 -> 127.0.0.1:" + std::to_string(target.Port());
    const Strings started = m_console.Messages(EngineFormat::kOpSessionStarted);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_NE(started[0].find("|" + description), std::string::npos) << started[0];

    // The buffer's size passes both ways; one byte more is dropped with a line, both ways.
    const std::string full(8192, 'f');
    EXPECT_EQ(first.Ask(m_port, full), full);
    first.SendTo(m_port, std::string(8193, 'x'));
    first.SendTo(m_port, "big");
    EXPECT_EQ(first.Ask(m_port, "after"), "after");
    const Strings lines = Lines();
    EXPECT_TRUE(Contains(lines, "\tError:\tDatagram from a client longer than 8192 bytes - dropped"));
    EXPECT_TRUE(Contains(lines, "\tError:\tDatagram from 127.0.0.1:" + std::to_string(target.Port()) +
                                    " longer than 8192 bytes - dropped"));
    EXPECT_EQ(CountOf(lines, "\tCreated:\t"), 2u);
    EXPECT_EQ(CountOf(lines, "\tRequested:\t" + description), 2u);

    // Ending the service ends both sessions; their traffic is booked both ways.
    auto ended = service.EndedEvent();
    m_service.Detach()->StopAndDelete();
    ASSERT_EQ(ended->Wait(10000), WAIT_OBJECT_0);
    const Strings endedNotices = m_console.Messages(EngineFormat::kOpSessionEnded);
    ASSERT_EQ(endedNotices.size(), 2u);
    // The first client's: 3 + 5 + 8192 + 3 + 5 bytes went out, the answers but the one to
    // "big" came back (to the client, from the client, to the target, from the target).
    const std::string firstCounters = "|8205 8208 8208 8205";
    EXPECT_TRUE(endedNotices[0].find(firstCounters) != std::string::npos ||
                endedNotices[1].find(firstCounters) != std::string::npos)
        << endedNotices[0] << "\n" << endedNotices[1];
    EXPECT_EQ(CountOf(Lines(), "\tTerminated exit code 0"), 2u);

    CUDPMappingSession session;
    session.SetTarget("ns", 53);
    CNVDataObject value;
    session.GetValue(2, value);
    EXPECT_EQ(value.strData, "ns");
    session.GetValue(3, value);
    EXPECT_EQ(value.dwData, 53u);
}

TEST_F(UDPMappingServiceTest, RefusedAndFailedSetUpsEndAtOnceAndTheNextDatagramTriesAgain) {
    EchoTarget target;
    m_port = UdpPeer().Port();
    auto* table = new CMappings;  // no default
    auto* own = new CMapping;     // for 127.0.0.3: the service's own port, which the guard refuses
    own->SetSpecifyLocation(1);
    own->SetIncludedLocations({"127.0.0.3"});
    own->SetTarget("127.0.0.1", m_port);
    table->AddMapping(own);
    auto* echo = new CMapping;  // for 127.0.0.4: the echo target
    echo->SetSpecifyLocation(1);
    echo->SetIncludedLocations({"127.0.0.4"});
    echo->SetTarget("127.0.0.1", target.Port());
    table->AddMapping(echo);
    CUDPMappingService& service = Start(table);

    UdpPeer unmapped("127.0.0.2"), looping("127.0.0.3"), mapped("127.0.0.4");
    for (int i = 0; i < 2; ++i) {
        unmapped.SendTo(m_port, "lost");
        looping.SendTo(m_port, "lost");
    }
    EXPECT_EQ(mapped.Ask(m_port, "kept"), "kept");
    OnServiceThread();
    EXPECT_EQ(service.GetClientCount(), 1u);
    EXPECT_EQ(service.GetSessionCount(), 1u);
    const Strings lines = Lines();
    EXPECT_EQ(CountOf(lines, "\tFailed authorisation:\tNo mapping or default not allowed - terminating"), 2u);
    EXPECT_EQ(CountOf(lines, "\tError:\tCaught socket exception in CUDPMappingService::OnRead() "), 2u);
    EXPECT_EQ(CountOf(lines, "\tTerminated exit code 1"), 4u);
    EXPECT_EQ(CountOf(lines, "\tRequested:\t"), 1u);
}

TEST_F(UDPMappingServiceTest, ManyClientPortsUpToTheCeiling) {
    constexpr std::size_t kCeiling = MappingFormat::kMaxUDPMappingSessions;
    // Each session holds a socket and so does each client of this test.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlim_t needed = 2 * kCeiling + 512;
    if (limit.rlim_cur < needed) {
        if (limit.rlim_max < needed)
            GTEST_SKIP() << "the descriptor limit " << limit.rlim_max << " is below " << needed;
        limit.rlim_cur = needed;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    FakeClock clock;
    EchoTarget target;
    CUDPMappingService& service = Start(DefaultTo(target.Port()), 60);
    const std::size_t before = OpenDescriptors();

    // One at a time, so no datagram is lost in a full receive queue.
    std::vector<std::unique_ptr<UdpPeer>> clients;
    std::size_t answered = 0;
    for (std::size_t i = 0; i < kCeiling; ++i) {
        clients.push_back(std::make_unique<UdpPeer>());
        answered += clients.back()->Ask(m_port, "hello") == "hello" ? 1 : 0;
    }
    EXPECT_EQ(answered, kCeiling);
    EXPECT_EQ(service.GetClientCount(), kCeiling);
    // Beyond the ceiling, new clients get no session (the service handles its datagrams in
    // order: once a later one was answered, the earlier ones were dropped); the log says so
    // once.
    UdpPeer late, later;
    late.SendTo(m_port, "late");
    later.SendTo(m_port, "later");
    EXPECT_EQ(clients.front()->Ask(m_port, "again"), "again");
    std::string answer;
    EXPECT_FALSE(late.Receive(&answer, 300));
    EXPECT_FALSE(later.Receive(&answer, 0));
    EXPECT_EQ(service.GetClientCount(), kCeiling);
    EXPECT_EQ(CountOf(Lines(), "\tError:\t4096 UDP mapping sessions open - datagrams from new clients are dropped"), 1u);

    // The idle time-out ends them all and gives every socket back; then new clients are
    // served again, and a second time at the ceiling would be logged again.
    FakeClock::Advance(61000);
    m_engine->Tick();
    FakeClock::Advance(61000);
    m_engine->Tick();
    ASSERT_TRUE(WaitFor([&] { return service.GetClientCount() == 0; }, 60000)) << service.GetClientCount();
    OnServiceThread();
    EXPECT_EQ(service.GetSessionCount(), 0u);
    clients.clear();
    EXPECT_LE(OpenDescriptors(), before + 2);
    EXPECT_EQ(late.Ask(m_port, "served"), "served");
    EXPECT_EQ(service.GetClientCount(), 1u);
}

// The engine's timer ends idle sessions (under machine locks) while the service thread admits
// new ones and relays datagrams (under its client map's lock, then machine locks): ending
// hands the removal to the service thread, so neither waits for the other.
TEST_F(UDPMappingServiceTest, TheTimerEndsIdleSessionsWhileDatagramsArrive) {
    FakeClock clock;
    EchoTarget target;
    CUDPMappingService& service = Start(DefaultTo(target.Port()), 1);
    std::atomic<bool> stop{false};
    std::atomic<int> answers{0};
    std::thread sender([&] {
        std::vector<std::unique_ptr<UdpPeer>> clients;
        for (int i = 0; i < 16; ++i)
            clients.push_back(std::make_unique<UdpPeer>("127.0.0." + std::to_string(1 + i % 4)));
        for (unsigned round = 0; !stop; ++round) {
            UdpPeer& client = *clients[round % clients.size()];
            client.SendTo(m_port, "tick");
            std::string answer;
            if (client.Receive(&answer, 20))
                ++answers;
            // Each client is quiet for several timer walks between its datagrams, so its
            // sessions keep ending and starting again.
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
    // Datagrams still on their way may start sessions; once they are handled, the timer ends
    // everything.
    EXPECT_TRUE(WaitFor([&] {
        FakeClock::Advance(5000);
        m_engine->Tick();
        OnServiceThread();
        return service.GetClientCount() == 0;
    }));
    EXPECT_EQ(service.GetClientCount(), 0u);
    EXPECT_EQ(service.GetSessionCount(), 0u);
    EXPECT_EQ(MachineCount(), 0u);
    EXPECT_GT(CountOf(Lines(), "\tTerminated exit code 2"), 16u);
}

}  // namespace
