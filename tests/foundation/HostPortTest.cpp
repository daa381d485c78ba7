#include "foundation/HostPort.h"

#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(HostPortTest, ArchiveFormHostThenPort) {
    CHostPort first("mail.example", 110), second("", 0x12345678);
    std::vector<std::uint8_t> bytes = StoreBytes([&](CArchive& ar) {
        ar.WriteObject(&first);
        ar.WriteObject(&second);
    });
    Bytes expected(
        "ff ff 01 00 09 00 43 48 6f 73 74 50 6f 72 74"  // class record CHostPort, schema 1
        "0c 6d 61 69 6c 2e 65 78 61 6d 70 6c 65"      // "mail.example"
        "6e 00 00 00"                                  // 110
        "01 80"                                        // a new object of class entry 1
        "00"                                           // empty host
        "78 56 34 12");
    EXPECT_EQ(expected, bytes) << HexDump(bytes);

    std::unique_ptr<CHostPort> a, b;
    EXPECT_TRUE(LoadBytes(expected, [&](CArchive& ar) {
        a = ar.ReadOwnedObject<CHostPort>();
        b = ar.ReadOwnedObject<CHostPort>();
    }));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a, first);
    EXPECT_EQ(*b, second);
}

TEST(HostPortTest, TruncatedStreamFails) {
    Bytes truncated("ff ff 01 00 09 00 43 48 6f 73 74 50 6f 72 74 01 61 6e 00");
    EXPECT_EQ(LoadFailure(truncated, [](CArchive& ar) { ar.ReadOwnedObject<CHostPort>(); }),
              CArchiveException::endOfFile);
}

TEST(HostPortTest, RegistryFormAndDefaults) {
    TempStateDir state;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    CHostPort target("news.example", 119);
    ASSERT_TRUE(target.SaveToRegistry("Services\\Map\\Mapping0"));
    EXPECT_EQ(RegReadString("Services\\Map\\Mapping0", "Host", ""), "news.example");
    EXPECT_EQ(RegReadDWORD("Services\\Map\\Mapping0", "Port", 0), 119u);

    CHostPort loaded;
    loaded.LoadFromRegistry("Services\\Map\\Mapping0");
    EXPECT_EQ(loaded, target);

    CHostPort empty("stale", 5);
    empty.LoadFromRegistry("Services\\Map\\Mapping1");
    EXPECT_EQ(empty, CHostPort());
    EXPECT_EQ(empty.Host, "");
    EXPECT_EQ(empty.Port, 0u);
}

}  // namespace
