#include "proxies/streaming/RealAudioProtocol.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using EResult = SRealAudioPacket::EResult;
using namespace std::string_literals;

TEST(RealAudioProtocolTest, ControlPacketsAreTakenWholeAndDataOfTheWrongLengthStaysUnread) {
    struct Row {
        std::string bytes;
        EResult result;
        std::size_t consumed;
        bool hasData;
        WORD value;
        std::string text;
    };
    const Row rows[] = {
        {"\x00\x02\x01\x01"s, EResult::packet, 4, true, 1, ""},          // hello
        {"\x00\x03\x01\x01\x02"s, EResult::packet, 3, false, 0, ""},    // a hello of length 3
        {"\x00\x03\x03\x1f\x90"s, EResult::packet, 5, true, 8080, ""},  // server port
        {"\x00\x02\x03\x1f"s, EResult::packet, 3, false, 0, ""},        // a port of length 2
        {"\x00\x03\x04\x00\x07"s, EResult::packet, 5, true, 7, ""},     // client port offset
        {"\x00\x02\x05\x01"s, EResult::packet, 4, true, 1, ""},          // TCP mode
        {"\x00\x05\x02" "host"s, EResult::packet, 7, true, 0, "host"},   // server name
        {"\x00\x05\x06" "ab\0c"s, EResult::packet, 7, true, 0, "ab"},    // status, cut at zero
        {"\x00\x01\x00"s, EResult::packet, 3, false, 0, ""},             // connect
        {"\x00\x05\x09" "abcd"s, EResult::packet, 3, false, 0, ""},      // unknown: data unread
        {"\x01\x00\x02"s + std::string(255, 'a'), EResult::packet, 258, true, 0,
         std::string(255, 'a')},
        {"\x00\x05\x02" "hos"s, EResult::incomplete, 0, true, 0, ""},
        {"\x00\x02"s, EResult::incomplete, 0, false, 0, ""},
        {"\x00\x00\x05"s, EResult::zeroLength, 0, false, 0, ""},
        // 256 bytes of text leave no room for its zero.
        {"\x01\x01\x02"s, EResult::textTooLong, 0, false, 0, ""},
        {"\xff\xff\x06"s, EResult::textTooLong, 0, false, 0, ""},
    };
    for (const Row& row : rows) {
        const SRealAudioPacket packet = ParseRealAudioPacket(row.bytes);
        SCOPED_TRACE(row.bytes);
        EXPECT_EQ(packet.result, row.result);
        EXPECT_EQ(packet.consumed, row.consumed);
        EXPECT_EQ(packet.hasData, row.hasData);
        EXPECT_EQ(packet.value, row.value);
        EXPECT_EQ(packet.text, row.text);
    }
    EXPECT_TRUE(SpeaksRealAudioProxyProtocol("\x00\x02\x01"s));
    EXPECT_FALSE(SpeaksRealAudioProxyProtocol("PNA"));
}

TEST(RealAudioProtocolTest, StatusPackets) {
    EXPECT_EQ(BuildRealAudioStatusPacket(0, "Connected OK"), "\x00\x0e\x06\x00"s "Connected OK");
    EXPECT_EQ(BuildRealAudioStatusPacket(2, "Bad Info Passed"),
              "\x00\x11\x06\x02"s "Bad Info Passed");
    EXPECT_EQ(BuildRealAudioStatusPacket(1, std::string(70000, 'x')).size(), 0xFFFFu + 2);
}

TEST(RealAudioProtocolTest, ServerAnswerOffersTheRobustChannelOnlyWithItsMark) {
    const std::string preamble(9, 'p');
    struct Row {
        std::string answer;
        WORD proxyPort;
        bool offered;
        bool rewritten;
        std::string out;
    };
    const Row rows[] = {
        {"O\x08\x00\x07\x1b\x58" "wxyz"s, 0xBEEF, true, true, "O\x08\x00\x07\xbe\xef" "wxyz"s},
        {"O\x08\x00\x07\x1b\x58" "wxyz"s, 0, true, false, "O\x08\x00\x07\x1b\x58" "wxyz"s},
        {"O\x08\x00\x06\x1b\x58" "wxyz"s, 0xBEEF, false, false, "O\x08\x00\x06\x1b\x58" "wxyz"s},
        {"o\x08\x00\x07\x1b\x58" "wxyz"s, 0xBEEF, false, false, "o\x08\x00\x07\x1b\x58" "wxyz"s},
    };
    for (const Row& row : rows) {
        CRealAudioServerGreeting greeting;
        std::string out;
        EXPECT_FALSE(greeting.Feed(preamble + row.answer.substr(0, 9), out, row.proxyPort));
        EXPECT_EQ(out, preamble);
        const auto answer = greeting.Feed(row.answer.substr(9) + "more", out, row.proxyPort);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->robustOffered, row.offered);
        EXPECT_EQ(answer->rewritten, row.rewritten);
        EXPECT_EQ(answer->serverRobustPort, row.offered ? 7000 : 0);
        EXPECT_EQ(out, preamble + row.out + "more");
        EXPECT_TRUE(greeting.IsRaw());
    }
}

}  // namespace
