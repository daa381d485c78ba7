#include "foundation/Format.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatHasConversionsTest, OnlyTheExpectedConversionsWithSmallFieldsPass) {
    EXPECT_TRUE(FormatHasConversions("SOCKS4 connect to %s:%u failed", "su"));
    EXPECT_TRUE(FormatHasConversions("100%% sure: %-20s at %5.3u", "su"));
    EXPECT_TRUE(FormatHasConversions("%999s", "s"));
    EXPECT_TRUE(FormatHasConversions("%.999s", "s"));
    EXPECT_TRUE(FormatHasConversions("no conversions", ""));
    // Fields of four or more digits could ask for gigabytes of padding.
    EXPECT_FALSE(FormatHasConversions("%1000s", "s"));
    EXPECT_FALSE(FormatHasConversions("%-2055000000s", "s"));
    EXPECT_FALSE(FormatHasConversions("%.2055000000s", "s"));
    EXPECT_FALSE(FormatHasConversions("%s:%00001000u", "su"));  // zeros are flags, 1000 the width
    EXPECT_TRUE(FormatHasConversions("%s:%0000999u", "su"));
    // Other conversions, orders and forms.
    EXPECT_FALSE(FormatHasConversions("%u:%s", "su"));
    EXPECT_FALSE(FormatHasConversions("%s %s", "s"));
    EXPECT_FALSE(FormatHasConversions("%s%n", "s"));
    EXPECT_FALSE(FormatHasConversions("%*s", "s"));
    EXPECT_FALSE(FormatHasConversions("%1$s", "s"));
    EXPECT_FALSE(FormatHasConversions("%ls", "s"));
    EXPECT_FALSE(FormatHasConversions("trailing %", ""));
    EXPECT_FALSE(FormatHasConversions("%s", ""));
    EXPECT_EQ(FormatText("%5.2s|%u", "abc", 7u), "   ab|7");
}

}  // namespace
