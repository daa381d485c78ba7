#include "proxies/web/ResponseCollector.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using State = CResponseCollector::EState;

State AppendText(CResponseCollector& collector, const std::string& text) {
    return collector.Append(text.data(), text.size());
}

// Appends `text` in pieces of `piece` bytes; the state after the last one.
State AppendInPieces(CResponseCollector& collector, const std::string& text, std::size_t piece) {
    State state = collector.GetState();
    for (std::size_t at = 0; at < text.size(); at += piece)
        state = AppendText(collector, text.substr(at, piece));
    return state;
}

TEST(ResponseCollectorTest, HeadEndsAtTheFirstEmptyLineWhateverItsLineEnds) {
    struct SCase {
        const char* bytes;
        const char* head;
        const char* body;
    };
    const SCase cases[] = {
        {"HTTP/1.0 200 OK\r\nA: b\r\n\r\nbody", "HTTP/1.0 200 OK\r\nA: b\r\n\r\n", "body"},
        {"HTTP/1.0 200 OK\nA: b\n\nbody", "HTTP/1.0 200 OK\nA: b\n\n", "body"},
        // Whichever comes first: a bare "\n\n" before a later "\r\n\r\n".
        {"HTTP/1.0 200 OK\n\nX\r\n\r\nY", "HTTP/1.0 200 OK\n\n", "X\r\n\r\nY"},
        {"HTTP/1.0 200 OK\r\n\r\nX\n\nY", "HTTP/1.0 200 OK\r\n\r\n", "X\n\nY"},
        // An LF-ended line followed by a CR LF empty line.
        {"HTTP/1.0 200 OK\nA: b\n\r\nZ", "HTTP/1.0 200 OK\nA: b\n\r\n", "Z"},
        {"HTTP/1.1 204 No Content\r\n\r\n", "HTTP/1.1 204 No Content\r\n\r\n", ""},
    };
    for (const SCase& c : cases) {
        for (std::size_t piece : {1u, 2u, 3u, 5u, 1000u}) {
            CResponseCollector collector;
            EXPECT_EQ(AppendInPieces(collector, c.bytes, piece), CResponseCollector::complete)
                << c.bytes << " in pieces of " << piece;
            EXPECT_EQ(collector.GetHead(), c.head);
            EXPECT_EQ(collector.TakeBody(), c.body);
            EXPECT_EQ(collector.TakeBody(), "");
        }
    }
}

TEST(ResponseCollectorTest, IncompleteHeadsWaitAndBytesAfterTheHeadGoToTheBody) {
    CResponseCollector collector;
    EXPECT_EQ(AppendText(collector, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n"),
              CResponseCollector::incomplete);
    EXPECT_EQ(collector.GetHead(), "");
    EXPECT_EQ(collector.TakeBody(), "");
    EXPECT_EQ(AppendText(collector, "\r"), CResponseCollector::incomplete);
    EXPECT_EQ(AppendText(collector, "\nab"), CResponseCollector::complete);
    EXPECT_EQ(AppendText(collector, "c"), CResponseCollector::complete);
    EXPECT_EQ(collector.GetHead(), "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n");
    EXPECT_EQ(collector.TakeBody(), "abc");
    // Nothing received is never an answer.
    CResponseCollector empty;
    EXPECT_EQ(empty.Append("", 0), CResponseCollector::incomplete);
}

TEST(ResponseCollectorTest, ABareHttp10NotModifiedIsAWholeHead) {
    CResponseCollector collector;
    EXPECT_EQ(AppendText(collector, "HTTP/1.0 30"), CResponseCollector::incomplete);
    EXPECT_EQ(AppendText(collector, "4 Not Modified\r\n"), CResponseCollector::complete);
    EXPECT_EQ(collector.GetHead(), "HTTP/1.0 304 Not Modified\r\n");
    // Only that version and code, written so.
    for (const char* other : {"HTTP/1.1 304 Not Modified\r\n", "http/1.0 304 x\r\n",
                              "HTTP/1.0 200 OK\r\n"}) {
        CResponseCollector next;
        EXPECT_EQ(AppendText(next, other), CResponseCollector::incomplete) << other;
    }
}

TEST(ResponseCollectorTest, HeadsAreCappedAt64KiB) {
    const std::size_t cap = CResponseCollector::kMaxHeadSize;
    ASSERT_EQ(cap, 65536u);
    const std::string status = "HTTP/1.0 200 OK\r\n";
    // A head of exactly the cap, terminator included, is taken.
    const std::string head = status + "X: " + std::string(cap - status.size() - 4 - 3, 'a') + "\r\n\r\n";
    ASSERT_EQ(head.size(), cap);
    CResponseCollector exact;
    EXPECT_EQ(AppendInPieces(exact, head + "tail", 8096), CResponseCollector::complete);
    EXPECT_EQ(exact.GetHead().size(), cap);
    EXPECT_EQ(exact.TakeBody(), "tail");

    // One more byte before the terminator is refused, and so is a head that never ends.
    CResponseCollector over;
    const std::string longer = status + "X: " + std::string(cap - status.size() - 4 - 2, 'a') +
                               "\r\n\r\n";
    EXPECT_EQ(AppendInPieces(over, longer, 8096), CResponseCollector::tooLarge);
    EXPECT_EQ(over.GetHead(), "");
    CResponseCollector endless;
    State state = CResponseCollector::incomplete;
    std::size_t sent = 0;
    while (state == CResponseCollector::incomplete && sent < 10 * cap) {
        state = AppendText(endless, std::string(8096, 'h'));
        sent += 8096;
    }
    EXPECT_EQ(state, CResponseCollector::tooLarge);
    EXPECT_LE(sent, cap + 8096);
    // Later bytes are dropped, and nothing is left to relay.
    EXPECT_EQ(AppendText(endless, "\r\n\r\n"), CResponseCollector::tooLarge);
    EXPECT_EQ(endless.TakeReceived(), "");
    EXPECT_EQ(endless.TakeBody(), "");
}

TEST(ResponseCollectorTest, WhatAServerSentBeforeClosingEarlyIsHandedOverOnce) {
    CResponseCollector collector;
    AppendText(collector, "HTTP/1.1 200 OK\r\nContent-Le");
    EXPECT_EQ(collector.TakeReceived(), "HTTP/1.1 200 OK\r\nContent-Le");
    EXPECT_EQ(collector.TakeReceived(), "");
    // A complete head is not "received bytes": it was parsed and relayed its own way.
    CResponseCollector done;
    AppendText(done, "HTTP/1.1 200 OK\r\n\r\nx");
    EXPECT_EQ(done.TakeReceived(), "");
    EXPECT_EQ(done.GetHead(), "HTTP/1.1 200 OK\r\n\r\n");
}

TEST(ResponseCollectorTest, ResetStartsAgainForASecondResponse) {
    CResponseCollector collector;
    AppendText(collector, "HTTP/1.1 304 Not Modified\r\n\r\n");
    ASSERT_EQ(collector.GetState(), CResponseCollector::complete);
    collector.Reset();
    EXPECT_EQ(collector.GetState(), CResponseCollector::incomplete);
    EXPECT_EQ(AppendText(collector, "\n\nHTTP/1.1 200 OK\r\n\r\nnew"),
              CResponseCollector::complete);
    // The reset forgot the old bytes: the first empty line is now the new data's own.
    EXPECT_EQ(collector.GetHead(), "\n\n");
    collector.Reset();
    EXPECT_EQ(AppendText(collector, "HTTP/1.1 200 OK\r\n\r\nnew"), CResponseCollector::complete);
    EXPECT_EQ(collector.TakeBody(), "new");
}

}  // namespace
