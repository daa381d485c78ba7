// The engine with its real user database: built-in accounts and audit files at start-up,
// statistics and the whole database saved, users deleted, and the database emptied at
// shut-down.

#include "engine/NorvaneEngine.h"

#include "engine/EngineFormat.h"
#include "engine/LogFormat.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "support/SocketTestKit.h"
#include "support/QuickEngine.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class NorvaneEngineUsersTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetRegistryRoot(EngineFormat::kCompany, EngineFormat::kProduct);
        auditFolder = state.Path() + "/audit";
        ASSERT_TRUE(RegWriteString("Settings", "AuditDirectory", auditFolder));
    }

    static void SaveUser(const std::string& name, BOOL audit) {
        CUser user(name, "", "", "");
        user.SetAuditUser(audit);
        user.SetAuditOptions(LogFormat::kAuditText);
        ASSERT_TRUE(user.SaveToRegistry("UserDatabase\\" + name));
    }

    static void StartAndWait(CNorvaneEngine& engine) {
        ASSERT_TRUE(engine.Initialize());
        ASSERT_TRUE(WaitUntil([&] { return engine.GetTimerId() != 0; }, 10000));
    }

    TempStateDir state;
    std::string auditFolder;
};

TEST_F(NorvaneEngineUsersTest, StartUpLoadsMakesTheBuiltInsAndOpensAuditFiles) {
    SaveUser("auditor", TRUE);
    SaveUser("quiet", FALSE);
    CQuickEngine engine;
    StartAndWait(engine);
    CGroupMemberDatabase& users = engine.GetUserDatabase();
    {
        CScopedLock lock(users);
        std::vector<std::string> names;
        for (const auto& entry : users)
            names.push_back(entry.first);
        EXPECT_EQ(names, (std::vector<std::string>{"Administrator", "Administrators", "Guest", "Users",
                                                   "auditor", "quiet"}));
        EXPECT_NE(users.FindUserAccount("auditor")->GetAuditFile(), nullptr);
        EXPECT_EQ(users.FindUserAccount("quiet")->GetAuditFile(), nullptr);
        EXPECT_NE(engine.FindUser("Users", TRUE), nullptr);
        EXPECT_EQ(engine.FindUser("Users", FALSE), nullptr);
    }
    EXPECT_EQ(RegReadString("UserDatabase\\Administrator", "Type", ""), "User");

    // A session's audit line reaches the user's file through the engine's log manager.
    SessionLogFields session;
    session.clientAddress = "10.0.0.7";
    session.sessionId = 12;
    EXPECT_TRUE(users.WriteAudit(engine.GetLogManager(), "auditor", LogFormat::kAuditText, session,
                                 "hello %s", "there"));
    EXPECT_FALSE(users.WriteAudit(engine.GetLogManager(), "quiet", LogFormat::kAuditText, session, "x"));
    EXPECT_FALSE(users.WriteAudit(engine.GetLogManager(), "auditor", LogFormat::kAuditLogOn, session, "x"));
    EXPECT_FALSE(users.WriteAudit(engine.GetLogManager(), "nobody", LogFormat::kAuditText, session, "x"));
    const std::string file = auditFolder + "/auditor.log";
    ASSERT_TRUE(WaitUntil([&] { return ReadWhole(file).find("hello there") != std::string::npos; }, 10000));
    const std::string line = ReadWhole(file);
    EXPECT_NE(line.find("\t10.0.0.7\t0000000012\thello there\r\n"), std::string::npos) << line;

    // The shut-down saves the statistics booked since the last tick, then empties the database.
    {
        CScopedLock lock(users);
        users.FindUserAccount("auditor")->AddUsage(1, 2, 3, 4, 99);
        users.FindUserAccount("auditor")->SetRealName("not saved by the statistics");
    }
    engine.ShutDown(FALSE);
    EXPECT_EQ(RegReadDWORD("UserDatabase\\auditor", "TimeOnLine", 0), 99u);
    EXPECT_EQ(RegReadString("UserDatabase\\auditor", "RealName", "-"), "");
    EXPECT_TRUE(users.IsEmpty());
}

TEST_F(NorvaneEngineUsersTest, AnAuditFileThatCannotOpenTurnsAuditingOff) {
    {
        std::ofstream blocker(auditFolder);  // a file where the folder should be
    }
    SaveUser("auditor", TRUE);
    CQuickEngine engine;
    StartAndWait(engine);
    CGroupMemberDatabase& users = engine.GetUserDatabase();
    CScopedLock lock(users);
    CUser* auditor = users.FindUserAccount("auditor");
    ASSERT_NE(auditor, nullptr);
    EXPECT_FALSE(auditor->GetAuditUser());
    EXPECT_EQ(auditor->GetAuditFile(), nullptr);
}

TEST_F(NorvaneEngineUsersTest, DeletingAndSavingUsers) {
    CQuickEngine engine;  // not started: the console's kind of engine
    CGroupMemberDatabase& users = engine.GetUserDatabase();
    users.CreateBuiltInAccounts();
    ASSERT_TRUE(users.AddEntry(new CUser("bob", "", "", "")));
    ASSERT_TRUE(RegWriteString("UserDatabase\\stale", "Type", "User"));

    engine.DeleteUser("Users");  // a group is not a user
    EXPECT_NE(engine.FindUser("Users", TRUE), nullptr);
    engine.DeleteUser("bob");
    EXPECT_EQ(engine.FindUser("bob", FALSE), nullptr);
    EXPECT_EQ(RegEnumSubKeys("UserDatabase"),
              (std::vector<std::string>{"Administrator", "Administrators", "Guest", "stale", "Users"}));

    // The full save writes every entry and removes the keys of what the database does not hold.
    EXPECT_TRUE(engine.SaveConfiguration());
    EXPECT_EQ(RegEnumSubKeys("UserDatabase"),
              (std::vector<std::string>{"Administrator", "Administrators", "Guest", "Users"}));
}

}  // namespace
