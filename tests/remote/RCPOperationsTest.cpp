#include "remote/RCPOperations.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

using namespace RCPOperations;

using Codes = std::vector<WORD>;

// The codes, over the whole 16-bit range, whose row says `yes`.
template <typename Predicate>
Codes Where(Predicate yes) {
    Codes codes;
    for (DWORD code = 0; code <= std::numeric_limits<WORD>::max(); ++code)
        if (const Operation* row = Find(static_cast<WORD>(code)); row != nullptr && yes(*row))
            codes.push_back(static_cast<WORD>(code));
    return codes;
}

// What the engine and the console decide by code, read back from the one table as the lists
// that peers rely on: a row moved, added or dropped changes one of them.
TEST(RCPOperations, TheTableGivesEachSideTheProtocolsLists) {
    EXPECT_EQ(Where([](const Operation&) { return true; }).size(), kOperations.size());
    EXPECT_EQ(Where([](const Operation& row) { return row.mayAsk.permission != Permission::kNotARequest; }),
              (Codes{10, 11, 12, 13, 20, 21, 22, 23, 24, 25, 26, 27, 30, 31, 32, 33, 34, 35, 40,
                     41, 42, 50, 51, 52, 53, 54, 55, 56, 60, 61, 62, 63, 70, 73, 76, 80, 81, 82,
                     83, 84, 90, 91, 100, 101, 102, 103, 104, 110, 111, 120, 130, 131, 132, 133,
                     134, 140}));
    EXPECT_EQ(Where([](const Operation& row) { return row.mayAsk.permission == Permission::kGranted; }),
              (Codes{12, 13, 90, 91, 100, 101, 102, 103, 104, 110, 111}));
    EXPECT_EQ(Where([](const Operation& row) { return row.echoed; }),
              (Codes{22, 23, 24, 25, 26, 27, 32, 33, 34, 41, 42, 52, 53, 54, 55, 56, 61, 62, 131}));
    EXPECT_EQ(Where([](const Operation& row) { return row.notification == Notice::kAlone; }),
              (Codes{23, 26, 33, 53, 55, 56, 63, 72, 73, 74, 75, 76, 90, 91, 100, 101, 104, 110, 111}));
    EXPECT_EQ(Where([](const Operation& row) { return row.notification != Notice::kNotSent; }),
              (Codes{5, 22, 23, 24, 25, 26, 27, 32, 33, 34, 35, 42, 52, 53, 54, 55, 56, 62, 63, 71,
                     72, 73, 74, 75, 76, 90, 91, 100, 101, 104, 110, 111, 120, 131}));

    // The console: its log-on list in order, the lists whose refusal it keeps quiet about
    // being exactly those, and the messages that make it ask for a new password.
    EXPECT_EQ(Codes(kLogOnRequests.begin(), kLogOnRequests.end()),
              (Codes{kRetrieveUsers, kRetrieveLocations, kRetrieveServices, kRetrievePolicies,
                     kRetrieveDialer, kRetrieveCache, kRetrieveActivity, kRegisterEverything}));
    EXPECT_EQ(Codes(kLogOnRequests.begin(), kLogOnRequests.end()),
              (Codes{20, 50, 30, 40, 60, 130, 70, 80}));
    EXPECT_EQ(Where([](const Operation& row) { return row.console == ConsoleUse::kBranch; }),
              (Codes{20, 30, 40, 50, 60, 130}));
    EXPECT_EQ(Where([](const Operation& row) { return row.console == ConsoleUse::kAsksPassword; }),
              (Codes{100, 101, 104, 110, 111}));
    EXPECT_EQ(Where([](const Operation& row) { return row.console == ConsoleUse::kUnsaved; }),
              (Codes{22, 23, 25, 26, 32, 33, 34, 41, 42, 52, 53, 54, 55, 56, 62, 131}));
}

}  // namespace
