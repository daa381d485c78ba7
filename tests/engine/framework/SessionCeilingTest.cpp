#include "engine/framework/SessionCeiling.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using Refusal = CSessionCeiling::ERefusal;

// Each address holds a quarter of the places and the ceiling bounds them all; a refusal is
// reported once until its limit was left (fallen below three quarters of it); a place goes
// back with the last copy of its lease, also after its ceiling's owner has gone.
TEST(SessionCeilingTest, AddressSharesAndTheCeilingReportOncePerReach) {
    std::vector<std::shared_ptr<void>> first, others;
    auto ceiling = std::make_unique<CSessionCeiling>(16);
    for (int i = 0; i < 4; ++i)
        first.push_back(ceiling->Take(1).place);
    struct Step {
        DWORD address;
        Refusal refusal;
        bool report;
        std::size_t limit;
    };
    auto check = [&](const Step& step) {
        const CSessionCeiling::STaken taken = ceiling->Take(step.address);
        EXPECT_FALSE(taken.place);
        EXPECT_EQ(taken.refusal, step.refusal);
        EXPECT_EQ(taken.report, step.report);
        EXPECT_EQ(taken.limit, step.limit);
    };
    check({1, Refusal::share, true, 4});
    check({1, Refusal::share, false, 4});
    // Three of four is not below three quarters: one more, and no second report.
    first.pop_back();
    first.push_back(ceiling->Take(1).place);
    check({1, Refusal::share, false, 4});
    first.resize(2);
    first.push_back(ceiling->Take(1).place);
    first.push_back(ceiling->Take(1).place);
    check({1, Refusal::share, true, 4});

    for (DWORD address = 2; address <= 4; ++address)
        for (int i = 0; i < 4; ++i)
            others.push_back(ceiling->Take(address).place);
    EXPECT_TRUE(others.back());
    check({5, Refusal::ceiling, true, 16});
    check({6, Refusal::ceiling, false, 16});
    EXPECT_EQ(ceiling->GetCountOf(2), 4u);

    // A copied lease (a hand-over) keeps one place until both copies have gone.
    std::shared_ptr<void> copy = others.back();
    others.pop_back();
    EXPECT_EQ(ceiling->GetCountOf(4), 4u);
    copy.reset();
    EXPECT_EQ(ceiling->GetCount(), 15u);
    ceiling.reset();
    first.clear();
    others.clear();
}

TEST(SessionCeilingTest, EngineCeilingFollowsTheDescriptorLimit) {
    struct Case {
        std::size_t descriptors;
        std::size_t ceiling;
    };
    // A reserve of 256 or an eighth, then six descriptors a session.
    for (const Case& c : {Case{20000, 2916}, Case{1024, 128}, Case{300, 7}, Case{100, 1}})
        EXPECT_EQ(SessionCeilingForDescriptors(c.descriptors), c.ceiling) << c.descriptors;
}

}  // namespace
