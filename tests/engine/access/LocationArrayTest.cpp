#include "engine/access/LocationArray.h"

#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "support/ArchiveHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> Filters(const CLocationArray& array) {
    CScopedLock lock(array);
    std::vector<std::string> filters;
    for (std::size_t i = 0; i < array.GetSize(); ++i)
        filters.push_back(array.GetLocation(i)->GetFilter());
    return filters;
}

TEST(LocationTest, ConstructionSetsFilterAndUser) {
    const CLocation plain;
    EXPECT_EQ(plain.GetUsername(), "");
    EXPECT_EQ(plain.GetFilter(), "");
    const CLocation office("192.168.1.*", "alice");
    EXPECT_EQ(office.GetUsername(), "alice");
    EXPECT_EQ(office.GetFilter(), "192.168.1.*");
    EXPECT_EQ(office.GetIPFilter().GetInternalFilter(), "192168001???");
    EXPECT_TRUE(office.Match("192.168.1.77"));
    EXPECT_FALSE(office.Match("192.168.10.77"));
}

TEST(LocationArrayTest, FirstMatchingLocationNamesTheUser) {
    CLocationArray array;
    array.AddLocation(new CLocation("192.168.1.*", "alice"));
    array.AddLocation(new CLocation("192.168.*", "staff"));
    EXPECT_EQ(array.GetUserForAddress("192.168.1.5"), "alice");
    EXPECT_EQ(array.GetUserForAddress("192.168.2.5"), "staff");
    EXPECT_EQ(array.GetUserForAddress("10.0.0.1"), "");

    EXPECT_TRUE(array.PromoteLocation("192.168.*"));
    EXPECT_EQ(array.GetUserForAddress("192.168.1.5"), "staff");
    EXPECT_EQ(Filters(array), (std::vector<std::string>{"192.168.*", "192.168.1.*"}));
}

TEST(LocationArrayTest, PromoteDemoteFindRemove) {
    CLocationArray array;
    for (const char* filter : {"a", "b", "c"})
        array.AddLocation(new CLocation(filter, "u"));
    EXPECT_FALSE(array.PromoteLocation("a"));  // first stays first
    EXPECT_FALSE(array.DemoteLocation("c"));   // last stays last
    EXPECT_FALSE(array.PromoteLocation("zz"));
    EXPECT_FALSE(array.DemoteLocation("zz"));
    EXPECT_EQ(Filters(array), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(array.DemoteLocation("a"));
    EXPECT_EQ(Filters(array), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_TRUE(array.PromoteLocation("c"));
    EXPECT_EQ(Filters(array), (std::vector<std::string>{"b", "c", "a"}));

    CLocation* c = array.FindLocation("c");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(array.IndexOf(c), 1);
    EXPECT_EQ(array.FindLocation("C"), nullptr);  // case-sensitive
    CLocation outsider("c", "u");
    EXPECT_EQ(array.IndexOf(&outsider), -1);
    EXPECT_FALSE(array.AddLocation(c));  // already held
    EXPECT_FALSE(array.AddLocation(nullptr));
    EXPECT_EQ(array.GetLocation(3), nullptr);

    EXPECT_TRUE(array.RemoveLocation("c"));
    EXPECT_FALSE(array.RemoveLocation("c"));
    EXPECT_EQ(Filters(array), (std::vector<std::string>{"b", "a"}));
    array.RemoveAll();
    EXPECT_EQ(array.GetSize(), 0u);
}

class LocationStoreTest : public ::testing::Test {
protected:
    TempStateDir state;
    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }
    static std::vector<std::string> SubKeys(const std::string& path) {
        std::vector<std::string> keys;
        CRegKey key(OpenRegistryKey(path));
        EXPECT_TRUE(key);
        EXPECT_EQ(RegEnumKeyNames(key.Get(), &keys), ERROR_SUCCESS);
        std::sort(keys.begin(), keys.end());
        return keys;
    }
};

TEST_F(LocationStoreTest, SavedUnderNumberedSubKeys) {
    CLocationArray array;
    array.AddLocation(new CLocation("192.168.1.*", "alice"));
    array.AddLocation(new CLocation("10.*", "bob"));
    ASSERT_TRUE(array.SaveToRegistry("Locations"));
    EXPECT_EQ(RegReadString("Locations\\Location0", "Filter", "-"), "192.168.1.*");
    EXPECT_EQ(RegReadString("Locations\\Location0", "InternalFilter", "-"), "192168001???");
    EXPECT_EQ(RegReadString("Locations\\Location0", "Username", "-"), "alice");
    EXPECT_EQ(RegReadString("Locations\\Location1", "Filter", "-"), "10.*");

    // Removing a location and saving leaves no stale sub-key behind.
    array.RemoveLocation("192.168.1.*");
    ASSERT_TRUE(array.SaveToRegistry("Locations"));
    EXPECT_EQ(SubKeys("Locations"), (std::vector<std::string>{"Location0"}));
    EXPECT_EQ(RegReadString("Locations\\Location0", "Filter", "-"), "10.*");
}

TEST_F(LocationStoreTest, LoadPlacesByNumberAndClosesGaps) {
    ASSERT_TRUE(RegWriteString("Locations\\Location2", "Filter", "second"));
    ASSERT_TRUE(RegWriteString("Locations\\Location0", "Filter", "first"));
    CLocationArray array;
    array.AddLocation(new CLocation("stale", "x"));
    array.LoadFromRegistry("Locations");
    EXPECT_EQ(Filters(array), (std::vector<std::string>{"first", "second"}));
    // Without a Username value the user is Guest; the internal form is taken as stored.
    EXPECT_EQ(array.GetLocation(0)->GetUsername(), "Guest");
    EXPECT_EQ(array.GetLocation(0)->GetIPFilter().GetInternalFilter(), "");
}

TEST_F(LocationStoreTest, ElevenAndMoreKeepTheirOrder) {
    CLocationArray array;
    for (int i = 0; i < 13; ++i)
        array.AddLocation(new CLocation("10.0.0." + std::to_string(i), "user" + std::to_string(i)));
    ASSERT_TRUE(array.SaveToRegistry("Locations"));
    CLocationArray loaded;
    loaded.LoadFromRegistry("Locations");
    EXPECT_EQ(Filters(loaded), Filters(array));
    EXPECT_EQ(loaded.GetUserForAddress("10.0.0.2"), "user2");
    EXPECT_EQ(loaded.GetUserForAddress("10.0.0.12"), "user12");
    // Reloading replaces, never appends.
    loaded.LoadFromRegistry("Locations");
    EXPECT_EQ(loaded.GetSize(), 13u);
}

TEST(LocationArchiveTest, Bytes) {
    CLocationArray array;
    array.AddLocation(new CLocation("10.*", "alice"));
    array.AddLocation(new CLocation("1.2", "bob"));
    const auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(&array); });
    const Bytes expected = Bytes("FF FF 01 00 0E 00")
                               .Text("CLocationArray")
                               .Word(2)
                               .Hex("FF FF 01 00 09 00").Text("CLocation")
                               .Byte(6).Text("010???").Byte(4).Text("10.*").Byte(5).Text("alice")
                               .Hex("03 80")
                               .Byte(6).Text("001002").Byte(3).Text("1.2").Byte(3).Text("bob");
    EXPECT_EQ(expected, bytes) << HexDump(bytes, 200);

    std::unique_ptr<CLocationArray> back;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back = ar.ReadOwnedObject<CLocationArray>(); }));
    ASSERT_TRUE(back);
    EXPECT_EQ(Filters(*back), (std::vector<std::string>{"10.*", "1.2"}));
    EXPECT_EQ(back->GetUserForAddress("1.2.3.4"), "bob");

    // One location on its own: the filter's form untagged, then the user.
    CLocation single("10.*", "alice");
    EXPECT_EQ(Bytes().Byte(6).Text("010???").Byte(4).Text("10.*").Byte(5).Text("alice"),
              StoreBytes([&](CArchive& ar) { single.Serialize(ar); }));
}

TEST(LocationArchiveTest, LoadReplacesAndHostileStreamsChangeNothing) {
    CLocationArray source;
    source.AddLocation(new CLocation("10.*", "alice"));
    const auto good = StoreBytes([&](CArchive& ar) { source.Serialize(ar); });

    CLocationArray target;
    target.AddLocation(new CLocation("old", "x"));
    target.AddLocation(new CLocation("older", "y"));
    EXPECT_TRUE(LoadBytes(good, [&](CArchive& ar) { target.Serialize(ar); }));
    EXPECT_EQ(Filters(target), (std::vector<std::string>{"10.*"}));

    const Bytes location = Bytes("FF FF 01 00 09 00").Text("CLocation").Byte(0).Byte(1).Text("x").Byte(1).Text("u");
    struct Case {
        const char* what;
        Bytes bytes;
        CArchiveException::Cause cause;
    };
    const Case cases[] = {
        {"truncated", Bytes().Word(2).Append(location).Hex("01 80 00"), CArchiveException::endOfFile},
        {"back-reference", Bytes().Word(2).Append(location).Hex("02 00"), CArchiveException::badIndex},
        {"null", Bytes().Word(1).Word(0), CArchiveException::badClass},
        {"other class", Bytes().Word(1).Hex("FF FF 01 00 09 00").Text("CIPFilter").Byte(0).Byte(0),
         CArchiveException::badClass},
        {"count beyond the stream", Bytes().Hex("FF FF 00 00 01 00"), CArchiveException::endOfFile},
        {"schema", Bytes().Word(1).Hex("FF FF 02 00 09 00").Text("CLocation"), CArchiveException::badSchema},
        {"class name too long", Bytes().Word(1).Hex("FF FF 01 00 40 00").Repeat(Bytes("41"), 64),
         CArchiveException::badClass},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadFailure(c.bytes, [&](CArchive& ar) { target.Serialize(ar); }), c.cause) << c.what;
        EXPECT_EQ(Filters(target), (std::vector<std::string>{"10.*"})) << c.what;
    }

    // A location received into an existing one: a failure leaves it whole.
    CLocation* existing = target.GetLocation(0);
    EXPECT_EQ(LoadFailure(Bytes().Byte(0).Byte(1).Text("z"), [&](CArchive& ar) { existing->Serialize(ar); }),
              CArchiveException::endOfFile);
    EXPECT_EQ(existing->GetFilter(), "10.*");
    EXPECT_EQ(existing->GetUsername(), "alice");
}

TEST(LocationConcurrencyTest, LookupsWhileTheConsoleChangesTheArray) {
    CLocationArray array;
    array.AddLocation(new CLocation("192.168.*", "staff"));
    CLocationArray replacement;
    replacement.AddLocation(new CLocation("192.168.1.*", "alice"));
    replacement.AddLocation(new CLocation("192.168.*", "staff"));
    const auto bytes = StoreBytes([&](CArchive& ar) { replacement.Serialize(ar); });

    std::atomic<bool> stop{false};
    std::vector<std::thread> sessions;
    for (int t = 0; t < 3; ++t) {
        sessions.emplace_back([&] {
            while (!stop.load()) {
                const std::string user = array.GetUserForAddress("192.168.2.9");
                EXPECT_EQ(user, "staff");
                const std::string other = array.GetUserForAddress("192.168.1.9");
                EXPECT_TRUE(other == "staff" || other == "alice" || other == "") << other;
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        LoadBytes(bytes, [&](CArchive& ar) { array.Serialize(ar); });
        array.PromoteLocation("192.168.*");
        array.DemoteLocation("192.168.*");
        array.AddLocation(new CLocation("10.*", "x"));
        array.RemoveLocation("10.*");
    }
    stop = true;
    for (std::thread& session : sessions)
        session.join();
}

}  // namespace
