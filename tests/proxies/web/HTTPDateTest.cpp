#include "proxies/web/HTTPDate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace {

// Seconds since 1970 of the dates below, worked out by hand: 1994-11-06 08:49:37 UTC is
// 784111777; a hundred years later 36525 days (25 leap days) more.
constexpr std::int64_t kNov6th1994 = 784111777;
constexpr std::int64_t kDay = 86400;

std::optional<std::int64_t> Parse(const std::string& text) {
    std::int64_t time = -1;
    if (!ParseHTTPDate(text, time))
        return std::nullopt;
    return time;
}

TEST(HTTPDateTest, ThreeForms) {
    EXPECT_EQ(Parse("Sun, 06 Nov 1994 08:49:37 GMT"), kNov6th1994);
    EXPECT_EQ(Parse("Sunday, 06-Nov-94 08:49:37 GMT"), kNov6th1994);
    EXPECT_EQ(Parse("Sun Nov  6 08:49:37 1994"), kNov6th1994);
    EXPECT_EQ(Parse("Wed Nov 16 08:49:37 1994"), kNov6th1994 + 10 * kDay);
    EXPECT_EQ(Parse("Sat, 06 Nov 2094 08:49:37 GMT"), kNov6th1994 + 36525 * kDay);
    EXPECT_EQ(Parse("Thu, 01 Jan 1970 00:00:00 GMT"), 0);
    EXPECT_EQ(Parse("Mon, 01 Jan 1900 00:00:00 GMT"), -2208988800);
    // Day names are not checked; month names are read in any case.
    EXPECT_EQ(Parse("Xyz, 06 NOV 1994 08:49:37 GMT"), kNov6th1994);
    EXPECT_EQ(Parse("Sunday, 06-nOv-94 08:49:37 GMT"), kNov6th1994);
    // Text after the fields is not read.
    EXPECT_EQ(Parse("Sun, 06 Nov 1994 08:49:37 GMT; length=12"), kNov6th1994);
    EXPECT_EQ(Parse("Sun Nov  6 08:49:37 1994 extra"), kNov6th1994);
}

TEST(HTTPDateTest, CenturyOnlyForTwoDigitYears) {
    EXPECT_EQ(Parse("Sunday, 06-Nov-49 08:49:37 GMT"), Parse("Sat, 06 Nov 2049 08:49:37 GMT"));
    EXPECT_EQ(Parse("Sunday, 06-Nov-50 08:49:37 GMT"), Parse("Mon, 06 Nov 1950 08:49:37 GMT"));
    EXPECT_EQ(Parse("Sunday, 06-Nov-00 08:49:37 GMT"), Parse("Mon, 06 Nov 2000 08:49:37 GMT"));
    EXPECT_EQ(Parse("Sunday, 06-Nov-1994 08:49:37 GMT"), kNov6th1994);
    EXPECT_EQ(Parse("Sunday, 06-Nov-2094 08:49:37 GMT"), kNov6th1994 + 36525 * kDay);
    EXPECT_EQ(Parse("Sunday, 06-Nov-0094 08:49:37 GMT"), std::nullopt);  // the year 94
}

TEST(HTTPDateTest, InvalidDates) {
    for (const char* text : {
             "", "Sun", "Sun,", "Sun, 06 Nov 1994", "Sun, 06 Nov 1994 08:49:3",
             "Sun, 06 Foo 1994 08:49:37 GMT", "Sun, 06 Nov 1994 24:00:00 GMT",
             "Sun, 06 Nov 1994 08:60:37 GMT", "Sun, 06 Nov 1994 08:49:60 GMT",
             "Sun, 00 Nov 1994 08:49:37 GMT", "Sun, 32 Nov 1994 08:49:37 GMT",
             "Sun, 06 Nov 1899 08:49:37 GMT", "Sun, 06 Nov 3001 08:49:37 GMT",
             "Sun, 0x Nov 1994 08:49:37 GMT", "Sun, 06 Nov 19a4 08:49:37 GMT",
             "Sun, 06 Nov -994 08:49:37 GMT", "Sun, 6 Nov 1994 08:49:37 GMT",
             "Sun Foo  6 08:49:37 1994", "Sun Nov  6 24:49:37 1994", "Sun Nov  6 08:49:37 199",
             "Sunday, 06-Nov-94 24:49:37 GMT", "Sunday, 06-Foo-94 08:49:37 GMT",
             "Sunday, 06-November-94 08:49:37 GMT", "Sunday, 06-Nov-94", "Sunday, 06-Nov-94 08:49",
             "Sunday, 06--94 08:49:37 GMT", " Sunday, 06-Nov-94 08:49:37 GMT",
             "Sunday, 0000000000006-Nov-94 08:49:37 GMT", "Sunday,06-Nov-94 08:49:37",
             "Sunday, 06-Nov-94 4294967296:49:37 GMT",
         }) {
        std::int64_t time = 12345;
        EXPECT_FALSE(ParseHTTPDate(text, time)) << text;
        EXPECT_EQ(time, 12345) << text;
    }
    // The fourth character picks the form: a comma elsewhere is the RFC 850 form.
    EXPECT_EQ(Parse("Sunday,06-Nov-94 08:49:37"), std::nullopt);
    EXPECT_EQ(Parse("Sunday, 06-Nov-94 08:49:37"), kNov6th1994);
}

TEST(HTTPDateTest, BoundsAndDaysPastTheMonthEnd) {
    EXPECT_TRUE(Parse("Wed, 31 Dec 3000 23:59:59 GMT"));
    EXPECT_EQ(Parse("Mon, 31 Feb 1994 00:00:00 GMT"), Parse("Thu, 03 Mar 1994 00:00:00 GMT"));
}

TEST(HTTPDateTest, Writing) {
    EXPECT_EQ(FormatHTTPDate(kNov6th1994), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(FormatHTTPDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(FormatHTTPDate(-2208988800), "Mon, 01 Jan 1900 00:00:00 GMT");
    EXPECT_EQ(FormatHTTPDate(kNov6th1994 + 36525 * kDay), "Sat, 06 Nov 2094 08:49:37 GMT");
    EXPECT_EQ(FormatHTTPDate(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
    EXPECT_EQ(FormatHTTPDate(-1), "Wed, 31 Dec 1969 23:59:59 GMT");
    EXPECT_EQ(FormatHTTPDate(INT64_MAX), "Fri, 31 Dec 9999 23:59:59 GMT");
    EXPECT_EQ(FormatHTTPDate(INT64_MIN), "Mon, 01 Jan 0001 00:00:00 GMT");
    // What is written reads back as the same time.
    for (std::int64_t t : {std::int64_t{0}, kNov6th1994, std::int64_t{4102444799},
                           std::int64_t{-2208988800}, std::int64_t{32503680000}}) {
        EXPECT_EQ(Parse(FormatHTTPDate(t)), t) << t;
    }
}

TEST(HTTPDateTest, TimeZoneDoesNotMatter) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "America/New_York", 1);
    tzset();
    EXPECT_EQ(Parse("Sun, 06 Nov 1994 08:49:37 GMT"), kNov6th1994);
    EXPECT_EQ(FormatHTTPDate(kNov6th1994), "Sun, 06 Nov 1994 08:49:37 GMT");
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
    EXPECT_EQ(Parse("Sun Nov  6 08:49:37 1994"), kNov6th1994);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

}  // namespace
