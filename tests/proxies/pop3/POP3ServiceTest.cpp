#include "proxies/pop3/POP3Service.h"

#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>


namespace {

class POP3ServiceTest : public FrameworkTest {};

TEST_F(POP3ServiceTest, DelimiterInTheRegistryAndTheArchive) {
    auto service = CRef<CPOP3Service>::Adopt(new CPOP3Service);
    EXPECT_EQ(service->GetDelimiter(), '#');

    // Registry: the value sign-extended; a load keeps the low 8 bits, '#' when missing.
    service->SetDelimiter(static_cast<char>(0xA7));
    ASSERT_TRUE(service->SaveToRegistry("Services\\Mail"));
    EXPECT_EQ(RegReadDWORD("Services\\Mail", "Delimiter", 0), 0xFFFFFFA7u);
    ASSERT_TRUE(RegWriteDWORD("Services\\Mail", "Delimiter", 0x12345625));
    auto loaded = CRef<CPOP3Service>::Adopt(new CPOP3Service);
    loaded->LoadFromRegistry("Services\\Mail");
    EXPECT_EQ(loaded->GetDelimiter(), '%');
    loaded->LoadFromRegistry("Services\\Missing");
    EXPECT_EQ(loaded->GetDelimiter(), '#');

    // Archive: the TCP service's record, then the delimiter as its last byte.
    const auto bytes = StoreBytes([&](CArchive& ar) { service->Serialize(ar); });
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), 0xA7);
    auto copy = CRef<CPOP3Service>::Adopt(new CPOP3Service);
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { copy->Serialize(ar); }));
    EXPECT_EQ(copy->GetDelimiter(), static_cast<char>(0xA7));
    // Cut short: nothing changes.
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.end() - 1);
    bool failed = false;
    try {
        LoadBytes(cut, [&](CArchive& ar) { loaded->Serialize(ar); });
    } catch (CArchiveException* e) {
        e->Delete();
        failed = true;
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(loaded->GetDelimiter(), '#');
}

}  // namespace
