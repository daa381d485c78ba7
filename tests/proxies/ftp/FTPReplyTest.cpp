#include "proxies/ftp/FTPReply.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

std::vector<SFTPReply> Read(CFTPReplyReader& reader, const std::string& bytes) {
    return reader.Append(bytes);
}

TEST(FTPReplyTest, SingleLineReplies) {
    CFTPReplyReader reader;
    const auto replies = Read(reader, "220 Service ready\r\n331 Password\r\n230");
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].code, 220u);
    EXPECT_EQ(replies[0].line, "220 Service ready");
    EXPECT_EQ(replies[0].collected, "");
    EXPECT_EQ(replies[1].code, 331u);
    const auto rest = Read(reader, " Logged in\n");
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].code, 230u);
    EXPECT_EQ(rest[0].line, "230 Logged in");
}

TEST(FTPReplyTest, MultiLineRepliesCollectTheirText) {
    CFTPReplyReader reader;
    auto replies = Read(reader,
                        "230-Welcome to <the> archive\r\n"
                        "  Please behave.\r\n"
                        "230-Second part\r\n"
                        "150 not the end\r\n"
                        "230 Logged in\r\n");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, 230u);
    EXPECT_EQ(replies[0].line, "230 Logged in");
    const std::string text = "Welcome to <the> archive\r\n  Please behave.\r\nSecond part\r\n"
                             "150 not the end\r\n";
    EXPECT_EQ(replies[0].collected, text);
    EXPECT_EQ(reader.GetPendingCode(), 0u);

    // The text stays with later single-line replies, until the next multi-line one.
    replies = Read(reader, "250 CWD ok\r\n");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].collected, text);
    replies = Read(reader, "250-Directory message\r\n250 CWD ok\r\n");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].collected, "Directory message\r\n");
}

TEST(FTPReplyTest, ALineWithAnotherCodeInsideAMultiLineReplyIsText) {
    CFTPReplyReader reader;
    auto replies = Read(reader, "220-Hello\r\n230-not a new reply\r\n230 nor this\r\n");
    EXPECT_TRUE(replies.empty());
    EXPECT_EQ(reader.GetPendingCode(), 220u);
    replies = Read(reader, "220 Ready\r\n");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, 220u);
    EXPECT_EQ(replies[0].collected, "Hello\r\n230-not a new reply\r\n230 nor this\r\n");
}

TEST(FTPReplyTest, LinesWithoutACodeAndBlankLines) {
    CFTPReplyReader reader;
    auto replies = Read(reader, "\r\n   \r\nhello there\r\n099 low\r\n600 high\r\n2x0 odd\r\n");
    ASSERT_EQ(replies.size(), 4u);
    for (const SFTPReply& reply : replies)
        EXPECT_EQ(reply.code, 0u) << reply.line;
    EXPECT_EQ(replies[0].line, "hello there");
    // "ab-c" does not open a multi-line reply.
    replies = Read(reader, "ab-c\r\n");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(reader.GetPendingCode(), 0u);
}

TEST(FTPReplyTest, LinesAndCollectedTextAreCapped) {
    CFTPReplyReader reader;
    const std::string longLine = "220 " + std::string(100000, 'x') + "\r\n";
    auto replies = Read(reader, longLine);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, 220u);
    EXPECT_EQ(replies[0].line.size(), CFTPReplyReader::kMaxLineLength);

    std::string many = "230-start\r\n";
    for (int i = 0; i < 1000; ++i)
        many += " " + std::string(100, 'y') + "\r\n";
    many += "230 done\r\n";
    replies = Read(reader, many);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_LE(replies[0].collected.size(), CFTPReplyReader::kMaxCollected);
    EXPECT_EQ(replies[0].collected.rfind("start\r\n", 0), 0u);
}

TEST(FTPReplyTest, LinesComeWithTheCodeOfTheirReply) {
    CFTPReplyReader reader;
    const auto lines = reader.AppendLines("220-Hi\r\n\r\n 230 x\r\n220 Ready\r\n\r\nhello\r\n227 x");
    const std::vector<std::tuple<std::string, DWORD, bool>> expected = {
        {"220-Hi", 220, false}, {"", 220, false}, {" 230 x", 220, false},
        {"220 Ready", 220, true}, {"hello", 0, true}};
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(std::tie(lines[i].text, lines[i].code, lines[i].last), expected[i]) << i;
    // A reply cut short by the end of the connection is its last line.
    const auto tail = reader.Flush();
    ASSERT_TRUE(tail);
    EXPECT_EQ(std::tie(tail->text, tail->code, tail->last), std::make_tuple("227 x", 227u, true));
    EXPECT_FALSE(reader.Flush());
    // The address of a passive reply, host byte order.
    EXPECT_EQ(ParsePassiveReply("227 Entering Passive Mode (10,9,8,7,4,1)")->address, 0x0A090807u);
}

TEST(FTPReplyTest, PassiveRepliesGiveOnlyTheirPort) {
    const std::pair<const char*, int> cases[] = {
        {"227 Entering Passive Mode (127,0,0,1,4,1)", 1025},
        {"227 Entering Passive Mode (10,1,2,3,255,255).", 65535},
        {"227 =( 192, 168, 0, 9,0,21)", 21},
        {"227 Entering Passive Mode (1,2,3,4,0,0)", -1},       // port 0
        {"227 Entering Passive Mode (1,2,3,4,256,1)", -1},     // beyond a byte
        {"227 Entering Passive Mode (1,2,3,4,1,0256)", -1},
        {"227 Entering Passive Mode (1,2,3,4,1)", -1},         // five numbers
        {"227 Entering Passive Mode (1,2,3,4,1,2", -1},        // no ")"
        {"227 Entering Passive Mode (1,2,3,4,1,2 )", -1},
        {"227 Entering Passive Mode (1,2,3,4,-1,2)", -1},
        {"227 Entering Passive Mode 1,2,3,4,1,2", 258},        // no parentheses
        {"227 Entering Passive Mode =1,2,3,4,1,2.", 258},
        {"227 Entering Passive Mode 1,2,3,4,1", -1},
        {"227 Entering Passive Mode", -1},
        {"227", -1},
        {"(1,2,3,4,1,2)", -1},                                 // nothing before "("
        {"227 Entering Passive Mode (1,2,3,4,1,99999999999999999999)", -1},
        {"", -1},
    };
    for (const auto& [line, port] : cases) {
        const auto parsed = ParsePassivePort(line);
        if (port < 0)
            EXPECT_FALSE(parsed) << line;
        else
            EXPECT_EQ(parsed, static_cast<WORD>(port)) << line;
    }
}

TEST(FTPReplyTest, SizeRepliesGiveALengthOnlyWhenAllDigits) {
    EXPECT_EQ(ParseSizeReply("213 12345"), 12345u);
    EXPECT_EQ(ParseSizeReply("213 0 \t"), 0u);
    EXPECT_EQ(ParseSizeReply("213 999999999999999999"), 999999999999999999u);
    for (const char* line : {"213 Unknown", "213 12 34", "213 -1", "213 ", "213", "213 0x10",
                             "213 1234567890123456789", "213  12"})
        EXPECT_FALSE(ParseSizeReply(line)) << line;
}

TEST(FTPReplyTest, ReplyCodes) {
    EXPECT_EQ(FTPReplyCode("226 ok"), 226u);
    EXPECT_EQ(FTPReplyCode("100"), 100u);
    EXPECT_EQ(FTPReplyCode("599-"), 599u);
    EXPECT_EQ(FTPReplyCode("22"), 0u);
    EXPECT_EQ(FTPReplyCode(" 226"), 0u);
}

}  // namespace
