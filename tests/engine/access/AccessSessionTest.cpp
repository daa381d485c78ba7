#include "engine/access/AccessSession.h"

#include "engine/access/GroupMemberDatabase.h"
#include "engine/access/RequestVariables.h"
#include "foundation/NVDataObject.h"
#include "foundation/RegistryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

class UserRequestValueTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetRegistryRoot("Urvo Software", "Norvane 2");
        auto* user = new CUser("alice", "", "", "");
        const DWORD counters[] = {6, 7, 8, 9, 10};
        for (std::size_t i = 0; i < CUser::kCounterCount; ++i)
            user->SetCounter(static_cast<CUser::Counter>(i), counters[i] * 1000u);
        ASSERT_TRUE(users.AddEntry(user));
        ASSERT_TRUE(users.AddEntry(new CGroup("Staff", "")));
    }
    TempStateDir state;
    CGroupMemberDatabase users;
};

TEST_F(UserRequestValueTest, CountersAreUnsignedAndTheBalanceWholeUnits) {
    for (DWORD index = RequestUserClientSendTraffic; index <= RequestUserTimeOnLine; ++index) {
        CNVDataObject data;
        EXPECT_TRUE(GetUserRequestValue(users, "alice", index, data));
        EXPECT_EQ(data.DataType, FindVariable(kRequestVariables, index)->type) << index;
        EXPECT_EQ(data.dwData, index * 1000u) << index;
    }
    // 1 MiB received at 2.5 a MiB from 10: 7.5, shown as 7.
    CUser* alice = users.FindUserAccount("alice");
    for (std::size_t i = 0; i < CUser::kCounterCount; ++i)
        alice->SetCounter(static_cast<CUser::Counter>(i), 0);
    alice->SetCounter(CUser::ClientRecvTraffic, 1048576);
    alice->SetAmount(CUser::ClientRecvTrafficRate, CCurrency::FromUnits(2, 5000));
    alice->SetAmount(CUser::OpeningBalance, CCurrency::FromUnits(10));
    CNVDataObject balance;
    EXPECT_TRUE(GetUserRequestValue(users, "alice", RequestUserAccountBalance, balance));
    EXPECT_EQ(balance.DataType, CNVDataObject::TypeInt);
    EXPECT_EQ(balance.nData, 7);
    EXPECT_EQ(alice->GetAmount(CUser::ClosingBalance), CCurrency::FromUnits(7, 5000));
    // Truncated toward zero: -1.5 is -1.
    alice->SetAmount(CUser::OpeningBalance, CCurrency::FromUnits(1));
    GetUserRequestValue(users, "alice", RequestUserAccountBalance, balance);
    EXPECT_EQ(balance.nData, -1);
    // Beyond the integer range: kept at its end.
    alice->SetAmount(CUser::OpeningBalance, CCurrency(std::int64_t{900000000000000}));
    GetUserRequestValue(users, "alice", RequestUserAccountBalance, balance);
    EXPECT_EQ(balance.nData, 2147483647);
}

TEST_F(UserRequestValueTest, OtherIndexesAndOtherNamesLeaveTheValue) {
    CNVDataObject data(DWORD{42});
    for (DWORD index : {0u, 5u, 12u, 1000u})
        EXPECT_FALSE(GetUserRequestValue(users, "alice", index, data)) << index;
    EXPECT_TRUE(GetUserRequestValue(users, "nobody", RequestUserTimeOnLine, data));
    EXPECT_TRUE(GetUserRequestValue(users, "Staff", RequestUserAccountBalance, data));  // a group
    EXPECT_EQ(data.DataType, CNVDataObject::TypeDWORD);
    EXPECT_EQ(data.dwData, 42u);
}

}  // namespace
