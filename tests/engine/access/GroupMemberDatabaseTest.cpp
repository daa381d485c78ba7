#include "engine/access/GroupMemberDatabase.h"

#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "support/ArchiveHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

class GroupMemberDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }

    CUser* AddUser(const std::string& name) {
        auto* user = new CUser(name, "", "", "");
        EXPECT_TRUE(db.AddEntry(user));
        return user;
    }
    CGroup* AddGroup(const std::string& name, std::initializer_list<const char*> members = {}) {
        auto* group = new CGroup(name, "");
        for (const char* member : members)
            group->AddMember(*db.FindEntry(member));
        EXPECT_TRUE(db.AddEntry(group));
        return group;
    }
    std::vector<std::string> Names() const {
        CScopedLock lock(db);
        std::vector<std::string> names;
        for (const auto& entry : db)
            names.push_back(entry.first);
        return names;
    }
    static std::vector<std::string> MemberNames(const CGroup& group) {
        std::vector<std::string> names;
        for (const auto& member : group.GetMembers())
            names.push_back(member.first);
        return names;
    }

    TempStateDir state;
    CGroupMemberDatabase db;
};

TEST_F(GroupMemberDatabaseTest, BuiltInsOnAnEmptyDatabase) {
    db.LoadFromRegistry("UserDatabase");
    db.CreateBuiltInAccounts();
    EXPECT_EQ(Names(), (std::vector<std::string>{"Administrator", "Administrators", "Guest", "Users"}));

    CUser* admin = db.FindUserAccount("Administrator");
    ASSERT_NE(admin, nullptr);
    EXPECT_EQ(admin->GetDescription(), "Built in account for administering this server");
    EXPECT_EQ(admin->GetPassword(), "");
    EXPECT_EQ(admin->GetRealName(), "");
    EXPECT_TRUE(admin->GetUserMustChangePassword());
    CUser* guest = db.FindUserAccount("Guest");
    ASSERT_NE(guest, nullptr);
    EXPECT_EQ(guest->GetDescription(), "Built in account for guest access to this server");
    EXPECT_FALSE(guest->GetUserMustChangePassword());
    CGroup* admins = db.FindGroup("Administrators");
    ASSERT_NE(admins, nullptr);
    EXPECT_EQ(admins->GetDescription(), "Members can administer this server");
    EXPECT_EQ(admins->GetMembers(), (CGroup::MemberMap{{"Administrator", 0}}));
    CGroup* users = db.FindGroup("Users");
    ASSERT_NE(users, nullptr);
    EXPECT_EQ(users->GetDescription(), "Ordinary users");
    EXPECT_EQ(users->GetMembers(), (CGroup::MemberMap{{"Administrator", 0}, {"Guest", 0}}));

    // Each was saved as it was made.
    EXPECT_EQ(RegEnumSubKeys("UserDatabase"),
              (std::vector<std::string>{"Administrator", "Administrators", "Guest", "Users"}));
    EXPECT_EQ(RegReadString("UserDatabase\\Users", "Type", ""), "Group");
    EXPECT_EQ(RegReadDWORD("UserDatabase\\Users\\Members", "Guest", 7), 0u);
    EXPECT_EQ(RegReadDWORD("UserDatabase\\Administrator", "UserMustChangePassword", 0), 1u);
}

TEST_F(GroupMemberDatabaseTest, BuiltInsAreKeptWhenPresent) {
    CUser* admin = AddUser("Administrator");
    admin->SetPassword("set");
    AddUser("Guest");
    CGroup* users = AddGroup("Users", {"Guest"});
    db.CreateBuiltInAccounts();
    EXPECT_EQ(db.FindUserAccount("Administrator"), admin);
    EXPECT_EQ(admin->GetPassword(), "set");
    EXPECT_FALSE(admin->GetUserMustChangePassword());
    EXPECT_EQ(db.FindGroup("Users"), users);
    EXPECT_EQ(MemberNames(*users), (std::vector<std::string>{"Guest"}));
    ASSERT_NE(db.FindGroup("Administrators"), nullptr);  // the missing one is made

    // A group made while a member is missing gets only those found.
    CGroupMemberDatabase other;
    auto* guest = new CUser("Guest", "", "", "");
    ASSERT_TRUE(other.AddEntry(guest));
    other.CreateBuiltInAccounts();  // Administrator is made first, so both are found
    EXPECT_EQ(other.FindUserAccount("Guest"), guest);
    EXPECT_EQ(MemberNames(*other.FindGroup("Users")), (std::vector<std::string>{"Administrator", "Guest"}));
}

TEST_F(GroupMemberDatabaseTest, NestedGroupsContainTheirMembersUsers) {
    AddUser("u");
    AddUser("v");
    CGroup* b = AddGroup("B", {"u"});
    CGroup* a = AddGroup("A", {"B"});
    CScopedLock lock(db);
    EXPECT_EQ(a->GetMembers(), (CGroup::MemberMap{{"B", 1}}));
    EXPECT_TRUE(a->ContainsUser("u"));
    EXPECT_TRUE(b->ContainsUser("u"));
    EXPECT_FALSE(a->ContainsUser("v"));
    EXPECT_FALSE(a->ContainsUser("U"));  // exact names
    EXPECT_FALSE(a->ContainsUser("B"));  // a group is not a user
    // A group outside any database resolves nothing.
    CGroup loose("L", "");
    loose.AddMember("u", CGroup::kUserMember);
    EXPECT_FALSE(loose.ContainsUser("u"));
    EXPECT_TRUE(loose.HasMember("u"));
}

TEST_F(GroupMemberDatabaseTest, StaleMembersArePrunedByTheTest) {
    AddUser("u");
    AddGroup("G");
    CGroup* a = AddGroup("A");
    a->AddMember("gone", CGroup::kUserMember);
    a->AddMember("G", CGroup::kUserMember);  // recorded as a user, but G is a group
    a->AddMember("u", CGroup::kGroupMember);  // recorded as a group, but u is a user
    a->AddMember("G2", CGroup::kGroupMember);
    AddGroup("G2");
    EXPECT_FALSE(a->ContainsUser("nobody"));
    EXPECT_EQ(MemberNames(*a), (std::vector<std::string>{"G2"}));

    // A user deleted from the database leaves every group at the next test.
    CGroup* b = AddGroup("B", {"u"});
    EXPECT_TRUE(b->ContainsUser("u"));
    EXPECT_TRUE(db.DeleteEntry("u"));
    EXPECT_FALSE(b->ContainsUser("u"));
    EXPECT_TRUE(MemberNames(*b).empty());
}

TEST_F(GroupMemberDatabaseTest, MembershipEndsForCycles) {
    AddUser("u");
    CGroup* self = AddGroup("Self");
    self->AddMember(*self);
    EXPECT_FALSE(self->ContainsUser("u"));
    self->AddMember("u", CGroup::kUserMember);
    EXPECT_TRUE(self->ContainsUser("u"));

    // A -> B -> C -> A, the user below C, and a chain that never reaches it.
    CGroup* a = AddGroup("A");
    CGroup* b = AddGroup("B", {"A"});
    CGroup* c = AddGroup("C", {"B"});
    a->AddMember(*c);
    EXPECT_FALSE(a->ContainsUser("u"));
    EXPECT_FALSE(c->ContainsUser("u"));
    b->AddMember("u", CGroup::kUserMember);
    EXPECT_TRUE(a->ContainsUser("u"));
    EXPECT_TRUE(c->ContainsUser("u"));
    EXPECT_TRUE(b->ContainsUser("u"));
    EXPECT_EQ(MemberNames(*c), (std::vector<std::string>{"B"}));  // nothing pruned on the way

    // A wide lattice of groups, each containing the two of the level below: every group is
    // searched once, so the test ends at once although there are 2^30 paths.
    std::string below = "Bottom";
    AddGroup(below);
    std::string other = "Bottom2";
    AddGroup(other);
    for (int level = 0; level < 30; ++level) {
        const std::string x = "X" + std::to_string(level), y = "Y" + std::to_string(level);
        AddGroup(x, {below.c_str(), other.c_str()});
        AddGroup(y, {below.c_str(), other.c_str()});
        below = x;
        other = y;
    }
    EXPECT_FALSE(db.FindGroup(below)->ContainsUser("u"));
    db.FindGroup("Bottom2")->AddMember("u", CGroup::kUserMember);
    EXPECT_TRUE(db.FindGroup(below)->ContainsUser("u"));  // found past the first visited groups
}

TEST_F(GroupMemberDatabaseTest, MemberNamesFollowTheStoresLetterCase) {
    CGroup group("G", "");
    group.AddMember("Bob", CGroup::kUserMember);
    group.AddMember("bob", CGroup::kGroupMember);
    EXPECT_EQ(group.GetMembers(), (CGroup::MemberMap{{"bob", 1}}));
    group.AddMember("bob", CGroup::kUserMember);  // overwrites the flag
    EXPECT_EQ(group.GetMembers(), (CGroup::MemberMap{{"bob", 0}}));
    EXPECT_FALSE(group.RemoveMember("BOB"));
    EXPECT_TRUE(group.RemoveMember("bob"));
    EXPECT_FALSE(group.RemoveMember("bob"));
}

TEST_F(GroupMemberDatabaseTest, NamesThatMayNotBeTaken) {
    AddUser("alice");
    AddGroup("Staff");
    db.CreateBuiltInAccounts();
    const std::string tooLong(256, 'n');
    for (const std::string& name : {std::string(""), std::string("."), std::string(".."),
                                    std::string("a/b"), std::string("a\\b"), std::string("a\x01"),
                                    std::string("a\x7f"), std::string("tab\tname"), tooLong,
                                    std::string("Alice"), std::string("staff"), std::string("Staff"),
                                    std::string("administrator"), std::string("GUEST"),
                                    std::string("Users"), std::string("Administrators")}) {
        auto user = std::make_unique<CUser>(name, "", "", "");
        EXPECT_FALSE(db.AddEntry(user.get())) << name;
        EXPECT_FALSE(db.CanTakeName(name, false)) << name;
    }
    for (const std::string& name : {std::string("alice"), std::string("Administrator"), std::string("Guest"),
                                    std::string("ALICE"), std::string("users")}) {
        auto group = std::make_unique<CGroup>(name, "");
        EXPECT_FALSE(db.AddEntry(group.get())) << name;
    }
    EXPECT_TRUE(db.CanTakeName(std::string(255, 'n'), false));
    EXPECT_TRUE(db.CanTakeName("alice", false));  // the same kind replaces
    EXPECT_TRUE(db.CanTakeName("Staff", true));
    EXPECT_TRUE(db.CanTakeName("caf\xC3\xA9", true));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Administrator", "Administrators", "Guest", "Staff", "Users", "alice"}));

    EXPECT_FALSE(db.AddEntry(nullptr));
    auto component = std::make_unique<CFilterComponent>("x", "");
    EXPECT_FALSE(db.AddEntry(component.get()));
}

TEST_F(GroupMemberDatabaseTest, ReplacingGivesTheOldEntryUp) {
    CUser* old = AddUser("bob");
    CRef<CUser> held(old);  // a session still using it
    EXPECT_EQ(old->GetReferenceCount(), 2);
    auto* fresh = new CUser("bob", "New", "", "");
    BOOL saved = FALSE;
    EXPECT_TRUE(db.AddEntry(fresh, &saved));
    EXPECT_TRUE(saved);
    EXPECT_EQ(db.FindEntry("bob"), fresh);
    EXPECT_EQ(old->GetReferenceCount(), 1);  // the database's reference is gone
    EXPECT_EQ(RegReadString("UserDatabase\\bob", "RealName", ""), "New");

    // A user given up has its audit file closed, even while someone still holds it.
    ASSERT_TRUE(RegWriteString("Settings", "AuditDirectory", state.Path() + "/audit"));
    fresh->SetAuditUser(TRUE);
    fresh->OpenAuditFile();
    ASSERT_NE(fresh->GetAuditFile(), nullptr);
    CRef<CUser> heldFresh(fresh);
    ASSERT_TRUE(db.AddEntry(new CUser("bob", "", "", "")));
    EXPECT_EQ(fresh->GetAuditFile(), nullptr);
    fresh = db.FindUserAccount("bob");

    // A group given up no longer resolves through the database.
    CGroup* group = AddGroup("G", {"bob"});
    CRef<CGroup> heldGroup(group);
    ASSERT_TRUE(db.AddEntry(new CGroup("G", "")));
    EXPECT_FALSE(group->ContainsUser("bob"));

    // Adding what is held already only saves it again; held under another name, refused.
    EXPECT_TRUE(db.AddEntry(fresh));
    EXPECT_EQ(fresh->GetReferenceCount(), 1);
    fresh->SetName("renamed");
    EXPECT_FALSE(db.AddEntry(fresh));
    fresh->SetName("bob");
}

TEST_F(GroupMemberDatabaseTest, DeletingAnswersWhetherPresentAndClearsTheKey) {
    AddUser("bob");
    ASSERT_TRUE(RegWriteString("UserDatabase\\ghost", "Type", "User"));
    EXPECT_FALSE(db.DeleteEntry("ghost"));
    EXPECT_EQ(RegEnumSubKeys("UserDatabase"), (std::vector<std::string>{"bob"}));
    // Another letter case is not the entry, and its key is the entry's key: kept.
    EXPECT_FALSE(db.DeleteEntry("BOB"));
    EXPECT_EQ(RegEnumSubKeys("UserDatabase"), (std::vector<std::string>{"bob"}));
    // Names that are no entry's never become key paths.
    ASSERT_TRUE(RegWriteString("UserDatabase\\bob\\Members", "x", "y"));
    EXPECT_FALSE(db.DeleteEntry("bob\\Members"));
    EXPECT_FALSE(db.DeleteEntry(""));
    EXPECT_EQ(RegReadString("UserDatabase\\bob\\Members", "x", ""), "y");
    EXPECT_TRUE(db.DeleteEntry("bob"));
    EXPECT_EQ(db.FindEntry("bob"), nullptr);
    EXPECT_TRUE(RegEnumSubKeys("UserDatabase").empty());
}

TEST_F(GroupMemberDatabaseTest, FindUserPicksTheKind) {
    AddUser("u");
    AddGroup("g");
    EXPECT_NE(db.FindUser("u", FALSE), nullptr);
    EXPECT_EQ(db.FindUser("u", TRUE), nullptr);
    EXPECT_NE(db.FindUser("g", TRUE), nullptr);
    EXPECT_EQ(db.FindUser("g", FALSE), nullptr);
    EXPECT_EQ(db.FindEntry("U"), nullptr);
    EXPECT_EQ(db.FindGroup("u"), nullptr);
    EXPECT_EQ(db.FindUserAccount("g"), nullptr);
}

TEST_F(GroupMemberDatabaseTest, RegistryRoundTrip) {
    CUser* bob = AddUser("bob");
    bob->SetPassword(std::string("abcdefghijklmnopqrstuvwxyz0123456789ABC") + "P");
    bob->SetAmount(CUser::ClosingBalance, CCurrency::FromUnits(-1, -5000));
    AddUser("carol");
    AddGroup("Team", {"bob", "carol"});
    AddGroup("All", {"Team"});
    ASSERT_TRUE(db.SaveToRegistry("UserDatabase"));
    EXPECT_EQ(RegReadDWORD("UserDatabase\\All\\Members", "Team", 0), 1u);

    CGroupMemberDatabase loaded;
    ASSERT_TRUE(loaded.AddEntry(new CUser("stale", "", "", "")));  // emptied by the load
    ASSERT_TRUE(RegDeleteKeyTree("UserDatabase\\stale"));
    loaded.LoadFromRegistry("UserDatabase");
    CScopedLock lock(loaded);
    std::vector<std::string> names;
    for (const auto& entry : loaded)
        names.push_back(entry.first);
    EXPECT_EQ(names, (std::vector<std::string>{"All", "Team", "bob", "carol"}));
    EXPECT_EQ(loaded.FindUserAccount("bob")->GetPassword(), bob->GetPassword());
    EXPECT_EQ(loaded.FindUserAccount("bob")->GetAmount(CUser::ClosingBalance), CCurrency::FromUnits(-1, -5000));
    EXPECT_EQ(loaded.FindGroup("All")->GetMembers(), (CGroup::MemberMap{{"Team", 1}}));
    EXPECT_TRUE(loaded.FindGroup("All")->ContainsUser("carol"));
}

TEST_F(GroupMemberDatabaseTest, RegistryLoadSkipsWhatIsNoEntryAndSaveClearsIt) {
    using Values = std::vector<std::pair<const char*, const char*>>;
    auto write = [](const std::string& key, const Values& values) {
        for (const auto& [name, text] : values)
            ASSERT_TRUE(RegWriteString("UserDatabase\\" + key, name, text));
    };
    write("odd", {{"Type", "Printer"}, {"Name", "odd"}});
    write("untyped", {{"Name", "untyped"}});
    write("lower", {{"Type", "user"}, {"Name", "lower"}});
    write("renamed", {{"Type", "User"}, {"Name", "dave"}});
    write("blank", {{"Type", "User"}});                               // Name ""
    write("twin", {{"Type", "User"}, {"Name", "Dave"}});              // Dave after dave
    write("admin", {{"Type", "Group"}, {"Name", "administrator"}});   // a built-in's name
    write("slash", {{"Type", "Group"}, {"Name", "a\\b"}});
    ASSERT_TRUE(RegWriteDWORD("UserDatabase\\g\\Members", "dave", 0));
    ASSERT_TRUE(RegWriteString("UserDatabase\\g\\Members", "text", "not a DWORD"));
    write("g", {{"Type", "Group"}, {"Name", "g"}});

    // The store's order: admin (a built-in's name), blank (no name), g, lower (Type is
    // case-sensitive), odd, renamed (dave), slash, twin (Dave, taken as dave), untyped.
    db.LoadFromRegistry("UserDatabase");
    EXPECT_EQ(Names(), (std::vector<std::string>{"dave", "g"}));
    EXPECT_EQ(db.FindGroup("g")->GetMembers(), (CGroup::MemberMap{{"dave", 0}, {"text", 0}}));

    ASSERT_TRUE(db.SaveToRegistry("UserDatabase"));
    EXPECT_EQ(RegEnumSubKeys("UserDatabase"), (std::vector<std::string>{"dave", "g"}));
    // The group's member key was written afresh, each member a DWORD.
    EXPECT_EQ(RegEnumValues("UserDatabase\\g\\Members").size(), 2u);
    EXPECT_EQ(RegReadDWORD("UserDatabase\\g\\Members", "text", 9), 0u);
}

TEST_F(GroupMemberDatabaseTest, SaveKeepsAnEntrysKeyInAnotherLetterCase) {
    AddUser("bob");
    ASSERT_TRUE(RegDeleteKeyTree("UserDatabase\\bob"));
    ASSERT_TRUE(RegWriteString("UserDatabase\\BOB", "Keep", "me"));
    ASSERT_TRUE(db.SaveToRegistry("UserDatabase"));
    EXPECT_EQ(RegEnumSubKeys("UserDatabase"), (std::vector<std::string>{"BOB"}));
    EXPECT_EQ(RegReadString("UserDatabase\\bob", "Keep", ""), "me");
    EXPECT_EQ(RegReadString("UserDatabase\\bob", "Name", ""), "bob");
}

TEST_F(GroupMemberDatabaseTest, StatisticsSaveWritesOnlyTheUsersCounters) {
    CUser* bob = AddUser("bob");
    AddGroup("G", {"bob"});
    bob->SetRealName("changed in memory");
    bob->AddUsage(1, 2, 3, 4, 5);
    bob->UpdateBalance();
    ASSERT_TRUE(db.SaveStatistics("UserDatabase"));
    EXPECT_EQ(RegReadString("UserDatabase\\bob", "RealName", "-"), "");
    EXPECT_EQ(RegReadDWORD("UserDatabase\\bob", "TimeOnLine", 0), 5u);
    EXPECT_EQ(RegReadDWORD("UserDatabase\\bob", "NonClientRecvTraffic", 0), 4u);
    EXPECT_EQ(RegEnumValues("UserDatabase\\G").size(), 3u);  // Name, Description, Type
}

// A database of one group "G" with member "u" (a user), by hand.
Bytes OneGroup(const char* key, const char* name) {
    Bytes bytes("01 00");
    bytes.Byte(static_cast<std::uint8_t>(std::strlen(key))).Text(key);
    bytes.Hex("FF FF 01 00 06 00").Text("CGroup");
    bytes.Byte(static_cast<std::uint8_t>(std::strlen(name))).Text(name).Byte(0);
    bytes.Hex("01 00 01").Text("u").Dword(0);
    return bytes;
}

TEST_F(GroupMemberDatabaseTest, ArchiveFormByteForByte) {
    AddUser("u");
    AddGroup("G", {"u"});
    const auto bytes = StoreBytes([&](CArchive& ar) { db.Serialize(ar); });
    Bytes expected("02 00");
    expected.Byte(1).Text("G").Hex("FF FF 01 00 06 00").Text("CGroup").Byte(1).Text("G").Byte(0);
    expected.Hex("01 00 01").Text("u").Dword(0);
    expected.Byte(1).Text("u").Hex("FF FF 01 00 05 00").Text("CUser").Byte(1).Text("u").Byte(0);
    expected.Byte(0).Byte(0);  // RealName, Password
    expected.Repeat(Bytes().Dword(0), 5).Repeat(Bytes().Dword(0), 21);
    expected.Dword(1).Repeat(Bytes().Dword(0), 4);
    EXPECT_EQ(expected, bytes);

    CGroupMemberDatabase other;
    EXPECT_TRUE(LoadBytes(OneGroup("G", "G"), [&](CArchive& ar) { other.Serialize(ar); }));
    CGroup* group = other.FindGroup("G");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->GetMembers(), (CGroup::MemberMap{{"u", 0}}));
}

TEST_F(GroupMemberDatabaseTest, ArchiveRoundTripAndTheAdministratorsRule) {
    db.CreateBuiltInAccounts();
    CUser* bob = AddUser("bob");
    bob->SetPassword(std::string("abcdefghijklmnopqrstuvwxyz0123456789ABC") + "P");
    CGroup* admins = db.FindGroup("Administrators");
    admins->RemoveMember("Administrator");
    admins->AddMember(*bob);
    const auto bytes = StoreBytes([&](CArchive& ar) { db.Serialize(ar); });

    CGroupMemberDatabase uploaded;
    uploaded.AddEntry(new CUser("old", "", "", ""));
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { uploaded.Serialize(ar); }));
    EXPECT_EQ(uploaded.FindEntry("old"), nullptr);
    ASSERT_NE(uploaded.FindUserAccount("bob"), nullptr);
    EXPECT_EQ(uploaded.FindUserAccount("bob")->GetPassword(), bob->GetPassword());
    EXPECT_EQ(uploaded.FindGroup("Administrators")->GetMembers(),
              (CGroup::MemberMap{{"Administrator", 0}, {"bob", 0}}));
    CScopedLock lock(uploaded);
    EXPECT_TRUE(uploaded.FindGroup("Users")->ContainsUser("Guest"));  // resolves in its new home
    EXPECT_TRUE(uploaded.FindGroup("Administrators")->ContainsUser("Administrator"));
}

TEST_F(GroupMemberDatabaseTest, FailedUploadLeavesTheDatabase) {
    db.CreateBuiltInAccounts();
    db.FindUserAccount("Administrator")->SetPassword("secret");
    const auto good = StoreBytes([&](CArchive& ar) { db.Serialize(ar); });

    std::vector<std::pair<const char*, Bytes>> bad;
    {
        Bytes cut;
        for (std::size_t i = 0; i + 1 < good.size(); ++i)
            cut.Byte(good[i]);
        bad.emplace_back("cut short", cut);
    }
    bad.emplace_back("key is not the name", OneGroup("H", "G"));
    bad.emplace_back("bad name", OneGroup("a/b", "a/b"));
    bad.emplace_back("built-in name of the other kind", OneGroup("Guest", "Guest"));
    {
        Bytes twice("02 00");
        twice.Byte(1).Text("T").Hex("FF FF 01 00 06 00").Text("CGroup").Byte(1).Text("T").Byte(0).Hex("00 00");
        twice.Byte(1).Text("t").Hex("01 80").Byte(1).Text("t").Byte(0).Hex("00 00");  // class entry 1
        bad.emplace_back("two names in two letter cases", twice);
    }
    {
        Bytes other("01 00 01");
        other.Text("S").Hex("FF FF 01 00 0A 00").Text("CTimeSlice");
        bad.emplace_back("not a user or group", other);
    }
    {
        Bytes nullEntry("01 00 01");
        nullEntry.Text("N").Hex("00 00");
        bad.emplace_back("null entry", nullEntry);
    }
    {
        Bytes member("01 00 01");
        member.Text("G").Hex("FF FF 01 00 06 00").Text("CGroup").Byte(1).Text("G").Byte(0);
        member.Hex("02 00 01").Text("m").Dword(0).Byte(1).Text("M").Dword(1);
        bad.emplace_back("member twice in two letter cases", member);
    }
    bad.emplace_back("empty stream", Bytes());

    for (const auto& [what, bytes] : bad) {
        CMemFile file(bytes.Get().data(), bytes.Size());
        CArchive ar(&file, CArchive::load);
        bool threw = false;
        try {
            db.Serialize(ar);
        } catch (CException* e) {
            e->Delete();
            threw = true;
        }
        EXPECT_TRUE(threw) << what;
        EXPECT_EQ(Names(), (std::vector<std::string>{"Administrator", "Administrators", "Guest", "Users"})) << what;
        ASSERT_NE(db.FindUserAccount("Administrator"), nullptr) << what;
        EXPECT_EQ(db.FindUserAccount("Administrator")->GetPassword(), "secret") << what;
    }
}

TEST_F(GroupMemberDatabaseTest, ConcurrentTestsChangesAndUploads) {
    db.CreateBuiltInAccounts();
    AddGroup("Loop", {"Users"});
    db.FindGroup("Users")->AddMember(*db.FindGroup("Loop"));
    const auto snapshot = StoreBytes([&](CArchive& ar) { db.Serialize(ar); });
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                CScopedLock lock(db);
                if (CGroup* users = db.FindGroup("Users"))
                    users->ContainsUser("Guest");
                if (CGroup* loop = db.FindGroup("Loop"))
                    loop->ContainsUser("nobody");
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 40; ++i) {
            auto* user = new CUser("temp" + std::to_string(i % 5), "", "", "");
            if (!db.AddEntry(user))
                user->Release();
            {
                CScopedLock lock(db);  // an upload may replace the group once the lock is gone
                if (CGroup* users = db.FindGroup("Users"))
                    users->AddMember("temp" + std::to_string(i % 5), CGroup::kUserMember);
            }
            db.DeleteEntry("temp" + std::to_string((i + 2) % 5));
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i)
            LoadBytes(snapshot, [&](CArchive& ar) { db.Serialize(ar); });
    });
    threads[4].join();
    threads[3].join();
    stop = true;
    for (int t = 0; t < 3; ++t)
        threads[t].join();
    CScopedLock lock(db);
    EXPECT_TRUE(db.FindGroup("Users")->ContainsUser("Guest"));
}

}  // namespace
