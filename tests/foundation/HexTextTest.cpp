#include "foundation/HexText.h"
#include "foundation/MD5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HexTextTest, LowerCaseWithoutLeadingZeros) {
    const BYTE bytes[] = {0x00, 0x0A, 0xFF, 0x10, 0x09, 0xAB};
    std::string out = "left over";
    BytesToHex(out, bytes, sizeof bytes);
    EXPECT_EQ(out, "0aff109ab");
    BytesToHex(out, bytes, 0);
    EXPECT_EQ(out, "");
}

TEST(HexTextTest, DigestTextIsShortenedAndMayCollide) {
    BYTE digest[CMD5::DigestSize];
    CMD5::DigestString("", digest);  // d4 1d 8c d9 8f 00 b2 04 e9 80 09 98 ec f8 42 7e
    std::string text;
    BytesToHex(text, digest, sizeof digest);
    EXPECT_EQ(text, "d41d8cd98f0b24e980998ecf8427e");

    BYTE lows[16] = {}, highs[16];
    for (BYTE& b : highs)
        b = 0xF0;
    BytesToHex(text, lows, 16);
    EXPECT_EQ(text.size(), 16u);
    BytesToHex(text, highs, 16);
    EXPECT_EQ(text.size(), 32u);

    const BYTE one[] = {0x01, 0x23}, other[] = {0x12, 0x03};
    std::string a, b;
    BytesToHex(a, one, 2);
    BytesToHex(b, other, 2);
    EXPECT_EQ(a, "123");
    EXPECT_EQ(a, b);
}

}  // namespace
