#include "engine/framework/OutboundTargetGuard.h"

#include "foundation/RegistryStore.h"
#include "platform/net/Resolver.h"
#include "platform/net/SocketErrors.h"
#include "support/SocketTestKit.h"
#include "support/TempDir.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kLoopback = 0x7F000001;
constexpr DWORD kRemote = 0xC0000201;  // 192.0.2.1, a documentation address

// This host's interface addresses, listed with the C library directly.
std::vector<DWORD> OwnAddresses() {
    std::vector<DWORD> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return result;
    for (ifaddrs* a = list; a; a = a->ifa_next)
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET)
            result.push_back(ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr));
    freeifaddrs(list);
    return result;
}

CaughtSocketError Check(const COutboundTargetGuard& g, DWORD address, UINT port,
                        OutboundTransport t = OutboundTransport::Tcp) {
    return CatchSocketError([&] { g.CheckAddress(address, port, t); });
}

TEST(OutboundTargetGuardTest, HostNamesWithControlBytesSpacesOrNoTextAreRefused) {
    const std::string refused[] = {
        "",
        "www.example.com\r\nX-Injected: 1",
        "www.example.com\n",
        "www.example.com\r",
        "www example.com",
        std::string("www\0evil.com", 12),
        "www.example.com\t",
        "\x7F",
        "\x1B[0m",
        std::string(256, 'a'),
    };
    for (const std::string& host : refused) {
        EXPECT_FALSE(COutboundTargetGuard::IsAcceptableHostName(host));
        WSASetLastError(0);
        const CaughtSocketError e = CatchSocketError([&] { COutboundTargetGuard::CheckHostName(host); });
        EXPECT_EQ(e.code, 10022);
        EXPECT_EQ(e.text, "Connect refused - invalid host name");
        EXPECT_EQ(WSAGetLastError(), 10022);
    }
    for (const std::string host : {"www.example.com", "10.0.0.1", "localhost", "a", "xn--bcher-kva.example",
                                   "\xC3\xA9t\xC3\xA9.example"})
        EXPECT_TRUE(COutboundTargetGuard::IsAcceptableHostName(host)) << host;
    EXPECT_TRUE(COutboundTargetGuard::IsAcceptableHostName(std::string(255, 'a')));
}

TEST(OutboundTargetGuardTest, PortsOutsideTheSixteenBitRangeAreRefusedNotNarrowed) {
    COutboundTargetGuard g;
    for (UINT port : {0u, 65536u, 65536u + 808u, 0xFFFFFFFFu}) {
        const CaughtSocketError e = Check(g, kRemote, port);
        EXPECT_EQ(e.code, 10022);
        EXPECT_EQ(e.text, "Connect to 192.0.2.1:" + std::to_string(port) + " refused - invalid port number");
    }
    EXPECT_EQ(Check(g, kRemote, 1).code, -1);
    EXPECT_EQ(Check(g, kRemote, 65535).code, -1);
    const CaughtSocketError e = CatchSocketError([] { COutboundTargetGuard::CheckPort("h", 70000); });
    EXPECT_EQ(e.text, "Connect to h:70000 refused - invalid port number");
}

TEST(OutboundTargetGuardTest, TheZeroNetworkIsRefusedOnEveryPort) {
    COutboundTargetGuard g;
    for (DWORD a : {0x00000000u, 0x00000001u, 0x00FFFFFFu, 0x00010203u}) {
        const CaughtSocketError e = Check(g, a, 80);
        EXPECT_EQ(e.code, 10022);
        EXPECT_EQ(e.text, "Connect to " + FormatDottedAddress(a) + ":80 refused - invalid address");
    }
    EXPECT_EQ(Check(g, 0x01000000, 80).code, -1);  // 1.0.0.0 is elsewhere
}

TEST(OutboundTargetGuardTest, AddressesOfThisHostAreRefusedOnlyOnOwnListeningPorts) {
    COutboundTargetGuard g;
    const UINT port = 808;
    // Nothing registered: loopback stays allowed.
    EXPECT_EQ(Check(g, kLoopback, port).code, -1);
    g.RegisterListeningPort(port);
    EXPECT_TRUE(g.IsListeningPort(port));

    std::vector<DWORD> own = OwnAddresses();
    own.push_back(kLoopback);
    own.push_back(0x7F123456);  // anywhere in 127/8
    for (DWORD a : own) {
        WSASetLastError(0);
        const CaughtSocketError e = Check(g, a, port);
        EXPECT_EQ(e.code, 10013) << FormatDottedAddress(a);
        EXPECT_EQ(e.text, "Connect to " + FormatDottedAddress(a) + ":808 refused - a port of this proxy server");
        EXPECT_EQ(WSAGetLastError(), 10013);
    }
    // Other ports of this host, and the same port elsewhere, stay allowed.
    EXPECT_EQ(Check(g, kLoopback, 809).code, -1);
    EXPECT_EQ(Check(g, kRemote, port).code, -1);
    // A UDP listener does not close the TCP port, nor the reverse.
    EXPECT_EQ(Check(g, kLoopback, port, OutboundTransport::Udp).code, -1);
    g.RegisterListeningPort(53, OutboundTransport::Udp);
    EXPECT_EQ(Check(g, kLoopback, 53, OutboundTransport::Udp).code, 10013);
    EXPECT_EQ(Check(g, kLoopback, 53).code, -1);

    // Registrations are counted.
    g.RegisterListeningPort(port);
    g.UnregisterListeningPort(port);
    EXPECT_EQ(Check(g, kLoopback, port).code, 10013);
    g.UnregisterListeningPort(port);
    EXPECT_EQ(Check(g, kLoopback, port).code, -1);
    g.UnregisterListeningPort(port);  // one too many: nothing happens
    EXPECT_FALSE(g.IsListeningPort(port));
    g.RegisterListeningPort(0);
    g.RegisterListeningPort(70000);
    EXPECT_FALSE(g.IsListeningPort(0));
    EXPECT_FALSE(g.IsListeningPort(70000));
}

TEST(OutboundTargetGuardTest, ResolveCheckedChecksTheAddressTheNameResolvesTo) {
    TempStateDir state;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    COutboundTargetGuard g;
    EXPECT_EQ(g.ResolveChecked("127.0.0.1", 8080), kLoopback);
    DWORD localhost = 0;
    ASSERT_TRUE(ResolveHostAddress("localhost", &localhost));
    g.RegisterListeningPort(8080);
    EXPECT_EQ(CatchSocketError([&] { g.ResolveChecked("localhost", 8080); }).code,
              (localhost >> 24) == 127 ? 10013 : -1);
    EXPECT_EQ(CatchSocketError([&] { g.ResolveChecked("0.0.0.0", 80); }).code, 10022);

    WSASetLastError(0);
    const CaughtSocketError e = CatchSocketError([&] { g.ResolveChecked("no-such-host.invalid", 80); });
    EXPECT_EQ(e.code, 10022);
    EXPECT_EQ(e.text, "Host name lookup for 'no-such-host.invalid' failed");
    EXPECT_EQ(WSAGetLastError(), 10022);
    EXPECT_EQ(CatchSocketError([&] { g.ResolveChecked("bad\r\nhost", 80); }).text,
              "Connect refused - invalid host name");
    SetRegistryRoot("", "");
}

TEST(OutboundTargetGuardTest, TheEngineGuardTakesRegistrationsForTheirLifetime) {
    COutboundTargetGuard& g = COutboundTargetGuard::Instance();
    EXPECT_FALSE(g.IsListeningPort(61999));
    {
        CListeningPortRegistration r(61999);
        EXPECT_TRUE(g.IsListeningPort(61999));
        EXPECT_EQ(Check(g, kLoopback, 61999).code, 10013);
    }
    EXPECT_FALSE(g.IsListeningPort(61999));
}

TEST(OutboundTargetGuardTest, RegistrationsAndChecksFromManyThreadsAtOnce) {
    COutboundTargetGuard g;
    g.RegisterListeningPort(7000);  // held throughout
    std::atomic<bool> wrong{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const UINT mine = 7001 + static_cast<UINT>(t);
            for (int i = 0; i < 2000; ++i) {
                g.RegisterListeningPort(mine);
                if (!g.IsListeningPort(mine) || !g.IsListeningPort(7000))
                    wrong = true;
                g.UnregisterListeningPort(mine);
            }
        });
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i)
                if (Check(g, kLoopback, 7000).code != 10013)
                    wrong = true;
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_FALSE(wrong);
    for (UINT p = 7001; p <= 7004; ++p)
        EXPECT_FALSE(g.IsListeningPort(p));
    EXPECT_TRUE(g.IsListeningPort(7000));
}

}  // namespace
