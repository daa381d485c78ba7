#include "engine/access/Right.h"

#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "support/ArchiveHelpers.h"
#include "support/FakeSession.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// The user database of every test: the built-in accounts, "alice" in group "Staff", which is
// in group "Outer", "carol" in no group, and "bob", whose account is disabled.
class RightTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetRegistryRoot("Urvo Software", "Norvane 2");
        CGroupMemberDatabase& users = context.users;
        users.CreateBuiltInAccounts();
        for (const char* name : {"alice", "bob", "carol"})
            ASSERT_TRUE(users.AddEntry(new CUser(name, "", "", "")));
        users.FindUserAccount("bob")->SetAccountEnabled(FALSE);
        auto* staff = new CGroup("Staff", "");
        staff->AddMember(*users.FindEntry("alice"));
        ASSERT_TRUE(users.AddEntry(staff));
        auto* outer = new CGroup("Outer", "");
        outer->AddMember(*users.FindEntry("Staff"));
        ASSERT_TRUE(users.AddEntry(outer));
    }

    bool Granted(const CRight& right, const std::string& user, int level = 0,
                 const std::string& address = "192.168.2.9", BOOL skipRequestTest = FALSE) {
        FakeSession session(context, user, level, address);
        return right.IsGranted(session, skipRequestTest) != FALSE;
    }

    // A right of `kind` that does not consult a default right, holding `recipient`.
    static std::unique_ptr<CRight> RightWith(CRecipient* recipient, DWORD kind = RightUserAdd) {
        auto right = std::make_unique<CRight>();
        right->SetRightType(kind);
        right->SetIncludeDefaultRights(0);
        if (recipient != nullptr)
            right->AddRecipient(recipient);
        return right;
    }

    TempStateDir state;
    FakeAccessContext context;
};

TEST_F(RightTest, OnlyEnabledUserAccountsArePassedToTheRecipients) {
    auto everyone = RightWith(new CRecipient());
    EXPECT_TRUE(Granted(*everyone, "Guest"));
    EXPECT_TRUE(Granted(*everyone, "carol"));
    EXPECT_FALSE(Granted(*everyone, "bob"));       // disabled, even for "Everyone"
    EXPECT_FALSE(Granted(*everyone, "nobody"));    // not in the database
    EXPECT_FALSE(Granted(*everyone, "Users"));     // a group is no user account
    EXPECT_FALSE(Granted(*everyone, "ALICE"));     // names are exact
    EXPECT_FALSE(Granted(*everyone, ""));

    // The account is looked at for every decision.
    context.users.FindUserAccount("carol")->SetAccountEnabled(FALSE);
    EXPECT_FALSE(Granted(*everyone, "carol"));
    // The precheck also guards a default right that grants everyone.
    context.defaults[RightAccess].AddRecipient(new CRecipient());
    CRight service;
    EXPECT_FALSE(Granted(service, "carol"));
    EXPECT_TRUE(Granted(service, "alice"));
}

TEST_F(RightTest, WithoutRecipientsOrDefaultNothingIsGranted) {
    auto empty = RightWith(nullptr, RightAccess);
    EXPECT_FALSE(Granted(*empty, "Administrator", 2));
}

TEST_F(RightTest, DefaultRightsAreConsultedFirstForKindsZeroToTwo) {
    CRight& defaultAccess = context.defaults[RightAccess];
    defaultAccess.AddRecipientFor("carol");
    EXPECT_EQ(defaultAccess.GetIncludeDefaultRights(), 1u);

    CRight service;  // kind 0, IncludeDefaultRights 1, no recipients
    EXPECT_EQ(service.GetIncludeDefaultRights(), 1u);
    EXPECT_TRUE(Granted(service, "carol"));
    EXPECT_FALSE(Granted(service, "alice"));
    // Consulting cleared the default right's own flag, and only its flag.
    EXPECT_EQ(defaultAccess.GetIncludeDefaultRights(), 0u);
    EXPECT_EQ(service.GetIncludeDefaultRights(), 1u);

    // The right's own recipients are tried after the default right.
    service.AddRecipientFor("alice");
    EXPECT_TRUE(Granted(service, "alice"));
    EXPECT_TRUE(Granted(service, "carol"));
    service.SetIncludeDefaultRights(0);
    EXPECT_FALSE(Granted(service, "carol"));

    // Kinds 1 and 2 consult their own default rights.
    context.defaults[RightStartStop].AddRecipientFor("Administrators");
    CRight startStop;
    startStop.SetRightType(RightStartStop);
    EXPECT_TRUE(Granted(startStop, "Administrator"));
    EXPECT_FALSE(Granted(startStop, "carol"));
    CRight edit;
    edit.SetRightType(RightEdit);
    EXPECT_FALSE(Granted(edit, "Administrator"));  // the default Edit right is empty

    // Other kinds have no default right: kind 5 with the flag set consults none.
    context.defaults[RightAccess].AddRecipient(new CRecipient());
    CRight monitor;
    monitor.SetRightType(RightActivityMonitor);
    EXPECT_FALSE(Granted(monitor, "carol"));
    CRight odd;
    odd.SetRightType(0xFFFFFFFF);
    EXPECT_FALSE(Granted(odd, "carol"));
}

TEST_F(RightTest, ADefaultRightNeverChains) {
    CRight& defaultAccess = context.defaults[RightAccess];
    defaultAccess.AddRecipientFor("carol");
    // Asked directly with its flag set, the default right finds itself: it clears its flag
    // and decides by its recipients.
    EXPECT_TRUE(Granted(defaultAccess, "carol"));
    EXPECT_FALSE(Granted(defaultAccess, "alice"));
    EXPECT_EQ(defaultAccess.GetIncludeDefaultRights(), 0u);

    // Even with its flag set again, a consulted default right does not consult itself.
    defaultAccess.SetIncludeDefaultRights(1);
    CRight service;
    EXPECT_FALSE(Granted(service, "alice"));
    EXPECT_TRUE(Granted(service, "carol"));
}

TEST_F(RightTest, RecipientsStandForUsersGroupsOrEveryone) {
    // "Users" admits Guest and Administrator while the built-in groups are unchanged.
    auto users = RightWith(new CRecipient("Users"));
    EXPECT_TRUE(Granted(*users, "Guest"));
    EXPECT_TRUE(Granted(*users, "Administrator"));
    EXPECT_FALSE(Granted(*users, "alice"));

    auto alice = RightWith(new CRecipient("alice"));
    EXPECT_TRUE(Granted(*alice, "alice"));
    EXPECT_FALSE(Granted(*alice, "carol"));

    auto outer = RightWith(new CRecipient("Outer"));  // Outer > Staff > alice
    EXPECT_TRUE(Granted(*outer, "alice"));
    EXPECT_FALSE(Granted(*outer, "carol"));

    // SpecifyUser 0 means everyone, whatever UserName says.
    auto* anyone = new CRecipient("nobody");
    anyone->SetSpecifyUser(0);
    auto everyone = RightWith(anyone);
    EXPECT_TRUE(Granted(*everyone, "carol"));

    // A recipient whose name left the database is never satisfied.
    auto gone = RightWith(new CRecipient("carol"));
    EXPECT_TRUE(Granted(*gone, "carol"));
    context.users.DeleteEntry("Staff");
    EXPECT_FALSE(Granted(*outer, "alice"));
    auto staff = RightWith(new CRecipient("Staff"));
    EXPECT_FALSE(Granted(*staff, "alice"));
}

TEST_F(RightTest, LevelsCompareWithAtLeast) {
    auto* recipient = new CRecipient();
    recipient->SetMinimumSecurityLevel(1);
    auto right = RightWith(recipient);
    EXPECT_FALSE(Granted(*right, "carol", 0));  // a host that no location names
    EXPECT_TRUE(Granted(*right, "carol", 1));   // user assumed from a location
    EXPECT_TRUE(Granted(*right, "carol", 2));   // authenticated
    recipient->SetMinimumSecurityLevel(2);
    EXPECT_FALSE(Granted(*right, "carol", 1));
    EXPECT_TRUE(Granted(*right, "carol", 2));
    recipient->SetMinimumSecurityLevel(0xFFFFFFFF);  // compared as numbers, not wrapped
    EXPECT_FALSE(Granted(*right, "carol", 2));
}

TEST_F(RightTest, LocationsIncludedLessExcluded) {
    auto* recipient = new CRecipient();
    recipient->SetSpecifyLocation(1);
    auto right = RightWith(recipient);
    EXPECT_FALSE(Granted(*right, "carol", 0, "192.168.2.9"));  // nothing included
    recipient->SetIncludedLocations({"10.1.*", "192.168.*"});
    recipient->SetExcludedLocations({"192.168.1.*"});
    EXPECT_TRUE(Granted(*right, "carol", 0, "192.168.2.9"));
    EXPECT_FALSE(Granted(*right, "carol", 0, "192.168.1.9"));
    EXPECT_FALSE(Granted(*right, "carol", 0, "10.0.0.1"));
    EXPECT_TRUE(Granted(*right, "carol", 0, "10.1.200.3"));
    // Without SpecifyLocation the lists mean nothing.
    recipient->SetSpecifyLocation(0);
    EXPECT_TRUE(Granted(*right, "carol", 0, "192.168.1.9"));
}

TEST_F(RightTest, TimeFilterMustIncludeNow) {
    auto* recipient = new CRecipient();
    recipient->SetSpecifyTime(1);
    auto right = RightWith(recipient);
    EXPECT_FALSE(Granted(*right, "carol"));  // an empty time filter allows no moment
    recipient->GetTimeFilter().AddInclusion(new CTimeSlice(CTimeSlice::kEveryDay));
    EXPECT_TRUE(Granted(*right, "carol"));
    recipient->GetTimeFilter().AddExclusion(new CTimeSlice(CTimeSlice::kEveryDay));
    EXPECT_FALSE(Granted(*right, "carol"));
    recipient->SetSpecifyTime(0);
    EXPECT_TRUE(Granted(*right, "carol"));
}

TEST_F(RightTest, RequestFiltersApplyOnlyToTheRequestCheck) {
    auto* recipient = new CRecipient();
    recipient->SetSpecifyRequest(1);
    auto right = RightWith(recipient);
    auto check = [&](const char* url, BOOL skip) {
        FakeSession session(context, "carol");
        session.request.Set(RequestHTTPURL, CNVDataObject(url));
        return right->IsGranted(session, skip) != FALSE;
    };
    // An empty collection fails every request, but not the session-start check.
    EXPECT_FALSE(check("h/games", FALSE));
    EXPECT_TRUE(check("h/games", TRUE));

    recipient->GetRequestFilter().AddFilter(NewUrlFilter("games"));
    EXPECT_TRUE(check("h/news", TRUE));
    EXPECT_TRUE(check("h/GAMES/x", FALSE));
    EXPECT_TRUE(check("h/Games", FALSE));
    EXPECT_FALSE(check("h/news", FALSE));
}

TEST_F(RightTest, EveryConditionAloneAndCombined) {
    // One recipient for "Staff" at level 1 from 192.168.* in an allowed time with a request for
    // games; each row breaks one condition.
    auto* recipient = new CRecipient("Staff");
    recipient->SetMinimumSecurityLevel(1);
    recipient->SetSpecifyLocation(1);
    recipient->SetIncludedLocations({"192.168.*"});
    recipient->SetSpecifyTime(1);
    recipient->GetTimeFilter().AddInclusion(new CTimeSlice(CTimeSlice::kEveryDay));
    recipient->SetSpecifyRequest(1);
    recipient->GetRequestFilter().AddFilter(NewUrlFilter("games"));
    auto right = RightWith(recipient);

    struct Row {
        const char* user;
        int level;
        const char* address;
        const char* url;
        bool granted;
    };
    const Row rows[] = {
        {"alice", 1, "192.168.3.3", "h/games", true},
        {"carol", 1, "192.168.3.3", "h/games", false},  // not in Staff
        {"alice", 0, "192.168.3.3", "h/games", false},  // level too low
        {"alice", 1, "10.0.0.1", "h/games", false},     // outside the location
        {"alice", 1, "192.168.3.3", "h/news", false},   // request refused
        {"bob", 2, "192.168.3.3", "h/games", false},    // disabled
    };
    for (const Row& row : rows) {
        FakeSession session(context, row.user, row.level, row.address);
        session.request.Set(RequestHTTPURL, CNVDataObject(row.url));
        EXPECT_EQ(right->IsGranted(session, FALSE) != FALSE, row.granted)
            << row.user << " " << row.level << " " << row.address << " " << row.url;
    }
    recipient->GetTimeFilter().AddExclusion(new CTimeSlice(CTimeSlice::kEveryDay));
    EXPECT_FALSE(Granted(*right, "alice", 1, "192.168.3.3", TRUE));

    // A second recipient is tried when the first fails.
    right->AddRecipientFor("carol");
    EXPECT_TRUE(Granted(*right, "carol", 0, "10.0.0.1"));
    EXPECT_FALSE(Granted(*right, "alice", 2, "192.168.3.3", TRUE));
}

TEST_F(RightTest, RecipientListOperationsAndCopy) {
    CRight right;
    right.SetDescription("Users can access services");
    right.AddRecipientFor("alice");
    auto* everyone = new CRecipient();
    EXPECT_TRUE(right.AddRecipient(everyone));
    EXPECT_FALSE(right.AddRecipient(everyone));
    EXPECT_FALSE(right.AddRecipient(nullptr));
    {
        CScopedLock lock(right);
        ASSERT_NE(right.FindRecipient("alice"), nullptr);
        EXPECT_EQ(right.FindRecipient("alice")->GetSpecifyUser(), 1u);
        EXPECT_EQ(right.FindRecipient("Everyone"), everyone);
        EXPECT_EQ(right.FindRecipient("everyone"), nullptr);
    }

    CRight copy;
    copy.AddRecipientFor("old");
    copy.SetIncludeDefaultRights(1);
    right.SetRightType(RightShutdown);
    right.SetIncludeDefaultRights(0);
    copy.Copy(right);
    EXPECT_EQ(copy.GetRightType(), RightShutdown);
    EXPECT_EQ(copy.GetDescription(), "Users can access services");
    EXPECT_EQ(copy.GetIncludeDefaultRights(), 0u);
    EXPECT_EQ(copy.GetRecipients().GetCount(), 2u);
    {
        CScopedLock lock(copy);
        EXPECT_EQ(copy.FindRecipient("old"), nullptr);
        EXPECT_NE(copy.FindRecipient("Everyone"), everyone);  // a copy
    }
    copy.Copy(copy);
    EXPECT_EQ(copy.GetRecipients().GetCount(), 2u);

    EXPECT_TRUE(right.RemoveRecipient("alice"));
    EXPECT_FALSE(right.RemoveRecipient("alice"));
    EXPECT_EQ(right.GetRecipients().GetCount(), 1u);

    // By object: the one given, not the first of its name; never one of another right.
    auto* second = new CRecipient();
    right.AddRecipient(second);
    EXPECT_FALSE(right.RemoveRecipient(static_cast<const CRecipient*>(copy.GetRecipients().GetHead())));
    EXPECT_TRUE(right.RemoveRecipient(second));
    EXPECT_FALSE(right.RemoveRecipient(second));
    EXPECT_EQ(right.GetRecipients().GetCount(), 1u);
    EXPECT_EQ(right.GetRecipients().GetHead(), everyone);
}

TEST_F(RightTest, DecisionsRunWhileTheConsoleReplacesRights) {
    CRight service;
    service.AddRecipientFor("Staff");
    CRight replacement;
    replacement.Copy(service);
    auto* extra = new CRecipient();
    extra->SetSpecifyLocation(1);
    extra->SetIncludedLocations({"10.*"});
    replacement.AddRecipient(extra);
    const auto bytes = StoreBytes([&](CArchive& ar) { replacement.Serialize(ar); });
    context.defaults[RightAccess].AddRecipientFor("carol");

    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> sessions;
    for (int t = 0; t < 4; ++t) {
        sessions.emplace_back([&] {
            while (!stop) {
                if (!Granted(service, "alice") || !Granted(service, "carol") || Granted(service, "Guest"))
                    ++wrong;
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        if (i % 2 == 0)
            service.Copy(replacement);
        else
            LoadBytes(bytes, [&](CArchive& ar) { service.Serialize(ar); });
        context.defaults[RightAccess].SetIncludeDefaultRights(1);
    }
    stop = true;
    for (auto& t : sessions)
        t.join();
    EXPECT_EQ(wrong, 0);
}

TEST_F(RightTest, RegistryFormWithNumberedRecipients) {
    CRight right;
    right.SetRightType(RightStartStop);
    right.SetDescription("Users can start/stop services");
    right.SetIncludeDefaultRights(0);
    right.AddRecipientFor("Administrators");
    auto* local = new CRecipient();
    local->SetSpecifyLocation(1);
    local->SetIncludedLocations({"127.0.0.1"});
    right.AddRecipient(local);
    RegWriteString("R\\Recipient5", "UserName", "stale");
    ASSERT_TRUE(right.SaveToRegistry("R"));
    EXPECT_EQ(RegEnumNumberedSubKeys("R", "Recipient"), (std::vector<std::string>{"Recipient0", "Recipient1"}));
    EXPECT_EQ(RegReadDWORD("R", "RightType", 99), 1u);
    EXPECT_EQ(RegReadString("R", "Description", ""), "Users can start/stop services");
    EXPECT_EQ(RegReadDWORD("R", "IncludeDefaultRights", 99), 0u);
    EXPECT_EQ(RegReadString("R\\Recipient0", "UserName", ""), "Administrators");

    CRight loaded;
    loaded.AddRecipientFor("old");
    loaded.LoadFromRegistry("R");
    loaded.LoadFromRegistry("R");  // reloading replaces: no recipient twice
    EXPECT_EQ(loaded.GetRightType(), RightStartStop);
    EXPECT_EQ(loaded.GetDescription(), "Users can start/stop services");
    EXPECT_EQ(loaded.GetIncludeDefaultRights(), 0u);
    ASSERT_EQ(loaded.GetRecipients().GetCount(), 2u);
    {
        CScopedLock lock(loaded);
        EXPECT_EQ(static_cast<CRecipient*>(loaded.GetRecipients().GetHead())->GetUserName(), "Administrators");
        EXPECT_EQ(static_cast<CRecipient*>(loaded.GetRecipients().GetTail())->GetIncludedLocations(),
                  (CRecipient::LocationList{"127.0.0.1"}));
    }
    EXPECT_TRUE(Granted(loaded, "Administrator"));
    EXPECT_FALSE(Granted(loaded, "carol", 0, "10.0.0.1"));
    EXPECT_TRUE(Granted(loaded, "carol", 0, "127.0.0.1"));

    // A key without values: the defaults, IncludeDefaultRights 1 among them.
    CRight fresh;
    fresh.SetIncludeDefaultRights(0);
    fresh.LoadFromRegistry("Missing");
    EXPECT_EQ(fresh.GetRightType(), 0u);
    EXPECT_EQ(fresh.GetDescription(), "");
    EXPECT_EQ(fresh.GetIncludeDefaultRights(), 1u);
    EXPECT_TRUE(fresh.GetRecipients().IsEmpty());
}

TEST_F(RightTest, RecipientsLoadInNumericOrder) {
    CRight right;
    for (int i = 0; i < 12; ++i)
        right.AddRecipientFor("u" + std::to_string(i));
    ASSERT_TRUE(right.SaveToRegistry("R"));
    CRight loaded;
    loaded.LoadFromRegistry("R");
    std::vector<std::string> names;
    {
        CScopedLock lock(loaded);
        for (const CObject* r : loaded.GetRecipients())
            names.push_back(static_cast<const CRecipient*>(r)->GetUserName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"u0", "u1", "u2", "u3", "u4", "u5", "u6", "u7", "u8",
                                               "u9", "u10", "u11"}));
}

TEST(RightArchiveTest, BytesByHand) {
    CRight right;
    right.SetRightType(RightShutdown);
    right.SetDescription("d");
    right.AddRecipient(new CRecipient());
    // RightType, Description, IncludeDefaultRights, then one class-tagged recipient: UserName,
    // Description, five DWORDs, two empty string lists, an empty time filter (Name,
    // Description, two empty lists), an empty collection.
    const Bytes expected = Bytes()
                               .Dword(10).Byte(1).Text("d").Dword(1)
                               .Word(1)
                               .Hex("FF FF 01 00 0A 00").Text("CRecipient")
                               .Byte(8).Text("Everyone").Byte(19).Text("Unrestricted Rights")
                               .Dword(0).Dword(0).Dword(0).Dword(0).Dword(0)
                               .Word(0).Word(0)
                               .Byte(0).Byte(0).Word(0).Word(0)
                               .Word(0);
    EXPECT_EQ(expected, StoreBytes([&](CArchive& ar) { right.Serialize(ar); }));

    CRight loaded;
    loaded.AddRecipientFor("old");
    EXPECT_TRUE(LoadBytes(expected, [&](CArchive& ar) { loaded.Serialize(ar); }));
    EXPECT_EQ(loaded.GetRightType(), RightShutdown);
    EXPECT_EQ(loaded.GetDescription(), "d");
    ASSERT_EQ(loaded.GetRecipients().GetCount(), 1u);
    CScopedLock lock(loaded);
    EXPECT_NE(loaded.FindRecipient("Everyone"), nullptr);
}

TEST(RightArchiveTest, FailedLoadsLeaveTheRightAsItWas) {
    CRight right;
    right.SetDescription("keep");
    right.AddRecipientFor("alice");
    auto load = [&](CArchive& ar) { right.Serialize(ar); };
    auto kept = [&] {
        EXPECT_EQ(right.GetDescription(), "keep");
        EXPECT_EQ(right.GetRightType(), 0u);
        CScopedLock lock(right);
        EXPECT_EQ(right.GetRecipients().GetCount(), 1u);
        EXPECT_NE(right.FindRecipient("alice"), nullptr);
    };
    const Bytes head = Bytes().Dword(3).Byte(1).Text("x").Dword(0);
    EXPECT_EQ(LoadFailure(Bytes(head).Word(1).Word(0), load), CArchiveException::badClass);
    kept();
    // A recipient cut inside its request filter collection.
    EXPECT_EQ(LoadFailure(Bytes(head).Word(1).Hex("FF FF 01 00 0A 00").Text("CRecipient")
                              .Byte(0).Byte(0).Dword(0).Dword(0).Dword(0).Dword(0).Dword(0)
                              .Word(1).Byte(1).Text("1").Word(0).Byte(0).Byte(0).Word(0).Word(0),
                          load),
              CArchiveException::endOfFile);
    kept();
    // A recipient where a location list claims more strings than there are bytes.
    EXPECT_EQ(LoadFailure(Bytes(head).Word(1).Hex("FF FF 01 00 0A 00").Text("CRecipient")
                              .Byte(0).Byte(0).Dword(0).Dword(0).Dword(0).Dword(0).Dword(0)
                              .Word(0xFFFE),
                          load),
              CArchiveException::endOfFile);
    kept();
}

}  // namespace
