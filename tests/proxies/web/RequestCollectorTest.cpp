#include "proxies/web/RequestCollector.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using State = CRequestCollector::EState;

State Feed(CRequestCollector& collector, const std::string& bytes) {
    return collector.Append(bytes.data(), bytes.size());
}

TEST(RequestCollectorTest, HeadEndsAtTheBlankLine) {
    CRequestCollector collector;
    EXPECT_EQ(Feed(collector, "GET http://h/ HTTP/1.0\r\nAccept: x\r\n"), State::incomplete);
    EXPECT_EQ(collector.GetHead(), "");
    EXPECT_EQ(Feed(collector, "\r\nbody"), State::complete);
    EXPECT_EQ(collector.GetHead(), "GET http://h/ HTTP/1.0\r\nAccept: x\r\n\r\n");
    EXPECT_EQ(collector.GetBodySize(), 4u);
    // Later bytes join the body; nothing is lost.
    EXPECT_EQ(Feed(collector, "\r\n\r\nmore"), State::complete);
    EXPECT_EQ(collector.TakeBody(), "body\r\n\r\nmore");
    EXPECT_EQ(collector.TakeBody(), "");
    EXPECT_EQ(collector.GetHead(), "GET http://h/ HTTP/1.0\r\nAccept: x\r\n\r\n");
}

TEST(RequestCollectorTest, VersionlessLineIsWholeAtItsLineEnd) {
    CRequestCollector collector;
    EXPECT_EQ(Feed(collector, "GET http://h/x\r"), State::incomplete);
    EXPECT_EQ(Feed(collector, "\nrest\r\n\r\n"), State::complete);
    EXPECT_EQ(collector.GetHead(), "GET http://h/x\r\n");
    EXPECT_EQ(collector.TakeBody(), "rest\r\n\r\n");

    // With a version the first line end is not enough.
    CRequestCollector versioned;
    EXPECT_EQ(Feed(versioned, "GET http://h/x HTTP/1.0\r\n"), State::incomplete);
    EXPECT_EQ(Feed(versioned, "\r\n"), State::complete);
}

TEST(RequestCollectorTest, ByteByByteFindsTheSameHead) {
    const std::string request = "POST http://h/f HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc";
    CRequestCollector collector;
    std::size_t fed = 0;
    while (fed < request.size() && collector.GetState() == State::incomplete)
        collector.Append(&request[fed++], 1);
    EXPECT_EQ(collector.GetState(), State::complete);
    EXPECT_EQ(fed, request.size() - 3);
    EXPECT_EQ(collector.GetHead(), request.substr(0, request.size() - 3));
    Feed(collector, "abc");
    EXPECT_EQ(collector.TakeBody(), "abc");
}

TEST(RequestCollectorTest, HeadIsCapped) {
    const std::size_t cap = CRequestCollector::kMaxHeadSize;
    const std::string line = "GET http://h/ HTTP/1.0\r\n";
    // A head of exactly the cap, terminator included, is accepted...
    CRequestCollector exact;
    std::string head = line + "X: " + std::string(cap - line.size() - 3 - 4, 'a') + "\r\n\r\n";
    ASSERT_EQ(head.size(), cap);
    EXPECT_EQ(Feed(exact, head), State::complete);
    // ...one byte more is refused, also when it arrives in pieces.
    CRequestCollector over;
    head = line + "X: " + std::string(cap - line.size() - 3 - 3, 'a') + "\r\n\r\n";
    EXPECT_EQ(Feed(over, head), State::tooLarge);
    EXPECT_EQ(over.GetHead(), "");

    CRequestCollector endless;
    Feed(endless, line);
    State state = State::incomplete;
    std::size_t sent = line.size();
    const std::string chunk(8096, 'b');
    while (state == State::incomplete && sent < 10 * cap) {
        state = Feed(endless, chunk);
        sent += chunk.size();
    }
    EXPECT_EQ(state, State::tooLarge);
    EXPECT_LE(sent, cap + chunk.size());
    // Refused for good: a late terminator does not revive it.
    EXPECT_EQ(Feed(endless, "\r\n\r\n"), State::tooLarge);
}

}  // namespace
