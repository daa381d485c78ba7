#include "engine/access/TimeFilter.h"

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

CDateTime At(int day, int hour, int minute = 0, int second = 0) {
    return CDateTime::FromParts(2024, 6, day, hour, minute, second);  // 06-03 is a Monday
}

CTimeSlice* Office() {
    return new CTimeSlice(CTimeSlice::kWeekdays, CDateTime::FromTime(9, 0, 0), CDateTime::FromTime(17, 0, 0));
}

CTimeSlice* Named(const std::string& name, DWORD mask = CTimeSlice::kEveryDay) {
    auto* slice = new CTimeSlice(mask);
    slice->SetName(name);
    return slice;
}

std::vector<std::string> Names(const CLockableList& list) {
    CScopedLock lock(list);
    std::vector<std::string> names;
    for (const CObject* slice : list)
        names.push_back(static_cast<const CTimeSlice*>(slice)->GetName());
    return names;
}

TEST(TimeFilterTest, WithoutInclusionsNothingIsAllowed) {
    CTimeFilter filter;
    EXPECT_FALSE(filter.Includes(At(3, 12)));
    filter.AddExclusion(new CTimeSlice(CTimeSlice::kWeekend));
    EXPECT_FALSE(filter.Includes(At(3, 12)));  // excluding the weekend allows nothing else
    EXPECT_FALSE(filter.Includes(At(8, 12)));
}

TEST(TimeFilterTest, InclusionsLessExclusions) {
    CTimeFilter filter;
    filter.AddInclusion(Office());
    filter.AddInclusion(new CTimeSlice(CTimeSlice::kWeekend, CDateTime::FromTime(10, 0, 0),
                                       CDateTime::FromTime(12, 0, 0)));
    filter.AddExclusion(new CTimeSlice(At(5, 0), At(5, 23, 59, 59)));  // a holiday
    struct Row {
        CDateTime moment;
        BOOL allowed;
    };
    const Row rows[] = {
        {At(3, 17, 0, 0), TRUE}, {At(3, 17, 0, 1), FALSE}, {At(4, 9), TRUE},
        {At(5, 12), FALSE},      // excluded
        {At(6, 12), TRUE},       {At(8, 11), TRUE},        {At(8, 13), FALSE},
        {At(9, 10, 0, 0), TRUE}, {At(9, 9, 59, 59), FALSE},
    };
    for (const Row& row : rows)
        EXPECT_EQ(filter.Includes(row.moment), row.allowed) << row.moment.Format("%c");
}

TEST(TimeFilterTest, AddingAndRemovingKeepsOneOwner) {
    CTimeFilter filter;
    CTimeSlice* a = Named("a");
    CTimeSlice* b = Named("b");
    EXPECT_TRUE(filter.AddInclusion(a));
    EXPECT_FALSE(filter.AddInclusion(a));  // that very slice is already there
    EXPECT_FALSE(filter.AddExclusion(a));  // and may not be owned twice
    EXPECT_FALSE(filter.AddInclusion(nullptr));
    EXPECT_TRUE(filter.AddExclusion(b));
    EXPECT_EQ(filter.GetInclusions().GetCount(), 1u);
    EXPECT_EQ(filter.GetExclusions().GetCount(), 1u);

    EXPECT_FALSE(filter.RemoveInclusion(b));  // not in that list: left alone
    EXPECT_EQ(filter.GetExclusions().GetCount(), 1u);
    EXPECT_TRUE(filter.RemoveInclusion(a));   // deleted
    EXPECT_EQ(filter.GetInclusions().GetCount(), 0u);
    EXPECT_FALSE(filter.RemoveExclusion(nullptr));
}

TEST(TimeFilterTest, CopyIsDeepAndOrdered) {
    CTimeFilter source("src", "desc");
    source.AddInclusion(Named("i1"));
    source.AddInclusion(Named("i2"));
    source.AddExclusion(Named("e1", CTimeSlice::kWeekend));
    CTimeFilter target;
    target.AddInclusion(Named("old"));
    target.Copy(source);
    EXPECT_EQ(target.GetName(), "src");
    EXPECT_EQ(target.GetDescription(), "desc");
    EXPECT_EQ(Names(target.GetInclusions()), (std::vector<std::string>{"i1", "i2"}));
    EXPECT_EQ(Names(target.GetExclusions()), (std::vector<std::string>{"e1"}));
    EXPECT_NE(target.GetInclusions().GetHead(), source.GetInclusions().GetHead());
    EXPECT_EQ(static_cast<CTimeSlice*>(target.GetExclusions().GetHead())->GetEveryWhat(), 65u);

    source.RemoveInclusion(static_cast<CTimeSlice*>(source.GetInclusions().GetHead()));
    EXPECT_EQ(Names(target.GetInclusions()).size(), 2u);

    target.Copy(target);  // onto itself: nothing changes
    EXPECT_EQ(Names(target.GetInclusions()), (std::vector<std::string>{"i1", "i2"}));
}

class TimeFilterStoreTest : public ::testing::Test {
protected:
    TempStateDir state;
    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }
};

TEST_F(TimeFilterStoreTest, SavedUnderNumberedSubKeysAfterTheOldTreeIsGone) {
    CTimeFilter filter("tf", "times");
    filter.AddInclusion(Named("i0"));
    filter.AddInclusion(Named("i1"));
    filter.AddExclusion(Named("e0"));
    ASSERT_TRUE(filter.SaveToRegistry("Rights\\R\\TimeFilter"));
    EXPECT_EQ(RegReadString("Rights\\R\\TimeFilter", "Name", "-"), "tf");
    EXPECT_EQ(RegReadString("Rights\\R\\TimeFilter", "Description", "-"), "times");
    EXPECT_EQ(RegReadString("Rights\\R\\TimeFilter\\Inclusion0", "Name", "-"), "i0");
    EXPECT_EQ(RegReadString("Rights\\R\\TimeFilter\\Inclusion1", "Name", "-"), "i1");
    EXPECT_EQ(RegReadString("Rights\\R\\TimeFilter\\Exclusion0", "Name", "-"), "e0");

    // A stray key below is removed with the old tree, and a shrunken list leaves nothing.
    ASSERT_TRUE(RegWriteString("Rights\\R\\TimeFilter\\Stray", "Name", "x"));
    filter.RemoveInclusion(static_cast<CTimeSlice*>(filter.GetInclusions().GetHead()));
    ASSERT_TRUE(filter.SaveToRegistry("Rights\\R\\TimeFilter"));
    std::vector<std::string> keys;
    {
        CRegKey key(OpenRegistryKey("Rights\\R\\TimeFilter"));
        ASSERT_TRUE(key);
        ASSERT_EQ(RegEnumKeyNames(key.Get(), &keys), ERROR_SUCCESS);
    }
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"Exclusion0", "Inclusion0"}));
    EXPECT_EQ(RegReadString("Rights\\R\\TimeFilter\\Inclusion0", "Name", "-"), "i1");
}

TEST_F(TimeFilterStoreTest, LoadSortsByNumberAndIgnoresOtherSubKeys) {
    const std::string path = "TF";
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(RegWriteString(path + "\\Inclusion" + std::to_string(i), "Name", "i" + std::to_string(i)));
    ASSERT_TRUE(RegWriteString(path + "\\Exclusion1", "Name", "e1"));
    ASSERT_TRUE(RegWriteString(path + "\\Exclusion0", "Name", "e0"));
    ASSERT_TRUE(RegWriteString(path + "\\inclusion99", "Name", "lower"));  // not "Incl"
    ASSERT_TRUE(RegWriteString(path + "\\Other", "Name", "other"));
    ASSERT_TRUE(RegWriteDWORD(path + "\\Inclusion3", "EveryWhat", 42));
    ASSERT_TRUE(RegWriteString(path, "Name", "loaded"));

    CTimeFilter filter;
    filter.AddInclusion(Named("stale"));
    filter.LoadFromRegistry(path);
    EXPECT_EQ(filter.GetName(), "loaded");
    EXPECT_EQ(Names(filter.GetInclusions()),
              (std::vector<std::string>{"i0", "i1", "i2", "i3", "i4", "i5", "i6", "i7", "i8", "i9",
                                        "i10", "i11"}));
    EXPECT_EQ(Names(filter.GetExclusions()), (std::vector<std::string>{"e0", "e1"}));
    CScopedLock lock(filter.GetInclusions());
    auto it = filter.GetInclusions().begin();
    std::advance(it, 3);
    EXPECT_EQ(static_cast<CTimeSlice*>(*it)->GetEveryWhat(), 42u);

    // Loading again gives the same lists, not twice as many.
    filter.LoadFromRegistry(path);
    EXPECT_EQ(filter.GetInclusions().GetCount(), 12u);
    EXPECT_EQ(filter.GetExclusions().GetCount(), 2u);
}

TEST_F(TimeFilterStoreTest, RegistryRoundTrip) {
    CTimeFilter filter("n", "d");
    filter.AddInclusion(Office());
    filter.AddExclusion(new CTimeSlice(At(5, 0), At(5, 23, 59, 59)));
    ASSERT_TRUE(filter.SaveToRegistry("RT"));
    CTimeFilter loaded;
    loaded.LoadFromRegistry("RT");
    for (const CDateTime& moment : {At(3, 12), At(5, 12), At(8, 12), At(3, 17, 0, 1)})
        EXPECT_EQ(loaded.Includes(moment), filter.Includes(moment)) << moment.Format("%c");
    EXPECT_TRUE(loaded.Includes(At(3, 12)));
    EXPECT_FALSE(loaded.Includes(At(5, 12)));
}

TEST(TimeFilterArchiveTest, Bytes) {
    CTimeFilter filter("f", "");
    CTimeSlice* a = Named("a");
    a->SetStartTime(CDateTime(0.5));
    a->SetEndTime(CDateTime(0.75));
    filter.AddInclusion(a);
    CTimeSlice* b = Named("b", 65);
    b->SetStartTime(CDateTime(0.5));
    b->SetEndTime(CDateTime(0.75));
    filter.AddExclusion(b);
    const auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(&filter); });
    const Bytes slice = Bytes().Dword(1).Dword(0);
    const Bytes times = Bytes().Dword(0).Hex("00 00 00 00 00 00 E0 3F").Dword(0).Hex("00 00 00 00 00 00 E8 3F");
    const Bytes expected = Bytes("FF FF 01 00 0B 00")
                               .Text("CTimeFilter")
                               .Byte(1).Text("f").Byte(0)
                               .Word(1)
                               .Hex("FF FF 01 00 0A 00").Text("CTimeSlice")
                               .Byte(1).Text("a").Byte(0).Append(slice).Dword(127).Append(times)
                               .Word(1)
                               .Hex("03 80")  // the slice class is entry 3
                               .Byte(1).Text("b").Byte(0).Append(slice).Dword(65).Append(times);
    EXPECT_EQ(expected, bytes) << HexDump(bytes, 200);

    std::unique_ptr<CTimeFilter> back;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back = ar.ReadOwnedObject<CTimeFilter>(); }));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->GetName(), "f");
    EXPECT_EQ(Names(back->GetInclusions()), (std::vector<std::string>{"a"}));
    EXPECT_EQ(Names(back->GetExclusions()), (std::vector<std::string>{"b"}));

    // Loading into a filter that holds slices replaces them.
    CTimeFilter target;
    target.AddInclusion(Named("old1"));
    target.AddInclusion(Named("old2"));
    const auto fields = StoreBytes([&](CArchive& ar) { filter.Serialize(ar); });
    EXPECT_TRUE(LoadBytes(fields, [&](CArchive& ar) { target.Serialize(ar); }));
    EXPECT_EQ(target.GetName(), "f");
    EXPECT_EQ(Names(target.GetInclusions()), (std::vector<std::string>{"a"}));
}

TEST(TimeFilterArchiveTest, HostileStreamsFailAndChangeNothing) {
    CTimeFilter target("keep", "me");
    target.AddInclusion(Named("old"));
    const Bytes head = Bytes().Byte(1).Text("f").Byte(0);
    const Bytes sliceRecord = Bytes("FF FF 01 00 0A 00").Text("CTimeSlice").Byte(1).Text("a").Byte(0)
                                  .Dword(1).Dword(0).Dword(127).Dword(0).Hex("00 00 00 00 00 00 E0 3F")
                                  .Dword(0).Hex("00 00 00 00 00 00 E8 3F");
    struct Case {
        const char* what;
        Bytes bytes;
        CArchiveException::Cause cause;
    };
    const Case cases[] = {
        {"truncated", Bytes(head).Word(1).Append(sliceRecord).Word(1), CArchiveException::endOfFile},
        {"null slice", Bytes(head).Word(1).Word(0).Word(0), CArchiveException::badClass},
        // Entry 2 is the first slice: the exclusions may not take it again.
        {"back-reference", Bytes(head).Word(1).Append(sliceRecord).Word(1).Hex("02 00"),
         CArchiveException::badIndex},
        {"wrong class", Bytes(head).Word(1).Hex("FF FF 01 00 0B 00").Text("CTimeFilter").Byte(0).Byte(0).Word(0).Word(0),
         CArchiveException::badClass},
        {"count beyond the stream", Bytes(head).Hex("FF FF FF FF FF 7F"), CArchiveException::endOfFile},
        {"unknown class", Bytes(head).Word(1).Hex("FF FF 01 00 05 00").Text("CEvil"), CArchiveException::badClass},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadFailure(c.bytes, [&](CArchive& ar) { target.Serialize(ar); }), c.cause) << c.what;
        EXPECT_EQ(target.GetName(), "keep") << c.what;
        EXPECT_EQ(target.GetDescription(), "me") << c.what;
        EXPECT_EQ(Names(target.GetInclusions()), (std::vector<std::string>{"old"})) << c.what;
        EXPECT_EQ(target.GetExclusions().GetCount(), 0u) << c.what;
    }
}

TEST(TimeFilterConcurrencyTest, TestingWhileTheListsAreReplaced) {
    CTimeFilter filter;
    filter.AddInclusion(Office());
    CTimeFilter source;
    source.AddInclusion(Office());
    source.AddExclusion(new CTimeSlice(CTimeSlice::kWeekend));
    const auto bytes = StoreBytes([&](CArchive& ar) { source.Serialize(ar); });
    std::atomic<bool> stop{false};
    std::thread tester([&] {
        while (!stop.load()) {
            EXPECT_TRUE(filter.Includes(At(3, 12)));
            EXPECT_FALSE(filter.Includes(At(3, 18)));
        }
    });
    for (int i = 0; i < 300; ++i) {
        filter.Copy(source);
        LoadBytes(bytes, [&](CArchive& ar) { filter.Serialize(ar); });
        CTimeSlice* extra = Named("x", CTimeSlice::kWeekend);
        filter.AddExclusion(extra);
        filter.RemoveExclusion(extra);
    }
    stop = true;
    tester.join();
}

}  // namespace
