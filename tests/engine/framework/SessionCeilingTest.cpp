#include "engine/framework/SessionCeiling.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kFirst = 0x7F000001;   // 127.0.0.1
constexpr DWORD kSecond = 0x7F000002;  // 127.0.0.2

using Refusal = CSessionCeiling::ERefusal;

// Each address holds a quarter of the places; a refusal is reported once until its limit was
// left (fallen below three quarters of it), and the places go back with the last copy of a
// lease.
TEST(SessionCeilingTest, AddressSharesCeilingAndReportsOncePerReach) {
    CSessionCeiling ceiling(16);
    ASSERT_EQ(ceiling.GetShare(), 4u);
    std::vector<std::shared_ptr<void>> first;
    for (int i = 0; i < 4; ++i)
        first.push_back(ceiling.Take(kFirst).place);
    for (const auto& place : first)
        ASSERT_TRUE(place);

    // The first address at its share: refused, reported once.
    struct Step {
        DWORD address;
        Refusal refusal;
        bool report;
    };
    for (const Step& step : {Step{kFirst, Refusal::share, true}, Step{kFirst, Refusal::share, false}}) {
        const CSessionCeiling::STaken taken = ceiling.Take(step.address);
        EXPECT_FALSE(taken.place);
        EXPECT_EQ(taken.refusal, step.refusal);
        EXPECT_EQ(taken.report, step.report);
        EXPECT_EQ(taken.limit, 4u);
    }
    // Another address is served, and a lease copied (a hand-over) keeps its one place.
    std::shared_ptr<void> second = ceiling.Take(kSecond).place;
    ASSERT_TRUE(second);
    std::shared_ptr<void> copy = second;
    second.reset();
    EXPECT_EQ(ceiling.GetCountOf(kSecond), 1u);
    copy.reset();
    EXPECT_EQ(ceiling.GetCountOf(kSecond), 0u);
    EXPECT_EQ(ceiling.GetCount(), 4u);

    // Three places, the share's three quarters, is still reached: one place given back lets
    // one more in, and its next refusal is not reported again.
    first.pop_back();
    first.push_back(ceiling.Take(kFirst).place);
    ASSERT_TRUE(first.back());
    EXPECT_FALSE(ceiling.Take(kFirst).report);
    first.resize(3);
    first.pop_back();  // two left: below three quarters of the share
    first.push_back(ceiling.Take(kFirst).place);
    first.push_back(ceiling.Take(kFirst).place);
    EXPECT_TRUE(ceiling.Take(kFirst).report);
}

TEST(SessionCeilingTest, TheCeilingRefusesEveryAddressAndAppliesToNewPlacesOnly) {
    CSessionCeiling ceiling(4);  // a share of one
    std::vector<std::shared_ptr<void>> held;
    for (DWORD a = 1; a <= 4; ++a)
        held.push_back(ceiling.Take(a).place);
    const CSessionCeiling::STaken full = ceiling.Take(5);
    EXPECT_FALSE(full.place);
    EXPECT_EQ(full.refusal, Refusal::ceiling);
    EXPECT_TRUE(full.report);
    EXPECT_EQ(full.limit, 4u);
    EXPECT_FALSE(ceiling.Take(6).report);

    ceiling.SetCeiling(2);
    EXPECT_EQ(ceiling.GetCount(), 4u);
    held.resize(1);
    held.push_back(ceiling.Take(7).place);
    EXPECT_TRUE(held.back());
    EXPECT_FALSE(ceiling.Take(8).place);
    EXPECT_EQ(ceiling.GetCount(), 2u);

    // Unbounded: no share either.
    CSessionCeiling open;
    std::vector<std::shared_ptr<void>> many;
    for (int i = 0; i < 100; ++i)
        many.push_back(open.Take(kFirst).place);
    EXPECT_TRUE(many.back());
}

TEST(SessionCeilingTest, LeasesGoBackFromAnyThreadAfterTheirCeiling) {
    std::vector<std::shared_ptr<void>> places;
    {
        CSessionCeiling ceiling(4000);
        std::vector<std::thread> threads;
        std::vector<std::vector<std::shared_ptr<void>>> taken(4);
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < 1000; ++i)
                    taken[t].push_back(ceiling.Take(static_cast<DWORD>(t)).place);
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(ceiling.GetCount(), 4000u);
        for (auto& list : taken)
            places.insert(places.end(), list.begin(), list.end());
    }
    places.clear();  // after the ceiling's owner is gone
}

TEST(SessionCeilingTest, EngineCeilingFollowsTheDescriptorLimit) {
    struct Case {
        std::size_t descriptors;
        std::size_t ceiling;
    };
    // A reserve of 256 or an eighth, then six descriptors a session.
    for (const Case& c : {Case{20000, 2916}, Case{2048, 298}, Case{1024, 128}, Case{300, 7},
                          Case{100, 1}, Case{1048576, 152917}})
        EXPECT_EQ(SessionCeilingForDescriptors(c.descriptors), c.ceiling) << c.descriptors;
}

}  // namespace
