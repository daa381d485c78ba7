#include "foundation/MD5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Full two-digit hex, independent of BytesToHex.
std::string PaddedHex(const BYTE* bytes, std::size_t count) {
    std::string out;
    char pair[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        out += pair;
    }
    return out;
}

std::string DigestOf(const std::string& text) {
    BYTE digest[CMD5::DigestSize];
    CMD5::DigestString(text, digest);
    return PaddedHex(digest, sizeof digest);
}

TEST(MD5Test, Rfc1321TestSuite) {
    struct Vector {
        const char* text;
        const char* digest;
    };
    const Vector vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Vector& v : vectors) {
        BYTE digest[CMD5::DigestSize];
        CMD5::DigestString(v.text, digest);
        EXPECT_EQ(PaddedHex(digest, sizeof digest), v.digest) << '"' << v.text << '"';
    }
}

TEST(MD5Test, PiecewiseUpdatesEqualOneUpdateAcrossBlockBoundaries) {
    std::string message;
    for (int i = 0; i < 300; ++i)
        message += static_cast<char>(i * 7);
    const std::string whole = DigestOf(message);
    for (std::size_t split : {1u, 55u, 56u, 63u, 64u, 65u, 119u, 128u, 299u}) {
        CMD5 md5;
        md5.Update(message.data(), split);
        md5.Update(message.data() + split, message.size() - split);
        BYTE digest[CMD5::DigestSize];
        md5.Final(digest);
        EXPECT_EQ(PaddedHex(digest, sizeof digest), whole) << split;
    }
    // Lengths around the padding boundary: 55 bytes pad into one block, 56 need a second.
    EXPECT_EQ(DigestOf(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(MD5Test, ObjectIsReusableAfterFinalAndTheStringFormKeepsNulBytes) {
    CMD5 md5;
    BYTE first[CMD5::DigestSize], second[CMD5::DigestSize];
    md5.Update("abc", 3);
    md5.Final(first);
    md5.Update("abc", 3);
    md5.Final(second);
    EXPECT_EQ(PaddedHex(second, 16), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(PaddedHex(first, 16), PaddedHex(second, 16));

    // The C-string form stops at the NUL, the byte-string form does not.
    BYTE cText[CMD5::DigestSize];
    CMD5::DigestString("a\0b", cText);
    EXPECT_EQ(PaddedHex(cText, 16), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_NE(DigestOf(std::string("a\0b", 3)), "0cc175b9c0f1b6a831c399e269772661");
}

}  // namespace
