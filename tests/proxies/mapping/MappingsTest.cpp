#include "proxies/mapping/Mappings.h"

#include "engine/access/Group.h"
#include "engine/access/User.h"
#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/FakeSession.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

// A mapping to host:port, for `user` when not empty, for the patterns when `byLocation`.
CMapping* NewMapping(const std::string& host, DWORD port, const std::string& user = "",
                     AddressPatternList included = {}, AddressPatternList excluded = {},
                     bool byLocation = false) {
    auto* mapping = new CMapping;
    mapping->SetTarget(host, port);
    mapping->SetSpecifyUser(user.empty() ? 0 : 1);
    mapping->SetUserName(user);
    mapping->SetSpecifyLocation(byLocation ? 1 : 0);
    mapping->SetIncludedLocations(std::move(included));
    mapping->SetExcludedLocations(std::move(excluded));
    return mapping;
}

Strings Hosts(const CMappings& table) {
    Strings hosts;
    for (const CRef<CMapping>& mapping : table.GetMappings())
        hosts.push_back(mapping->GetTarget().Host);
    return hosts;
}

class MappingsTest : public ::testing::Test {
protected:
    TempStateDir state;
    FakeAccessContext context;

    void SetUp() override {
        SetRegistryRoot("Urvo Software", "Norvane 2");
        CGroupMemberDatabase& users = context.users;
        for (const char* name : {"alice", "bob", "carol"})
            ASSERT_TRUE(users.AddEntry(new CUser(name, "", "", "")));
        auto* staff = new CGroup("Staff", "");
        staff->AddMember(*users.FindEntry("alice"));
        ASSERT_TRUE(users.AddEntry(staff));
        auto* all = new CGroup("All", "");  // Staff (so alice, one level down) and bob
        all->AddMember(*users.FindEntry("Staff"));
        all->AddMember(*users.FindEntry("bob"));
        ASSERT_TRUE(users.AddEntry(all));
    }

    // The target host the table gives `user` at `address`, or "-" for none.
    std::string Lookup(const CMappings& table, const std::string& user, const std::string& address) {
        FakeSession session(context, user, 0, address);
        CHostPort target("unchanged", 1);
        if (!table.FindTarget(session, target)) {
            EXPECT_EQ(target, CHostPort("unchanged", 1));
            return "-";
        }
        return target.Host + ":" + std::to_string(target.Port);
    }

    static Strings SubKeys(const std::string& path) {
        Strings keys = RegEnumSubKeys(path);
        std::sort(keys.begin(), keys.end());
        return keys;
    }
};

TEST_F(MappingsTest, TheFirstAcceptingMappingWinsElseTheDefault) {
    CMappings table;
    CMapping* disabled = NewMapping("off", 1);
    disabled->SetEnabled(0);
    table.AddMapping(disabled);
    table.AddMapping(NewMapping("group", 2, "All", {"192.168.*"}, {"192.168.9.*"}, true));
    table.AddMapping(NewMapping("unknown", 3, "Nobody"));
    table.AddMapping(NewMapping("empty", 4, "", {}, {}, true));
    table.AddMapping(NewMapping("carol", 5, "carol"));
    table.AddMapping(NewMapping("hundreds", 6, "", {"10.1*"}, {}, true));
    table.SetDefaultTarget(CHostPort("default", 7));

    struct Case {
        const char* user;
        const char* address;
        const char* withDefault;
        const char* withoutDefault;
    };
    const Case cases[] = {
        {"alice", "192.168.1.5", "group:2", "group:2"},     // a member of a member group
        {"bob", "192.168.1.5", "group:2", "group:2"},       // a direct member
        {"alice", "192.168.9.5", "default:7", "-"},         // included and excluded: refused
        {"alice", "10.0.0.1", "default:7", "-"},            // not included
        {"carol", "192.168.1.5", "carol:5", "carol:5"},     // not in the group: the next one
        {"carol", "10.150.0.1", "carol:5", "carol:5"},      // two accept: the nearer the head
        {"dave", "10.150.0.1", "hundreds:6", "hundreds:6"}, // 1* covers 100-199
        {"dave", "10.15.0.1", "default:7", "-"},            // ... but not 10-19
        {"Nobody", "1.2.3.4", "default:7", "-"},            // an unknown entry contains no one
        {"", "192.168.1.5", "default:7", "-"},
    };
    for (const DWORD allowDefault : {1u, 0u}) {
        table.SetAllowDefault(allowDefault);
        for (const Case& c : cases)
            EXPECT_EQ(Lookup(table, c.user, c.address), allowDefault ? c.withDefault : c.withoutDefault)
                << c.user << " at " << c.address << ", AllowDefault " << allowDefault;
    }

    // No mappings at all: the default, even an empty one, or nothing.
    CMappings none;
    EXPECT_EQ(none.GetAllowDefault(), 0u);
    EXPECT_EQ(Lookup(none, "alice", "10.0.0.1"), "-");
    none.SetAllowDefault(1);
    EXPECT_EQ(Lookup(none, "alice", "10.0.0.1"), ":0");
}

TEST_F(MappingsTest, DescriptionsCopiesAndRemoval) {
    struct Case {
        DWORD enabled, byUser, byLocation;
        const char* text;
    };
    const Case cases[] = {
        {1, 1, 1, "Link to mail:25 by location and user"},
        {1, 1, 0, "Link to mail:25 by user"},
        {1, 0, 1, "Link to mail:25 by location"},
        {1, 0, 0, "Link to mail:25 no dependencies"},
        {0, 0, 0, "Link to mail:25 no dependencies (disabled)"},
        {0, 1, 1, "Link to mail:25 by location and user (disabled)"},
    };
    for (const Case& c : cases) {
        CMapping mapping;
        mapping.SetTarget("mail", 25);
        mapping.SetEnabled(c.enabled);
        mapping.SetSpecifyUser(c.byUser);
        mapping.SetSpecifyLocation(c.byLocation);
        EXPECT_EQ(mapping.GetDescription(), c.text);
        EXPECT_EQ(mapping.GetDescriptionText(), c.text);
    }

    CMappings table;
    CMapping* first = NewMapping("a", 1, "Staff", {"10.*", "11.*"}, {"10.1.*"}, true);
    first->GetDescription();
    table.AddMapping(first);
    table.AddMapping(NewMapping("b", 2));
    table.SetAllowDefault(1);
    table.SetDefaultTarget(CHostPort("d", 3));
    CMappings copy;
    copy.AddMapping(NewMapping("stale", 9));
    copy.Copy(table);
    EXPECT_EQ(Hosts(copy), (Strings{"a", "b"}));
    EXPECT_EQ(copy.GetDefaultTarget(), CHostPort("d", 3));
    const CRef<CMapping> copied = copy.GetMappings()[0];
    EXPECT_EQ(copied->GetDescriptionText(), "Link to a:1 by location and user");
    EXPECT_EQ(copied->GetExcludedLocations(), (AddressPatternList{"10.1.*"}));

    CMapping foreign;
    table.RemoveMapping(&foreign);  // not in the table: ignored
    table.RemoveMapping(first);
    EXPECT_EQ(Hosts(table), (Strings{"b"}));
}

TEST_F(MappingsTest, RegistryLayoutOrderAndDefaults) {
    CMappings table;
    table.SetAllowDefault(0);
    table.SetDefaultTarget(CHostPort("fallback", 53));
    table.AddMapping(NewMapping("m0", 100, "Staff", {"10.*", "11.*"}, {"10.1.*"}, true));
    for (int i = 1; i < 12; ++i)
        table.AddMapping(NewMapping("m" + std::to_string(i), 100 + i));
    ASSERT_TRUE(table.SaveToRegistry("Svc\\Mappings"));
    EXPECT_EQ(RegReadDWORD("Svc\\Mappings", "AllowDefault", 9), 0u);
    EXPECT_EQ(RegReadString("Svc\\Mappings", "Host", "-"), "fallback");
    EXPECT_EQ(RegReadDWORD("Svc\\Mappings", "Port", 9), 53u);
    EXPECT_EQ(RegReadString("Svc\\Mappings\\Mapping0", "UserName", "-"), "Staff");
    EXPECT_EQ(RegReadDWORD("Svc\\Mappings\\Mapping0", "SpecifyLocation", 9), 1u);
    EXPECT_EQ(RegReadDWORD("Svc\\Mappings\\Mapping0\\IncludedLocations", "11.*", 9), 0u);
    EXPECT_EQ(RegReadDWORD("Svc\\Mappings\\Mapping0\\ExcludedLocations", "10.1.*", 9), 0u);
    EXPECT_EQ(RegReadString("Svc\\Mappings\\Mapping11", "Host", "-"), "m11");

    // A restart: twelve mappings come back in their order (Mapping10 and Mapping11 last).
    CMappings loaded;
    loaded.SetAllowDefault(1);
    loaded.AddMapping(NewMapping("stale", 1));
    loaded.LoadFromRegistry("Svc\\Mappings");
    EXPECT_EQ(Hosts(loaded), Hosts(table));
    EXPECT_EQ(loaded.GetAllowDefault(), 0u);
    EXPECT_EQ(loaded.GetDefaultTarget(), CHostPort("fallback", 53));
    EXPECT_EQ(loaded.GetMappings()[0]->GetExcludedLocations(), (AddressPatternList{"10.1.*"}));
    EXPECT_EQ(Lookup(loaded, "alice", "11.0.0.1"), "m0:100");

    // A shorter table leaves only its own sub-keys.
    CMappings one;
    one.AddMapping(NewMapping("only", 1));
    ASSERT_TRUE(one.SaveToRegistry("Svc\\Mappings"));
    EXPECT_EQ(SubKeys("Svc\\Mappings"), (Strings{"Mapping0"}));
    EXPECT_EQ(RegReadDWORD("Svc\\Mappings", "AllowDefault", 9), 0u);

    // Stored by hand: no AllowDefault value loads 1; only sub-keys that begin with exactly
    // "Mapping" are mappings; a mapping's missing values take their defaults.
    ASSERT_TRUE(RegWriteString("Hand\\Mappings\\Mapping1", "Host", "one"));
    ASSERT_TRUE(RegWriteString("Hand\\Mappings\\mapping2", "Host", "lower"));
    ASSERT_TRUE(RegWriteString("Hand\\Mappings\\Map3", "Host", "short"));
    ASSERT_TRUE(RegWriteString("Hand\\Mappings\\MappingX", "Host", "named"));
    CMappings hand;
    hand.LoadFromRegistry("Hand\\Mappings");
    EXPECT_EQ(hand.GetAllowDefault(), 1u);
    EXPECT_EQ(Hosts(hand), (Strings{"one", "named"}));
    EXPECT_EQ(Lookup(hand, "anyone", "1.2.3.4"), "one:0");  // enabled and unrestricted
}

TEST_F(MappingsTest, ArchiveBytesAndFailedLoadsRethrowUnchanged) {
    CMappings table;
    table.SetAllowDefault(1);
    table.SetDefaultTarget(CHostPort("d", 7));
    table.AddMapping(NewMapping("mail", 25, "Staff", {"10.*"}, {}, true));
    const auto bytes = StoreBytes([&](CArchive& ar) { table.Serialize(ar); });
    const Bytes mapping = Bytes().Dword(1).Dword(1).Dword(1).Byte(5).Text("Staff")
                              .Byte(4).Text("mail").Dword(25)
                              .Word(1).Byte(4).Text("10.*")
                              .Word(0);
    const Bytes expected = Bytes().Dword(1).Byte(1).Text("d").Dword(7)
                               .Word(1).Hex("FF FF 01 00 08 00").Text("CMapping").Append(mapping);
    EXPECT_EQ(expected, bytes) << HexDump(bytes, 200);

    CMappings back;
    back.AddMapping(NewMapping("stale", 1));
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back.Serialize(ar); }));
    EXPECT_EQ(Hosts(back), (Strings{"mail"}));
    EXPECT_EQ(back.GetDefaultTarget(), CHostPort("d", 7));
    EXPECT_EQ(Lookup(back, "alice", "10.0.0.1"), "mail:25");

    // A bad stream throws on (the reader of the enclosing object stops) and changes nothing.
    const Bytes head = Bytes().Dword(0).Byte(1).Text("x").Dword(1);
    struct Case {
        const char* what;
        Bytes bytes;
        CArchiveException::Cause cause;
    };
    const Case cases[] = {
        {"cut in a mapping", Bytes(head).Word(1).Hex("FF FF 01 00 08 00").Text("CMapping").Dword(1),
         CArchiveException::endOfFile},
        {"null mapping", Bytes(head).Word(1).Word(0), CArchiveException::badClass},
        {"another class", Bytes(head).Word(1).Hex("FF FF 01 00 09 00").Text("CHostPort").Byte(0).Dword(0),
         CArchiveException::badClass},
        {"count beyond the stream", Bytes(head).Word(40), CArchiveException::endOfFile},
        {"cut in the default target", Bytes().Dword(0).Byte(3).Text("x"), CArchiveException::endOfFile},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadFailure(c.bytes, [&](CArchive& ar) { back.Serialize(ar); }), c.cause) << c.what;
        EXPECT_EQ(Hosts(back), (Strings{"mail"})) << c.what;
        EXPECT_EQ(back.GetAllowDefault(), 1u) << c.what;
        EXPECT_EQ(back.GetDefaultTarget(), CHostPort("d", 7)) << c.what;
    }
}

}  // namespace
