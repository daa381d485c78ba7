#include "proxies/web/WWWCache.h"

#include "engine/access/CachePurgeCriterion.h"
#include "foundation/RegistryStore.h"
#include "proxies/web/CacheFormat.h"
#include "support/ArchiveHelpers.h"
#include "support/ChildProcess.h"
#include "support/FakeRequest.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The record of the index file for URL "h/a", written out by hand.
Bytes RecordHA(const char* name = "00000001") {
    return Bytes()
        .Byte(3).Text("h/a")
        .Byte(8).Text(name)
        .Dword(0x5F5E1000)   // last checked
        .Dword(0x12345678)   // last modified
        .Byte(9).Text("text/html")
        .Dword(1234)         // size
        .Dword(3);           // hits
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

class CacheTest : public ::testing::Test {
protected:
    TempDir dir;
    CWWWCache cache;
    int notified = 0;

    void SetUp() override {
        cache.SetCacheDirectory(dir.Path());
        cache.SetSettingsNotifier([this] { ++notified; });
    }
    std::string IndexPath() const { return dir.Path() + "/cache.idx"; }
    std::string FilePath(const std::string& name) const { return dir.Path() + "/" + name + ".nvc"; }

    // A download of `size` bytes under `key`, as a session stores one.
    CCacheEntryRef Store(const std::string& key, DWORD size, const char* type = "text/plain") {
        CCacheEntryRef entry = cache.AllocateEntry(key);
        EXPECT_TRUE(entry->HasFileName());
        WriteAll(cache.GetContentPath(*entry), std::vector<std::uint8_t>(size, 'x'));
        cache.AddEntry(entry, SCompletedDownload{1000, type, size});
        return entry;
    }
};

}  // namespace

TEST(CacheEntryTest, IndexRecordBytesAndTimesClampedToUnsigned32) {
    CCacheEntry entry("h/a");
    entry.SetFileName("00000001");
    entry.SetLastChecked(0x5F5E1000);
    entry.SetLastModified(0x12345678);
    entry.SetContentType("text/html");
    entry.SetSize(1234);
    entry.SetHits(3);
    EXPECT_EQ(RecordHA(), StoreBytes([&](CArchive& ar) { entry.Serialize(ar); }));

    CCacheEntry back;
    EXPECT_TRUE(LoadBytes(RecordHA(), [&](CArchive& ar) { back.Serialize(ar); }));
    EXPECT_EQ(back.GetURL(), "h/a");
    EXPECT_EQ(back.GetFileName(), "00000001");
    EXPECT_EQ(back.GetLastChecked(), 0x5F5E1000);
    EXPECT_EQ(back.GetLastModified(), 0x12345678);
    EXPECT_EQ(back.GetContentType(), "text/html");
    EXPECT_EQ(back.GetSize(), 1234u);
    EXPECT_EQ(back.GetHits(), 3u);

    entry.SetLastChecked(-5);
    entry.SetLastModified(std::int64_t{1} << 33);
    auto bytes = StoreBytes([&](CArchive& ar) { entry.Serialize(ar); });
    EXPECT_EQ(Bytes().Dword(0).Dword(0xFFFFFFFF).Get(),
              std::vector<std::uint8_t>(bytes.begin() + 13, bytes.begin() + 21));
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back.Serialize(ar); }));
    EXPECT_EQ(back.GetLastModified(), 0xFFFFFFFFll);

    // A URL longer than any request head is damage, not a record.
    std::string huge(CacheFormat::kMaxRecordText + 1, 'u');
    Bytes damaged = Bytes().Byte(0xFF).Word(0xFFFF).Dword(static_cast<std::uint32_t>(huge.size()))
                        .Text(huge);
    EXPECT_EQ(LoadFailure(damaged, [&](CArchive& ar) { back.Serialize(ar); }),
              CArchiveException::generic);
}

TEST(CacheEntryTest, ValuesForPurgeCriteria) {
    CCacheEntry entry("h/a");
    entry.SetFileName("0000000A");
    entry.SetContentType("image/png");
    entry.SetSize(70000);
    entry.SetHits(70000);  // 4.9e9: beyond 32 bits
    entry.SetLastChecked(Now() - 5 * 3600 - 10);
    entry.SetLastModified(Now() + 3600);  // the clock moved back

    auto value = [&](DWORD index) {
        CNVDataObject data(std::int32_t{-7});
        entry.GetValue(index, data);
        return data;
    };
    EXPECT_EQ(value(0).strData, "h/a");
    EXPECT_EQ(value(1).strData, "0000000A");
    EXPECT_EQ(value(2).dwData, 70000u);
    EXPECT_EQ(value(3).strData, "image/png");
    EXPECT_EQ(value(4).dwData, 70000u);
    EXPECT_EQ(value(5).DataType, CNVDataObject::TypeDouble);
    EXPECT_EQ(value(5).dData, 4.9e9);
    EXPECT_EQ(value(6).dData, 100.0);  // no cache: nothing served
    EXPECT_EQ(value(7).dwData, 5u);
    EXPECT_EQ(value(8).dwData, 0u);
    EXPECT_EQ(value(9).nData, -7);  // unchanged
    for (DWORD i = 0; i < kCacheEntryValueCount; ++i)
        EXPECT_EQ(value(i).DataType, kCacheEntryValues[i].type) << i;

    auto totals = std::make_shared<SCacheTotals>();
    totals->size = 1000.0;
    totals->served = 4.0e9;
    entry.SetTotals(totals);
    EXPECT_DOUBLE_EQ(value(6).dData, 70000.0 * 1000.0 * 100.0 / 4.0e9);

    // A purge criterion on the 64-bit product matches.
    CCachePurgeCriterion big;
    big.SetDataIndex(CacheEntryHitsTimesSize);
    big.SetComparison(ComparisonGreaterThan);
    big.SetValue(CNVDataObject(4.0e9));
    EXPECT_TRUE(big.MatchCacheEntry(entry));
}

TEST(WWWCacheSettingsTest, DefaultsRegistryAndArchiveForms) {
    TempStateDir state;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    CWWWCache cache;
    EXPECT_EQ(cache.GetCacheDirectory(), "cache");
    EXPECT_EQ(cache.GetCacheOptions(), 3u);
    EXPECT_EQ(cache.GetLimitCacheSize(), 1u);
    EXPECT_EQ(cache.GetMaxSize(), 100u);
    EXPECT_EQ(cache.GetAutoPurge(), 1u);
    EXPECT_EQ(cache.GetDaysBeforeCheckVolatile(), 2u);
    EXPECT_EQ(cache.GetDaysBeforeCheckNonVolatile(), 60u);

    cache.SetCacheDirectory("c");
    cache.SetCacheOptions(1);
    cache.SetSpecifyWhatToCache(2);
    cache.SetLimitCacheSize(3);
    cache.SetMaxSize(4);
    cache.SetAutoPurge(5);
    cache.SetDaysBeforeCheckVolatile(6);
    cache.SetDaysBeforeCheckNonVolatile(7);
    cache.GetPurgeFilter().AddFilter(NewUrlFilter("x", "f"));
    ASSERT_TRUE(cache.SaveToRegistry("Cache"));
    EXPECT_EQ(RegReadString("Cache", "CacheDirectory", ""), "c");
    const char* names[] = {"CacheOptions", "SpecifyWhatToCache", "LimitCacheSize", "MaxSize",
                           "AutoPurge", "DaysBeforeCheckVolatile", "DaysBeforeCheckNonVolatile"};
    for (DWORD i = 0; i < 7; ++i)
        EXPECT_EQ(RegReadDWORD("Cache", names[i], 0), i + 1) << names[i];
    CWWWCache loaded;
    loaded.LoadFromRegistry("Cache");
    EXPECT_EQ(loaded.GetDaysBeforeCheckNonVolatile(), 7u);
    EXPECT_EQ(loaded.GetPurgeFilter().GetCount(), 1u);
    EXPECT_EQ(loaded.GetCacheFilter().GetCount(), 0u);

    // The archive's order differs from the registry's: limit before specify.
    cache.GetPurgeFilter().RemoveAll();
    Bytes expected = Bytes().Byte(1).Text("c").Dword(1).Dword(3).Dword(2).Dword(4).Dword(5)
                         .Dword(6).Dword(7).Hex("0000000000000000 0000000000000000")
                         .Word(0).Word(0);
    EXPECT_EQ(expected, StoreBytes([&](CArchive& ar) { cache.Serialize(ar); }));

    // Totals sent by a console never overwrite a live cache's.
    Bytes withTotals = Bytes().Byte(1).Text("d").Dword(2).Dword(1).Dword(0).Dword(9).Dword(1)
                           .Dword(2).Dword(60).Hex("0000000000005940 0000000000005940")
                           .Word(0).Word(0);  // totals 100.0 and 100.0
    CWWWCache copy;
    EXPECT_TRUE(LoadBytes(withTotals, [&](CArchive& ar) { copy.Serialize(ar); }));
    EXPECT_EQ(copy.GetTotalSize(), 100.0);
    EXPECT_EQ(copy.GetMaxSize(), 9u);
    cache.MarkLive();
    EXPECT_TRUE(LoadBytes(withTotals, [&](CArchive& ar) { cache.Serialize(ar); }));
    EXPECT_EQ(cache.GetCacheDirectory(), "d");
    EXPECT_EQ(cache.GetTotalSize(), 0.0);
    // A cut form changes nothing.
    Bytes cut = Bytes().Byte(1).Text("d").Dword(2).Dword(1).Dword(0).Dword(9).Dword(1).Dword(2)
                    .Dword(60).Hex("0000000000005940 0000000000005940").Word(0);
    CWWWCache untouched;
    EXPECT_EQ(LoadFailure(cut, [&](CArchive& ar) { untouched.Serialize(ar); }),
              CArchiveException::endOfFile);
    EXPECT_EQ(untouched.GetCacheDirectory(), "cache");
}

TEST(WWWCacheSettingsTest, CacheableRequests) {
    CWWWCache cache;
    FakeRequest get, post;
    get.Set(RequestHTTPProtocol, CNVDataObject("http")).Set(RequestHTTPMethod, CNVDataObject("Get"))
        .Set(RequestHTTPURL, CNVDataObject("h/news"));
    post.Set(RequestHTTPProtocol, CNVDataObject("HTTP")).Set(RequestHTTPMethod, CNVDataObject("POST"));
    EXPECT_TRUE(cache.IsCacheable(get));
    EXPECT_FALSE(cache.IsCacheable(post));
    cache.SetSpecifyWhatToCache(1);
    EXPECT_FALSE(cache.IsCacheable(get));  // an empty filter admits nothing
    cache.GetCacheFilter().AddFilter(NewUrlFilter("news"));
    EXPECT_TRUE(cache.IsCacheable(get));

    CCacheEntry page("h/a"), image("h/b");
    page.SetContentType("TEXT/HTML");
    image.SetContentType("image/png");
    const std::int64_t now = Now();
    page.SetLastChecked(now - 2 * 86400 + 60);
    image.SetLastChecked(now - 2 * 86400 - 60);
    EXPECT_TRUE(cache.IsFresh(page, now));
    EXPECT_TRUE(cache.IsFresh(image, now));
    page.SetLastChecked(now - 2 * 86400 - 60);
    EXPECT_FALSE(cache.IsFresh(page, now));
}

TEST_F(CacheTest, AddLookupRemoveAndTheIndexRecordAppended) {
    cache.LoadIndex();
    EXPECT_TRUE(fs::exists(IndexPath()));
    CCacheEntryRef entry = Store("h/a", 1234, "text/html");
    EXPECT_EQ(entry->GetFileName(), "00000001");
    EXPECT_EQ(cache.GetContentPath(*entry), FilePath("00000001"));
    EXPECT_EQ(cache.Lookup("h/a").Get(), entry.Get());
    EXPECT_EQ(cache.GetTotalSize(), 1234.0);
    entry->SetLastChecked(0x5F5E1000);
    entry->SetLastModified(0x12345678);
    entry->SetHits(3);
    // Appended at registration, with the values it had then.
    auto appended = ReadAll(IndexPath());
    EXPECT_EQ(appended.size(), RecordHA().Size());
    cache.WriteIndex();
    EXPECT_EQ(RecordHA(), ReadAll(IndexPath()));
    EXPECT_EQ(cache.GetTotalServed(), 3 * 1234.0);

    // Registering twice, or an entry of no allocation, changes nothing.
    EXPECT_FALSE(cache.AddEntry(entry));
    EXPECT_FALSE(cache.AddEntry(CCacheEntryRef::Adopt(new CCacheEntry("h/z"))));

    cache.RemoveEntryByURL("HTTP://h/a");
    EXPECT_FALSE(cache.Contains("h/a"));
    EXPECT_FALSE(fs::exists(FilePath("00000001")));
    EXPECT_EQ(cache.GetTotalSize(), 0.0);
    Store("h/a", 10);
    cache.RemoveEntryByURL("h/a");
    EXPECT_FALSE(cache.Contains("h/a"));
    // The session still holding the entry keeps a whole object.
    EXPECT_EQ(entry->GetURL(), "h/a");
}

TEST_F(CacheTest, ReuseAndReplacementLeaveNoOrphansAndTrueTotals) {
    cache.LoadIndex();
    CCacheEntryRef first = Store("h/a", 100);
    cache.CountHit(*first, Now());
    const std::string firstPath = FilePath(first->GetFileName());
    first.Reset();
    // A new download of a mapped key removes the old copy at once, and keeps its hit count;
    // the old file waits as a spare while its record is the last of the key.
    CCacheEntryRef second = cache.AllocateEntry("h/a");
    EXPECT_FALSE(cache.Contains("h/a"));
    EXPECT_TRUE(fs::exists(firstPath));
    EXPECT_EQ(cache.GetTotalSize(), 0.0);
    EXPECT_EQ(second->GetHits(), 1u);
    // Meanwhile another session stored the key: registering replaces that one.
    const std::string thirdPath = FilePath(Store("h/a", 50)->GetFileName());
    WriteAll(cache.GetContentPath(*second), std::vector<std::uint8_t>(70, 'y'));
    EXPECT_TRUE(cache.AddEntry(second, SCompletedDownload{1, "text/plain", 70}));
    EXPECT_EQ(cache.Lookup("h/a").Get(), second.Get());
    cache.DiscardEntry(cache.AllocateEntry("h/c"));  // takes the replaced copy's file
    EXPECT_FALSE(fs::exists(thirdPath));
    EXPECT_EQ(cache.GetTotalSize(), 70.0);

    // A discarded download leaves no file; a mapped entry's file is never discarded.
    CCacheEntryRef dropped = cache.AllocateEntry("h/b");
    WriteAll(cache.GetContentPath(*dropped), {1, 2});
    cache.DiscardEntry(dropped);
    EXPECT_FALSE(fs::exists(cache.GetContentPath(*dropped)));
    cache.DiscardEntry(second);
    EXPECT_TRUE(fs::exists(cache.GetContentPath(*second)));
}

TEST_F(CacheTest, ReplacedCopiesNobodyHoldsAreTakenOverByLaterStoresAndGoAtClose) {
    const auto fileOf = [](const std::string& path) {
        struct stat st{};
        return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    cache.LoadIndex();
    const std::string firstPath = FilePath(Store("h/a", 100)->GetFileName());
    // Replaced, its record still the last of the key: the file keeps its content and name, and
    // the new download gets a file of its own.
    CCacheEntryRef second = cache.AllocateEntry("h/a");
    EXPECT_EQ(ReadAll(firstPath).size(), 100u);
    EXPECT_NE(cache.GetContentPath(*second), firstPath);
    // Two downloads of the key at once: the copy the later registration displaces waits under
    // its own name, and the next store (of any key) takes it. The record that replaced it is
    // in the index already, so it is written over under that name, no rename.
    CCacheEntryRef third = cache.AllocateEntry("h/a");
    WriteAll(cache.GetContentPath(*second), std::vector<std::uint8_t>(70, 'y'));
    WriteAll(cache.GetContentPath(*third), std::vector<std::uint8_t>(50, 'z'));
    ASSERT_TRUE(cache.AddEntry(second, SCompletedDownload{1, "text/plain", 70}));
    const std::string secondPath = cache.GetContentPath(*second);
    const ino_t secondFile = fileOf(secondPath);
    second.Reset();
    ASSERT_TRUE(cache.AddEntry(third, SCompletedDownload{1, "text/plain", 50}));
    EXPECT_EQ(ReadAll(secondPath).size(), 70u);
    EXPECT_EQ(cache.GetTotalSize(), 50.0);
    CCacheEntryRef other = cache.AllocateEntry("h/b");
    EXPECT_EQ(cache.GetContentPath(*other), secondPath);
    EXPECT_EQ(fileOf(secondPath), secondFile);
    cache.DiscardEntry(other);
    EXPECT_FALSE(fs::exists(secondPath));
    // A copy a session still holds is handed on only once it is let go; spares go at Close.
    const std::string heldPath = cache.GetContentPath(*third);
    Store("h/a", 5);
    CCacheEntryRef notYet = cache.AllocateEntry("h/d");
    EXPECT_EQ(ReadAll(heldPath).size(), 50u);
    EXPECT_NE(cache.GetContentPath(*notYet), heldPath);
    cache.DiscardEntry(notYet);
    third.Reset();
    CCacheEntryRef now = cache.AllocateEntry("h/d");
    EXPECT_EQ(cache.GetContentPath(*now), heldPath);
    EXPECT_EQ(ReadAll(heldPath).size(), 50u);
    cache.DiscardEntry(now);
    CCacheEntryRef early = cache.AllocateEntry("h/c"), late = cache.AllocateEntry("h/c");
    const std::string sparePath = cache.GetContentPath(*early);
    WriteAll(sparePath, {1});
    WriteAll(cache.GetContentPath(*late), {2});
    ASSERT_TRUE(cache.AddEntry(early, SCompletedDownload{1, "a/b", 1}));
    early.Reset();
    ASSERT_TRUE(cache.AddEntry(late, SCompletedDownload{1, "a/b", 1}));
    EXPECT_TRUE(fs::exists(sparePath));
    cache.Close();
    EXPECT_FALSE(fs::exists(sparePath));
}

TEST_F(CacheTest, StoresWriteOverDeadCopiesInPlaceThroughKeptDescriptorsAndLoadBackTrue) {
    cache.LoadIndex();
    // A download as a session makes one, noting the length of the file it was handed open
    // (-1: none handed).
    std::int64_t held = -1;
    const auto store = [&](const std::string& key, const std::string& body) {
        SContentFile file;
        CCacheEntryRef entry = cache.AllocateEntry(key, nullptr, &file);
        held = file.handle.IsValid() ? static_cast<std::int64_t>(file.length) : -1;
        WriteAll(cache.GetContentPath(*entry), {body.begin(), body.end()});
        file.length = body.size();
        EXPECT_TRUE(cache.AddEntry(
            entry, SCompletedDownload{1, "a/b", DWORD(body.size()), std::move(file)}));
        return entry->GetFileName();
    };
    const auto contents = [&](const std::string& name) {
        const auto bytes = ReadAll(FilePath(name));
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(store("h/a", "first copy"), "00000001");
    EXPECT_EQ(held, 0);  // created by the allocation
    // Its record is still the last of h/a: a new file, the spare left alone.
    EXPECT_EQ(store("h/a", "second"), "00000002");
    EXPECT_EQ(contents("00000001"), "first copy");
    // Now (h/a, 00000001) is dead: handed over open, to be written over under its name.
    EXPECT_EQ(store("h/a", "third"), "00000001");
    EXPECT_EQ(held, 10);
    EXPECT_FALSE(fs::exists(FilePath("00000003")));
    EXPECT_EQ(store("h/b", "b, longer than the copy it replaces"), "00000002");
    EXPECT_EQ(held, 6);
    // The file of a store that could take no spare is created by the allocation, and held
    // open for the download.
    CCacheEntryRef fresh = cache.AllocateEntry("h/c");
    EXPECT_EQ(fresh->GetFileName(), "00000003");
    EXPECT_TRUE(fs::exists(FilePath("00000003")));
    cache.DiscardEntry(fresh);
    EXPECT_FALSE(fs::exists(FilePath("00000003")));
    // A descriptor the cache kept, for a file written some other way, is dropped at the
    // registration: the copy's length is not taken on trust by the store that takes it over.
    const std::string written = FilePath(Store("h/c", 9)->GetFileName());
    Store("h/c", 1);
    EXPECT_EQ(FilePath(store("h/d", "1234")), written);
    EXPECT_EQ(held, -1);

    // The index holds (h/a, 1), (h/a, 2), (h/a, 1), (h/b, 2): read back after a crash (no
    // rewrite), each key finds its own last copy and no file is lost.
    CWWWCache reloaded;
    reloaded.SetCacheDirectory(dir.Path());
    reloaded.LoadIndex();
    EXPECT_EQ(reloaded.Lookup("h/a")->GetFileName(), "00000001");
    EXPECT_EQ(reloaded.Lookup("h/b")->GetFileName(), "00000002");
    EXPECT_EQ(contents("00000001"), "third");
    EXPECT_EQ(contents("00000002"), "b, longer than the copy it replaces");
    // A copy replaced without the replacing store's file surviving goes at the load.
    Bytes index;
    index.Append(RecordHA("00000004")).Append(RecordHA("00000005"));
    WriteAll(IndexPath(), index.Get());
    WriteAll(FilePath("00000004"), {1});
    reloaded.LoadIndex();
    EXPECT_EQ(reloaded.Lookup("h/a")->GetFileName(), "00000005");
    EXPECT_FALSE(fs::exists(FilePath("00000004")));

    // Replaced copies whose records stay live (their new downloads dropped) pile up to the
    // bound of 64; from then on a store renames one rather than create a file.
    std::string spare;
    CCacheEntryRef again;
    for (int i = 0; i < 64; ++i) {
        const std::string key = "h/p" + std::to_string(i);
        spare = FilePath(Store(key, 1)->GetFileName());
        again = cache.AllocateEntry(key);  // the 64th spare is taken over at once
        if (i < 63)
            cache.DiscardEntry(again);
    }
    EXPECT_FALSE(fs::exists(spare));
    EXPECT_EQ(ReadAll(cache.GetContentPath(*again)).size(), 1u);
}

TEST_F(CacheTest, StoringOneKeyAgainAndAgainKeepsTheIndexSmall) {
    cache.LoadIndex();
    CCacheEntryRef last = Store("h/again", 1);
    const auto record = fs::file_size(IndexPath());
    ASSERT_GT(record, 0u);
    // Three times the size at which appends make the index due for a rewrite.
    for (auto stores = 3 * 256 * 1024 / record; stores > 0; --stores)
        last = Store("h/again", 1);
    EXPECT_LT(fs::file_size(IndexPath()), 256u * 1024 + 4 * record);
    cache.Close();
    CWWWCache reopened;
    reopened.SetCacheDirectory(dir.Path());
    reopened.LoadIndex();
    EXPECT_EQ(reopened.Lookup("h/again")->GetFileName(), last->GetFileName());
}

TEST_F(CacheTest, LoadingTheIndexDuplicatesBadNamesDamageAndTheCounter) {
    Bytes index;
    index.Append(RecordHA("00000001"));
    // A name that is not ours (it would be unlinked later): skipped, its file left alone.
    index.Append(Bytes().Byte(3).Text("h/b").Byte(8).Text("../../ab").Dword(0).Dword(0)
                     .Byte(0).Dword(5).Dword(0));
    index.Append(RecordHA("0000000Z"));  // the later record for h/a wins
    Bytes good = index;
    index.Append(Bytes().Byte(3).Text("h/c").Byte(8));  // cut short
    WriteAll(IndexPath(), index.Get());
    WriteAll(FilePath("00000001"), {1});
    WriteAll(FilePath("0000000Z"), {1});
    WriteAll(dir.Path() + "/../../ab.nvc", {});

    cache.LoadIndex();
    EXPECT_EQ(cache.GetCount(), 1u);
    EXPECT_EQ(cache.Lookup("h/a")->GetFileName(), "0000000Z");
    EXPECT_FALSE(fs::exists(FilePath("00000001")));
    EXPECT_TRUE(fs::exists(FilePath("0000000Z")));
    EXPECT_TRUE(fs::exists(dir.Path() + "/../../ab.nvc"));
    fs::remove(dir.Path() + "/../../ab.nvc");
    // Rewritten whole: the damaged tail is gone.
    EXPECT_EQ(RecordHA("0000000Z"), ReadAll(IndexPath()));
    EXPECT_EQ(cache.GetTotalSize(), 1234.0);
    EXPECT_EQ(cache.GetTotalServed(), 3 * 1234.0);
    // The counter went up to the highest name: 0000000Z advances to 00000010.
    EXPECT_EQ(cache.AllocateEntry("h/x")->GetFileName(), "00000010");

    WriteAll(IndexPath(), RecordHA("ZZZZZZZY").Get());
    cache.LoadIndex();
    EXPECT_EQ(cache.AllocateEntry("h/y")->GetFileName(), "00000000");
}

TEST_F(CacheTest, FullCacheWithoutAutoPurgeDropsTheDownloadAndSuspendsStoring) {
    cache.SetMaxSize(1);
    cache.SetAutoPurge(0);
    cache.LoadIndex();
    Store("h/a", 1000000);
    EXPECT_TRUE(cache.IsStoringEnabled());
    CCacheEntryRef over = Store("h/b", 48577 + 1);
    EXPECT_FALSE(cache.Contains("h/b"));
    EXPECT_FALSE(fs::exists(cache.GetContentPath(*over)));
    EXPECT_EQ(cache.GetCacheOptions(), 2u);
    EXPECT_FALSE(cache.IsStoringEnabled());
    EXPECT_TRUE(cache.IsLookupEnabled());
    EXPECT_EQ(notified, 1);
    // A removal that makes room resumes what the size suspended...
    cache.RemoveEntry("h/a", TRUE);
    EXPECT_EQ(cache.GetCacheOptions(), 3u);
    EXPECT_EQ(notified, 2);
    // ...but never an administrator's choice.
    Store("h/a", 1000000);
    Store("h/b", 48578);
    cache.SetCacheOptions(2);
    cache.RemoveEntry("h/a", TRUE);
    EXPECT_EQ(cache.GetCacheOptions(), 2u);
}

TEST_F(CacheTest, PurgeBySizeAndCriteriaOnePurgeAtATime) {
    // Purge the entries hit less than twice.
    auto* filter = new CRequestFilter("rarely used", "");
    auto* criterion = new CCachePurgeCriterion;
    criterion->SetDataIndex(CacheEntryHits);
    criterion->SetComparison(ComparisonLessThan);
    criterion->SetValue(CNVDataObject(DWORD{2}));
    filter->AddCriterion(criterion);
    cache.GetPurgeFilter().AddFilter(filter);
    cache.SetMaxSize(1);
    cache.LoadIndex();
    CCacheEntryRef popular = Store("h/popular", 600000);
    cache.CountHit(*popular, Now());
    cache.CountHit(*popular, Now());
    CCacheEntryRef rare = Store("h/rare", 400000);
    // Over the limit: the new download goes, and the purge takes the rare entry.
    Store("h/new", 100000);
    EXPECT_FALSE(cache.Contains("h/new"));
    EXPECT_FALSE(cache.Contains("h/rare"));
    EXPECT_FALSE(fs::exists(cache.GetContentPath(*rare)));
    EXPECT_TRUE(cache.Contains("h/popular"));
    EXPECT_EQ(cache.GetTotalSize(), 600000.0);
    EXPECT_EQ(cache.GetCacheOptions(), 3u);  // under the limit again: storing stays on
    EXPECT_EQ(notified, 1);                  // every purge tells the consoles the new totals

    // A purge that cannot make room suspends storing (and tells the consoles).
    cache.SetMaxSize(0);
    cache.Purge();
    EXPECT_EQ(cache.GetCacheOptions(), 2u);
    EXPECT_EQ(notified, 2);

    // A purge asked for while one runs does nothing (here: from inside the running one).
    struct Reentrant : CCachePurgeCriterion {
        CWWWCache* cache = nullptr;
        mutable int calls = 0;
        BOOL MatchCacheEntry(const CCacheEntryValueSource&) const override {
            ++calls;
            EXPECT_TRUE(cache->IsBusy());
            EXPECT_FALSE(cache->IsLookupEnabled());
            cache->Purge();
            cache->RebuildIndex();
            return FALSE;
        }
    };
    auto* reentrant = new Reentrant;
    reentrant->cache = &cache;
    auto* second = new CRequestFilter("re-entrant", "");
    second->AddCriterion(reentrant);
    cache.GetPurgeFilter().RemoveAll();
    cache.GetPurgeFilter().AddFilter(second);
    cache.Purge();
    EXPECT_EQ(reentrant->calls, 1);
    EXPECT_EQ(notified, 3);  // the purges refused inside it tell nobody
    EXPECT_FALSE(cache.IsBusy());
    EXPECT_EQ(cache.GetCacheOptions(), 2u);  // the purge left the options as they were
}

TEST_F(CacheTest, RebuildDropsEntriesWithoutFilesAndFilesWithoutEntries) {
    cache.LoadIndex();
    CCacheEntryRef kept = Store("h/kept", 10);
    CCacheEntryRef lost = Store("h/lost", 20);
    fs::remove(cache.GetContentPath(*lost));
    CCacheEntryRef downloading = cache.AllocateEntry("h/partial");
    WriteAll(cache.GetContentPath(*downloading), {1});
    WriteAll(FilePath("0000ABCD"), {1});
    WriteAll(dir.Path() + "/notes.txt", {1});
    WriteAll(dir.Path() + "/abcdefgh.nvc", {1});

    cache.RebuildIndex();
    EXPECT_TRUE(cache.Contains("h/kept"));
    EXPECT_FALSE(cache.Contains("h/lost"));
    EXPECT_FALSE(fs::exists(FilePath("0000ABCD")));
    EXPECT_TRUE(fs::exists(cache.GetContentPath(*kept)));
    EXPECT_TRUE(fs::exists(cache.GetContentPath(*downloading)));
    EXPECT_TRUE(fs::exists(dir.Path() + "/notes.txt"));
    EXPECT_TRUE(fs::exists(dir.Path() + "/abcdefgh.nvc"));
    EXPECT_EQ(cache.GetTotalSize(), 10.0);
    EXPECT_TRUE(cache.AddEntry(downloading, SCompletedDownload{1, "a/b", 1}));
}

// Helper of the next test, in a process of its own: stores into the folder it is given and
// rewrites the index, changes the cache, and rewrites the index again, killed (SIGKILL) when
// that rewrite reaches the step it is given.
TEST_F(CacheTest, DISABLED_KilledInARewrite) {
    const char* folder = std::getenv("CACHE_REWRITE_FOLDER");
    const char* stop = std::getenv("CACHE_REWRITE_STOP");
    ASSERT_TRUE(folder != nullptr && stop != nullptr);
    cache.SetCacheDirectory(folder);
    cache.LoadIndex();
    for (const char* key : {"h/a", "h/b", "h/c"})  // 00000001 to 00000003
        Store(key, 10);
    cache.WriteIndex();
    Store("h/b", 20);                // 00000004, appended: 00000002 waits as a dead copy
    cache.RemoveEntry("h/a", TRUE);  // no record says so until the rewrite
    // Downloads the kill cuts short: one writing over the dead copy, one into a new file.
    for (const char* key : {"h/d", "h/e"})
        WriteAll(cache.GetContentPath(*cache.AllocateEntry(key)), {1, 2, 3});
    cache.SetRewriteObserver([stop = std::atoi(stop)](CWWWCache::ERewriteStep step) {
        if (static_cast<int>(step) == stop)
            kill(getpid(), SIGKILL);
    });
    cache.WriteIndex();
}

TEST(CacheRewriteTest, AKillAtAnyStepOfARewriteLeavesAWholeIndexAndNoStrayFile) {
    // Killed once each step is done (Created, Written, Renamed, FolderSynced), then not at all.
    for (int stop = 0; stop <= 4; ++stop) {
        SCOPED_TRACE(stop);
        TempDir dir;
        const std::string folder = dir.Path() + "/cache", index = folder + "/cache.idx";
        ASSERT_TRUE(fs::create_directory(folder));
        ASSERT_EQ(chmod(folder.c_str(), 0750), 0);
        // A folder and an index that exist keep their modes; what is not a content file of the
        // cache is left alone.
        WriteAll(index, {});
        ASSERT_EQ(chmod(index.c_str(), 0640), 0);
        WriteAll(folder + "/notes.txt", {1});
        WriteAll(dir.Path() + "/outside.nvc", {1});
        fs::create_symlink(dir.Path() + "/outside.nvc", folder + "/0000000C.nvc");
        const pid_t child = StartTestProcess("CacheTest.DISABLED_KilledInARewrite",
                                             {"CACHE_REWRITE_FOLDER=" + folder,
                                              "CACHE_REWRITE_STOP=" + std::to_string(stop)});
        ASSERT_GT(child, 0);
        EXPECT_EQ(WaitTestProcess(child), stop < 4 ? -1 : 0);

        // The old index or the new: either way h/a's file went, and the copy written over and
        // the downloads cut short are no entry's.
        CWWWCache cache;
        cache.SetCacheDirectory(folder);
        cache.LoadIndex();
        const auto fileOf = [&](const char* key) {
            return cache.Contains(key) ? cache.Lookup(key)->GetFileName() : std::string();
        };
        EXPECT_EQ(cache.GetCount(), 2u);
        EXPECT_EQ(fileOf("h/b"), "00000004");
        EXPECT_EQ(fileOf("h/c"), "00000003");
        EXPECT_EQ(cache.GetTotalSize(), 30.0);
        std::set<std::string> files;
        for (const auto& file : fs::directory_iterator(folder))
            files.insert(file.path().filename().string());
        EXPECT_EQ(files, (std::set<std::string>{"cache.idx", "notes.txt", "0000000C.nvc",
                                                "00000003.nvc", "00000004.nvc"}));
        EXPECT_TRUE(fs::exists(dir.Path() + "/outside.nvc"));
        const auto mode = [](const std::string& path) { return fs::status(path).permissions(); };
        EXPECT_EQ(mode(folder), fs::perms(0750));
        EXPECT_EQ(mode(index), fs::perms(0640));
        EXPECT_EQ(mode(folder + "/00000004.nvc"), fs::perms(0600));
    }
}

TEST_F(CacheTest, CloseWritesTheIndexAndLaterDownloadsAreDiscarded) {
    cache.LoadIndex();
    Store("h/a", 5);
    CCacheEntryRef late = cache.AllocateEntry("h/late");
    WriteAll(cache.GetContentPath(*late), {1});
    const std::string latePath = cache.GetContentPath(*late);
    cache.Close();
    EXPECT_EQ(cache.GetCount(), 0u);
    EXPECT_FALSE(cache.IsStoringEnabled());
    EXPECT_FALSE(cache.AddEntry(late, SCompletedDownload{1, "a/b", 1}));
    EXPECT_FALSE(fs::exists(latePath));
    EXPECT_FALSE(cache.AllocateEntry("h/b")->HasFileName());

    CWWWCache reopened;
    reopened.SetCacheDirectory(dir.Path());
    reopened.LoadIndex();
    EXPECT_TRUE(reopened.Contains("h/a"));
    EXPECT_FALSE(reopened.Contains("h/late"));
}

TEST_F(CacheTest, SessionsStoreAndLookUpWhilePurgesRun) {
    auto* filter = new CRequestFilter("odd", "");
    auto* criterion = new CCachePurgeCriterion;
    criterion->SetDataIndex(CacheEntryURL);
    criterion->SetComparison(ComparisonEndsWith);
    criterion->SetValue(CNVDataObject("1"));
    filter->AddCriterion(criterion);
    cache.GetPurgeFilter().AddFilter(filter);
    cache.LoadIndex();

    std::atomic<bool> done{false};
    std::vector<std::thread> sessions;
    for (int t = 0; t < 6; ++t) {
        sessions.emplace_back([&, t] {
            for (int i = 0; i < 150; ++i) {
                const std::string key = "h/" + std::to_string((i * 7 + t) % 23);
                if (CCacheEntryRef found = cache.Lookup(key)) {
                    cache.CountHit(*found, Now());
                    EXPECT_EQ(found->GetURL(), key);
                }
                CCacheEntryRef entry = cache.AllocateEntry(key);
                if (!entry->HasFileName())
                    continue;
                WriteAll(cache.GetContentPath(*entry), std::vector<std::uint8_t>(i % 5 + 1, 'x'));
                if (i % 9 == 0)
                    cache.DiscardEntry(entry);
                else
                    cache.AddEntry(entry, SCompletedDownload{1, "a/b", DWORD(i % 5 + 1)});
            }
        });
    }
    std::thread admin([&] {
        while (!done) {
            cache.Purge();
            cache.RebuildIndex();
            cache.RemoveEntryByURL("h/2");
        }
    });
    for (auto& s : sessions)
        s.join();
    done = true;
    admin.join();

    // The totals are the entries' sums without a rewrite.
    double total = 0.0, served = 0.0;
    std::set<std::string> expected = {"cache.idx"};
    for (const auto& [key, object] : static_cast<CObjectMap&>(cache)) {
        const auto* entry = static_cast<const CCacheEntry*>(object);
        expected.insert(entry->GetFileName() + ".nvc");
        EXPECT_EQ(fs::file_size(cache.GetContentPath(*entry)), entry->GetSize());
        total += entry->GetSize();
        served += entry->GetHitsTimesSize();
    }
    EXPECT_EQ(cache.GetTotalSize(), total);
    EXPECT_EQ(cache.GetTotalServed(), served);

    // The index, without a final rewrite, holds every mapped entry as its last record for
    // the key (removed entries may still stand in it until the next rewrite).
    CWWWCache reopened;
    reopened.SetCacheDirectory(dir.Path() + "/copy");
    fs::create_directory(dir.Path() + "/copy");
    for (const auto& file : fs::directory_iterator(dir.Path()))
        if (file.is_regular_file())
            fs::copy_file(file.path(), dir.Path() + "/copy/" + file.path().filename().string());
    reopened.LoadIndex();
    for (const auto& [key, object] : static_cast<CObjectMap&>(cache)) {
        CCacheEntryRef loaded = reopened.Lookup(key);
        ASSERT_TRUE(loaded) << key;
        EXPECT_EQ(loaded->GetFileName(), static_cast<const CCacheEntry*>(object)->GetFileName());
    }

    // Every download was registered or discarded: once the spares go (at Close), no file is
    // left over.
    cache.Close();
    std::set<std::string> files;
    for (const auto& file : fs::directory_iterator(dir.Path()))
        if (file.is_regular_file())
            files.insert(file.path().filename().string());
    EXPECT_EQ(files, expected);
}
