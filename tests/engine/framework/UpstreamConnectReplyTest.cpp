#include "engine/framework/UpstreamConnectReply.h"

#include "engine/framework/OutboundFormat.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace {

using State = CUpstreamConnectReply::State;

State Feed(std::initializer_list<std::string> lines) {
    CUpstreamConnectReply reply;
    for (const std::string& line : lines)
        reply.AddLine(line);
    return reply.GetState();
}

TEST(UpstreamConnectReplyTest, AnyHttpOneStatusLineWith200GrantsOnceTheHeadEnds) {
    EXPECT_EQ(Feed({"HTTP/1.0 200 Connection established\r\n", "\r\n"}), State::Granted);
    // squid answers HTTP/1.1 with header lines of its own.
    EXPECT_EQ(Feed({"HTTP/1.1 200 Connection established\r\n", "Via: 1.1 squid (squid/5.7)\r\n",
                    "X-Cache: MISS from proxy\r\n", "\r\n"}),
              State::Granted);
    EXPECT_EQ(Feed({"http/1.0 200 ok\r\n", "\r\n"}), State::Granted);
    EXPECT_EQ(Feed({"HTTP/1.1 200\r\n", "\n"}), State::Granted);  // no reason phrase, bare LF
    EXPECT_EQ(Feed({"HTTP/1.0 200\n", "Proxy-Agent: x\n", "\n"}), State::Granted);
    // Until the empty line the head is not over.
    EXPECT_EQ(Feed({"HTTP/1.0 200 OK\r\n", "Via: x\r\n"}), State::NeedLine);
}

TEST(UpstreamConnectReplyTest, OtherStatusesAndMalformedStatusLinesRefuse) {
    for (const char* status :
         {"HTTP/1.0 403 Forbidden\r\n", "HTTP/1.1 407 Proxy Authentication Required\r\n",
          "HTTP/1.0 2000 x\r\n", "HTTP/1.0 201 Created\r\n", "HTTP/1.x 200 OK\r\n",
          "HTTP/2 200\r\n", "HTTP/1.0  200 OK\r\n", "HTTP/1.0 200OK\r\n", "ICY 200 OK\r\n",
          " HTTP/1.0 200 OK\r\n", "\r\n", "HTTP/1.0 20\r\n"}) {
        CUpstreamConnectReply reply;
        EXPECT_EQ(reply.AddLine(status), State::Refused) << status;
        // A decided reply stays decided.
        EXPECT_EQ(reply.AddLine("\r\n"), State::Refused);
    }
    EXPECT_TRUE(CUpstreamConnectReply::IsGrantingStatusLine("HTTP/1.0 200"));
    EXPECT_TRUE(CUpstreamConnectReply::IsGrantingStatusLine("HTTP/1.9 200 OK"));
    EXPECT_FALSE(CUpstreamConnectReply::IsGrantingStatusLine("HTTP/1.0 20"));
}

TEST(UpstreamConnectReplyTest, ALineWithoutLineFeedMeansTheProxyClosedAndRefuses) {
    EXPECT_EQ(Feed({"HTTP/1.0 200 OK"}), State::Refused);
    EXPECT_EQ(Feed({"HTTP/1.0 200 OK\r\n", "Via: x"}), State::Refused);
    EXPECT_EQ(Feed({"HTTP/1.0 200 OK\r\n", ""}), State::Refused);
    EXPECT_EQ(Feed({"HTTP/1.0 200 OK\r\n", "\r"}), State::Refused);
}

TEST(UpstreamConnectReplyTest, TheHeadIsCappedInAll) {
    const std::size_t cap = OutboundFormat::kMaxConnectReplyHead;
    const std::string status = "HTTP/1.1 200 OK\r\n";
    // Header lines that fill the head exactly to the cap with the empty line: granted.
    {
        CUpstreamConnectReply reply;
        reply.AddLine(status);
        const std::size_t fill = cap - status.size() - 2;
        const std::string header = "X: " + std::string(fill - 5, 'a') + "\r\n";
        ASSERT_EQ(header.size(), fill);
        EXPECT_EQ(reply.AddLine(header), State::NeedLine);
        EXPECT_EQ(reply.RemainingBytes(), 2u);
        EXPECT_EQ(reply.AddLine("\r\n"), State::Granted);
        EXPECT_EQ(reply.HeadBytes(), cap);
        EXPECT_EQ(reply.RemainingBytes(), 0u);
    }
    // One byte more: refused, whatever follows.
    {
        CUpstreamConnectReply reply;
        reply.AddLine(status);
        const std::string header = "X: " + std::string(cap - status.size() - 2 - 4, 'a') + "\r\n";
        EXPECT_EQ(reply.AddLine(header), State::NeedLine);
        EXPECT_EQ(reply.AddLine("\r\n"), State::Refused);
    }
    // Many short lines add up.
    {
        CUpstreamConnectReply reply;
        reply.AddLine(status);
        State s = State::NeedLine;
        for (int i = 0; i < 10000 && s == State::NeedLine; ++i)
            s = reply.AddLine("Via: a\r\n");
        EXPECT_EQ(s, State::Refused);
        EXPECT_LE(reply.HeadBytes(), cap);
    }
}

}  // namespace
