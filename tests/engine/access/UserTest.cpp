#include "engine/access/User.h"

#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// 39 characters, then 'P': the byte at index 39 scrambles with key 2 * 39 + 2 = 0x50 = 'P'
// to NUL, so the stored form ends in a NUL byte of its own.
const std::string kLongPassword = std::string("abcdefghijklmnopqrstuvwxyz0123456789ABC") + "P";

CCurrency Units(std::int64_t units, std::int64_t tenThousandths = 0) {
    return CCurrency::FromUnits(units, tenThousandths);
}

TEST(UserTest, DefaultsAndConstruction) {
    const CUser plain;
    EXPECT_EQ(plain.GetName(), "");
    EXPECT_EQ(plain.GetPassword(), "");
    EXPECT_TRUE(plain.GetAccountEnabled());
    EXPECT_FALSE(plain.GetUserCannotChangePassword());
    EXPECT_FALSE(plain.GetUserMustChangePassword());
    EXPECT_FALSE(plain.GetAuditUser());
    EXPECT_EQ(plain.GetAuditOptions(), 0u);
    for (std::size_t i = 0; i < CUser::kCounterCount; ++i)
        EXPECT_EQ(plain.GetCounter(static_cast<CUser::Counter>(i)), 0u);
    for (std::size_t i = 0; i < CUser::kAmountCount; ++i)
        EXPECT_EQ(plain.GetAmount(static_cast<CUser::Amount>(i)), CCurrency());

    const CUser bob("bob", "Bob Bobson", "pw", "desc");
    EXPECT_EQ(bob.GetName(), "bob");
    EXPECT_EQ(bob.GetRealName(), "Bob Bobson");
    EXPECT_EQ(bob.GetPassword(), "pw");
    EXPECT_EQ(bob.GetDescription(), "desc");
    EXPECT_TRUE(bob.ContainsUser("bob"));
    EXPECT_FALSE(bob.ContainsUser("Bob"));  // exact
    EXPECT_FALSE(bob.ContainsUser(""));

    // The run-time base is the lockable object, not the filter component.
    EXPECT_TRUE(bob.IsKindOf(RUNTIME_CLASS(CLockableObject)));
    EXPECT_FALSE(bob.IsKindOf(RUNTIME_CLASS(CFilterComponent)));
    std::unique_ptr<CObject> made(CRuntimeClass::CreateObject("CUser"));
    EXPECT_NE(dynamic_cast<CUser*>(made.get()), nullptr);
}

TEST(UserTest, BalanceChargesPerMiBAndPerHour) {
    CUser user;
    user.SetCounter(CUser::ClientRecvTraffic, 1048576);
    user.SetAmount(CUser::ClientRecvTrafficRate, Units(2, 5000));
    user.SetAmount(CUser::OpeningBalance, Units(10));
    user.UpdateBalance();
    EXPECT_EQ(user.GetAmount(CUser::ClosingBalance), Units(7, 5000));
    user.SetCounter(CUser::ClientRecvTraffic, 524288);
    user.UpdateBalance();
    EXPECT_EQ(user.GetAmount(CUser::ClosingBalance), Units(8, 7500));

    // Byte counts go in truncated ten-thousandths of a MiB: 104 bytes are 0.99 of one.
    EXPECT_EQ(CUser::TrafficCharge(Units(1), 104), CCurrency(0));
    EXPECT_EQ(CUser::TrafficCharge(Units(1), 105), CCurrency(1));
    // Time goes in truncated ten-thousandths of an hour: 1 s is 2 of them; 3.6 × 2 / 10000
    // is 7.2 ten-thousandths, truncated.
    EXPECT_EQ(CUser::TimeCharge(Units(3, 6000), 1), CCurrency(7));
    EXPECT_EQ(CUser::TimeCharge(Units(1, 2000), 3600), Units(1, 2000));
    EXPECT_EQ(CUser::TimeCharge(Units(-1), 3600), Units(-1));  // a negative rate credits

    // Every counter with its own rate.
    CUser all;
    for (std::size_t i = 0; i < 4; ++i) {
        all.SetCounter(static_cast<CUser::Counter>(i), 2097152);        // 2 MiB
        all.SetAmount(static_cast<CUser::Amount>(i), Units(1 + i));       // 1, 2, 3, 4 per MiB
    }
    all.SetCounter(CUser::TimeOnLine, 5400);                              // 1.5 h
    all.SetAmount(CUser::TimeRate, Units(2));
    all.SetAmount(CUser::OpeningBalance, Units(100));
    EXPECT_EQ(all.GetTotalCharges(), Units(23));                          // 2+4+6+8+3
    all.UpdateBalance();
    EXPECT_EQ(all.GetAmount(CUser::ClosingBalance), Units(77));

    // A result that does not fit is invalid, not wrapped.
    all.SetAmount(CUser::OpeningBalance, CCurrency(std::numeric_limits<std::int64_t>::min()));
    all.UpdateBalance();
    EXPECT_FALSE(all.GetAmount(CUser::ClosingBalance).IsValid());
}

TEST(UserTest, UsageAddsAndSaturates) {
    CUser user;
    user.AddUsage(1, 2, 3, 4, 5);
    user.AddUsage(10, 20, 30, 40, 50);
    EXPECT_EQ(user.GetCounter(CUser::ClientSendTraffic), 11u);
    EXPECT_EQ(user.GetCounter(CUser::ClientRecvTraffic), 22u);
    EXPECT_EQ(user.GetCounter(CUser::NonClientSendTraffic), 33u);
    EXPECT_EQ(user.GetCounter(CUser::NonClientRecvTraffic), 44u);
    EXPECT_EQ(user.GetCounter(CUser::TimeOnLine), 55u);
    user.SetCounter(CUser::ClientSendTraffic, 0xFFFFFFF0u);
    user.AddUsage(0x20, 0, 0, 0, 0);
    EXPECT_EQ(user.GetCounter(CUser::ClientSendTraffic), 0xFFFFFFFFu);
}

CUser* Sample() {
    auto* user = new CUser("bob", "B", "pw", "");
    for (DWORD i = 0; i < CUser::kCounterCount; ++i)
        user->SetCounter(static_cast<CUser::Counter>(i), i + 1);
    user->SetAmount(CUser::ClientSendTrafficRate, Units(2, 5000));
    user->SetAmount(CUser::OpeningBalance, Units(10));
    user->SetAmount(CUser::ClosingBalance, Units(-1, -5000));
    user->SetUserMustChangePassword(TRUE);
    user->SetAuditUser(TRUE);
    user->SetAuditOptions(0x141);
    return user;
}

TEST(UserTest, ArchiveFormByteForByte) {
    std::unique_ptr<CUser> user(Sample());
    const auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(user.get()); });
    Bytes expected("FF FF 01 00 05 00");
    expected.Text("CUser").Byte(3).Text("bob").Byte(0).Byte(1).Text("B");
    expected.Hex("02 72 73");  // "pw" scrambled: 'p' ^ 2, 'w' ^ 4
    expected.Hex("01000000 02000000 03000000 04000000 05000000");
    expected.Hex("00000000 00000000 A8610000");             // 2.5
    expected.Hex("00000000 00000000 00000000").Hex("00000000 00000000 00000000");
    expected.Hex("00000000 00000000 00000000").Hex("00000000 00000000 00000000");
    expected.Hex("00000000 00000000 A0860100");             // 10
    expected.Hex("00000000 FFFFFFFF 68C5FFFF");             // -1.5
    expected.Hex("01000000 00000000 01000000 01000000 41010000");
    EXPECT_EQ(expected, bytes);

    std::unique_ptr<CUser> back;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back = ar.ReadOwnedObject<CUser>(); }));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->GetPassword(), "pw");
    EXPECT_EQ(back->GetRealName(), "B");
    EXPECT_EQ(back->GetCounter(CUser::TimeOnLine), 5u);
    EXPECT_EQ(back->GetAmount(CUser::ClosingBalance), Units(-1, -5000));
    EXPECT_EQ(back->GetAuditOptions(), 0x141u);
    EXPECT_TRUE(back->GetUserMustChangePassword());
}

TEST(UserTest, ArchiveCarriesAmountStatusAndPasswordBytes) {
    CUser user("u", "", kLongPassword, "");
    user.SetAmount(CUser::TimeRate, CCurrency(5, CCurrency::invalid));
    const auto bytes = StoreBytes([&](CArchive& ar) { user.Serialize(ar); });
    // The scrambled password: 40 bytes, the last of them NUL.
    ASSERT_GT(bytes.size(), 45u);
    EXPECT_EQ(Bytes("01 75 00 00 28"), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 5));
    EXPECT_EQ(bytes[4 + 40], 0);
    CUser back;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back.Serialize(ar); }));
    EXPECT_EQ(back.GetPassword(), kLongPassword);
    EXPECT_EQ(back.GetAmount(CUser::TimeRate), CCurrency(5, CCurrency::invalid));
}

TEST(UserTest, FailedArchiveLoadLeavesTheUser) {
    std::unique_ptr<CUser> source(Sample());
    auto bytes = StoreBytes([&](CArchive& ar) { source->Serialize(ar); });
    bytes.pop_back();  // AuditOptions cut short
    CUser target("keep", "Real", "secret", "d");
    target.SetCounter(CUser::TimeOnLine, 77);
    CMemFile file(bytes.data(), bytes.size());
    CArchive ar(&file, CArchive::load);
    EXPECT_TRUE(ThrowsPtr<CArchiveException>([&] { target.Serialize(ar); }));
    EXPECT_EQ(target.GetName(), "keep");
    EXPECT_EQ(target.GetRealName(), "Real");
    EXPECT_EQ(target.GetPassword(), "secret");
    EXPECT_EQ(target.GetCounter(CUser::TimeOnLine), 77u);
    EXPECT_FALSE(target.GetAuditUser());
}

TEST(UserTest, RegistryFormAndRoundTrip) {
    TempStateDir state;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    std::unique_ptr<CUser> user(Sample());
    user->SetPassword(kLongPassword);
    user->SetAmount(CUser::TimeRate, Units(0, 1));
    user->SetAccountEnabled(FALSE);
    ASSERT_TRUE(user->SaveToRegistry("UserDatabase\\bob"));

    const char* key = "UserDatabase\\bob";
    EXPECT_EQ(RegReadString(key, "Type", ""), "User");
    EXPECT_EQ(RegReadString(key, "RealName", ""), "B");
    const std::string stored = RegReadString(key, "Password", "");
    ASSERT_EQ(stored.size(), 40u);
    EXPECT_EQ(stored[0], 'a' ^ 2);
    EXPECT_EQ(stored[39], '\0');
    EXPECT_EQ(RegReadDWORD(key, "TimeOnLine", 0), 5u);
    EXPECT_EQ(RegReadDWORD(key, "ClosingBalanceHi", 0), 0xFFFFFFFFu);
    EXPECT_EQ(RegReadDWORD(key, "ClosingBalanceLo", 0), 0xFFFFC568u);
    EXPECT_EQ(RegReadDWORD(key, "ClientSendTrafficRateLo", 0), 25000u);
    EXPECT_EQ(RegReadDWORD(key, "TimeRateLo", 0), 1u);
    EXPECT_EQ(RegReadDWORD(key, "AccountEnabled", 1), 0u);
    EXPECT_EQ(RegReadDWORD(key, "AuditOptions", 0), 0x141u);
    // The values in their stored order.
    std::vector<std::string> names;
    for (const RegTreeValue& value : RegEnumValues(key))
        names.push_back(value.name);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "Name", "Description", "Type", "RealName", "Password", "ClientSendTraffic",
                         "ClientRecvTraffic", "NonClientSendTraffic", "NonClientRecvTraffic", "TimeOnLine",
                         "OpeningBalanceHi", "OpeningBalanceLo", "ClosingBalanceHi", "ClosingBalanceLo",
                         "ClientSendTrafficRateHi", "ClientSendTrafficRateLo", "ClientRecvTrafficRateHi",
                         "ClientRecvTrafficRateLo", "NonClientSendTrafficRateHi", "NonClientSendTrafficRateLo",
                         "NonClientRecvTrafficRateHi", "NonClientRecvTrafficRateLo", "TimeRateHi", "TimeRateLo",
                         "AccountEnabled", "UserCannotChangePassword", "UserMustChangePassword", "AuditUser",
                         "AuditOptions"}));

    CUser back;
    back.LoadFromRegistry(key);
    EXPECT_EQ(back.GetName(), "bob");
    EXPECT_EQ(back.GetPassword(), kLongPassword);
    EXPECT_EQ(back.GetAmount(CUser::ClosingBalance), Units(-1, -5000));
    EXPECT_EQ(back.GetAmount(CUser::TimeRate), CCurrency(1));
    EXPECT_EQ(back.GetCounter(CUser::NonClientSendTraffic), 3u);
    EXPECT_FALSE(back.GetAccountEnabled());
    EXPECT_TRUE(back.GetAuditUser());

    // A key without values gives the defaults, AccountEnabled 1 among them.
    back.LoadFromRegistry("UserDatabase\\empty");
    EXPECT_EQ(back.GetName(), "");
    EXPECT_EQ(back.GetPassword(), "");
    EXPECT_TRUE(back.GetAccountEnabled());
    EXPECT_FALSE(back.GetAuditUser());
    EXPECT_EQ(back.GetAmount(CUser::ClosingBalance), CCurrency());
}

TEST(UserTest, StatisticsWriteOnlyTheirValues) {
    TempStateDir state;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    std::unique_ptr<CUser> user(Sample());
    ASSERT_TRUE(user->SaveStatistics("S"));
    std::vector<std::string> names;
    for (const RegTreeValue& value : RegEnumValues("S"))
        names.push_back(value.name);
    EXPECT_EQ(names, (std::vector<std::string>{"ClientSendTraffic", "ClientRecvTraffic",
                                               "NonClientSendTraffic", "NonClientRecvTraffic",
                                               "TimeOnLine", "OpeningBalanceHi", "OpeningBalanceLo",
                                               "ClosingBalanceHi", "ClosingBalanceLo"}));
}

TEST(UserTest, AuditFileFollowsAuditUser) {
    TempStateDir state;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    const std::string folder = state.Path() + "/audit";
    ASSERT_TRUE(RegWriteString("Settings", "AuditDirectory", folder));
    CUser user("carol", "", "", "");
    user.OpenAuditFile();
    EXPECT_EQ(user.GetAuditFile(), nullptr);  // not audited

    user.SetAuditUser(TRUE);
    user.OpenAuditFile();
    const CLogFileRef first = user.GetAuditFile();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetPath(), folder + "/carol.log");
    EXPECT_TRUE(user.GetAuditUser());
    user.OpenAuditFile();  // reopened: a new file object, the old one left to its holders
    EXPECT_NE(user.GetAuditFile(), first);
    EXPECT_EQ(first.use_count(), 1);

    CUser copy;
    copy.Copy(user);
    EXPECT_TRUE(copy.GetAuditUser());
    EXPECT_EQ(copy.GetAuditFile(), nullptr);  // the copy has a file of its own to open
    user.CloseAuditFile();
    EXPECT_EQ(user.GetAuditFile(), nullptr);
    EXPECT_TRUE(user.GetAuditUser());

    // A name that cannot be a file name turns auditing off.
    CUser odd("a/b", "", "", "");
    odd.SetAuditUser(TRUE);
    odd.OpenAuditFile();
    EXPECT_FALSE(odd.GetAuditUser());
    EXPECT_EQ(odd.GetAuditFile(), nullptr);
}

TEST(UserTest, CopyTakesEveryField) {
    std::unique_ptr<CUser> source(Sample());
    source->SetDescription("text");
    CUser copy;
    copy.Copy(*source);
    const auto a = StoreBytes([&](CArchive& ar) { source->Serialize(ar); });
    const auto b = StoreBytes([&](CArchive& ar) { copy.Serialize(ar); });
    EXPECT_EQ(a, b);
    copy.Copy(copy);
    EXPECT_EQ(copy.GetName(), "bob");
}

}  // namespace
