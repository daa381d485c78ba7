#include "foundation/LinkLogOnThrottle.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

using Outcome = CLinkLogOnThrottle::Outcome;
using Burst = CLinkLogOnThrottle::Burst;

constexpr std::uint64_t kStart = 1000000;

struct Throttle {
    std::vector<Burst> bursts;
    CLinkLogOnThrottle throttle{[this](const Burst& burst) { bursts.push_back(burst); }};

    // One answer from `address` arriving at `now`; returns its turn.
    CLinkLogOnThrottle::Turn Answer(const std::string& address, std::uint64_t now,
                                    Outcome outcome = Outcome::Failed) {
        CLinkLogOnThrottle::Turn turn = throttle.TakeTurn(address, now);
        throttle.Settle(turn, outcome, "alice", now);
        return turn;
    }
};

TEST(LinkLogOnThrottleTest, GapsDoubleFromOneSecondToAMinute) {
    const std::uint64_t expected[] = {0, 0, 0, 1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000};
    for (unsigned failures = 0; failures < std::size(expected); ++failures)
        EXPECT_EQ(CLinkLogOnThrottle::GapAfter(failures), expected[failures]) << failures;
    EXPECT_EQ(CLinkLogOnThrottle::GapAfter(UINT_MAX), 60000u);
}

TEST(LinkLogOnThrottleTest, AGuessingLoopGetsEightChecksInItsFirstMinuteThenOneAMinute) {
    Throttle t;
    std::vector<std::uint64_t> checked;
    // The client asks again as soon as it has its answer.
    for (std::uint64_t now = kStart; now < kStart + 180000;) {
        const CLinkLogOnThrottle::Turn turn = t.Answer("10.0.0.9", now);
        EXPECT_LE(turn.answerAtMs - now, CLinkLogOnThrottle::kMaxHoldMs);
        if (turn.checked)
            checked.push_back(turn.answerAtMs - kStart);
        now = turn.answerAtMs;
    }
    EXPECT_EQ(checked, (std::vector<std::uint64_t>{0, 0, 0, 1000, 3000, 7000, 15000, 31000,
                                                   63000, 123000}));
    // One report, at the third failure, naming the account.
    ASSERT_EQ(t.bursts.size(), 1u);
    EXPECT_TRUE(t.bursts[0].started);
    EXPECT_EQ(t.bursts[0].address, "10.0.0.9");
    EXPECT_EQ(t.bursts[0].account, "alice");

    // Another address is not held; a success ends the burst and frees the address at once.
    EXPECT_EQ(t.Answer("10.0.0.8", kStart + 180000, Outcome::Passed).answerAtMs, kStart + 180000);
    EXPECT_TRUE(t.Answer("10.0.0.9", kStart + 183000, Outcome::Passed).checked);
    ASSERT_EQ(t.bursts.size(), 2u);
    EXPECT_FALSE(t.bursts[1].started);
    EXPECT_EQ(t.bursts[1].failures, 10u);
    EXPECT_EQ(t.Answer("10.0.0.9", kStart + 183001).answerAtMs, kStart + 183001);
}

TEST(LinkLogOnThrottleTest, AnswersArrivingTogetherTakeTurnsInOrder) {
    Throttle t;
    std::vector<CLinkLogOnThrottle::Turn> turns;
    for (int n = 0; n < 8; ++n)
        turns.push_back(t.throttle.TakeTurn("10.0.0.9", kStart));
    std::vector<std::uint64_t> checked;
    for (const auto& turn : turns) {
        if (turn.checked)
            checked.push_back(turn.answerAtMs - kStart);
        else
            EXPECT_EQ(turn.answerAtMs, kStart + CLinkLogOnThrottle::kMaxHoldMs);
    }
    EXPECT_EQ(checked, (std::vector<std::uint64_t>{0, 0, 0, 1000, 3000}));
    for (const auto& turn : turns)
        t.throttle.Settle(turn, Outcome::Other, "alice", kStart);
    EXPECT_EQ(t.throttle.AddressCount(), 0u);  // nothing failed: nothing kept
}

TEST(LinkLogOnThrottleTest, QuietAddressesAreForgottenAndTheTableStaysBounded) {
    Throttle t;
    for (int n = 0; n < 4; ++n)
        t.Answer("10.0.0.9", kStart);
    t.throttle.Sweep(kStart + CLinkLogOnThrottle::kForgetMs - 1);
    EXPECT_EQ(t.throttle.AddressCount(), 1u);
    t.throttle.Sweep(kStart + CLinkLogOnThrottle::kForgetMs);
    EXPECT_EQ(t.throttle.AddressCount(), 0u);
    ASSERT_EQ(t.bursts.size(), 2u);
    EXPECT_EQ(t.bursts[1].failures, 4u);

    for (std::size_t n = 0; n <= CLinkLogOnThrottle::kMaxAddresses; ++n)
        t.Answer("10.1." + std::to_string(n / 256) + "." + std::to_string(n % 256), kStart + n);
    EXPECT_EQ(t.throttle.AddressCount(), CLinkLogOnThrottle::kMaxAddresses);
    // The quietest went first: the first address starts afresh, three answers free.
    const std::uint64_t later = kStart + 10000;
    for (int n = 0; n < 3; ++n)
        t.Answer("10.1.0.0", later);
    EXPECT_EQ(t.Answer("10.1.0.0", later).answerAtMs, later + 1000);
}

}  // namespace
