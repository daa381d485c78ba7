#include "engine/access/IPFilter.h"

#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(IPFilterTest, NormalisationTable) {
    struct Row {
        const char* pattern;
        const char* internal;
    };
    const Row rows[] = {
        {"192.168.1.*", "192168001???"},
        {"10.*", "010???"},
        {"*.*.*.5", "?????????005"},
        {"", ""},
        {"192.168", "192168"},
        {"1*.2.3.4", "1??002003004"},
        {"*5.0.0.1", "??5000000001"},
        {"1*5.1.1.1", "1?5001001001"},
        {"***", "???"},
        {"a*.1", "a??001"},
        {"**.1", "*??001"},        // first character kept: this part never matches a digit
        {"1234.5", "005"},         // four characters: dropped
        {"12*4.5", "005"},         // four characters with a wildcard: dropped
        {"192..1", "192001"},      // empty part: dropped
        {"1.", "001"},
        {"1.2.3.4.5", "001002003004005"},
        {"1?.2", "01?002"},        // '?' typed by the administrator is a wildcard too
        {"192.168.001.*", "192168001???"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CIPFilter::Normalize(row.pattern), row.internal) << row.pattern;
        CIPFilter filter(row.pattern);
        EXPECT_EQ(filter.GetFilter(), row.pattern);
        EXPECT_EQ(filter.GetInternalFilter(), row.internal) << row.pattern;
    }
}

TEST(IPFilterTest, MatchingTable) {
    struct Row {
        const char* pattern;
        const char* address;
        bool matches;
    };
    const Row rows[] = {
        {"192.168.1.*", "192.168.1.20", true},
        {"192.168.1.*", "192.168.1.255", true},
        {"192.168.1.*", "192.168.1.0", true},
        {"192.168.1.*", "192.168.2.20", false},
        {"192.168.1.*", "192.168.1", false},        // shorter than the pattern
        {"192.168.1.*", "192.168.1.1000", false},   // the malformed part is dropped
        {"192.168", "192.168.7.9", true},           // fewer parts: prefix
        {"192.168", "192.169.7.9", false},
        {"", "10.0.0.1", true},
        {"", "", true},
        {"1*.2.3.4", "100.2.3.4", true},
        {"1*.2.3.4", "199.2.3.4", true},
        {"1*.2.3.4", "10.2.3.4", false},            // ? is one digit of the padded form
        {"1*.2.3.4", "1.2.3.4", false},
        {"*5.0.0.1", "5.0.0.1", true},
        {"*5.0.0.1", "15.0.0.1", true},
        {"*5.0.0.1", "255.0.0.1", true},
        {"*5.0.0.1", "16.0.0.1", false},
        {"*.*.*.5", "10.20.30.5", true},
        {"*.*.*.5", "10.20.30.50", false},
        {"*.*.*.5", "10.20.30.105", false},
        {"10.*", "10.1.2.3", true},
        {"10.*", "100.1.2.3", false},
        {"10.*", "1.0.1.2", false},
        {"**.1", "1.1.1.1", false},
        {"10.0.0.1", "10.0.0.1", true},
        {"10.0.0.1", "10.0.0.10", false},
        {"010.000.000.001", "10.0.0.1", true},
        {"192.168.001.*", "192.168.1.7", true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CIPFilter(row.pattern).Match(row.address), row.matches ? TRUE : FALSE)
            << row.pattern << " ~ " << row.address;
        EXPECT_EQ(CIPFilter::MatchPattern(row.pattern, row.address), row.matches)
            << row.pattern << " ~ " << row.address;
    }
    EXPECT_EQ(CIPFilter::PadAddress("192.168.1.20"), "192168001020");
    EXPECT_EQ(CIPFilter::PadAddress("1.22.333.4444"), "001022333");
}

TEST(IPFilterTest, RegistryKeepsTheStoredInternalForm) {
    TempStateDir state;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    CIPFilter filter("192.168.1.*");
    ASSERT_TRUE(filter.SaveToRegistry("Filters\\One"));
    EXPECT_EQ(RegReadString("Filters\\One", "Filter", "-"), "192.168.1.*");
    EXPECT_EQ(RegReadString("Filters\\One", "InternalFilter", "-"), "192168001???");

    // A stored internal form is used as stored, even when it disagrees with Filter.
    ASSERT_TRUE(RegWriteString("Filters\\One", "InternalFilter", "010"));
    CIPFilter loaded;
    loaded.LoadFromRegistry("Filters\\One");
    EXPECT_EQ(loaded.GetFilter(), "192.168.1.*");
    EXPECT_EQ(loaded.GetInternalFilter(), "010");
    EXPECT_TRUE(loaded.Match("10.9.9.9"));
    EXPECT_FALSE(loaded.Match("192.168.1.1"));
    loaded.BuildInternalFilter();
    EXPECT_TRUE(loaded.Match("192.168.1.1"));

    CIPFilter empty("x");
    empty.LoadFromRegistry("Filters\\Missing");
    EXPECT_EQ(empty.GetFilter(), "");
    EXPECT_EQ(empty.GetInternalFilter(), "");
}

TEST(IPFilterTest, ArchiveFormIsInternalFormThenFilter) {
    const CIPFilter filter("10.*");
    const auto bytes = StoreBytes([&](CArchive& ar) { const_cast<CIPFilter&>(filter).Serialize(ar); });
    EXPECT_EQ(Bytes().Byte(6).Text("010???").Byte(4).Text("10.*"), bytes);

    // Received as it is, not rebuilt.
    CIPFilter received;
    EXPECT_TRUE(LoadBytes(Bytes().Byte(3).Text("1??").Byte(4).Text("10.*"),
                          [&](CArchive& ar) { received.Serialize(ar); }));
    EXPECT_EQ(received.GetInternalFilter(), "1??");
    EXPECT_EQ(received.GetFilter(), "10.*");

    // A stream that ends inside the second string changes nothing.
    EXPECT_EQ(LoadFailure(Bytes().Byte(3).Text("abc").Byte(9).Text("1"),
                          [&](CArchive& ar) { received.Serialize(ar); }),
              CArchiveException::endOfFile);
    EXPECT_EQ(received.GetInternalFilter(), "1??");
    EXPECT_EQ(received.GetFilter(), "10.*");
}

}  // namespace
