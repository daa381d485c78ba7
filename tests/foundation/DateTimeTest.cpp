#include "foundation/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

namespace {

struct KnownDate {
    int year, month, day, hour, minute, second;
    double days;      // the stored count, by the negative-value rule
    int dayOfWeek;    // 1 = Sunday
};

// Counts of the automation date (the spreadsheet serial numbers from March 1900 on).
const KnownDate kKnown[] = {
    {1899, 12, 30, 0, 0, 0, 0.0, 7},
    {1899, 12, 30, 12, 0, 0, 0.5, 7},
    {1899, 12, 31, 0, 0, 0, 1.0, 1},
    {1900, 1, 1, 0, 0, 0, 2.0, 2},
    {1900, 3, 1, 0, 0, 0, 61.0, 5},
    {2000, 1, 1, 18, 0, 0, 36526.75, 7},
    {2024, 1, 1, 0, 0, 0, 45292.0, 2},
    {2024, 6, 9, 6, 0, 0, 45452.25, 1},
    {1899, 12, 29, 0, 0, 0, -1.0, 6},
    {1899, 12, 29, 6, 0, 0, -1.25, 6},
    {1899, 12, 29, 18, 0, 0, -1.75, 6},
    {1800, 1, 1, 12, 0, 0, -36522.5, 4},
    {100, 1, 1, 0, 0, 0, -657434.0, 6},
    {9999, 12, 31, 0, 0, 0, 2958465.0, 6},
};

TEST(DateTimeTest, FieldsEncodeToTheAutomationCount) {
    for (const KnownDate& k : kKnown) {
        const CDateTime value = CDateTime::FromParts(k.year, k.month, k.day, k.hour, k.minute, k.second);
        EXPECT_TRUE(value.IsValid()) << k.year << "-" << k.month << "-" << k.day;
        EXPECT_DOUBLE_EQ(value.GetDays(), k.days) << k.year << "-" << k.month << "-" << k.day;
    }
}

TEST(DateTimeTest, CountsDecodeToFieldsAndWeekdays) {
    for (const KnownDate& k : kKnown) {
        DateTimeParts parts;
        ASSERT_TRUE(CDateTime(k.days).GetParts(parts)) << k.days;
        EXPECT_EQ(parts.year, k.year) << k.days;
        EXPECT_EQ(parts.month, k.month) << k.days;
        EXPECT_EQ(parts.day, k.day) << k.days;
        EXPECT_EQ(parts.hour, k.hour) << k.days;
        EXPECT_EQ(parts.minute, k.minute) << k.days;
        EXPECT_EQ(parts.second, k.second) << k.days;
        EXPECT_EQ(parts.dayOfWeek, k.dayOfWeek) << k.days;
        EXPECT_EQ(CDateTime(k.days).GetDayOfWeek(), k.dayOfWeek) << k.days;
    }
    DateTimeParts parts;
    ASSERT_TRUE(CDateTime(45292.0 + 365.0).GetParts(parts));  // 2024 is a leap year
    EXPECT_EQ(parts.year, 2024);
    EXPECT_EQ(parts.dayOfYear, 366);
}

TEST(DateTimeTest, NegativeCountsKeepTheirTimeOfDayUnsigned) {
    // -0.5 and 0.5 are the same moment: day 0, noon.
    EXPECT_EQ(CDateTime(-0.5).GetLinearSeconds(), CDateTime(0.5).GetLinearSeconds());
    EXPECT_EQ(CDateTime(-1.25).GetLinearSeconds(), -18 * 3600);
    EXPECT_EQ(CDateTime(-1.75).GetLinearSeconds(), -6 * 3600);
    // Ordering is by moment, not by the stored count: 06:00 comes before 18:00 of 12-29.
    EXPECT_LT(CDateTime(-1.25), CDateTime(-1.75));
    EXPECT_LT(CDateTime(-1.75), CDateTime(-0.5));
    EXPECT_LT(CDateTime(-2.75), CDateTime(-1.25));
    EXPECT_TRUE(std::is_eq(CDateTime(-0.5) <=> CDateTime(0.5)));
    EXPECT_NE(CDateTime(-0.5), CDateTime(0.5));  // equality is of the stored value
    // Back to a count: the rule applies again.
    EXPECT_DOUBLE_EQ(CDateTime::FromLinearSeconds(-18 * 3600).GetDays(), -1.25);
    // 1899-12-29 23:59:59: day -1, time of day 86399/86400.
    EXPECT_DOUBLE_EQ(CDateTime::FromLinearSeconds(-1).GetDays(), -1.0 - 86399.0 / 86400);
}

TEST(DateTimeTest, MomentsCompareInWholeSeconds) {
    const CDateTime five = CDateTime::FromTime(17, 0, 0);
    EXPECT_TRUE(std::is_eq(five <=> CDateTime(17.0 / 24.0)));
    EXPECT_TRUE(std::is_eq(five <=> CDateTime(17.0 / 24.0 + 0.4 / 86400)));
    EXPECT_LT(five, CDateTime::FromTime(17, 0, 1));
    EXPECT_GT(five, CDateTime::FromTime(16, 59, 59));
    DateTimeParts parts;
    ASSERT_TRUE(CDateTime(17.0 / 24.0 - 1e-9).GetParts(parts));
    EXPECT_EQ(parts.hour, 17);
    EXPECT_EQ(parts.minute, 0);
    // Rounding up to midnight moves to the next day.
    ASSERT_TRUE(CDateTime(1.0 - 1e-9).GetParts(parts));
    EXPECT_EQ(parts.day, 31);
    EXPECT_EQ(parts.hour, 0);
}

TEST(DateTimeTest, ValuesWithoutAMomentDecodeToNothing) {
    EXPECT_FALSE(CDateTime::FromParts(2023, 2, 29).IsValid());
    EXPECT_FALSE(CDateTime::FromParts(1900, 2, 29).IsValid());
    EXPECT_TRUE(CDateTime::FromParts(2000, 2, 29).IsValid());
    EXPECT_FALSE(CDateTime::FromParts(2024, 4, 31).IsValid());
    EXPECT_FALSE(CDateTime::FromParts(2024, 13, 1).IsValid());
    EXPECT_FALSE(CDateTime::FromParts(2024, 1, 1, 24, 0, 0).IsValid());
    EXPECT_FALSE(CDateTime::FromParts(2024, 1, 1, 0, 60, 0).IsValid());
    EXPECT_FALSE(CDateTime::FromParts(99, 12, 31).IsValid());
    EXPECT_FALSE(CDateTime::FromParts(10000, 1, 1).IsValid());
    EXPECT_FALSE(CDateTime::FromTime(-1, 0, 0).IsValid());

    const CDateTime nothing[] = {
        CDateTime(std::numeric_limits<double>::quiet_NaN()),
        CDateTime(std::numeric_limits<double>::infinity()),
        CDateTime(2958466.0),
        CDateTime(-657435.5),
        CDateTime(1e300),
        CDateTime(1.5, CDateTime::invalid),
        CDateTime(1.5, CDateTime::null),
    };
    for (const CDateTime& value : nothing) {
        DateTimeParts parts;
        EXPECT_FALSE(value.GetParts(parts)) << value.GetDays();
        EXPECT_FALSE(value.GetLinearSeconds()) << value.GetDays();
        EXPECT_EQ(value.GetDayOfWeek(), 0);
        EXPECT_EQ(value.Format("%c"), "");
        EXPECT_FALSE(value.GetTimeOfDay().IsValid());
        EXPECT_FALSE(value < CDateTime(1.0) || value > CDateTime(1.0) || std::is_eq(value <=> CDateTime(1.0)));
    }
    EXPECT_TRUE(CDateTime(2958465.99999).GetLinearSeconds());
    EXPECT_FALSE(CDateTime::FromLinearSeconds(2958466LL * 86400).IsValid());
}

TEST(DateTimeTest, LinearSecondsRoundTrip) {
    for (std::int64_t seconds : {0LL, 1LL, -1LL, 59LL, -86399LL, -86400LL, -86401LL, 61200LL,
                                 3913286400LL, -56802297600LL, 255611462399LL}) {
        const CDateTime value = CDateTime::FromLinearSeconds(seconds);
        ASSERT_TRUE(value.IsValid()) << seconds;
        EXPECT_EQ(value.GetLinearSeconds(), seconds) << seconds;
    }
}

TEST(DateTimeTest, TimeOfDayMovesToDayZero) {
    EXPECT_DOUBLE_EQ(CDateTime(45292.75).GetTimeOfDay().GetDays(), 0.75);
    EXPECT_DOUBLE_EQ(CDateTime(-1.25).GetTimeOfDay().GetDays(), 0.25);
    EXPECT_DOUBLE_EQ(CDateTime::FromParts(2024, 6, 3, 9, 30, 0).GetTimeOfDay().GetDays(), 9.5 / 24);
}

TEST(DateTimeTest, FormatsThroughTheLocale) {
    const CDateTime value = CDateTime::FromParts(2024, 1, 1, 9, 5, 7);
    EXPECT_EQ(value.Format("%Y-%m-%d %H:%M:%S %a %j"), "2024-01-01 09:05:07 Mon 001");
    EXPECT_EQ(CDateTime(-1.75).Format("%Y-%m-%d %H:%M %A"), "1899-12-29 18:00 Friday");
    EXPECT_EQ(value.Format("%X"), "09:05:07");  // the C locale's time form
}

TEST(DateTimeTest, NowIsTheLocalTime) {
    const std::time_t before = std::time(nullptr);
    const CDateTime now = CDateTime::Now();
    const std::time_t after = std::time(nullptr);
    ASSERT_TRUE(now.IsValid());
    std::tm lo{}, hi{};
    localtime_r(&before, &lo);
    localtime_r(&after, &hi);
    const CDateTime low = CDateTime::FromParts(lo.tm_year + 1900, lo.tm_mon + 1, lo.tm_mday,
                                               lo.tm_hour, lo.tm_min, lo.tm_sec > 59 ? 59 : lo.tm_sec);
    const CDateTime high = CDateTime::FromParts(hi.tm_year + 1900, hi.tm_mon + 1, hi.tm_mday,
                                                hi.tm_hour, hi.tm_min, hi.tm_sec > 59 ? 59 : hi.tm_sec);
    EXPECT_LE(low, now);
    EXPECT_LE(now, high);
}

}  // namespace
