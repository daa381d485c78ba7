#include "proxies/socks/SOCKSProtocol.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;
using State = SSOCKSParse::State;

// Parses `bytes` whole, and checks that every shorter prefix asks for more and for no more
// than what is missing.
template <typename Parse>
SSOCKSParse ParseWhole(const std::string& bytes, Parse parse) {
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const SSOCKSParse prefix = parse(std::string_view(bytes).substr(0, cut));
        if (prefix.state != State::incomplete)
            break;  // decided early (an invalid message)
        EXPECT_LE(prefix.size, bytes.size() - cut) << cut;
    }
    return parse(bytes);
}

TEST(SOCKSProtocolTest, RequestsOfBothVersions) {
    SSOCKSRequest r;
    auto socks4 = [&](std::string_view b) { return ParseSocks4Request(b, r); };
    auto socks5 = [&](std::string_view b) { return ParseSocks5Request(b, r); };

    // SOCKS 4: the user id ends at its NUL; what follows is not the request's.
    SSOCKSParse p = ParseWhole("\x04\x01\x00\x50\x0a\x00\x00\x01" "fred\0tail"s, socks4);
    EXPECT_EQ(p.state, State::complete);
    EXPECT_EQ(p.size, 13u);
    EXPECT_EQ(r.host, "10.0.0.1");
    EXPECT_EQ(r.port, 80u);
    EXPECT_EQ(r.userId, "fred");
    p = socks4("\x04\x02\x00\x50\x0a\x00\x00\x01" "fr"s);
    EXPECT_TRUE(p.state == State::incomplete && p.toNul);
    EXPECT_EQ(socks4("\x04\x01\x00\x50\x0a\x00\x00\x01"s + std::string(255, 'x') + "\0"s).state,
              State::complete);
    EXPECT_EQ(socks4("\x04\x01\x00\x50\x0a\x00\x00\x01"s + std::string(256, 'x')).fault,
              ESOCKSFault::userIdTooLong);

    // SOCKS 5 by address and by name; other address types are refused once their byte is in.
    p = ParseWhole("\x05\x01\x00\x01\xc0\xa8\x01\x02\x1f\x90"s, socks5);
    EXPECT_EQ(p.size, 10u);
    EXPECT_EQ(r.host, "192.168.1.2");
    EXPECT_EQ(r.port, 8080u);
    p = ParseWhole("\x05\x03\x00\x03\x0b" "example.org\x00\x35"s, socks5);
    EXPECT_EQ(p.size, 18u);
    EXPECT_EQ(r.host, "example.org");
    EXPECT_EQ(r.port, 53u);
    EXPECT_EQ(r.command, 3);
    p = socks5("\x05\x01\x00\x04"s);
    EXPECT_EQ(p.fault, ESOCKSFault::badAddressType);
    EXPECT_EQ(r.addressType, 4);

    std::vector<BYTE> methods;
    p = ParseWhole("\x05\x02\x00\x02"s, [&](std::string_view b) { return ParseSocks5Greeting(b, methods); });
    EXPECT_EQ(methods, (std::vector<BYTE>{0, 2}));
    std::string user, password;
    p = ParseWhole("\x01\x05" "alice\x02" "pw"s,
                   [&](std::string_view b) { return ParseUserPassword(b, user, password); });
    EXPECT_EQ(p.size, 10u);
    EXPECT_EQ(user + "/" + password, "alice/pw");
}

TEST(SOCKSProtocolTest, RepliesDatagramsAndTheHandOverTest) {
    EXPECT_EQ(BuildSocks4Reply(90, 0x1234, 0x7F000001), "\x00\x5a\x12\x34\x7f\x00\x00\x01"s);
    EXPECT_EQ(BuildSocks5Reply(8, 0, 0), "\x05\x08\x00\x01\x00\x00\x00\x00\x00\x00"s);
    EXPECT_EQ(BuildSocks5Reply(0, 0x0A000002, 1080), "\x05\x00\x00\x01\x0a\x00\x00\x02\x04\x38"s);
    EXPECT_EQ(BuildMethodReply(2) + BuildUserPasswordReply(2), "\x05\x02\x01\x02"s);

    SUdpHeader h;
    EXPECT_EQ(ParseUdpHeader("\x00\x00\x00\x03\x04host\x00\x35" "data"s, h).size, 11u);
    EXPECT_EQ(h.host + ":" + std::to_string(h.port), "host:53");
    EXPECT_EQ(ParseUdpHeader("\x00\x00\x00\x03\x09host\x00\x35"s, h).fault,
              ESOCKSFault::truncatedDatagram);
    EXPECT_EQ(ParseUdpHeader("\x00\x00\x01\x01\x01\x02\x03\x04\x00"s, h).fault,
              ESOCKSFault::truncatedDatagram);
    EXPECT_EQ(ParseUdpHeader("\x00\x00\x00\x04"s + std::string(18, '\0'), h).fault,
              ESOCKSFault::badAddressType);
    char out[14];
    ASSERT_EQ(WrapDatagram(0x7F000001, 53, "abcd", out, sizeof out), 14u);
    EXPECT_EQ(std::string(out, 14), "\x00\x00\x00\x01\x7f\x00\x00\x01\x00\x35" "abcd"s);
    EXPECT_EQ(WrapDatagram(0x7F000001, 53, "abcde", out, sizeof out), 0u);

    for (const char* yes : {"GET /x", "get /a", "HEAD / HTTP/1.0", "post /form"})
        EXPECT_TRUE(IsHandOverRequest(yes)) << yes;
    for (const char* no : {"GET /", "GET http://h/", "HEADER / x", "PUT /x", "CONNECT h:80",
                           "\x16\x03\x01\x02\x00\x01"})
        EXPECT_FALSE(IsHandOverRequest(no)) << no;
}

}  // namespace
