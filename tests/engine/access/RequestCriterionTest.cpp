#include "engine/access/CachePurgeCriterion.h"
#include "engine/access/RequestCriterion.h"

#include "foundation/RegistryStore.h"
#include "proxies/web/WWWVariables.h"
#include "support/ArchiveHelpers.h"
#include "support/FakeRequest.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// The web session's variables are the table's, by number.
static_assert(kVariableHTTPProtocol == 12 && kVariableHTTPQuery == 17 && kVariableHTTPHeaderField == 18);

std::unique_ptr<CRequestCriterion> Criterion(DWORD index, DWORD comparison, const CNVDataObject& value,
                                             DWORD notFlag = 0) {
    auto criterion = std::make_unique<CRequestCriterion>();
    EXPECT_TRUE(criterion->SetDataIndex(index));
    EXPECT_TRUE(criterion->SetComparison(comparison));
    EXPECT_TRUE(criterion->SetValue(value));
    criterion->SetNot(notFlag);
    return criterion;
}

bool Matches(const CRequestCriterion& criterion, const CNVDataObject& requestValue) {
    FakeRequest request;
    request.Set(criterion.GetDataIndex(), requestValue);
    return criterion.MatchRequest(request) != FALSE;
}

TEST(RequestVariablesTest, TableRowsByHand) {
    struct Row {
        DWORD index;
        const char* name;
        std::int32_t type;
    };
    const Row rows[] = {
        {0, "Client IP number", 2},        {1, "Client port number", 1},
        {2, "Server name", 2},             {3, "Server port number", 1},
        {5, "User: Authentication level", 0}, {10, "User: Seconds on line", 1},
        {11, "User: Account balance", 0},  {12, "HTTP Protocol", 2},
        {18, "HTTP Header field", 2},      {21, "VDOLive File", 2},
        {24, "SOCKS Address type", 1},
    };
    for (const Row& row : rows) {
        const SRequestVariable* variable = FindVariable(kRequestVariables, row.index);
        ASSERT_NE(variable, nullptr) << row.index;
        EXPECT_STREQ(variable->name, row.name);
        EXPECT_EQ(variable->type, row.type) << row.index;
    }
    EXPECT_EQ(FindVariable(kRequestVariables, 25), nullptr);
    EXPECT_EQ(FindVariable(kRequestVariables, 0xFFFFFFFF), nullptr);

    EXPECT_STREQ(FindVariable(kCacheEntryValues, 5)->name, "Hit count times file size (bytes)");
    EXPECT_EQ(FindVariable(kCacheEntryValues, 5)->type, CNVDataObject::TypeDouble);
    EXPECT_EQ(FindVariable(kCacheEntryValues, 8)->type, CNVDataObject::TypeDWORD);
    EXPECT_EQ(FindVariable(kCacheEntryValues, 9), nullptr);
}

TEST(RequestVariablesTest, VariablesOfferedByServiceKind) {
    auto offered = [](int kind) {
        std::vector<DWORD> list;
        for (DWORD i = 0; i < 30; ++i)
            if (IsRequestVariableOffered(i, kind))
                list.push_back(i);
        return list;
    };
    std::vector<DWORD> web(19);
    for (DWORD i = 0; i < 19; ++i)
        web[i] = i;
    EXPECT_EQ(offered(kServiceKindWWW), web);
    EXPECT_EQ(offered(kServiceKindRemoteControl), (std::vector<DWORD>{0, 1, 4, 5, 6, 7, 8, 9, 10, 11}));
    EXPECT_EQ(offered(kServiceKindDNS).size(), 10u);
    EXPECT_EQ(offered(kServiceKindSOCKS), (std::vector<DWORD>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 22, 23, 24}));
    EXPECT_TRUE(IsRequestVariableOffered(19, kServiceKindPOP3));
    EXPECT_TRUE(IsRequestVariableOffered(20, kServiceKindFTP));
    EXPECT_TRUE(IsRequestVariableOffered(21, kServiceKindVDOLive));
    EXPECT_FALSE(IsRequestVariableOffered(21, kServiceKindFTP));

    // Strings: equals, contains, begins, ends, is empty; numbers: equals, greater, less.
    for (DWORD c = 0; c < 9; ++c) {
        EXPECT_EQ(IsComparisonApplicable(c, CNVDataObject::TypeString), c == 0 || (c >= 3 && c <= 6)) << c;
        for (std::int32_t type : {0, 1, 3})
            EXPECT_EQ(IsComparisonApplicable(c, type), c <= 2) << c;
    }
}

TEST(RequestCriterionTest, DefaultsAndRefusedNumbers) {
    CRequestCriterion criterion;
    EXPECT_EQ(criterion.GetComparison(), 0u);
    EXPECT_EQ(criterion.GetDataIndex(), 0u);
    EXPECT_EQ(criterion.GetVariableName(), "");
    EXPECT_EQ(criterion.GetValue().DataType, CNVDataObject::TypeInt);
    EXPECT_EQ(criterion.GetNot(), 0u);

    EXPECT_FALSE(criterion.SetComparison(7));
    EXPECT_FALSE(criterion.SetDataIndex(25));
    CNVDataObject odd;
    odd.DataType = 4;
    EXPECT_FALSE(criterion.SetValue(odd));
    EXPECT_EQ(criterion.GetComparison(), 0u);
    EXPECT_EQ(criterion.GetDataIndex(), 0u);
    EXPECT_EQ(criterion.GetValue().DataType, CNVDataObject::TypeInt);
    EXPECT_TRUE(criterion.SetDataIndex(24));

    CCachePurgeCriterion purge;
    EXPECT_TRUE(purge.SetDataIndex(8));
    EXPECT_FALSE(purge.SetDataIndex(9));  // beyond the cache-entry table
    EXPECT_FALSE(purge.SetDataIndex(18));
}

TEST(RequestCriterionTest, NumbersCompareByTypeAndValue) {
    // Client port number greater than 1024.
    auto port = Criterion(RequestClientPortNumber, ComparisonGreaterThan, CNVDataObject(DWORD{1024}));
    EXPECT_TRUE(Matches(*port, CNVDataObject(DWORD{3000})));
    EXPECT_FALSE(Matches(*port, CNVDataObject(DWORD{80})));
    EXPECT_FALSE(Matches(*port, CNVDataObject(DWORD{1024})));
    EXPECT_FALSE(Matches(*port, CNVDataObject(3000)));  // a signed value is another type

    // Unsigned 80 does not equal signed 80, and the other way round.
    auto unsigned80 = Criterion(RequestServerPortNumber, ComparisonEquals, CNVDataObject(DWORD{80}));
    EXPECT_TRUE(Matches(*unsigned80, CNVDataObject(DWORD{80})));
    EXPECT_FALSE(Matches(*unsigned80, CNVDataObject(80)));
    auto signed80 = Criterion(RequestServerPortNumber, ComparisonEquals, CNVDataObject(80));
    EXPECT_FALSE(Matches(*signed80, CNVDataObject(DWORD{80})));
    EXPECT_TRUE(Matches(*signed80, CNVDataObject(80)));

    // Signed ordering: a balance of -5 is less than 0; unsigned ordering of 0xFFFFFFFF.
    auto inDebt = Criterion(RequestUserAccountBalance, ComparisonLessThan, CNVDataObject(0));
    EXPECT_TRUE(Matches(*inDebt, CNVDataObject(-5)));
    EXPECT_FALSE(Matches(*inDebt, CNVDataObject(0)));
    auto big = Criterion(RequestUserTimeOnLine, ComparisonGreaterThan, CNVDataObject(DWORD{1}));
    EXPECT_TRUE(Matches(*big, CNVDataObject(DWORD{0xFFFFFFFF})));

    // Not inverts a comparison that applies, whatever the outcome.
    auto notPort = Criterion(RequestClientPortNumber, ComparisonGreaterThan, CNVDataObject(DWORD{1024}), 1);
    EXPECT_FALSE(Matches(*notPort, CNVDataObject(DWORD{3000})));
    EXPECT_TRUE(Matches(*notPort, CNVDataObject(DWORD{80})));
}

TEST(RequestCriterionTest, ComparisonsThatDoNotApplyAnswerFalseEvenWithNot) {
    FakeRequest request;
    request.Set(RequestHTTPURL, CNVDataObject("www.x.org/"));
    request.Set(RequestClientPortNumber, CNVDataObject(DWORD{0}));
    for (DWORD notFlag : {0u, 1u}) {
        // "greater than" and "less than" with a string value.
        for (DWORD c : {1u, 2u})
            EXPECT_FALSE(Criterion(RequestHTTPURL, c, CNVDataObject("a"), notFlag)->MatchRequest(request));
        // "contains" ... "is empty" with a number value; "is empty" on numbers above all.
        for (DWORD c : {3u, 4u, 5u, 6u}) {
            EXPECT_FALSE(Criterion(RequestClientPortNumber, c, CNVDataObject(DWORD{0}), notFlag)->MatchRequest(request));
            EXPECT_FALSE(Criterion(RequestClientPortNumber, c, CNVDataObject(0.0), notFlag)->MatchRequest(request));
        }
    }
    // Nothing was asked of the request for them.
    EXPECT_EQ(request.Lookups(), 0);
}

TEST(RequestCriterionTest, StringComparisonsAndTheirCaseRules) {
    struct Row {
        DWORD comparison;
        const char* value;
        const char* request;
        bool matches;
    };
    const Row rows[] = {
        {ComparisonEquals, "abc", "abc", true},
        {ComparisonEquals, "abc", "ABC", false},  // equals counts case
        {ComparisonEquals, "", "", true},
        {ComparisonContains, "Sports", "www.x.com/SPORTS/today", true},
        {ComparisonContains, "sports", "www.x.com/sport", false},
        {ComparisonContains, "", "anything", true},
        {ComparisonBeginsWith, "WWW.X", "www.x.com/a", true},
        {ComparisonBeginsWith, "x.com", "www.x.com/a", false},
        {ComparisonBeginsWith, "abcd", "abc", false},  // longer than the request string
        {ComparisonBeginsWith, "abc", "ABC", true},     // as long: equal ignoring case
        {ComparisonEndsWith, ".GIF", "h/pic.gif", true},
        {ComparisonEndsWith, ".gif", "h/pic.gifx", false},
        {ComparisonEndsWith, "xh/pic.gif", "h/pic.gif", false},
        {ComparisonEndsWith, "H/PIC.GIF", "h/pic.gif", true},
        {ComparisonIsEmpty, "ignored", "", true},
        {ComparisonIsEmpty, "", "x", false},
        // Bytes above 0x7F have no case here: they compare exactly.
        {ComparisonContains, "\xC9", "caf\xE9", false},
        {ComparisonContains, "\xE9", "CAF\xE9", true},
    };
    for (const Row& row : rows) {
        auto criterion = Criterion(RequestHTTPURL, row.comparison, CNVDataObject(row.value));
        EXPECT_EQ(Matches(*criterion, CNVDataObject(row.request)), row.matches)
            << kComparisonTexts[row.comparison] << " \"" << row.value << "\" on \"" << row.request << "\"";
        criterion->SetNot(1);
        EXPECT_EQ(Matches(*criterion, CNVDataObject(row.request)), !row.matches);
    }
}

TEST(RequestCriterionTest, UnsuppliedValuesAreIntegerZeroAndHeadersComeByName) {
    FakeRequest plain;  // a session without these values and without request headers
    EXPECT_TRUE(Criterion(RequestVDOLiveFile, ComparisonEquals, CNVDataObject(0))->MatchRequest(plain));
    EXPECT_TRUE(Criterion(RequestServerName, ComparisonIsEmpty, CNVDataObject(""))->MatchRequest(plain));
    EXPECT_FALSE(Criterion(RequestServerName, ComparisonEquals, CNVDataObject(""))->MatchRequest(plain));

    auto cookie = Criterion(RequestHTTPHeaderField, ComparisonContains, CNVDataObject("session"));
    cookie->SetVariableName("Cookie");
    auto noCookie = Criterion(RequestHTTPHeaderField, ComparisonIsEmpty, CNVDataObject(""));
    noCookie->SetVariableName("Cookie");
    auto emptyEquals = Criterion(RequestHTTPHeaderField, ComparisonEquals, CNVDataObject(""));
    emptyEquals->SetVariableName("Cookie");
    // Another kind of session sees no header at all: an empty string.
    EXPECT_FALSE(cookie->MatchRequest(plain));
    EXPECT_TRUE(noCookie->MatchRequest(plain));
    EXPECT_TRUE(emptyEquals->MatchRequest(plain));

    FakeRequest web;
    web.Header("COOKIE", "a=1; SESSION=9").Header("Referer", "r");
    EXPECT_TRUE(cookie->MatchRequest(web));
    EXPECT_FALSE(noCookie->MatchRequest(web));
    cookie->SetVariableName("Referer");
    EXPECT_FALSE(cookie->MatchRequest(web));
    cookie->SetVariableName("X-Missing");
    EXPECT_FALSE(cookie->MatchRequest(web));
    noCookie->SetVariableName("X-Missing");
    EXPECT_TRUE(noCookie->MatchRequest(web));
}

TEST(RequestCriterionTest, DescriptionsByTheTablesType) {
    auto url = Criterion(RequestHTTPURL, ComparisonContains, CNVDataObject("sports"), 1);
    EXPECT_EQ(url->GetDescriptionText(), "Not HTTP URL contains \"sports\"");
    EXPECT_EQ(url->GetDescription(), "Not HTTP URL contains \"sports\"");
    EXPECT_EQ(Criterion(RequestClientPortNumber, ComparisonGreaterThan, CNVDataObject(DWORD{1024}))->GetDescriptionText(),
              "Client port number greater than 1024");
    EXPECT_EQ(Criterion(RequestUserAccountBalance, ComparisonLessThan, CNVDataObject(-3))->GetDescriptionText(),
              "User: Account balance less than -3");
    EXPECT_EQ(Criterion(RequestSOCKSCommand, ComparisonEquals, CNVDataObject(DWORD{4000000000u}))->GetDescriptionText(),
              "SOCKS Command equals 4000000000");
    auto header = Criterion(RequestHTTPHeaderField, ComparisonBeginsWith, CNVDataObject("Mozilla"));
    header->SetVariableName("User-Agent");
    EXPECT_EQ(header->GetDescriptionText(), "HTTP Header field User-Agent begins with \"Mozilla\"");
    EXPECT_EQ(Criterion(RequestFTPUserName, ComparisonIsEmpty, CNVDataObject(""))->GetDescriptionText(),
              "FTP Username is empty \"\"");
    // The table's type picks the field shown, whatever the value's own type.
    EXPECT_EQ(Criterion(RequestClientPortNumber, ComparisonEquals, CNVDataObject("80"))->GetDescriptionText(),
              "Client port number equals 0");

    CCachePurgeCriterion hits;
    hits.SetDataIndex(CacheEntryHits);
    hits.SetComparison(ComparisonLessThan);
    hits.SetValue(CNVDataObject(DWORD{2}));
    EXPECT_EQ(hits.GetDescriptionText(), "Hit count less than 2");
    hits.SetDataIndex(CacheEntryHitsTimesSize);
    hits.SetValue(CNVDataObject(2.5));
    hits.SetNot(1);
    EXPECT_EQ(hits.GetDescriptionText(), "Not Hit count times file size (bytes) less than 2.5");
    hits.SetDataIndex(CacheEntryURL);
    hits.SetComparison(ComparisonContains);
    hits.SetValue(CNVDataObject("ads"));
    hits.SetNot(0);
    EXPECT_EQ(hits.GetDescriptionText(), "URL contains \"ads\"");
}

TEST(CachePurgeCriterionTest, TestsCacheEntriesOnly) {
    CCachePurgeCriterion rarelyHit;
    rarelyHit.SetDataIndex(CacheEntryHits);
    rarelyHit.SetComparison(ComparisonLessThan);
    rarelyHit.SetValue(CNVDataObject(DWORD{2}));
    FakeCacheEntry entry;
    entry.Set(CacheEntryHits, CNVDataObject(DWORD{1}));
    EXPECT_TRUE(rarelyHit.MatchCacheEntry(entry));
    entry.Set(CacheEntryHits, CNVDataObject(DWORD{2}));
    EXPECT_FALSE(rarelyHit.MatchCacheEntry(entry));

    // The product of hits and size is a double: a double criterion matches it.
    CCachePurgeCriterion heavy;
    heavy.SetDataIndex(CacheEntryHitsTimesSize);
    heavy.SetComparison(ComparisonGreaterThan);
    heavy.SetValue(CNVDataObject(1e9));
    entry.Set(CacheEntryHitsTimesSize, CNVDataObject(5e9));
    EXPECT_TRUE(heavy.MatchCacheEntry(entry));

    // Index 18 means nothing special for an entry; a request never satisfies a purge
    // criterion, whose numbers name cache-entry values.
    CCachePurgeCriterion url;
    url.SetComparison(ComparisonIsEmpty);
    url.SetValue(CNVDataObject(""));
    EXPECT_TRUE(url.MatchCacheEntry(entry));  // no URL supplied: integer 0, empty string
    FakeRequest request;
    EXPECT_FALSE(url.MatchRequest(request));
}

TEST(RequestCriterionTest, CopyTakesEveryField) {
    auto source = Criterion(RequestHTTPHeaderField, ComparisonEndsWith, CNVDataObject("z"), 1);
    source->SetName("n");
    source->SetDescription("d");
    source->SetVariableName("Host");
    CRequestCriterion copy;
    copy.Copy(*source);
    EXPECT_EQ(copy.GetName(), "n");
    EXPECT_EQ(copy.GetDescription(), "d");
    EXPECT_EQ(copy.GetComparison(), ComparisonEndsWith);
    EXPECT_EQ(copy.GetDataIndex(), 18u);
    EXPECT_EQ(copy.GetVariableName(), "Host");
    EXPECT_EQ(copy.GetNot(), 1u);
    EXPECT_TRUE(copy.GetValue().IsEqual(CNVDataObject("z")));
    copy.Copy(copy);
    EXPECT_EQ(copy.GetVariableName(), "Host");
}

class RequestCriterionRegistryTest : public ::testing::Test {
protected:
    TempStateDir state;
    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }
};

TEST_F(RequestCriterionRegistryTest, StoredValuesAndLoadingBack) {
    auto criterion = Criterion(RequestHTTPHeaderField, ComparisonContains, CNVDataObject("gz"), 1);
    criterion->SetName("n");
    criterion->SetDescription("d");
    criterion->SetVariableName("Accept-Encoding");
    ASSERT_TRUE(criterion->SaveToRegistry("F\\Criterion0"));
    EXPECT_EQ(RegReadString("F\\Criterion0", "Type", ""), "CRequestCriterion");
    EXPECT_EQ(RegReadString("F\\Criterion0", "Name", ""), "n");
    EXPECT_EQ(RegReadDWORD("F\\Criterion0", "Comparison", 99), 3u);
    EXPECT_EQ(RegReadDWORD("F\\Criterion0", "DataIndex", 99), 18u);
    EXPECT_EQ(RegReadString("F\\Criterion0", "VariableName", ""), "Accept-Encoding");
    EXPECT_EQ(RegReadDWORD("F\\Criterion0", "Not", 99), 1u);
    EXPECT_EQ(RegReadDWORD("F\\Criterion0", "DataType", 99), 2u);
    EXPECT_EQ(RegReadString("F\\Criterion0", "strData", ""), "gz");

    CRequestCriterion loaded;
    EXPECT_TRUE(loaded.ReadFromRegistry("F\\Criterion0"));
    EXPECT_EQ(loaded.GetDescriptionText(), "Not HTTP Header field Accept-Encoding contains \"gz\"");
    EXPECT_EQ(loaded.GetName(), "n");

    CCachePurgeCriterion purge;
    purge.SaveToRegistry("P");
    EXPECT_EQ(RegReadString("P", "Type", ""), "CCachePurgeCriterion");

    // A key without values loads the defaults.
    loaded.LoadFromRegistry("Empty");
    EXPECT_EQ(loaded.GetDataIndex(), 0u);
    EXPECT_EQ(loaded.GetVariableName(), "");
    EXPECT_EQ(loaded.GetValue().DataType, CNVDataObject::TypeInt);
}

TEST_F(RequestCriterionRegistryTest, OutOfRangeStoredCriteriaAreRefused) {
    auto keep = Criterion(RequestHTTPURL, ComparisonContains, CNVDataObject("keep"));
    keep->SetName("kept");
    const std::pair<const char*, DWORD> bad[] = {{"DataIndex", 25}, {"Comparison", 7}, {"DataType", 4}};
    for (const auto& [value, number] : bad) {
        Criterion(RequestHTTPURL, ComparisonEquals, CNVDataObject("x"))->SaveToRegistry("Bad");
        RegWriteString("Bad", "Name", "bad");
        RegWriteDWORD("Bad", value, number);
        EXPECT_FALSE(keep->ReadFromRegistry("Bad")) << value;
        EXPECT_EQ(keep->GetName(), "kept");
        EXPECT_EQ(keep->GetDescriptionText(), "HTTP URL contains \"keep\"");
    }
    // Index 9 is a request variable but not a cache-entry value.
    Criterion(9, ComparisonEquals, CNVDataObject(DWORD{1}))->SaveToRegistry("Nine");
    CCachePurgeCriterion purge;
    EXPECT_FALSE(purge.ReadFromRegistry("Nine"));
    EXPECT_EQ(purge.GetDataIndex(), 0u);
}

TEST(RequestCriterionArchiveTest, BytesByHand) {
    auto criterion = Criterion(RequestHTTPURL, ComparisonContains, CNVDataObject("sports"), 1);
    criterion->SetName("n");
    criterion->SetDescription("d");
    const Bytes fields = Bytes()
                             .Byte(1).Text("n").Byte(1).Text("d")
                             .Dword(3).Dword(15).Byte(0).Dword(1)
                             .Dword(2).Dword(0).Dword(0).Hex("00 00 00 00 00 00 00 00")
                             .Byte(6).Text("sports");
    EXPECT_EQ(fields, StoreBytes([&](CArchive& ar) { criterion->Serialize(ar); }));
    // Class-tagged, as in a filter's list.
    EXPECT_EQ(Bytes("FF FF 01 00 11 00").Text("CRequestCriterion").Append(fields),
              StoreBytes([&](CArchive& ar) { ar.WriteObject(criterion.get()); }));

    CRequestCriterion loaded;
    EXPECT_TRUE(LoadBytes(fields, [&](CArchive& ar) { loaded.Serialize(ar); }));
    EXPECT_EQ(loaded.GetDescriptionText(), "Not HTTP URL contains \"sports\"");
    EXPECT_EQ(loaded.GetName(), "n");
}

TEST(RequestCriterionArchiveTest, FailedLoadsChangeNothing) {
    auto head = [](DWORD comparison, DWORD index) {
        return Bytes().Byte(1).Text("x").Byte(0).Dword(comparison).Dword(index).Byte(0).Dword(0);
    };
    const Bytes value = Bytes().Dword(1).Dword(5).Dword(0).Hex("00 00 00 00 00 00 00 00").Byte(0);
    auto keep = Criterion(RequestHTTPURL, ComparisonContains, CNVDataObject("keep"));
    keep->SetName("kept");
    auto unchanged = [&] {
        EXPECT_EQ(keep->GetName(), "kept");
        EXPECT_EQ(keep->GetDescriptionText(), "HTTP URL contains \"keep\"");
    };
    auto load = [&](CArchive& ar) { keep->Serialize(ar); };
    EXPECT_EQ(LoadFailure(head(7, 1).Append(value), load), CArchiveException::generic);
    unchanged();
    EXPECT_EQ(LoadFailure(head(0, 25).Append(value), load), CArchiveException::generic);
    unchanged();
    EXPECT_EQ(LoadFailure(head(0, 1).Dword(9).Dword(0).Dword(0).Hex("00 00 00 00 00 00 00 00").Byte(0), load),
              CArchiveException::generic);
    unchanged();
    // Cut inside the value: the archive's end of file reaches the caller.
    EXPECT_EQ(LoadFailure(head(0, 1).Dword(1).Dword(5), load), CArchiveException::endOfFile);
    unchanged();

    CCachePurgeCriterion purge;
    EXPECT_EQ(LoadFailure(head(0, 9).Append(value), [&](CArchive& ar) { purge.Serialize(ar); }),
              CArchiveException::generic);
    EXPECT_TRUE(LoadBytes(head(0, 8).Append(value), [&](CArchive& ar) { purge.Serialize(ar); }));
    EXPECT_EQ(purge.GetDescriptionText(), "Time since last modified (hrs) equals 5");
}

}  // namespace
