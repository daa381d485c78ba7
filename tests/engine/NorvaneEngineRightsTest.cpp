// The engine with its eleven real rights: default rights made when missing, loaded and saved
// with the configuration, and the engine as the access context of sessions' decisions.

#include "engine/NorvaneEngine.h"

#include "engine/EngineFormat.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "support/FakeSession.h"
#include "support/SocketTestKit.h"
#include "support/QuickEngine.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace EngineFormat;

std::vector<std::string> RecipientNames(const CRight& right) {
    CScopedLock lock(right);
    std::vector<std::string> names;
    for (const CObject* recipient : right.GetRecipients())
        names.push_back(static_cast<const CRecipient*>(recipient)->GetUserName());
    return names;
}

class NorvaneEngineRightsTest : public ::testing::Test {
protected:
    void SetUp() override { SetRegistryRoot(kCompany, kProduct); }
    TempStateDir state;
};

TEST_F(NorvaneEngineRightsTest, AnEmptyStoreGetsEveryDefaultRightAtStartUp) {
    CQuickEngine engine;
    ASSERT_TRUE(engine.Initialize());
    ASSERT_TRUE(WaitUntil([&] { return engine.GetTimerId() != 0; }, 10000));
    for (const EngineRight& entry : kRights) {
        const CRight* right = engine.GetRight(static_cast<DWORD>(entry.kind));
        ASSERT_NE(right, nullptr);
        EXPECT_EQ(right->GetRightType(), static_cast<DWORD>(entry.kind));
        EXPECT_EQ(right->GetDescription(), entry.description);
        EXPECT_EQ(right->GetIncludeDefaultRights(), 1u);
        CScopedLock lock(*right);
        ASSERT_EQ(right->GetRecipients().GetCount(), 1u) << entry.kind;
        const auto* recipient = static_cast<const CRecipient*>(right->GetRecipients().GetHead());
        if (entry.kind == RightAccess) {
            EXPECT_EQ(recipient->GetUserName(), "Everyone");
            EXPECT_EQ(recipient->GetSpecifyUser(), 0u);
        } else {
            EXPECT_EQ(recipient->GetUserName(), "Administrators");
            EXPECT_EQ(recipient->GetSpecifyUser(), 1u);
        }
        EXPECT_EQ(recipient->GetDescription(), "Unrestricted Rights");
    }
    EXPECT_EQ(engine.GetRight(11), nullptr);

    // Saved with the configuration, each under its key.
    EXPECT_TRUE(engine.SaveConfiguration());
    EXPECT_EQ(RegReadString("SystemRights\\Shutdown", "Description", ""), "Users can shutdown Norvane");
    EXPECT_EQ(RegReadDWORD("SystemRights\\Shutdown", "RightType", 0), 10u);
    EXPECT_EQ(RegReadString("SystemRights\\Shutdown\\Recipient0", "UserName", ""), "Administrators");
    EXPECT_EQ(RegReadString("DefaultRights\\Access\\Recipient0", "UserName", ""), "Everyone");
}

TEST_F(NorvaneEngineRightsTest, LoadedRightsKeepTheirRecipientsAndTakeTheKindOfTheirPlace) {
    // A described right without recipients, and a system right stored without its kind.
    CRight empty;
    empty.SetRightType(RightUserAdd);
    empty.SetDescription("nobody adds users");
    ASSERT_TRUE(empty.SaveToRegistry("SystemRights\\UserAdd"));
    CRight shutdown;
    shutdown.SetDescription("kept");
    shutdown.AddRecipientFor("carol");
    ASSERT_TRUE(shutdown.SaveToRegistry("SystemRights\\Shutdown"));
    ASSERT_TRUE(RegWriteString("SystemRights\\Shutdown", "RightType", nullptr));

    CQuickEngine engine;  // not started
    engine.LoadConfiguration();
    engine.LoadConfiguration();  // loading again replaces, never appends
    engine.CreateDefaultRights();
    EXPECT_EQ(engine.GetRight(RightUserAdd)->GetDescription(), "nobody adds users");
    EXPECT_TRUE(RecipientNames(*engine.GetRight(RightUserAdd)).empty());
    EXPECT_EQ(engine.GetRight(RightShutdown)->GetRightType(), 10u);
    EXPECT_EQ(RecipientNames(*engine.GetRight(RightShutdown)), (std::vector<std::string>{"carol"}));
    EXPECT_EQ(RecipientNames(*engine.GetRight(RightEdit)), (std::vector<std::string>{"Administrators"}));
}

TEST_F(NorvaneEngineRightsTest, SessionsDecideAgainstTheEnginesUsersAndDefaultRights) {
    CQuickEngine engine;
    engine.GetUserDatabase().CreateBuiltInAccounts();
    engine.CreateDefaultRights();
    EXPECT_EQ(engine.GetDefaultRight(RightAccess), engine.GetRight(RightAccess));
    EXPECT_EQ(engine.GetDefaultRight(RightEdit), engine.GetRight(RightEdit));
    EXPECT_EQ(engine.GetDefaultRight(RightUserAdd), nullptr);

    FakeSession guest(engine, "Guest");
    FakeSession admin(engine, "Administrator", 2);
    FakeSession stranger(engine, "nobody");
    CRight service;  // a service's own access right: no recipients, consults the default
    EXPECT_TRUE(service.IsGranted(guest, TRUE));
    EXPECT_FALSE(service.IsGranted(stranger, TRUE));
    EXPECT_EQ(engine.GetRight(RightAccess)->GetIncludeDefaultRights(), 0u);

    CRight serviceStartStop;
    serviceStartStop.SetRightType(RightStartStop);
    EXPECT_TRUE(serviceStartStop.IsGranted(admin, TRUE));
    EXPECT_FALSE(serviceStartStop.IsGranted(guest, TRUE));

    const CRight& shutdown = *engine.GetRight(RightShutdown);
    EXPECT_TRUE(shutdown.IsGranted(admin, FALSE));
    EXPECT_FALSE(shutdown.IsGranted(guest, FALSE));
    // A system right never falls back to the default access right.
    EXPECT_FALSE(engine.GetRight(RightActivityMonitor)->IsGranted(guest, FALSE));
}

}  // namespace
