#include "platform/net/Resolver.h"

#include "platform/net/SocketErrors.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

TEST(ResolverTest, DottedAddressesParseStrictlyAndFormatBack) {
    DWORD a = 0;
    ASSERT_TRUE(ParseDottedAddress("192.168.0.1", &a));
    EXPECT_EQ(a, 0xC0A80001u);
    EXPECT_EQ(FormatDottedAddress(a), "192.168.0.1");
    for (const auto& [address, text] : {std::pair<DWORD, const char*>{0, "0.0.0.0"},
                                        {0xFFFFFFFFu, "255.255.255.255"},
                                        {0x0A006409u, "10.0.100.9"}, {0x7F000001u, "127.0.0.1"}})
        EXPECT_EQ(FormatDottedAddress(address), text);
    ASSERT_TRUE(ParseDottedAddress("255.255.255.255", &a));  // a valid address, not an error
    EXPECT_EQ(a, 0xFFFFFFFFu);
    ASSERT_TRUE(ParseDottedAddress("0.0.0.0", &a));
    EXPECT_EQ(a, 0u);
    for (const char* bad : {"", "localhost", "1.2.3", "1.2.3.4.5", "256.1.1.1", "0x7f.0.0.1",
                            "1.2.3.4 ", " 1.2.3.4", "1..2.3"})
        EXPECT_FALSE(ParseDottedAddress(bad, &a)) << bad;
    EXPECT_FALSE(ParseDottedAddress(std::string("1.2.3.4\0", 8), &a));
}

TEST(ResolverTest, NamesResolveToIPv4AndDottedTextIsTakenAsItIs) {
    std::vector<DWORD> all;
    ASSERT_TRUE(ResolveHostAddresses("localhost", &all));
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front() >> 24, 127u);
    DWORD a = 0;
    ASSERT_TRUE(ResolveHostAddress("10.1.2.3", &a));
    EXPECT_EQ(a, 0x0A010203u);
}

TEST(ResolverTest, UnknownAndMalformedNamesFailWithALookupError) {
    DWORD a = 0;
    WSASetLastError(0);
    EXPECT_FALSE(ResolveHostAddress("no-such-host.invalid", &a));
    EXPECT_GE(WSAGetLastError(), 11001);
    EXPECT_LE(WSAGetLastError(), 11004);
    for (const std::string& bad : {std::string(), std::string(300, 'a'),
                                   std::string("local\0host", 10), std::string("bad\nname")}) {
        WSASetLastError(0);
        EXPECT_FALSE(ResolveHostAddress(bad, &a));
        EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
    }
}

TEST(ResolverTest, LookupsRunFromManyThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> ok(8, 0);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&ok, t] {
            for (int i = 0; i < 20; ++i) {
                DWORD a = 0;
                if (ResolveHostAddress("localhost", &a) && (a >> 24) == 127u)
                    ++ok[t];
            }
        });
    for (auto& th : threads)
        th.join();
    for (int n : ok)
        EXPECT_EQ(n, 20);
}

TEST(ResolverTest, ReverseLookupOfLoopbackGivesAName) {
    std::string name;
    if (!ReverseLookup(0x7F000001u, &name))
        GTEST_SKIP() << "this host has no name for 127.0.0.1";
    EXPECT_FALSE(name.empty());
}
