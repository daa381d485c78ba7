#include "engine/access/RequestFilter.h"
#include "engine/access/RequestFilterCollection.h"
#include "engine/access/TimeSlice.h"

#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "support/ArchiveHelpers.h"
#include "support/FakeRequest.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

CRequestCriterion* New(DWORD index, DWORD comparison, const CNVDataObject& value, const char* name = "") {
    CRequestCriterion* criterion = NewCriterion(index, comparison, value);
    criterion->SetName(name);
    return criterion;
}

CCachePurgeCriterion* NewPurge(DWORD index, DWORD comparison, const CNVDataObject& value) {
    auto* criterion = new CCachePurgeCriterion();
    criterion->SetDataIndex(index);
    criterion->SetComparison(comparison);
    criterion->SetValue(value);
    return criterion;
}

// A filter "URL contains <word>" (and, with a method, "method equals <method>").
CRequestFilter* UrlFilter(const char* word, const char* method = nullptr) {
    auto* filter = new CRequestFilter(std::string("f-") + word, "");
    filter->AddCriterion(New(RequestHTTPURL, ComparisonContains, CNVDataObject(word)));
    if (method != nullptr)
        filter->AddCriterion(New(RequestHTTPMethod, ComparisonEquals, CNVDataObject(method)));
    return filter;
}

FakeRequest Request(const char* url, const char* method = "GET") {
    FakeRequest request;
    request.Set(RequestHTTPURL, CNVDataObject(url)).Set(RequestHTTPMethod, CNVDataObject(method));
    return request;
}

std::vector<std::string> Classes(const CRequestFilter& filter) {
    CScopedLock lock(filter.GetCriteria());
    std::vector<std::string> names;
    for (const CObject* criterion : filter.GetCriteria())
        names.push_back(criterion->GetRuntimeClass()->GetName());
    return names;
}

std::vector<std::string> Descriptions(const CRequestFilter& filter) {
    CScopedLock lock(filter.GetCriteria());
    std::vector<std::string> texts;
    for (CObject* criterion : filter.GetCriteria())
        texts.push_back(static_cast<CRequestCriterion*>(criterion)->GetDescriptionText());
    return texts;
}

std::vector<std::string> FilterNames(const CRequestFilterCollection& collection) {
    CScopedLock lock(collection);
    std::vector<std::string> names;
    for (const CObject* filter : collection)
        names.push_back(static_cast<const CRequestFilter*>(filter)->GetName());
    return names;
}

TEST(RequestFilterTest, AllCriteriaMustHoldAndAnEmptyFilterHoldsForAll) {
    CRequestFilter filter;
    FakeRequest anything;
    EXPECT_TRUE(filter.MatchRequest(anything));
    filter.AddCriterion(New(RequestHTTPURL, ComparisonContains, CNVDataObject("games")));
    filter.AddCriterion(New(RequestHTTPMethod, ComparisonEquals, CNVDataObject("GET")));
    auto both = Request("h/GAMES/1");
    auto post = Request("h/games/1", "POST");
    auto other = Request("h/news");
    EXPECT_TRUE(filter.MatchRequest(both));
    EXPECT_FALSE(filter.MatchRequest(post));
    EXPECT_FALSE(filter.MatchRequest(other));
    // The walk stops at the first criterion that fails.
    FakeRequest counted = Request("h/news");
    filter.MatchRequest(counted);
    EXPECT_EQ(counted.Lookups(), 1);
}

TEST(RequestFilterTest, OwnershipOfCriteria) {
    CRequestFilter filter;
    CRequestCriterion* first = New(0, 0, CNVDataObject("a"));
    EXPECT_TRUE(filter.AddCriterion(first));
    EXPECT_FALSE(filter.AddCriterion(first));
    EXPECT_FALSE(filter.AddCriterion(nullptr));
    CRequestCriterion outsider;
    EXPECT_FALSE(filter.RemoveCriterion(&outsider));
    EXPECT_TRUE(filter.RemoveCriterion(first));  // deleted
    EXPECT_TRUE(filter.GetCriteria().IsEmpty());
}

TEST(RequestFilterTest, CacheEntriesAreTestedByPurgeCriteriaOnly) {
    CRequestFilter stale("stale", "");
    stale.AddCriterion(NewPurge(CacheEntryHits, ComparisonLessThan, CNVDataObject(DWORD{2})));
    stale.AddCriterion(NewPurge(CacheEntryHoursSinceChecked, ComparisonGreaterThan, CNVDataObject(DWORD{48})));
    FakeCacheEntry entry;
    entry.Set(CacheEntryHits, CNVDataObject(DWORD{1})).Set(CacheEntryHoursSinceChecked, CNVDataObject(DWORD{100}));
    EXPECT_TRUE(stale.MatchCacheEntry(entry));
    entry.Set(CacheEntryHoursSinceChecked, CNVDataObject(DWORD{3}));
    EXPECT_FALSE(stale.MatchCacheEntry(entry));

    // A plain request criterion has no cache-entry test: the filter fails for entries.
    CRequestFilter mixed;
    mixed.AddCriterion(New(RequestClientIPNumber, ComparisonIsEmpty, CNVDataObject("")));
    EXPECT_FALSE(mixed.MatchCacheEntry(entry));
    CRequestFilter empty;
    EXPECT_TRUE(empty.MatchCacheEntry(entry));
}

TEST(RequestFilterTest, CopyMakesCriteriaOfTheSameClassInOrder) {
    CRequestFilter source("name", "text");
    source.AddCriterion(New(RequestHTTPURL, ComparisonContains, CNVDataObject("a")));
    source.AddCriterion(NewPurge(CacheEntryHits, ComparisonLessThan, CNVDataObject(DWORD{2})));
    source.AddCriterion(New(RequestClientPortNumber, ComparisonEquals, CNVDataObject(DWORD{80})));
    CRequestFilter copy;
    copy.AddCriterion(New(0, 0, CNVDataObject("old")));
    copy.Copy(source);
    EXPECT_EQ(copy.GetName(), "name");
    EXPECT_EQ(copy.GetDescription(), "text");
    EXPECT_EQ(Classes(copy), (std::vector<std::string>{"CRequestCriterion", "CCachePurgeCriterion", "CRequestCriterion"}));
    EXPECT_EQ(Descriptions(copy), Descriptions(source));
    {
        CScopedLock a(copy.GetCriteria()), b(source.GetCriteria());
        EXPECT_NE(copy.GetCriteria().GetHead(), source.GetCriteria().GetHead());  // new objects
    }
    copy.Copy(copy);
    EXPECT_EQ(copy.GetCriteria().GetCount(), 3u);
}

TEST(RequestFilterCollectionTest, OneFilterMustHoldAndAnEmptyCollectionHoldsForNone) {
    CRequestFilterCollection collection;
    FakeRequest anything;
    FakeCacheEntry entry;
    EXPECT_FALSE(collection.MatchRequest(anything));
    EXPECT_FALSE(collection.MatchCacheEntry(entry));
    collection.AddFilter(UrlFilter("games", "GET"));
    collection.AddFilter(UrlFilter("chat"));
    auto games = Request("h/games");
    auto gamesPost = Request("h/games", "POST");
    auto chatPost = Request("h/chat", "POST");
    auto news = Request("h/news");
    EXPECT_TRUE(collection.MatchRequest(games));
    EXPECT_FALSE(collection.MatchRequest(gamesPost));
    EXPECT_TRUE(collection.MatchRequest(chatPost));
    EXPECT_FALSE(collection.MatchRequest(news));

    // A collection holding an empty filter holds for every request.
    collection.AddFilter(new CRequestFilter());
    EXPECT_TRUE(collection.MatchRequest(news));
    EXPECT_TRUE(collection.MatchCacheEntry(entry));
}

TEST(RequestFilterCollectionTest, OwnershipAndCopy) {
    CRequestFilterCollection collection;
    CRequestFilter* games = UrlFilter("games");
    EXPECT_TRUE(collection.AddFilter(games));
    EXPECT_FALSE(collection.AddFilter(games));
    EXPECT_FALSE(collection.AddFilter(nullptr));
    collection.AddFilter(UrlFilter("chat", "GET"));

    CRequestFilterCollection copy;
    copy.AddFilter(UrlFilter("old"));
    copy.Copy(collection);
    EXPECT_EQ(FilterNames(copy), (std::vector<std::string>{"f-games", "f-chat"}));
    EXPECT_EQ(static_cast<CRequestFilter*>(copy.GetTail())->GetCriteria().GetCount(), 2u);
    EXPECT_NE(copy.GetHead(), collection.GetHead());
    copy.Copy(copy);
    EXPECT_EQ(copy.GetCount(), 2u);

    EXPECT_TRUE(collection.RemoveFilter(games));
    EXPECT_FALSE(collection.RemoveFilter(games));
    EXPECT_EQ(FilterNames(collection), (std::vector<std::string>{"f-chat"}));
}

class RequestFilterRegistryTest : public ::testing::Test {
protected:
    TempStateDir state;
    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }
};

TEST_F(RequestFilterRegistryTest, CriteriaUnderNumberedSubKeysWithTheirTypes) {
    CRequestFilter filter("web", "desc");
    filter.AddCriterion(New(RequestHTTPURL, ComparisonContains, CNVDataObject("a"), "c0"));
    filter.AddCriterion(NewPurge(CacheEntryHits, ComparisonLessThan, CNVDataObject(DWORD{2})));
    filter.AddCriterion(New(RequestClientPortNumber, ComparisonEquals, CNVDataObject(DWORD{80}), "c2"));
    RegWriteString("F\\Criterion7", "Type", "CRequestCriterion");  // stale: the save removes it
    ASSERT_TRUE(filter.SaveToRegistry("F"));
    EXPECT_EQ(RegEnumNumberedSubKeys("F", "Criterion"),
              (std::vector<std::string>{"Criterion0", "Criterion1", "Criterion2"}));
    EXPECT_EQ(RegReadString("F", "Name", ""), "web");
    EXPECT_EQ(RegReadString("F\\Criterion0", "Type", ""), "CRequestCriterion");
    EXPECT_EQ(RegReadString("F\\Criterion1", "Type", ""), "CCachePurgeCriterion");
    EXPECT_EQ(RegReadString("F\\Criterion2", "Name", ""), "c2");

    CRequestFilter loaded;
    loaded.AddCriterion(New(0, 0, CNVDataObject("old")));
    loaded.LoadFromRegistry("F");
    EXPECT_EQ(loaded.GetName(), "web");
    EXPECT_EQ(loaded.GetDescription(), "desc");
    EXPECT_EQ(Classes(loaded), (std::vector<std::string>{"CRequestCriterion", "CCachePurgeCriterion", "CRequestCriterion"}));
    EXPECT_EQ(Descriptions(loaded), Descriptions(filter));
    loaded.LoadFromRegistry("F");  // reloading replaces, never appends
    EXPECT_EQ(loaded.GetCriteria().GetCount(), 3u);
}

TEST_F(RequestFilterRegistryTest, LoadingSkipsUnknownTypesAndOutOfRangeCriteriaAndKeepsNumericOrder) {
    CRequestFilter filter;
    for (int i = 0; i < 12; ++i)
        filter.AddCriterion(New(RequestHTTPURL, ComparisonContains, CNVDataObject(std::to_string(i)),
                                ("c" + std::to_string(i)).c_str()));
    ASSERT_TRUE(filter.SaveToRegistry("F"));
    RegWriteString("F\\Criterion3", "Type", "CTimeSlice");
    RegWriteString("F\\Criterion4", "Type", "");
    RegWriteDWORD("F\\Criterion5", "DataIndex", 1000);
    RegWriteDWORD("F\\Criterion6", "Comparison", 1000);
    CRequestFilter loaded;
    loaded.LoadFromRegistry("F");
    std::vector<std::string> names;
    {
        CScopedLock lock(loaded.GetCriteria());
        for (const CObject* c : loaded.GetCriteria())
            names.push_back(static_cast<const CRequestCriterion*>(c)->GetName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"c0", "c1", "c2", "c7", "c8", "c9", "c10", "c11"}));
}

TEST_F(RequestFilterRegistryTest, CollectionSavesFiltersAndReloadsWithoutDuplicates) {
    CRequestFilterCollection collection;
    collection.AddFilter(UrlFilter("games", "GET"));
    collection.AddFilter(UrlFilter("chat"));
    RegWriteString("C\\Filter9", "Name", "stale");
    ASSERT_TRUE(collection.SaveToRegistry("C"));
    EXPECT_EQ(RegEnumNumberedSubKeys("C", "Filter"), (std::vector<std::string>{"Filter0", "Filter1"}));
    EXPECT_EQ(RegReadString("C\\Filter0\\Criterion1", "Type", ""), "CRequestCriterion");

    CRequestFilterCollection loaded;
    loaded.LoadFromRegistry("C");
    loaded.LoadFromRegistry("C");
    EXPECT_EQ(FilterNames(loaded), (std::vector<std::string>{"f-games", "f-chat"}));
    auto chat = Request("h/chat", "PUT");
    EXPECT_TRUE(loaded.MatchRequest(chat));

    CRequestFilterCollection().SaveToRegistry("C");
    loaded.LoadFromRegistry("C");
    EXPECT_TRUE(loaded.IsEmpty());
}

TEST(RequestFilterArchiveTest, CollectionBytesByHand) {
    CRequestFilterCollection collection;
    auto* filter = new CRequestFilter("f", "");
    filter->AddCriterion(New(RequestClientPortNumber, ComparisonEquals, CNVDataObject(DWORD{80})));
    filter->AddCriterion(New(RequestClientPortNumber, ComparisonLessThan, CNVDataObject(DWORD{9})));
    collection.AddFilter(filter);
    collection.AddFilter(new CRequestFilter("g", "h"));

    auto criterionFields = [](DWORD comparison, DWORD value) {
        return Bytes().Byte(0).Byte(0).Dword(comparison).Dword(1).Byte(0).Dword(0)
            .Dword(1).Dword(value).Dword(0).Hex("00 00 00 00 00 00 00 00").Byte(0);
    };
    // Entries: 1 class CRequestFilter, 2 filter f, 3 class CRequestCriterion, 4 and 5 the
    // criteria, 6 filter g (a WORD class reference 0x8001 to entry 1).
    const Bytes expected = Bytes()
                               .Word(2)
                               .Hex("FF FF 01 00 0E 00").Text("CRequestFilter").Byte(1).Text("f").Byte(0)
                               .Word(2)
                               .Hex("FF FF 01 00 11 00").Text("CRequestCriterion").Append(criterionFields(0, 80))
                               .Hex("03 80").Append(criterionFields(2, 9))
                               .Hex("01 80").Byte(1).Text("g").Byte(1).Text("h").Word(0);
    EXPECT_EQ(expected, StoreBytes([&](CArchive& ar) { collection.Serialize(ar); }))
        << HexDump(StoreBytes([&](CArchive& ar) { collection.Serialize(ar); }), 200);

    CRequestFilterCollection loaded;
    loaded.AddFilter(UrlFilter("old"));
    EXPECT_TRUE(LoadBytes(expected, [&](CArchive& ar) { loaded.Serialize(ar); }));
    EXPECT_EQ(FilterNames(loaded), (std::vector<std::string>{"f", "g"}));
    FakeRequest port5;
    port5.Set(RequestClientPortNumber, CNVDataObject(DWORD{5}));
    EXPECT_TRUE(loaded.MatchRequest(port5));  // the empty filter g
}

TEST(RequestFilterArchiveTest, BadStreamsLeaveListsAsTheyWere) {
    CRequestFilterCollection collection;
    collection.AddFilter(UrlFilter("keep"));
    auto load = [&](CArchive& ar) { collection.Serialize(ar); };
    auto kept = [&] { EXPECT_EQ(FilterNames(collection), (std::vector<std::string>{"f-keep"})); };

    // A filter whose second criterion has an out-of-range comparison.
    const Bytes badCriterion = Bytes()
                                   .Word(1)
                                   .Hex("FF FF 01 00 0E 00").Text("CRequestFilter").Byte(1).Text("f").Byte(0)
                                   .Word(1)
                                   .Hex("FF FF 01 00 11 00").Text("CRequestCriterion")
                                   .Byte(0).Byte(0).Dword(9).Dword(1).Byte(0).Dword(0)
                                   .Dword(1).Dword(0).Dword(0).Hex("00 00 00 00 00 00 00 00").Byte(0);
    EXPECT_EQ(LoadFailure(badCriterion, load), CArchiveException::generic);
    kept();
    // Another class in the list.
    CTimeSlice slice;
    const auto sliceBytes = StoreBytes([&](CArchive& ar) {
        ar.WriteCount(1);
        ar.WriteObject(&slice);
    });
    EXPECT_EQ(LoadFailure(Bytes().Text(std::string(sliceBytes.begin(), sliceBytes.end())), load),
              CArchiveException::badClass);
    kept();
    // A count beyond the bytes, a null element, and a back-reference to the first filter.
    EXPECT_EQ(LoadFailure(Bytes().Word(500), load), CArchiveException::endOfFile);
    EXPECT_EQ(LoadFailure(Bytes().Word(1).Word(0), load), CArchiveException::badClass);
    const Bytes twice = Bytes()
                            .Word(2)
                            .Hex("FF FF 01 00 0E 00").Text("CRequestFilter").Byte(0).Byte(0).Word(0)
                            .Word(2);
    EXPECT_EQ(LoadFailure(twice, load), CArchiveException::badIndex);
    kept();

    // The same for a filter's criteria.
    CRequestFilter filter("keep", "");
    filter.AddCriterion(New(0, 0, CNVDataObject("a")));
    EXPECT_EQ(LoadFailure(Bytes().Byte(1).Text("x").Byte(0).Word(1).Word(0),
                          [&](CArchive& ar) { filter.Serialize(ar); }),
              CArchiveException::badClass);
    EXPECT_EQ(filter.GetName(), "keep");
    EXPECT_EQ(filter.GetCriteria().GetCount(), 1u);
}

TEST(RequestFilterCollectionTest, TestsRunWhileTheListsAreReplaced) {
    CRequestFilterCollection collection;
    collection.AddFilter(UrlFilter("games", "GET"));
    CRequestFilterCollection other;
    other.AddFilter(UrlFilter("games"));
    other.AddFilter(UrlFilter("chat"));
    const auto bytes = StoreBytes([&](CArchive& ar) { other.Serialize(ar); });

    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> testers;
    for (int t = 0; t < 3; ++t) {
        testers.emplace_back([&] {
            while (!stop) {
                auto games = Request("h/games");
                auto news = Request("h/news");
                if (!collection.MatchRequest(games) || collection.MatchRequest(news))
                    ++wrong;
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        if (i % 2 == 0)
            collection.Copy(other);
        else
            LoadBytes(bytes, [&](CArchive& ar) { collection.Serialize(ar); });
        CScopedLock lock(collection);
        static_cast<CRequestFilter*>(collection.GetHead())->Copy(*static_cast<CRequestFilter*>(other.GetHead()));
    }
    stop = true;
    for (auto& t : testers)
        t.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
