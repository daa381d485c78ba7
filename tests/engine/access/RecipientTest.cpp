#include "engine/access/Recipient.h"

#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "support/ArchiveHelpers.h"
#include "support/FakeRequest.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// A recipient with every field set and something in each list and filter.
std::unique_ptr<CRecipient> Full() {
    auto recipient = std::make_unique<CRecipient>("Staff");
    recipient->SetDescription("desc");
    recipient->SetSpecifyLocation(1);
    recipient->SetSpecifyTime(1);
    recipient->SetSpecifyRequest(1);
    recipient->SetMinimumSecurityLevel(2);
    recipient->SetIncludedLocations({"192.168.*", "10.*"});
    recipient->SetExcludedLocations({"192.168.1.*"});
    recipient->GetTimeFilter().SetName("office");
    recipient->GetTimeFilter().AddInclusion(new CTimeSlice(CTimeSlice::kWeekdays));
    recipient->GetRequestFilter().AddFilter(NewUrlFilter("games", "games"));
    return recipient;
}

void ExpectFull(const CRecipient& r) {
    EXPECT_EQ(r.GetUserName(), "Staff");
    EXPECT_EQ(r.GetDescription(), "desc");
    EXPECT_EQ(r.GetSpecifyUser(), 1u);
    EXPECT_EQ(r.GetSpecifyLocation(), 1u);
    EXPECT_EQ(r.GetSpecifyTime(), 1u);
    EXPECT_EQ(r.GetSpecifyRequest(), 1u);
    EXPECT_EQ(r.GetMinimumSecurityLevel(), 2u);
    EXPECT_EQ(r.GetIncludedLocations(), (CRecipient::LocationList{"192.168.*", "10.*"}));
    EXPECT_EQ(r.GetExcludedLocations(), (CRecipient::LocationList{"192.168.1.*"}));
    EXPECT_EQ(r.GetTimeFilter().GetName(), "office");
    EXPECT_EQ(r.GetTimeFilter().GetInclusions().GetCount(), 1u);
    ASSERT_EQ(r.GetRequestFilter().GetCount(), 1u);
    const auto* filter = static_cast<const CRequestFilter*>(r.GetRequestFilter().GetHead());
    EXPECT_EQ(filter->GetName(), "games");
    EXPECT_EQ(filter->GetCriteria().GetCount(), 1u);
}

TEST(RecipientTest, Constructors) {
    const CRecipient everyone;
    EXPECT_EQ(everyone.GetUserName(), "Everyone");
    EXPECT_EQ(everyone.GetDescription(), "Unrestricted Rights");
    EXPECT_EQ(everyone.GetSpecifyUser(), 0u);
    const CRecipient named("Administrators");
    EXPECT_EQ(named.GetUserName(), "Administrators");
    EXPECT_EQ(named.GetDescription(), "Unrestricted Rights");
    EXPECT_EQ(named.GetSpecifyUser(), 1u);
    EXPECT_EQ(named.GetSpecifyLocation() + named.GetSpecifyTime() + named.GetSpecifyRequest() +
                  named.GetMinimumSecurityLevel(),
              0u);
    EXPECT_TRUE(named.GetIncludedLocations().empty());
    EXPECT_TRUE(named.GetRequestFilter().IsEmpty());
}

TEST(RecipientTest, DescriptionNamesTheRestrictions) {
    CRecipient recipient("alice");
    recipient.SetDescription("x");
    EXPECT_EQ(recipient.GetDescriptionText(), "Unrestricted Rights");  // SpecifyUser does not count
    recipient.SetSpecifyLocation(1);
    recipient.SetSpecifyTime(1);
    recipient.SetMinimumSecurityLevel(2);
    EXPECT_EQ(recipient.GetDescriptionText(), "Restricted by security level, location, time");
    EXPECT_EQ(recipient.GetDescription(), "Restricted by security level, location, time");
    recipient.SetSpecifyRequest(1);
    EXPECT_EQ(recipient.GetDescriptionText(), "Restricted by security level, location, time, request");
    recipient.SetMinimumSecurityLevel(0);
    recipient.SetSpecifyLocation(0);
    recipient.SetSpecifyTime(0);
    EXPECT_EQ(recipient.GetDescriptionText(), "Restricted by request");
}

TEST(RecipientTest, CopyTakesEveryFieldAndCopiesTheFilters) {
    auto source = Full();
    CRecipient copy;
    copy.SetIncludedLocations({"old"});
    copy.Copy(*source);
    ExpectFull(copy);
    EXPECT_NE(copy.GetRequestFilter().GetHead(), source->GetRequestFilter().GetHead());
    copy.Copy(copy);
    ExpectFull(copy);
}

class RecipientRegistryTest : public ::testing::Test {
protected:
    TempStateDir state;
    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }
};

TEST_F(RecipientRegistryTest, ValuesAndSubKeys) {
    auto recipient = Full();
    RegWriteDWORD("P\\IncludedLocations", "172.16.*", 0);  // stale: rewritten
    ASSERT_TRUE(recipient->SaveToRegistry("P"));
    EXPECT_EQ(RegReadString("P", "UserName", ""), "Staff");
    EXPECT_EQ(RegReadString("P", "Description", ""), "desc");
    EXPECT_EQ(RegReadDWORD("P", "SpecifyUser", 9), 1u);
    EXPECT_EQ(RegReadDWORD("P", "MinimumSecurityLevel", 9), 2u);
    std::vector<std::string> names;
    for (const RegTreeValue& value : RegEnumValues("P\\IncludedLocations")) {
        names.push_back(value.name);
        EXPECT_EQ(value.type, REG_DWORD);
        EXPECT_EQ(value.data, std::string(4, '\0'));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"192.168.*", "10.*"}));
    EXPECT_EQ(RegReadDWORD("P\\ExcludedLocations", "192.168.1.*", 9), 0u);
    EXPECT_EQ(RegReadString("P\\TimeFilter", "Name", ""), "office");
    EXPECT_EQ(RegReadString("P\\TimeFilter\\Inclusion0", "Name", "-"), "");
    EXPECT_EQ(RegReadString("P\\RequestFilter\\Filter0", "Name", ""), "games");
    EXPECT_EQ(RegReadString("P\\RequestFilter\\Filter0\\Criterion0", "Type", ""), "CRequestCriterion");

    CRecipient loaded;
    loaded.SetExcludedLocations({"old"});
    loaded.LoadFromRegistry("P");
    ExpectFull(loaded);

    // Missing values load as "" and 0; the location data are ignored.
    RegWriteDWORD("Q\\IncludedLocations", "1.2.3.4", 77);
    CRecipient sparse;
    sparse.LoadFromRegistry("Q");
    EXPECT_EQ(sparse.GetUserName(), "");
    EXPECT_EQ(sparse.GetDescription(), "");
    EXPECT_EQ(sparse.GetSpecifyUser(), 0u);
    EXPECT_EQ(sparse.GetIncludedLocations(), (CRecipient::LocationList{"1.2.3.4"}));
    EXPECT_TRUE(sparse.GetExcludedLocations().empty());
}

TEST(RecipientArchiveTest, RoundTripAndFailedLoads) {
    auto recipient = Full();
    const auto bytes = StoreBytes([&](CArchive& ar) { recipient->Serialize(ar); });
    // The record begins with the texts, the five DWORDs and the two string lists.
    const Bytes head = Bytes()
                           .Byte(5).Text("Staff").Byte(4).Text("desc")
                           .Dword(1).Dword(1).Dword(1).Dword(1).Dword(2)
                           .Word(2).Byte(9).Text("192.168.*").Byte(4).Text("10.*")
                           .Word(1).Byte(11).Text("192.168.1.*");
    ASSERT_GT(bytes.size(), head.Size());
    EXPECT_TRUE(std::equal(head.Get().begin(), head.Get().end(), bytes.begin()));

    CRecipient loaded;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { loaded.Serialize(ar); }));
    ExpectFull(loaded);

    // Every cut of the record fails and leaves the recipient whole.
    for (std::size_t cut = 0; cut < bytes.size(); cut += 7) {
        const std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        CMemFile file(part.data(), part.size());
        CArchive ar(&file, CArchive::load, 128);
        bool failed = false;
        try {
            loaded.Serialize(ar);
        } catch (CException* e) {
            e->Delete();
            failed = true;
        }
        EXPECT_TRUE(failed) << cut;
        ExpectFull(loaded);
    }
}

}  // namespace
