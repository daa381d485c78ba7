#include "engine/access/TimeSlice.h"

#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <string>

namespace {

// 2024-06-03 is a Monday, 2024-06-08 a Saturday, 2024-06-09 a Sunday.
CDateTime At(int day, int hour, int minute = 0, int second = 0) {
    return CDateTime::FromParts(2024, 6, day, hour, minute, second);
}

TEST(TimeSliceTest, ConstructorsSetTheirForms) {
    const CTimeSlice plain;
    EXPECT_EQ(plain.GetEvery(), 1u);
    EXPECT_EQ(plain.GetCheckTime(), 0u);
    EXPECT_EQ(plain.GetEveryWhat(), 127u);
    EXPECT_TRUE(plain.GetStartTime().IsValid());
    EXPECT_EQ(plain.GetStartTime(), plain.GetEndTime());
    EXPECT_GT(plain.GetStartTime().GetDays(), 45000.0);  // the current moment, not day 0

    const CTimeSlice days(CTimeSlice::kWeekend);
    EXPECT_EQ(days.GetEvery(), 1u);
    EXPECT_EQ(days.GetCheckTime(), 0u);
    EXPECT_EQ(days.GetEveryWhat(), 65u);

    const CTimeSlice window(CTimeSlice::kWeekdays, At(3, 9), At(5, 17, 30));
    EXPECT_EQ(window.GetEvery(), 1u);
    EXPECT_EQ(window.GetCheckTime(), 1u);
    EXPECT_EQ(window.GetEveryWhat(), 62u);
    EXPECT_DOUBLE_EQ(window.GetStartTime().GetDays(), 9.0 / 24);      // on 1899-12-30
    EXPECT_DOUBLE_EQ(window.GetEndTime().GetDays(), 17.5 / 24);

    const CTimeSlice once(At(3, 8), At(5, 18));
    EXPECT_EQ(once.GetEvery(), 0u);
    EXPECT_EQ(once.GetCheckTime(), 1u);
    EXPECT_EQ(once.GetEveryWhat(), 0u);
    EXPECT_EQ(once.GetStartTime(), At(3, 8));
    EXPECT_EQ(once.GetEndTime(), At(5, 18));
}

TEST(TimeSliceTest, WeekdayWindowBoundsAreInclusiveToTheSecond) {
    const CTimeSlice office(CTimeSlice::kWeekdays, CDateTime::FromTime(9, 0, 0),
                            CDateTime::FromTime(17, 0, 0));
    struct Row {
        CDateTime moment;
        BOOL included;
    };
    const Row rows[] = {
        {At(3, 17, 0, 0), TRUE},   // Monday 17:00:00
        {At(3, 17, 0, 1), FALSE},  // Monday 17:00:01
        {At(3, 9, 0, 0), TRUE},
        {At(3, 8, 59, 59), FALSE},
        {At(3, 12, 0, 0), TRUE},
        {At(7, 16, 59, 59), TRUE},  // Friday
        {At(8, 12, 0, 0), FALSE},   // Saturday
        {At(9, 12, 0, 0), FALSE},   // Sunday
        {CDateTime::FromParts(1950, 1, 2, 10, 0, 0), TRUE},  // a Monday long ago
        {CDateTime::FromParts(1899, 12, 29, 10, 0, 0), TRUE},  // Friday, negative count
        {CDateTime::FromParts(1899, 12, 30, 10, 0, 0), FALSE}, // Saturday, day 0
    };
    for (const Row& row : rows)
        EXPECT_EQ(office.Includes(row.moment), row.included) << row.moment.Format("%c");

    // The same bounds entered as raw counts (as a console's time control produces them).
    CTimeSlice raw(CTimeSlice::kWeekdays);
    raw.SetCheckTime(1);
    raw.SetStartTime(CDateTime(9.0 / 24));
    raw.SetEndTime(CDateTime(17.0 / 24));
    EXPECT_TRUE(raw.Includes(At(3, 17, 0, 0)));
    EXPECT_FALSE(raw.Includes(At(3, 17, 0, 1)));
}

TEST(TimeSliceTest, DayMaskBitZeroIsSunday) {
    for (unsigned bit = 0; bit < 7; ++bit) {
        const CTimeSlice slice(1u << bit);
        for (int day = 0; day < 7; ++day) {
            // 2024-06-09 is a Sunday: day 0 of this walk.
            const CDateTime moment = CDateTime::FromParts(2024, 6, 9 + day, 12, 0, 0);
            EXPECT_EQ(slice.Includes(moment), static_cast<unsigned>(day) == bit ? TRUE : FALSE)
                << "bit " << bit << " day " << day;
        }
    }
    const CTimeSlice never(0);
    for (int day = 3; day <= 9; ++day)
        EXPECT_FALSE(never.Includes(At(day, 12)));
    // Bits above Saturday mean nothing.
    const CTimeSlice high(0xFFFFFF80u);
    EXPECT_FALSE(high.Includes(At(3, 12)));
}

TEST(TimeSliceTest, RecurringWindowsNeverWrapMidnight) {
    const CTimeSlice night(CTimeSlice::kEveryDay, CDateTime::FromTime(22, 0, 0),
                           CDateTime::FromTime(6, 0, 0));
    for (int hour : {0, 3, 6, 12, 21, 22, 23})
        EXPECT_FALSE(night.Includes(At(4, hour))) << hour;
    // A whole-day recurring slice covers every second of its days.
    const CTimeSlice allDay(CTimeSlice::kEveryDay);
    EXPECT_TRUE(allDay.Includes(At(4, 0, 0, 0)));
    EXPECT_TRUE(allDay.Includes(At(4, 23, 59, 59)));
    // Recurring bounds count only by their time of day, whatever date they carry.
    CTimeSlice dated(CTimeSlice::kEveryDay);
    dated.SetCheckTime(1);
    dated.SetStartTime(At(20, 9));
    dated.SetEndTime(CDateTime::FromParts(1990, 1, 1, 10, 0, 0));
    EXPECT_TRUE(dated.Includes(At(4, 9, 30)));
    EXPECT_FALSE(dated.Includes(At(4, 10, 0, 1)));
}

TEST(TimeSliceTest, OneOffWindows) {
    CTimeSlice unchecked(At(3, 8), At(5, 18));
    unchecked.SetCheckTime(0);
    for (const CDateTime& moment : {At(1, 0), At(4, 12), CDateTime::FromParts(100, 1, 1),
                                    CDateTime::FromParts(9999, 12, 31, 23, 59, 59)})
        EXPECT_TRUE(unchecked.Includes(moment)) << moment.Format("%c");

    const CTimeSlice once(At(3, 8), At(5, 18));
    EXPECT_TRUE(once.Includes(At(3, 8, 0, 0)));
    EXPECT_FALSE(once.Includes(At(3, 7, 59, 59)));
    EXPECT_TRUE(once.Includes(At(4, 2)));  // across days, the whole span
    EXPECT_TRUE(once.Includes(At(5, 18, 0, 0)));
    EXPECT_FALSE(once.Includes(At(5, 18, 0, 1)));

    // Before day 0 the stored counts order the wrong way round; moments do not.
    const CTimeSlice old(CDateTime(-1.25), CDateTime(-1.75));  // 1899-12-29 06:00 to 18:00
    EXPECT_TRUE(old.Includes(CDateTime(-1.5)));
    EXPECT_TRUE(old.Includes(CDateTime::FromParts(1899, 12, 29, 6, 0, 0)));
    EXPECT_FALSE(old.Includes(CDateTime::FromParts(1899, 12, 29, 5, 59, 59)));
    EXPECT_FALSE(old.Includes(CDateTime(0.0)));
}

TEST(TimeSliceTest, ValuesWithoutAMomentIncludeNothing) {
    const CDateTime nan(std::numeric_limits<double>::quiet_NaN());
    const CTimeSlice allDay(CTimeSlice::kEveryDay);
    EXPECT_FALSE(allDay.Includes(nan));
    EXPECT_FALSE(allDay.Includes(CDateTime(45446.5, CDateTime::invalid)));
    CTimeSlice unchecked(At(3, 8), At(5, 18));
    unchecked.SetCheckTime(0);
    EXPECT_FALSE(unchecked.Includes(nan));
    // A bound without a moment (from a hostile stream) admits nothing.
    CTimeSlice badBound(At(3, 8), nan);
    EXPECT_FALSE(badBound.Includes(At(4, 8)));
    CTimeSlice badRecurring(CTimeSlice::kEveryDay, CDateTime::FromTime(9, 0, 0), CDateTime::FromTime(17, 0, 0));
    badRecurring.SetEndTime(CDateTime(0.5, CDateTime::null));
    EXPECT_FALSE(badRecurring.Includes(At(4, 12)));
}

TEST(TimeSliceTest, DescriptionTexts) {
    struct Row {
        DWORD mask;
        const char* text;
    };
    const Row rows[] = {
        {127, "Every day"}, {62, "Every weekday"}, {65, "Every weekend"}, {42, "Every MWF"},
        {1, "Every Su"},    {0x11, "Every ThSu"},  {0x60, "Every FS"},    {126, "Every MTWThFS"},
        {0x5F, "Every MTWThSSu"}, {0x14, "Every TTh"}, {0, "Every "},
    };
    for (const Row& row : rows) {
        CTimeSlice slice(row.mask);
        EXPECT_EQ(slice.GetDescriptionText(), row.text) << row.mask;
        EXPECT_EQ(slice.GetDescription(), row.text);
    }
    // The tests run in the C locale: "%X" is HH:MM:SS, "%c" the C date and time.
    CTimeSlice window(42, CDateTime::FromTime(9, 0, 0), CDateTime::FromTime(17, 0, 0));
    EXPECT_EQ(window.GetDescriptionText(), "Every MWF from 09:00:00 to 17:00:00");
    CTimeSlice once(At(3, 8), At(5, 18, 30));
    EXPECT_EQ(once.GetDescriptionText(), "From Mon Jun  3 08:00:00 2024 to Wed Jun  5 18:30:00 2024");
}

class TimeSliceStoreTest : public ::testing::Test {
protected:
    TempStateDir state;
    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }
};

std::uint64_t Bits(double value) { return std::bit_cast<std::uint64_t>(value); }

TEST_F(TimeSliceStoreTest, RegistryKeepsEveryFieldExactly) {
    CTimeSlice slice(42, CDateTime::FromTime(9, 0, 0), CDateTime::FromTime(17, 0, 0));
    slice.SetEndTime(CDateTime(17.0 / 24.0 + 1e-12));  // bits beyond whole seconds stay too
    slice.SetName("office");
    slice.SetDescription("Every MWF");
    ASSERT_TRUE(slice.SaveToRegistry("Slice"));
    EXPECT_EQ(RegReadDWORD("Slice", "Every", 9), 1u);
    EXPECT_EQ(RegReadDWORD("Slice", "CheckTime", 9), 1u);
    EXPECT_EQ(RegReadDWORD("Slice", "EveryWhat", 9), 42u);
    EXPECT_EQ(RegReadString("Slice", "Name", "-"), "office");
    EXPECT_EQ(RegReadString("Slice", "Description", "-"), "Every MWF");

    CTimeSlice loaded(1);
    loaded.LoadFromRegistry("Slice");
    EXPECT_EQ(loaded.GetName(), "office");
    EXPECT_EQ(loaded.GetDescription(), "Every MWF");
    EXPECT_EQ(loaded.GetEvery(), 1u);
    EXPECT_EQ(loaded.GetCheckTime(), 1u);
    EXPECT_EQ(loaded.GetEveryWhat(), 42u);
    EXPECT_EQ(Bits(loaded.GetStartTime().GetDays()), Bits(0.375));
    EXPECT_EQ(Bits(loaded.GetEndTime().GetDays()), Bits(17.0 / 24.0 + 1e-12));
    EXPECT_TRUE(loaded.GetStartTime().IsValid());
}

TEST_F(TimeSliceStoreTest, RegistryDefaultsForMissingValues) {
    CTimeSlice loaded(At(3, 8), At(5, 18));
    loaded.LoadFromRegistry("Empty");
    EXPECT_EQ(loaded.GetName(), "");
    EXPECT_EQ(loaded.GetEvery(), 1u);
    EXPECT_EQ(loaded.GetCheckTime(), 0u);
    EXPECT_EQ(loaded.GetEveryWhat(), 127u);
    EXPECT_EQ(loaded.GetStartTime(), CDateTime(0.0));
    EXPECT_EQ(loaded.GetEndTime(), CDateTime(0.0));
}

TEST_F(TimeSliceStoreTest, ArchiveBytes) {
    CTimeSlice slice(42, CDateTime::FromTime(9, 0, 0), CDateTime::FromTime(18, 0, 0));
    slice.SetName("n");
    const auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(&slice); });
    const Bytes expected = Bytes("FF FF 01 00 0A 00")
                               .Text("CTimeSlice")
                               .Byte(1).Text("n")
                               .Byte(0)
                               .Dword(1).Dword(1).Dword(42)
                               .Dword(0).Hex("00 00 00 00 00 00 D8 3F")   // 0.375 = 09:00
                               .Dword(0).Hex("00 00 00 00 00 00 E8 3F");  // 0.75 = 18:00
    EXPECT_EQ(expected, bytes) << HexDump(bytes);

    std::unique_ptr<CTimeSlice> back;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back = ar.ReadOwnedObject<CTimeSlice>(); }));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->GetName(), "n");
    EXPECT_EQ(back->GetEveryWhat(), 42u);
    EXPECT_EQ(back->GetStartTime(), CDateTime(0.375));
    EXPECT_EQ(back->GetEndTime(), CDateTime(0.75));

    // A truncated slice read into an existing one leaves it as it was.
    Bytes cut = Bytes().Byte(1).Text("x").Byte(0).Dword(0).Dword(0).Dword(1).Dword(0);
    EXPECT_EQ(LoadFailure(cut, [&](CArchive& ar) { back->Serialize(ar); }), CArchiveException::endOfFile);
    EXPECT_EQ(back->GetName(), "n");
    EXPECT_EQ(back->GetEvery(), 1u);
    EXPECT_EQ(back->GetEveryWhat(), 42u);
}

TEST(TimeSliceCopyTest, CopyTakesEveryField) {
    CTimeSlice source(At(3, 8), At(5, 18));
    source.SetName("trip");
    source.SetDescription("d");
    CTimeSlice target;
    target.Copy(source);
    EXPECT_EQ(target.GetName(), "trip");
    EXPECT_EQ(target.GetDescription(), "d");
    EXPECT_EQ(target.GetEvery(), 0u);
    EXPECT_EQ(target.GetCheckTime(), 1u);
    EXPECT_EQ(target.GetEveryWhat(), 0u);
    EXPECT_EQ(target.GetStartTime(), At(3, 8));
    EXPECT_EQ(target.GetEndTime(), At(5, 18));
}

}  // namespace
