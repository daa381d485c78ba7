#include "foundation/Currency.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(CurrencyTest, HalvesAndWholeUnits) {
    const CCurrency amount = CCurrency::FromHalves(-1, 0xFFFFC568u);  // -15000: -1.5
    EXPECT_EQ(amount.GetValue(), -15000);
    EXPECT_TRUE(amount.IsValid());
    EXPECT_EQ(amount.GetWholeUnits(), -1);
    EXPECT_EQ(CCurrency(75000).GetWholeUnits(), 7);
    EXPECT_EQ(CCurrency(9999).GetWholeUnits(), 0);
    EXPECT_EQ(CCurrency::FromUnits(7, 5000), CCurrency(75000));
    EXPECT_EQ(CCurrency::FromUnits(-1, -5000), CCurrency(-15000));
    EXPECT_FALSE(CCurrency::FromUnits(kMax / 10000 + 1).IsValid());
}

TEST(CurrencyTest, ArithmeticIsCheckedAndInvalidSpreads) {
    EXPECT_EQ(CCurrency(100000) - CCurrency(25000), CCurrency(75000));
    EXPECT_EQ(CCurrency(-5) + CCurrency(3), CCurrency(-2));
    const CCurrency overflow = CCurrency(kMax) + CCurrency(1);
    EXPECT_FALSE(overflow.IsValid());
    EXPECT_EQ(overflow.GetValue(), 0);
    EXPECT_FALSE((CCurrency(kMin) - CCurrency(1)).IsValid());
    EXPECT_EQ(CCurrency(kMin + 1) - CCurrency(1), CCurrency(kMin));
    const CCurrency bad(5, CCurrency::invalid);
    EXPECT_FALSE((bad + CCurrency(1)).IsValid());
    EXPECT_FALSE((CCurrency(1) - bad).IsValid());
    EXPECT_FALSE(bad.MulDiv(1, 1).IsValid());
}

TEST(CurrencyTest, MulDivTruncatesTowardZeroAndKeepsTheExactProduct) {
    EXPECT_EQ(CCurrency(25000).MulDiv(10000, 10000), CCurrency(25000));
    EXPECT_EQ(CCurrency(7).MulDiv(3, 2), CCurrency(10));     // 10.5 -> 10
    EXPECT_EQ(CCurrency(-7).MulDiv(3, 2), CCurrency(-10));   // -10.5 -> -10
    EXPECT_EQ(CCurrency(kMax).MulDiv(10000, 10000), CCurrency(kMax));  // the product is wider
    EXPECT_FALSE(CCurrency(kMax).MulDiv(2, 1).IsValid());
    EXPECT_FALSE(CCurrency(1).MulDiv(1, 0).IsValid());
}

TEST(CurrencyTest, FormatIsMinimalDecimalText) {
    EXPECT_EQ(CCurrency(0).Format(), "0");
    EXPECT_EQ(CCurrency(75000).Format(), "7.5");
    EXPECT_EQ(CCurrency(-15000).Format(), "-1.5");
    EXPECT_EQ(CCurrency(1).Format(), "0.0001");
    EXPECT_EQ(CCurrency(-1).Format(), "-0.0001");
    EXPECT_EQ(CCurrency(120000).Format(), "12");
    EXPECT_EQ(CCurrency(123456).Format(), "12.3456");
    EXPECT_EQ(CCurrency(kMax).Format(), "922337203685477.5807");
    EXPECT_EQ(CCurrency(kMin).Format(), "-922337203685477.5808");
}

TEST(CurrencyTest, ParseTakesTheTextFormAndRefusesTheRest) {
    struct Case {
        const char* text;
        std::int64_t value;
    };
    for (const Case& c : {Case{"7.5", 75000}, Case{"-1.5", -15000}, Case{" +2.50 ", 25000},
                          Case{"0.0001", 1}, Case{".5", 5000}, Case{"3.", 30000}, Case{"0", 0},
                          Case{"922337203685477.5807", kMax}, Case{"-922337203685477.5808", kMin},
                          Case{"1.23450000", 12345}}) {
        const auto parsed = CCurrency::Parse(c.text);
        ASSERT_TRUE(parsed.has_value()) << c.text;
        EXPECT_EQ(*parsed, CCurrency(c.value)) << c.text;
    }
    for (const char* text : {"", " ", "-", ".", "1.23456", "1,5", "1.2.3", "abc", "1e3", "--1",
                             "922337203685477.5808", "-922337203685477.5809",
                             "99999999999999999999999999999999999999999"}) {
        EXPECT_FALSE(CCurrency::Parse(text).has_value()) << text;
    }
    for (std::int64_t value : {std::int64_t{0}, std::int64_t{-15000}, std::int64_t{1234567}, kMax, kMin})
        EXPECT_EQ(CCurrency::Parse(CCurrency(value).Format()), CCurrency(value));
}

}  // namespace
