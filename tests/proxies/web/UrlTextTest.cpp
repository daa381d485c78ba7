#include "proxies/web/UrlText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(UrlTextTest, EscapesInBothDirections) {
    EXPECT_EQ(PercentDecode("a%20b%2Fc%zz%4"), "a b/c%zz%4");
    EXPECT_EQ(PercentDecode("%0D%0a%00"), "\r\n\0"s);
    EXPECT_EQ(PercentEncodeUserInfo("u:s@r/x!"), "u%3As%40r%2Fx!");
    // Paths keep their slashes and nothing else that could end an attribute or start a
    // query, a fragment or an escape.
    EXPECT_EQ(PercentEncodePath("/pub/my file-1_2.~txt"), "/pub/my%20file-1_2.~txt");
    EXPECT_EQ(PercentEncodePath("a\"<>'&?#%\x7f\xe9\0"s), "a%22%3C%3E%27%26%3F%23%25%7F%E9%00");
    EXPECT_EQ(PercentDecode(PercentEncodePath("x y/%z\xff")), "x y/%z\xff");
    EXPECT_TRUE(HasLineBreakOrNul("a\0"s));
    EXPECT_FALSE(HasLineBreakOrNul("a b"));
}

}  // namespace
